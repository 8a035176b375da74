#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/*_fuzz.cpp) with clang, ASan and UBSan in build-fuzz
# and runs each for SECONDS on a working copy of its seed corpus (tests/fuzz/corpus/<target>/).
# Usage: tools/fuzz.sh SECONDS [TARGET...]   (TARGET without "_fuzz", e.g. archive_index; default: all)
# Prints the executions and findings of every target. Exit 0: no findings; 1: a target found
# something (its inputs are in build-fuzz/findings/<target>/; copy them into
# tests/fuzz/regressions/<target>/ once fixed); 2: the targets did not build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:?usage: tools/fuzz.sh SECONDS [TARGET...]}
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" _fuzz.cpp)"); done
fi

mkdir -p build-fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQF_BUILD_FUZZ=ON \
  -DQF_SANITIZE=address,undefined -DQF_BUILD_TESTS=OFF -DQF_BUILD_BENCH=OFF >build-fuzz/configure.log 2>&1 ||
  { tail -20 build-fuzz/configure.log; exit 2; }
programs=()
for target in "${targets[@]}"; do programs+=("${target}_fuzz"); done
if ! cmake --build build-fuzz -j2 --target "${programs[@]}" >build-fuzz/build.log 2>&1; then
  tail -30 build-fuzz/build.log
  echo "fuzz targets did not build (build-fuzz/build.log)"
  exit 2
fi

found=0
for target in "${targets[@]}"; do
  corpus="$root/build-fuzz/corpus/$target"
  findings="$root/build-fuzz/findings/$target"
  log="$root/build-fuzz/$target.log"
  mkdir -p "$corpus" "$findings"
  rm -f "$findings"/*
  seeds=()
  [ -d "tests/fuzz/corpus/$target" ] && seeds+=("$root/tests/fuzz/corpus/$target")
  [ -d "tests/fuzz/regressions/$target" ] && seeds+=("$root/tests/fuzz/regressions/$target")
  # stderr of the target is closed (-close_fd_mask=2): damaged inputs make the engine print a
  # message per run. libFuzzer and the sanitizers still report on their own copy of it.
  status=0
  (cd "$root/build-fuzz" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
    "./tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -close_fd_mask=2 -artifact_prefix="$findings/" "$corpus" "${seeds[@]}") >"$log" 2>&1 ||
    status=$?
  executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  count=$(find "$findings" -type f | wc -l)
  echo "$target: ${executions:-?} executions in ${seconds} s, $count findings (exit $status, log build-fuzz/$target.log)"
  if [ "$count" -gt 0 ] || [ "$status" -ne 0 ]; then
    found=1
    grep -m3 -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' "$log" || true
  fi
done
exit $found
