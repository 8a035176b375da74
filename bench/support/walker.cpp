// bench/support/walker.cpp - the walking character of the pose benchmarks, written for both sides.
#include "walker.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "animation/animation.h"
#include "animation/model.h"
#include "animation/scrap.h"
#include "bench_support.h"

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
static const int BONES = WALKER_BONES;
static const int HEAD = 4, HAT = 5, CYCLE = WALKER_CYCLE, HAT_FRAMES = 4, HAT_FRAME_TIME = 5;
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

// The engine's room: N poses, advanced by 1 each step, drawn on a grid (the same as LÖVE's),
// moved right by the global benchOffsetX when it is set.
static const char *ROOM_SCRIPT =
    "function Init()\n"
    "  local offsetX = benchOffsetX or 0\n"
    "  local model = getModelHandle('walker')\n"
    "  walk = getAnimHandle('walk')\n"
    "  poses, px, py = {}, {}, {}\n"
    "  local n = benchCount\n"
    "  local columns = math.ceil(math.sqrt(n * 4 / 3))\n"
    "  local rows = math.ceil(n / columns)\n"
    "  for i = 1, n do\n"
    "    poses[i] = getModelPose(model)\n"
    "    animatePose(poses[i], walk, i % 40)\n"
    "    px[i] = offsetX + 20 + ((i - 1) % columns) * 600 / columns\n"
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

bool buildWalkerGames(const std::string &folder)
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
