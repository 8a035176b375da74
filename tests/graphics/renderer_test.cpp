// Drawing checked on real pixels: the scripts' drawing functions draw into the back buffer of
// a real window under Xvfb, and glReadPixels reads the result back.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include "core/script.h"
#include "graphics/display.h"
#include "graphics/image.h"
#include "graphics/renderer.h"
#include "resources/registry.h"
#include "resources/resource_script.h"
#include "test_support.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Helpers

static uint32_t rgb(int r, int g, int b) { return (uint32_t)(r & 255) << 16 | (uint32_t)(g & 255) << 8 | (uint32_t)(b & 255); }

static std::string hex(uint32_t colour)
{
    char text[16];
    snprintf(text, sizeof text, "#%06X", colour);
    return text;
}

// Compares the block of the back buffer from (x0, y0), w x h, with expected(x, y).
// Empty when all match, else the count and the first few "at (x,y) expected #.., got #..".
static std::string comparePixels(int x0, int y0, int w, int h, const std::function<uint32_t(int, int)> &expected)
{
    const std::vector<uint8_t> p = readPixels(x0, y0, w, h);
    std::ostringstream out;
    int wrong = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const uint8_t *q = &p[((size_t)y * w + x) * 4];
            const uint32_t got = rgb(q[0], q[1], q[2]), want = expected(x0 + x, y0 + y);
            if (got != want && wrong++ < 5)
                out << " at (" << x0 + x << "," << y0 + y << ") expected " << hex(want) << ", got " << hex(got) << ";";
        }
    if (wrong == 0) return "";
    return std::to_string(wrong) + " pixels differ:" + out.str();
}

// The whole window as 0xRRGGBB values, row by row from the bottom.
static std::vector<uint32_t> grabWindow()
{
    const int w = displayWidth(), h = displayHeight();
    const std::vector<uint8_t> p = readPixels(0, 0, w, h);
    std::vector<uint32_t> out((size_t)w * h);
    for (size_t i = 0; i < out.size(); i++) out[i] = rgb(p[i * 4], p[i * 4 + 1], p[i * 4 + 2]);
    return out;
}

static int countNonBlack(const std::vector<uint32_t> &pixels)
{
    int n = 0;
    for (uint32_t p : pixels) n += p != 0;
    return n;
}

static std::string firstDifference(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    const int w = displayWidth();
    for (size_t i = 0; i < a.size(); i++)
        if (a[i] != b[i])
            return "at (" + std::to_string(i % w) + "," + std::to_string(i / w) + ") expected " + hex(a[i]) + ", got " +
                   hex(b[i]);
    return "";
}

// A test picture whose every pixel is different: pixel (i, j), counted from the bottom-left, is
// (4i + 3, 8j + 5, 200). Uploaded into a power-of-two texture padded with magenta, nearest
// filtering, so that each screen pixel shows exactly one picture pixel.
struct TestPicture
{
    Image image;
    explicit TestPicture(int w, int h)
    {
        int tw = 1, th = 1;
        while (tw < w) tw *= 2;
        while (th < h) th *= 2;
        std::vector<uint8_t> texels((size_t)tw * th * 4);
        for (int j = 0; j < th; j++)
            for (int i = 0; i < tw; i++) {
                uint8_t *t = &texels[((size_t)j * tw + i) * 4];
                const bool inside = i < w && j < h;
                t[0] = inside ? (uint8_t)(4 * i + 3) : 255;
                t[1] = inside ? (uint8_t)(8 * j + 5) : 0;
                t[2] = inside ? 200 : 255;
                t[3] = 255;
            }
        glGenTextures(1, &image.texture);
        glBindTexture(GL_TEXTURE_2D, image.texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        image.maxU = (float)((double)w / tw);
        image.maxV = (float)((double)h / th);
        image.width = (uint32_t)w;
        image.height = (uint32_t)h;
    }
    ~TestPicture() { glDeleteTextures(1, &image.texture); }
    static uint32_t pixel(int i, int j) { return rgb(4 * i + 3, 8 * j + 5, 200); }
};

// A real script state with the drawing and handle functions, and image handles whose records
// point at test pictures (restored when the test ends).
class DrawingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        L = luaL_newstate();
        luaL_openlibs(L);
        registerDrawingFunctions(L);
        registerResourceListFunctions(L);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glColor4ub(255, 255, 255, 255);
        glClearColor(0, 0, 0, 1);
        beginFrame();
    }
    void TearDown() override
    {
        for (auto &saved : handles) {
            std::lock_guard<std::mutex> guard(saved.first->lock);
            saved.first->data = saved.second;
        }
        if (L) lua_close(L);
        glLoadIdentity();
        glColor4ub(255, 255, 255, 255);
        glClearColor(0, 0, 0, 1);
    }
    // Global `name` = the image handle of `name`, showing `image` (nullptr: not loaded).
    void setImageHandle(const char *name, Image *image)
    {
        ResourceRecord *record = findOrCreateResource({name, resourceDirectory(RESOURCE_IMAGE), RESOURCE_IMAGE});
        std::lock_guard<std::mutex> guard(record->lock);
        handles.push_back({record, record->data});
        record->data = image ? (void *)image : placeholderFor(RESOURCE_IMAGE);
        lua_pushlightuserdata(L, record);
        lua_setglobal(L, name);
    }
    // Runs Lua text; fails the test with the error text when it raises.
    void run(const std::string &code)
    {
        ASSERT_EQ(0, luaL_loadstring(L, code.c_str())) << lua_tostring(L, -1);
        if (lua_pcall(L, 0, 0, 0) != 0) {
            ADD_FAILURE() << code << " raised: " << lua_tostring(L, -1);
            lua_pop(L, 1);
        }
    }
    // Runs Lua text that must raise; returns the error value's text.
    std::string runRaising(const std::string &code)
    {
        EXPECT_EQ(0, luaL_loadstring(L, code.c_str()));
        if (lua_pcall(L, 0, 0, 0) == 0) return "(no error)";
        std::string text = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(not text)";
        lua_pop(L, 1);
        return text;
    }
    lua_State *L = nullptr;
    std::vector<std::pair<ResourceRecord *, void *>> handles;
};

