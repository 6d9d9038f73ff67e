#include "KELPCore.h"

// TODO: not built yet.
int KELPCore::WriteFile(string name) { return 0; }
int KELPCore::ReadFile(string name) { return 0; }
void KELPCore::WriteInt(int v) {}
void KELPCore::WriteByte(char c) {}
void KELPCore::WriteLine(string s) {}
void KELPCore::WriteString(string s) {}
int KELPCore::ReadInt() { return 0; }
int KELPCore::ReadByte() { return 0; }
string KELPCore::ReadLine() { return string(); }
int KELPCore::ReadString() { return 0; }
void KELPCore::CloseFile() {}
