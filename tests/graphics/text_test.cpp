// Text on screen: fonts loaded as resources on the loader thread (hand-made pages with known
// pixels, and a DejaVu font made by quillfen-font), drawn by the main thread and read back.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "core/script.h"
#include "graphics/display.h"
#include "graphics/font.h"
#include "graphics/image.h"
#include "graphics/renderer.h"
#include "resources/archive.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"
#include "test_support.h"

namespace {

// One 16 x 16 page with glyph rectangles of known brightness, rows counted from the top.
struct Rect
{
    int x, y, width, height;
};
struct TestGlyph
{
    int32_t id;
    Rect rect;
    int16_t xOffset, yOffset, xAdvance;
    int8_t page;
    uint8_t grey;  // brightness of the glyph's pixels on its page
};
const TestGlyph kGlyphs[] = {
    {'A', {0, 0, 3, 5}, 1, 2, 5, 0, 255},  {'B', {4, 0, 3, 5}, 1, 2, 4, 0, 128},
    {'C', {8, 0, 4, 5}, 1, 2, 5, 0, 255},  {'V', {0, 6, 2, 5}, 1, 2, 5, 0, 255},
    {'M', {0, 0, 2, 3}, 0, 1, 3, 1, 255},  // on page 1, whose image is missing
    {'X', {0, 0, 2, 2}, 0, 0, 3, 7, 255},  // page 7 does not exist: advances, draws nothing
};
const int kLineHeight = 8;

// 24-bit uncompressed TGA, bottom-left origin.
std::string tgaPage(int size, const std::vector<uint8_t> &greyTopFirst)
{
    std::string out(18, '\0');
    out[2] = 2;
    out[12] = char(size), out[14] = char(size), out[16] = 24;
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x) out.append(3, char(greyTopFirst[size_t(y) * size + x]));
    return out;
}

