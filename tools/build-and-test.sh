#!/usr/bin/env bash
# The normal job: builds the engine, tools, tests and benchmarks (RelWithDebInfo, build) and runs
# every test. Starts Xvfb when there is no display; audio uses OpenAL Soft's null backend.
# Usage: tools/build-and-test.sh [ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/xvfb.sh
start_private_xvfb
export ALSOFT_DRIVERS=null SDL_AUDIODRIVER=dummy

# Unity build (source files compiled eight to a unit): a fresh build takes about a third less CPU.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON >/dev/null
cmake --build build -j"$(nproc)"
(cd build && ctest -j2 --output-on-failure --timeout 300 "$@")
