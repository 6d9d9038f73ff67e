// The Ogg Vorbis decoder of the browser build: stb_vorbis compiled in from
// its Debian header, as there is no library for the browser to link.
#include <stb/stb_vorbis.h>