std::string handMadeDescriptor()
{
    std::string out("BMF\x03", 4);
    auto u8 = [&](uint8_t v) { out.push_back(char(v)); };
    auto u16 = [&](uint16_t v) { u8(uint8_t(v)), u8(uint8_t(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(uint16_t(v)), u16(uint16_t(v >> 16)); };
    u8(1), u32(0);
    u8(2), u32(15), u16(kLineHeight), u16(6), u16(16), u16(16), u16(2), out.append(5, '\0');
    u8(3), u32(20), out.append("page0.tga"), u8(0), out.append("page1.tga"), u8(0);
    u8(4), u32(sizeof kGlyphs / sizeof kGlyphs[0] * 20);
    for (const TestGlyph &g : kGlyphs) {
        u32(uint32_t(g.id)), u16(uint16_t(g.rect.x)), u16(uint16_t(g.rect.y)), u16(uint16_t(g.rect.width));
        u16(uint16_t(g.rect.height)), u16(uint16_t(g.xOffset)), u16(uint16_t(g.yOffset)), u16(uint16_t(g.xAdvance));
        u8(uint8_t(g.page)), u8(15);
    }
    u8(5), u32(10), u32('A'), u32('V'), u16(uint16_t(-2));  // V after A moves 2 left
    return out;
}

// The frame's red channel, 64 x 64, bottom row first.
std::vector<uint8_t> redChannel()
{
    std::vector<uint8_t> rgba = readPixels(0, 0, 64, 64), red(64 * 64);
    for (size_t i = 0; i < red.size(); ++i) red[i] = rgba[i * 4];
    return red;
}

struct Expected
{
    std::vector<uint8_t> red = std::vector<uint8_t>(64 * 64, 0);
    // Fills the pixels x0 <= x < x1, y0 <= y < y1 (window coordinates, y up).
    void fill(int x0, int y0, int x1, int y1, uint8_t value)
    {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) red[size_t(y) * 64 + x] = value;
    }
};

// Compares the whole frame; reports the first few differing pixels.
void expectFrame(const Expected &expected, const std::string &what)
{
    std::vector<uint8_t> got = redChannel();
    int shown = 0, differing = 0;
    for (int i = 0; i < 64 * 64; ++i) {
        if (std::abs(int(got[i]) - int(expected.red[i])) <= 1) continue;
        ++differing;
        if (shown++ < 6)
            ADD_FAILURE() << what << ": pixel (" << i % 64 << ", " << i / 64 << ") expected red "
                          << int(expected.red[i]) << ", got " << int(got[i]);
    }
    EXPECT_EQ(0, differing) << what << ": pixels differing from the expected frame";
}

class Text : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        initImageLibrary();
        ASSERT_TRUE(startResourceManager());
        ASSERT_TRUE(registerFontResource());
        std::filesystem::create_directories(folder.file("Fonts"));
        setResourceDirectory(RESOURCE_FONT, folder.file("Fonts/"));

        std::vector<uint8_t> grey(16 * 16, 0);
        for (const TestGlyph &g : kGlyphs)
            if (g.page == 0)
                for (int y = g.rect.y; y < g.rect.y + g.rect.height; ++y)
                    for (int x = g.rect.x; x < g.rect.x + g.rect.width; ++x) grey[size_t(y) * 16 + x] = g.grey;
        writeFile(fonts() + "/page0.tga", tgaPage(16, grey));
        writeFile(fonts() + "/test.fnt", handMadeDescriptor());

        L = luaL_newstate();
        luaL_openlibs(L);
        registerTextFunctions(L);
    }
    void TearDown() override
    {
        if (L) lua_close(L);
        if (!registryRunning()) return;
        shutdownResourceManager();
        setResourceDirectory(RESOURCE_FONT, "");
    }
    std::string fonts() { return folder.file("Fonts"); }
    ResourceRecord *loaded(const std::string &name)
    {
        ResourceRecord *record = findOrCreateResource({name, resourceDirectory(RESOURCE_FONT), RESOURCE_FONT});
        acquireResource(record, 1);
        waitForLoaderThread();
        return record;
    }
    // Runs `chunk` with `font` as the global `font`; false (and a failure) on a script error.
    bool run(const std::string &chunk, ResourceRecord *font = nullptr)
    {
        if (font) lua_pushlightuserdata(L, font);
        else lua_pushnil(L);
        lua_setglobal(L, "font");
        if (luaL_loadbuffer(L, chunk.data(), chunk.size(), "test") != 0 || lua_pcall(L, 0, 0, 0) != 0) {
            ADD_FAILURE() << chunk << ": " << lua_tostring(L, -1);
            lua_pop(L, 1);
            return false;
        }
        return true;
    }
    // Clears to black, runs the drawing chunk in white.
    void drawFrame(const std::string &chunk, ResourceRecord *font)
    {
        glClearColor(0, 0, 0, 1);
        beginFrame();
        glColor4ub(255, 255, 255, 255);
        run(chunk, font);
        endFrame();
    }
    TempDir folder;
    lua_State *L = nullptr;
};

TEST_F(Text, HandMadeFontLoadsOnTheLoaderThread)
{
    ResourceRecord *record = loaded("test.fnt");
    ASSERT_TRUE(isResourceReady(record));
    const Font *font = (const Font *)lockResource(record);
    unlockResource(record);
    ASSERT_NE(nullptr, font);
    EXPECT_EQ(2, font->pageCount);
    ASSERT_EQ(2u, font->pages.size());
    EXPECT_NE(0u, font->pages[0].texture) << "page 0 uploaded";
    EXPECT_EQ(16u, font->pages[0].width);
    EXPECT_EQ(0u, font->pages[1].texture) << "page 1 is missing";
    EXPECT_EQ(1u, font->pages[1].width);

    writeFile(fonts() + "/broken.fnt", handMadeDescriptor().substr(0, 60));
    EXPECT_FALSE(isResourceReady(loaded("broken.fnt"))) << "a broken descriptor never becomes ready";
}

