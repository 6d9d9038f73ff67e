// The page's side of the start, run before the game's main: the data root
// and the save folder (one folder, as beside a desktop executable), kept in
// the browser's storage (IndexedDB) and read back from it before the game
// starts. The assets are unpacked into its Data folder, which is not a save
// and never goes into the storage.
//
// One tab at a time plays a game: the tabs of one site share its storage,
// and two games saving into it side by side would each overwrite the
// other's plays. A tab takes its turn through a lock (Web Locks) before it
// reads the saves, and gives it back once its game has ended and its last
// saves are kept; a second tab says that the game is open in another tab
// and starts when its turn comes.
//
// The games published on one site share its storage too: each game's page
// keeps its saves in a store of its own, named after the page's folder, so
// that games side by side on a site never read, replace or wait for each
// other's saves. (A page may name its store itself, Module.kelpStore.)
Module['thisProgram'] = '/kelp/game';
Module['kelpSaveFolder'] = '/kelp';
Module['kelpStore'] = Module['kelpStore'] || 'kelp:' + location.pathname.replace(/[^\/]*$/, '');
Module['kelpLeavingKey'] = 'kelp-leaving ' + Module['kelpStore'];
Module['preRun'] = Module['preRun'] || [];

// Where earlier builds kept the saves of every game of a site, and the copy
// their going pages left: read into a game whose own store is still empty.
var kelpSharedStore = '/kelp', kelpSharedLeavingKey = 'kelp-leaving/kelp';

// Runs start() once this tab has its turn.
Module['kelpTakeTurn'] = function (start) {
    var name = 'kelp-game:' + Module['kelpStore'];
    function elsewhere() {
        out('The game is open in another tab: it starts here once it has ended there');
        if (Module['kelpShow']) {
            Module['kelpShow']('This game is open in another tab. It starts here once it has ended there ' +
                               '(or that tab is closed).');
        }
    }
    function hold() {
        if (Module['kelpShow']) Module['kelpShow']('Starting…');
        return new Promise(function (release) {
            Module['kelpEndTurn'] = function () {
                Module['kelpEndTurn'] = null;
                release();
            };
            start();
        });
    }
    if (navigator.locks && navigator.locks.request) {
        navigator.locks.request(name, {ifAvailable: true}, function (lock) {
            if (lock) return hold();
            elsewhere();
            return navigator.locks.request(name, hold);
        });
        return;
    }
    if (typeof BroadcastChannel === 'undefined') {
        start();
        return;
    }
    kelpTurnByChannel(name, start, elsewhere);
};

// Without Web Locks (a page not served over HTTPS or from this machine) the
// tabs take turns on a channel. The tab that plays answers the others'
// question, and says when its game has ended. A tab busy starting its game
// may not answer for a while, so it also leaves a claim in local storage,
// which the others see at once: a tab that finds another's claim waits
// while that tab answers, and takes the claim as left behind (a tab that
// went without a word) only after kelpTurnSilence ms of unanswered
// questions. Two tabs that found no player at the same moment each say that
// they take the turn, and the one with the smaller id keeps it.
var kelpTurnAnswerMs = 400, kelpTurnAskEveryMs = 1000, kelpTurnSilence = 10000;
var kelpTab = Date.now().toString(36) + Math.random().toString(36).slice(2);

