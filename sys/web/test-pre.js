// The test build's page reads its address: ?trace=1 turns the trace on (as
// KELP_TRACE=1 does on the desktop), ?scores=ORIGIN sends GetURL's requests
// to another origin instead of the page's own, and ?pixelratio=N and
// ?pixels=N set the canvas's pixel budget as a game's page may
// (Module.kelpMaxPixelRatio, Module.kelpMaxPixels; Infinity for none).
Module['preRun'].push(function () {
    var query = new URLSearchParams(location.search);
    if (query.get('trace')) ENV['KELP_TRACE'] = '1';
    if (query.get('scores')) Module['scoreOrigin'] = query.get('scores');
    if (query.get('pixelratio')) Module['kelpMaxPixelRatio'] = Number(query.get('pixelratio'));
    if (query.get('pixels')) Module['kelpMaxPixels'] = Number(query.get('pixels'));
});