// With an archive current, the descriptor and its pages come from the archive only.
TEST_F(Text, DescriptorAndPagesComeFromTheArchive)
{
    const std::string archivePath = folder.file("fonts.qfa");
    const std::string descriptor = fonts() + "/test.fnt", page = fonts() + "/page0.tga";
    ASSERT_TRUE(buildArchive({descriptor, page}, archivePath, ARCHIVE_KEY));
    ASSERT_EQ(0, remove(descriptor.c_str()));
    ASSERT_EQ(0, remove(page.c_str()));
    ProjectArchive *archive = openArchive(archivePath, ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    setCurrentArchive(archive);
    ResourceRecord *record = loaded("test.fnt");
    setCurrentArchive(nullptr);
    closeArchive(archive);
    ASSERT_TRUE(isResourceReady(record));
    const Font *font = (const Font *)lockResource(record);
    unlockResource(record);
    EXPECT_NE(0u, font->pages[0].texture) << "page 0 read from the archive";
    drawFrame("drawText(font, 'A', 10, 40, 0, 1)", record);
    Expected expected;
    expected.fill(11, 33, 14, 38, 255);
    expectFrame(expected, "A from the archived page");
}

// Every case draws at (10, 40) unless it says otherwise; A and C are white, B is grey 128.
// A glyph with yOffset 2 and height 5 covers the rows 33..37 under a pen line at 40.
TEST_F(Text, PenRulesOnScreen)
{
    ResourceRecord *record = loaded("test.fnt");
    ASSERT_TRUE(isResourceReady(record));
    struct Case
    {
        const char *what;
        const char *chunk;
        std::vector<std::array<int, 5>> rects;  // x0, y0, x1, y1, red
    };
    const Case cases[] = {
        {"two lines: A B, line feed, C one line lower", "drawText(font, 'AB\\nC', 10, 40, 0, 1)",
         {{11, 33, 14, 38, 255}, {16, 33, 19, 38, 128}, {11, 25, 15, 30, 255}}},
        {"kerned pair: V after A moves 2 left, and so does what follows", "drawText(font, 'AVA', 10, 40, 0, 1)",
         {{11, 33, 14, 38, 255}, {14, 33, 16, 38, 255}, {19, 33, 22, 38, 255}}},
        {"no kerning the other way round", "drawText(font, 'VA', 10, 40, 0, 1)",
         {{11, 33, 13, 38, 255}, {16, 33, 19, 38, 255}}},
        {"glyph on a missing page is a solid rectangle; a bad page draws nothing but advances",
         "drawText(font, 'MXA', 10, 40, 0, 1)", {{10, 36, 12, 39, 255}, {17, 33, 20, 38, 255}}},
        {"unknown and high bytes are skipped without advancing", "drawText(font, 'A\\233zA', 10, 40, 0, 1)",
         {{11, 33, 14, 38, 255}, {16, 33, 19, 38, 255}}},
        {"rotation 90.7 turns by 90 degrees about the pen", "drawText(font, 'A', 30, 20, 90.7, 1)",
         {{32, 21, 37, 24, 255}}},
        {"scale 2.5 draws at 2 (a solid glyph: no filtering at its edges)", "drawText(font, 'M', 10, 40, 0, 2.5)",
         {{10, 32, 14, 38, 255}}},
        {"scale 0.9 draws nothing", "drawText(font, 'ABC', 10, 40, 0, 0.9)", {}},
        {"x and y are read as integers", "drawText(font, 'A', 10.9, 40.9, 0, 1)", {{11, 33, 14, 38, 255}}},
        {"a number is text", "drawText(font, 12, 10, 40, 0, 1)", {}},
        {"text that is not a string draws nothing", "drawText(font, {}, 10, 40, 0, 1)", {}},
    };
    for (const Case &c : cases) {
        drawFrame(c.chunk, record);
        Expected expected;
        for (const auto &r : c.rects) expected.fill(r[0], r[1], r[2], r[3], uint8_t(r[4]));
        expectFrame(expected, c.what);
    }
}

TEST_F(Text, TextIsTintedAndLeavesTheGlStateAsItWas)
{
    ResourceRecord *record = loaded("test.fnt");
    const Font *font = (const Font *)lockResource(record);
    unlockResource(record);
    ASSERT_NE(nullptr, font);

    glClearColor(0, 0, 0, 1);
    beginFrame();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glTranslatef(1, 2, 0);
    glColor4ub(200, 100, 50, 255);
    GLfloat matrixBefore[16], matrixAfter[16], colour[4];
    GLint depthBefore = 0, depthAfter = 0, bound = -1;
    glGetFloatv(GL_MODELVIEW_MATRIX, matrixBefore);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthBefore);
    renderText(font, 9, 38, "AMBX\nC", 33, 1);
    glGetFloatv(GL_MODELVIEW_MATRIX, matrixAfter);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthAfter);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(0, memcmp(matrixBefore, matrixAfter, sizeof matrixBefore)) << "model-view matrix unchanged";
    EXPECT_EQ(depthBefore, depthAfter) << "matrix stack depth unchanged";
    EXPECT_EQ(0, bound) << "texture 0 bound after drawing";
    EXPECT_NEAR(200 / 255.0, colour[0], 1e-6);
    EXPECT_NEAR(100 / 255.0, colour[1], 1e-6);
    EXPECT_NEAR(50 / 255.0, colour[2], 1e-6);
    glPopMatrix();

    glLoadIdentity();
    renderText(font, 10, 40, "A", 0, 1);
    endFrame();
    EXPECT_EQ(0xC86432u, pixelAt(12, 35)) << "white glyph in the render colour";
}

