#!/usr/bin/env bash
# Builds the test programs whose cases run a second thread (the resource loader, archive readers,
# the display's shared loader context, images loaded on the loader thread) with ThreadSanitizer in
# build-tsan, and runs them. Exit status non-zero on any report or failed test.
# Usage: tools/tsan.sh [gtest filter]   (default: every case of those programs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

source tools/xvfb.sh
start_private_xvfb
export ALSOFT_DRIVERS=null SDL_AUDIODRIVER=dummy
# exitcode makes a report fail the run even when every test passed.
export TSAN_OPTIONS="suppressions=$root/tools/tsan.supp halt_on_error=0 exitcode=66 second_deadlock_stack=1 history_size=4"

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQF_SANITIZE=thread \
  -DQF_BUILD_BENCH=OFF -DQF_TEST_FOLDERS="resources;graphics" >/dev/null
cmake --build build-tsan -j2 --target qf_resources_tests qf_graphics_tests

filter="${1:-*}"
status=0
for program in qf_resources_tests qf_graphics_tests; do
  echo "== $program (ThreadSanitizer)"
  (cd build-tsan/tests && "./$program" --gtest_filter="$filter" --gtest_brief=1) || status=1
done
exit $status
