#!/usr/bin/env bash
# The test command (README; .ci/run calls it). Installs what is missing, then runs every job in
# turn, each its own script, and fails when any of them fails:
#   the normal build and test suite, ThreadSanitizer, ASan + UBSan + LSan, and a short fuzz pass.
# One private Xvfb serves all jobs when there is no display; audio uses OpenAL Soft's null backend.
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh || exit 1
source tools/xvfb.sh
start_private_xvfb || exit 1

failed=()
job() {  # job NAME COMMAND...: runs it, times it, remembers a failure
  local name=$1 start=$SECONDS
  shift
  echo "=== $name"
  "$@" || failed+=("$name")
  echo "=== $name: $((SECONDS - start)) s"
}

job "build and test" bash tools/build-and-test.sh
job "ThreadSanitizer" bash tools/tsan.sh
job "ASan, UBSan and LSan" bash tools/asan.sh
job "fuzzing, 10 s per target" bash tools/fuzz.sh 10

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]} (total $SECONDS s)"
  exit 1
fi
echo "All jobs passed (total $SECONDS s)"
