// The page's side of the start, run before the game's main: the data root
// and the save folder (one folder, as beside a desktop executable), kept in
// the browser's storage (IndexedDB) and read back from it before the game
// starts. The assets are unpacked into its Data folder, which is not a save
// and never goes into the storage.
Module['thisProgram'] = '/kelp/game';
Module['kelpSaveFolder'] = '/kelp';
Module['preRun'] = Module['preRun'] || [];
// Before the assets are unpacked into the folder. Emscripten runs
// Module.preRun from its last entry to its first, and the asset unpacker's
// entry is in already.
Module['preRun'].push(function () {
    var root = Module['kelpSaveFolder'];
    var data = root + '/Data';
    FS.mkdir(root);
    FS.mount(IDBFS, {}, root);
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
    FS.syncfs(true, function (error) {
        if (error) err('Saves could not be read from the browser\'s storage: ' + error);
        // The saves a page left behind as it went (Page.cpp) are the latest:
        // they replace what the storage holds, and the game's first save
        // copies them there.
        var left = null;
        try {
            left = JSON.parse(localStorage.getItem('kelp-leaving' + root) || 'null');
            localStorage.removeItem('kelp-leaving' + root);
        } catch (e) {
            err('Saves left by the last page could not be read: ' + e);
        }
        if (left) {
            Object.keys(left).forEach(function (path) {
                if (path.indexOf(root + '/') !== 0 || path.indexOf(data + '/') === 0) return;
                var binary = atob(left[path]), bytes = new Uint8Array(binary.length);
                for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
                FS.writeFile(path, bytes);
            });
        }
        removeRunDependency('kelp-saves');
    });
});
