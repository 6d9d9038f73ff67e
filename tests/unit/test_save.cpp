// Settings and save files: layout, the rolling checksum, the user ID and the
// repair rules that clear a save file that does not belong to the settings.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace fs = std::filesystem;

namespace {

const char* SAVE_NAME = "Save_550_Test Game.sav";

// The checksum worked out independently: 64-bit products reduced to 32 bits
// by hand, then the truncating remainder.
int32_t Wrap32(int64_t x) {
    uint64_t u = (uint64_t)x & 0xFFFFFFFFull;
    return u >= 0x80000000ull ? (int32_t)((int64_t)u - 0x100000000ll) : (int32_t)u;
}

int32_t ExpectedChecksum(const std::vector<int32_t>& saveFile, int32_t id24, int32_t id25, int32_t game) {
    int64_t m1 = id24 % 5 + 3, m2 = id25 % 4 + 4, m3 = game % 6 + 2;
    int32_t c = 0;
    for (int i = 0; i < 100; i++) c = Wrap32(((int64_t)saveFile[i] + game) * m1 + (i + 100 + m2) * m3 + c) % 371653;
    for (int i = 0; i < 22000; i++)
        c = Wrap32(((int64_t)saveFile[100 + i] + game) * m1 + (i + m3) * m2 + c) % 371653;
    return c;
}

// Unpacks a user ID the way the log shows it: 5-bit letters, spaces dropped.
std::string IdText(int32_t a, int32_t b, int32_t c) {
    std::string out;
    for (int32_t v : {a, b, c})
        for (int i = 0; i < 6; i++) {
            int ch = ((v >> (25 - 5 * i)) & 31) + 64;
            if (ch > 64 && ch <= 90) out += (char)ch;
        }
    return out;
}

class SaveFiles : public ::testing::Test {
protected:
    std::string root;
    char savedRoot[sizeof ThisGame.dataRoot];
    std::string out;   // stdout of the last Run

    void SetUp() override {
        char tmpl[] = "/tmp/kelp-save-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        root = tmpl;
        memcpy(savedRoot, ThisGame.dataRoot, sizeof savedRoot);
        snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "%s", root.c_str());
        ThisGame.gameNumber = 550;
        snprintf(ThisGame.gameTitle, sizeof ThisGame.gameTitle, "Test Game");
        memset(ASys.redef, 0, sizeof ASys.redef);
        Restart();
    }
    void TearDown() override {
        ThisGame.CloseFile();
        memcpy(ThisGame.dataRoot, savedRoot, sizeof savedRoot);
        fs::remove_all(root);
    }

    // The memory of a program that has just launched.
    void Restart() {
        memset(ThisGame.saveData, 0, sizeof ThisGame.saveData);
        ThisGame.saveData[0] = 7;
        ThisGame.saveData[1] = 7;
        ThisGame.saveData[101] = 2;
        memset(ThisGame.scoreData, 0, sizeof ThisGame.scoreData);
    }

    // Load with stdout captured; returns the numbered log texts in order.
    std::vector<std::string> Load() {
        testing::internal::CaptureStdout();
        ThisGame.Load();
        out = testing::internal::GetCapturedStdout();
        std::vector<std::string> lines;
        std::istringstream in(out);
        std::string line;
        std::regex numbered("^A? *[0-9]+> (.*)$");
        std::smatch m;
        while (std::getline(in, line))
            if (std::regex_match(line, m, numbered)) lines.push_back(m[1]);
        return lines;
    }

    bool Logged(const std::vector<std::string>& lines, const std::string& text) {
        for (auto& l : lines)
            if (l == text) return true;
        return false;
    }

    std::string PathOf(const std::string& name) { return root + "/" + name; }

    std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::vector<int32_t> Ints(const std::string& name) {
        std::vector<int32_t> v;
        FILE* f = fopen(PathOf(name).c_str(), "rb");
        if (!f) return v;
        unsigned char b[4];
        while (fread(b, 1, 4, f) == 4)
            v.push_back((int32_t)(b[0] | (b[1] << 8) | (b[2] << 16) | ((uint32_t)b[3] << 24)));
        fclose(f);
        return v;
    }

