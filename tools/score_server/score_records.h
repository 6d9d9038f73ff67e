// Reading score submissions: the query of a request, the escaped value, and
// the fields of the unscrambled record.
#pragma once

#include <string>

namespace scores {

// One accepted score record:
//   "<user id digits>{<name>{<game %04d>{<version %04d>{<score %04d>{"
//   then three "<int>{<int>{" pairs and "KELP{".
// The field after the version is the score: it is the only free number the
// game formats with the others, and the game sends 0 there until it has a
// real result to report. The pairs are kept as they came, in `extra`.
struct ScoreRecord {
    std::string userId;
    std::string name;
    int game = 0;
    int version = 0;
    int score = 0;
    std::string extra;  // "10{1{15{2{20{3" for the demo
};

const size_t kMaxEscapedLength = 1024;  // a real record escapes to a few hundred bytes
const size_t kMaxNameLength = 32;

// Splits "/Scores.php?Game=<n>&Score=<value>" into its two values, raw.
// False, with a reason, for any other path or a missing, repeated or empty key.
bool ParseQuery(const std::string& target, std::string* game, std::string* score, std::string* why);

// Undoes the query-value escaping. Anything the escaping could not have
// produced (bytes outside 33..126, characters that must arrive escaped)
// is refused. An unknown "*!X!*" sequence is taken as plain characters: the
// record check that follows then fails on the shifted text.
bool UnescapeValue(const std::string& raw, std::string* out, std::string* why);

// Checks the fields of an unscrambled record against the expected game.
bool ParseRecord(const std::string& plain, int game, ScoreRecord* out, std::string* why);

}  // namespace scores