TEST_F(Text, ScriptFunctionsCheckTheirArguments)
{
    ResourceRecord *record = loaded("test.fnt");
    ResourceRecord *notLoaded = findOrCreateResource({"later.fnt", resourceDirectory(RESOURCE_FONT), RESOURCE_FONT});
    struct Case
    {
        const char *chunk;
        const char *error;  // nullptr: runs clean
    };
    const Case cases[] = {
        {"drawText(font, 'A', 1, 2, 0)", "6 args needed: font, text, x, y, rotation, scale"},
        {"drawText(font, 'A', 1, 2, 0, 1, 7)", "6 args needed: font, text, x, y, rotation, scale"},
        {"drawText()", "6 args needed: font, text, x, y, rotation, scale"},
        {"getTextWidth(font)", "2 arg needed: font, text"},
        {"getTextWidth(font, 'A', 'B')", "2 arg needed: font, text"},
        {"drawText(font, 'A', 1, 2, 0, 1)", nullptr},
        {"drawText(nil, 'A', 1, 2, 0, 1)", nullptr},
    };
    for (const Case &c : cases) {
        lua_pushlightuserdata(L, record);
        lua_setglobal(L, "font");
        ASSERT_EQ(0, luaL_loadstring(L, c.chunk));
        const int status = lua_pcall(L, 0, 0, 0);
        if (c.error) {
            ASSERT_NE(0, status) << c.chunk << ": expected the error \"" << c.error << "\", ran clean";
            EXPECT_STREQ(c.error, lua_tostring(L, -1)) << c.chunk;
            lua_pop(L, 1);
        } else {
            EXPECT_EQ(0, status) << c.chunk << ": " << (status ? lua_tostring(L, -1) : "");
            if (status) lua_pop(L, 1);
        }
    }

    struct Width
    {
        ResourceRecord *font;
        const char *expression;
        lua_Integer width;
    };
    const Width widths[] = {
        {record, "getTextWidth(font, 'AB\\nC')", 5 + 4 + 5},  // every line adds up
        {record, "getTextWidth(font, 'AVA')", 5 + 3 + 5},
        {record, "getTextWidth(font, 'A\\233X')", 5 + 3},
        {record, "getTextWidth(font, {})", 0},
        {notLoaded, "getTextWidth(font, 'ABC')", 0},
        {nullptr, "getTextWidth(font, 'ABC')", 0},
        {nullptr, "getTextWidth(42, 'ABC')", 0},
    };
    for (const Width &w : widths) {
        if (w.font) lua_pushlightuserdata(L, w.font);
        else lua_pushnil(L);
        lua_setglobal(L, "font");
        const std::string chunk = std::string("return ") + w.expression;
        ASSERT_EQ(0, luaL_loadstring(L, chunk.c_str()));
        ASSERT_EQ(0, lua_pcall(L, 0, 1, 0)) << lua_tostring(L, -1);
        EXPECT_TRUE(lua_isnumber(L, -1)) << w.expression;
        EXPECT_EQ(w.width, lua_tointeger(L, -1)) << w.expression;
        lua_pop(L, 1);
    }

    drawFrame("drawText(font, 'ABC', 10, 40, 0, 1)", notLoaded);
    expectFrame(Expected(), "a font that is not loaded draws nothing");
}

