// pose_bench - posed skeletal models: advancing and drawing N walking characters a frame, beside
// LÖVE drawing the same N x 20 image quads placed by a Lua forward-kinematics loop, in the same run.
//
// The character: a 20-bone figure (pelvis, spine, chest, neck, head, hat, two arms of shoulder,
// upper arm, forearm and hand, two legs of thigh, shin and foot), every bone a small rectangle of
// one 64 x 64 atlas. Its walk cycle (length 40) swings every bone with rotation curves (two
// cubic segments a turn, left and right opposed), fades the head's colour and flips the hat's
// picture through 4 frames of 5 (its frame clock).
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

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// One bone: its parent (-1 for the root), where on the parent it hangs (0 its anchor, 1 its far
// end), its picture's length and thickness, its rest angle in the world, and its swing.
struct RigBone
{
    const char *name;
    int parent;
    float along;
    int length, thickness, angle, swing;
    bool left;  // swings opposite to the right side
};
static const RigBone RIG[] = {
    {"pelvis", -1, 0, 8, 6, 90, 3, false},   {"spine", 0, 1, 10, 4, 90, 3, false},
    {"chest", 1, 1, 8, 6, 90, 2, true},      {"neck", 2, 1, 3, 2, 90, 2, false},
    {"head", 3, 1, 8, 8, 90, 4, true},       {"hat", 4, 1, 4, 4, 90, 6, false},
    {"shoulderL", 2, 1, 4, 2, 180, 3, true}, {"upperArmL", 6, 1, 9, 3, 270, 30, true},
    {"forearmL", 7, 1, 8, 2, 270, 20, true}, {"handL", 8, 1, 3, 3, 270, 10, true},
    {"shoulderR", 2, 1, 4, 2, 0, 3, false},  {"upperArmR", 10, 1, 9, 3, 270, 30, false},
    {"forearmR", 11, 1, 8, 2, 270, 20, false}, {"handR", 12, 1, 3, 3, 270, 10, false},
    {"thighL", 0, 0, 11, 4, 270, 25, false}, {"shinL", 14, 1, 10, 3, 270, 20, false},
    {"footL", 15, 1, 4, 2, 0, 10, false},    {"thighR", 0, 0, 11, 4, 270, 25, true},
    {"shinR", 17, 1, 10, 3, 270, 20, true},  {"footR", 18, 1, 4, 2, 0, 10, true},
};
static const int BONES = sizeof RIG / sizeof RIG[0];
static const int HEAD = 4, HAT = 5, CYCLE = 40, HAT_FRAMES = 4, HAT_FRAME_TIME = 5;
static const int ROOT_X = 0, ROOT_Y = 30;

// Atlas places, in image pixels from the bottom-left: bone i at column i % 4, row i / 4 (16 x 8
// cells); the hat's frames along the top row.
static int atlasX(int i) { return (i % 4) * 16; }
static int atlasY(int i) { return (i / 4) * 8; }
static int hatX(int frame) { return frame * 16; }
static const int HAT_Y = 56;

// Rest anchors: the root at (ROOT_X, ROOT_Y); a child at its place on its parent's axis. Angles
// are quarter turns, so the positions are whole pixels.
static void restAnchors(int x[], int y[])
{
    for (int i = 0; i < BONES; i++) {
        const RigBone &b = RIG[i];
        if (b.parent < 0) {
            x[i] = ROOT_X, y[i] = ROOT_Y;
            continue;
        }
        const RigBone &p = RIG[b.parent];
        const double a = p.angle * M_PI / 180;
        x[i] = x[b.parent] + (int)lround(cos(a) * p.length * b.along);
        y[i] = y[b.parent] + (int)lround(sin(a) * p.length * b.along);
    }
}

static int restRotation(int i) { return RIG[i].parent < 0 ? RIG[i].angle : RIG[i].angle - RIG[RIG[i].parent].angle; }

static StoredReal whole(int value) { return {value, 0}; }

static EventData event(int type, int time, int target)
{
    EventData e;
    e.type = (int8_t)type;
    e.time = whole(time);
    e.target = target;
    return e;
}