// ---------------------------------------------------------------------------------------------
// Shapes

TEST_F(DrawingTest, FilledAndOutlineRectangles)
{
    run("setRenderColor(200, 100, 50, 255) drawRectangle(2, 3, 12, 9, true)");
    EXPECT_EQ("", comparePixels(0, 0, 20, 14, [](int x, int y) {
                  return x >= 2 && x < 12 && y >= 3 && y < 9 ? rgb(200, 100, 50) : 0;
              }));
    beginFrame();
    run("setRenderColor(200, 100, 50, 255) drawRectangle(12, 9, 2, 3, true)");  // corners swapped
    EXPECT_EQ("", comparePixels(0, 0, 20, 14, [](int x, int y) {
                  return x >= 2 && x < 12 && y >= 3 && y < 9 ? rgb(200, 100, 50) : 0;
              }));

    // An outline: the inside stays empty, every side has lit pixels next to it.
    beginFrame();
    run("drawRectangle(10, 10, 40, 30, false)");
    const std::vector<uint32_t> pixels = grabWindow();
    const int w = displayWidth();
    auto lit = [&](int x, int y) { return pixels[(size_t)y * w + x] != 0; };
    for (int y = 12; y < 28; y++)
        for (int x = 12; x < 38; x++) ASSERT_FALSE(lit(x, y)) << "inside lit at (" << x << "," << y << ")";
    EXPECT_TRUE(lit(9, 20) || lit(10, 20)) << "left side";
    EXPECT_TRUE(lit(39, 20) || lit(40, 20)) << "right side";
    EXPECT_TRUE(lit(25, 9) || lit(25, 10)) << "bottom side";
    EXPECT_TRUE(lit(25, 29) || lit(25, 30)) << "top side";
    EXPECT_TRUE(lit(10, 10) || lit(9, 9) || lit(10, 9) || lit(9, 10)) << "closing corner";
    EXPECT_LT(countNonBlack(pixels), 2 * (30 + 20) + 8);
}