    void PutInts(const std::string& name, const std::vector<int32_t>& v) {
        FILE* f = fopen(PathOf(name).c_str(), "wb");
        ASSERT_NE(nullptr, f);
        for (int32_t x : v) {
            uint32_t u = (uint32_t)x;
            unsigned char b[4] = {(unsigned char)u, (unsigned char)(u >> 8), (unsigned char)(u >> 16),
                                  (unsigned char)(u >> 24)};
            fwrite(b, 1, 4, f);
        }
        fclose(f);
    }

    // A first start, then a game's worth of data saved under that user.
    void Played() {
        Load();
        ThisGame.saveData[100] = 4;
        ThisGame.saveData[101] = 3;
        ThisGame.scoreData[60] = 950;
        ThisGame.scoreData[65] = 120;
        ThisGame.scoreData[21999] = -8;
        ThisGame.Save();
        Restart();
    }

    void ExpectPlayedData() {
        EXPECT_EQ(4, ThisGame.saveData[100]);
        EXPECT_EQ(3, ThisGame.saveData[101]);
        EXPECT_EQ(950, ThisGame.scoreData[60]);
        EXPECT_EQ(120, ThisGame.scoreData[65]);
        EXPECT_EQ(-8, ThisGame.scoreData[21999]);
    }

    void ExpectCleared() {
        for (int i = 100; i < 200; i++) {
            if (i >= 124 && i <= 127) continue;  // the user ID copy is rewritten
            // The level choice falls back to the one set at launch.
            ASSERT_EQ(i == 101 ? 2 : 0, ThisGame.saveData[i]) << i;
        }
        for (int i = 0; i < 22000; i++) ASSERT_EQ(0, ThisGame.scoreData[i]) << i;
    }
};

TEST_F(SaveFiles, FirstStartCreatesUserAndBothFiles) {
    auto lines = Load();
    int32_t* s = ThisGame.saveData;
    ASSERT_EQ(7u, lines.size()) << out;
    EXPECT_EQ("Load Settings", lines[0]);
    // Each read's "Error Reading File" is followed by what it was.
    EXPECT_EQ("No save yet: " + PathOf("Settings.sav") + " (file not found)", lines[1]);
    EXPECT_EQ("Load Scores", lines[2]);
    EXPECT_EQ("No save yet: " + PathOf(SAVE_NAME) + " (file not found)", lines[3]);
    EXPECT_EQ("Reset User", lines[4]);
    EXPECT_EQ("Clearing Scoreboard", lines[5]);
    EXPECT_EQ("User ID '" + IdText(s[24], s[25], s[26]) + "'", lines[6]);
    EXPECT_EQ(2u, (size_t)std::count(out.begin(), out.end(), '\n') - lines.size()) << out;
    EXPECT_NE(std::string::npos, out.find("Error Reading File\n")) << out;

    // Date, time and random parts, and both checks.
    EXPECT_GE(s[24], 19700101);
    EXPECT_LE(s[24] % 100, 31);
    EXPECT_LE(s[25], 235960);
    EXPECT_GE(s[26] % 10000, 1000);
    EXPECT_EQ(s[24] % 37171 + s[25] % 17021 + s[26] % 53496, s[27]);
    for (int i = 0; i < 3; i++) EXPECT_EQ(s[24 + i], s[124 + i]);
    EXPECT_EQ(s[124] % 53496 + s[125] % 37171 + s[126] % 17021, s[127]);
    // The clear keeps the level choice set at launch, and it is saved.
    EXPECT_EQ(2, s[101]);
    EXPECT_EQ(7, s[0]);

    EXPECT_EQ(4496u, fs::file_size(PathOf("Settings.sav")));
    EXPECT_EQ(88404u, fs::file_size(PathOf(SAVE_NAME)));
    auto settings = Ints("Settings.sav");
    auto save = Ints(SAVE_NAME);
    for (int i = 0; i < 100; i++) EXPECT_EQ(s[i], settings[i]) << i;
    EXPECT_EQ(2, save[1]);
    EXPECT_EQ(ExpectedChecksum(save, settings[24], settings[25], 550), save[22100]);
}

