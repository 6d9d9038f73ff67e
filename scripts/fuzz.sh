#!/bin/bash
# Builds the libFuzzer targets with clang and runs each one for a bounded time
# on a scratch copy of its seed corpus. Exits non-zero on any crash, leak,
# time-out, memory blow-up or sanitizer report, naming the saved input.
#
#   FUZZ_SECONDS     seconds per target (default 20)
#   FUZZ_JOBS        targets run at once (default 2)
#   FUZZ_BUILD_DIR   the clang build tree (default <repo>/build-fuzz)
#   FUZZ_ARTIFACTS   where failing inputs are kept (default <build>/fuzz-artifacts)
#   FUZZ_TARGETS     only these targets, e.g. "fuzz_wav fuzz_http"
# A tree that already has the fuzz targets switched on is built as it is
# configured (it may serve the sanitizer test run too); any other is
# configured for fuzzing with clang.
if [ -z "${BASH_VERSION:-}" ]; then exec bash "$0" "$@"; fi
set -u
cd "$(dirname "$0")/.."
REPO=$(pwd)
SECONDS_EACH=${FUZZ_SECONDS:-20}
JOBS=${FUZZ_JOBS:-2}
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
case "$BUILD" in /*) ;; *) BUILD=$REPO/$BUILD ;; esac
ARTIFACTS=${FUZZ_ARTIFACTS:-$BUILD/fuzz-artifacts}
start=$(date +%s)

case "$SECONDS_EACH$JOBS" in
  *[!0-9]*) echo "fuzz: FUZZ_SECONDS and FUZZ_JOBS must be whole numbers" >&2; exit 2 ;;
esac
[ "$JOBS" -ge 1 ] || JOBS=1

# ---- clang with libFuzzer and the sanitizers --------------------------------
if ! command -v clang >/dev/null 2>&1 || ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang/clang++ not found; the fuzz targets need clang's libFuzzer (Debian: clang libclang-rt-14-dev)" >&2
  exit 3
fi
probe=$(mktemp -d)
printf '#include <cstdint>\n#include <cstddef>\nextern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n' >"$probe/p.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >"$probe/log" 2>&1; then
  echo "fuzz: clang++ cannot link a libFuzzer target with the sanitizers (Debian: libclang-rt-14-dev):" >&2
  cat "$probe/log" >&2
  rm -rf "$probe"
  exit 3
fi
rm -rf "$probe"

# ---- Build --------------------------------------------------------------------
if [ -n "${FUZZ_TARGETS:-}" ]; then
  targets=$FUZZ_TARGETS
else
  targets=$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
fi
echo "fuzz: building $(echo $targets) in $BUILD"
if ! grep -q '^KELP_FUZZ:BOOL=ON' "$BUILD/CMakeCache.txt" 2>/dev/null; then
  conflog=$(mktemp)
  if ! cmake -S "$REPO" -B "$BUILD" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
       -DKELP_FUZZ=ON -DKELP_TESTS=OFF -DKELP_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$conflog" 2>&1; then
    cat "$conflog" >&2
    rm -f "$conflog"
    echo "fuzz: configuring $BUILD failed" >&2
    exit 4
  fi
  rm -f "$conflog"
fi
if ! cmake --build "$BUILD" -j2 --target $targets >"$BUILD/fuzz-build.log" 2>&1; then
  tail -40 "$BUILD/fuzz-build.log" >&2
  echo "fuzz: build failed (full log: $BUILD/fuzz-build.log)" >&2
  exit 4
fi
built=$(date +%s)
echo "fuzz: built in $((built - start)) s; running each target for $SECONDS_EACH s, $JOBS at a time"

# ---- Run ----------------------------------------------------------------------
WORK=$(mktemp -d "${TMPDIR:-/tmp}/kelp-fuzz-XXXXXX")
# The targets' per-input files go to memory when the machine has it.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  SCRATCH=$(mktemp -d /dev/shm/kelp-fuzz-XXXXXX)
else
  SCRATCH=$WORK/scratch
  mkdir -p "$SCRATCH"
fi
pids=""
cleanup() {
  # Each runner is a subshell whose child is the fuzzer itself.
  for p in $pids; do
    pkill -TERM -P "$p" 2>/dev/null
    kill "$p" 2>/dev/null
  done
  rm -rf "$WORK" "$SCRATCH"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -p "$ARTIFACTS"

# Sanitizer findings end the run and leave the input behind; UBSan would
# otherwise only print and carry on.
export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
# Leaks inside libraries we do not own are listed there; ours stay fatal.
export LSAN_OPTIONS="suppressions=$REPO/tests/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export KELP_FUZZ_SCRATCH=$SCRATCH

run_one() {
  local t=$1
  local corpus=$WORK/corpus/$t
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$t" ] && cp -R "fuzz/corpus/$t/." "$corpus/"
  "$BUILD/fuzz/$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$ARTIFACTS/$t-" "$corpus" >"$WORK/$t.log" 2>&1
  echo $? >"$WORK/$t.rc"
}

running=0
for t in $targets; do
  if [ ! -x "$BUILD/fuzz/$t" ]; then
    echo "fuzz: $t was not built" >&2
    echo 4 >"$WORK/$t.rc"
    continue
  fi
  run_one "$t" &
  pids="$pids $!"
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait
pids=""

# ---- Report -------------------------------------------------------------------
failed=0
for t in $targets; do
  rc=$(cat "$WORK/$t.rc" 2>/dev/null || echo 4)
  log=$WORK/$t.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" 2>/dev/null | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" 2>/dev/null | tail -1)
  # A sanitizer report counts even where the process got to exit 0.
  if [ "$rc" = 0 ] && grep -qE 'ERROR: (Address|Leak|Undefined)Sanitizer|runtime error:|==ERROR' "$log"; then rc=1; fi
  if [ "$rc" = 0 ]; then
    echo "fuzz: $t ok (${runs:-?} runs, ${cov:-cov: ?})"
    continue
  fi
  failed=1
  echo "fuzz: $t FAILED (exit $rc)" >&2
  grep -E 'ERROR:|runtime error:|ALARM|out-of-memory|deadly signal|SUMMARY' "$log" | head -12 >&2
  saved=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log")
  if [ -n "$saved" ]; then
    for s in $saved; do echo "fuzz: $t failing input saved to $s" >&2; done
    echo "fuzz: replay with $BUILD/fuzz/$t <input>" >&2
  else
    echo "fuzz: $t left no input; last lines of its log:" >&2
    tail -20 "$log" >&2
  fi
done

echo "fuzz: done in $(($(date +%s) - start)) s"
exit $failed
