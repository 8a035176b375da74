// Frame pacing on a fake clock: the loop runs for real, but ticks and sleeps are simulated.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/frame_loop.h"

namespace {

// The simulated world: a millisecond clock that sleeps advance, and the steps' cost.
struct FakeWorld
{
    uint32_t now = 0;
    std::vector<uint32_t> sleeps;       // every non-zero sleep
    std::vector<uint32_t> frameEnds;    // clock at the start of each frame = end of the previous
    std::vector<bool> drawn;            // per frame
    std::vector<uint32_t> stepCost;     // per frame; frames past the end cost `defaultCost`
    uint32_t defaultCost = 0;
    int frames = 0;
    int stopAfter = 0;
};
static FakeWorld world;

static uint32_t fakeTicks() { return world.now; }
static void fakeDelay(uint32_t ms)
{
    world.now += ms;
    if (ms > 0) world.sleeps.push_back(ms);
}
static void noEvents() {}
static void markDrawn() { world.drawn.back() = true; }
static void nothing() {}

class ProbeModule : public QFFrameModule
{
public:
    void step() override
    {
        world.frameEnds.push_back(world.now);
        world.drawn.push_back(false);
        const size_t i = (size_t)world.frames;
        world.now += i < world.stepCost.size() ? world.stepCost[i] : world.defaultCost;
        if (++world.frames >= world.stopAfter) requestQuit();
    }
};

static void runFrames(int frames, std::vector<uint32_t> stepCost, uint32_t defaultCost)
{
    world = FakeWorld();
    world.now = 1000;  // an arbitrary origin
    world.stepCost = std::move(stepCost);
    world.defaultCost = defaultCost;
    world.stopAfter = frames;
    setFramePlatform({fakeTicks, fakeDelay, noEvents, nothing, markDrawn, nothing});
    startTimer();
    addFrameModule(new ProbeModule());
    EXPECT_EQ(1, runFrameLoop());
    EXPECT_EQ(0, frameModuleCount());
}

static std::vector<int> drawnFrames(int from, int to)
{
    std::vector<int> list;
    for (int i = from; i < to; i++)
        if (world.drawn[(size_t)i]) list.push_back(i);
    return list;
}

TEST(FramePacing, OnTimeFramesFollowTheAbsoluteSchedule)
{
    runFrames(600, {}, 0);
    for (int k = 1; k < 600; k++) {
        // frame k starts when frame k-1 ended: k * 16.667 ms after the origin, truncated
        const double target = 1000 + k * (1000.0 / 60);
        EXPECT_NEAR(target, world.frameEnds[(size_t)k], 1.0) << "frame " << k;
        EXPECT_TRUE(world.drawn[(size_t)k - 1]);
    }
    for (uint32_t sleep : world.sleeps) EXPECT_LE(sleep, 34u);
}

TEST(FramePacing, SlowStepsDrawEveryThirdFrameWithoutSleeping)
{
    runFrames(20, {}, 40);  // every step takes 40 ms at 60 fps: n = 2, credit 1/3 per frame
    EXPECT_EQ((std::vector<int>{0, 4, 7, 10, 13, 16, 19}), drawnFrames(0, 20));
    EXPECT_TRUE(world.sleeps.empty());
    EXPECT_TRUE(frameTimer().behind);
}

TEST(FramePacing, LongStallSkipsDrawsThenRestartsTheSchedule)
{
    runFrames(200, {2000}, 0);  // one 2 s stall, then steps that take no time
    std::vector<int> drawn = drawnFrames(0, 200);
    ASSERT_GE(drawn.size(), 2u);
    EXPECT_EQ(0, drawn[0]);
    // Nothing is drawn until more than a second's worth of frames went undrawn and the schedule
    // restarted; after that every frame is drawn and sleeps resume.
    EXPECT_EQ(63, drawn[1]);
    EXPECT_EQ(200u - 63u + 1u, drawn.size());
    EXPECT_FALSE(world.sleeps.empty());
    // Frames after the restart end on the new schedule: 16-17 ms apart.
    for (int k = 70; k < 199; k++) EXPECT_NEAR(1000.0 / 60, world.frameEnds[(size_t)k + 1] - world.frameEnds[(size_t)k], 1.0);
}

TEST(FramePacing, FramerateSettingTakesLow16BitsAndRefusesOutOfRange)
{
    startTimer();
    struct { unsigned setting; bool accepted; unsigned rate; } cases[] = {
        {65596, true, 60}, {0, false, 60}, {2000, false, 60}, {1001, false, 60}, {1000, true, 1000}, {30, true, 30}, {1, true, 1},
    };
    for (auto c : cases) {
        startTimer();
        EXPECT_EQ(c.accepted, setFramerate((uint16_t)c.setting)) << c.setting;
        EXPECT_EQ(c.rate, frameTimer().framerate) << c.setting;
        EXPECT_FLOAT_EQ(1000.0f / (float)c.rate, frameTimer().msPerFrame) << c.setting;
    }
}

TEST(FrameModules, InsertionByPriorityLastLowerWins)
{
    struct Named : QFFrameModule
    {
        explicit Named(int p) { priority = p; }
    };
    // Into [5, 1, 3] a module of priority 4 goes before the last module of lower priority (3).
    Named *a = new Named(5), *b = new Named(1), *c = new Named(3), *d = new Named(4);
    EXPECT_FALSE(addFrameModule(nullptr));
    addFrameModule(a);  // [5]
    addFrameModule(b);  // nothing lower than 1: appended -> [5, 1]
    addFrameModule(c);  // 1 < 3 at index 1 -> [5, 3, 1]
    addFrameModule(d);  // lower than 4: 3 (1) and 1 (2); the last wins -> [5, 3, 4, 1]
    EXPECT_EQ(0, a->index);
    EXPECT_EQ(1, c->index);
    EXPECT_EQ(2, d->index);
    EXPECT_EQ(4, frameModuleCount());
    world = FakeWorld();
    world.stopAfter = 1;
    setFramePlatform({fakeTicks, fakeDelay, noEvents, nothing, nothing, nothing});
    addFrameModule(new ProbeModule());
    runFrameLoop();  // deletes all five
    EXPECT_EQ(0, frameModuleCount());
}

}  // namespace