// A real face through quillfen-font: the kerned pair is drawn where getTextWidth says the pen is.
TEST_F(Text, ToolFontWidthMatchesTheDrawing)
{
    ProcessResult made = runProgram({std::string(QF_BINARY_DIR) + "/quillfen-font", "-s", "12", "-q",
                                     fonts() + "/sans.fnt"}, fonts(), 60);
    ASSERT_EQ(0, made.exitCode) << made.err;
    ResourceRecord *record = loaded("sans.fnt");
    ASSERT_TRUE(isResourceReady(record));
    const Font *font = (const Font *)lockResource(record);
    unlockResource(record);
    ASSERT_NE(0u, font->pages[0].texture);
    ASSERT_EQ(1u, font->glyphs.at('o').kerning.count('T'));
    ASSERT_LT(font->glyphs.at('o').kerning.at('T'), 0) << "the pair is kerned";
    ASSERT_EQ(0u, font->glyphs.at('|').kerning.count('o')) << "the marker is not kerned after o";

    lua_pushlightuserdata(L, record);
    lua_setglobal(L, "font");
    ASSERT_EQ(0, luaL_loadstring(L, "return getTextWidth(font, 'AVTo')"));
    ASSERT_EQ(0, lua_pcall(L, 0, 1, 0));
    const int width = int(lua_tointeger(L, -1));
    lua_pop(L, 1);
    auto kern = [&](char second, char first) {
        const auto &pairs = font->glyphs.at(second).kerning;
        return pairs.count(first) ? int(pairs.at(first)) : 0;
    };
    auto advance = [&](char c) { return int(font->glyphs.at(c).xAdvance); };
    EXPECT_EQ(advance('A') + advance('V') + kern('V', 'A') + advance('T') + kern('T', 'V') + advance('o') + kern('o', 'T'),
              width);

    drawFrame("drawText(font, 'AVTo|', 2, 40, 0, 1)", record);
    std::vector<uint8_t> together = redChannel();
    drawFrame("drawText(font, 'AVTo', 2, 40, 0, 1); drawText(font, '|', 2 + " + std::to_string(width) + ", 40, 0, 1)",
              record);
    EXPECT_EQ(together, redChannel()) << "the marker after the text lands at x + getTextWidth (" << width << ")";
    int lit = 0;
    for (uint8_t v : together) lit += v > 0;
    EXPECT_GT(lit, 40) << "something was drawn";

    drawFrame("drawText(font, 'To', 2, 40, 0, 1)", record);
    std::vector<uint8_t> kerned = redChannel();
    drawFrame("drawText(font, 'T', 2, 40, 0, 1); drawText(font, 'o', " + std::to_string(2 + advance('T') + kern('o', 'T')) +
                  ", 40, 0, 1)", record);
    EXPECT_EQ(kerned, redChannel()) << "o drawn " << -kern('o', 'T') << " pixels closer after T";
    drawFrame("drawText(font, 'T', 2, 40, 0, 1); drawText(font, 'o', " + std::to_string(2 + advance('T')) +
                  ", 40, 0, 1)", record);
    EXPECT_NE(kerned, redChannel()) << "and not where it would be without kerning";
}

