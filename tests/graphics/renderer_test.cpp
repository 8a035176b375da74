// The drawing functions checked on real pixels, read back from a window under Xvfb.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "core/script.h"
#include "graphics/display.h"
#include "graphics/image.h"
#include "graphics/renderer.h"
#include "resources/registry.h"
#include "test_support.h"

namespace {

uint32_t rgb(int r, int g, int b) { return uint32_t(r & 255) << 16 | uint32_t(g & 255) << 8 | uint32_t(b & 255); }

// The whole window as 0xRRGGBB, bottom row first.
std::vector<uint32_t> grabWindow()
{
    const std::vector<uint8_t> p = readPixels(0, 0, displayWidth(), displayHeight());
    std::vector<uint32_t> out(p.size() / 4);
    for (size_t i = 0; i < out.size(); i++) out[i] = rgb(p[i * 4], p[i * 4 + 1], p[i * 4 + 2]);
    return out;
}

// "" when the frames match, else the first differing pixel.
std::string firstDifference(const std::vector<uint32_t> &want, const std::vector<uint32_t> &got)
{
    char text[80] = "";
    for (size_t i = 0; i < want.size() && !text[0]; i++)
        if (want[i] != got[i])
            snprintf(text, sizeof text, "at (%zu,%zu) expected #%06X, got #%06X", i % size_t(displayWidth()),
                     i / size_t(displayWidth()), want[i], got[i]);
    return text;
}

uint32_t pixel(int i, int j) { return rgb(4 * i + 3, 8 * j + 5, 200); }  // of the test picture: all differ

// Handles: img (33 x 20 in a 64 x 32 texture, magenta padding, nearest), failed, missing, font.
class DrawingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        std::vector<uint8_t> texels;
        for (int j = 0; j < 32; j++)
            for (int i = 0; i < 64; i++) {
                const uint32_t p = i < 33 && j < 20 ? pixel(i, j) : 0xFF00FF;
                texels.insert(texels.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), 255});
            }
        glGenTextures(1, &picture.texture);
        glBindTexture(GL_TEXTURE_2D, picture.texture);
        for (GLenum name : {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER})
            glTexParameteri(GL_TEXTURE_2D, name, GL_NEAREST);
        for (GLenum name : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T}) glTexParameteri(GL_TEXTURE_2D, name, GL_CLAMP);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 64, 32, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        picture = {picture.texture, 33.0f / 64, 20.0f / 32, 33, 20};
        failed.width = failed.height = 1;
        L = luaL_newstate();
        registerDrawingFunctions(L);
        for (auto entry :
             {std::pair<const char *, Image *>("img", &picture), {"failed", &failed}, {"missing", nullptr}}) {
            ResourceRecord *record = findOrCreateResource(
                {std::string("render-test-") + entry.first, resourceDirectory(RESOURCE_IMAGE), RESOURCE_IMAGE});
            std::lock_guard<std::mutex> guard(record->lock);
            saved.push_back({record, record->data});  // put back when the test ends
            record->data = entry.second ? (void *)entry.second : placeholderFor(RESOURCE_IMAGE);
            lua_pushlightuserdata(L, record);
            lua_setglobal(L, entry.first);
        }
        lua_pushlightuserdata(L, findOrCreateResource({"render-test-img", "", RESOURCE_FONT}));
        lua_setglobal(L, "font");
        glLoadIdentity();
        glClearColor(0, 0, 0, 1);
        beginFrame();
    }
    void TearDown() override
    {
        for (auto &entry : saved) {
            std::lock_guard<std::mutex> guard(entry.first->lock);
            entry.first->data = entry.second;
        }
        if (L) lua_close(L);
        glDeleteTextures(1, &picture.texture);
        glLoadIdentity();
        glColor4ub(255, 255, 255, 255);
    }
    void run(const std::string &code)  // fails the test when the chunk raises
    {
        EXPECT_EQ(0, luaL_dostring(L, code.c_str())) << code << ": " << lua_tostring(L, -1);
    }
    Image picture, failed;
    lua_State *L = nullptr;
    std::vector<std::pair<ResourceRecord *, void *>> saved;
};

