// The window, its projection and the loader thread's shared context, checked on real pixels.
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <SDL.h>

#include <algorithm>
#include <thread>

#include "graphics/display.h"
#include "test_support.h"

namespace {

// A texture the loader context made is drawn by the main thread, from the bottom-left pixel (0, 0).
TEST(Display, LoaderTextureDrawnFromTheBottomLeftPixel)
{
    REQUIRE_DISPLAY();
    GLuint texture = 0;
    std::thread loader([&texture] {
        makeLoaderContextCurrent();
        const uint8_t texel[] = {200, 10, 20, 255};
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
        glFinish();
        releaseLoaderContext();
    });
    loader.join();
    beginFrame();
    glColor3ub(255, 255, 255);
    glBindTexture(GL_TEXTURE_2D, texture);
    glRecti(0, 0, 2, 1);  // one texel: whatever the texture coordinates
    glBindTexture(GL_TEXTURE_2D, 0);
    endFrame();
    const struct { int x, y; uint32_t rgb; } expected[] = {{0, 0, 0xC80A14}, {1, 0, 0xC80A14}, {2, 0, 0}, {0, 1, 0},
                                                           {0, displayHeight() - 1, 0}};
    for (auto e : expected) EXPECT_EQ(e.rgb, pixelAt(e.x, e.y)) << "at (" << e.x << "," << e.y << ")";
    glDeleteTextures(1, &texture);
}

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

TEST(Display, WindowSizeIsClamped)
{
    REQUIRE_DISPLAY();
    const struct { int w, h, expectedW, expectedH; } cases[] = {
        {5000, 5, 2000, 10}, {0, 0, 10, 10}, {1999, 1601, 1999, 1600}};
    for (auto c : cases) {
        ASSERT_TRUE(initDisplay(c.w, c.h));
        const SDL_Surface *window = SDL_GetVideoSurface();
        EXPECT_EQ(std::vector<int>({c.expectedW, c.expectedH, c.expectedW, c.expectedH}),
                  std::vector<int>({displayWidth(), displayHeight(), window->w, window->h})) << c.w << " x " << c.h;
    }
    ASSERT_TRUE(initDisplay(64, 64));  // back to the size the other tests use
}

}  // namespace
