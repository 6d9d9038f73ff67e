#!/bin/sh
# Quick start (1): install what is missing, build, generate the assets and
# run the demo. Without a display it runs under a virtual one.
set -e
cd "$(dirname "$0")"
sh scripts/setup.sh
if [ -n "$DISPLAY" ]; then
  exec ./build/bin/MyGame
fi
echo "No DISPLAY is set: running the demo under a virtual X display (xvfb-run)."
echo "Nothing will appear on screen; the log follows. Press Ctrl+C to stop."
exec xvfb-run -a -s "-screen 0 1280x720x24" ./build/bin/MyGame
