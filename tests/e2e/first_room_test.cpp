// The game start in one process, from a packed project: the loading chunk queues the first room's
// images, the loader thread reads them from the archive and uploads them in its shared context
// while frames keep running, the loading chunk asks for the switch once resourcesAreLoaded is
// true, and the first room then draws a loaded image. Real Lua, archive, loader thread and GL;
// only the clock and the buffer swap are the test's, so the picture of the last frame stays.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "core/config.h"
#include "core/frame_loop.h"
#include "core/project.h"
#include "core/room_file.h"
#include "core/rooms.h"
#include "core/script.h"
#include "graphics/display.h"
#include "graphics/image.h"
#include "graphics/renderer.h"
#include "resources/archive.h"
#include "resources/data_file.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"
#include "resources/resource_script.h"
#include "test_support.h"

namespace {

// What the frames saw, written by the fake platform on the main thread.
struct Observed
{
    uint32_t now = 0;                // the fake clock, ms
    int frames = 0;
    int loadedAtFrame = -1;          // first frame whose pump saw resourcesAreLoaded() true
    int pendingAtFrame = -1;         // first frame whose pump saw the pending room set
    std::string pendingName;
    int startedAtFrame = -1;         // first frame after the room's Init ran
    bool loadedBeforeGate = false;   // resourcesAreLoaded() while the loader was held
    std::chrono::steady_clock::time_point deadline;
};
Observed seen;

// The loader thread waits here, with its context current, until the frames have run a while.
std::mutex gateLock;
std::condition_variable gateChanged;
bool gateOpen = false;
int loaderThreads = 0;

void heldMakeCurrent()
{
    makeLoaderContextCurrent();
    std::unique_lock<std::mutex> guard(gateLock);
    loaderThreads++;
    gateChanged.wait(guard, [] { return gateOpen; });
}

bool luaTrue(const char *expression)
{
    lua_State *L = scriptState();
    const std::string code = std::string("return ") + expression;
    if (luaL_loadbuffer(L, code.data(), code.size(), "") != 0 || lua_pcall(L, 0, 1, 0) != 0) {
        lua_pop(L, 1);
        return false;
    }
    const bool value = lua_toboolean(L, -1);
    lua_pop(L, 1);
    return value;
}

uint32_t fakeTicks() { return seen.now; }
void fakeDelay(uint32_t ms) { seen.now += ms; }
void noSwap() {}  // keeps the last frame in the back buffer for glReadPixels

void watchFrames()
{
    seen.now += 1;
    const int frame = seen.frames++;
    if (frame == 5) {
        seen.loadedBeforeGate = luaTrue("resourcesAreLoaded()");
        std::lock_guard<std::mutex> guard(gateLock);
        gateOpen = true;
        gateChanged.notify_all();
    }
    if (seen.loadedAtFrame < 0 && luaTrue("resourcesAreLoaded()")) seen.loadedAtFrame = frame;
    if (seen.pendingAtFrame < 0 && !pendingRoom().empty()) {
        seen.pendingAtFrame = frame;
        seen.pendingName = pendingRoom();
    }
    if (seen.startedAtFrame < 0 && luaTrue("roomStarted")) seen.startedAtFrame = frame;
    if (seen.startedAtFrame >= 0 && frame >= seen.startedAtFrame + 2) requestQuit();
    if (std::chrono::steady_clock::now() > seen.deadline) requestQuit();  // a hang guard, not a timing check
}

class FirstRoom : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        char buffer[4096];
        ASSERT_NE(nullptr, getcwd(buffer, sizeof buffer));
        previousDirectory = buffer;
        ASSERT_EQ(0, chdir(folder.path().c_str()));
    }
    void TearDown() override
    {
        if (previousDirectory.empty()) return;
        shutdownResourceManager();
        setLoaderThreadHooks(defaultLoaderThreadHooks());
        setCurrentArchive(nullptr);
        closeArchive(archive);
        if (L) lua_close(L);
        setScriptState(nullptr);
        setFramePlatform(sdlFramePlatform());
        setPendingRoom("");
        resetProject();
        clearConfig();
        EXPECT_EQ(0, chdir(previousDirectory.c_str()));
    }
    // Projects/demo/: project file, first room "first" listing two images, and the images.
    void writeProject()
    {
        std::filesystem::create_directories("Projects/demo/Rooms");
        std::filesystem::create_directories("Projects/demo/Images");
        DataFile project;
        ASSERT_TRUE(project.openForWrite("Projects/demo/demo.dat"));
        project.writeInt32(64);
        project.writeInt32(64);
        project.writeString("first");
        project.writeInt32(0);
        ASSERT_TRUE(project.close());
        RoomNameLists lists;
        lists.names[ROOM_IMAGES] = {"red.png", "key.bmp"};
        ASSERT_TRUE(writeRoomFile("Projects/demo/Rooms/first", lists,
                                  "function Init() roomStarted = true; red = getImageHandle('red.png'); key = getImageHandle('key.bmp') end\n"
                                  "function Render() drawImage(red, 0, 0); drawImage(key, 20, 0) end\n"));
        ASSERT_EQ(0, system("cd Projects/demo/Images && convert -size 33x20 xc:'rgb(200,30,40)' PNG24:red.png"
                            " && convert -size 4x4 xc:'rgb(255,128,255)' -fill 'rgb(10,20,250)' -draw 'point 1,1' BMP3:key.bmp"));
        ASSERT_TRUE(buildArchive({"Projects/demo/demo.dat", "Projects/demo/Rooms/first", "Projects/demo/Images/red.png",
                                  "Projects/demo/Images/key.bmp"},
                                 "demo.qfa", ARCHIVE_KEY));
        std::filesystem::remove_all("Projects");  // only the archive has the project now
        writeFile("Quillfen.ini", "[project]\ncodename = demo\n");
    }

    TempDir folder;
    std::string previousDirectory;
    ProjectArchive *archive = nullptr;
    lua_State *L = nullptr;
};

