// The real executable in a folder with nothing in it: a default window that ends cleanly.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>

#include "test_support.h"

namespace {

static const char *TITLE = "Quillfen Engine 3.0 by Pellory";

class EmptyFolderRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";
        ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, folder.path(), {"ALSOFT_DRIVERS=null"}));
        // SDL names a first window before the video mode replaces it: wait for the real one.
        for (int i = 0; i < 500 && width != 640; i++) {
            window = waitForWindow(TITLE, 10000, engine.pid());
            if (!window || !windowSize(window, &width, &height)) width = 0;
            if (width != 640) usleep(10 * 1000);
        }
        ASSERT_NE(0ul, window) << engine.err();
    }
    // Asks the engine to stop and measures how long it takes to exit.
    void expectCleanExitWithinASecond()
    {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(engine.waitExit(1000)) << "still running a second after the request";
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_EQ(0, engine.exitCode());
        EXPECT_LT(ms.count(), 1000);
    }
    TempDir folder;
    ChildProcess engine;
    unsigned long window = 0;
    int width = 0, height = 0;
};

TEST_F(EmptyFolderRun, OpensTheDefaultWindowAndEndsOnSigterm)
{
    EXPECT_EQ(640, width);
    EXPECT_EQ(480, height);
    usleep(300 * 1000);
    EXPECT_FALSE(engine.waitExit(0)) << "exited on its own";
    engine.signal(SIGTERM);
    expectCleanExitWithinASecond();
    EXPECT_NE(std::string::npos, engine.err().find("ERROR: '.qfa' could not be opened.\n"));
}

TEST_F(EmptyFolderRun, EndsWhenTheWindowIsClosed)
{
    ASSERT_TRUE(requestWindowClose(window));
    expectCleanExitWithinASecond();
}

}  // namespace
