#!/usr/bin/env bash
# Builds everything with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer in
# build-asan (tools/asan-build.sh) and runs the whole test suite there: every test program, and
# the end-to-end tests run the sanitized engine executable and tools. Any sanitizer report from
# any process, or any failed test, fails the job. Suppressions cover third-party libraries
# only (tools/lsan.supp, tools/ubsan.supp).
# Usage: tools/asan.sh [ctest arguments, e.g. -L e2e or -R Archive]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/xvfb.sh
source tools/asan-build.sh
start_private_xvfb
export ALSOFT_DRIVERS=null SDL_AUDIODRIVER=dummy

configure_asan_build || exit 2
# All targets: the fuzz targets come with it, so tools/fuzz.sh after this job links nothing new.
cmake --build "$QF_ASAN_BUILD" -j2 >"$QF_ASAN_BUILD/build.log" 2>&1 ||
  { grep -m20 -E 'error|Error' "$QF_ASAN_BUILD/build.log"; echo "ASan build failed ($QF_ASAN_BUILD/build.log)"; exit 2; }

reports=$(pwd)/$QF_ASAN_BUILD/reports
rm -rf "$reports"
export_asan_options "$reports"
status=0
(cd "$QF_ASAN_BUILD" && ctest -j2 --output-on-failure --timeout 600 "$@") || status=1

if compgen -G "$reports/*" >/dev/null; then
  status=1
  for report in "$reports"/*; do
    echo "== sanitizer report $report"
    head -60 "$report"
  done
fi
[ $status -eq 0 ] && echo "ASan/UBSan/LSan: clean"
exit $status
