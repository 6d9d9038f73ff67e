// Score records: the scramble a game puts on a record, the escaping of the
// value in the request, and the server's reading of a request, its value and
// the record. The framework and the score server both link this alone: it
// needs nothing but the C++ library, so a server needs no window system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelp::records {

// ---- The scramble -----------------------------------------------------------------
// A keyword and a game number make a table of 64 offsets; each character of a
// text moves forward in the 92 codes 32 (' ') .. 123 ('{') by a running sum of
// the table. Characters outside that range count as spaces.
struct Scrambler {
    char scrambleKeyword[1024] = {};
    int8_t scrambleTable[64] = {};

    // Keeps the keyword (cut to 1023 bytes) and rebuilds the table.
    void SetKeyword(const std::string& keyword, int gameNumber);
    // Rebuilds the table from the keyword and the game number; an empty
    // keyword or a game number of 0 or less keeps the table as it is.
    void Rescramble(int gameNumber);
    std::string ScrambleTxt(const std::string& text) const;
    // The inverse of ScrambleTxt for text in the 92-code range.
    std::string UnscrambleTxt(const std::string& text) const;

private:
    std::string Shift(const std::string& text, int direction) const;
};

// The request's escaping of a value: characters that mean something in a URL
// or to the server become "*!X!*" codes, control bytes "%XX", and bytes
// 128..255 are dropped; the value ends at its first NUL.
std::string EscapeValue(const std::string& value);

// ---- The server's reading ---------------------------------------------------------------
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

}  // namespace kelp::records