TEST_F(FirstRoom, LoadsInTheBackgroundThenSwitchesAndDraws)
{
    writeProject();
    // Start-up, in the engine's order, minus what the test replaces (display already open).
    clearConfig();
    ASSERT_TRUE(loadConfig("Quillfen.ini"));
    archive = openArchive("demo.qfa", ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    setCurrentArchive(archive);
    initImageLibrary();
    resetProject();
    ASSERT_TRUE(loadProject());
    L = luaL_newstate();
    luaL_openlibs(L);
    registerDrawingFunctions(L);
    registerResourceListFunctions(L);
    ASSERT_TRUE(startResourceManager());
    ASSERT_TRUE(registerImageResource());
    gateOpen = false;
    loaderThreads = 0;
    setLoaderThreadHooks({heldMakeCurrent, releaseLoaderContext});
    seen = Observed();
    seen.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    setFramePlatform({fakeTicks, fakeDelay, watchFrames, beginFrame, endFrame, noSwap});

    ASSERT_TRUE(startGame(L));
    EXPECT_EQ(2, loadQueueSize()) << "the first room's two images are queued by the game start";
    EXPECT_EQ(1, nextLoadPriority()) << "with the first room's priority";
    runFrameLoop();
    {
        std::lock_guard<std::mutex> guard(gateLock);
        gateOpen = true;  // in case the loop ended early
        gateChanged.notify_all();
    }

    EXPECT_FALSE(seen.loadedBeforeGate) << "resourcesAreLoaded while the loader was still held";
    ASSERT_GE(seen.loadedAtFrame, 5) << "expected loading to finish once the loader was let go (frame 5)";
    // Loading may end between a frame's event pump and its step: the Step of that frame or of
    // the next one asks for the switch, and the step after that performs it.
    EXPECT_GE(seen.pendingAtFrame, seen.loadedAtFrame);
    EXPECT_LE(seen.pendingAtFrame, seen.loadedAtFrame + 1) << "the loading chunk asks for the switch once loaded";
    EXPECT_EQ("first", seen.pendingName);
    EXPECT_EQ(seen.pendingAtFrame + 1, seen.startedAtFrame) << "the switch runs at the start of the following step";
    EXPECT_EQ(1, loaderThreads);

    ResourceRecord *red = findOrCreateResource({"red.png", resourceDirectory(RESOURCE_IMAGE), RESOURCE_IMAGE});
    EXPECT_EQ("Projects/demo/Images/", red->key.directory);
    ASSERT_TRUE(isResourceReady(red));
    const Image *image = (const Image *)lockResource(red);
    EXPECT_EQ(33u, image->width);
    EXPECT_FLOAT_EQ(0.625f, image->maxV);
    unlockResource(red);
    // The last frame's Render: the 33 x 20 red picture at (0, 0), the keyed 4 x 4 one at (20, 0).
    EXPECT_EQ(0xC81E28u, pixelAt(0, 0));
    EXPECT_EQ(0xC81E28u, pixelAt(19, 19));
    EXPECT_EQ(0x000000u, pixelAt(33, 21)) << "nothing above the red picture";
    EXPECT_EQ(0x0A14FAu, pixelAt(21, 2)) << "the one opaque pixel of the keyed image (row 1 from the top)";
    EXPECT_EQ(0xC81E28u, pixelAt(22, 2)) << "its key-coloured neighbours are transparent";
}

}  // namespace