// Each call lights exactly [x1, x2) x [y1, y2), in `colour` or at(x, y); the rest stays black.
TEST_F(DrawingTest, EveryDrawLandsOnItsPixels)
{
    struct Case { const char *call; int x1, y1, x2, y2; uint32_t colour; std::function<uint32_t(int, int)> at = {}; };
    const Case cases[] = {
        {"drawRectangle(12, 9, 2, 3, true)", 2, 3, 12, 9, 0xFFFFFF},  // corners swapped
        {"drawLine(5, 7, 25, 7)", 5, 6, 25, 7, 0xFFFFFF},  // on a pixel edge GL takes the row below
        {"drawRectangleExt(30, 30, 50, 40, true, 90, 30, 30)", 20, 30, 30, 50, 0xFFFFFF},
        {"drawRectangleExt(10, 10, 30, 20, true, 180, 20, 15)", 10, 10, 30, 20, 0xFFFFFF},  // absolute pivot
        {"setRenderColor(300, 0, 0, 255) drawRectangle(0, 0, 8, 8, true)", 0, 0, 8, 8, rgb(44, 0, 0)},
        {"setRenderColor(256 + 10, 511, -1, 255) drawRectangle(0, 0, 8, 8, true)", 0, 0, 8, 8, rgb(10, 255, 255)},
        {"setRenderColor(12.9, 'x', 7, 255) drawRectangle(0, 0, 8, 8, true)", 0, 0, 8, 8, rgb(12, 0, 7)},
        {"setRenderColor(255, 255, 255, 256) drawRectangle(0, 0, 8, 8, true)", 0, 0, 0, 0, 0},  // alpha 0
        {"setRenderColor(255, 0, 0, 128) drawRectangle(0, 0, 8, 8, true)", 0, 0, 8, 8, rgb(128, 0, 0)},
        {"translateRender(10, 5, 3) drawRectangle(0, 0, 4, 4, true)", 10, 5, 14, 9, 0xFFFFFF},  // z unseen
        {"scaleRender(2, 3) drawRectangle(1, 1, 6, 6, true)", 2, 3, 12, 18, 0xFFFFFF},
        {"translateRender(30, 30, 0) rotateRender(90) drawRectangle(0, 0, 10, 5, true)", 25, 30, 30, 40, 0xFFFFFF},
        {"pushMatrix() translateRender(20, 0, 0) pushMatrix() translateRender(0, 20, 0) popMatrix() "
         "drawRectangle(0, 0, 4, 4, true) popMatrix()", 20, 0, 24, 4, 0xFFFFFF},
        {"drawImage(img, 3, 4)", 3, 4, 36, 24, 0, [](int x, int y) { return pixel(x - 3, y - 4); }},
        {"setRenderColor(255, 0, 255, 255) drawImage(img, 3, 4)", 3, 4, 36, 24, 0,
         [](int x, int y) { return pixel(x - 3, y - 4) & 0xFF00FF; }},  // modulated by the colour
        // Reversed corners: the same pixels unmirrored, the right (top) edge at x (y).
        {"drawImagePart(img, 30, 10, 15, 2, 5, 9)", 20, 10, 30, 17, 0,
         [](int x, int y) { return pixel(x - 15, y - 8); }},
        {"drawImagePart(img, 10, 30, 5, 9, 15, 2)", 10, 23, 20, 30, 0,
         [](int x, int y) { return pixel(x - 5, y - 21); }},
        {"drawImagePart(img, 40, 40, 7, 7, 7, 12)", 0, 0, 0, 0, 0},  // no width
        // Scaled 2 from (0, 0), turned 90 about the scaled centre (32, 20): x = 52 - 2v, y = 2u - 12.
        {"drawImageExt(img, 0, 0, 90, 2)", 12, 0, 52, 54, 0,
         [](int x, int y) { return pixel(int(floor((y + 12.5) / 2)), int(floor((51.5 - x) / 2))); }},
        {"drawImagePartExt(img, 20, 20, 0, 0, 10, 6, 180, 1, 1, 25, 23)", 20, 20, 30, 26, 0,
         [](int x, int y) { return pixel(29 - x, 25 - y); }},  // about the absolute point
        // Scaled 2, turned 90 about where the pivot lands after scaling, (14, 12): x = 16 - 2v, y = 2u + 8.
        {"drawImagePartExt(img, 10, 10, 0, 0, 4, 3, 90, 2, 2, 12, 11)", 10, 8, 16, 16, 0,
         [](int x, int y) { return pixel(int(floor((y - 7.5) / 2)), int(floor((15.5 - x) / 2))); }},
        {"drawImage(nil, 1, 1) drawImage(12, 1, 1) drawImage(font, 1, 1) drawImage(missing, 1, 1)", 0, 0, 0, 0, 0},
        {"setRenderColor(10, 200, 30, 255) drawImage(failed, 7, 9)", 7, 9, 8, 10, rgb(10, 200, 30)},
    };
    for (const Case &c : cases) {
        glLoadIdentity();
        beginFrame();
        run(std::string("setRenderColor(255, 255, 255, 255) ") + c.call);
        std::vector<uint32_t> expected(size_t(displayWidth() * displayHeight()), 0);
        for (int y = c.y1; y < c.y2; y++)
            for (int x = c.x1; x < c.x2; x++) expected[size_t(y * displayWidth() + x)] = c.at ? c.at(x, y) : c.colour;
        EXPECT_EQ("", firstDifference(expected, grabWindow())) << c.call;
    }
}

