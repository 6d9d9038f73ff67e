#!/bin/sh
# Quick start (1): install what is missing, build, generate the assets and
# run the demo. With no display, a window nobody could see is no use: take a
# short scripted tour on a virtual display instead, with a screenshot of
# every screen.
set -e
cd "$(dirname "$0")"
sh scripts/setup.sh
if [ -n "$DISPLAY" ]; then
  exec ./build/bin/MyGame
fi
echo "No DISPLAY is set: touring the demo on a virtual X display (Xvfb) instead of opening a window."
exec python3 tools/tour.py --bin-dir build/bin --out build/tour