function kelpTurnByChannel(name, start, elsewhere) {
    var claimKey = 'kelp-turn ' + Module['kelpStore'];
    var channel = Module['kelpChannel'] = Module['kelpChannel'] || new BroadcastChannel(name);
    var turn = {state: 'asking', heard: false, lastHeard: Date.now(), timer: 0};
    function post(kind) { channel.postMessage({kind: kind, tab: kelpTab}); }
    // The tab whose claim local storage holds, or null.
    function claimant() {
        try {
            var claim = JSON.parse(localStorage.getItem(claimKey) || 'null');
            return claim && claim.tab ? String(claim.tab) : null;
        } catch (e) {
            return null;
        }
    }
    function claimedElsewhere() {
        var tab = claimant();
        return tab !== null && tab !== kelpTab;
    }
    function later(f, ms) {
        clearTimeout(turn.timer);
        turn.timer = setTimeout(f, ms);
    }
    function wait() {
        if (turn.state !== 'waiting') elsewhere();
        turn.state = 'waiting';
        later(ask, kelpTurnAskEveryMs - kelpTurnAnswerMs);
    }
    function ask() {
        if (turn.state === 'idle') turn.state = 'asking';
        turn.heard = false;
        post('who plays?');
        later(function () {
            var now = Date.now();
            if (turn.heard) turn.lastHeard = now;
            if (turn.heard || (claimedElsewhere() && now - turn.lastHeard < kelpTurnSilence)) {
                wait();
                return;
            }
            if (claimedElsewhere()) out('A claim to the turn went unanswered for ' + kelpTurnSilence / 1000 + ' s: this tab takes it');
            take();
        }, kelpTurnAnswerMs);
    }
    function take() {
        turn.state = 'taking';
        post('taking');
        later(function () {
            if (turn.state !== 'taking') return;
            turn.state = 'playing';
            try {
                localStorage.setItem(claimKey, JSON.stringify({tab: kelpTab}));
            } catch (e) {}
            // The turn ends once: when the game has ended and its saves are
            // kept, or when the page goes, whichever comes first.
            Module['kelpEndTurn'] = function () {
                Module['kelpEndTurn'] = null;
                turn.state = 'idle';
                clearTimeout(turn.timer);
                try {
                    if (claimant() === kelpTab) localStorage.removeItem(claimKey);
                } catch (e) {}
                post('ended');
            };
            if (Module['kelpShow']) Module['kelpShow']('Starting…');
            start();
        }, kelpTurnAnswerMs);
    }
    channel.onmessage = function (e) {
        var m = e.data || {};
        if (m.kind === 'who plays?' && (turn.state === 'playing' || turn.state === 'taking')) post('I play');
        if (m.kind === 'I play') turn.heard = true;
        if (m.kind === 'taking') {
            if (turn.state === 'playing') post('I play');
            else if (turn.state !== 'taking') turn.heard = true;
            else if (m.tab < kelpTab) wait();
        }
        if (m.kind === 'ended' && turn.state === 'waiting') ask();
    };
    ask();
}

// The save folder's files: everything in it but the assets' Data folder.
Module['kelpSaveFiles'] = function () {
    var root = Module['kelpSaveFolder'];
    return FS.readdir(root).map(function (name) { return root + '/' + name; }).filter(function (path) {
        return path !== root + '/.' && path !== root + '/..' && path !== root + '/Data' &&
               FS.isFile(FS.stat(path).mode);
    });
};

// The newest time a file of the save folder was written, in milliseconds
// (0 when there is none).
Module['kelpSavesStamp'] = function () {
    var stamp = 0;
    Module['kelpSaveFiles']().forEach(function (path) { stamp = Math.max(stamp, FS.stat(path).mtime.getTime()); });
    return stamp;
};

// Reads the saves from the browser's storage, then done(). The saves a page
// left behind in local storage as it went (Page.cpp) replace them only if
// they are newer: a copy left by a tab that closed before another tab's game
// saved is older, and never replaces that game's saves. A game whose store
// holds nothing yet takes the saves kept by an earlier build, if any.
Module['kelpReadSaves'] = function (done) {
    var root = Module['kelpSaveFolder'], data = root + '/Data';
    function readStore(name, then) {
        Module['kelpStoreNow'] = name;
        FS.syncfs(true, function (error) {
            Module['kelpStoreNow'] = Module['kelpStore'];
            if (error) err('Saves could not be read from the browser\'s storage: ' + error);
            then();
        });
    }
    function leftCopy(key) {
        try {
            return localStorage.getItem(key);
        } catch (e) {
            return null;
        }
    }
    function sharedStoreExists(then) {
        if (!indexedDB.databases) return then(true);
        indexedDB.databases().then(function (list) {
            then(list.some(function (db) { return db.name === kelpSharedStore; }));
        }, function () { then(true); });
    }
    readStore(Module['kelpStore'], function () {
        if (Module['kelpSavesStamp']() || leftCopy(Module['kelpLeavingKey']) !== null) {
            takeLeft(Module['kelpLeavingKey'], true);
            return;
        }
        sharedStoreExists(function (exists) {
            // The earlier builds' copy stays for the site's other games.
            if (!exists) return takeLeft(kelpSharedLeavingKey, false);
            readStore(kelpSharedStore, function () {
                if (Module['kelpSavesStamp']()) out('Saves taken from the store that earlier builds shared between a site\'s games');
                takeLeft(kelpSharedLeavingKey, false);
            });
        });
    });
    function takeLeft(key, remove) {
        var left = null;
        try {
            left = JSON.parse(localStorage.getItem(key) || 'null');
            if (remove) localStorage.removeItem(key);
        } catch (e) {
            err('Saves left by the last page could not be read: ' + e);
        }
        // A copy without stamps (left by an earlier build) is taken as it is.
        var files = left && (left.files || left), stamp = left && left.files ? left.stamp : Infinity;
        if (files && !(stamp > Module['kelpSavesStamp']())) {
            out('Saves left by a page that went are older than the browser\'s storage: the storage\'s are kept');
            files = null;
        }
        if (files) {
            Object.keys(files).forEach(function (path) {
                if (path.indexOf(root + '/') !== 0 || path.indexOf(data + '/') === 0) return;
                var file = files[path], text = typeof file === 'string' ? file : file.data;
                var binary = atob(text), bytes = new Uint8Array(binary.length);
                for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
                FS.writeFile(path, bytes);
                if (file.time) FS.utime(path, file.time, file.time);
            });
        }
        done();
    }
};

