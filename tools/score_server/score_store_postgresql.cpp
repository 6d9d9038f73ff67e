// Scores in PostgreSQL, so that several score servers (behind one proxy or
// load balancer) keep one board. A unique index makes "one row per distinct
// record" hold across servers: two servers storing the same record at once
// both get the one row.
#include <libpq-fe.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "score_server.h"
#include "score_store.h"

namespace scores {

namespace {

// Two servers starting together would race to create the table; the
// transaction's advisory lock lets one create it and the other find it.
//
// The kept counts: each connection adds to a stripe of its own (its process
// id modulo 8), so that servers storing scores at once do not queue on the
// same count rows; a count is the sum of its stripes. A board from before the
// counts (or whose counts lost their triggers with a dropped table) is
// counted once, with the table locked against inserts from the trigger's
// creation to the count, so that no row is missed or counted twice.
const char kSchema[] =
    "BEGIN;"
    "SELECT pg_advisory_xact_lock(550550550);"
    "CREATE TABLE IF NOT EXISTS scores ("
    " id BIGSERIAL PRIMARY KEY," SCORE_COLUMNS
    " received TIMESTAMPTZ NOT NULL DEFAULT now());"
    "CREATE UNIQUE INDEX IF NOT EXISTS scores_one_row ON scores (game, user_id, name, version, score, extra);"
    "CREATE INDEX IF NOT EXISTS scores_by_game ON scores (game, score DESC, id);"
    "DO $set_up$ BEGIN"
    " IF NOT EXISTS (SELECT 1 FROM pg_trigger WHERE tgrelid = 'scores'::regclass"
    "                AND tgname = 'score_counts_insert') THEN"
    "  LOCK TABLE scores IN SHARE ROW EXCLUSIVE MODE;"
    "  DROP TABLE IF EXISTS score_counts;"
    "  DROP TRIGGER IF EXISTS score_counts_update ON scores;"
    "  CREATE TABLE score_counts (game INTEGER NOT NULL, level SMALLINT NOT NULL, prefix BIGINT NOT NULL,"
    "   stripe SMALLINT NOT NULL, n BIGINT NOT NULL, PRIMARY KEY (game, level, prefix, stripe));"
    "  CREATE OR REPLACE FUNCTION score_counts_follow() RETURNS trigger LANGUAGE plpgsql AS $follow$"
    "  DECLARE s SMALLINT := pg_backend_pid() % 8;"
    "  BEGIN"
    "   IF TG_OP IN ('DELETE', 'UPDATE') THEN"
    "    INSERT INTO score_counts (game, level, prefix, stripe, n)"
    "     SELECT OLD.game, l, OLD.score::bigint >> (4 * (8 - l)), s, -1 FROM generate_series(1, 8) l"
    "     ON CONFLICT (game, level, prefix, stripe) DO UPDATE SET n = score_counts.n - 1;"
    "   END IF;"
    "   IF TG_OP IN ('INSERT', 'UPDATE') THEN"
    "    INSERT INTO score_counts (game, level, prefix, stripe, n)"
    "     SELECT NEW.game, l, NEW.score::bigint >> (4 * (8 - l)), s, 1 FROM generate_series(1, 8) l"
    "     ON CONFLICT (game, level, prefix, stripe) DO UPDATE SET n = score_counts.n + 1;"
    "   END IF;"
    "   RETURN NULL;"
    "  END $follow$;"
    "  CREATE TRIGGER score_counts_insert AFTER INSERT OR DELETE ON scores"
    "   FOR EACH ROW EXECUTE FUNCTION score_counts_follow();"
    "  CREATE TRIGGER score_counts_update AFTER UPDATE OF game, score ON scores"
    "   FOR EACH ROW EXECUTE FUNCTION score_counts_follow();"
    "  INSERT INTO score_counts (game, level, prefix, stripe, n)"
    "   SELECT game, l, score::bigint >> (4 * (8 - l)), 0, COUNT(*) FROM scores, generate_series(1, 8) l"
    "   GROUP BY 1, 2, 3;"
    " END IF;"
    "END $set_up$;"
    "COMMIT;";

const char kInsert[] =
    "INSERT INTO scores (game, user_id, name, version, score, extra)"
    " VALUES ($1::int, $2::text, $3::text, $4::int, $5::int, $6::text) ON CONFLICT DO NOTHING";

// The total, the rank and the top five in one statement, so they come from
// one snapshot; one row per top entry (the table holds at least this score).
// Each level's sibling prefixes are read through the counts' primary key.
const char kStanding[] =
    "SELECT c.total, c.above, t.name, t.score FROM"
    " (SELECT (SELECT COALESCE(SUM(n), 0) FROM score_counts WHERE game = $1::int AND level = 1) AS total,"
    "         (SELECT COALESCE(SUM(k.n), 0) FROM generate_series(1, 8) l JOIN score_counts k"
    "           ON k.game = $1::int AND k.level = l"
    "          AND k.prefix > ($2::bigint >> (4 * (8 - l)))"
    "          AND k.prefix < ((($2::bigint >> (4 * (9 - l))) + 1) << 4)) AS above) c"
    " LEFT JOIN LATERAL (SELECT name, score, id FROM scores WHERE game = $1::int"
    "                    ORDER BY score DESC, id ASC LIMIT 5) t ON true"
    " ORDER BY t.score DESC, t.id ASC";

// libpq's messages end with a line feed; the log adds its own.
std::string Message(PGconn* conn) {
    std::string m = conn ? PQerrorMessage(conn) : "out of memory";
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    return m;
}

// An error the database may not give the next time: a lock or a statement
// that took too long, a conflict between transactions, a shortage, a server
// going down. Anything else (a constraint, a trigger's refusal, bad data) is
// its answer for good.
bool Passing(const PGresult* r) {
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    if (!state) return true;
    for (const char* cls : {"08", "40", "53", "55", "57", "58", "XX"})
        if (strncmp(state, cls, 2) == 0) return true;
    return false;
}

class PostgresStore : public ScoreStore {
public:
    ~PostgresStore() override {
        if (conn_) PQfinish(conn_);
    }