// The plain GL a circle stands for: an n-gon (GL_POLYGON or GL_LINES) placed with glTranslatef.
void plainCircle(float x, float y, float r, int n, bool filled)
{
    glPushMatrix();
    glTranslatef(x, y, 0);
    glBegin(filled ? GL_POLYGON : GL_LINES);
    for (int i = 0; i < n; i++) {
        const float a0 = float(i) * 6.2831855f / float(n), a1 = float(i + 1) * 6.2831855f / float(n);
        glVertex2f(float(cos(a0) * r), float(sin(a0) * r));
        if (!filled) glVertex2f(float(cos(a1) * r), float(sin(a1) * r));
    }
    glEnd();
    glPopMatrix();
}

// Circles (min(100, |r| pi) segments) and CPU offsets give plain GL's pixels under any model-view.
TEST_F(DrawingTest, CirclesAndFastPathsMatchPlainGl)
{
    struct Case { const char *name; std::function<void()> fast; std::function<void(int)> plain; int n, other; };
    const Case cases[] = {
        {"outline r 10", [] { renderCircle(0, 0, 10, false); }, [](int n) { plainCircle(0, 0, 10, n, false); }, 31, 32},
        {"filled r -10", [] { renderCircle(0, 0, -10, true); }, [](int n) { plainCircle(0, 0, 10, n, true); }, 31, 30},
        {"outline r 5: 15.7 segments truncate", [] { renderCircle(8, 8, 5, false); },
         [](int n) { plainCircle(8, 8, 5, n, false); }, 15, 16},
        {"outline r 1000", [] { renderCircle(-968, 0, 1000, false); },
         [](int n) { plainCircle(-968, 0, 1000, n, false); }, 100, 200},
        {"outline rectangle: a strip through 5 corners", [] { renderRectangle(10, 10, 40, 30, false); },
         [](int n) {
             glBegin(GL_LINE_STRIP);
             for (int i = 0; i < n; i++) glVertex2i(i % 4 < 2 ? 10 : 40, (i + 1) % 4 < 2 ? 10 : 30);
             glEnd();
         }, 5, 4},
        {"r 0.4 and -0.4", [] { renderCircle(5, 5, 0.4f, true), renderCircle(5, 5, -0.4f, false); }, [](int) {},
         0, 0},
        {"reversed part", [&] { renderImagePart(&picture, 6, 1.75f, 7, 9, 0, 2); },
         [&](int) { glTranslatef(6, 1.75f, 0), renderImagePart(&picture, 0, 0, 7, 9, 0, 2); }, -1, 0},
    };
    const float transforms[][4] = {{0, 0, 0, 1}, {2, 2, 0, 6}, {30, 20, 33, 1.3f}, {31.7f, 25.1f, -71, 0.8f}};
    for (const Case &c : cases) {
        bool otherSeen = c.other == 0;
        for (const auto &t : transforms) {
            auto drawWith = [&](const std::function<void()> &draw) {
                beginFrame();
                glLoadIdentity();
                glTranslatef(t[0], t[1], 0);
                glRotatef(t[2], 0, 0, 1);
                glScalef(t[3], t[3], 1);
                glColor4ub(200, 100, 50, 128);  // a pixel covered twice would show
                draw();
                flushRenderer();
                return grabWindow();
            };
            const std::vector<uint32_t> expected = drawWith([&] { c.plain(c.n); }), got = drawWith(c.fast);
            EXPECT_TRUE(t[3] != 1 || c.n == 0 || std::count(expected.begin(), expected.end(), 0u) < 4096) << c.name;
            EXPECT_EQ("", firstDifference(expected, got)) << c.name << " under translate (" << t[0] << "," << t[1]
                                                           << ") rotate " << t[2] << " scale " << t[3];
            if (c.other && firstDifference(drawWith([&] { c.plain(c.other); }), got) != "") otherSeen = true;
        }
        EXPECT_TRUE(otherSeen) << c.name << " cannot be told from a " << c.other << "-gon";
    }
}