// Keys by their place on the keyboard, as on the desktop: the key at W's
// place is W whatever the layout types with it (an AZERTY player's Z), so a
// game's default keys lie under the same fingers everywhere. The browser's
// GLFW names a key by its layout's key code; the place (the event's code)
// names it here, and only a key of unknown place goes by its key code. The
// key codes handed to GLFW for placed keys are 1000 + the GLFW key. The
// page's own key rules (index.html) decide what the browser does with a key.
var kelpKeyPlaces = {
    Space: 32, Quote: 39, Comma: 44, Minus: 45, Period: 46, Slash: 47, Semicolon: 59, Equal: 61,
    BracketLeft: 91, Backslash: 92, BracketRight: 93, Backquote: 96, IntlBackslash: 162,
    Escape: 256, Enter: 257, Tab: 258, Backspace: 259, Insert: 260, Delete: 261, ArrowRight: 262,
    ArrowLeft: 263, ArrowDown: 264, ArrowUp: 265, PageUp: 266, PageDown: 267, Home: 268, End: 269,
    CapsLock: 280, ScrollLock: 281, NumLock: 282, PrintScreen: 283, Pause: 284,
    NumpadDecimal: 330, NumpadDivide: 331, NumpadMultiply: 332, NumpadSubtract: 333, NumpadAdd: 334,
    NumpadEnter: 335, NumpadEqual: 336, ShiftLeft: 340, ControlLeft: 341, AltLeft: 342, MetaLeft: 343,
    ShiftRight: 344, ControlRight: 345, AltRight: 346, MetaRight: 347, ContextMenu: 348
};
(function () {
    var i;
    for (i = 0; i < 26; i++) kelpKeyPlaces['Key' + String.fromCharCode(65 + i)] = 65 + i;
    for (i = 0; i < 10; i++) kelpKeyPlaces['Digit' + i] = 48 + i;
    for (i = 0; i < 10; i++) kelpKeyPlaces['Numpad' + i] = 320 + i;
    for (i = 1; i <= 25; i++) kelpKeyPlaces['F' + i] = 289 + i;
})();

function kelpKeysByPlace() {
    if (typeof GLFW === 'undefined' || GLFW.kelpByPlace) return;
    GLFW.kelpByPlace = true;
    var toGLFW = GLFW.DOMToGLFWKeyCode, down = GLFW.onKeydown, up = GLFW.onKeyup;
    GLFW.DOMToGLFWKeyCode = function (keyCode) { return keyCode >= 1000 ? keyCode - 1000 : toGLFW(keyCode); };
    function placed(e) {
        var key = kelpKeyPlaces[e.code];
        return {keyCode: key === undefined ? e.keyCode : 1000 + key, preventDefault: function () {}};
    }
    GLFW.onKeydown = function (e) { down(placed(e)); };
    GLFW.onKeyup = function (e) { up(placed(e)); };
}

// The page is going (closed, reloaded, navigated away): the game ends as it
// would with its window closed and leaves its saves (Loop.cpp), and then the
// turn goes to another tab.
addEventListener('pagehide', function () {
    Module['kelpLeaving'] = true;
    if (Module['kelpLeaveGame']) Module['kelpLeaveGame']();
    if (Module['kelpEndTurn']) Module['kelpEndTurn']();
});

