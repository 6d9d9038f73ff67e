#!/bin/sh
# Quick start (2): install what is missing, build and run the whole test suite.
set -e
cd "$(dirname "$0")"
sh scripts/setup.sh
cd build
ctest --output-on-failure -j2 --timeout 900
