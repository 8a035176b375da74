// Model poses on real models and animations, written as text sources and loaded by the real
// loader thread: the playback scenarios, the script functions on a real Lua state, bones on
// screen (read back with glReadPixels), and models and animations unloaded under live poses.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cmath>
#include <functional>
#include <limits>

#include "animation/pose.h"
#include "animation/pose_script.h"
#include "core/script.h"
#include "graphics/display.h"
#include "graphics/renderer.h"
#include "loading.h"

namespace {

// A loaded object of a record the test acquired (the loader has finished).
template <typename T>
T *loaded(ResourceRecord *record)
{
    T *object = static_cast<T *>(lockResource(record));
    unlockResource(record);
    return object;
}

ResourceRecord *acquireLoaded(int type, const std::string &name)
{
    ResourceRecord *record = Loading::record(type, name);
    acquireResource(record, 1);
    waitForLoaderThread();
    return record;
}

// Five bones in a row; bone 2 shows a flip-book of frames lasting 2, 3 and 5. The animation
// "clock" (length 60, bones by number) has a marker at every whole time 0..60 naming text "mK",
// sets bone 4's frame clock to 1000 + K at every time K (its speed 0, so the value stays), fades
// bone 1's red from 0 to 1 over frames 10..20 and aims a rotation at bone 7.
void writeRow(Loading &loading)
{
    ASSERT_TRUE(loading.scrap("flip", "[frame]\nduration = 2\n[frame]\nduration = 3\n[frame]\nduration = 5\n"));
    std::string bones;
    for (int i = 0; i < 5; i++) {
        bones += "[bone]\nname = b" + std::to_string(i) + (i == 2 ? "\nscrap = flip" : "") + "\nposition = " +
                 std::to_string(10 * i) + " 0\n";
        if (i < 4) bones += "joint = " + std::to_string(10 * i + 10) + " 0 b" + std::to_string(i + 1) + "\n";
    }
    ASSERT_TRUE(loading.model("row", bones));
    std::string clock = "[animation]\nlength = 60\n[texts]\n", markers = "[markers]\n", events;
    events += "[texture-speed]\nbone = 4\ntime = 0\nspeed = 0\n";
    for (int k = 0; k <= 60; k++) {
        const std::string t = std::to_string(k);
        clock += "m" + t + "\n";
        markers += t + " " + t + " -" + t + " m" + t + "\n";
        events += "[texture-time]\nbone = 4\ntime = " + t + "\nvalue = " + std::to_string(1000 + k) + "\n";
        if (k == 3) events += "[rotation]\nbone = 7\ntime = 3\nend = 13\nfrom = 0\nto = 90\n";
        if (k == 10) events += "[color]\nbone = 1\ntime = 10\nend = 20\nred = 0 1\ngreen = 1 1\nblue = 1 1\n";
    }
    ASSERT_TRUE(loading.animation("clock", clock + markers + events));
    ASSERT_TRUE(loading.animation("tiny", "[animation]\nlength = 0.000000001\n[texts]\nm0\n[markers]\n0 0 0 m0\n"
                                          "[texture-time]\nbone = 4\ntime = 0\nvalue = 7\n"));
}

// What one advance left: its result, the markers' text indices, bone 4's frame clock, bone 1's
// red, bone 2's frame (clocks brought up to date when the row asks) and the pose's clock.
struct Seen
{
    bool wrapped;
    std::string markers;
    float clock, red, time;
    int frame, running;
};

std::string countFrom(int first, int last)  // "first first+1 ... last"
{
    std::string text;
    for (int k = first; k <= last; k++) text += (text.empty() ? "" : " ") + std::to_string(k);
    return text;
}

// Catches events or markers taken out of list order, missed or taken twice at the wrap, a wrong
// wrap count or clock, a marker listed before its time or kept past the next advance, a clamped or
// wrong colour fade, a flip-book stepping wrongly (at each advance or several at once), an event
// aimed past the last bone reaching memory, and advances that never end.
TEST(PosePlayback, ScenariosOfTheAdvance)
{
    Loading loading;
    writeRow(loading);
    ResourceRecord *row = acquireLoaded(RESOURCE_MODEL, "row");
    ResourceRecord *clock = acquireLoaded(RESOURCE_ANIMATION, "clock"), *tiny = acquireLoaded(RESOURCE_ANIMATION, "tiny");
    ASSERT_NE(nullptr, loaded<Model>(row));
    ASSERT_NE(nullptr, loaded<Animation>(clock));
    ASSERT_NE(nullptr, loaded<Animation>(tiny));
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> sixty(60, 1), ten(10, 1), seven(7, 1);
    const auto twoTurnsAndTen = [](const std::vector<Seen> &seen) {  // all markers of two turns, then those up to 10
        EXPECT_TRUE(seen[0].wrapped);
        EXPECT_EQ(countFrom(0, 60) + " " + countFrom(0, 60) + " " + countFrom(0, 10), seen[0].markers);
        EXPECT_EQ(1010, seen[0].clock);
        EXPECT_EQ(10, seen[0].time);
    };
    struct Scenario
    {
        const char *name;
        ResourceRecord *animation;
        std::vector<float> durations;
        bool settleEach;  // bring the frame clocks up to date after every advance (as drawing every frame)
        std::function<void(const std::vector<Seen> &)> check;
    };
    const Scenario scenarios[] = {
        {"sixty advances of 1 over length 60", clock, sixty, true,
         [](const std::vector<Seen> &seen) {
             for (int k = 1; k <= 60; k++) {
                 const Seen &s = seen[k - 1];
                 SCOPED_TRACE("advance " + std::to_string(k));
                 EXPECT_EQ(k == 60, s.wrapped);
                 EXPECT_EQ(k == 1 ? "0 1" : k == 60 ? "60 0" : std::to_string(k), s.markers);
                 EXPECT_EQ(k == 60 ? 1000 : 1000 + k, s.clock) << "the last event applied";
                 EXPECT_EQ(k == 60 ? 0 : k, s.time);
             }
         }},
        {"one advance of 130 wraps twice", clock, {130}, true, twoTurnsAndTen},
        {"a marker is seen only after the advance that first reaches it", clock, {4.5f, 1, 1}, true,
         [](const std::vector<Seen> &seen) {
             EXPECT_EQ("0 1 2 3 4", seen[0].markers);
             EXPECT_EQ("5", seen[1].markers);
             EXPECT_EQ("6", seen[2].markers);
         }},
        {"a colour fade at 15 and past its end at 25", clock, {15, 10}, true,
         [](const std::vector<Seen> &seen) {
             EXPECT_EQ(0.5f, seen[0].red);
             EXPECT_EQ(1.5f, seen[1].red) << "not clamped";
         }},
        {"a flip-book of 2, 3 and 5 advanced by 1", clock, ten, true,
         [](const std::vector<Seen> &seen) {
             std::string frames;
             for (const Seen &s : seen) frames += std::to_string(s.frame);
             EXPECT_EQ("0111222220", frames);
         }},
        {"seven advances brought up to date at once", clock, seven, false,
         [](const std::vector<Seen> &seen) { EXPECT_EQ(2, seen.back().frame) << "clock 7 is 2 into frame 2"; }},
        {"an event aimed at bone 7 of 5 changes nothing", clock, {5}, true,
         [](const std::vector<Seen> &seen) { EXPECT_EQ(0, seen[0].running) << "no track started"; }},
        {"three turns in one advance: two turns and the last part", clock, {190}, true, twoTurnsAndTen},
        {"a length of a billionth and an advance of a million", tiny, {1e6f}, true,
         [](const std::vector<Seen> &seen) {
             EXPECT_TRUE(seen[0].wrapped);
             EXPECT_EQ("0 0 0", seen[0].markers) << "two turns and the last part";
             EXPECT_TRUE(seen[0].time >= 0 && seen[0].time <= 1e-9f) << seen[0].time;
         }},
        {"advances of infinity and not a number end", clock, {inf, std::nanf(""), 1}, true,
         [](const std::vector<Seen> &seen) {
             EXPECT_TRUE(seen[0].wrapped);
             EXPECT_EQ(3u, seen.size());
         }},
    };
    Model *model = loaded<Model>(row);
    for (const Scenario &scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        ModelPose *pose = createPose(model);
        ASSERT_EQ(5, pose->boneCount);
        Animation *animation = loaded<Animation>(scenario.animation);
        std::vector<Seen> seen;
        for (float duration : scenario.durations) {
            const bool wrapped = advancePose(animation, pose, duration);
            if (scenario.settleEach || seen.size() + 1 == scenario.durations.size()) settleFrameClocks(pose);
            std::string markers;
            for (const Marker &m : pose->activeMarkers) markers += (markers.empty() ? "" : " ") + std::to_string(m.textIndex);
            seen.push_back({wrapped, markers, pose->bones[4].frameClock, pose->bones[1].red, pose->time,
                            pose->bones[2].frameIndex, pose->runningBones});
        }
        scenario.check(seen);
        destroyPose(pose);
    }
    EXPECT_TRUE(advancePose(nullptr, nullptr, 1)) << "nothing to advance is reported as wrapped";
    for (ResourceRecord *record : {row, clock, tiny}) releaseResource(record);
}

// ---------------------------------------------------------------- script functions and pixels

uint32_t rgb(const std::vector<uint8_t> &pixels, int x, int y)  // of a readPixels(0, 0, 64, 64) grab
{
    const uint8_t *p = &pixels[(y * 64 + x) * 4];
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

// The display, the loader with images on the loader context, a Lua state with the pose and
// drawing functions, and pictures: 16 x 4 red, green and white images, each the whole picture of
// a scrap of the same name drawn from the bone's anchor along the bone (offset 0 -2).
class PoseWorld : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        loading = std::make_unique<Loading>(true);
        const std::pair<std::string, const char *> pictures[] = {{"red", "#F00"}, {"green", "#0F0"}, {"white", "#FFF"}, {"blue", "#00F"}};
        for (const auto &picture : pictures) {
            const std::string image = loading->path(RESOURCE_IMAGE, picture.first + ".png");
            ASSERT_EQ(0, system(("convert -size 16x4 'xc:" + std::string(picture.second) + "' PNG24:'" + image + "'").c_str()));
            ASSERT_TRUE(loading->scrap(picture.first, "[frame]\nimage = " + picture.first + ".png\nrect = 0 0 16 4\noffset = 0 -2\n"));
        }
        L = luaL_newstate();
        luaL_openlibs(L);
        registerDrawingFunctions(L);
        registerPoseFunctions(L);
    }
    void TearDown() override
    {
        if (L) lua_close(L);  // collects the poses first: the registry still runs
        loading.reset();
    }
    void handle(const char *global, int type, const std::string &name)  // _G[global] = the record, acquired and loaded
    {
        lua_pushlightuserdata(L, acquireLoaded(type, name));
        lua_setglobal(L, global);
    }
    // Clears the 64 x 64 window, runs `lua`, and returns what it drew.
    std::vector<uint8_t> draw(const std::string &lua)
    {
        beginFrame();
        EXPECT_EQ("", runLua(L, lua));
        flushRenderer();
        std::vector<uint8_t> pixels = readPixels(0, 0, 64, 64);
        endFrame();
        return pixels;
    }
    std::unique_ptr<Loading> loading;
    lua_State *L = nullptr;
};