// Before the assets are unpacked into the folder. Emscripten runs
// Module.preRun from its last entry to its first, and the asset unpacker's
// entry is in already.
Module['preRun'].push(function () {
    var root = Module['kelpSaveFolder'];
    var data = root + '/Data';
    FS.mkdir(root);
    // The save folder's store is the game's own, not one named after the
    // folder as for every game of the site.
    Module['kelpStoreNow'] = Module['kelpStore'];
    var getDB = IDBFS.getDB;
    IDBFS.getDB = function (name, callback) {
        var store = name === root ? Module['kelpStoreNow'] : name;
        getDB(store, function (error, db) {
            // The browser may close the store under the game (the site's
            // data cleared, or the store deleted by another page): the next
            // copy opens it anew, as it was on the first.
            if (db && !db.kelpWatched) {
                db.kelpWatched = true;
                var forget = function () {
                    if (IDBFS.dbs[store] === db) delete IDBFS.dbs[store];
                };
                db.addEventListener('close', forget);
                db.addEventListener('versionchange', function () {
                    db.close();
                    forget();
                });
            }
            callback(error, db);
        });
    };
    FS.mount(IDBFS, {}, root);
    // A rename over an existing file (how every save lands) leaves the
    // replaced file's node in the file system's name index. A file later
    // removed and written again under that name (saves read back from the
    // storage) would then go into that old node, which no folder lists and
    // so the storage never keeps. The replaced node leaves the index too.
    var rename = FS.rename;
    FS.rename = function (from, to) {
        var replaced = null;
        try {
            replaced = FS.lookupPath(to).node;
        } catch (e) {}
        rename(from, to);
        if (replaced && FS.isFile(replaced.mode) && FS.lookupPath(to).node !== replaced) FS.hashRemoveNode(replaced);
    };
    var localSet = IDBFS.getLocalSet;
    IDBFS.getLocalSet = function (mount, callback) {
        localSet(mount, function (error, set) {
            if (set) {
                Object.keys(set.entries).forEach(function (path) {
                    if (path === data || path.indexOf(data + '/') === 0) delete set.entries[path];
                });
            }
            callback(error, set);
        });
    };
    kelpKeysByPlace();
    addRunDependency('kelp-saves');
    Module['kelpTakeTurn'](function () {
        Module['kelpReadSaves'](function () { removeRunDependency('kelp-saves'); });
    });
});

// The game's late files (its music), fetched once it runs; until each has
// come, a track that wants it waits for it (FileArriving).
Module['kelpArriving'] = {};
Module['postRun'] = Module['postRun'] || [];
Module['postRun'].push(function () {
    (Module['kelpLateFiles'] || []).forEach(function (file) {
        Module['kelpArriving'][file.path] = true;
        fetch(file.url).then(function (response) {
            if (!response.ok) throw new Error(response.status + ' ' + response.statusText);
            return response.arrayBuffer();
        }).then(function (bytes) {
            var folder = file.path.slice(0, file.path.lastIndexOf('/'));
            FS.mkdirTree(folder);
            FS.writeFile(file.path, new Uint8Array(bytes));
            delete Module['kelpArriving'][file.path];
        }).catch(function (error) {
            err(file.url + ' could not be downloaded (' + (error.message || error) + ')');
            delete Module['kelpArriving'][file.path];
        });
    });
});

// After the game's end, a key or a tap starts it again, in this page: with
// its turn taken again and the saves read anew, as another tab may have
// played meanwhile.
Module['kelpEnded'] = function () {
    if (!Module['kelpShow']) return;
    Module['kelpShow']('The game has ended. Press a key or tap to play again.');
    var screen = document.getElementById('screen');
    function again(e) {
        if (e.type === 'keydown' && (e.repeat || e.key === 'F5' || e.key === 'F12')) return;
        removeEventListener('keydown', again, true);
        screen.removeEventListener('pointerdown', again, true);
        e.preventDefault();
        Module['kelpShow']('Starting…');
        Module['kelpTakeTurn'](function () {
            Module['kelpReadSaves'](function () { callMain(Module['arguments'] || []); });
        });
    }
    addEventListener('keydown', again, true);
    screen.addEventListener('pointerdown', again, true);
};
