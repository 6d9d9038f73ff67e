// Record files for the game: names are relative to the data root; the
// platform layer holds the one open file.
#include <cstring>

#include "KELPCore.h"
#include "../sys/KELPSys.h"

using std::string;

namespace {

string RootedPath(const char* root, const string& name) {
    string path(root);
    path += '/';
    path += name;
    return path;
}

}  // namespace

int KELPCore::WriteFile(string name) { return ASys.WriteFile_Sys(RootedPath(dataRoot, name).c_str()); }

int KELPCore::ReadFile(string name) { return ASys.ReadFile_Sys(RootedPath(dataRoot, name).c_str()); }

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
    char* slot = Tempstr[TempstrUse];
    const char* line = ASys.ReadString_Sys();
    if (!line) line = "";
    // A line is at most 1023 characters, far below a slot.
    strncpy(slot, line, sizeof Tempstr[0] - 1);
    slot[sizeof Tempstr[0] - 1] = 0;
    return TempstrUse;
}

void KELPCore::CloseFile() { ASys.CloseFile_Sys(); }
