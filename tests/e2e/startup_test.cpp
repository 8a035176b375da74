// The real executable in a folder with nothing in it: a default window that ends cleanly.
#include <gtest/gtest.h>

#include <signal.h>

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
    // After a stop request the engine must end cleanly. The deadline only catches a hang: a
    // sanitized engine takes over a second to shut down, so no speed is asserted here.
    void expectCleanExit()
    {
        ASSERT_TRUE(engine.waitExit(60000)) << "still running a minute after the request";
        EXPECT_EQ(0, engine.exitCode());
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
    expectCleanExit();
    EXPECT_NE(std::string::npos, engine.err().find("ERROR: '.qfa' could not be opened.\n"));
}

TEST_F(EmptyFolderRun, EndsWhenTheWindowIsClosed)
{
    ASSERT_TRUE(requestWindowClose(window));
    expectCleanExit();
}

}  // namespace
