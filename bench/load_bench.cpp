// load_bench - background loading of a first room with 200 PNG images of 256 x 256, beside LÖVE.
//
// The benchmark writes a project (project file, a first room listing the 200 images, the images
// themselves, generated here with DevIL) and packs it into an archive. Our side is a fresh engine
// process (this program re-run as `load_bench --engine`) doing its ordinary start-up, frame loop
// and shutdown; a probe module reports:
//   (a) ms from the end of start-up (the first room's loads were just queued) to the first frame
//       whose step sees every load stored (resourcesAreLoaded);
//   (b) the main thread's time per frame from the end of the event pump to the buffer swap (the
//       step and the render) for every frame while loading ran, at the project's 60 frames/s.
// LÖVE's side (bench/love/load) times love.graphics.newImage on the same 200 files, in love.load.
// Needs DISPLAY. Usage: load_bench [runs]  (default 3)
#include <SDL.h>
#include <X11/Xlib.h>
#include <IL/il.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/frame_loop.h"
#include "graphics/image.h"
#include "resources/resource_manager.h"
#include "bench_support.h"

using Clock = std::chrono::steady_clock;
static const int IMAGE_COUNT = 200;
static const int IMAGE_SIDE = 256;

// --- the engine child

struct ChildState
{
    Clock::time_point queued;       // end of start-up: the loads are queued
    Clock::time_point frameStart;   // end of this frame's event pump
    std::vector<double> frameUs;    // step + render of each frame while loading
    std::vector<double> idleUs;     // the same for the 60 frames after loading (the room is empty)
    bool loaded = false;
    int framesAfter = 0;
};
static ChildState child;

static void timedPump()
{
    sdlFramePlatform().pumpEvents();
    child.frameStart = Clock::now();
}
static void timedSwap()
{
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - child.frameStart).count();
    (child.loaded ? child.idleUs : child.frameUs).push_back(us);
    sdlFramePlatform().swapBuffers();
}

class LoadProbe : public QFFrameModule
{
public:
    void step() override
    {
        if (!child.loaded && loadQueueSize() == 0) {
            child.loaded = true;
            printf("loaded-ms %.3f\n", std::chrono::duration<double, std::milli>(Clock::now() - child.queued).count());
        }
        if (child.loaded && ++child.framesAfter > 60) requestQuit();
    }
};

static int runEngineChild()
{
    XInitThreads();
    const FramePlatform &sdl = sdlFramePlatform();
    setFramePlatform({sdl.ticks, sdl.delay, timedPump, sdl.beginFrame, sdl.endFrame, timedSwap});
    startEngine();
    child.queued = Clock::now();
    addFrameModule(new LoadProbe());
    runEngine();
    stopEngine();
    printf("frames");
    for (double us : child.frameUs) printf(" %.1f", us);
    printf("\nidle");
    for (double us : child.idleUs) printf(" %.1f", us);
    printf("\n");
    fflush(stdout);
    return 0;
}

// --- building the project

// 256 x 256 RGB: smooth gradients with noise, which compresses about as well as game art.
static bool writePng(const std::string &path, int seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels(IMAGE_SIDE * IMAGE_SIDE * 3);
    for (int y = 0; y < IMAGE_SIDE; y++) {
        for (int x = 0; x < IMAGE_SIDE; x++) {
            uint8_t *p = &pixels[(y * IMAGE_SIDE + x) * 3];
            p[0] = (uint8_t)(x + seed * 7 + (random() & 15));
            p[1] = (uint8_t)(y + (random() & 15));
            p[2] = (uint8_t)(((x * y) >> 8) + seed);
        }
    }
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    ilTexImage(IMAGE_SIDE, IMAGE_SIDE, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, pixels.data());
    ilEnable(IL_FILE_OVERWRITE);
    const bool saved = ilSave(IL_PNG, path.c_str()) == IL_TRUE;
    ilDeleteImages(1, &name);
    return saved;
}

static std::string imageName(int i)
{
    char name[32];
    snprintf(name, sizeof name, "%03d.png", i);
    return name;
}

