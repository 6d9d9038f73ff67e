// The online score service: HTTP on one address and port, scores kept in a
// SQLite file or a PostgreSQL database (score_store.h), and optionally a
// folder of pages (the browser build) served beside them.
//
// One thread runs the event loop (libmicrohttpd in its epoll mode), so a
// connection costs a socket and a few kilobytes, not a worker: slow or idle
// peers cannot take the service away from others. The database work runs on
// a few threads of its own, so a slow database holds no connection but the
// one waiting for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/Records.h"
#include "score_store.h"
#include "web_folder.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace scores {

struct ServerOptions {
    std::string address = "127.0.0.1";
    int port = 80;                    // 0 picks a free port
    std::string db = "scores.db";     // a SQLite file, or postgresql://...
    int game = 550;                   // the only game this server takes scores for
    std::string keyword = "Sample keyword text";
    // A request (line, headers) has this long to arrive in full, counted
    // from the connection's start or the end of the previous answer on it.
    int requestDeadlineMs = 5000;
    // An answer whose reader takes nothing for this long is cut off; so is
    // one taken at under 1 KiB a second on average past the deadline above.
    int answerStallMs = 10000;
    // Connections one client address may hold at once (players behind one
    // NAT share an address), and all connections at once (each holds a
    // socket and at most 32 KiB).
    int connectionsPerAddress = 256;
    int maxConnections = 4096;
    // Score requests waiting for the database beyond this are answered 503.
    int maxQueuedScores = 1024;
    // Browsers: the origin whose pages may read the answers
    // (Access-Control-Allow-Origin); "" sends no such header. Unset, it is
    // "*" on a loopback address (a local test) and nothing on any other.
    std::optional<std::string> allowOrigin;
    // A folder served as the site's pages (the browser build), so that the
    // game and its scores share one origin; "" serves none.
    std::string webRoot;
    // Whether to make the folder's compressed copies at start.
    bool compressWeb = true;
};

// The Access-Control-Allow-Origin value for these options ("" for none).
std::string AllowedOrigin(const ServerOptions& options);

struct Reply {
    int status = 200;
    std::string body;  // always one data block between the two markers
};

// Lines for the log go through a thread of their own: a standard error
// (or output) that nobody reads blocks that thread, never a request.
void LogLine(const std::string& line, bool error = true);
// Waits up to `ms` until the log has written what it holds (at exit).
void FlushLog(int ms);

class ScoreServer {
public:
    explicit ScoreServer(const ServerOptions& options);
    ~ScoreServer();
    ScoreServer(const ScoreServer&) = delete;
    ScoreServer& operator=(const ScoreServer&) = delete;

    // Opens (and on first start creates) the database and binds the port.
    bool Open(std::string* error);
    int port() const { return port_; }

    // Serves until Stop. Start runs it on a thread of its own and returns
    // once requests are being accepted.
    void Run();
    void Start();
    void Stop();

    // Waits until the web folder's compressed copies are made.
    void WaitForCompressedCopies() { copies_.Wait(); }

    // Checks a score request's target: false with the error to answer.
    bool ParseSubmission(const std::string& target, ScoreRecord* rec, Reply* error) const;

    struct Peer;
    struct Request;

private:
    static const int kLoopStepMs = 100;

    // The database side: a queue and the threads that work it off.
    void Submit(Request* request);
    void Work(ScoreStore* store);
    Reply StoreAndAnswer(ScoreStore* store, const ScoreRecord& rec);

    // The event loop's side (all on the loop thread).
    void Step(int waitMs);
    void Sweep(int64_t now);
    void Cut(Peer* peer, bool timedOut);
    bool Answer(MHD_Connection* connection, Request* request, const char* method);
    bool AnswerScore(MHD_Connection* connection, Request* request);
    bool AnswerFileRequest(MHD_Connection* connection, Request* request, bool head);
    bool Queue(MHD_Connection* connection, int status, const std::string& body,
               const std::vector<std::pair<std::string, std::string>>& headers = {});

    // libmicrohttpd's callbacks, in its own types (score_server.cpp).
    friend struct Hooks;

    ServerOptions options_;
    std::string origin_;
    std::string webRoot_;   // real path
    int port_ = 0;
    int listenFd_ = -1;
    int wake_ = -1;           // an eventfd: a worker has resumed a connection
    kelp::records::Scrambler key_;
    MHD_Daemon* daemon_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};

    std::vector<std::unique_ptr<ScoreStore>> stores_;
    std::vector<std::thread> workers_;
    std::mutex queueLock_;
    std::condition_variable queueReady_;
    std::deque<Request*> queue_;
    bool quitting_ = false;   // under queueLock_
    int working_ = 0;         // requests taken off the queue or on it (loop thread)

    std::unordered_map<Peer*, std::unique_ptr<Peer>> peers_;
    std::unordered_map<std::string, int> perAddress_;
    int64_t lastProgressCheck_ = 0;

    CompressedCopies copies_;
};

// The data block around a text: "[-\r\nData-]" text "[-\r\nEnd-]".
std::string DataBlock(const std::string& text);

}  // namespace scores
