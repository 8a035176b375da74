// The game start in one process, with the engine's own start-up and shutdown and only the clock,
// the event pump and the buffer swap replaced: the loading screen, then the first room from an
// archive. The loader thread is held at a gate until the loading screen has stepped 140 times.
#include <chrono>
#include <cmath>
#include <future>
#include <map>

#include "core/engine.h"
#include "core/frame_loop.h"
#include "core/script.h"
#include "e2e_project.h"
#include "graphics/display.h"
#include "resources/resource_manager.h"

namespace {

struct Observed  // what the frames saw, in frames (main thread)
{
    uint32_t now = 0;  // the fake clock, ms
    int frames = 0, loadedAt = -1, startedAt = -1;
    std::map<int, std::vector<uint8_t>> loadingPictures;  // by the loading screen's steps so far
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
} seen;
std::promise<void> gate;  // the loader thread's first hook waits until the frames open it
std::shared_future<void> gateOpened = gate.get_future().share();
void heldMakeCurrent()
{
    makeLoaderContextCurrent();
    gateOpened.wait();
}
bool luaTrue(const std::string &expression) { return luaValue(scriptState(), expression) == "true"; }
uint32_t fakeTicks() { return seen.now; }
void fakeDelay(uint32_t ms) { seen.now += ms; }
void watchFrames()
{
    const int frame = seen.frames++;
    seen.now++;
    if (frame == 140) gate.set_value();
    if (seen.loadedAt < 0 && luaTrue("resourcesAreLoaded()")) seen.loadedAt = frame;
    if (seen.startedAt < 0 && luaTrue("roomStarted")) seen.startedAt = frame;
    if ((seen.startedAt >= 0 && frame >= seen.startedAt + 2) || std::chrono::steady_clock::now() > seen.deadline)
        requestQuit();  // the deadline is a hang guard, not a timing check
}
void keepPicture()  // instead of the swap: the picture stays in the back buffer
{
    const int steps = -std::stoi(luaValue(scriptState(), "_loadAnim"));
    if (seen.startedAt < 0 && (steps == 120 || steps == 121 || steps == 126))
        seen.loadingPictures[steps] = readPixels(0, 0, 640, 480);
}

// Catches a spinner missing, early, misplaced or still; loading on the main thread; a switch before
// the image is loaded or later than the step after the loading screen asks; the image not drawn.
TEST(GameStart, SpinsWhileTheFirstRoomLoadsFromTheArchiveThenSwitchesAndDraws)
{
    if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";
    XInitThreads();  // as the engine's main does: the loader thread shares the X connection
    SourceProject project;
    project.room("a", "[images]\nred.png\n", "function Init() roomStarted = true; red = getImageHandle('red.png') end\n"
                                             "function Render() drawImage(red, 0, 0) end\n");
    project.image("red.png", "-size 33x20 xc:'rgb(200,30,40)'");
    ASSERT_EQ(0, project.compile(true).exitCode);
    std::filesystem::remove_all(project.game() + "/Projects");  // only the archive has the project now
    writeFile(project.game() + "/Quillfen.ini", "[project]\ncodename = e2e\n[audio]\nenabled = false\n");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(project.game());
    setLoaderThreadHooks({heldMakeCurrent, releaseLoaderContext});
    startEngine();
    EXPECT_EQ(1, loadQueueSize()) << "the first room's image is queued by the game start";
    setFramePlatform({fakeTicks, fakeDelay, watchFrames, beginFrame, endFrame, keepPicture});
    runEngine();
    if (seen.frames <= 140) gate.set_value();  // the loop ended early

    // Six grey (96, 96, 96) dots of radius 4 on a circle of radius 10 around (320, 240) from the
    // 121st step on, turning; nothing else (each picture: grey pixels, grey ones off the ring, others).
    ASSERT_EQ(3u, seen.loadingPictures.size()) << "pictures of the loading screen after 120, 121 and 126 steps";
    std::map<int, std::vector<int>> counts;
    for (const auto &picture : seen.loadingPictures) {
        std::vector<int> &count = counts[picture.first] = {0, 0, 0};
        for (size_t i = 0; i < 640 * 480; i++) {
            const uint8_t *p = &picture.second[i * 4];
            const bool grey = p[0] == 96 && p[1] == 96 && p[2] == 96;
            count[0] += grey;
            count[1] += grey && hypot(i % 640 + 0.5 - 320, i / 640 + 0.5 - 240) > 16;  // 10 + 4; centres truncated
            count[2] += !grey && (p[0] || p[1] || p[2]);
        }
    }
    EXPECT_EQ((std::vector<int>{0, 0, 0}), counts[120]) << "a spinner before the 121st step";
    EXPECT_TRUE(counts[121][0] >= 6 * 40 && counts[121][0] <= 6 * 56) << "six dots of radius 4, got " << counts[121][0];
    EXPECT_EQ(0, counts[121][1] + counts[126][1]) << "grey pixels away from the ring around (320, 240)";
    EXPECT_EQ(0, counts[121][2] + counts[126][2]) << "pixels neither black nor (96, 96, 96)";
    EXPECT_EQ(0, seen.loadingPictures[121][(240 * 640 + 320) * 4]) << "the centre stays black";
    EXPECT_NE(seen.loadingPictures[121], seen.loadingPictures[126]) << "the spinner did not turn";

    EXPECT_GE(seen.loadedAt, 140) << "resourcesAreLoaded while the loader was held (until frame 140)";
    // Loading may end between a frame's pump and its step: that Step or the next asks for the switch.
    EXPECT_TRUE(seen.startedAt == seen.loadedAt + 1 || seen.startedAt == seen.loadedAt + 2)
        << "loaded at frame " << seen.loadedAt << ", expected the room at one of the next two, got " << seen.startedAt;
    EXPECT_EQ(0xC81E28u, pixelAt(0, 0)) << "the image from the archive, drawn by the room";
    EXPECT_EQ(0xC81E28u, pixelAt(32, 19));
    EXPECT_EQ(0u, pixelAt(33, 20));
    stopEngine();
    setLoaderThreadHooks(defaultLoaderThreadHooks());
    setFramePlatform(sdlFramePlatform());
    std::filesystem::current_path(previous);
}

}  // namespace
