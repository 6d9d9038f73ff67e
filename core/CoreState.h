// The framework's own side of KELPCore: the state it keeps for a game object
// and the core's helpers. For the framework's files, the demo and the tests;
// never installed, never seen by a game.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <initializer_list>

#include "KELPCore.h"
#include "Records.h"

namespace kelp {

struct CoreState {
    // The temporary-string ring of fstr, tstr, nth and ReadString.
    char Tempstr[30][16384];
    // The score scramble's keyword and table (SetKeyword, SetNum, SetTitle).
    records::Scrambler scramble;
    // When the statistics line's update and render rates were last sampled.
    int32_t updateSec, renderSec;
};

extern int32_t TempstrUse;                          // the ring's last slot, shared by every object
extern int32_t UpdateCountLive, RenderCountLive;    // polls and renders since the last rate sample
extern clock_t GameStartTime;                       // StartTick
extern int32_t jRand_Seed, jRand_Count, jRand_Bit, jRand_Plus, jRand_Out, jRand_tSeed;   // Rnd's state
extern const char jRand_Txt[257];                   // Rnd's table

// Starts the millisecond clock at 0 (Begin).
void StartClock();
// Rebuilds the scramble table from the keyword and the game's number.
void Rescramble(KELPCore& game);
// The next screenshot's name, taken at every poll.
void PrepareScreenshotName(KELPCore& game);
// Test builds: logs the keys each poll saw, and the focus.
void TraceKeys(KELPCore& game);
// The rate shown for `count` events in a sample of elapsedMs (normally just
// over a second), scaled to one second.
int RatePerSecond(int count, int elapsedMs);
// Sets a block of the program's own memory to zero; large blocks cheaply,
// without making them resident.
void Zero(void* block, size_t bytes);

// Bad values in a drawing or sound call. Finite is true when every value is
// a finite number, NotNaN when none is NaN (infinities are then clamped
// like any value out of range). Otherwise the call named `call` is ignored:
// the log says so once for that call, with what happens instead (`instead`,
// "nothing drawn" say).
bool Finite(const char* call, std::initializer_list<float> values, const char* instead);
bool NotNaN(const char* call, std::initializer_list<float> values, const char* instead);

}  // namespace kelp
