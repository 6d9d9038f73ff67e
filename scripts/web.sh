#!/bin/sh
# The browser build: installs what is missing and builds the desktop tree
# (whose tools generate the assets) with scripts/setup.sh, builds the page
# into build-web/web/ (incrementally), then serves it on 127.0.0.1 together
# with the score server, on one origin, and prints the address. Ctrl+C stops.
#   sh scripts/web.sh [port]        (default 8080; 0 takes a free one)
#   KELP_WEB_BUILD_ONLY=1 sh scripts/web.sh    builds and serves nothing
# build-web/web/ is the folder to publish: any static web server serves it.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
BUILD_DIR="${BUILD_DIR:-build}"
emcmake cmake -S . -B build-web -DKELP_ASSETS_DIR="$(pwd)/$BUILD_DIR/bin/Data/550" >/dev/null
cmake --build build-web -j"$(nproc)"
[ -n "$KELP_WEB_BUILD_ONLY" ] && exit 0
echo "Open the address below in a browser; the page's scores go to the same server (build-web/scores.db)."
exec "$BUILD_DIR/tools/score_server" --address 127.0.0.1 --port "${1:-8080}" --db build-web/scores.db --web build-web/web
