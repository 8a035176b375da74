#!/usr/bin/env bash
# Starts the sample game many times the way players and machines do, and counts what went wrong.
#   1. UNDER_LOAD starts on a private Xvfb with two busy loops beside the engine (the loader
#      thread, llvmpipe and the main thread fight for the two cores), each ended by SIGTERM or
#      SIGINT at a random moment from the start of main (before the window exists) to SECONDS;
#   2. NO_DISPLAY starts with DISPLAY unset or naming a display that does not answer, each
#      ended the same way.
# Counts crashes (ended by a signal it was not sent), other non-zero exits, and runs whose loader
# thread could not make its context current although there was a display. Exit 0 when all is well.
# Usage: tools/stress.sh [UNDER_LOAD [NO_DISPLAY [SECONDS]]]   (defaults 200, 50, 3)
# Not part of tools/run-tests.sh: 200 starts take about ten minutes.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
under_load=${1:-200}
no_display=${2:-50}
seconds=${3:-3}

bash tools/install-deps.sh || exit 1
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DCMAKE_UNITY_BUILD=ON -DQF_BUILD_TESTS=OFF -DQF_BUILD_BENCH=OFF >/dev/null || exit 1
cmake --build build-release -j2 --target quillfen quillfen-pack >/dev/null || exit 1
game=$root/build-release/stress-game
rm -rf "$game"
build-release/quillfen-pack compile --archive samples/demo "$game" >/dev/null || exit 1
source tools/xvfb.sh
unset DISPLAY
start_private_xvfb || exit 1
x_display=$DISPLAY
log=$root/build-release/stress.log
: >"$log"

crashes=0 failures=0 context_failures=0 runs=0
# True once process $1 catches signal $2 (its number): the engine installs its handler first thing
# in main. Before that the default action applies to any program, so the random moment is counted
# from there.
catches() {
  local mask
  mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$mask" ] && [ $(((16#$mask >> ($2 - 1)) & 1)) -eq 1 ]
}

# play ENVIRONMENT...: one start, ended by a signal at a random moment; updates the counters.
play() {
  local signal=TERM number=15
  if [ $((RANDOM % 4)) -eq 0 ]; then signal=INT number=2; fi
  # One run in four ends within its first 0.3 s (start-up, before the window exists).
  local span=$seconds
  if [ $((RANDOM % 4)) -eq 0 ]; then span=0.3; fi
  local delay
  delay=$(awk -v r="$RANDOM" -v s="$span" 'BEGIN { printf "%.3f", s * r / 32767 }')
  (cd "$game" && exec env --default-signal=INT "$@" "$root/build-release/quillfen" >"$game/out.txt" 2>"$game/err.txt") &
  local pid=$!
  for ((w = 0; w < 500; w++)); do catches "$pid" "$number" && break; sleep 0.01; done
  sleep "$delay"
  kill -s "$signal" "$pid" 2>/dev/null
  local code=0
  wait "$pid" || code=$?
  runs=$((runs + 1))
  if [ "$code" -gt 128 ]; then
    crashes=$((crashes + 1))
    echo "run $runs ($*): killed by signal $((code - 128)) after SIG$signal at $delay s" >>"$log"
  elif [ "$code" -ne 0 ]; then
    failures=$((failures + 1))
    echo "run $runs ($*): exit $code after SIG$signal at $delay s" >>"$log"
  fi
  if [ "$1" = "DISPLAY=$x_display" ] && grep -q "Could not open resource manager's render context" "$game/err.txt"; then
    context_failures=$((context_failures + 1))
    echo "run $runs: loader context failed with a display" >>"$log"
  fi
}

busy() { while :; do :; done; }
busy & busy1=$!
busy & busy2=$!
trap 'kill $busy1 $busy2 2>/dev/null; kill $QF_XVFB_PID 2>/dev/null' EXIT
start=$SECONDS
for ((i = 0; i < under_load; i++)); do play "DISPLAY=$x_display" ALSOFT_DRIVERS=null; done
kill $busy1 $busy2 2>/dev/null
echo "under load: $runs starts in $((SECONDS - start)) s, $crashes crashes, $failures other non-zero exits," \
  "$context_failures loader-context failures"
loaded_crashes=$crashes loaded_failures=$failures

runs=0 crashes=0 failures=0
start=$SECONDS
for ((i = 0; i < no_display; i++)); do
  if [ $((i % 2)) -eq 0 ]; then play -u DISPLAY ALSOFT_DRIVERS=null; else play DISPLAY=:173 ALSOFT_DRIVERS=null; fi
done
echo "no display: $runs starts in $((SECONDS - start)) s, $crashes crashes, $failures other non-zero exits"
[ -s "$log" ] && { echo "details ($log):"; head -20 "$log"; }
[ $((loaded_crashes + loaded_failures + context_failures + crashes + failures)) -eq 0 ]
