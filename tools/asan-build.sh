# Sourced by tools/asan.sh and tools/fuzz.sh: the one clang build they share, build-asan.
# Everything in it (engine, tools, tests, libFuzzer targets) is built with AddressSanitizer,
# UndefinedBehaviorSanitizer (halting on the first report) and LeakSanitizer; the engine library
# also carries libFuzzer's coverage instrumentation, which the test programs simply ignore.
# -O1 with line tables only keeps the build and the runs quick; stacks still show file:line.
# Usage: configure_asan_build || exit 2; then cmake --build build-asan --target ...
QF_ASAN_BUILD=build-asan

configure_asan_build() {
  mkdir -p "$QF_ASAN_BUILD"
  CC=clang CXX=clang++ cmake -S . -B "$QF_ASAN_BUILD" -DCMAKE_BUILD_TYPE=Sanitize \
    -DCMAKE_C_FLAGS_SANITIZE="-O1 -gline-tables-only" \
    -DCMAKE_CXX_FLAGS_SANITIZE="-O1 -gline-tables-only -fno-sanitize-recover=undefined" \
    -DCMAKE_UNITY_BUILD=ON -DQF_SANITIZE=address,undefined -DQF_BUILD_FUZZ=ON -DQF_BUILD_TESTS=ON -DQF_BUILD_BENCH=OFF \
    >"$QF_ASAN_BUILD/configure.log" 2>&1 || { tail -20 "$QF_ASAN_BUILD/configure.log"; return 1; }
}

# Run-time options of the three sanitizers. Reports go to files under $1 (one per process that
# reports; child processes such as the engine started by end-to-end tests included), so a report
# fails the job even when the test that caused it passed or ignored the child's exit code.
export_asan_options() {
  local root reports=$1
  root=$(pwd)
  mkdir -p "$reports"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:check_initialization_order=1:strict_init_order=1:log_path=$reports/report"
  export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="suppressions=$root/tools/ubsan.supp:print_stacktrace=1:halt_on_error=1:log_path=$reports/report"
  # Mesa's software GL driver is unloaded (dlclose) when SDL closes the display, before the leak
  # check runs; blocks it still owns then lose their only references and come out as leaks of
  # an "unknown module" that no suppression can name. Preloaded, it stays mapped to the end.
  local driver
  driver=$(ls /usr/lib/*/dri/swrast_dri.so 2>/dev/null | head -1)
  if [ -n "$driver" ]; then export LD_PRELOAD=$driver; fi
}
