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
        removeRunDependency('kelp-saves');
    });
});
