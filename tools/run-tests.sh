#!/usr/bin/env bash
# Installs what is missing, builds the engine and runs every test. Starts Xvfb when there is no
# display; audio uses OpenAL Soft's null backend.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/install-deps.sh
source tools/xvfb.sh
start_private_xvfb
export ALSOFT_DRIVERS=null SDL_AUDIODRIVER=dummy

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
(cd build && ctest -j2 --output-on-failure --timeout 300)
