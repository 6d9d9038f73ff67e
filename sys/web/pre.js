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
    // Without Web Locks (a page not served over HTTPS or from this machine):
    // the tab that plays answers the others' question on a channel, and says
    // when its game has ended. Two tabs that open at the very same moment
    // may both play.
    if (typeof BroadcastChannel === 'undefined') {
        start();
        return;
    }
    var channel = Module['kelpChannel'] = Module['kelpChannel'] || new BroadcastChannel(name);
    var playing = false, answered = false, waiting = false;
    function ask() {
        answered = false;
        channel.postMessage('who plays?');
        setTimeout(function () {
            if (answered) {
                if (!waiting) elsewhere();
                waiting = true;
                return;
            }
            waiting = false;
            playing = true;
            Module['kelpEndTurn'] = function () {
                Module['kelpEndTurn'] = null;
                playing = false;
                channel.postMessage('ended');
            };
            if (Module['kelpShow']) Module['kelpShow']('Starting…');
            start();
        }, 400);
    }
    channel.onmessage = function (e) {
        if (e.data === 'who plays?' && playing) channel.postMessage('I play');
        if (e.data === 'I play') answered = true;
        if (e.data === 'ended' && waiting) ask();
    };
    addEventListener('pagehide', function () { if (playing) channel.postMessage('ended'); });
    ask();
};

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
        getDB(name === root ? Module['kelpStoreNow'] : name, callback);
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
