// score_server: takes the game's score submissions over HTTP and keeps them
// in a SQLite file or a PostgreSQL database.
//
//   score_server [--address 127.0.0.1] [--port 80] [--db scores.db]
//                [--game 550] [--keyword "Sample keyword text"]
//                [--web FOLDER] [--allow-origin ORIGIN]
//                [--per-address N] [--max-connections N]
//                [--records-per-second N] [--record-burst N]
//                [--db-wait-ms N] [--trusted-proxy ADDR]...
//
// --db takes a file name (SQLite) or a postgresql:// URI, which several
// servers may share. --web serves a folder (the browser build) beside the
// scores, so that the game's page and its scores share one origin; its
// compressed copies are made at start. --allow-origin names the origin
// whose pages may read the answers ("" for none); by default "*" on a
// loopback address, for a local test, and none on any other.
// --records-per-second and --record-burst limit the new records one
// address may store (0 turns the limit off); --trusted-proxy names a proxy
// whose X-Forwarded-For says which client a request is from. --db-wait-ms
// bounds a score's wait for the database (then 503).
// --port 0 picks a free port; the chosen one is printed on the first line.
// --precompress FOLDER makes the folder's compressed copies and exits.
// SIGINT or SIGTERM stops the server cleanly.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "score_server/score_server.h"

namespace {

void Usage(FILE* to) {
    fprintf(to,
            "usage: score_server [--address ADDR] [--port N] [--db FILE|postgresql://...] [--game N]\n"
            "                    [--keyword TEXT] [--web FOLDER] [--allow-origin ORIGIN]\n"
            "                    [--per-address N] [--max-connections N] [--records-per-second N]\n"
            "                    [--record-burst N] [--db-wait-ms N] [--trusted-proxy ADDR]...\n"
            "       score_server --precompress FOLDER\n"
            "  defaults: --address 127.0.0.1 --port 80 --db scores.db --game 550 --keyword \"Sample keyword text\"\n"
            "            --records-per-second 10 --record-burst 20 --db-wait-ms 2000\n"
            "  --max-connections: as many as the file limit allows, up to %d\n"
            "  --per-address: 256, or a sixteenth of --max-connections if that is less\n"
            "  --allow-origin: \"*\" on a loopback address, none on any other\n",
            scores::kMaxPlaces);
}

bool ParseNumber(const char* text, long low, long high, int* out) {
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) return false;
    *out = int(v);
    return true;
}

// Makes the compressed copies of a folder's files, as the server does at
// start: for a build or a package, so that a read-only folder has them too.
int Precompress(const std::string& folder) {
    scores::ContentHashes hashes;
    scores::CompressedCopies copies([](const std::string& line) { printf("%s\n", line.c_str()); }, &hashes);
    char* real = realpath(folder.c_str(), nullptr);
    if (!real) {
        fprintf(stderr, "score_server: no folder %s\n", folder.c_str());
        return 1;
    }
    copies.Start(real);
    free(real);
    copies.Wait();
    copies.Stop();
    if (copies.Made() == 0) printf("No compressed copy needed making\n");
    return copies.Failed() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    scores::ServerOptions options;
    std::string precompress;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "score_server: %s needs a value\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
        const char* value = argv[++i];
        if (arg == "--address") {
            options.address = value;
        } else if (arg == "--port") {
            if (!ParseNumber(value, 0, 65535, &options.port)) {
                fprintf(stderr, "score_server: bad port '%s'\n", value);
                return 2;
            }
        } else if (arg == "--per-address" || arg == "--max-connections" || arg == "--record-burst" ||
                   arg == "--db-wait-ms") {
            int* to = arg == "--per-address"       ? &options.connectionsPerAddress
                      : arg == "--max-connections" ? &options.maxConnections
                      : arg == "--record-burst"    ? &options.recordBurst
                                                   : &options.dbWaitMs;
            if (!ParseNumber(value, arg == "--db-wait-ms" ? 100 : 1, 1000000, to)) {
                fprintf(stderr, "score_server: bad number for %s '%s'\n", arg.c_str(), value);
                return 2;
            }
        } else if (arg == "--records-per-second") {
            int rate = 0;
            if (!ParseNumber(value, 0, 1000000, &rate)) {
                fprintf(stderr, "score_server: bad number for %s '%s'\n", arg.c_str(), value);
                return 2;
            }
            options.recordsPerSecond = rate;
        } else if (arg == "--trusted-proxy") {
            options.trustedProxies.push_back(value);
        } else if (arg == "--precompress") {
            precompress = value;
        } else if (arg == "--db") {
            options.db = value;
        } else if (arg == "--game") {
            options.game = atoi(value);
            if (options.game <= 0) {
                fprintf(stderr, "score_server: bad game number '%s'\n", value);
                return 2;
            }
        } else if (arg == "--keyword") {
            options.keyword = value;
        } else if (arg == "--web") {
            options.webRoot = value;
        } else if (arg == "--allow-origin") {
            options.allowOrigin = value;
        } else {
            fprintf(stderr, "score_server: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }

    if (!precompress.empty()) return Precompress(precompress);

    // Signals are taken by one thread with sigwait, so the stop happens on
    // an ordinary thread rather than inside a signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    scores::ScoreServer server(options);
    std::string error;
    if (!server.Open(&error)) {
        fprintf(stderr, "score_server: %s\n", error.c_str());
        return 1;
    }
    printf("Score server listening on %s:%d, database %s\n", options.address.c_str(), server.port(),
           scores::PrintableDb(options.db).c_str());
    if (!options.webRoot.empty())
        printf("Serving %s at http://%s:%d/\n", options.webRoot.c_str(), options.address.c_str(), server.port());
    fflush(stdout);

    std::thread waiter([&server, &stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        server.Stop();
    });
    server.Run();
    // Run also ends if the listener fails; wake the waiter so it can finish.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    printf("Score server stopped\n");
    scores::FlushLog(1000);
    return 0;
}
