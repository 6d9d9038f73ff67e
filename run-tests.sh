#!/bin/sh
# Quick start (2): install what is missing, build, and run the whole test
# suite; then the suite again built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then each fuzzer for a bounded time.
# KELP_QUICK=1 runs the first pass only.
set -e
cd "$(dirname "$0")"
ROOT="$(pwd)"
sh scripts/setup.sh

echo "== Test suite"
(cd build && ctest --output-on-failure -j2 --timeout 900)

[ -n "$KELP_QUICK" ] && exit 0

echo "== Test suite with AddressSanitizer and UndefinedBehaviorSanitizer"
# One clang tree serves both the sanitizer run and the fuzzers.
CC=clang CXX=clang++ cmake -S . -B build-san -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELP_FUZZ=ON -DKELP_TESTS=ON -DKELP_BENCH=OFF -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build-san -j"$(nproc)"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
# Leaks are checked in every process that draws nothing. A process that opens
# a GL window exits with the GL driver already unloaded, so the driver's own
# allocations are reported from an unknown module that no suppression can
# name; there leak checking is off, every other ASan and UBSan check is on.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1"
(cd build-san && ctest --output-on-failure -j2 --timeout 900 -LE "gl|e2e")
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=0"
# The instrumented demo runs a few times slower: the end-to-end tests stretch
# their waits and key holds to match.
(cd build-san && KELP_TIME_SCALE=3 ctest --output-on-failure -j2 --timeout 1800 -L "gl|e2e")

echo "== Fuzzing"
FUZZ_BUILD_DIR=build-san sh scripts/fuzz.sh
