// Frame pacing on a fake clock: the loop runs for real, but ticks and sleeps are simulated.
#include <gtest/gtest.h>

#include <vector>

#include "core/frame_loop.h"

namespace {

// The simulated world: a millisecond clock that sleeps and steps advance.
struct FakeWorld
{
    uint32_t now = 1000;                       // an arbitrary origin
    std::vector<uint32_t> sleeps, starts;      // every non-zero sleep; the clock when each step began
    std::vector<int> drawn;                    // frames that were drawn
    int slowSteps = 0;                         // the first slowSteps steps take slowCost, the rest cost
    uint32_t slowCost = 0, cost = 0;
    int stopAfter = 1;
} world;

uint32_t fakeTicks() { return world.now; }
void fakeDelay(uint32_t ms)
{
    world.now += ms;
    if (ms > 0) world.sleeps.push_back(ms);
}
void markDrawn() { world.drawn.push_back((int)world.starts.size() - 1); }
void nothing() {}

struct ProbeModule : QFFrameModule
{
    void step() override
    {
        world.starts.push_back(world.now);
        world.now += (int)world.starts.size() <= world.slowSteps ? world.slowCost : world.cost;
        if ((int)world.starts.size() >= world.stopAfter) requestQuit();
    }
};

// Catches drift from the absolute schedule, slow frames not drawn in thirds or halves, a schedule
// not restarted after a stall or while steps take between one and two frame times.
TEST(FramePacing, ScenariosOnAFakeClock)
{
    std::vector<int> all, stall = {0};
    for (int i = 0; i < 600; i++) all.push_back(i);
    stall.insert(stall.end(), all.begin() + 63, all.begin() + 200);  // undrawn until a second's frames passed
    const struct { const char *name; int frames, slowSteps; uint32_t slowCost, cost; std::vector<int> drawn;
                   bool sleeps, behind; int scheduleFrom; } cases[] = {
        {"60 fps on time", 600, 0, 0, 0, all, true, false, 0},
        {"every step 40 ms: every third frame drawn", 20, 20, 40, 0, {0, 4, 7, 10, 13, 16, 19}, false, true, -1},
        {"one 2 s stall", 200, 1, 2000, 0, stall, true, false, 70},
        {"ten steps of 25 ms, then on time", 20, 10, 25, 0, {0, 3, 5, 7, 9, 14, 15, 16, 17, 18, 19}, true, false, 14},
    };
    for (const auto &c : cases) {
        world = {1000, {}, {}, {}, c.slowSteps, c.slowCost, c.cost, c.frames};
        setFramePlatform({fakeTicks, fakeDelay, nothing, nothing, markDrawn, nothing});
        startTimer();
        addFrameModule(new ProbeModule());
        EXPECT_EQ(1, runFrameLoop()) << c.name;
        EXPECT_EQ(c.drawn, world.drawn) << c.name;
        EXPECT_EQ(c.sleeps, !world.sleeps.empty()) << c.name;
        for (uint32_t sleep : world.sleeps) EXPECT_LE(sleep, 34u) << c.name;
        EXPECT_EQ(c.behind, frameTimer().behind) << c.name;
        for (int k = c.scheduleFrom; k >= 0 && k < c.frames; k++) {
            const double expected = world.starts[(size_t)c.scheduleFrom] + (k - c.scheduleFrom) * (1000.0 / 60);
            EXPECT_NEAR(expected, world.starts[(size_t)k], 1.0) << c.name << ": frame " << k;
        }
    }
}

// Catches a framerate setting taken whole instead of its low 16 bits, or out-of-range values kept.
TEST(FramePacing, FramerateSettingTakesLow16BitsAndRefusesOutOfRange)
{
    const struct { unsigned setting; bool accepted; unsigned rate; } cases[] = {
        {65596, true, 60}, {0, false, 60}, {2000, false, 60}, {1001, false, 60}, {1000, true, 1000}, {1, true, 1},
    };
    for (auto c : cases) {
        startTimer();
        EXPECT_EQ(c.accepted, setFramerate((uint16_t)c.setting)) << c.setting;
        EXPECT_EQ(c.rate, frameTimer().framerate) << c.setting;
        EXPECT_FLOAT_EQ(1000.0f / (float)c.rate, frameTimer().msPerFrame) << c.setting;
    }
}

// Catches a module inserted before the first lower one instead of the last, and modules not deleted.
TEST(FrameModules, InsertionByPriorityLastLowerWins)
{
    std::vector<QFFrameModule *> modules;
    for (int priority : {5, 1, 3, 4}) {  // [5] [5 1] [5 3 1] [5 3 4 1]
        modules.push_back(new QFFrameModule());
        modules.back()->priority = priority;
        addFrameModule(modules.back());
    }
    EXPECT_FALSE(addFrameModule(nullptr));
    EXPECT_EQ((std::vector<int>{0, 1, 1, 2}), (std::vector<int>{modules[0]->index, modules[1]->index, modules[2]->index,
                                                                modules[3]->index}));
    EXPECT_EQ(4, frameModuleCount());
    world = FakeWorld();
    setFramePlatform({fakeTicks, fakeDelay, nothing, nothing, nothing, nothing});
    addFrameModule(new ProbeModule());
    runFrameLoop();  // deletes all five
    EXPECT_EQ(0, frameModuleCount());
}

}  // namespace
