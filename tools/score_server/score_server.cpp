#include "score_server.h"

#include <httplib.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

#include "core/KELPCore.h"

namespace scores {

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS scores ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " game INTEGER NOT NULL,"
    " user_id TEXT NOT NULL,"
    " name TEXT NOT NULL,"
    " version INTEGER NOT NULL,"
    " score INTEGER NOT NULL,"
    " extra TEXT NOT NULL,"
    " received TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now')));"
    "CREATE INDEX IF NOT EXISTS scores_by_game ON scores (game, score DESC);";

std::string ErrorBlock(const std::string& reason) { return DataBlock("ERROR\r\n" + reason + "\r\n"); }

Reply Error(int status, const std::string& reason) {
    Reply r;
    r.status = status;
    r.body = ErrorBlock(reason);
    return r;
}

bool Prepare(sqlite3* db, const char* sql, sqlite3_stmt** stmt) {
    return sqlite3_prepare_v2(db, sql, -1, stmt, nullptr) == SQLITE_OK;
}

// Runs a one-row count query bound to the game (and a score when given).
bool Count(sqlite3_stmt* stmt, int game, const int* score, int* out) {
    sqlite3_reset(stmt);
    sqlite3_bind_int(stmt, 1, game);
    if (score) sqlite3_bind_int(stmt, 2, *score);
    if (sqlite3_step(stmt) != SQLITE_ROW) return false;
    *out = sqlite3_column_int(stmt, 0);
    sqlite3_reset(stmt);
    return true;
}

}  // namespace

std::string DataBlock(const std::string& text) { return "[-\r\nData-]" + text + "[-\r\nEnd-]"; }

std::string AllowedOrigin(const ServerOptions& options) {
    if (options.allowOrigin) return *options.allowOrigin;
    const std::string& a = options.address;
    const bool loopback = a.compare(0, 4, "127.") == 0 || a == "localhost" || a == "::1";
    return loopback ? "*" : "";
}

ScoreServer::ScoreServer(const ServerOptions& options) : options_(options), key_(new KELPCore()) {
    // The same key material the game derives at launch.
    key_->gameNumber = options_.game;
    key_->SetKeyword(options_.keyword);
}

ScoreServer::~ScoreServer() {
    Stop();
    for (sqlite3_stmt* s : {insert_, countAll_, countAbove_, top_}) sqlite3_finalize(s);
    if (db_) sqlite3_close(db_);
}

bool ScoreServer::Open(std::string* error) {
    if (sqlite3_open_v2(options_.db.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        *error = "cannot open database " + options_.db + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    char* msg = nullptr;
    // WAL with normal syncing: every stored score survives a crash of the
    // server, and a busy server does not wait on a disk flush per score.
    if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, &msg) != SQLITE_OK ||
        sqlite3_exec(db_, kSchema, nullptr, nullptr, &msg) != SQLITE_OK) {
        *error = std::string("cannot set up database: ") + (msg ? msg : sqlite3_errmsg(db_));
        sqlite3_free(msg);
        return false;
    }
    if (!Prepare(db_, "INSERT INTO scores (game, user_id, name, version, score, extra) VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                 &insert_) ||
        !Prepare(db_, "SELECT COUNT(*) FROM scores WHERE game = ?1", &countAll_) ||
        !Prepare(db_, "SELECT COUNT(*) FROM scores WHERE game = ?1 AND score > ?2", &countAbove_) ||
        !Prepare(db_, "SELECT name, score FROM scores WHERE game = ?1 ORDER BY score DESC, id ASC LIMIT 5", &top_)) {
        *error = std::string("cannot prepare queries: ") + sqlite3_errmsg(db_);
        return false;
    }

    http_.reset(new httplib::Server());
    http_->Get("/Scores.php", [this](const httplib::Request& req, httplib::Response& res) {
        Reply r = Handle(req.target);
        res.status = r.status;
        res.set_content(r.body, "text/plain");
    });
    // Every other failure (unknown page, bad request line, overlong target)
    // still answers with a block the game can show.
    http_->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        res.set_content(ErrorBlock(res.status == 404 ? "unknown page" : "bad request"), "text/plain");
    });
    // Pages in a browser: answers another origin may read, and the page's
    // own files for one origin with the scores.
    const std::string origin = AllowedOrigin(options_);
    if (!origin.empty())
        http_->set_post_routing_handler([origin](const httplib::Request&, httplib::Response& res) {
            res.set_header("Access-Control-Allow-Origin", origin);
        });
    if (!options_.webRoot.empty()) {
        if (!http_->set_mount_point("/", options_.webRoot)) {
            *error = "cannot serve the folder " + options_.webRoot;
            return false;
        }
        // Streamed compilation in the browser needs the wasm type.
        http_->set_file_extension_and_mimetype_mapping("wasm", "application/wasm");
        http_->set_file_extension_and_mimetype_mapping("data", "application/octet-stream");
    }
    // One request per connection: the game closes after each answer, and an
    // idle client must not hold a worker.
    http_->set_keep_alive_max_count(1);
    http_->set_read_timeout(5, 0);
    http_->set_write_timeout(5, 0);
    http_->set_tcp_nodelay(true);

    if (options_.port == 0) {
        port_ = http_->bind_to_any_port(options_.address);
        if (port_ <= 0) {
            *error = "cannot listen on " + options_.address;
            return false;
        }
    } else {
        if (!http_->bind_to_port(options_.address, options_.port)) {
            *error = "cannot listen on " + options_.address + ":" + std::to_string(options_.port);
            return false;
        }
        port_ = options_.port;
    }
    return true;
}