// Circles are polygons through the points at i * 2pi / n, with n = |radius| * pi (at most 100):
// drawn with the model-view scaled up 6 times, so that the segments show, their pixels are
// those of an n-gon through those points and not those of an (n - 1)- or (n + 1)-gon.
TEST_F(DrawingTest, CircleSegmentsAndSmallRadii)
{
    // The n-gon of radius r around the origin, drawn as the circle formula says, then the window.
    auto polygonPixels = [&](const char *matrix, int n, float r, bool filled) {
        glLoadIdentity();
        beginFrame();
        run(matrix);
        glBegin(filled ? GL_POLYGON : GL_LINES);
        for (int i = 0; i < n; i++) {
            const float a0 = (float)i * 6.2831855f / (float)n, a1 = (float)(i + 1) * 6.2831855f / (float)n;
            glVertex2f((float)(cos(a0) * r), (float)(sin(a0) * r));
            if (!filled) glVertex2f((float)(cos(a1) * r), (float)(sin(a1) * r));
        }
        glEnd();
        glLoadIdentity();
        return grabWindow();
    };
    auto circlePixels = [&](const char *matrix, const char *call) {
        glLoadIdentity();
        beginFrame();
        run(std::string(matrix) + " " + call);
        glLoadIdentity();
        return grabWindow();
    };
    const char *centred = "translateRender(32, 32, 0)";
    const char *enlarged = "translateRender(2, 2, 0) scaleRender(6, 6)";  // a quarter circle fills the window
    struct Case
    {
        const char *matrix, *call;
        int segments;  // 0: nothing drawn
        float radius;
        bool filled;
    };
    const Case cases[] = {
        {enlarged, "drawCircle(0, 0, 10, false)", 31, 10, false},
        {enlarged, "drawCircle(0, 0, -10, false)", 31, 10, false},
        {enlarged, "drawCircle(0, 0, 10, true)", 31, 10, true},
        {enlarged, "drawCircle(0, 0, -10, true)", 31, 10, true},
        {enlarged, "drawCircle(0, 0, 7.9, true)", 24, 7.9f, true},
        {enlarged, "drawCircle(0.9, -0.2, 10, true)", 31, 10, true},  // integer centre: (0, 0)
        {centred, "drawCircle(0, 0, 10, true)", 31, 10, true},
        {centred, "drawCircle(0, 0, 25, false)", 78, 25, false},
        {centred, "drawCircle(0, 0, 1, true)", 3, 1, true},
        {centred, "drawCircle(0, 0, 0.4, true)", 0, 0, true},
        {centred, "drawCircle(0, 0, -0.4, false)", 0, 0, false},
        {centred, "drawCircle(0, 0, 0, true)", 0, 0, true},
    };
    for (const Case &c : cases) {
        const std::vector<uint32_t> drawn = circlePixels(c.matrix, c.call);
        if (c.segments == 0) {
            EXPECT_EQ(0, countNonBlack(drawn)) << c.call << " drew something";
            continue;
        }
        EXPECT_GT(countNonBlack(drawn), c.segments < 5 ? 1 : 40) << c.call;
        EXPECT_EQ("", firstDifference(polygonPixels(c.matrix, c.segments, c.radius, c.filled), drawn))
            << c.matrix << " " << c.call << " differs from a " << c.segments << "-gon";
        if (c.matrix == enlarged) {
            EXPECT_NE("", firstDifference(polygonPixels(c.matrix, c.segments - 1, c.radius, c.filled), drawn))
                << c.call << " looks like a " << c.segments - 1 << "-gon";
            const int more = c.segments == 100 ? 103 : c.segments + 1;
            EXPECT_NE("", firstDifference(polygonPixels(c.matrix, more, c.radius, c.filled), drawn))
                << c.call << " looks like a " << more << "-gon";
        }
    }
    // Radius 1000 is capped at 100 segments: the window shows one whole segment (0 to 3.6
    // degrees), half a pixel inside the arc at its middle, where a 200-gon has a corner.
    const std::vector<uint32_t> big = circlePixels("", "drawCircle(-968, 0, 1000, false)");
    EXPECT_GT(countNonBlack(big), 50);
    EXPECT_EQ("", firstDifference(polygonPixels("translateRender(-968, 0, 0)", 100, 1000, false), big));
    EXPECT_NE("", firstDifference(polygonPixels("translateRender(-968, 0, 0)", 200, 1000, false), big));
}

TEST_F(DrawingTest, LinesAndRotatedRectangles)
{
    // A line along the edge between two pixel rows: GL's rule picks the row below here.
    run("drawLine(5, 7, 25, 7)");
    EXPECT_EQ("", comparePixels(0, 0, 30, 10, [](int x, int y) { return x >= 5 && x < 25 && y == 6 ? 0xFFFFFFu : 0; }));
    beginFrame();
    run("drawLine(3, 2, 3, 12)");
    EXPECT_EQ("", comparePixels(0, 0, 10, 15, [](int x, int y) { return x == 2 && y >= 2 && y < 12 ? 0xFFFFFFu : 0; }));
    // A 20 x 10 rectangle turned 90 degrees about its corner (30, 30) becomes 10 x 20 to its left.
    beginFrame();
    run("drawRectangleExt(30, 30, 50, 40, true, 90, 30, 30)");
    EXPECT_EQ("", comparePixels(15, 25, 20, 30, [](int x, int y) {
                  return x >= 20 && x < 30 && y >= 30 && y < 50 ? 0xFFFFFFu : 0;
              }));
    // The pivot is absolute: turning 180 degrees about the centre keeps the rectangle in place.
    beginFrame();
    run("drawRectangleExt(10, 10, 30, 20, true, 180, 20, 15)");
    EXPECT_EQ("", comparePixels(5, 5, 30, 20, [](int x, int y) {
                  return x >= 10 && x < 30 && y >= 10 && y < 20 ? 0xFFFFFFu : 0;
              }));
}