const uint32_t RED = 0xFF0000, GREEN = 0x00FF00, BLUE = 0x0000FF, BLACK = 0;

// Catches bones drawn from the wrong anchor, joint or angle, a child not following its parent, a
// rotation that does not reach the drawing, and a root's rest angle kept once a translation
// track takes over its position (it must give way to the root's rotation value, 0).
TEST_F(PoseWorld, BonesLandWhereTheirGeometrySays)
{
    // Upper arm from (8, 16) along x (16 long), its joint at (24, 16) holds the forearm.
    ASSERT_TRUE(loading->model("arm", "[bone]\nname = upper\nscrap = red\nposition = 8 16\njoint = 24 16 fore\n"
                                      "[bone]\nname = fore\nscrap = green\nposition = 24 16\n"));
    ASSERT_TRUE(loading->animation("lift", "[animation]\nmodel = arm\nlength = 100\n"
                                           "[rotation]\nbone = upper\ntime = 0\nend = 10\nfrom = 0\nto = 90\n"));
    ASSERT_TRUE(loading->animation("half", "[animation]\nmodel = arm\nlength = 100\n"
                                           "[rotation]\nbone = upper\ntime = 0\nend = 1\nfrom = 45\nto = 45\n"));
    // A root at (10, 10) turned 30 degrees; a translation track moves it right by 1.
    ASSERT_TRUE(loading->model("bar", "[bone]\nname = bar\nscrap = blue\nposition = 10 10\nangle = 30\n"));
    ASSERT_TRUE(loading->animation("slide", "[animation]\nmodel = bar\nlength = 100\n"
                                            "[x-translation]\nbone = bar\ntime = 0\nend = 10\nfrom = 10\nto = 12\n"));
    handle("arm", RESOURCE_MODEL, "arm"), handle("lift", RESOURCE_ANIMATION, "lift"), handle("half", RESOURCE_ANIMATION, "half");
    handle("bar", RESOURCE_MODEL, "bar"), handle("slide", RESOURCE_ANIMATION, "slide");

    const struct
    {
        const char *name, *lua;
        std::vector<std::pair<int, int>> red, green, blue, black;  // pixels of each colour
    } cases[] = {
        // At rest: red over x 8..24, green over 24..40, both y 14..18.
        {"arm at rest", "p = getModelPose(arm) renderPose(p)", {{9, 15}, {23, 16}}, {{25, 15}, {39, 16}}, {}, {{8, 20}, {41, 16}}},
        // Lifted to 90: the upper arm stands on (8, 16) up to (8, 32), the forearm from there to (8, 48).
        {"arm lifted by its rotation curve", "animatePose(p, lift, 10) renderPose(p)", {{8, 17}, {7, 30}}, {{8, 33}, {9, 46}}, {},
         {{16, 16}, {30, 16}, {8, 50}}},
        // At 45 degrees: the joint at (8 + 16 cos 45, 16 + 16 sin 45) = (19.3, 27.3), the forearm's
        // end at (30.6, 38.6); the middles of the two bones are (13.7, 21.7) and (25.0, 33.0).
        {"arm at 45 degrees", "setDefaultPose(p) animatePose(p, half, 0) renderPose(p)", {{13, 21}, {10, 18}}, {{24, 32}, {29, 37}},
         {}, {{20, 16}, {8, 30}, {33, 41}}},
        // The bar at 30 degrees: (10 + 10 cos 30, 10 + 10 sin 30) = (18.7, 15.0) is on it.
        {"a root of angle 30 at rest", "q = getModelPose(bar) renderPose(q)", {}, {}, {{18, 15}, {13, 11}}, {{24, 10}}},
        // Moved by its translation track to x 11: drawn at its rotation value 0, along y = 10.
        {"the same root moved by a translation track", "animatePose(q, slide, 5) renderPose(q)", {}, {}, {{12, 10}, {25, 10}},
         {{18, 15}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> pixels = draw(c.lua);
        const std::pair<uint32_t, const std::vector<std::pair<int, int>> *> expected[] = {
            {RED, &c.red}, {GREEN, &c.green}, {BLUE, &c.blue}, {BLACK, &c.black}};
        for (const auto &e : expected)
            for (const auto &at : *e.second)
                EXPECT_EQ(e.first, rgb(pixels, at.first, at.second)) << "at (" << at.first << ", " << at.second << ")";
    }
}

// Catches a white bone not taking the script's colour, a coloured bone not opaque, the white
// after a coloured bone not restored, and a pose that leaves the matrix, its stack, the colour or
// a texture binding other than the script must see afterwards.
TEST_F(PoseWorld, ColoursAndTheStateAScriptSeesAfterwards)
{
    // Three bones stacked at y 8, 24 and 40: red (white colour), white turned blue by a colour
    // track, red again (white colour).
    ASSERT_TRUE(loading->model("three", "[bone]\nname = a\nscrap = red\nposition = 4 8\n"
                                        "[bone]\nname = b\nscrap = white\nposition = 4 24\n"
                                        "[bone]\nname = c\nscrap = red\nposition = 4 40\n"));
    ASSERT_TRUE(loading->animation("tint", "[animation]\nmodel = three\nlength = 100\n"
                                           "[color]\nbone = b\ntime = 0\nend = 10\nred = 0 0\ngreen = 0 0\nblue = 1 1\n"));
    handle("three", RESOURCE_MODEL, "three"), handle("tint", RESOURCE_ANIMATION, "tint");
    ASSERT_EQ("", runLua(L, "p = getModelPose(three) animatePose(p, tint, 1)"));
    GLfloat before[16], inside[16], after[16], colour[4];
    GLint depthBefore = 0, depthInside = 0, depthAfter = 0, texture = -1;
    beginFrame();
    glGetFloatv(GL_MODELVIEW_MATRIX, before);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthBefore);
    ASSERT_EQ("", runLua(L, "pushMatrix() translateRender(8, 0, 0) setRenderColor(255, 255, 255, 128) renderPose(p)"));
    flushRenderer();  // what any script function touching GL does first
    const std::vector<uint8_t> pixels = readPixels(0, 0, 64, 64);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetFloatv(GL_MODELVIEW_MATRIX, inside);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthInside);
    ASSERT_EQ("", runLua(L, "popMatrix()"));
    glGetFloatv(GL_MODELVIEW_MATRIX, after);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthAfter);
    endFrame();
    const uint32_t half = rgb(pixels, 14, 8);
    EXPECT_TRUE(half == 0x7F0000 || half == 0x800000) << std::hex << half << ": the white bone at half alpha";
    EXPECT_EQ(BLUE, rgb(pixels, 14, 24)) << "the coloured bone, opaque";
    EXPECT_EQ(RED, rgb(pixels, 14, 40)) << "after a coloured bone the colour is opaque white";
    EXPECT_EQ(BLACK, rgb(pixels, 6, 8)) << "drawn through the script's translation";
    EXPECT_EQ(std::vector<float>({1, 1, 1, 1}), std::vector<float>(colour, colour + 4));
    EXPECT_EQ(0, texture);
    EXPECT_EQ(depthBefore + 1, depthInside) << "the script's push, nothing more";
    before[12] += 8;  // the script's translation, nothing more
    EXPECT_EQ(std::vector<float>(before, before + 16), std::vector<float>(inside, inside + 16));
    before[12] -= 8;
    EXPECT_EQ(depthBefore, depthAfter);
    EXPECT_EQ(std::vector<float>(before, before + 16), std::vector<float>(after, after + 16));
}

