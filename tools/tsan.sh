#!/usr/bin/env bash
# Builds the test programs whose cases run a second thread with ThreadSanitizer in build-tsan and
# runs those cases: the resource manager and resource lists (loader thread), archive readers on
# two threads, the display's shared loader context, images and fonts loaded on the loader
# thread, a texture deleted on the loader context while a batch is open, poses whose models and
# animations load and unload on the loader thread, every audio test (the audio thread runs beside
# each; sounds freed by the loader while the audio thread takes back their slots and a script
# plays them; music operations while the audio thread refills buffers and the loader frees
# tracks), and the end-to-end tests, which run the sanitized engine executable with its
# loader and audio threads. Reports from any process (engines started by tests included) go to
# files; any report or failed test fails the job.
# Usage: tools/tsan.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

source tools/xvfb.sh
start_private_xvfb
export ALSOFT_DRIVERS=null SDL_AUDIODRIVER=dummy
reports=$root/build-tsan/reports
rm -rf "$reports"
mkdir -p "$reports"
# exitcode makes a report fail the run even when every test passed.
export TSAN_OPTIONS="suppressions=$root/tools/tsan.supp halt_on_error=0 exitcode=66 second_deadlock_stack=1 log_path=$reports/report"

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_UNITY_BUILD=ON \
  -DQF_SANITIZE=thread -DQF_BUILD_BENCH=OFF -DQF_TEST_FOLDERS="resources;graphics;animation;audio;e2e" >/dev/null
cmake --build build-tsan -j2 --target qf_resources_tests qf_graphics_tests qf_animation_tests qf_audio_tests qf_e2e_tests \
  >build-tsan/build.log 2>&1 ||
  { grep -m20 -E 'error|Error' build-tsan/build.log; echo "TSan build failed (build-tsan/build.log)"; exit 2; }

# Test names (gtest suite.case as ctest knows them) of the in-process cases with a second thread.
threaded='^(ResourceManager|ResourceLists|Archive[A-Za-z]*|DataFile[A-Za-z]*|Display|ImageResources|ImageDecode|Text|ModelResources|ScrapDrawing|DamagedFiles|AnimationFuzzRegressions|PosePlayback|PoseWorld)\.'
threaded+='|^DrawingTest\.TextureDeletionEndsTheOpenBatch$'
threaded+='|^(Scenarios/)?(Audio[A-Za-z]*|WavReader|SoundFree|Music[A-Za-z]*|Environments)\.'
status=0
(cd build-tsan && ctest -j2 --output-on-failure --timeout 600 -LE e2e -R "$threaded") || status=1
# The end-to-end tests that only run quillfen-pack (single-threaded), and the tutorial, whose games
# play what the other end-to-end tests play, are left to the other jobs: under ThreadSanitizer
# they took a third of this job's time.
(cd build-tsan && ctest -j2 --output-on-failure --timeout 600 -L e2e -E '^(PackTool|ProjectCompiler|Tutorial)\.') || status=1
if compgen -G "$reports/*" >/dev/null; then
  status=1
  for report in "$reports"/*; do
    echo "== ThreadSanitizer report $report"
    head -80 "$report"
  done
fi
[ $status -eq 0 ] && echo "ThreadSanitizer: clean"
exit $status
