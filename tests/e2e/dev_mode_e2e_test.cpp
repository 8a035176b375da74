// The save-and-see loop end to end: `quillfen-pack compile --watch` rebuilds a project source
// while the real engine plays the output in development mode; what the player sees is read
// back from the window. And with the mode off, the engine watches nothing.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "e2e_project.h"

namespace {

const uint32_t PANEL = 0x701018;  // the error panel's colour (graphics/debug_text.h)

std::string boxScript(const std::string &colour)  // a box in `colour` and the image p.png beside it
{
    return "function Box:Init() self.image = getImageHandle('p.png') end\n"
           "function Box:Step() end\n"
           "function Box:Render()\n"
           "  setRenderColor(" + colour + ", 255) drawRectangle(100, 100, 140, 140, true)\n"
           "  setRenderColor(255, 255, 255, 255) drawImage(self.image, 200, 100)\n"
           "end\n"
           "function Box:ShutDown() end\n";
}

bool hasInotify(int pid)  // the process holds an inotify descriptor
{
    std::error_code error;
    for (const auto &fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        if (std::filesystem::read_symlink(fd.path(), error).string() == "anon_inode:inotify") return true;
    }
    return false;
}

long inodeOf(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? (long)info.st_ino : -1;
}

// Catches a change that does not show (object script, image), one that takes longer than a
// second, a game stopped or reset by a syntax error, a panel that does not come or does not go,
// and a watch rebuild that rewrites files that did not change.
TEST(DevelopmentLoop, ChangesShowWithinASecondAndErrorsShowAPanel)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    project.room("a", "[images]\np.png\n[objects]\nBox\n",
                 "io.stdout:setvbuf('line')\n"
                 "function Init() instTable.box = Box:new() end\n"
                 "function Step() frames = (frames or 0) + 1 if frames % 10 == 0 then print('frame ' .. frames) end end\n");
    project.object("Box", boxScript("255, 0, 0"));
    project.image("p.png", "-size 32x32 xc:'rgb(0,0,255)'");
    ASSERT_EQ(0, project.compile().exitCode);
    ChildProcess watch, engine;
    ASSERT_TRUE(watch.start({toolPath("quillfen-pack"), "compile", "--watch", project.source(), project.game()}, "/tmp"));
    for (int i = 0; i < 500 && watch.out().find("Watching") == std::string::npos; i++) usleep(10 * 1000);
    ASSERT_NE(std::string::npos, watch.out().find("Watching")) << watch.out() << watch.err();
    EXPECT_NE(std::string::npos, readFile(project.game() + "/Quillfen.ini").find("[debug]\nreload = true"));

    ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, project.game(), ENGINE_ENV));
    const unsigned long window = waitForGameWindow(engine.pid());
    ASSERT_NE(0u, window) << "no 640 x 480 window";
    auto pixel = [&](int x, int y) {  // screen coordinates, y up
        const std::vector<uint32_t> image = windowImage(window, 640, 480);
        return image.empty() ? 0u : image[(479 - y) * 640 + x];
    };
    auto frames = [&] {
        const std::string out = engine.out();
        return (long)std::count(out.begin(), out.end(), '\n');
    };
    // Polls until the box, the image and the panel corner show (for up to ten seconds); prints how
    // long it took: the second a change takes to show is measured there, not held against a busy machine.
    auto shows = [&](uint32_t box, uint32_t image, bool panel, const std::string &step) {
        const auto start = std::chrono::steady_clock::now();
        uint32_t seen[3] = {};
        for (int i = 0; i < 1000; i++, usleep(10 * 1000)) {
            seen[0] = pixel(120, 120), seen[1] = pixel(216, 116), seen[2] = pixel(2, 477);
            if (seen[0] == box && seen[1] == image && (seen[2] == PANEL) == panel) break;
        }
        const long ms = (long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(box, seen[0]) << step << ": the box";
        EXPECT_EQ(image, seen[1]) << step << ": the image";
        EXPECT_EQ(panel, seen[2] == PANEL) << step << ": the panel, got " << std::hex << seen[2];
        printf("%s: shown after %ld ms\n", step.c_str(), ms);
    };
    shows(0xFF0000, 0x0000FF, false, "start");
    EXPECT_TRUE(hasInotify(engine.pid()));
    const long imageInode = inodeOf(project.game() + "/Projects/e2e/Images/p.png");

    project.object("Box", boxScript("0, 255, 0"));
    shows(0x00FF00, 0x0000FF, false, "object script changed");
    EXPECT_EQ(imageInode, inodeOf(project.game() + "/Projects/e2e/Images/p.png")) << "an unchanged file was rewritten";
    project.image("p.png", "-size 32x32 xc:'rgb(255,255,0)'");
    shows(0x00FF00, 0xFFFF00, false, "image changed");

    project.object("Box", "function Box:Render( oops\n");
    shows(0x00FF00, 0xFFFF00, true, "syntax error");
    const long before = frames();
    usleep(300 * 1000);
    EXPECT_GT(frames(), before) << "the game goes on";
    EXPECT_NE(std::string::npos, engine.err().find("[string \"Projects/e2e/Objects/Box\"]:2: ')' expected near '<eof>'"))
        << engine.err();
    project.object("Box", boxScript("0, 0, 255"));
    shows(0x0000FF, 0xFFFF00, false, "fixed");

    engine.signal(SIGTERM);
    watch.signal(SIGTERM);
    ASSERT_TRUE(engine.waitExit(60000) && watch.waitExit(60000));
    EXPECT_EQ(0, engine.exitCode());
    EXPECT_EQ(0, watch.exitCode()) << watch.err();
    EXPECT_EQ(noArchiveLine() + "[string \"Projects/e2e/Objects/Box\"]:2: ')' expected near '<eof>'\n", engine.err());
}

// Catches the mode running, or a watch left open, when the configuration does not ask for it.
TEST(DevelopmentLoop, OffByDefaultNothingIsWatched)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    project.room("a", "", "io.stdout:setvbuf('line') function Init() print('in') end\n");
    ASSERT_EQ(0, project.compile().exitCode);
    ChildProcess engine;
    ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, project.game(), ENGINE_ENV));
    for (int i = 0; i < 3000 && engine.out() != AUDIO_START + "in\n"; i++) usleep(10 * 1000);
    ASSERT_EQ(AUDIO_START + "in\n", engine.out());
    EXPECT_FALSE(hasInotify(engine.pid()));
    engine.signal(SIGTERM);
    ASSERT_TRUE(engine.waitExit(60000));
    EXPECT_EQ(0, engine.exitCode());
}

}  // namespace
