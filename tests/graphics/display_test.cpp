// The window size and the loader context's retries (its textures on screen: ImageResources, image_test.cpp).
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>

#include "graphics/display.h"
#include "test_support.h"

namespace {

int attempts = 0, succeedOn = 0;  // succeedOn 0: every attempt fails
bool countedAttempt(void *) { return ++attempts == succeedOn; }

// 101 failed attempts print 101 message pairs and the give-up line; a success stops the retries.
TEST(Display, LoaderContextRetriesAHundredTimesThenGivesUp)
{
    const std::string pair = "CRITICAL ERROR: Could not open resource manager's render context\n"
                             "                Wgl says: ";
    const struct { int succeedOn; bool result; int attempts, pairs; } cases[] = {{0, false, 101, 101}, {3, true, 3, 2}};
    for (auto c : cases) {
        attempts = 0, succeedOn = c.succeedOn;
        bool result = !c.result;
        const std::string err = captureStderr([&] { result = retryMakeCurrent(countedAttempt, nullptr); });
        int pairs = 0;
        for (size_t at = err.find(pair); at != std::string::npos; at = err.find(pair, at + 1)) pairs++;
        EXPECT_EQ(std::make_pair(c.result, c.attempts), std::make_pair(result, attempts)) << "result and attempts";
        EXPECT_EQ(c.pairs, pairs) << "message pairs in " << err;
        EXPECT_EQ(2 * c.pairs + !c.result, std::count(err.begin(), err.end(), '\n')) << "lines in " << err;
        const std::string last = c.result ? "" : "Giving up after retrying 100 times.\n";
        EXPECT_EQ(last, err.substr(err.size() - last.size())) << "the last line";
    }
}

// Catches a size not clamped, and a framerate default other than 60 when the configuration has none.
TEST(Display, WindowSizeIsClampedAndTheFramerateRead)
{
    REQUIRE_DISPLAY();
    WorkDir work;  // for the configuration files
    const struct { int w, h, expectedW, expectedH; const char *settings; int framerate; } cases[] = {
        {5000, 5, 2000, 10, "", 60}, {0, 0, 10, 10, "[display]\nframerate = 30\n", 30}, {1999, 1601, 1999, 1600, "", 60}};
    for (auto c : cases) {
        useConfig("", c.settings);
        ASSERT_TRUE(initDisplay(c.w, c.h));
        const SDL_Surface *window = SDL_GetVideoSurface();
        EXPECT_EQ(std::vector<int>({c.expectedW, c.expectedH, c.expectedW, c.expectedH, c.framerate}),
                  std::vector<int>({displayWidth(), displayHeight(), window->w, window->h, displayFramerate()}))
            << c.w << " x " << c.h;
    }
    ASSERT_TRUE(initDisplay(64, 64));  // back to the size the other tests use
}

}  // namespace
