// The test build's page reads its address: ?trace=1 turns the trace on (as
// KELP_TRACE=1 does on the desktop), ?scores=ORIGIN sends GetURL's requests
// to another origin instead of the page's own.
Module['preRun'].push(function () {
    var query = new URLSearchParams(location.search);
    if (query.get('trace')) ENV['KELP_TRACE'] = '1';
    if (query.get('scores')) Module['scoreOrigin'] = query.get('scores');
});
