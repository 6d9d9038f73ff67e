// The online score service: HTTP on one address and port, scores kept in
// one SQLite database file.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "score_records.h"

struct sqlite3;
struct sqlite3_stmt;
class KELPCore;
namespace httplib { class Server; }

namespace scores {

struct ServerOptions {
    std::string address = "127.0.0.1";
    int port = 80;                    // 0 picks a free port
    std::string db = "scores.db";
    int game = 550;                   // the only game this server takes scores for
    std::string keyword = "Sample keyword text";
    // A client that is slow or silent must not hold the server: a request
    // (line, headers and any body) has this long to arrive in full, one
    // address may hold only so many connections at once, and the workers
    // outnumber what one address may hold.
    int requestDeadlineMs = 5000;
    int connectionsPerAddress = 8;
    int workers = 32;
    // Browsers: the origin whose pages may read the answers
    // (Access-Control-Allow-Origin); "" sends no such header. Unset, it is
    // "*" on a loopback address (a local test) and nothing on any other.
    std::optional<std::string> allowOrigin;
    // A folder served as the site's pages (the browser build), so that the
    // game and its scores share one origin; "" serves none.
    std::string webRoot;
};

class GuardedHttp;

// The Access-Control-Allow-Origin value for these options ("" for none).
std::string AllowedOrigin(const ServerOptions& options);

struct Reply {
    int status = 200;
    std::string body;  // always one data block between the two markers
};

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

    // The answer to one request target ("/Scores.php?Game=...&Score=...").
    Reply Handle(const std::string& target);

private:
    bool StoreAndRank(const ScoreRecord& rec, std::string* text, std::string* failure);

    ServerOptions options_;
    int port_ = 0;
    std::unique_ptr<KELPCore> key_;
    std::unique_ptr<GuardedHttp> http_;
    std::thread thread_;
    std::mutex dbLock_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* countAll_ = nullptr;
    sqlite3_stmt* countAbove_ = nullptr;
    sqlite3_stmt* top_ = nullptr;
};

// The data block around a text: "[-\r\nData-]" text "[-\r\nEnd-]".
std::string DataBlock(const std::string& text);

}  // namespace scores