// ---------------------------------------------------------------------------------------------
// Colours

TEST_F(DrawingTest, RenderColourKeepsTheLowEightBits)
{
    struct Case
    {
        const char *call;
        uint32_t colour;
    };
    const Case cases[] = {
        {"setRenderColor(300, 0, 0, 255)", rgb(44, 0, 0)},
        {"setRenderColor(256 + 10, 511, -1, 255)", rgb(10, 255, 255)},
        {"setRenderColor(12.9, 'x', 7, 255)", rgb(12, 0, 7)},
        {"setRenderColor(255, 255, 255, 256)", 0},  // alpha 0: nothing shows over black
        {"setRenderColor(255, 0, 0, 128)", rgb(128, 0, 0)},
    };
    for (const Case &c : cases) {
        beginFrame();
        run(std::string(c.call) + " drawRectangle(0, 0, 8, 8, true)");
        EXPECT_EQ(hex(c.colour), hex(pixelAt(4, 4))) << c.call;
    }
}

TEST_F(DrawingTest, BackgroundColourIsClampedByTheClear)
{
    struct Case
    {
        const char *call;
        uint32_t colour;
    };
    const Case cases[] = {
        {"setBackgroundColor(255, 0, 0)", rgb(255, 0, 0)},
        {"setBackgroundColor(-1, 0, 2)", rgb(0, 0, 255)},
        {"setBackgroundColor(0, 1, 0)", rgb(0, 255, 0)},
        {"setBackgroundColor(0.2, 0.6, 1)", rgb(51, 153, 255)},
    };
    for (const Case &c : cases) {
        run(c.call);
        beginFrame();
        EXPECT_EQ(hex(c.colour), hex(pixelAt(20, 20))) << c.call;
    }
}

// ---------------------------------------------------------------------------------------------
// The model-view matrix

TEST_F(DrawingTest, MatrixFunctionsMoveLaterDrawing)
{
    struct Case
    {
        const char *code;
        int x1, y1, x2, y2;  // expected lit block [x1, x2) x [y1, y2)
    };
    const Case cases[] = {
        {"translateRender(10, 5, 0) drawRectangle(0, 0, 4, 4, true)", 10, 5, 14, 9},
        {"translateRender(10, 5, 3) drawRectangle(0, 0, 4, 4, true)", 10, 5, 14, 9},  // z is not seen
        {"scaleRender(2, 3) drawRectangle(1, 1, 6, 6, true)", 2, 3, 12, 18},
        {"translateRender(30, 30, 0) rotateRender(90) drawRectangle(0, 0, 10, 5, true)", 25, 30, 30, 40},
        {"translateRender(30, 30, 0) rotateRender(-90) drawRectangle(0, 0, 10, 5, true)", 30, 20, 35, 30},
        {"pushMatrix() translateRender(20, 0, 0) popMatrix() drawRectangle(0, 0, 4, 4, true)", 0, 0, 4, 4},
        {"pushMatrix() translateRender(20, 0, 0) pushMatrix() translateRender(0, 20, 0) popMatrix() "
         "drawRectangle(0, 0, 4, 4, true) popMatrix()", 20, 0, 24, 4},
        {"translateRender(8, 8, 0) drawCircle(0, 0, 0.4, true) drawImage(nil, 0, 0) drawRectangle(0, 0, 4, 4, true)",
         8, 8, 12, 12},
    };
    for (const Case &c : cases) {
        glLoadIdentity();
        beginFrame();
        run(c.code);
        EXPECT_EQ("", comparePixels(0, 0, 48, 48, [&](int x, int y) {
                      return x >= c.x1 && x < c.x2 && y >= c.y1 && y < c.y2 ? 0xFFFFFFu : 0;
                  })) << c.code;
    }
}

// A script that translates without popping moves everything drawn in later frames too, and
// pushMatrix with an argument pushes nothing.
TEST_F(DrawingTest, MatrixCarriesOverFramesAndWrongCountsChangeNothing)
{
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(1, depth);
    EXPECT_EQ("0 args needed", runRaising("pushMatrix(1)"));
    EXPECT_EQ("0 args needed", runRaising("popMatrix(nil)"));
    EXPECT_EQ("1 arg needed", runRaising("rotateRender()"));
    EXPECT_EQ("2 args needed", runRaising("scaleRender(2)"));
    EXPECT_EQ("3 args needed", runRaising("translateRender(1, 2)"));
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(1, depth) << "a refused pushMatrix pushed";
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    const GLfloat identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    EXPECT_EQ(0, memcmp(identity, m, sizeof m)) << "a refused call changed the matrix";

    run("translateRender(6, 0, 0)");
    for (int frame = 0; frame < 2; frame++) {
        beginFrame();
        run("drawRectangle(0, 0, 2, 2, true)");
        endFrame();
        EXPECT_EQ(0u, pixelAt(0, 0)) << "frame " << frame;
        EXPECT_EQ(0xFFFFFFu, pixelAt(6, 0)) << "frame " << frame;
    }
}

