#!/usr/bin/env bash
# Builds the tests whose cases run a second thread with ThreadSanitizer in build-tsan and runs
# them: the resource manager and resource lists (loader thread), archive readers on two threads,
# the display's shared loader context, images loaded on the loader thread, and the in-process
# first-room run. Exit status non-zero on any report or failed test.
# Usage: tools/tsan.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

source tools/xvfb.sh
start_private_xvfb
export ALSOFT_DRIVERS=null SDL_AUDIODRIVER=dummy
# exitcode makes a report fail the run even when every test passed.
export TSAN_OPTIONS="suppressions=$root/tools/tsan.supp halt_on_error=0 exitcode=66 second_deadlock_stack=1"

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQF_SANITIZE=thread \
  -DQF_BUILD_BENCH=OFF -DQF_TEST_FOLDERS="resources;graphics;e2e" >/dev/null
cmake --build build-tsan -j2 --target qf_resources_tests qf_graphics_tests qf_e2e_tests

# program : gtest filter of the cases with a second thread
runs=(
  "qf_resources_tests:ResourceManager.*:ResourceLists.*:Archive*:DataFile*"
  "qf_graphics_tests:Display.*:ImageResources.*:ImageDecode.*"
  "qf_e2e_tests:FirstRoom.*"
)
status=0
for run in "${runs[@]}"; do
  program=${run%%:*}
  filter=${run#*:}
  echo "== $program --gtest_filter=$filter (ThreadSanitizer)"
  (cd build-tsan/tests && "./$program" --gtest_filter="$filter" --gtest_brief=1) || status=1
done
[ $status -eq 0 ] && echo "ThreadSanitizer: clean"
exit $status
