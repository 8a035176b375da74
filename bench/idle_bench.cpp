// idle_bench - start-up time and memory of an idle window, beside LÖVE in the same run.
// Each side is a fresh process in an empty folder that prints "first-frame" once its first frame
// has been swapped and quits after 300 frames; we time spawn -> that line and take the peak
// resident set (runChild). Our side re-runs this program as `idle_bench --engine`, which is the
// engine's own start-up, frame loop and shutdown with a probe module added. Needs DISPLAY.
#include <SDL.h>
#include <unistd.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/frame_loop.h"
#include "bench_support.h"

using Clock = std::chrono::steady_clock;

// Reports the first drawn frame (after its swap: the next step), quits after 300 frames.
class ProbeModule : public QFFrameModule
{
public:
    void step() override
    {
        if (drawn == 1 && !reported) {
            reported = true;
            fputs("first-frame\n", stdout);
            fflush(stdout);
        }
        if (++frames >= 300) requestQuit();
    }
    void render() override { drawn++; }
    int frames = 0, drawn = 0;
    bool reported = false;
};

static int runEngineChild()
{
    XInitThreads();
    startEngine();
    addFrameModule(new ProbeModule());
    runEngine();
    stopEngine();
    return 0;
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--engine") == 0) return runEngineChild();
    if (!getenv("DISPLAY")) {
        fprintf(stderr, "idle_bench: no display\n");
        return 1;
    }
    prepareBenchEnvironment();
    const std::string folder = makeBenchFolder("idle");
    const std::string self = selfPath();

    const int runs = 5;
    std::vector<double> oursMs, loveMs, oursKb, loveKb;
    for (int i = 0; i < runs; i++) {
        const ChildRun ours = runChild({self, "--engine"}, folder, "first-frame");
        const ChildRun love = runChild({"love", QF_BENCH_DIR "/love/idle"}, folder, "first-frame");
        oursMs.push_back(ours.markerMs);
        loveMs.push_back(love.markerMs);
        oursKb.push_back((double)ours.peakKb);
        loveKb.push_back((double)love.peakKb);
    }
    rmdir(folder.c_str());
    endBenchEnvironment();
    const double om = median(oursMs), lm = median(loveMs), ok = median(oursKb), lk = median(loveKb);
    printf("start-up to first drawn frame (median of %d): quillfen %.1f ms, LÖVE %.1f ms, ratio %.2f (goal <= 0.5)\n",
           runs, om, lm, om / lm);
    printf("peak resident memory, idle window, 300 frames: quillfen %.1f MiB, LÖVE %.1f MiB, ratio %.2f (goal <= 0.5)\n",
           ok / 1024, lk / 1024, ok / lk);
    return 0;
}