void ScoreServer::Run() {
    if (http_) http_->listen_after_bind();
}

void ScoreServer::Start() {
    if (!http_) return;
    thread_ = std::thread([this] { Run(); });
    // Stop before the listener runs would be lost; wait until it is up.
    for (int i = 0; i < 500 && !http_->is_running(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void ScoreServer::Stop() {
    if (http_) http_->stop();
    if (thread_.joinable()) thread_.join();
}

Reply ScoreServer::Handle(const std::string& target) {
    std::string gameText, raw, why;
    if (!ParseQuery(target, &gameText, &raw, &why)) return Error(why == "unknown page" ? 404 : 400, why);
    std::string gameDigits = gameText;
    if (gameDigits.empty() || gameDigits.size() > 9 || gameDigits.find_first_not_of("0123456789") != std::string::npos)
        return Error(400, "bad Game");
    if (atoi(gameDigits.c_str()) != options_.game) return Error(400, "unknown game");

    std::string scrambled;
    if (!UnescapeValue(raw, &scrambled, &why)) return Error(400, why);
    // The scramble and its inverse use only the key table: safe to share.
    std::string plain = key_->UnscrambleTxt(scrambled);
    ScoreRecord rec;
    if (!ParseRecord(plain, options_.game, &rec, &why)) return Error(400, why);

    std::string text;
    if (!StoreAndRank(rec, &text)) return Error(500, "could not store the score");
    Reply ok;
    ok.body = DataBlock(text);
    return ok;
}

// Stores the score and reads its rank and the top five in one locked step,
// so the answer matches the table right after this score went in.
bool ScoreServer::StoreAndRank(const ScoreRecord& rec, std::string* text) {
    std::lock_guard<std::mutex> hold(dbLock_);
    sqlite3_reset(insert_);
    sqlite3_bind_int(insert_, 1, rec.game);
    sqlite3_bind_text(insert_, 2, rec.userId.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert_, 3, rec.name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert_, 4, rec.version);
    sqlite3_bind_int(insert_, 5, rec.score);
    sqlite3_bind_text(insert_, 6, rec.extra.c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    if (rc != SQLITE_DONE) {
        fprintf(stderr, "score_server: insert failed: %s\n", sqlite3_errmsg(db_));
        return false;
    }
    int total = 0, above = 0;
    if (!Count(countAll_, rec.game, nullptr, &total) || !Count(countAbove_, rec.game, &rec.score, &above)) return false;

    *text = "OK\r\nScore " + std::to_string(rec.score) + "\r\nRank " + std::to_string(above + 1) + " of " +
            std::to_string(total) + "\r\n";
    sqlite3_reset(top_);
    sqlite3_bind_int(top_, 1, rec.game);
    for (int place = 1; sqlite3_step(top_) == SQLITE_ROW; place++) {
        const unsigned char* name = sqlite3_column_text(top_, 0);
        *text += std::to_string(place) + ". " + (name ? reinterpret_cast<const char*>(name) : "") + " " +
                 std::to_string(sqlite3_column_int(top_, 1)) + "\r\n";
    }
    sqlite3_reset(top_);
    return true;
}

}  // namespace scores
