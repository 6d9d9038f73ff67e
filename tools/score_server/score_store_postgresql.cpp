// Scores in PostgreSQL, so that several score servers (behind one proxy or
// load balancer) keep one board. A unique index makes "one row per distinct
// record" hold across servers: two servers storing the same record at once
// both get the one row.
#include <libpq-fe.h>

#include <cstdlib>

#include "score_server.h"
#include "score_store.h"

namespace scores {

namespace {

// Two servers starting together would race to create the table; the
// transaction's advisory lock lets one create it and the other find it.
const char kSchema[] =
    "BEGIN;"
    "SELECT pg_advisory_xact_lock(550550550);"
    "CREATE TABLE IF NOT EXISTS scores ("
    " id BIGSERIAL PRIMARY KEY," SCORE_COLUMNS
    " received TIMESTAMPTZ NOT NULL DEFAULT now());"
    "CREATE UNIQUE INDEX IF NOT EXISTS scores_one_row ON scores (game, user_id, name, version, score, extra);"
    "CREATE INDEX IF NOT EXISTS scores_by_game ON scores (game, score DESC, id);"
    "COMMIT;";

const char kInsert[] =
    "INSERT INTO scores (game, user_id, name, version, score, extra)"
    " VALUES ($1::int, $2::text, $3::text, $4::int, $5::int, $6::text) ON CONFLICT DO NOTHING";

// The count, the rank and the top five in one statement, so they come from
// one snapshot; one row per top entry (the table holds at least this score).
const char kStanding[] =
    "SELECT c.total, c.above, t.name, t.score FROM"
    " (SELECT (SELECT COUNT(*) FROM scores WHERE game = $1::int) AS total,"
    "         (SELECT COUNT(*) FROM scores WHERE game = $1::int AND score > $2::int) AS above) c"
    " LEFT JOIN LATERAL (SELECT name, score, id FROM scores WHERE game = $1::int"
    "                    ORDER BY score DESC, id ASC LIMIT 5) t ON true"
    " ORDER BY t.score DESC, t.id ASC";

// libpq's messages end with a line feed; the log adds its own.
std::string Message(PGconn* conn) {
    std::string m = conn ? PQerrorMessage(conn) : "out of memory";
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    return m;
}

class PostgresStore : public ScoreStore {
public:
    ~PostgresStore() override {
        if (conn_) PQfinish(conn_);
    }

    bool Open(const std::string& uri, std::string* error) {
        // Defaults first: what the URI itself says overrides them.
        // A database machine that vanishes is noticed within seconds.
        const char* keys[] = {"connect_timeout", "application_name", "keepalives_idle", "keepalives_interval",
                              "keepalives_count", "tcp_user_timeout", "dbname", nullptr};
        const char* values[] = {"10", "score_server", "10", "5", "3", "10000", uri.c_str(), nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
        // The database's notices go to the server's log, which no full
        // standard error can stall.
        if (conn_) PQsetNoticeProcessor(conn_, [](void*, const char* text) {
            std::string line = std::string("score_server: database: ") + text;
            while (!line.empty() && line.back() == '\n') line.pop_back();
            LogLine(line);
        }, nullptr);
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            *error = "cannot open database " + PrintableDb(uri) + ": " + Message(conn_);
            return false;
        }
        if (!Command("SET client_min_messages TO warning") || !Command(kSchema)) {
            *error = "cannot set up database: " + Message(conn_);
            return false;
        }
        if (!PrepareAll()) {
            *error = "cannot prepare queries: " + Message(conn_);
            return false;
        }
        return true;
    }

    bool StoreAndRank(const ScoreRecord& rec, Standing* out, std::string* failure) override {
        // A connection that broke (the database restarted, a proxy between
        // timed it out) is made again once. Repeating the insert is safe:
        // a record stored before the break is not stored twice.
        for (int attempt = 0;; attempt++) {
            if (Attempt(rec, out, failure)) return true;
            if (attempt > 0 || PQstatus(conn_) != CONNECTION_BAD) return false;
            PQreset(conn_);
            if (PQstatus(conn_) != CONNECTION_OK || !PrepareAll()) {
                *failure = "reconnecting failed: " + Message(conn_);
                return false;
            }
        }
    }

private:
    bool Command(const char* sql) {
        PGresult* r = PQexec(conn_, sql);
        bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        return ok;
    }

    // What each connection needs, again after it is made anew: a bound on
    // a statement (a stuck database must not hold a worker for ever) and
    // the two statements.
    bool PrepareAll() {
        if (!Command("SET statement_timeout TO '10s'")) return false;
        for (const auto& s : {std::make_pair("insert", kInsert), std::make_pair("standing", kStanding)}) {
            PGresult* r = PQprepare(conn_, s.first, s.second, 0, nullptr);
            bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
            PQclear(r);
            if (!ok) return false;
        }
        return true;
    }

    bool Attempt(const ScoreRecord& rec, Standing* out, std::string* failure) {
        const std::string game = std::to_string(rec.game), version = std::to_string(rec.version),
                          score = std::to_string(rec.score);
        const char* insertArgs[] = {game.c_str(), rec.userId.c_str(), rec.name.c_str(),
                                    version.c_str(), score.c_str(), rec.extra.c_str()};
        PGresult* r = PQexecPrepared(conn_, "insert", 6, insertArgs, nullptr, nullptr, 0);
        bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        if (!ok) {
            *failure = "insert failed: " + Message(conn_);
            return false;
        }
        const char* standingArgs[] = {game.c_str(), score.c_str()};
        r = PQexecPrepared(conn_, "standing", 2, standingArgs, nullptr, nullptr, 0);
        if (PQresultStatus(r) != PGRES_TUPLES_OK || PQntuples(r) < 1) {
            *failure = "ranking failed: " + Message(conn_);
            PQclear(r);
            return false;
        }
        out->total = atoi(PQgetvalue(r, 0, 0));
        out->rank = atoi(PQgetvalue(r, 0, 1)) + 1;
        out->top.clear();
        for (int i = 0; i < PQntuples(r); i++)
            if (!PQgetisnull(r, i, 2)) out->top.emplace_back(PQgetvalue(r, i, 2), atoi(PQgetvalue(r, i, 3)));
        PQclear(r);
        return true;
    }

    PGconn* conn_ = nullptr;
};

}  // namespace

std::unique_ptr<ScoreStore> OpenPostgresStore(const std::string& uri, std::string* error) {
    return Opened<PostgresStore>(uri, error);
}

}  // namespace scores
