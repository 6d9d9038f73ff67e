#!/bin/sh
# Runs the benchmarks one after another on private Xvfb displays and prints
# their tables: the demo's scenes beside the plain-GL menu frame and the
# empty frame; the loop's CPU between frames beside a paced plain-GL frame,
# and how late it wakes; each scene's render beside the replay of its own GL
# calls (apitrace); then the sprites beside their plain-GL reference. Builds
# nothing: build the bench_* targets first (scripts/setup.sh builds
# everything).
#   sh bench/run.sh [build directory] [frames per scene]     (default: build 200)
set -e
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
FRAMES="${2:-200}"
# Sound through OpenAL's wave device into /dev/null, so that the effects are
# really loaded and mixed as in the game, on a machine without a sound card.
CONF="$(mktemp)"
trap 'rm -f "$CONF"' EXIT
printf '[wave]\nfile=/dev/null\n' >"$CONF"
export ALSOFT_DRIVERS=wave ALSOFT_CONF="$CONF"
echo "Load average: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"
echo
python3 tests/harness/with_xvfb.py "$BUILD/bench/bench_scenes" "$FRAMES" 2>/dev/null | grep -v '^ *[0-9]*> '
echo
python3 tests/harness/with_xvfb.py "$BUILD/bench/bench_cpu" 2>/dev/null | grep -v -e '^ *[0-9]*> ' -e '^-=-' -e '^Root ' -e '^$'
echo
python3 bench/replay.py --build "$BUILD"
echo
sh bench/run_sprites.sh "$BUILD"
echo
echo "Load average: $(cut -d' ' -f1-3 /proc/loadavg)"