// ---------------------------------------------------------------------------------------------
// Images

TEST_F(DrawingTest, WholeImagesAndParts)
{
    TestPicture picture(33, 20);
    setImageHandle("render-test-33x20", &picture.image);
    run("img = _G['render-test-33x20']");
    struct Case
    {
        const char *call;
        int x1, y1, x2, y2;                   // where the picture lands: [x1, x2) x [y1, y2)
        std::function<uint32_t(int, int)> at;  // picture pixel shown at a screen pixel inside
    };
    const Case cases[] = {
        {"drawImage(img, 3, 4)", 3, 4, 36, 24, [](int x, int y) { return TestPicture::pixel(x - 3, y - 4); }},
        {"drawImage(img, 3.0, 4)", 3, 4, 36, 24, [](int x, int y) { return TestPicture::pixel(x - 3, y - 4); }},
        {"drawImagePart(img, 10, 10, 5, 2, 15, 9)", 10, 10, 20, 17,
         [](int x, int y) { return TestPicture::pixel(x - 10 + 5, y - 10 + 2); }},
        // Reversed x corners: the same pixels, unmirrored, with the right edge at x.
        {"drawImagePart(img, 30, 10, 15, 2, 5, 9)", 20, 10, 30, 17,
         [](int x, int y) { return TestPicture::pixel(x - 20 + 5, y - 10 + 2); }},
        // Reversed y corners: the top edge at y.
        {"drawImagePart(img, 10, 30, 5, 9, 15, 2)", 10, 23, 20, 30,
         [](int x, int y) { return TestPicture::pixel(x - 10 + 5, y - 23 + 2); }},
        {"drawImagePart(img, 40, 40, 32, 19, 33, 20)", 40, 40, 41, 41, [](int, int) { return TestPicture::pixel(32, 19); }},
        {"drawImagePart(img, 40, 40, 7, 7, 7, 12)", 0, 0, 0, 0, nullptr},  // no width: nothing
        // Scale 2 from the bottom-left corner: a 66 x 40 picture at (0, 0), cut by the 64-wide window.
        {"drawImageExt(img, 0, 0, 0, 2)", 0, 0, 66, 40, [](int x, int y) { return TestPicture::pixel(x / 2, y / 2); }},
        // Rotation 90 about the scaled centre (32, 20): x = 52 - 2v, y = 2u - 12.
        {"drawImageExt(img, 0, 0, 90, 2)", 12, 0, 52, 54,
         [](int x, int y) { return TestPicture::pixel((int)floor((y + 12.5) / 2), (int)floor((51.5 - x) / 2)); }},
        {"drawImageExt(img, 5, 6, 0, 1)", 5, 6, 38, 26, [](int x, int y) { return TestPicture::pixel(x - 5, y - 6); }},
        // Part turned 90 degrees about its own bottom-left corner (20, 20).
        {"drawImagePartExt(img, 20, 20, 0, 0, 10, 6, 90, 1, 1, 20, 20)", 14, 20, 20, 30,
         [](int x, int y) { return TestPicture::pixel(y - 20, 19 - x); }},
        // Turned 180 degrees about the absolute point (25, 23).
        {"drawImagePartExt(img, 20, 20, 0, 0, 10, 6, 180, 1, 1, 25, 23)", 20, 20, 30, 26,
         [](int x, int y) { return TestPicture::pixel(29 - x, 25 - y); }},
        // Scaled 2 x 3 from (x, y) whatever the pivot when not turned.
        {"drawImagePartExt(img, 4, 5, 10, 4, 20, 12, 0, 2, 3, 40, 1)", 4, 5, 24, 29,
         [](int x, int y) { return TestPicture::pixel(10 + (x - 4) / 2, 4 + (y - 5) / 3); }},
        // Scaled 2 and turned 90 about where the pivot (x + 2, y + 1) lands after scaling: (14, 12).
        // (u, v) lands at x = 16 - 2v, y = 2u + 8.
        {"drawImagePartExt(img, 10, 10, 0, 0, 4, 3, 90, 2, 2, 12, 11)", 10, 8, 16, 16,
         [](int x, int y) { return TestPicture::pixel((int)floor((y - 7.5) / 2), (int)floor((15.5 - x) / 2)); }},
    };
    for (const Case &c : cases) {
        beginFrame();
        run(c.call);
        const int w = displayWidth(), h = displayHeight();
        EXPECT_EQ("", comparePixels(0, 0, w, h, [&](int x, int y) {
                      return x >= c.x1 && x < c.x2 && y >= c.y1 && y < c.y2 ? c.at(x, y) : 0u;
                  })) << c.call;
    }
}

