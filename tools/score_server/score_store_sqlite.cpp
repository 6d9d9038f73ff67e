// Scores in one SQLite file: the default store, for one server.
#include <sqlite3.h>

#include "score_store.h"

namespace scores {

namespace {

// The full record's index finds a repeat in a few steps whatever the board
// holds (the earlier index on the player and score could be made to read
// every row a forger gave the same player and score). scores_by_game gives
// the top five in order: its entries end with the row's id.
const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS scores ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT," SCORE_COLUMNS
    " received TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now')));"
    "CREATE INDEX IF NOT EXISTS scores_by_game ON scores (game, score DESC);"
    "CREATE INDEX IF NOT EXISTS scores_by_record ON scores (game, user_id, name, version, score, extra);"
    "DROP INDEX IF EXISTS scores_by_player;";

const char kCounts[] =
    "DROP TABLE IF EXISTS score_counts;"
    "DROP TRIGGER IF EXISTS score_counts_delete;"
    "DROP TRIGGER IF EXISTS score_counts_update;"
    "CREATE TABLE score_counts (game INTEGER NOT NULL, level INTEGER NOT NULL, prefix INTEGER NOT NULL,"
    " n INTEGER NOT NULL, PRIMARY KEY (game, level, prefix)) WITHOUT ROWID;"
    // A board from before the counts: counted once, here.
    "INSERT INTO score_counts (game, level, prefix, n)"
    " WITH RECURSIVE levels(l) AS (SELECT 1 UNION ALL SELECT l + 1 FROM levels WHERE l < 8)"
    " SELECT game, l, score >> (4 * (8 - l)), COUNT(*) FROM scores, levels GROUP BY 1, 2, 3;";

// The triggers keep the counts whoever changes the table (this server, or
// someone removing a cheat's rows by hand). SQLite allows no WITH in a
// trigger: one statement per level.
std::string CountTriggers() {
    auto change = [](const char* row, const char* sign) {
        std::string sql;
        for (int level = 1; level <= kCountLevels; level++)
            sql += std::string(" INSERT INTO score_counts (game, level, prefix, n) VALUES (") + row + ".game, " +
                   std::to_string(level) + ", " + row + ".score >> " + std::to_string(CountShift(level)) + ", " +
                   sign + "1) ON CONFLICT (game, level, prefix) DO UPDATE SET n = n " + sign + " 1;";
        return sql;
    };
    return "CREATE TRIGGER score_counts_insert AFTER INSERT ON scores BEGIN" + change("NEW", "+") +
           " END;"
           "CREATE TRIGGER score_counts_delete AFTER DELETE ON scores BEGIN" +
           change("OLD", "-") +
           " END;"
           "CREATE TRIGGER score_counts_update AFTER UPDATE OF game, score ON scores BEGIN" +
           change("OLD", "-") + change("NEW", "+") + " END;";
}

// One statement, so the check and the insert cannot be split by another
// writer, whichever process it is.
const char kInsertNew[] =
    "INSERT INTO scores (game, user_id, name, version, score, extra)"
    " SELECT ?1, ?2, ?3, ?4, ?5, ?6 WHERE NOT EXISTS (SELECT 1 FROM scores WHERE"
    " game = ?1 AND user_id = ?2 AND name = ?3 AND version = ?4 AND score = ?5 AND extra = ?6)";

const char kTotal[] = "SELECT COALESCE(SUM(n), 0) FROM score_counts WHERE game = ?1 AND level = 1";

// Each level's range of sibling prefixes is read through the primary key.
const char kAbove[] =
    "SELECT COALESCE(SUM(c.n), 0) FROM (VALUES (1), (2), (3), (4), (5), (6), (7), (8)) AS l"
    " JOIN score_counts c ON c.game = ?1 AND c.level = l.column1"
    " AND c.prefix > (?2 >> (4 * (8 - l.column1))) AND c.prefix < (((?2 >> (4 * (9 - l.column1))) + 1) << 4)";

const char kTop[] = "SELECT name, score FROM scores WHERE game = ?1 ORDER BY score DESC, id ASC LIMIT 5";

class SqliteStore : public ScoreStore {
public:
    ~SqliteStore() override {
        for (sqlite3_stmt* s : {insert_, total_, above_, top_}) sqlite3_finalize(s);
        if (db_) sqlite3_close(db_);
    }