    bool Open(const std::string& uri, std::string* error, bool* down) {
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
            // Down, or starting up: worth another try. A bad address, or a
            // server that answers but turns this login away, is not.
            const PGPing ping = PQpingParams(keys, values, 1);
            *down = ping == PQPING_NO_RESPONSE || ping == PQPING_REJECT;
            return false;
        }
        socket_ = PQsocket(conn_);
        if (!Command("SET client_min_messages TO warning") || !Command(kSchema)) {
            *error = "cannot set up database: " + Message(conn_);
            *down = PQstatus(conn_) != CONNECTION_OK;
            return false;
        }
        if (!PrepareAll()) {
            *error = "cannot prepare queries: " + Message(conn_);
            *down = PQstatus(conn_) != CONNECTION_OK;
            return false;
        }
        return true;
    }

    StoreOutcome StoreAndRank(const ScoreRecord& rec, Standing* out, std::string* failure) override {
        // A connection that broke (the database restarted, a proxy between
        // timed it out) is made again once. Repeating the insert is safe:
        // a record stored before the break is not stored twice.
        for (int attempt = 0;; attempt++) {
            StoreOutcome outcome = Attempt(rec, out, failure);
            if (outcome != StoreOutcome::kUnavailable || attempt > 0 || PQstatus(conn_) != CONNECTION_BAD)
                return outcome;
            std::string why;
            if (!Reconnect(&why)) {
                *failure += "; " + why;
                return StoreOutcome::kUnavailable;
            }
        }
    }

    bool Broken() const override { return PQstatus(conn_) != CONNECTION_OK; }

    bool Reconnect(std::string* error) override {
        socket_ = -1;
        PQreset(conn_);
        if (PQstatus(conn_) != CONNECTION_OK || !PrepareAll()) {
            *error = "reconnecting failed: " + Message(conn_);
            return false;
        }
        socket_ = PQsocket(conn_);
        return true;
    }

    // The socket is shut, not closed: libpq's call in progress fails at
    // once, and libpq closes the socket itself.
    void Interrupt() override {
        const int fd = socket_;
        if (fd >= 0) shutdown(fd, SHUT_RDWR);
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

    StoreOutcome Attempt(const ScoreRecord& rec, Standing* out, std::string* failure) {
        const std::string game = std::to_string(rec.game), version = std::to_string(rec.version),
                          score = std::to_string(rec.score);
        const char* insertArgs[] = {game.c_str(), rec.userId.c_str(), rec.name.c_str(),
                                    version.c_str(), score.c_str(), rec.extra.c_str()};
        PGresult* r = PQexecPrepared(conn_, "insert", 6, insertArgs, nullptr, nullptr, 0);
        if (PQresultStatus(r) != PGRES_COMMAND_OK) {
            *failure = "insert failed: " + Message(conn_);
            // With the connection lost, the insert may have been committed
            // before its answer was: unknown, not refused.
            const bool refused = PQstatus(conn_) == CONNECTION_OK && !Passing(r);
            PQclear(r);
            return refused ? StoreOutcome::kRefused : StoreOutcome::kUnavailable;
        }
        PQclear(r);
        // Stored: from here a failure must not read as "not stored".
        const char* standingArgs[] = {game.c_str(), score.c_str()};
        r = PQexecPrepared(conn_, "standing", 2, standingArgs, nullptr, nullptr, 0);
        if (PQresultStatus(r) != PGRES_TUPLES_OK || PQntuples(r) < 1) {
            *failure = "ranking failed: " + Message(conn_);
            PQclear(r);
            return StoreOutcome::kUnavailable;
        }
        out->total = atoi(PQgetvalue(r, 0, 0));
        out->rank = atoi(PQgetvalue(r, 0, 1)) + 1;
        out->top.clear();
        for (int i = 0; i < PQntuples(r); i++)
            if (!PQgetisnull(r, i, 2)) out->top.emplace_back(PQgetvalue(r, i, 2), atoi(PQgetvalue(r, i, 3)));
        PQclear(r);
        return StoreOutcome::kStored;
    }

    PGconn* conn_ = nullptr;
    std::atomic<int> socket_{-1};
};

}  // namespace

std::unique_ptr<ScoreStore> OpenPostgresStore(const std::string& uri, std::string* error, bool* down) {
    return Opened<PostgresStore>(uri, error, down);
}

}  // namespace scores