TEST_F(DrawingTest, TextureColourIsModulatedByTheRenderColour)
{
    TestPicture picture(4, 4);
    setImageHandle("render-test-4x4", &picture.image);
    run("setRenderColor(255, 0, 255, 255) drawImage(_G['render-test-4x4'], 0, 0)");
    EXPECT_EQ(hex(rgb(4 * 1 + 3, 0, 200)), hex(pixelAt(1, 2)));
}

// Handles that draw nothing: not loaded, emptied by an unload, another type's handle, non-handles.
TEST_F(DrawingTest, ImagesThatAreNotReadyDrawNothing)
{
    TestPicture picture(8, 8);
    Image empty;  // what an unload or a never-loaded placeholder leaves
    setImageHandle("render-test-ready", &picture.image);
    setImageHandle("render-test-missing", nullptr);
    setImageHandle("render-test-empty", &empty);
    ResourceRecord *font = findOrCreateResource({"render-test-ready", "", RESOURCE_FONT});
    lua_pushlightuserdata(L, font);
    lua_setglobal(L, "fontHandle");
    const char *calls[] = {
        "drawImage(_G['render-test-missing'], 1, 1)",
        "drawImage(_G['render-test-empty'], 1, 1)",
        "drawImagePart(_G['render-test-empty'], 1, 1, 0, 0, 4, 4)",
        "drawImagePartExt(_G['render-test-empty'], 1, 1, 0, 0, 4, 4, 0, 1, 1, 0, 0)",
        "drawImageExt(_G['render-test-missing'], 1, 1, 0, 1)",
        "drawImage(fontHandle, 1, 1)",
        "drawImage(nil, 1, 1)",
        "drawImage(12, 1, 1)",
        "drawImage('render-test-ready', 1, 1)",
        "drawImage({}, 1, 1)",
        "drawImagePart(0, 1, 1, 0, 0, 4, 4)",
    };
    for (const char *call : calls) {
        beginFrame();
        run(call);
        EXPECT_EQ(0, countNonBlack(grabWindow())) << call;
    }
    beginFrame();
    run("drawImage(_G['render-test-ready'], 1, 1)");
    EXPECT_EQ(64, countNonBlack(grabWindow())) << "the ready handle";
    // The render operations themselves accept nullptr and empty records.
    renderImage(nullptr, 0, 0);
    renderImagePartExt(&empty, 0, 0, 0, 0, 5, 5, 0, 1, 1, 0, 0);
}

// A record whose load failed (texture 0, 1 x 1) covers one pixel in the render colour.
TEST_F(DrawingTest, FailedImageCoversOnePixelInTheRenderColour)
{
    Image failed;
    failed.width = failed.height = 1;
    setImageHandle("render-test-failed", &failed);
    run("setRenderColor(10, 200, 30, 255) drawImage(_G['render-test-failed'], 7, 9)");
    std::vector<uint32_t> pixels = grabWindow();
    EXPECT_EQ(1, countNonBlack(pixels));
    EXPECT_EQ(hex(rgb(10, 200, 30)), hex(pixelAt(7, 9)));
}

// ---------------------------------------------------------------------------------------------
// What callers can observe after each kind of draw: the model-view matrix and its stack depth,
// the current colour, texture 0 bound, no GL error. The fast paths must not change any of it.
// Image quads may wait in the open batch; anything else that uses GL flushes it first, as the
// test does before looking.

