// Settings ("Settings.sav": options and key bindings) and the per-game save
// file (plays, level choice and the scoreboards), tied to a per-installation
// user ID and protected by a rolling checksum.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "MyGame.h"

namespace {

const int32_t CHECK_MOD = 371653;
// Values read from the settings file below this are missing data.
const int32_t LOWEST_VALUE = -37170;
// The settings file's bindings: every slot (KeyValue's 0..63) of each of
// the 16 actions; the file's layout, whatever the framework adds.
const int BOUND_ACTIONS = 16, BINDING_SLOTS = 64;
// The user ID's entries: yyyymmdd, hhmmss and a random number.
const int ID_WORDS = 3;

// One step of the rolling checksum: ((v + game)*ma + (i + mb)*mc + c) mod
// 371653 in 32-bit signed arithmetic whose sums and products wrap; done in
// unsigned arithmetic so the wrap is defined.
int32_t Fold(int32_t c, int32_t v, int32_t game, int32_t ma, int32_t i, int32_t mb, int32_t mc) {
    uint32_t t = ((uint32_t)v + (uint32_t)game) * (uint32_t)ma + ((uint32_t)i + (uint32_t)mb) * (uint32_t)mc +
                 (uint32_t)c;
    return (int32_t)t % CHECK_MOD;
}

int32_t AddWrap(int32_t a, int32_t b) { return (int32_t)((uint32_t)a + (uint32_t)b); }

int32_t UserCheck(const int32_t* id) { return AddWrap(AddWrap(id[0] % 37171, id[1] % 17021), id[2] % 53496); }

int32_t CopyCheck(const int32_t* id) { return AddWrap(AddWrap(id[0] % 53496, id[1] % 37171), id[2] % 17021); }

struct Multipliers {
    int32_t m1, m2, m3;
};

Multipliers SaveMultipliers(const MyGame& g) {
    const int32_t* id = &g.saveData[MyGame::SAVE_USER_ID];
    return {id[0] % 5 + 3, id[1] % 4 + 4, g.gameNumber % 6 + 2};
}

std::string SaveName(const MyGame& g) {
    char name[1100];
    snprintf(name, sizeof name, "Save_%i_%s.sav", (int)g.gameNumber, g.gameTitle);
    return name;
}

// The save is about to be cleared and overwritten; it may well be intact and
// only refused because the settings file (and its user ID) was damaged. The
// old file is kept beside it, under a name no earlier one has taken.
void KeepRejectedSave(MyGame& g) {
    const std::string kept = g.MoveAside(SaveName(g));
    // Built as a string: a long data root would not fit a temporary one.
    if (!kept.empty()) g.Debuglog(("Old save kept as " + kept).c_str());
}

}  // namespace

void MyGame::Save() {
    WriteFile("Settings.sav");
    for (int i = SAVE_SETTINGS_FIRST; i < SAVE_SETTINGS_END; i++) WriteInt(saveData[i]);
    for (int b = 0; b < BOUND_ACTIONS; b++)
        for (int k = 0; k < BINDING_SLOTS; k++) WriteInt(KeyValue(b, k));
    CloseFile();

    Multipliers m = SaveMultipliers(*this);
    int32_t c = 0;
    WriteFile(SaveName(*this));
    for (int i = SAVE_GAME_FIRST; i < SAVE_GAME_END; i++) {
        WriteInt(saveData[i]);
        c = Fold(c, saveData[i], gameNumber, m.m1, i, m.m2, m.m3);
    }
    for (int i = 0; i < 22000; i++) {
        WriteInt(scoreData[i]);
        c = Fold(c, scoreData[i], gameNumber, m.m1, i, m.m3, m.m2);
    }
    WriteInt(c);
    CloseFile();
}

void MyGame::Load() {
    Debuglog("Load Settings");
    if (ReadFile("Settings.sav") == 1) {
        for (int i = SAVE_SETTINGS_FIRST; i < SAVE_SETTINGS_END; i++) {
            int v = ReadInt();
            if (v >= LOWEST_VALUE) saveData[i] = v;
        }
        for (int b = 0; b < BOUND_ACTIONS; b++)
            for (int k = 0; k < BINDING_SLOTS; k++) {
                int v = ReadInt();
                if (v >= LOWEST_VALUE) SetKey(b, v);
            }
        CloseFile();
    }
    // The user ID and the copy of it that the save file was written for.
    int32_t* const id = &saveData[SAVE_USER_ID];
    int32_t* const copy = &saveData[SAVE_USER_ID_COPY];
    if (saveData[SAVE_USER_CHECK] != UserCheck(id)) {
        fputs("A", stdout);
        id[0] = id[1] = id[2] = 0;
    }

    Debuglog("Load Scores");
    // The level row chosen at launch, for a save file that holds none.
    const int32_t launchLevel = saveData[SAVE_LEVEL];
    int32_t c = 0, stored = 5;
    int missing = 1;
    if (ReadFile(SaveName(*this)) == 1) {
        missing = 0;
        Multipliers m = SaveMultipliers(*this);
        for (int i = SAVE_GAME_FIRST; i < SAVE_GAME_END; i++) {
            saveData[i] = ReadInt();
            c = Fold(c, saveData[i], gameNumber, m.m1, i, m.m2, m.m3);
        }
        for (int i = 0; i < 22000; i++) {
            scoreData[i] = ReadInt();
            c = Fold(c, scoreData[i], gameNumber, m.m1, i, m.m3, m.m2);
        }
        stored = ReadInt();
    }
    if (c != stored) copy[0] = copy[1] = copy[2] = 0;
    CloseFile();
    if (saveData[SAVE_USER_CHECK_COPY] != CopyCheck(copy)) copy[0] = copy[1] = copy[2] = 0;
    if (missing)
        for (int i = 0; i < ID_WORDS; i++) copy[i] = id[i];
    for (int i = 0; i < ID_WORDS; i++)
        if (copy[i] != id[i]) c = 0;

    if (id[0] == 0 && id[1] == 0 && id[2] == 0) {
        Debuglog("Reset User");
        id[0] = Date_Year() * 10000 + Date_Month() * 100 + Date_Day();
        id[1] = Time_Hour() * 10000 + Time_Minute() * 100 + Time_Second();
        SeedRnd();
        for (int i = 0; i < 100; i++) Rnd(10);
        id[2] = (int32_t)((float)((Mills() % 1000) * 10000) + Rnd(1000, 9999));
        saveData[SAVE_USER_CHECK] = UserCheck(id);
    }

    if (c != stored) {
        Debuglog("Clearing Scoreboard");
        if (!missing) KeepRejectedSave(*this);
        for (int i = SAVE_GAME_FIRST; i < SAVE_GAME_END; i++) saveData[i] = 0;
        for (int i = 0; i < 22000; i++) scoreData[i] = 0;
    }
    // Rows count from 1: a 0 here (a cleared save, or one saved so by an
    // earlier version) is no choice, and the list would show it as its last
    // row.
    if (saveData[SAVE_LEVEL] < 1) saveData[SAVE_LEVEL] = launchLevel;
    for (int i = 0; i < ID_WORDS; i++) copy[i] = id[i];
    saveData[SAVE_USER_CHECK_COPY] = CopyCheck(copy);

    Debuglog(fstr("User ID '%s'", Strip(SixDigitString(id[0], id[1], id[2])).c_str()));
    Save();
}
