#include "KELPSys.h"

FILE* MyOpenFile = nullptr;
int32_t FileOpen = 0;

// TODO: not built yet.
int KELPSys::WriteFile_Sys(const char* path) { return 0; }
int KELPSys::ReadFile_Sys(const char* path) { return 0; }
void KELPSys::WriteInt_Sys(int v) {}
void KELPSys::WriteByte_Sys(char c) {}
void KELPSys::WriteString_Sys(const char* s) {}
int KELPSys::ReadInt_Sys() { return 0; }
int KELPSys::ReadByte_Sys() { return 0; }
const char* KELPSys::ReadString_Sys() { return ""; }
void KELPSys::CloseFile_Sys() {}
