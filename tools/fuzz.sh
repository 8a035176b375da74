#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/*_fuzz.cpp) in the clang ASan + UBSan build that
# tools/asan.sh also uses (build-asan, see tools/asan-build.sh) and runs each for SECONDS on a
# working copy of its seed corpus (tests/fuzz/corpus/<target>/) plus its old findings
# (tests/fuzz/regressions/<target>/). Two targets run at a time (one per core).
# Usage: tools/fuzz.sh SECONDS [TARGET...]   (TARGET without "_fuzz", e.g. archive_index; default: all)
# QF_FUZZ_TIMEOUT (seconds, default 10) is how long one input may run before it counts as a hang;
# raise it for long runs at a low priority (nice), where a starved process can wait longer than that.
# Prints the executions, CPU seconds and findings of every target, and appends them to
# build-asan/fuzz-history.log. Exit 0: no findings; 1: a target found something (its inputs are
# in build-asan/findings/<target>/; copy them into tests/fuzz/regressions/<target>/ once fixed);
# 2: the targets did not build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source tools/asan-build.sh
seconds=${1:?usage: tools/fuzz.sh SECONDS [TARGET...]}
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" _fuzz.cpp)"); done
fi

configure_asan_build || exit 2
programs=()
for target in "${targets[@]}"; do programs+=("${target}_fuzz"); done
build=$root/$QF_ASAN_BUILD
if ! cmake --build "$build" -j2 --target "${programs[@]}" >"$build/fuzz-build.log" 2>&1; then
  tail -30 "$build/fuzz-build.log"
  echo "fuzz targets did not build ($QF_ASAN_BUILD/fuzz-build.log)"
  exit 2
fi

# Runs one target and writes its summary line to $build/$target.summary.
run_target() {
  local target=$1 corpus=$build/corpus/$1 findings=$build/findings/$1 log=$build/$1.log
  mkdir -p "$corpus" "$findings"
  rm -f "$findings"/*
  local seeds=()
  [ -d "tests/fuzz/corpus/$target" ] && seeds+=("$root/tests/fuzz/corpus/$target")
  [ -d "tests/fuzz/regressions/$target" ] && seeds+=("$root/tests/fuzz/regressions/$target")
  # stderr of the target is closed (-close_fd_mask=2): damaged inputs make the engine print a
  # message per run. libFuzzer and the sanitizers still report on their own copy of it. Leaks in
  # third-party libraries are suppressed as in tools/asan.sh (tools/lsan.supp).
  local status=0
  (cd "$build" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS=suppressions=$root/tools/lsan.supp:print_suppressions=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    /usr/bin/time -f 'cpu %U %S' -o "$build/$target.time" \
    "./tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout="${QF_FUZZ_TIMEOUT:-10}" -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -close_fd_mask=2 -artifact_prefix="$findings/" "$corpus" "${seeds[@]}") >"$log" 2>&1 ||
    status=$?
  local executions cpu count
  executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cpu=$(awk '/^cpu/ {printf "%.1f", $2 + $3}' "$build/$target.time" 2>/dev/null)
  count=$(find "$findings" -type f | wc -l)
  echo "$target: ${executions:-?} executions in ${seconds} s (${cpu:-?} s CPU), $count findings" \
    "(exit $status, log $QF_ASAN_BUILD/$target.log)" >"$build/$target.summary"
  if [ "$count" -gt 0 ] || [ "$status" -ne 0 ]; then
    grep -m3 -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' "$log" >>"$build/$target.summary" || true
    return 1
  fi
}

found=0
pids=()
names=()
for target in "${targets[@]}"; do
  run_target "$target" &
  pids+=($!)
  names+=("$target")
  if [ ${#pids[@]} -eq 2 ]; then
    wait "${pids[0]}" || found=1
    cat "$build/${names[0]}.summary"
    pids=("${pids[1]}")
    names=("${names[1]}")
  fi
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || found=1
  cat "$build/${names[$i]}.summary"
done
for target in "${targets[@]}"; do
  echo "$(date -u +%FT%TZ) $(head -1 "$build/$target.summary")" >>"$build/fuzz-history.log"
done
exit $found