static AnimationFileData walkCycle()
{
    AnimationFileData walk;
    walk.length = whole(CYCLE);
    for (int half = 0; half < 2; half++) {
        const int start = half * CYCLE / 2;
        for (int i = 0; i < BONES; i++) {
            const int lift = RIG[i].left ? -RIG[i].swing : RIG[i].swing;
            const int from = restRotation(i) + (half == 0 ? lift : -lift), to = restRotation(i) + (half == 0 ? -lift : lift);
            EventData e = event(UPDATE_ROTATION, start, i);
            e.reals[0] = whole(start + CYCLE / 2), e.reals[1] = whole(from), e.reals[2] = whole(to);
            walk.events.push_back(e);
        }
        EventData fade = event(UPDATE_COLOR, start, HEAD);
        const int pink[6] = {1, 1, 1, 0, 1, 0};  // red stays 1; green and blue 1 -> 0.6 -> 1
        fade.reals[0] = whole(start + CYCLE / 2);
        for (int k = 0; k < 6; k++) fade.reals[k + 1] = pink[k] ? whole(1) : StoredReal{0, 600000000u};
        if (half == 1) std::swap(fade.reals[3], fade.reals[4]), std::swap(fade.reals[5], fade.reals[6]);
        walk.events.push_back(fade);
    }
    return walk;
}

// Writes the engine's files under `project` (Images/, Scraps/, Models/, Anims/) and LÖVE's
// atlas and rig.lua into `love`. False when something could not be written.
static bool writeCharacter(const std::string &project, const std::string &love)
{
    for (const char *dir : {"Images", "Scraps", "Models", "Anims"}) fs::create_directories(project + dir);
    // The atlas: every bone's rectangle in a colour of its own, the hat's frames in four more.
    std::string draw;
    char rectangle[160];
    for (int i = 0; i < BONES; i++) {
        snprintf(rectangle, sizeof rectangle, " -fill 'hsl(%d,80%%,60%%)' -draw 'rectangle %d,%d %d,%d'", i * 360 / BONES,
                 atlasX(i), 64 - atlasY(i) - RIG[i].thickness, atlasX(i) + RIG[i].length - 1, 64 - atlasY(i) - 1);
        draw += rectangle;
    }
    for (int f = 0; f < HAT_FRAMES; f++) {
        snprintf(rectangle, sizeof rectangle, " -fill 'hsl(%d,100%%,50%%)' -draw 'rectangle %d,%d %d,%d'", f * 90, hatX(f),
                 64 - HAT_Y - 4, hatX(f) + 3, 64 - HAT_Y - 1);
        draw += rectangle;
    }
    const std::string atlas = project + "Images/atlas.png";
    if (system(("convert -size 64x64 xc:'#FF80FF'" + draw + " PNG32:'" + atlas + "' 2>/dev/null").c_str()) != 0) return false;
    fs::copy_file(atlas, love + "/atlas.png");

    int x[BONES], y[BONES];
    restAnchors(x, y);
    ModelFileData model;
    for (int i = 0; i < BONES; i++) {
        const RigBone &b = RIG[i];
        ScrapFileData scrap;
        for (int f = 0; f < (i == HAT ? HAT_FRAMES : 1); f++) {
            ScrapFrameData frame;
            frame.image = "atlas.png";
            frame.x1 = (int16_t)(i == HAT ? hatX(f) : atlasX(i)), frame.y1 = (int16_t)(i == HAT ? HAT_Y : atlasY(i));
            frame.x2 = (int16_t)(frame.x1 + b.length), frame.y2 = (int16_t)(frame.y1 + b.thickness);
            frame.offsetY = (int16_t)(-b.thickness / 2);
            frame.duration = (int16_t)(i == HAT ? HAT_FRAME_TIME : 1);
            scrap.frames.push_back(frame);
        }
        if (!writeScrapFile(project + "Scraps/" + b.name, scrap)) return false;
        BoneData bone;
        bone.name = b.name, bone.scrap = b.name, bone.x = x[i], bone.y = y[i], bone.angle = b.angle;
        for (int c = 0; c < BONES; c++) {
            if (RIG[c].parent == i) bone.joints.push_back({c, x[c], y[c]});
        }
        model.bones.push_back(bone);
    }
    AnimationFileData still;
    still.length = whole(CYCLE);
    if (!writeModelFile(project + "Models/walker", model) || !writeAnimationFile(project + "Anims/walk", walkCycle()) ||
        !writeAnimationFile(project + "Anims/still", still))
        return false;

    // LÖVE's rig: the same numbers, quads in LÖVE's top-left image coordinates.
    FILE *rig = fopen((love + "/rig.lua").c_str(), "w");
    if (!rig) return false;
    fprintf(rig, "-- written by pose_bench\nreturn {cycle = %d, head = %d, hat = %d, hatFrameTime = %d, rootX = %d, rootY = %d,\n",
            CYCLE, HEAD + 1, HAT + 1, HAT_FRAME_TIME, ROOT_X, ROOT_Y);
    fprintf(rig, "hatFrames = {");
    for (int f = 0; f < HAT_FRAMES; f++) fprintf(rig, "{%d, %d, 4, 4}, ", hatX(f), 64 - HAT_Y - 4);
    fprintf(rig, "},\nbones = {\n");
    for (int i = 0; i < BONES; i++) {
        const RigBone &b = RIG[i];
        fprintf(rig, "  {parent = %d, along = %g, length = %d, thickness = %d, rest = %d, swing = %d, quad = {%d, %d, %d, %d}},\n",
                b.parent + 1, b.along, b.length, b.thickness, restRotation(i), b.left ? -b.swing : b.swing, atlasX(i),
                64 - atlasY(i) - b.thickness, b.length, b.thickness);
    }
    fprintf(rig, "}}\n");
    return fclose(rig) == 0;
}