TEST_F(SaveFiles, ChecksumOfKnownContent) {
    // Values worked out by an independent script; they include sums that
    // wrap past 32 bits and negative remainders.
    struct Case { int32_t id24, id25, expect; } cases[] = {
        {20260106, 235959, 37192},
        {-7, -6, 253959},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.id24);
        memset(ThisGame.saveData, 0, sizeof ThisGame.saveData);
        memset(ThisGame.scoreData, 0, sizeof ThisGame.scoreData);
        ThisGame.saveData[24] = c.id24;
        ThisGame.saveData[25] = c.id25;
        ThisGame.saveData[100] = 3;
        ThisGame.saveData[101] = 2;
        ThisGame.saveData[150] = 2147483647;
        ThisGame.saveData[199] = -5;
        ThisGame.scoreData[0] = 50;
        ThisGame.scoreData[45] = INT32_MIN;
        ThisGame.scoreData[21999] = 123456789;
        ThisGame.Save();
        auto save = Ints(SAVE_NAME);
        ASSERT_EQ(22101u, save.size());
        EXPECT_EQ(c.expect, save[22100]);
        EXPECT_EQ(2147483647, save[50]);
        EXPECT_EQ(INT32_MIN, save[145]);
    }
}

TEST_F(SaveFiles, SavedDataAndBindingsComeBack) {
    Load();
    int32_t id[4];
    memcpy(id, &ThisGame.saveData[24], sizeof id);
    ThisGame.saveData[5] = 9;
    ThisGame.SetKey(10, 90);    // Z
    ThisGame.SetKey(10, 32);    // Space
    ThisGame.SetKey(3, 65);     // A
    ThisGame.SetKey(3, 513);    // joystick 0 button 13
    int32_t bindings[64][16];
    memcpy(bindings, ASys.redef, sizeof bindings);
    ThisGame.Save();
    Restart();
    Played();   // saves scores over the same user
    memset(ASys.redef, 0, sizeof ASys.redef);
    ThisGame.SetKey(10, 88);   // a launch default that the file replaces

    auto lines = Load();
    EXPECT_FALSE(Logged(lines, "Reset User")) << out;
    EXPECT_FALSE(Logged(lines, "Clearing Scoreboard")) << out;
    ExpectPlayedData();
    EXPECT_EQ(0, memcmp(id, &ThisGame.saveData[24], sizeof id));
    EXPECT_EQ(9, ThisGame.saveData[5]);
    for (int k = 0; k < 64; k++)
        for (int b = 0; b < 16; b++) EXPECT_EQ(bindings[k][b], ASys.redef[k][b]) << k << "," << b;
}

TEST_F(SaveFiles, DamagedSaveFileIsCleared) {
    struct Case { const char* what; int index; int32_t value; size_t keep; } cases[] = {
        {"one score changed", 100 + 60, 951, 22101},
        {"play count changed", 0, 5, 22101},
        {"checksum changed", 22100, 1, 22101},
        {"checksum missing", -1, 0, 22100},
        {"cut short", -1, 0, 250},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        Played();
        auto save = Ints(SAVE_NAME);
        ASSERT_EQ(22101u, save.size());
        if (c.index >= 0) save[c.index] = c.value;
        save.resize(c.keep);
        PutInts(SAVE_NAME, save);

        auto lines = Load();
        EXPECT_TRUE(Logged(lines, "Clearing Scoreboard")) << out;
        EXPECT_FALSE(Logged(lines, "Reset User")) << out;
        ExpectCleared();
        // The repaired file is whole again and loads cleanly.
        Restart();
        lines = Load();
        EXPECT_FALSE(Logged(lines, "Clearing Scoreboard")) << out;
    }
}

TEST_F(SaveFiles, SaveFileOfAnotherUserIsCleared) {
    // Only the random part differs (same checksum multipliers), or the
    // date part differs too.
    struct Case { int32_t d24, d26; } cases[] = {{0, 1}, {1, 0}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.d24);
        Played();
        auto settings = Ints("Settings.sav");
        settings[24] += c.d24;
        settings[26] += c.d26;
        settings[27] = settings[24] % 37171 + settings[25] % 17021 + settings[26] % 53496;
        PutInts("Settings.sav", settings);

        auto lines = Load();
        EXPECT_FALSE(Logged(lines, "Reset User")) << out;
        EXPECT_TRUE(Logged(lines, "Clearing Scoreboard")) << out;
        ExpectCleared();
        EXPECT_EQ(settings[26], ThisGame.saveData[26]);
        EXPECT_EQ(settings[26], ThisGame.saveData[126]);
    }
}

