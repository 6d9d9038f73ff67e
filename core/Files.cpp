// Record files for the game: names are relative to the save folder, which
// is the data root unless that cannot be written; the platform layer holds
// the one open file.
#include <cctype>
#include <cstring>
#include <vector>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

using std::string;

namespace {

string RootedPath(const char* root, const string& name) {
    string path(root);
    path += '/';
    path += name;
    return path;
}

// The data root the save folder was chosen for, and the choice.
bool saveFolderChosen = false;
string saveFolderRoot, saveFolder;

// The player's data folder is named after the program's file, which an
// installed game shares with its data (/usr/games/<name> and
// /usr/share/games/<name>/): it stays the same from one start to the next
// and is already a file name. Characters other than letters, digits and
// ". _ - +" become '_'.
string PlayerFolderName(int gameNumber) {
    string file = KELPSys::ProgramFile();
    string name = file.substr(file.rfind('/') + 1);
    for (char& c : name)
        if (!isalnum((unsigned char)c) && !strchr("._-+", c)) c = '_';
    if (name.empty() || name[0] == '.') name = "kelp-game-" + std::to_string(gameNumber);
    return name;
}

}  // namespace

const char* KELPCore::SaveFolder() {
    if (saveFolderChosen && saveFolderRoot == dataRoot) return saveFolder.c_str();
    saveFolderChosen = true;
    saveFolderRoot = dataRoot;
    saveFolder = dataRoot;
    if (!KELPSys::FolderReadOnly(dataRoot)) return saveFolder.c_str();
    std::vector<string> refused;
    bool temporary = false;
    string player = KELPSys::PlayerDataFolder(PlayerFolderName(gameNumber), refused, temporary);
    // Screenshot names are sized for the longest data root.
    if (player.size() >= sizeof dataRoot) {
        refused.push_back(player + ": too long a path");
        player.clear();
    }
    // Said once, where the saves could not go and why, then where they go.
    for (const string& line : refused) KELPSys::Debuglog(("Saves cannot go to " + line).c_str());
    if (player.empty()) {
        KELPSys::Debuglog(("Saves cannot be kept: " + saveFolderRoot + " cannot be written, nor any folder of the "
                           "player's")
                              .c_str());
    } else if (temporary) {
        saveFolder = player;
        KELPSys::Debuglog(("Saves go to " + player + ", in the system's temporary folder, which may be emptied at "
                           "a restart (" + saveFolderRoot + " cannot be written)")
                              .c_str());
    } else {
        saveFolder = player;
        KELPSys::Debuglog(("Saves go to " + player + " (" + saveFolderRoot + " cannot be written)").c_str());
    }
    return saveFolder.c_str();
}

int KELPCore::WriteFile(string name) { return ASys.WriteFile_Sys(RootedPath(SaveFolder(), name).c_str()); }

int KELPCore::ReadFile(string name) {
    const char* folder = SaveFolder();
    string path = RootedPath(folder, name);
    // A data root that cannot be written may still hold what earlier plays
    // saved there: what the player's folder does not have yet is read there.
    if (strcmp(folder, dataRoot) != 0 && !KELPSys::PathExists(path) &&
        KELPSys::PathExists(RootedPath(dataRoot, name)))
        path = RootedPath(dataRoot, name);
    return ASys.ReadFile_Sys(path.c_str());
}

string KELPCore::MoveAside(string name) {
    const string path = RootedPath(SaveFolder(), name);
    string why;
    const string aside = KELPSys::MoveAside(path, why);
    if (aside.empty()) KELPSys::Debuglog(("Not moved aside: " + path + " (" + why + ")").c_str());
    return aside;
}

void KELPCore::WriteInt(int v) { ASys.WriteInt_Sys(v); }

void KELPCore::WriteByte(char c) { ASys.WriteByte_Sys(c); }

void KELPCore::WriteLine(string s) { ASys.WriteString_Sys(s.c_str()); }

void KELPCore::WriteString(string s) { ASys.WriteString_Sys(s.c_str()); }

int KELPCore::ReadInt() { return ASys.ReadInt_Sys(); }

int KELPCore::ReadByte() { return ASys.ReadByte_Sys(); }

string KELPCore::ReadLine() {
    // With no file open there is no line: an empty text.
    const char* line = ASys.ReadString_Sys();
    return line ? string(line) : string();
}

int KELPCore::ReadString() {
    TempstrUse = (TempstrUse + 1) % 30;
    char(&Tempstr)[30][16384] = StateOf(*this).Tempstr;
    char* slot = Tempstr[TempstrUse];
    const char* line = ASys.ReadString_Sys();
    if (!line) line = "";
    // A line is at most 1023 characters, far below a slot.
    strncpy(slot, line, sizeof Tempstr[0] - 1);
    slot[sizeof Tempstr[0] - 1] = 0;
    return TempstrUse;
}

void KELPCore::CloseFile() { ASys.CloseFile_Sys(); }