    bool Open(const std::string& path, std::string* error) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            *error = "cannot open database " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
            return false;
        }
        sqlite3_busy_timeout(db_, 5000);
        // WAL with normal syncing: every stored score survives a crash of the
        // server, and a busy server does not wait on a disk flush per score.
        if (!Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", error) || !SetUp(error)) return false;
        if (!Prepare(kInsertNew, &insert_) || !Prepare(kTotal, &total_) || !Prepare(kAbove, &above_) ||
            !Prepare(kTop, &top_)) {
            *error = std::string("cannot prepare queries: ") + sqlite3_errmsg(db_);
            return false;
        }
        return true;
    }

    StoreOutcome StoreAndRank(const ScoreRecord& rec, Standing* out, std::string* failure) override {
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
            // A statement that failed changed nothing. A lock held past the
            // wait, or an interruption, passes; anything else is the
            // database's refusal.
            const int kind = rc & 0xff;
            return kind == SQLITE_BUSY || kind == SQLITE_LOCKED || kind == SQLITE_INTERRUPT ? StoreOutcome::kUnavailable
                                                                                             : StoreOutcome::kRefused;
        }
        // Stored: from here a failure must not read as "not stored".
        int above = 0;
        if (!Count(total_, rec.game, nullptr, &out->total) || !Count(above_, rec.game, &rec.score, &above)) {
            *failure = std::string("ranking failed: ") + sqlite3_errmsg(db_);
            return StoreOutcome::kUnavailable;
        }
        out->rank = above + 1;
        out->top.clear();
        sqlite3_reset(top_);
        sqlite3_bind_int(top_, 1, rec.game);
        while ((rc = sqlite3_step(top_)) == SQLITE_ROW) {
            const unsigned char* name = sqlite3_column_text(top_, 0);
            out->top.emplace_back(name ? reinterpret_cast<const char*>(name) : "", sqlite3_column_int(top_, 1));
        }
        sqlite3_reset(top_);
        if (rc != SQLITE_DONE) {
            *failure = std::string("reading the top five failed: ") + sqlite3_errmsg(db_);
            return StoreOutcome::kUnavailable;
        }
        return StoreOutcome::kStored;
    }

    void Interrupt() override { sqlite3_interrupt(db_); }

private:
    bool Exec(const std::string& sql, std::string* error) {
        char* msg = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &msg) == SQLITE_OK) return true;
        *error = std::string("cannot set up database: ") + (msg ? msg : sqlite3_errmsg(db_));
        sqlite3_free(msg);
        return false;
    }

    // The table, its indexes and, on a board that has none yet (or whose
    // triggers went with a dropped table), the kept counts with their
    // triggers: all in one transaction, so that a crash midway leaves the
    // board as it was.
    bool SetUp(std::string* error) {
        if (!Exec("BEGIN IMMEDIATE;", error)) return false;
        bool ok = Exec(kSchema, error);
        if (ok) {
            sqlite3_stmt* have = nullptr;
            ok = Prepare("SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND name = 'score_counts_insert'", &have);
            const bool counted = ok && sqlite3_step(have) == SQLITE_ROW;
            sqlite3_finalize(have);
            if (!ok) *error = std::string("cannot set up database: ") + sqlite3_errmsg(db_);
            if (ok && !counted) ok = Exec(kCounts + CountTriggers(), error);
        }
        std::string ignored;
        if (!ok) {
            Exec("ROLLBACK;", &ignored);
            return false;
        }
        return Exec("COMMIT;", error);
    }

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
    sqlite3_stmt* total_ = nullptr;
    sqlite3_stmt* above_ = nullptr;
    sqlite3_stmt* top_ = nullptr;
};

}  // namespace

std::unique_ptr<ScoreStore> OpenSqliteStore(const std::string& path, std::string* error) {
    return Opened<SqliteStore>(path, error);
}

}  // namespace scores