TEST_F(DrawingTest, GlStateIsUnchangedAfterEveryKindOfDraw)
{
    TestPicture picture(16, 8);
    Image failed;
    failed.width = failed.height = 1;
    setImageHandle("render-test-state", &picture.image);
    setImageHandle("render-test-state-failed", &failed);
    run("img = _G['render-test-state'] bad = _G['render-test-state-failed']");
    const char *calls[] = {
        "drawCircle(10, 10, 5, true)", "drawCircle(10, 10, 5, false)", "drawCircle(10, 10, 0.1, true)",
        "drawRectangle(1, 2, 3, 4, true)", "drawRectangle(1, 2, 3, 4, false)", "drawLine(1, 2, 30, 4)",
        "drawRectangleExt(1, 2, 30, 4, true, 33, 5, 5)", "drawRectangleExt(1, 2, 30, 4, false, 33, 5, 5)",
        "drawImage(img, 3, 4)", "drawImageExt(img, 3, 4, 45, 1.5)", "drawImagePart(img, 3, 4, 1, 1, 5, 5)",
        "drawImagePartExt(img, 3, 4, 1, 1, 5, 5, 30, 2, 1, 4, 4)", "drawImage(bad, 3, 4)",
        "drawImagePart(bad, 3, 4, 0, 0, 1, 1)", "drawImage(nil, 3, 4)", "getDisplayWidth() getDisplayHeight()",
    };
    for (const char *call : calls) {
        glLoadIdentity();
        glTranslatef(3.25f, -1.5f, 0);
        glRotatef(17, 0, 0, 1);
        glPushMatrix();
        glScalef(1.5f, 0.75f, 1);
        run("setRenderColor(10, 20, 30, 40)");
        GLfloat before[16], after[16], colour[4];
        glGetFloatv(GL_MODELVIEW_MATRIX, before);
        while (glGetError() != GL_NO_ERROR) {
        }
        run(call);
        flushRenderer();
        glGetFloatv(GL_MODELVIEW_MATRIX, after);
        EXPECT_EQ(0, memcmp(before, after, sizeof before)) << call << ": model-view matrix changed";
        GLint depth = 0, texture = -1, mode = 0;
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
        EXPECT_EQ(2, depth) << call;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
        EXPECT_EQ(0, texture) << call;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(GL_MODELVIEW, mode) << call;
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D)) << call;
        EXPECT_TRUE(glIsEnabled(GL_BLEND)) << call;
        glGetFloatv(GL_CURRENT_COLOR, colour);
        EXPECT_EQ(10, (int)lround(colour[0] * 255)) << call;
        EXPECT_EQ(20, (int)lround(colour[1] * 255)) << call;
        EXPECT_EQ(30, (int)lround(colour[2] * 255)) << call;
        EXPECT_EQ(40, (int)lround(colour[3] * 255)) << call;
        EXPECT_EQ(GL_NO_ERROR, (int)glGetError()) << call;
        glPopMatrix();
    }
}

// The shapes and image quads add their offset on the CPU instead of translating the matrix, and
// filled circles are sent as triangles. Here every operation is drawn both ways, half
// transparent, under turned and scaled model-views, and must give the same pixels as the plain
// translate, GL_POLYGON or GL_QUADS, pop that it stands for.
TEST_F(DrawingTest, FastPathsMatchTranslatedDrawing)
{
    TestPicture picture(12, 10);
    const Image *img = &picture.image;
    auto literalQuad = [&](float x, float y, float w, float h, float u1, float t1, float u2, float t2) {
        glPushMatrix();
        glTranslatef(x, y, 0);
        glBindTexture(GL_TEXTURE_2D, img->texture);
        glBegin(GL_QUADS);
        glTexCoord2f(u1, t1); glVertex2f(0, 0);
        glTexCoord2f(u2, t1); glVertex2f(w, 0);
        glTexCoord2f(u2, t2); glVertex2f(w, h);
        glTexCoord2f(u1, t2); glVertex2f(0, h);
        glEnd();
        glBindTexture(GL_TEXTURE_2D, 0);
        glPopMatrix();
    };
    auto literalCircle = [&](int x, int y, float r, bool filled) {
        const int n = std::min(100, (int)(r * 3.1415927f));
        glPushMatrix();
        glTranslatef((float)x, (float)y, 0);
        glBegin(filled ? GL_POLYGON : GL_LINES);
        for (int i = 0; i < n; i++) {
            const float a0 = (float)i * 6.2831855f / (float)n, a1 = (float)(i + 1) * 6.2831855f / (float)n;
            glVertex2f((float)(cos(a0) * r), (float)(sin(a0) * r));
            if (!filled) glVertex2f((float)(cos(a1) * r), (float)(sin(a1) * r));
        }
        glEnd();
        glPopMatrix();
    };
    struct Case
    {
        const char *name;
        std::function<void()> fast, literal;
    };
    const float u2 = 7.0f / 12 * img->maxU, t1 = 2.0f / 10 * img->maxV, t2 = 9.0f / 10 * img->maxV;
    const Case cases[] = {
        {"filled circle", [] { renderCircle(11, 7, 9.5f, true); }, [&] { literalCircle(11, 7, 9.5f, true); }},
        {"small filled circle", [] { renderCircle(3, 4, 1.1f, true); }, [&] { literalCircle(3, 4, 1.1f, true); }},
        {"large filled circle", [] { renderCircle(-20, 50, 44, true); }, [&] { literalCircle(-20, 50, 44, true); }},
        {"filled circles side by side",
         [] {
             for (int i = 0; i < 6; i++) renderCircle(4 + 7 * i, 5 + 3 * i, 4 + 0.7f * i, true);
         },
         [&] {
             for (int i = 0; i < 6; i++) literalCircle(4 + 7 * i, 5 + 3 * i, 4 + 0.7f * i, true);
         }},
        {"outline circle", [] { renderCircle(-3, 12, 14, false); }, [&] { literalCircle(-3, 12, 14, false); }},
        {"image", [&] { renderImage(img, 3.5f, -2.25f); },
         [&] { literalQuad(3.5f, -2.25f, 12, 10, 0, 0, img->maxU, img->maxV); }},
        {"image part", [&] { renderImagePart(img, 6, 1.75f, 0, 2, 7, 9); },
         [&] { literalQuad(6, 1.75f, 7, 7, 0, t1, u2, t2); }},
        {"reversed part", [&] { renderImagePart(img, 6, 1.75f, 7, 9, 0, 2); },
         [&] { literalQuad(6, 1.75f, -7, -7, u2, t2, 0, t1); }},
    };
    const float transforms[][4] = {{0, 0, 0, 1}, {20, 15, 0, 1}, {30, 20, 33, 1.3f}, {31.7f, 25.1f, -71, 0.8f}};
    for (const Case &c : cases)
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
                glColor4ub(255, 255, 255, 255);
                glLoadIdentity();
                return grabWindow();
            };
            const std::vector<uint32_t> expected = drawWith(c.literal), got = drawWith(c.fast);
            EXPECT_GT(countNonBlack(expected), 0) << c.name;
            EXPECT_EQ("", firstDifference(expected, got)) << c.name << " under translate (" << t[0] << "," << t[1]
                                                           << ") rotate " << t[2] << " scale " << t[3];
        }
}

}  // namespace

