// idle_bench - start-up time and memory of an idle window, beside LÖVE in the same run.
// Each side is a fresh process that prints "first-frame" once it has drawn a frame and quits
// after 300 frames; we time spawn -> that line and take the peak resident set (runChild). Our
// side is the real quillfen executable on a game whose first room prints the line from its
// first Render (the loading screen's one frame comes before it; the game runs at 1000 frames/s
// so that frame costs a millisecond, not a sixtieth of a second) and ends with os.exit after 300
// frames. LÖVE's side is bench/love/idle. Needs DISPLAY.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"

static const char *ROOM_SCRIPT =
    "local frames = 0\n"
    "function Render() frames = frames + 1\n"
    "  if frames == 1 then print('first-frame') io.stdout:flush() end\n"
    "  if frames == 300 then os.exit(0) end\n"
    "end\n";

int main()
{
    if (!getenv("DISPLAY")) {
        fprintf(stderr, "idle_bench: no display\n");
        return 1;
    }
    prepareBenchEnvironment();
    const std::string folder = makeBenchFolder("idle");
    if (!writeBenchGame(folder, "idle", RoomNameLists(), ROOM_SCRIPT, {}, false)) return 1;
    FILE *ini = fopen((folder + "/Quillfen.ini").c_str(), "a");
    if (!ini) return 1;
    fputs("[display]\nframerate = 1000\n", ini);
    fclose(ini);

    const int runs = 5;
    std::vector<double> oursMs, loveMs, oursKb, loveKb;
    for (int i = 0; i < runs; i++) {
        const ChildRun ours = runChild({QF_ENGINE_PATH}, folder, "first-frame");
        const ChildRun love = runChild({"love", QF_BENCH_DIR "/love/idle"}, folder, "first-frame");
        oursMs.push_back(ours.markerMs);
        loveMs.push_back(love.markerMs);
        oursKb.push_back((double)ours.peakKb);
        loveKb.push_back((double)love.peakKb);
    }
    std::filesystem::remove_all(folder);
    endBenchEnvironment();
    const double om = median(oursMs), lm = median(loveMs), ok = median(oursKb), lk = median(loveKb);
    printf("start-up to first drawn frame (median of %d): quillfen %.1f ms, LÖVE %.1f ms, ratio %.2f (goal <= 0.5)\n",
           runs, om, lm, om / lm);
    printf("peak resident memory, idle window, 300 frames: quillfen %.1f MiB, LÖVE %.1f MiB, ratio %.2f (goal <= 0.5)\n",
           ok / 1024, lk / 1024, ok / lk);
    return 0;
}
