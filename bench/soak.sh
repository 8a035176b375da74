#!/usr/bin/env bash
# Builds the engine, its tools and soak_bench (RelWithDebInfo, build-soak) and runs the soak on a
# private Xvfb, so no other window or test takes the pointer or the keyboard.
# Usage: bench/soak.sh [--minutes N] [--keep]   (default 10 minutes; see bench/soak_bench.cpp)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QF_SOAK_BUILD:-build-soak}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQF_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quillfen quillfen-pack quillfen-font soak_bench >/dev/null
source tools/xvfb.sh
unset DISPLAY
start_private_xvfb
"$build/bench/soak_bench" "$@"