namespace {

// One texel of colour `rgb`, uploaded into `texture` (a fresh name when 0).
static GLuint solidTexture(uint32_t rgb, GLuint texture = 0)
{
    const uint8_t texel[4] = {(uint8_t)(rgb >> 16), (uint8_t)(rgb >> 8), (uint8_t)rgb, 255};
    if (texture == 0) glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

static Image solidImage(GLuint texture)
{
    Image image;
    image.texture = texture;
    image.width = image.height = 8;
    image.maxU = image.maxV = 1;
    return image;
}

}  // namespace

// Image quads wait in an open batch; whatever draws next must still see texture 0, the matrix
// and the colour of its own call.
TEST_F(DrawingTest, DrawingAfterImagesSeesItsOwnState)
{
    Image red = solidImage(solidTexture(0xFF0000));
    setImageHandle("render-test-batch", &red);
    run("img = _G['render-test-batch']");
    run("setRenderColor(255, 255, 255, 255) drawImage(img, 0, 0) drawImage(img, 8, 0) "
        "setRenderColor(0, 0, 255, 255) drawRectangle(20, 20, 29, 29, true) "
        "setRenderColor(255, 255, 255, 255) drawImage(img, 40, 40) pushMatrix() translateRender(0, 10, 0) "
        "drawImage(img, 40, 40) popMatrix() drawCircle(4, 30, 3, true)");
    EXPECT_EQ(0xFF0000u, pixelAt(4, 4));
    EXPECT_EQ(0xFF0000u, pixelAt(12, 4));
    EXPECT_EQ(0x0000FFu, pixelAt(24, 24)) << "a rectangle after images is untextured, in its own colour";
    EXPECT_EQ(0xFF0000u, pixelAt(44, 44));
    EXPECT_EQ(0xFF0000u, pixelAt(44, 54)) << "the second quad moved by the translation";
    EXPECT_EQ(0xFFFFFFu, pixelAt(4, 30)) << "the circle is untextured";
    GLuint texture = red.texture;
    glDeleteTextures(1, &texture);
}

// The loader may delete a texture and hand its name out again while a batch of it is open; the
// open batch keeps the old texture object alive (it is bound), so a deletion must end the batch
// and the next quad of that name must bind the name afresh. Mesa never hands a deleted name out
// at once, so the test binds the deleted name itself: a fresh bind gives an empty texture (the
// quad comes out in the plain render colour), a kept batch would still show red.
TEST_F(DrawingTest, TextureDeletionEndsTheOpenBatch)
{
    Image red = solidImage(solidTexture(0xFF0000));
    beginFrame();
    renderImage(&red, 0, 0);  // the batch is open with the red texture bound
    std::thread loader([&] {
        makeLoaderContextCurrent();
        deleteTexture(red.texture);
        glFinish();
        releaseLoaderContext();
    });
    loader.join();
    renderImage(&red, 10, 0);
    endFrame();
    EXPECT_EQ(0xFF0000u, pixelAt(4, 4)) << "the queued quad keeps the texture it was drawn with";
    EXPECT_EQ(0xFFFFFFu, pixelAt(14, 4)) << "the name was bound afresh after the deletion";
    GLuint texture = red.texture;
    glDeleteTextures(1, &texture);
}