// A damaged settings file makes a new user, and the save of the old one is
// cleared; the player's boards are still kept beside it, each time under a
// name of its own: nothing kept before is ever replaced.
TEST_F(SaveFiles, AClearedSaveIsKeptBesideIt) {
    struct Case { const char* what; size_t keep; int flip; const char* kept; } cases[] = {
        {"settings cut to 0 bytes", 0, -1, ".bad"},
        {"settings cut to 100 bytes", 25, -1, ".2.bad"},
        {"one bit of the user ID flipped", 1124, 26, ".3.bad"},
    };
    std::vector<std::pair<std::string, std::string>> keptSoFar;
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        Played();
        std::string before = Slurp(PathOf(SAVE_NAME));
        ASSERT_EQ(88404u, before.size());
        auto settings = Ints("Settings.sav");
        if (c.flip >= 0) settings[size_t(c.flip)] ^= 1 << 4;
        settings.resize(c.keep);
        PutInts("Settings.sav", settings);

        auto lines = Load();
        const std::string kept = PathOf(std::string(SAVE_NAME) + c.kept);
        EXPECT_TRUE(Logged(lines, "Clearing Scoreboard")) << out;
        EXPECT_TRUE(Logged(lines, "Old save kept as " + kept)) << out;
        keptSoFar.push_back({kept, before});
        for (auto& k : keptSoFar) EXPECT_TRUE(Slurp(k.first) == k.second) << k.first;
        ExpectCleared();
        EXPECT_EQ(88404u, fs::file_size(PathOf(SAVE_NAME)));
    }

    // A damaged save file is kept the same way, beside the earlier ones.
    Played();
    auto save = Ints(SAVE_NAME);
    save[100 + 60] += 1;
    PutInts(SAVE_NAME, save);
    std::string damaged = Slurp(PathOf(SAVE_NAME));
    auto lines = Load();
    const std::string kept = PathOf(std::string(SAVE_NAME) + ".4.bad");
    EXPECT_TRUE(Logged(lines, "Old save kept as " + kept)) << out;
    EXPECT_TRUE(Slurp(kept) == damaged);
    for (auto& k : keptSoFar) EXPECT_TRUE(Slurp(k.first) == k.second) << k.first;

    // A sound start keeps nothing, and a first start has nothing to keep.
    for (auto& k : keptSoFar) fs::remove(k.first);
    fs::remove(kept);
    Restart();
    lines = Load();
    EXPECT_FALSE(fs::exists(keptSoFar[0].first));
    fs::remove(PathOf(SAVE_NAME));
    Restart();
    lines = Load();
    EXPECT_TRUE(Logged(lines, "Clearing Scoreboard")) << out;
    EXPECT_FALSE(fs::exists(keptSoFar[0].first));
}

// Where the settings would be put aside is taken by a folder: the odd
// settings still go aside (under the next free name), the settings are
// written, and the next start keeps its user and its boards; the original
// save, which was cleared once, stays kept.
TEST_F(SaveFiles, ATakenAsideNameNeitherClearsTheBoardsAgainNorLosesASave) {
    Played();
    const std::string original = Slurp(PathOf(SAVE_NAME));
    fs::remove(PathOf("Settings.sav"));
    fs::create_directories(PathOf("Settings.sav/inside"));
    fs::create_directories(PathOf("Settings.sav.bad/inside"));

    auto lines = Load();
    EXPECT_TRUE(Logged(lines, "Clearing Scoreboard")) << out;
    EXPECT_TRUE(Logged(lines, PathOf("Settings.sav") + " was a folder, not a regular file: moved aside as " +
                                  PathOf("Settings.sav.2.bad")))
        << out;
    const std::string kept = PathOf(std::string(SAVE_NAME) + ".bad");
    EXPECT_TRUE(Slurp(kept) == original);
    EXPECT_EQ(4496u, fs::file_size(PathOf("Settings.sav")));
    const int32_t user = ThisGame.saveData[26];

    for (int start = 0; start < 2; start++) {
        Restart();
        lines = Load();
        EXPECT_FALSE(Logged(lines, "Reset User")) << out;
        EXPECT_FALSE(Logged(lines, "Clearing Scoreboard")) << out;
        EXPECT_EQ(user, ThisGame.saveData[26]);
        EXPECT_TRUE(Slurp(kept) == original) << "the kept save is never replaced";
    }
    EXPECT_TRUE(fs::is_directory(PathOf("Settings.sav.bad/inside")));
    EXPECT_TRUE(fs::is_directory(PathOf("Settings.sav.2.bad/inside")));
}

