#!/bin/sh
# Installs whatever is missing (Debian 12), then configures and builds.
# Safe to run again: installed packages are skipped, the build is incremental.
set -e
cd "$(dirname "$0")/.."

PACKAGES="build-essential cmake pkg-config python3
libglfw3-dev libgl-dev libgl1-mesa-dri libopenal-dev libopenal1 liblodepng-dev libstb-dev
libvorbis-dev libfreetype-dev fonts-dejavu-core libsqlite3-dev
libgtest-dev libx11-dev xvfb xauth xdotool x11-utils imagemagick clang libclang-rt-14-dev
emscripten chromium python3-websocket apitrace lintian
libmicrohttpd-dev libpq-dev libbrotli-dev zlib1g-dev postgresql nginx-light"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $missing
fi

BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython3_EXECUTABLE=/usr/bin/python3 $CMAKE_EXTRA
cmake --build "$BUILD_DIR" -j"$(nproc)"
