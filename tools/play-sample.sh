#!/usr/bin/env bash
# Installs what is missing, builds a release engine and plays the bundled sample game.
# Without a display it plays on a private Xvfb for QF_PLAY_SECONDS (default 10) and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQF_BUILD_TESTS=OFF -DQF_BUILD_BENCH=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target quillfen

game="$root/build-release/sample"
rm -rf "$game"
mkdir -p "$game"
cp -r samples/demo/. "$game/"

seconds="${QF_PLAY_SECONDS:-}"
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  source tools/xvfb.sh
  start_private_xvfb
  seconds="${seconds:-10}"
  echo "No display: playing on Xvfb $DISPLAY for $seconds s."
fi
cd "$game"
if [ -n "$seconds" ]; then
  "$root/build-release/quillfen" &
  pid=$!
  sleep "$seconds"
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid"
  echo "quillfen exited with $?"
else
  exec "$root/build-release/quillfen"
fi
