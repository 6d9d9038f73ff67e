// A browser's OpenAL ships no extensions header. The shared audio code names
// one extension token, and asks whether the extension is present before it
// uses it: a browser says it is not.
#pragma once
#define AL_STEREO_ANGLES 0x1030
