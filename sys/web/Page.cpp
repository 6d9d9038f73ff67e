// The page around the game: the input focus, the clock's sleep, saves kept
// in the browser's storage, downloads, and one log line for each desktop
// feature that a page cannot offer. The platform's seams are pointed here
// at start-up.
#include <emscripten.h>
#include <GLFW/glfw3.h>

#include "../KELPSys.h"
#include "Page.h"

namespace kelp {

namespace {

// The page has the focus while it is shown and its document is focused.
EM_JS(int, PageHasFocus, (), {
    return document.hasFocus() && document.visibilityState === "visible" ? 1 : 0;
});

// The page's frames pace the loop; sleeping on its only thread would only
// freeze it.
void NoSleep(int) {}

// Copies the save folder into the browser's storage (IndexedDB), one copy
// at a time: saves that come while one runs are taken by one more copy.
// While the page is being left there is no time to compare the folder with
// the stored one: its files are put into the database at once. A browser
// does not promise to finish what a going page started in IndexedDB (under
// load a reload read the older saves about one time in ten), so they are
// also left in the page's local storage, which it writes at once; the next
// start takes them from there (pre.js) unless the storage holds newer ones:
// each file goes with the time it was written, and the copy is stamped with
// the newest of them.
EM_JS(void, PageKeepSaves, (), {
    if (Module["kelpLeaving"]) {
        var files = {};
        Module["kelpSaveFiles"]().forEach(function (path) { files[path] = FS.readFile(path); });
        try {
            var copy = {stamp: Module["kelpSavesStamp"](), files: {}};
            for (var path in files) {
                var bytes = files[path], binary = "";
                for (var i = 0; i < bytes.length; i += 8192)
                    binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
                copy.files[path] = {data: btoa(binary), time: FS.stat(path).mtime.getTime()};
            }
            localStorage.setItem(Module["kelpLeavingKey"], JSON.stringify(copy));
        } catch (e) {
            err("Saves not left in local storage: " + e);
        }
        var db = IDBFS.dbs[Module["kelpStore"]];
        if (!db) return;
        try {
            var transaction = db.transaction([IDBFS.DB_STORE_NAME], "readwrite");
            var store = transaction.objectStore(IDBFS.DB_STORE_NAME);
            Object.keys(files).forEach(function (path) {
                IDBFS.loadLocalEntry(path, function (error, entry) {
                    if (!error) IDBFS.storeRemoteEntry(store, path, entry, function () {});
                });
            });
            // Now: the page will not wait for the transaction to end by itself.
            if (transaction.commit) transaction.commit();
        } catch (e) {
            err("Saves not kept on leaving: " + e);
        }
        return;
    }
    if (Module["kelpSyncing"]) {
        Module["kelpSyncAgain"] = true;
        return;
    }
    Module["kelpSyncing"] = true;
    var retried = false;
    function done(error) {
        // A store the browser closed under the game fails the copy before
        // its close is told (pre.js): the copy is made once more, on the
        // store opened anew.
        if (error && !retried) {
            retried = true;
            var db = IDBFS.dbs[Module["kelpStore"]];
            if (db) {
                delete IDBFS.dbs[Module["kelpStore"]];
                db.close();
            }
            FS.syncfs(false, done);
            return;
        }
        if (Module["kelpSyncAgain"]) {
            Module["kelpSyncAgain"] = false;
            FS.syncfs(false, done);
            return;
        }
        Module["kelpSyncing"] = false;
        _kelp_web_saves_kept(error ? 0 : 1);
        var then = Module["kelpWhenKept"] || [];
        Module["kelpWhenKept"] = [];
        then.forEach(function (f) { f(); });
    }
    FS.syncfs(false, done);
});

// Whether a file that is missing now is still being fetched (pre.js).
EM_JS(int, PageFileArriving, (const char* path), {
    return Module["kelpArriving"] && Module["kelpArriving"][UTF8ToString(path)] ? 1 : 0;
});

void KeepSaves(const char*) { PageKeepSaves(); }

EM_JS(void, PageDownload, (const char* name, const unsigned char* bytes, int n), {
    var link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([HEAPU8.slice(bytes, bytes + n)]));
    link.download = UTF8ToString(name);
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(function () { URL.revokeObjectURL(link.href); }, 60000);
});

// The ended game's sound output is closed: a new start opens its own. The
// page keeps its GL context for the next start, which makes its own
// textures: the ended game's are deleted.
EM_JS(void, PageGameEndingJS, (), {
    Module["kelpEndedAudio"] = Object.keys(AL.contexts).map(function (id) { return AL.contexts[id].audioCtx; });
});

EM_JS(void, PageGameEndedJS, (), {
    (Module["kelpEndedAudio"] || []).forEach(function (audio) {
        if (audio && audio.close) audio.close().catch(function () {});
    });
    Module["kelpEndedAudio"] = null;
    if (typeof GLctx !== "undefined" && GLctx) {
        for (var i = 0; i < GL.textures.length; i++) {
            if (!GL.textures[i]) continue;
            GLctx.deleteTexture(GL.textures[i]);
            GL.textures[i] = null;
        }
    }
    // The turn goes to another tab once the last saves are kept.
    function endTurn() { if (Module["kelpEndTurn"]) Module["kelpEndTurn"](); }
    if (Module["kelpSyncing"]) (Module["kelpWhenKept"] = Module["kelpWhenKept"] || []).push(endTurn); else endTurn();
    if (!Module["kelpLeaving"] && Module["kelpEnded"]) Module["kelpEnded"]();
});

// The game draws its first frame: the page's own screen goes.
EM_JS(void, PageGameShownJS, (), {
    if (Module["kelpHide"]) Module["kelpHide"]();
});

struct Wiring {
    Wiring() {
        InputFocused = PageHasFocus;
        ClockSleepMs = NoSleep;
        FileSaved = KeepSaves;
        FileArriving = PageFileArriving;
    }
} wiring;

}  // namespace

extern "C" EMSCRIPTEN_KEEPALIVE void kelp_web_saves_kept(int ok) {
    KELPSys::Debuglog(ok ? "Saves kept in the browser's storage" : "Saves could not be kept in the browser's storage");
}

void PageOfferDownload(const char* name, const unsigned char* bytes, int n) { PageDownload(name, bytes, n); }

void PageGameEnding() { PageGameEndingJS(); }
void PageGameEnded() { PageGameEndedJS(); }
void PageGameShown() { PageGameShownJS(); }

void PageChecks() {
    PageCanvasFrame();
    static bool wireSaid = false, presetSaid = false;
    if (Wireframe == 1 && !wireSaid) {
        wireSaid = true;
        KELPSys::Debuglog("Wire frame (F9): not available in a browser");
    }
    // Only where the game leaves the presets on: a game that turned them off
    // uses Q and the digits as its own keys.
    if (!presetSaid && (HotKeysOn & HOTKEY_PRESETS) && InputKeyDown(GLFW_KEY_Q)) {
        for (int d = 1; d <= 7 && !presetSaid; d++) {
            if (!InputKeyDown(GLFW_KEY_0 + d)) continue;
            presetSaid = true;
            KELPSys::Debuglog("Window presets (Q + 1..7): not available in a browser; the page sizes the canvas");
        }
    }
}

}  // namespace kelp
