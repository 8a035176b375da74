#!/usr/bin/env bash
# Installs what is missing, builds a release engine and quillfen-pack, compiles the bundled sample
# game (samples/demo, a project source) into build-release/sample and plays it there.
# Without a display it plays on a private Xvfb for QF_PLAY_SECONDS (default 10) and stops.
# The game is packed into build-release/sample/demo.qfa as well, which the engine reads instead of
# the loose files; QF_PLAY_ARCHIVE=0 leaves the archive out (the engine then says so on stderr once
# and reads the loose files, which can be edited in place).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DCMAKE_UNITY_BUILD=ON -DQF_BUILD_TESTS=OFF -DQF_BUILD_BENCH=OFF >/dev/null
jobs=$(nproc)
if [ "$jobs" -gt 2 ]; then jobs=2; fi
cmake --build build-release -j"$jobs" --target quillfen quillfen-pack

game="$root/build-release/sample"
rm -rf "$game"
archive=()
if [ "${QF_PLAY_ARCHIVE:-1}" != "0" ]; then archive=(--archive); fi
build-release/quillfen-pack compile ${archive[@]+"${archive[@]}"} samples/demo "$game"

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
  code=0
  wait "$pid" || code=$?
  echo "quillfen exited with $code"
else
  exec "$root/build-release/quillfen"
fi
