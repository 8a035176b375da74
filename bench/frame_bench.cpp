// frame_bench - how closely the real frame loop keeps its schedule, and what idling costs.
// Runs 600 frames at 60 fps with an empty module in a real window (needs DISPLAY) and prints the
// median and 99th-percentile error of frame end times against k x 16.667 ms, and the process CPU
// time per wall-clock second.
#include <SDL.h>
#include <X11/Xlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "core/frame_loop.h"
#include "graphics/display.h"

using Clock = std::chrono::steady_clock;

static std::vector<Clock::time_point> frameEnds;  // the loop's iteration starts = previous frame's end
static FramePlatform sdlPlatform;

static void timedPump()
{
    frameEnds.push_back(Clock::now());
    sdlPlatform.pumpEvents();
}

class CountingModule : public QFFrameModule
{
public:
    void step() override
    {
        if (++frames >= 600) requestQuit();
    }
    int frames = 0;
};

static double cpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

static double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, (size_t)std::ceil(p * values.size()) - 1);
    return values[index];
}

int main()
{
    XInitThreads();
    SDL_InitSubSystem(SDL_INIT_TIMER);
    startTimer();
    if (!initDisplay(640, 480)) {
        fprintf(stderr, "frame_bench: no display\n");
        return 1;
    }
    sdlPlatform = sdlFramePlatform();
    FramePlatform platform = sdlPlatform;
    platform.pumpEvents = timedPump;
    setFramePlatform(platform);
    addFrameModule(new CountingModule());

    const double cpuBefore = cpuSeconds();
    const Clock::time_point wallBefore = Clock::now();
    runFrameLoop();
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    const double cpu = cpuSeconds() - cpuBefore;
    frameEnds.push_back(Clock::now());  // end of the last frame

    // frameEnds[0] is the loop's start; frameEnds[k] is the end of frame k-1, due k x 16.667 ms later.
    std::vector<double> errors;
    for (size_t k = 1; k < frameEnds.size(); k++) {
        const double actual = std::chrono::duration<double, std::milli>(frameEnds[k] - frameEnds[0]).count();
        errors.push_back(std::fabs(actual - k * (1000.0 / 60)));
    }
    printf("frames: %zu in %.3f s\n", errors.size(), wall);
    printf("frame end error vs k x 16.667 ms: median %.3f ms (goal <= 1), p99 %.3f ms (goal <= 3), max %.3f ms\n",
           percentile(errors, 0.5), percentile(errors, 0.99), percentile(errors, 1.0));
    printf("CPU per wall second: %.2f%% of one core (goal < 5%%)\n", 100.0 * cpu / wall);
    shutdownDisplay();
    return 0;
}
