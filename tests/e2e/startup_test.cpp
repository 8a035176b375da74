// The real executable in a folder with nothing in it: the default window, titled "Quillfen Engine
// 3.0 by Pellory" and 640 x 480, stays up and the engine ends with 0 on SIGTERM and on a window close.
#include <cmath>
#include <csignal>

#include "e2e_project.h"

namespace {

TEST(EmptyFolder, ShowsTheDefaultWindowUntilSigtermOrAWindowClose)
{
    REQUIRE_X_DISPLAY();
    for (Ending ending : {ON_SIGTERM, ON_WINDOW_CLOSE}) {
        TempDir folder;
        expectPlay(folder.path(), "", noArchiveLine(""), ending);
    }
}

// Catches a project-less run that shows no loading spinner: six grey (96, 96, 96) dots of radius 4
// on a ring of radius 10 around (320, 240), nothing else lit (the step it appears at is checked in
// process by the game-start test).
TEST(EmptyFolder, ShowsTheLoadingSpinner)
{
    REQUIRE_X_DISPLAY();
    TempDir folder;
    ChildProcess engine;
    ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, folder.path(), ENGINE_ENV));
    int grey = 0, away = 0, other = 0;
    for (int i = 0; i < 600 && grey < 6 * 40; i++, usleep(100 * 1000)) {  // a hang guard, not a timing check
        // SDL names a small window first and replaces it with the 640 x 480 one.
        const std::vector<uint32_t> picture = windowImage(waitForWindow(TITLE, 60000, engine.pid()), 640, 480);
        grey = away = other = 0;
        for (size_t p = 0; p < picture.size(); p++) {
            const bool isGrey = picture[p] == 0x606060;
            grey += isGrey;
            away += isGrey && hypot(p % 640 + 0.5 - 320, p / 640 + 0.5 - 240) > 16;
            other += !isGrey && picture[p] != 0;
        }
    }
    engine.signal(SIGTERM);
    EXPECT_TRUE(engine.waitExit(60000) && engine.exitCode() == 0);
    EXPECT_TRUE(grey >= 6 * 40 && grey <= 6 * 56 && away == 0 && other == 0)
        << grey << " grey pixels (" << away << " off the ring), " << other << " others";
}

// With no X display (none named, or one that does not answer) the engine runs without a picture:
// the loader thread gives up on its context with exactly the display's messages, the first room's
// image loads without GL, the room switches, Step, Render (drawing nothing) and a save
// and load run, and a signal ends the game through its normal shutdown. Caught a segfault in the
// loader's first upload and a SIGTERM that killed the process (143).
TEST(NoDisplay, RunsWithoutAPictureUntilASignal)
{
    SourceProject project;
    project.saved = "integer best\n";
    project.file("Quillfen.ini", "[project]\ncodename = e2e\n[audio]\nenabled = false\n");
    project.image("red.png", "-size 8x4 xc:red");
    project.room("a", "[images]\nred.png\n",
                 "local steps = 0\n"
                 "function Init() print('a:Init') end\n"
                 "function Step() steps = steps + 1\n"
                 "  if steps == 5 then best = 42 saveGame('slot') best = 0 loadGame('slot') print('a:Step', best) end end\n"
                 "function Render() local red = getImageHandle('red.png') setRenderColor(255, 0, 0, 128)\n"
                 "  drawImage(red, 1, 2) drawImageExt(red, 1, 2, 30, 2) drawImagePart(red, 0, 0, 0, 0, 4, 4)\n"
                 "  pushMatrix() rotateRender(3) translateRender(1, 2, 0) scaleRender(2, 2) drawCircle(5, 5, 5, true)\n"
                 "  drawRectangleExt(0, 0, 4, 4, false, 10, 2, 2) drawLine(0, 0, 9, 9) popMatrix() setBackgroundColor(1, 0, 0)\n"
                 // the first frame drawn after the fifth step (a slow engine skips drawing frames)
                 "  if steps >= 5 and not shown then shown = true print('a:Render') io.open('rendered', 'w'):close() end end\n");
    ASSERT_EQ(0, project.compile().exitCode);
    std::string retries;
    for (int i = 0; i < 101; i++)
        retries += "CRITICAL ERROR: Could not open resource manager's render context\n                Wgl says: 0\n";
    retries += "Giving up after retrying 100 times.\n";
    const struct { const char *display; int signal; } runs[] = {{"DISPLAY", SIGTERM}, {"DISPLAY=:173", SIGINT}};
    for (const auto &run : runs) {
        ChildProcess engine;
        ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, project.game(), {run.display, ENGINE_ENV[0], ENGINE_ENV[1]}));
        const std::string rendered = project.game() + "/rendered";  // stdout is a file: the lines come at exit
        std::filesystem::remove(rendered);
        for (int i = 0; i < 3000 && !std::filesystem::exists(rendered) && !engine.waitExit(0); i++) usleep(10 * 1000);
        usleep(100 * 1000);  // some frames more
        EXPECT_FALSE(engine.waitExit(0)) << run.display << ": ended before it was asked to";
        engine.signal(run.signal);
        ASSERT_TRUE(engine.waitExit(60000)) << run.display;
        EXPECT_EQ(0, engine.exitCode()) << run.display;
        EXPECT_EQ("a:Init\na:Step\t42\na:Render\n", engine.out()) << run.display;
        EXPECT_EQ(noArchiveLine() + retries, engine.err()) << run.display;
    }
}

}  // namespace