// The engine's room: N poses, advanced by 1 each step, drawn on a grid (the same as LÖVE's).
static const char *ROOM_SCRIPT =
    "function Init()\n"
    "  local model = getModelHandle('walker')\n"
    "  walk = getAnimHandle('walk')\n"
    "  poses, px, py = {}, {}, {}\n"
    "  local n = benchCount\n"
    "  local columns = math.ceil(math.sqrt(n * 4 / 3))\n"
    "  local rows = math.ceil(n / columns)\n"
    "  for i = 1, n do\n"
    "    poses[i] = getModelPose(model)\n"
    "    animatePose(poses[i], walk, i % 40)\n"
    "    px[i] = 20 + ((i - 1) % columns) * 600 / columns\n"
    "    py[i] = 10 + math.floor((i - 1) / columns) * 400 / rows\n"
    "  end\n"
    "  roomStarted = true\n"
    "end\n"
    "function Step()\n"
    "  local animatePose, walk = animatePose, walk\n"
    "  for i = 1, #poses do animatePose(poses[i], walk, 1) end\n"
    "end\n"
    "function Render()\n"
    "  local pushMatrix, translateRender, renderPose, popMatrix = pushMatrix, translateRender, renderPose, popMatrix\n"
    "  for i = 1, #poses do pushMatrix() translateRender(px[i], py[i], 0) renderPose(poses[i]) popMatrix() end\n"
    "end\n";

static bool buildGames(const std::string &folder)
{
    fs::create_directories(folder + "/love");
    if (!writeCharacter(folder + "/game/Projects/pose/", folder + "/love")) return false;
    fs::copy_file(QF_BENCH_DIR "/love/pose/main.lua", folder + "/love/main.lua");
    fs::copy_file(QF_BENCH_DIR "/love/pose/conf.lua", folder + "/love/conf.lua");
    fs::copy_file(QF_BENCH_DIR "/love/unthrottled.lua", folder + "/love/unthrottled.lua");
    RoomNameLists lists;
    lists.names[ROOM_MODELS] = {"walker"};
    lists.names[ROOM_ANIMATIONS] = {"walk"};
    return writeBenchGame(folder + "/game", "pose", lists, ROOM_SCRIPT, {}, false);
}

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
        advancePose(walk, poses.back(), (float)(i % CYCLE));
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
    printf("advancing %d poses of %d bones by 1, ms per frame (best, median of %d frames):\n", POSES, BONES, FRAMES);
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
    if (!buildGames(folder)) {
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
           BONES, seconds.c_str(), runs);
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
               count, count * BONES, ours, love, love > 0 ? ours / love : 0.0, mipmapped, mipmapped > 0 ? ours / mipmapped : 0.0);
        fflush(stdout);
    }
    fs::remove_all(folder);
    endBenchEnvironment();
    return 0;
}