TEST_F(SaveFiles, WrongUserCheckPrintsAAndMakesANewUser) {
    Played();
    auto settings = Ints("Settings.sav");
    settings[27] += 1;
    PutInts("Settings.sav", settings);

    auto lines = Load();
    // "A" goes out without a line feed, just before the next log line.
    std::smatch m;
    EXPECT_TRUE(std::regex_search(out, m, std::regex("(^|\n)A *[0-9]+> Load Scores\n"))) << out;
    EXPECT_TRUE(Logged(lines, "Reset User")) << out;
    EXPECT_TRUE(Logged(lines, "Clearing Scoreboard")) << out;
    ExpectCleared();
    int32_t* s = ThisGame.saveData;
    EXPECT_EQ(s[24] % 37171 + s[25] % 17021 + s[26] % 53496, s[27]);

    // A sound settings file prints no "A".
    Restart();
    Load();
    EXPECT_FALSE(std::regex_search(out, std::regex("(^|\n)A"))) << out;
}

TEST_F(SaveFiles, ShortSettingsFileKeepsTheRestOfTheDefaults) {
    Played();
    auto settings = Ints("Settings.sav");
    settings[3] = 6;
    settings.resize(40);
    PutInts("Settings.sav", settings);
    ThisGame.saveData[60] = 42;      // a launch default beyond the short file
    ThisGame.SetKey(12, 67);         // C, a binding the file no longer holds

    auto lines = Load();
    EXPECT_FALSE(Logged(lines, "Reset User")) << out;
    EXPECT_FALSE(Logged(lines, "Clearing Scoreboard")) << out;
    EXPECT_EQ(6, ThisGame.saveData[3]);
    EXPECT_EQ(42, ThisGame.saveData[60]);
    EXPECT_EQ(67, ThisGame.KeyValue(12, 63));
    ExpectPlayedData();
}

// A folder in place of the settings and a device in place of the save are
// not read: the game starts with its defaults and a new user, as on a first
// start, and the next save puts them aside and writes both files.
TEST_F(SaveFiles, SettingsAndSaveThatAreNotFilesGiveDefaults) {
    Played();
    fs::remove(PathOf("Settings.sav"));
    fs::create_directories(PathOf("Settings.sav/inside"));
    fs::remove(PathOf(SAVE_NAME));
    ASSERT_EQ(0, symlink("/dev/zero", PathOf(SAVE_NAME).c_str()));

    auto lines = Load();
    EXPECT_TRUE(Logged(lines, "Skipped " + PathOf("Settings.sav") + ": it is a folder, not a regular file")) << out;
    EXPECT_TRUE(Logged(lines, "Skipped " + PathOf(SAVE_NAME) + ": it is a character device, not a regular file"))
        << out;
    EXPECT_TRUE(Logged(lines, "Reset User")) << out;
    EXPECT_EQ(7, ThisGame.saveData[0]);
    ExpectCleared();
    EXPECT_TRUE(fs::is_directory(PathOf("Settings.sav.bad/inside")));
    EXPECT_TRUE(fs::is_symlink(PathOf(std::string(SAVE_NAME) + ".bad")));
    EXPECT_EQ(4496u, fs::file_size(PathOf("Settings.sav")));
    EXPECT_EQ(88404u, fs::file_size(PathOf(SAVE_NAME)));

    // The files written are the game's again.
    Restart();
    lines = Load();
    EXPECT_FALSE(Logged(lines, "Reset User")) << out;
    EXPECT_FALSE(Logged(lines, "Clearing Scoreboard")) << out;
}

TEST_F(SaveFiles, InterruptedSaveLeavesThePreviousSaveLoadable) {
    Played();
    // A save that dies before it is closed: data written, never renamed.
    ASSERT_EQ(1, ThisGame.WriteFile(SAVE_NAME));
    for (int i = 0; i < 5000; i++) ThisGame.WriteInt(0);
    fflush(MyOpenFile);
    fclose(MyOpenFile);
    MyOpenFile = nullptr;
    FileOpen = 0;
    const std::string temp = PathOf(SAVE_NAME) + "." + std::to_string(getpid()) + ".tmp";
    ASSERT_TRUE(fs::exists(temp));

    auto lines = Load();
    EXPECT_FALSE(Logged(lines, "Clearing Scoreboard")) << out;
    ExpectPlayedData();
    EXPECT_FALSE(fs::exists(temp));
    EXPECT_EQ(88404u, fs::file_size(PathOf(SAVE_NAME)));
}

}  // namespace
