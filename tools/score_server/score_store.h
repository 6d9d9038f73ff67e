// Where the scores are kept: a SQLite file (the default, one server) or a
// PostgreSQL database that several servers share. One interface, one file
// per backend (score_store_sqlite.cpp, score_store_postgresql.cpp).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/Records.h"

namespace scores {

// Records as the game writes them (the records library).
using kelp::records::ScoreRecord;

// The columns of a record, as both backends' SQL writes them (each adds its
// own row number and time of arrival).
#define SCORE_COLUMNS                                                                                   \
    " game INTEGER NOT NULL, user_id TEXT NOT NULL, name TEXT NOT NULL, version INTEGER NOT NULL,"     \
    " score INTEGER NOT NULL, extra TEXT NOT NULL,"

// A score's place on its game's board, as the table stands right after it
// went in. The rank and the total come from counts the database keeps beside
// the table (score_counts, kept by triggers on every insert and delete), so
// they cost the same on a board of ten rows or of millions.
struct Standing {
    int rank = 0;   // 1 + the number of higher scores; equal scores share a rank
    int total = 0;  // rows of this game
    std::vector<std::pair<std::string, int>> top;  // up to five (name, score), best first, earlier first on ties
};

// What became of a record sent to the database.
enum class StoreOutcome {
    kStored,       // stored, or found stored already: the standing is filled in
    kRefused,      // the database refused it for good (an error for the insert): not stored
    kUnavailable,  // the database did not answer, or not in full: it may be stored or not
};

class ScoreStore {
public:
    virtual ~ScoreStore() = default;
    // Stores the record unless the very same record is stored already (the
    // game repeats its record on every update the button is held), then
    // reads its standing. On anything but kStored, `failure` says why.
    // One store is used by one thread at a time.
    virtual StoreOutcome StoreAndRank(const ScoreRecord& rec, Standing* out, std::string* failure) = 0;
    // Whether the connection to the database is lost, and making it again.
    virtual bool Broken() const { return false; }
    virtual bool Reconnect(std::string* error) {
        (void)error;
        return true;
    }
    // Breaks off a call in progress on another thread (at exit, with a
    // database that does not answer). Safe from any thread.
    virtual void Interrupt() {}
};

// "postgresql://..." or "postgres://..." names a PostgreSQL database; any
// other text is a SQLite file.
bool IsPostgresUri(const std::string& db);

// How many stores (connections) a server opens to work in parallel: SQLite
// takes one writer at a time; a PostgreSQL server takes several.
int StoreConnections(const std::string& db);

// Opens the database and creates the table (and its kept counts) on first
// use; null with a reason when that fails. `down`, when given, is set when
// the database could not be reached at all (no answer, or starting up): worth
// trying again later, unlike a bad address, a refused login or a failed set-up.
std::unique_ptr<ScoreStore> OpenStore(const std::string& db, std::string* error, bool* down = nullptr);
std::unique_ptr<ScoreStore> OpenSqliteStore(const std::string& path, std::string* error);
std::unique_ptr<ScoreStore> OpenPostgresStore(const std::string& uri, std::string* error, bool* down);

// Makes a store of one backend and opens it; null when that fails.
template <class Store, class... More>
std::unique_ptr<ScoreStore> Opened(const std::string& where, std::string* error, More... more) {
    std::unique_ptr<Store> store(new Store());
    if (!store->Open(where, error, more...)) return nullptr;
    return store;
}

// The kept counts: for each game, eight levels of prefixes of a score's
// eight hexadecimal digits (scores are 0 to 999,999,999, below 16^8), and how
// many scores share each. The scores above a score s are, level by level,
// those whose prefix shares s's shorter prefix and has a greater last digit:
// at most 15 rows a level, whatever the board's size.
const int kCountLevels = 8;
inline int CountShift(int level) { return 4 * (kCountLevels - level); }

// The database as it may be printed: a PostgreSQL URI loses its password.
std::string PrintableDb(const std::string& db);

// The answer's text: "OK", the score, its rank and the top five, each line
// ending in CR LF.
std::string StandingText(int score, const Standing& standing);

}  // namespace scores
