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

}  // namespace
