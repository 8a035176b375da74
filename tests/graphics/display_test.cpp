// The window, its projection and the loader thread's shared context, checked on real pixels.
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <SDL.h>

#include <thread>

#include "graphics/display.h"
#include "test_support.h"

namespace {

TEST(Display, CoordinatesStartAtTheBottomLeftPixel)
{
    REQUIRE_DISPLAY();
    const int h = displayHeight();
    glClearColor(0, 0, 0, 1);
    beginFrame();
    glDisable(GL_TEXTURE_2D);
    glBegin(GL_POINTS);
    glColor3ub(255, 0, 0);
    glVertex2i(0, 0);
    glColor3ub(0, 255, 0);
    glVertex2i(0, h - 1);
    glColor3ub(0, 0, 255);
    glVertex2i(5, 3);
    glEnd();
    glColor3ub(255, 255, 255);
    glEnable(GL_TEXTURE_2D);
    endFrame();
    EXPECT_EQ(0xFF0000u, pixelAt(0, 0));
    EXPECT_EQ(0x00FF00u, pixelAt(0, h - 1));
    EXPECT_EQ(0x0000FFu, pixelAt(5, 3));
    EXPECT_EQ(0u, pixelAt(1, 0));
}

TEST(Display, GlStateAfterSetUp)
{
    REQUIRE_DISPLAY();
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    GLint src = 0, dst = 0, mode = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(GL_SRC_ALPHA, src);
    EXPECT_EQ(GL_ONE_MINUS_SRC_ALPHA, dst);
    EXPECT_EQ(GL_MODELVIEW, mode);
    char *title = nullptr, *icon = nullptr;
    SDL_WM_GetCaption(&title, &icon);
    EXPECT_STREQ("Quillfen Engine 3.0 by Pellory", icon);
}

// A texture made on another thread with the loader context current is drawn by the main thread.
TEST(Display, LoaderContextSharesTexturesWithTheWindow)
{
    REQUIRE_DISPLAY();
    GLuint texture = 0;
    std::thread loader([&texture] {
        makeLoaderContextCurrent();
        const uint8_t red[4 * 4] = {200, 10, 20, 255, 200, 10, 20, 255, 200, 10, 20, 255, 200, 10, 20, 255};
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, red);
        glBindTexture(GL_TEXTURE_2D, 0);
        glFinish();
        releaseLoaderContext();
    });
    loader.join();
    ASSERT_NE(0u, texture);
    EXPECT_TRUE(glIsTexture(texture));

    beginFrame();
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0); glVertex2i(10, 10);
    glTexCoord2f(1, 0); glVertex2i(20, 10);
    glTexCoord2f(1, 1); glVertex2i(20, 20);
    glTexCoord2f(0, 1); glVertex2i(10, 20);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    endFrame();
    EXPECT_EQ(0xC80A14u, pixelAt(15, 15));
    EXPECT_EQ(0u, pixelAt(25, 25));
    glDeleteTextures(1, &texture);
}

struct AttemptCounter
{
    int attempts = 0;
    int succeedOn = 0;  // 0: never
};
static bool countedAttempt(void *user)
{
    AttemptCounter *counter = (AttemptCounter *)user;
    return ++counter->attempts == counter->succeedOn;
}

TEST(Display, LoaderContextRetriesAHundredTimesThenGivesUp)
{
    const std::string pair =
        "CRITICAL ERROR: Could not open resource manager's render context\n"
        "                Wgl says: ";
    AttemptCounter never;
    bool result = true;
    std::string err = captureStderr([&] { result = retryMakeCurrent(countedAttempt, &never); });
    EXPECT_FALSE(result);
    EXPECT_EQ(101, never.attempts);
    size_t pairs = 0;
    for (size_t at = err.find(pair); at != std::string::npos; at = err.find(pair, at + 1)) pairs++;
    EXPECT_EQ(101u, pairs);
    EXPECT_EQ(202 + 1, std::count(err.begin(), err.end(), '\n'));
    EXPECT_EQ("Giving up after retrying 100 times.\n", err.substr(err.size() - 36));

    AttemptCounter third;
    third.succeedOn = 3;
    err = captureStderr([&] { result = retryMakeCurrent(countedAttempt, &third); });
    EXPECT_TRUE(result);
    EXPECT_EQ(4, std::count(err.begin(), err.end(), '\n'));
}

TEST(Display, WindowSizeIsClamped)
{
    REQUIRE_DISPLAY();
    const struct { int w, h, expectedW, expectedH; } cases[] = {{5000, 5, 2000, 10}, {0, 0, 10, 10}, {1999, 1601, 1999, 1600}};
    for (auto c : cases) {
        ASSERT_TRUE(initDisplay(c.w, c.h));
        EXPECT_EQ(c.expectedW, displayWidth());
        EXPECT_EQ(c.expectedH, displayHeight());
        EXPECT_EQ(c.expectedW, SDL_GetVideoSurface()->w);
        EXPECT_EQ(c.expectedH, SDL_GetVideoSurface()->h);
    }
    ASSERT_TRUE(initDisplay(64, 64));  // back to the size the other tests use
}

}  // namespace
