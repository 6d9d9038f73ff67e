// Scores in one SQLite file: the default store, for one server.
#include <sqlite3.h>

#include "score_store.h"

namespace scores {

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS scores ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT," SCORE_COLUMNS
    " received TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now')));"
    "CREATE INDEX IF NOT EXISTS scores_by_game ON scores (game, score DESC);"
    "CREATE INDEX IF NOT EXISTS scores_by_player ON scores (game, user_id, score);";

// One statement, so the check and the insert cannot be split by another
// writer, whichever process it is.
const char kInsertNew[] =
    "INSERT INTO scores (game, user_id, name, version, score, extra)"
    " SELECT ?1, ?2, ?3, ?4, ?5, ?6 WHERE NOT EXISTS (SELECT 1 FROM scores WHERE"
    " game = ?1 AND user_id = ?2 AND name = ?3 AND version = ?4 AND score = ?5 AND extra = ?6)";

class SqliteStore : public ScoreStore {
public:
    ~SqliteStore() override {
        for (sqlite3_stmt* s : {insert_, countAll_, countAbove_, top_}) sqlite3_finalize(s);
        if (db_) sqlite3_close(db_);
    }

    bool Open(const std::string& path, std::string* error) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            *error = "cannot open database " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
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
        if (!Prepare(kInsertNew, &insert_) || !Prepare("SELECT COUNT(*) FROM scores WHERE game = ?1", &countAll_) ||
            !Prepare("SELECT COUNT(*) FROM scores WHERE game = ?1 AND score > ?2", &countAbove_) ||
            !Prepare("SELECT name, score FROM scores WHERE game = ?1 ORDER BY score DESC, id ASC LIMIT 5", &top_)) {
            *error = std::string("cannot prepare queries: ") + sqlite3_errmsg(db_);
            return false;
        }
        return true;
    }

    bool StoreAndRank(const ScoreRecord& rec, Standing* out, std::string* failure) override {
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
            *failure = std::string("insert failed: ") + sqlite3_errmsg(db_);
            return false;
        }
        int above = 0;
        if (!Count(countAll_, rec.game, nullptr, &out->total) || !Count(countAbove_, rec.game, &rec.score, &above)) {
            *failure = std::string("ranking failed: ") + sqlite3_errmsg(db_);
            return false;
        }
        out->rank = above + 1;
        out->top.clear();
        sqlite3_reset(top_);
        sqlite3_bind_int(top_, 1, rec.game);
        while (sqlite3_step(top_) == SQLITE_ROW) {
            const unsigned char* name = sqlite3_column_text(top_, 0);
            out->top.emplace_back(name ? reinterpret_cast<const char*>(name) : "", sqlite3_column_int(top_, 1));
        }
        sqlite3_reset(top_);
        return true;
    }

private:
    bool Prepare(const char* sql, sqlite3_stmt** stmt) {
        return sqlite3_prepare_v2(db_, sql, -1, stmt, nullptr) == SQLITE_OK;
    }

    // Runs a one-row count query bound to the game (and a score when given).
    static bool Count(sqlite3_stmt* stmt, int game, const int* score, int* out) {
        sqlite3_reset(stmt);
        sqlite3_bind_int(stmt, 1, game);
        if (score) sqlite3_bind_int(stmt, 2, *score);
        if (sqlite3_step(stmt) != SQLITE_ROW) return false;
        *out = sqlite3_column_int(stmt, 0);
        sqlite3_reset(stmt);
        return true;
    }

    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* countAll_ = nullptr;
    sqlite3_stmt* countAbove_ = nullptr;
    sqlite3_stmt* top_ = nullptr;
};

}  // namespace

std::unique_ptr<ScoreStore> OpenSqliteStore(const std::string& path, std::string* error) {
    return Opened<SqliteStore>(path, error);
}

}  // namespace scores
