// bench/support/bench_support.h - what the benchmarks share: a throwaway game written on the
// fly, the engine run unthrottled as a child process, and running both sides and reading their
// figures. Everything here is for benchmark programs (one thread, main).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/room_file.h"

// A fresh folder /tmp/qf<name>-XXXXXX (not removed: callers remove it when done).
std::string makeBenchFolder(const char *name);
std::string selfPath();  // this program, to re-run itself as the engine side
// No audio device for either side, and an X connection kept open while the benchmark runs: an
// X server with no client left resets, and that reset would be timed as the next start-up.
void prepareBenchEnvironment();
void endBenchEnvironment();

// Writes `folder`/Quillfen.ini (audio off) and the game `codename`: a 640 x 480 project whose
// first room "first" has `lists` and `roomScript`. `assets` are paths below
// Projects/<codename>/ that the caller has put there. With `packed`, everything goes into
// `folder`/<codename>.qfa and the loose files are removed. False when a write failed.
bool writeBenchGame(const std::string &folder, const std::string &codename, const RoomNameLists &lists,
                    const std::string &roomScript, const std::vector<std::string> &assets, bool packed);

// The engine side: ordinary start-up, then the frame loop with a clock that never sleeps, so
// every frame is stepped, drawn and swapped. `globals` are set in Lua before the game starts
// (numbers when they read as numbers). Once the room's Init has set `roomStarted`, it counts
// drawn frames for `seconds` after 20 warm-up frames and prints "fps N". Returns the exit code.
int runUnthrottledEngine(double seconds, const std::vector<std::pair<std::string, std::string>> &globals);

struct ChildRun
{
    std::string output;    // standard output (standard error is dropped)
    double markerMs = -1;  // ms from the start until `marker` appeared in the output
    long peakKb = 0;       // peak resident memory
};
// Runs argv (searched on PATH) in `folder` and waits for it.
ChildRun runChild(const std::vector<std::string> &argv, const std::string &folder, const char *marker = nullptr);

double valueAfter(const std::string &output, const std::string &key);                // -1 when absent
std::vector<double> numbersAfter(const std::string &output, const std::string &key);  // a line "key n n n"
double median(std::vector<double> values);                                            // -1 for none