// The pen rules written out glyph by glyph with renderImagePart, as plainly as they read.
void referenceText(const Font *font, float x, float y, const char *text, float rotation, float scale)
{
    glPushMatrix();
    glTranslatef(x, y, 0);
    glRotatef(rotation, 0, 0, 1);
    glScalef(scale, scale, scale);
    int32_t penX = 0, penY = 0, previous = 0;
    for (const char *p = text; *p; ++p) {
        const int32_t c = (signed char)*p;
        auto found = font->glyphs.find(c);
        if (found != font->glyphs.end()) {
            const Glyph &g = found->second;
            auto pair = g.kerning.find(previous);
            const int32_t kern = pair == g.kerning.end() ? 0 : pair->second;
            if (g.page >= 0 && g.page < (int)font->pages.size())
                renderImagePart(&font->pages[g.page], float(penX + g.xOffset + kern), float(penY - g.yOffset), g.x,
                                font->pageHeight - g.y, g.x + g.width, font->pageHeight - g.y - g.height);
            penX += g.xAdvance + kern;
        } else if (c == 10) {
            penX = 0;
            penY -= font->lineHeight;
        }
        previous = c;
    }
    flushRenderer();
    glPopMatrix();
}

// renderText must draw every pixel as the plain glyph-by-glyph pen does.
TEST_F(Text, TextMatchesTheGlyphByGlyphPen)
{
    ProcessResult made = runProgram({std::string(QF_BINARY_DIR) + "/quillfen-font", "-s", "12", "-q", "-P", "64x64",
                                     fonts() + "/small.fnt"}, fonts(), 60);
    ASSERT_EQ(0, made.exitCode) << made.err;
    ResourceRecord *records[] = {loaded("test.fnt"), loaded("small.fnt")};
    struct Case
    {
        int font;  // 0: hand-made (two pages, one missing), 1: DejaVu 12 px over several pages
        const char *text;
        float x, y, rotation, scale;
    };
    const Case cases[] = {
        {0, "AB\nC MXA", 10, 40, 0, 1},   {0, "AVAMMA\xe9" "B", 5, 50, 33, 1}, {0, "ABC\nVA", 30, 30, 90, 2},
        {0, "AMB", 40, 40, 180, -1},      {1, "Top Wave\nAV 42.", 1, 50, 0, 1}, {1, "Quillfen {x}", 20, 10, 17, 1},
        {1, "To\nby", 3, 60, 0, 2},       {1, "gjpqy|", 60, 2, 270, 1},
    };
    for (const Case &c : cases) {
        const Font *font = (const Font *)lockResource(records[c.font]);
        unlockResource(records[c.font]);
        ASSERT_NE(nullptr, font);
        if (c.font == 1) {
            ASSERT_GT(font->pageCount, 1) << "the small pages make the text change pages";
        }
        std::vector<uint8_t> frames[2];
        for (int pass = 0; pass < 2; ++pass) {
            glClearColor(0, 0, 0, 1);
            beginFrame();
            glColor4ub(255, 220, 180, 255);
            if (pass == 0) renderText(font, c.x, c.y, c.text, c.rotation, c.scale);
            else referenceText(font, c.x, c.y, c.text, c.rotation, c.scale);
            endFrame();
            frames[pass] = readPixels(0, 0, 64, 64);
        }
        int differing = 0, lit = 0;
        for (size_t i = 0; i < frames[0].size(); i += 4) {
            differing += memcmp(&frames[0][i], &frames[1][i], 4) != 0;
            lit += frames[1][i] != 0;
        }
        EXPECT_EQ(0, differing) << "\"" << c.text << "\" at rotation " << c.rotation << ", scale " << c.scale
                                << ": expected identical frames, got " << differing << " differing pixels";
        EXPECT_GT(lit, 10) << "\"" << c.text << "\" drew something";
    }
}

}  // namespace
