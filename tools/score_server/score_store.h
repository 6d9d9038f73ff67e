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
// went in.
struct Standing {
    int rank = 0;   // 1 + the number of higher scores; equal scores share a rank
    int total = 0;  // rows of this game
    std::vector<std::pair<std::string, int>> top;  // up to five (name, score), best first, earlier first on ties
};

class ScoreStore {
public:
    virtual ~ScoreStore() = default;
    // Stores the record unless the very same record is stored already (the
    // game repeats its record on every update the button is held), then
    // reads its standing. False, with the database's reason, on a failure.
    // One store is used by one thread at a time.
    virtual bool StoreAndRank(const ScoreRecord& rec, Standing* out, std::string* failure) = 0;
};

// "postgresql://..." or "postgres://..." names a PostgreSQL database; any
// other text is a SQLite file.
bool IsPostgresUri(const std::string& db);

// How many stores (connections) a server opens to work in parallel: SQLite
// takes one writer at a time; a PostgreSQL server takes several.
int StoreConnections(const std::string& db);

// Opens the database and creates the table on first use; null with a
// reason when that fails.
std::unique_ptr<ScoreStore> OpenStore(const std::string& db, std::string* error);
std::unique_ptr<ScoreStore> OpenSqliteStore(const std::string& path, std::string* error);
std::unique_ptr<ScoreStore> OpenPostgresStore(const std::string& uri, std::string* error);

// Makes a store of one backend and opens it; null when that fails.
template <class Store>
std::unique_ptr<ScoreStore> Opened(const std::string& where, std::string* error) {
    std::unique_ptr<Store> store(new Store());
    if (!store->Open(where, error)) return nullptr;
    return store;
}

// The database as it may be printed: a PostgreSQL URI loses its password.
std::string PrintableDb(const std::string& db);

// The answer's text: "OK", the score, its rank and the top five, each line
// ending in CR LF.
std::string StandingText(int score, const Standing& standing);

}  // namespace scores