// Catches a pose made from a model not loaded yet that draws once the model is in, a freed pose
// drawn or freed again by the collector, marker tables with wrong fields, marker text look-ups
// that confuse missing names with the first, and values that are not poses or handles (numbers,
// nil, tables, another userdata of a pose's size such as a file handle) crashing anything.
TEST_F(PoseWorld, ScriptFunctionsAndValuesThatAreNotPosesOrHandles)
{
    ASSERT_TRUE(loading->model("one", "[bone]\nname = a\nscrap = red\nposition = 4 8\n"));
    ASSERT_TRUE(loading->animation("marks", "[animation]\nmodel = one\nlength = 10\n[texts]\nstep\nland\n"
                                            "[markers]\n0.5 3 -4 land\n1 1 2 step\n"));
    lua_pushlightuserdata(L, Loading::record(RESOURCE_MODEL, "one"));
    lua_setglobal(L, "one");
    EXPECT_EQ("ModelPose failed: model is NULL.\n", captureStderr([&] { EXPECT_EQ("", runLua(L, "early = getModelPose(one)")); }));
    handle("one", RESOURCE_MODEL, "one"), handle("marks", RESOURCE_ANIMATION, "marks");
    lua_pushlightuserdata(L, Loading::record(RESOURCE_ANIMATION, "absent"));
    lua_setglobal(L, "absent");
    const struct { const char *lua, *value; } cases[] = {
        {"type(_MODELPOSEMT.__gc) == 'function' and getmetatable(early) == _MODELPOSEMT", "true"},
        {"#getActiveMarkers(getModelPose(one))", "0"},
        {"getMarkerIndex(marks, 'step') .. getMarkerIndex(marks, 'land') .. getMarkerIndex(marks, 'fall')", "01-1"},
        {"getMarkerIndex(absent, 'step') .. getMarkerIndex(nil, 'step') .. getMarkerIndex(marks, {}) .. getMarkerIndex(marks, 0)",
         "-1-1-1-1"},
        {"(function() p = getModelPose(one) local w = animatePose(p, marks, 1) local m = getActiveMarkers(p)"
         " return tostring(w) .. #m .. m[1].x .. m[1].y .. m[1].time .. m[1].textIndex .. m[2].textIndex end)()",
         "false23-40.510"},
        {"animatePose(p, absent, 1) and animatePose(p, nil, 1)", "true"},
        {"(function() _FREEMODELPOSE(p) _FREEMODELPOSE(p) freezePose(p) setDefaultPose(p) return animatePose(p, marks, 1)"
         " and #getActiveMarkers(p) == 0 end)()",
         "true"},
        {"(function() for _, v in ipairs({5, 'x', {}, true, io.stdout, newproxy(true), function() end}) do"
         " renderPose(v) freezePose(v) setDefaultPose(v) _FREEMODELPOSE(v) assert(animatePose(v, marks, 1))"
         " assert(#getActiveMarkers(v) == 0) end renderPose(nil) return io.type(io.stdout) end)()",
         "file"},
        {"getmetatable(getModelPose(5)) == _MODELPOSEMT", "true"},
    };
    for (const auto &c : cases) EXPECT_EQ(c.value, luaValue(L, c.lua)) << c.lua;
    // Drawn: only the live pose shows its red bone; the empty and the freed ones show nothing.
    const std::vector<uint8_t> none = draw("renderPose(early) renderPose(p)");
    EXPECT_EQ(BLACK, rgb(none, 10, 8));
    const std::vector<uint8_t> one = draw("renderPose(getModelPose(one))");
    EXPECT_EQ(RED, rgb(one, 10, 8));
    EXPECT_EQ("", runLua(L, "early, p = nil, nil collectgarbage() collectgarbage()"));  // the collector's frees: none twice
}