// Folder layout: ours/ (Quillfen.ini, bench.qfa) and love/ (main.lua, conf.lua, images/*.png).
static bool buildProjects(const std::string &folder)
{
    namespace fs = std::filesystem;
    const std::string images = folder + "/ours/Projects/bench/Images/";
    fs::create_directories(images);
    fs::create_directories(folder + "/love/images");
    initImageLibrary();
    RoomNameLists lists;
    std::vector<std::string> assets;
    for (int i = 0; i < IMAGE_COUNT; i++) {
        const std::string name = imageName(i);
        if (!writePng(images + name, i)) return false;
        fs::create_hard_link(images + name, folder + "/love/images/" + name);
        lists.names[ROOM_IMAGES].push_back(name);
        assets.push_back("Images/" + name);
    }
    fs::copy_file(QF_BENCH_DIR "/love/load/main.lua", folder + "/love/main.lua");
    fs::copy_file(QF_BENCH_DIR "/love/load/conf.lua", folder + "/love/conf.lua");
    return writeBenchGame(folder + "/ours", "bench", lists, "", assets, true);
}

// --- running and reporting

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--engine") == 0) return runEngineChild();
    if (!getenv("DISPLAY")) {
        fprintf(stderr, "load_bench: no display\n");
        return 1;
    }
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    prepareBenchEnvironment();
    const std::string folder = makeBenchFolder("load");
    if (!buildProjects(folder)) {
        fprintf(stderr, "load_bench: could not build the projects in %s\n", folder.c_str());
        return 1;
    }
    const std::string self = selfPath();

    std::vector<double> oursMs, loveMs, frames, idle;
    double worstFrame = 0;
    for (int i = 0; i < runs; i++) {
        const std::string ours = runChild({self, "--engine"}, folder + "/ours").output;
        const std::string love = runChild({"love", folder + "/love"}, folder + "/love").output;
        oursMs.push_back(valueAfter(ours, "loaded-ms"));
        loveMs.push_back(valueAfter(love, "love-load-ms"));
        const std::vector<double> runFrames = numbersAfter(ours, "frames");
        const std::vector<double> runIdle = numbersAfter(ours, "idle");
        idle.insert(idle.end(), runIdle.begin(), runIdle.end());
        frames.insert(frames.end(), runFrames.begin(), runFrames.end());
        for (double f : runFrames) worstFrame = std::max(worstFrame, f);
        // The three slowest frames of the run, with their position (0 = the first frame).
        std::vector<size_t> order(runFrames.size());
        for (size_t k = 0; k < order.size(); k++) order[k] = k;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return runFrames[a] > runFrames[b]; });
        std::string slowest;
        for (size_t k = 0; k < order.size() && k < 3; k++)
            slowest += " #" + std::to_string(order[k]) + " " + std::to_string(runFrames[order[k]] / 1000).substr(0, 5) + " ms";
        printf("run %d: quillfen %.1f ms (%zu frames while loading; slowest:%s), LÖVE %.1f ms\n", i + 1, oursMs.back(),
               runFrames.size(), slowest.c_str(), loveMs.back());
    }
    std::filesystem::remove_all(folder);
    endBenchEnvironment();

    const double ours = median(oursMs), love = median(loveMs);
    printf("(a) 200 PNG 256x256 from the archive until resourcesAreLoaded (median of %d): %.1f ms\n", runs, ours);
    printf("(b) main thread step+render per frame while loading: median %.3f ms, max %.3f ms over %zu frames (goal: max < 4 ms)\n",
           median(frames) / 1000, worstFrame / 1000, frames.size());
    printf("    for comparison, the empty room's frames after loading: median %.3f ms, max %.3f ms over %zu frames\n",
           median(idle) / 1000, idle.empty() ? -1 : *std::max_element(idle.begin(), idle.end()) / 1000, idle.size());
    printf("(c) LÖVE love.graphics.newImage of the same 200 files (median of %d): %.1f ms; ratio quillfen/LÖVE %.2f (goal <= 1.0)\n",
           runs, love, ours / love);
    return 0;
}
