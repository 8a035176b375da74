// pose_bench - posed skeletal models: advancing and drawing N walking characters a frame, beside
// LÖVE drawing the same N x 20 image quads placed by a Lua forward-kinematics loop, in the same run.
//
// The character is bench/support/walker's.
//
// 1. In this process, on the loader thread without GL: 1000 poses advanced by 1 a frame,
//    (a) with every track running (the walk), (b) with none (frozen poses advanced through an
//    animation without events), (c) as (a) with every frame clock brought up to date as drawing
//    does (scrap records locked). Milliseconds per frame, best and median of the frames.
// 2. Frames per second at N = 100, 500 and 2000: our side is a fresh engine process
//    (`pose_bench --engine N SECONDS`) whose room makes N poses in Init, advances each by 1 in
//    Step (animatePose) and draws each in Render (pushMatrix, translateRender, renderPose,
//    popMatrix). LÖVE's side (bench/love/pose) evaluates the same curves in Lua, places the bones
//    parent to child and draws each with love.graphics.draw(atlas, quad, x, y, angle, ...),
//    tinting the head and picking the hat's frame. Both draw the characters on the same grid in a
//    640 x 480 window on the same DISPLAY, unthrottled. The engine samples every texture through
//    mipmaps; LÖVE's atlas, as a LÖVE game loads it, has none (the ratio of the goal), and a
//    second LÖVE run samples it through mipmaps too, to show what the sampling alone costs.
// Usage: pose_bench [seconds per run, default 2] [runs per side, default 1; with more the sides
//        alternate and the best counts]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "animation/pose.h"
#include "animation/scrap.h"
#include "bench_support.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"
#include "walker.h"

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// ---------------------------------------------------------------- advancing in this process

struct FrameTimes
{
    double best = 1e9;
    std::vector<double> all;
    void add(double ms) { best = std::min(best, ms), all.push_back(ms); }
};

template <typename Work>
static FrameTimes timeFrames(int frames, Work work)
{
    FrameTimes times;
    for (int f = 0; f < frames; f++) {
        const Clock::time_point start = Clock::now();
        work();
        times.add(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return times;
}

static void measureAdvance(const std::string &project)
{
    setLoaderThreadHooks({[] {}, [] {}});  // no GL here: the scraps load, their images do not
    startResourceManager();
    registerModelResource(), registerScrapResource(), registerAnimationResource();
    setResourceDirectory(RESOURCE_SCRAP, project + "Scraps/");
    setResourceDirectory(RESOURCE_MODEL, project + "Models/");
    setResourceDirectory(RESOURCE_ANIMATION, project + "Anims/");
    ResourceRecord *records[3] = {findOrCreateResource({"walker", resourceDirectory(RESOURCE_MODEL), RESOURCE_MODEL}),
                                  findOrCreateResource({"walk", resourceDirectory(RESOURCE_ANIMATION), RESOURCE_ANIMATION}),
                                  findOrCreateResource({"still", resourceDirectory(RESOURCE_ANIMATION), RESOURCE_ANIMATION})};
    for (ResourceRecord *record : records) acquireResource(record, 1);
    waitForLoaderThread();
    void *objects[3];
    for (int i = 0; i < 3; i++) objects[i] = lockResource(records[i]), unlockResource(records[i]);
    Model *model = static_cast<Model *>(objects[0]);
    Animation *walk = static_cast<Animation *>(objects[1]), *still = static_cast<Animation *>(objects[2]);
    if (!model || !walk || !still) {
        printf("advance: the character did not load\n");
        return;
    }
    const int POSES = 1000, FRAMES = 400;
    std::vector<ModelPose *> poses;
    for (int i = 0; i < POSES; i++) {
        poses.push_back(createPose(model));
        advancePose(walk, poses.back(), (float)(i % WALKER_CYCLE));
    }
    int running = 0;
    for (ModelPose *pose : poses) running += pose->runningBones;
    const FrameTimes all = timeFrames(FRAMES, [&] {
        for (ModelPose *pose : poses) advancePose(walk, pose, 1);
    });
    const FrameTimes clocks = timeFrames(FRAMES, [&] {
        for (ModelPose *pose : poses) advancePose(walk, pose, 1), settleFrameClocks(pose);
    });
    for (ModelPose *pose : poses) freezeTracks(pose);
    const FrameTimes none = timeFrames(FRAMES, [&] {
        for (ModelPose *pose : poses) advancePose(still, pose, 1);
    });
    printf("advancing %d poses of %d bones by 1, ms per frame (best, median of %d frames):\n", POSES, WALKER_BONES, FRAMES);
    printf("  every track running (%d bones with tracks)   %7.3f  %7.3f   (goal < 1)\n", running, all.best, median(all.all));
    printf("  the same, frame clocks brought up to date    %7.3f  %7.3f\n", clocks.best, median(clocks.all));
    printf("  no running track (frozen)                    %7.3f  %7.3f   (goal < 0.05)\n", none.best, median(none.all));
    fflush(stdout);
    for (ModelPose *pose : poses) destroyPose(pose);
    for (ResourceRecord *record : records) releaseResource(record);
    shutdownResourceManager();
    setLoaderThreadHooks(defaultLoaderThreadHooks());
}

int main(int argc, char **argv)
{
    if (argc > 3 && strcmp(argv[1], "--engine") == 0) return runUnthrottledEngine(atof(argv[3]), {{"benchCount", argv[2]}});
    const std::string seconds = argc > 1 ? argv[1] : "2";
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 1;
    const std::string folder = makeBenchFolder("pose");
    if (!buildWalkerGames(folder)) {
        fprintf(stderr, "pose_bench: could not build the games in %s\n", folder.c_str());
        return 1;
    }
    measureAdvance(folder + "/game/Projects/pose/");
    if (!getenv("DISPLAY")) {
        fprintf(stderr, "pose_bench: no display for the frame rates\n");
        fs::remove_all(folder);
        return 1;
    }
    prepareBenchEnvironment();
    const std::string self = selfPath();
    printf("N walking characters of %d bones, advanced and drawn every frame, unthrottled, 640x480, %s s per run, best of %d\n",
           WALKER_BONES, seconds.c_str(), runs);
    for (int count : {100, 500, 2000}) {
        const std::string n = std::to_string(count);
        double ours = -1, love = -1, mipmapped = -1;
        for (int run = 0; run < runs; run++) {
            ours = std::max(ours, valueAfter(runChild({self, "--engine", n, seconds}, folder + "/game").output, "fps"));
            love = std::max(love, valueAfter(runChild({"love", folder + "/love", n, seconds}, folder + "/love").output, "love-fps"));
            mipmapped = std::max(mipmapped, valueAfter(runChild({"love", folder + "/love", n, seconds, "mipmapped"}, folder + "/love").output,
                                                       "love-fps"));
        }
        printf("N = %4d (%5d quads): quillfen animatePose + renderPose %8.1f fps | LÖVE Lua FK + draw(quad) %8.1f fps | ratio %.2f "
               "(goal >= 1.5) | LÖVE, atlas mipmapped as ours %8.1f fps, ratio %.2f\n",
               count, count * WALKER_BONES, ours, love, love > 0 ? ours / love : 0.0, mipmapped, mipmapped > 0 ? ours / mipmapped : 0.0);
        fflush(stdout);
    }
    fs::remove_all(folder);
    endBenchEnvironment();
    return 0;
}