// Catches a model or an animation freed while a pose still uses it (its bones, its curves, the
// scrap a texture change showed), references never given back once the poses are collected, and
// poses collected after the registry has shut down (the engine closes Lua last) touching records.
TEST_F(PoseWorld, ModelsAndAnimationsUnloadedUnderLivePoses)
{
    ASSERT_TRUE(loading->model("hero", "[bone]\nname = body\nscrap = red\nposition = 4 8\njoint = 20 8 head\n"
                                       "[bone]\nname = head\nscrap = green\nposition = 20 8\n"));
    ASSERT_TRUE(loading->animation("wave", "[animation]\nmodel = hero\nlength = 100\n"
                                           "[rotation]\nbone = body\ntime = 0\nend = 40\nfrom = 0\nto = 90\n"
                                           "[texture-change]\nbone = head\ntime = 0\nscrap = blue\n"));
    ASSERT_TRUE(loading->animation("idle", "[animation]\nlength = 100\n"));
    handle("hero", RESOURCE_MODEL, "hero"), handle("wave", RESOURCE_ANIMATION, "wave"), handle("idle", RESOURCE_ANIMATION, "idle");
    ASSERT_EQ("", runLua(L, "p = getModelPose(hero) animatePose(p, wave, 20) q = getModelPose(hero)"));
    const char *scraps[] = {"red", "green", "blue"}, *images[] = {"red.png", "green.png", "blue.png"};
    // The room that listed the model and the animation is left; the poses live on.
    releaseResource(Loading::record(RESOURCE_MODEL, "hero"));
    releaseResource(Loading::record(RESOURCE_ANIMATION, "wave"));
    waitForLoaderThread();
    EXPECT_FALSE(isResourceReady(Loading::record(RESOURCE_MODEL, "hero")));
    EXPECT_FALSE(isResourceReady(Loading::record(RESOURCE_ANIMATION, "wave")));
    for (const char *name : images) EXPECT_TRUE(isResourceReady(Loading::record(RESOURCE_IMAGE, name))) << name << " still shown";
    // Still advancing its running curve of the unloaded animation and drawing its unloaded model:
    // at time 30 the curve from 0 to 90 over 0..40 is at 90 (3 s^2 - 2 s^3), s = 0.75: 75.9375
    // degrees; the head shows the blue scrap of the texture change.
    EXPECT_EQ("true", luaValue(L, "animatePose(p, wave, 1)")) << "not loaded: nothing happens";
    const std::vector<uint8_t> pixels = draw("animatePose(p, idle, 10) renderPose(p)");
    const double body = 75.9375 * M_PI / 180;
    EXPECT_EQ(RED, rgb(pixels, 4 + (int)(8 * cos(body)), 8 + (int)(8 * sin(body))));
    EXPECT_EQ(BLACK, rgb(pixels, 14, 8));
    int blue = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) blue += pixels[i] == 0 && pixels[i + 1] == 0 && pixels[i + 2] == 255;
    EXPECT_GT(blue, 40) << "the head in blue";
    // Collected: everything goes.
    EXPECT_EQ("", runLua(L, "p = nil collectgarbage() collectgarbage()"));
    EXPECT_EQ(1, Loading::record(RESOURCE_SCRAP, "red")->refCount.load()) << "pose q still holds the model";
    EXPECT_EQ("", runLua(L, "q = nil collectgarbage() collectgarbage()"));
    waitForLoaderThread();
    for (int i = 0; i < 3; i++) {
        EXPECT_FALSE(isResourceReady(Loading::record(RESOURCE_SCRAP, scraps[i]))) << scraps[i];
        EXPECT_EQ(0, Loading::record(RESOURCE_SCRAP, scraps[i])->refCount.load()) << scraps[i];
        EXPECT_FALSE(isResourceReady(Loading::record(RESOURCE_IMAGE, images[i]))) << images[i];
    }
    // Poses alive when the resource manager shuts down, collected by lua_close afterwards.
    handle("hero", RESOURCE_MODEL, "hero"), handle("wave", RESOURCE_ANIMATION, "wave");
    ASSERT_EQ("", runLua(L, "r = getModelPose(hero) animatePose(r, wave, 5)"));
    shutdownResourceManager();
    lua_close(L);
    L = nullptr;
}

}  // namespace