// What a draw must leave as it found it (texture 0 bound, no GL error).
std::string glState()
{
    GLfloat matrix[16], colour[4];
    GLint depth = 0, texture = 0, mode = 0;
    glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    std::ostringstream out;
    out << "depth " << depth << ", texture " << texture << ", modelview " << (mode == GL_MODELVIEW) << ", enables "
        << int(glIsEnabled(GL_TEXTURE_2D)) << int(glIsEnabled(GL_BLEND)) << ", error " << glGetError() << std::hexfloat;
    for (GLfloat v : colour) out << " " << v;
    for (GLfloat v : matrix) out << " " << v;
    return out.str();
}

TEST_F(DrawingTest, GlStateIsUnchangedAfterEveryKindOfDraw)
{
    glTranslatef(3.25f, -1.5f, 0);
    glRotatef(17, 0, 0, 1);
    glPushMatrix();
    glScalef(1.5f, 0.75f, 1);
    run("setRenderColor(10, 20, 30, 40)");
    while (glGetError() != GL_NO_ERROR) {
    }
    const std::string before = glState();
    EXPECT_EQ(0u, before.find("depth 2, texture 0, modelview 1, enables 11, error 0")) << before;
    for (const char *call :
         {"drawCircle(10, 10, 5, true)", "drawCircle(10, 10, 5, false)", "drawCircle(10, 10, 0.1, true)",
          "drawRectangle(1, 2, 3, 4, true)", "drawRectangle(1, 2, 3, 4, false)", "drawLine(1, 2, 30, 4)",
          "drawRectangleExt(1, 2, 30, 4, true, 33, 5, 5)", "drawRectangleExt(1, 2, 30, 4, false, 33, 5, 5)",
          "drawImage(img, 3, 4)", "drawImageExt(img, 3, 4, 45, 1.5)", "drawImagePart(img, 3, 4, 1, 1, 5, 5)",
          "drawImagePartExt(img, 3, 4, 1, 1, 5, 5, 30, 2, 1, 4, 4)", "drawImage(failed, 3, 4)",
          "drawImagePart(failed, 3, 4, 0, 0, 1, 1)", "drawImage(nil, 3, 4)", "getDisplayWidth() getDisplayHeight()"}) {
        run(call);
        flushRenderer();
        EXPECT_EQ(before, glState()) << call;
    }
    glPopMatrix();
}

// Whatever draws after queued image quads sees texture 0, its own matrix and colour.
TEST_F(DrawingTest, DrawingAfterImagesSeesItsOwnState)
{
    run("drawImage(img, 0, 0) drawImage(img, 8, 30) drawRectangle(20, 20, 29, 29, true) setRenderColor(0, 0, 255, 255) "
        "drawImage(img, 40, 40) pushMatrix() translateRender(0, 10, 0) drawImage(img, 30, 40) popMatrix() "
        "drawImage(img, 0, 40) drawCircle(4, 55, 3, true)");
    const struct { int x, y; uint32_t rgb; const char *what; } expected[] = {  // 0xRRGGBB
        {4, 4, pixel(4, 4), "first quad"}, {12, 34, pixel(4, 4), "second quad"},
        {24, 24, 0xFFFFFF, "a rectangle right after images is untextured"}, {44, 44, pixel(4, 4) & 0xFF, "new colour"},
        {34, 54, pixel(4, 4) & 0xFF, "moved by the translation"}, {4, 55, 0x0000FF, "untextured circle after a quad"}};
    for (auto e : expected) EXPECT_EQ(e.rgb, pixelAt(e.x, e.y)) << e.what;
}

// A deletion on the loader ends the open batch: the name, maybe reused, is bound afresh (empty: white).
TEST_F(DrawingTest, TextureDeletionEndsTheOpenBatch)
{
    renderImage(&picture, 0, 0);  // the batch is open with the picture bound
    std::thread loader([&] {
        makeLoaderContextCurrent();
        deleteTexture(picture.texture);
        glFinish();
        releaseLoaderContext();
    });
    loader.join();
    renderImage(&picture, 40, 0);
    endFrame();
    EXPECT_EQ(pixel(4, 4), pixelAt(4, 4)) << "the queued quad keeps its texture";
    EXPECT_EQ(0xFFFFFFu, pixelAt(44, 4)) << "the name was bound afresh after the deletion";
}

}  // namespace
