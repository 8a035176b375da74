// model_load_bench - what the loader thread spends on one skeletal model, one animation and the
// scraps of a room: a 500-bone model (10 joints on most bones), a 49 999-event animation (every
// event type, 2999 markers) and 100 scraps of 100 frames, all read from a project archive
// through the resource types' own load operations (archive copy, checks, curves, geometry,
// dependency references), as the loader thread runs them.
// Prints milliseconds per file and MB/s (the best run and the median). There is no LÖVE figure: LÖVE has
// no skeletal model or animation files to load.
// Usage: model_load_bench [runs]  (default 20)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "animation/model.h"
#include "animation/scrap.h"
#include "resources/archive.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"
#include "bench_support.h"

using Clock = std::chrono::steady_clock;
static const std::string P = "Projects/bench/";

static ModelFileData bigModel()
{
    ModelFileData model;
    model.bones.resize(MAX_MODEL_BONES);
    for (int i = 0; i < MAX_MODEL_BONES; i++) {
        BoneData &bone = model.bones[i];
        bone.name = "bone" + std::to_string(i);
        bone.scrap = "scrap" + std::to_string(i % 100);
        bone.x = i * 3, bone.y = i * 2, bone.angle = i % 360;
        for (int c = i * 10 + 1; c <= i * 10 + 10 && c < MAX_MODEL_BONES; c++) bone.joints.push_back({c, c, -c});
    }
    return model;
}

static AnimationFileData bigAnimation()
{
    AnimationFileData animation;
    animation.length = {600, 0};
    animation.events.resize(MAX_ANIMATION_EVENTS);
    for (int i = 0; i < MAX_ANIMATION_EVENTS; i++) {
        EventData &event = animation.events[i];
        event.time = {i / 100, (uint32_t)(i % 100) * 10000000u};
        event.type = (int8_t)(i % 9);
        event.target = i % 500;
        for (int k = 0; k < 7; k++) event.reals[k] = {i % 1000 + k, 250000000u};
        event.reals[0].whole = i / 100 + 1 + i % 60;  // end time: curves of up to 60 frames
        if (event.type == UPDATE_TEXTURE_CHANGE) {
            event.scrap = (int32_t)animation.scraps.size();
            animation.scraps.push_back("scrap" + std::to_string(i % 100));
        }
    }
    for (int i = 0; i < MAX_MARKER_TEXTS; i++) animation.texts.push_back("marker" + std::to_string(i));
    for (int i = 0; i < MAX_MARKERS; i++) animation.markers.push_back({{i / 5, 0}, {i, 0}, {-i, 0}, i});
    return animation;
}

static ScrapFileData fullScrap(int n)
{
    ScrapFileData scrap;
    scrap.frames.resize(MAX_SCRAP_FRAMES);
    for (int i = 0; i < MAX_SCRAP_FRAMES; i++) {
        ScrapFrameData &frame = scrap.frames[i];
        frame.image = "sheet" + std::to_string(n % 10) + ".png";
        frame.x1 = (int16_t)(i * 32), frame.x2 = (int16_t)(i * 32 + 32), frame.duration = (int16_t)(1 + i % 5);
    }
    return scrap;
}

static std::string typeDirectory(int type, const std::string &project)
{
    return project + (type == RESOURCE_MODEL ? "Models/" : type == RESOURCE_SCRAP ? "Scraps/"
                      : type == RESOURCE_ANIMATION ? "Anims/" : "Images/");
}

struct Timing
{
    const char *what;
    int type;
    std::vector<std::string> names;
    double bytes = 0;
    std::vector<double> ms;  // per run: the time for all the names
};

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? atoi(argv[1]) : 20;
    const std::string folder = makeBenchFolder("model_load");
    if (chdir(folder.c_str()) != 0) return 1;
    std::vector<std::string> files = {P + "Models/hero", P + "Anims/dance"};
    std::filesystem::create_directories(P + "Models");
    std::filesystem::create_directories(P + "Anims");
    std::filesystem::create_directories(P + "Scraps");
    bool written = writeModelFile(files[0], bigModel()) && writeAnimationFile(files[1], bigAnimation());
    Timing scraps{"scrap (100 frames)", RESOURCE_SCRAP, {}, 0, {}};
    for (int i = 0; i < 100; i++) {
        scraps.names.push_back("scrap" + std::to_string(i));
        files.push_back(P + "Scraps/" + scraps.names.back());
        written = written && writeScrapFile(files.back(), fullScrap(i));
    }
    if (!written || !buildArchive(files, "bench.qfa", ARCHIVE_KEY)) return 1;
    Timing timings[] = {{"model (500 bones)", RESOURCE_MODEL, {"hero"}, 0, {}},
                        {"animation (49999 events)", RESOURCE_ANIMATION, {"dance"}, 0, {}},
                        scraps};
    for (Timing &timing : timings)
        for (const std::string &name : timing.names)
            timing.bytes += (double)std::filesystem::file_size(
                typeDirectory(timing.type, P) + name);
    std::filesystem::remove_all("Projects");  // the archive alone from here on

    setCurrentArchive(openArchive("bench.qfa", ARCHIVE_KEY));
    setLoaderThreadHooks({[] {}, [] {}});  // dependencies are queued; no images, no GL
    startResourceManager();
    registerModelResource(), registerScrapResource(), registerAnimationResource();
    for (int type : {RESOURCE_MODEL, RESOURCE_SCRAP, RESOURCE_ANIMATION, RESOURCE_IMAGE})
        setResourceDirectory(type, typeDirectory(type, P));
    for (int run = 0; run < runs; run++) {
        for (Timing &timing : timings) {
            const Clock::time_point start = Clock::now();
            for (const std::string &name : timing.names) {
                const ResourceKey key{name, resourceDirectory(timing.type), timing.type};
                void *object = loadResource(key);
                if (object == nullptr) return 1;
                ResourceRecord *record = findOrCreateResource(key);
                record->data = object;  // as the loader stores it; the unload frees it (and its references)
                unloadResource(record);
            }
            timing.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        waitForLoaderThread();
    }
    printf("Loading from the archive, %d runs (loader thread work, on the main thread here); the best run\n"
           "is the figure for an idle machine, the median shows what other processes took:\n", runs);
    for (Timing &timing : timings) {
        const double ms = median(timing.ms), best = *std::min_element(timing.ms.begin(), timing.ms.end());
        const double files = (double)timing.names.size();
        printf("  %-26s best %8.3f ms per file (%6.1f MB/s), median %8.3f ms (%6.1f MB/s), %7.1f KB per file\n",
               timing.what, best / files, timing.bytes / 1e6 / (best / 1000.0), ms / files,
               timing.bytes / 1e6 / (ms / 1000.0), timing.bytes / files / 1024.0);
    }
    shutdownResourceManager();
    closeArchive(currentArchive());
    setCurrentArchive(nullptr);
    std::filesystem::remove_all(folder);
    return 0;
}
