#include "KELPCore.h"

// TODO: not built yet.
void KELPCore::PollInput(int invertY) {}
int KELPCore::PlayKey(int type) { return 0; }
int KELPCore::PlayKeyAll(int type) { return 0; }
float KELPCore::Joy(int n) { return 0; }
int KELPCore::JoyDown(int button) { return 0; }
int KELPCore::JoyDown(int button, int pad) { return 0; }
float KELPCore::JoyAxis(int axis) { return 0; }
float KELPCore::JoyAxis(int axis, int pad) { return 0; }
float KELPCore::MouseX() { return 0; }
float KELPCore::MouseY() { return 0; }
float KELPCore::TouchX() { return 0; }
float KELPCore::TouchY() { return 0; }
float KELPCore::MouseX(int i) { return 0; }
float KELPCore::MouseY(int i) { return 0; }
float KELPCore::TouchX(int i) { return 0; }
float KELPCore::TouchY(int i) { return 0; }
int KELPCore::MouseDown() { return 0; }
int KELPCore::TouchDown() { return 0; }
int KELPCore::MouseDown_Alt() { return 0; }
int KELPCore::TouchDown_Alt() { return 0; }
int KELPCore::MouseHeld() { return 0; }
int KELPCore::TouchHeld() { return 0; }
int KELPCore::MouseDown(int i) { return 0; }
int KELPCore::TouchDown(int i) { return 0; }
int KELPCore::MouseDown_Alt(int i) { return 0; }
int KELPCore::TouchDown_Alt(int i) { return 0; }
int KELPCore::MouseHeld(int i) { return 0; }
int KELPCore::TouchHeld(int i) { return 0; }
int KELPCore::mdall() { return 0; }
int KELPCore::MouseIn(float x, float y, float w, float h) { return 0; }
int KELPCore::MouseIn_Centered(float cx, float cy, float w, float h) { return 0; }
int KELPCore::MouseIn_Radius(float x, float y, float r) { return 0; }
int KELPCore::Button(int image, float x, float y, int frame) { return 0; }
void KELPCore::LockForGet() {}
int KELPCore::GetKey() { return 0; }
void KELPCore::SetKey(int action, int code) {}
int KELPCore::KeyValue(int action, int slot) { return 0; }
void KELPCore::FlushKeys() {}
string KELPCore::KeyName(int code) { return string(); }
