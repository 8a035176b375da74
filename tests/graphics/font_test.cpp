// Fonts: descriptor checks, and text from fonts loaded on the loader thread, read back from the window.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cstring>
#include <functional>

#include "core/script.h"
#include "graphics/display.h"
#include "graphics/font.h"
#include "resources/data_file.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"
#include "test_support.h"

namespace {

// A BMFont v3 descriptor with knobs for breaking it; line height 8, M on page 1 (no image), X on page 7.
struct Descriptor
{
    std::string magic = std::string("BMF\x03", 4);
    uint32_t infoSize = 20;
    std::vector<std::string> pageNames = {"page0.tga", "page1.tga"};
    // id, x, y (from the page's top), width, height, xOffset, yOffset, xAdvance, page
    std::vector<std::array<int, 9>> chars = {{'A', 0, 0, 3, 5, 1, 2, 5, 0}, {'B', 4, 0, 3, 5, 1, 2, 4, 0},
                                             {'C', 8, 0, 4, 5, 1, 2, 5, 0}, {'V', 0, 6, 2, 5, 1, 2, 5, 0},
                                             {'M', 0, 0, 2, 3, 0, 1, 3, 1}, {'X', 0, 0, 2, 2, 0, 0, 3, 7}};
    std::vector<std::array<int, 3>> kerning = {{'A', 'V', -2}};  // V after A moves 2 left
    int64_t charsSize = -1, kerningSize = -1;  // written instead of the true sizes when >= 0; kerningSize -2: no block
    size_t truncateTo = std::string::npos;

    std::string bytes() const
    {
        std::string out = magic;
        auto u8 = [&](uint32_t v) { out.push_back(char(v)); };
        auto u16 = [&](uint32_t v) { u8(v), u8(v >> 8); };
        auto u32 = [&](uint32_t v) { u16(v), u16(v >> 16); };
        u8(1), u32(infoSize), out.append(std::min<uint32_t>(infoSize, 4096), 'i');
        u8(2), u32(15), u16(8), u16(6), u16(16), u16(16), u16(uint32_t(pageNames.size())), out.append(5, '\0');
        uint32_t namesSize = 0;
        for (const std::string &name : pageNames) namesSize += uint32_t(name.size() + 1);
        u8(3), u32(namesSize);
        for (const std::string &name : pageNames) out.append(name), u8(0);
        u8(4), u32(uint32_t(charsSize >= 0 ? charsSize : int64_t(chars.size()) * 20));
        for (const auto &c : chars) {
            u32(uint32_t(c[0]));
            for (int field = 1; field < 8; field++) u16(uint32_t(c[field]));
            u8(uint32_t(c[8])), u8(15);
        }
        if (kerningSize != -2) u8(5), u32(uint32_t(kerningSize >= 0 ? kerningSize : int64_t(kerning.size()) * 10));
        for (size_t i = 0; kerningSize != -2 && i < kerning.size(); i++)
            u32(kerning[i][0]), u32(kerning[i][1]), u16(kerning[i][2]);
        return out.substr(0, truncateTo);
    }
    static std::string page()  // page 0: a 16 x 16 Targa, bottom row first, white but for B (grey)
    {
        std::string tga(18, '\0');
        tga[2] = 2, tga[12] = 16, tga[14] = 16, tga[16] = 24;
        for (int y = 15; y >= 0; y--)
            for (int x = 0; x < 16; x++) tga.append(3, char(x >= 4 && x < 7 && y < 5 ? 128 : 255));
        return tga;
    }
};

// Each block's checks; glyphs, page count (8 bits) and names, width of "A\nV" (code 10 may be a glyph).
TEST(FontDescriptor, ChecksEveryBlock)
{
    const struct { const char *name; std::function<void(Descriptor &)> change; const char *reads; } cases[] = {
        {"well formed", [](Descriptor &) {}, "6 glyphs, 2/2 pages, width 10"},
        {"version 2 magic", [](Descriptor &d) { d.magic = std::string("BMF\x02", 4); }, "refused"},
        {"bad magic letters", [](Descriptor &d) { d.magic = "XMF\x03"; }, "refused"},
        {"info block of 4000 bytes", [](Descriptor &d) { d.infoSize = 4000; }, "6 glyphs, 2/2 pages, width 10"},
        {"info block of 4001 bytes", [](Descriptor &d) { d.infoSize = 4001; }, "refused"},
        {"info size negative as signed", [](Descriptor &d) { d.infoSize = 0xFFFFFFF0u; }, "refused"},
        {"chars size 30", [](Descriptor &d) { d.charsSize = 30; }, "refused"},
        {"chars block of 10001 records", [](Descriptor &d) { d.charsSize = 10001 * 20; }, "refused"},
        {"chars block past the end", [](Descriptor &d) { d.charsSize = 7 * 20, d.kerningSize = -2; }, "refused"},
        {"no kerning block", [](Descriptor &d) { d.kerningSize = -2; }, "6 glyphs, 2/2 pages, width 10"},
        {"last char cut short", [](Descriptor &d) { d.kerningSize = -2, d.truncateTo = d.bytes().size() - 1; },
         "refused"},
        {"kerning size 15", [](Descriptor &d) { d.kerningSize = 15; }, "refused"},
        {"kerning block of 10001 records", [](Descriptor &d) { d.kerningSize = 10001 * 10; }, "refused"},
        {"a kerning pair makes a glyph", [](Descriptor &d) { d.kerning.push_back({'A', 'Q', 3}); },
         "7 glyphs, 2/2 pages, width 10"},
        {"a later record replaces", [](Descriptor &d) { d.chars.push_back({'A', 9, 9, 1, 1, 0, 0, 7, 0}); },
         "6 glyphs, 2/2 pages, width 12"},
        {"glyph for code 10", [](Descriptor &d) { d.chars.push_back({10, 0, 0, 1, 1, 0, 0, 7, 0}); },
         "7 glyphs, 2/2 pages, width 17"},
        {"257 page names", [](Descriptor &d) { d.pageNames.resize(257, "p"); }, "6 glyphs, 1/1 pages, width 10"},
        {"empty file", [](Descriptor &d) { d.truncateTo = 0; }, "refused"},
        {"cut inside the common block", [](Descriptor &d) { d.truncateTo = 4 + 5 + 20 + 6; }, "refused"},
        {"cut inside a page name", [](Descriptor &d) { d.truncateTo = 4 + 5 + 20 + 20 + 5 + 3; }, "refused"},
    };
    TempDir dir;
    for (const auto &c : cases) {
        Descriptor d;
        c.change(d);
        writeFile(dir.file("f.fnt"), d.bytes());  // read through a loose file
        DataFile file;
        Font font;
        std::vector<std::string> names;
        char reads[80] = "refused";
        if (file.openForReadFromDisk(dir.file("f.fnt")) && parseFontDescriptor(file, &font, &names))
            snprintf(reads, sizeof reads, "%zu glyphs, %d/%zu pages, width %d", font.glyphs.size(), font.pageCount,
                     names.size(), textWidth(&font, "A\nV"));
        file.close();
        EXPECT_STREQ(c.reads, reads) << c.name;
    }
}

// The resource loader with test.fnt (the Descriptor) and its page; drawText and getTextWidth in Lua.
class Text : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        initImageLibrary();
        ASSERT_TRUE(startResourceManager() && registerFontResource());
        setResourceDirectory(RESOURCE_FONT, dir.path() + "/");
        writeFile(dir.file("page0.tga"), Descriptor::page());
        writeFile(dir.file("test.fnt"), Descriptor().bytes());
        L = luaL_newstate();
        registerTextFunctions(L);
    }
    void TearDown() override
    {
        if (L) lua_close(L);
        if (registryRunning()) shutdownResourceManager();
        setResourceDirectory(RESOURCE_FONT, "");
    }
    ResourceRecord *loaded(const std::string &name)
    {
        ResourceRecord *record = findOrCreateResource({name, resourceDirectory(RESOURCE_FONT), RESOURCE_FONT});
        acquireResource(record, 1);
        waitForLoaderThread();
        return record;
    }
    int run(const std::string &chunk, ResourceRecord *font)  // `font` as the global font; the first result
    {
        font ? lua_pushlightuserdata(L, font) : lua_pushnil(L);
        lua_setglobal(L, "font");
        if (luaL_dostring(L, chunk.c_str()) != 0) ADD_FAILURE() << chunk << ": " << lua_tostring(L, -1);
        const int result = int(lua_tointeger(L, 1));
        lua_settop(L, 0);
        return result;
    }
    // The red channel after `chunk` drew on black; the caller's matrix, colour and texture 0 stay.
    std::vector<uint8_t> drawn(const std::string &chunk, ResourceRecord *font)
    {
        glClearColor(0, 0, 0, 1);
        beginFrame();
        glColor4ub(255, 51, 102, 255);
        glPushMatrix();
        glScalef(1, 1, 2);  // a matrix of its own that does not move the pixels
        GLfloat before[16], after[16], colour[4];
        glGetFloatv(GL_MODELVIEW_MATRIX, before);
        run(chunk, font);
        GLint depth = 0, bound = -1;
        glGetFloatv(GL_MODELVIEW_MATRIX, after);
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        glGetFloatv(GL_CURRENT_COLOR, colour);
        EXPECT_TRUE(memcmp(before, after, sizeof before) == 0 && depth == 2 && bound == 0 && colour[1] == 0.2f &&
                    colour[2] == 0.4f)
            << chunk << ": the GL state changed (stack depth " << depth << ", texture " << bound << ")";
        glPopMatrix();
        glColor4ub(255, 255, 255, 255);
        endFrame();
        std::vector<uint8_t> rgba = readPixels(0, 0, 64, 64), red;
        for (size_t i = 0; i < rgba.size(); i += 4) red.push_back(rgba[i]);
        return red;
    }
    TempDir dir;
    lua_State *L = nullptr;
};

// Glyph pixels where the pen rules put them (at y 40, A's rows are 33..37); widths as drawn.
TEST_F(Text, PenRulesOnScreen)
{
    ResourceRecord *font = loaded("test.fnt");
    ResourceRecord *later = findOrCreateResource({"later.fnt", resourceDirectory(RESOURCE_FONT), RESOURCE_FONT});
    writeFile(dir.file("broken.fnt"), Descriptor().bytes().substr(0, 60));
    EXPECT_FALSE(isResourceReady(loaded("broken.fnt"))) << "a broken descriptor never becomes ready";
    struct Case { const char *what, *chunk; std::vector<std::array<int, 5>> rects; ResourceRecord *font; };
    const Case cases[] = {  // rects: x0, y0, x1, y1, red
        {"two lines: A B, line feed, C one line lower", "drawText(font, 'AB\\nC', 10, 40, 0, 1)",
         {{11, 33, 14, 38, 255}, {16, 33, 19, 38, 128}, {11, 25, 15, 30, 255}}, font},
        {"V after A moves 2 left, and so does what follows", "drawText(font, 'AVA', 10, 40, 0, 1)",
         {{11, 33, 14, 38, 255}, {14, 33, 16, 38, 255}, {19, 33, 22, 38, 255}}, font},
        {"no kerning the other way round", "drawText(font, 'VA', 10, 40, 0, 1)",
         {{11, 33, 13, 38, 255}, {16, 33, 19, 38, 255}}, font},
        {"glyph on a missing page: a solid rectangle; on a bad page: nothing, but it advances",
         "drawText(font, 'MXA', 10, 40, 0, 1)", {{10, 36, 12, 39, 255}, {17, 33, 20, 38, 255}}, font},
        {"unknown and high bytes are skipped", "drawText(font, 'A\\233zA', 10, 40, 0, 1)",
         {{11, 33, 14, 38, 255}, {16, 33, 19, 38, 255}}, font},
        {"rotation 90.7 turns by 90", "drawText(font, 'A', 30, 20, 90.7, 1)", {{32, 21, 37, 24, 255}}, font},
        {"scale 2.5 draws at 2", "drawText(font, 'M', 10, 40, 0, 2.5)", {{10, 32, 14, 38, 255}}, font},
        {"scale 0.9 draws nothing", "drawText(font, 'ABC', 10, 40, 0, 0.9)", {}, font},
        {"x and y are read as integers", "drawText(font, 'A', 10.9, 40.9, 0, 1)", {{11, 33, 14, 38, 255}}, font},
        {"a font that is not loaded draws nothing", "drawText(font, 'ABC', 10, 40, 0, 1)", {}, later},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> expected(64 * 64, 0);
        for (const auto &r : c.rects)
            for (int y = r[1]; y < r[3]; y++)
                for (int x = r[0]; x < r[2]; x++) expected[size_t(y * 64 + x)] = uint8_t(r[4]);
        const std::vector<uint8_t> got = drawn(c.chunk, c.font);
        for (size_t i = 0, shown = 0; i < got.size(); i++)
            if (std::abs(got[i] - expected[i]) > 1 && shown++ < 3)
                ADD_FAILURE() << c.what << ": pixel (" << i % 64 << ", " << i / 64 << ") expected red "
                              << int(expected[i]) << ", got " << int(got[i]);
    }
    const struct { const char *text; ResourceRecord *font; int width; } widths[] = {
        {"'AB\\nC'", font, 5 + 4 + 5}, {"'AVA'", font, 5 + 3 + 5}, {"'A\\233X'", font, 5 + 3}, {"{}", font, 0},
        {"'ABC'", later, 0}, {"'ABC'", nullptr, 0}};
    for (auto w : widths)
        EXPECT_EQ(w.width, run(std::string("return getTextWidth(font, ") + w.text + ")", w.font)) << w.text;
}

// quillfen-font's pages and glyphs load; a marker at x + getTextWidth lands where the pen stopped.
TEST_F(Text, ToolFontLoadsAndMeasuresWhatItDraws)
{
    const ProcessResult made = runProgram(
        {QF_BINARY_DIR "/quillfen-font", "-s", "12", "-q", "-P", "64x64", dir.file("sans.fnt")}, dir.path(), 60);
    ASSERT_EQ(0, made.exitCode) << made.err;
    ResourceRecord *record = loaded("sans.fnt");
    ASSERT_TRUE(isResourceReady(record));
    const Font *font = (const Font *)lockResource(record);
    unlockResource(record);
    EXPECT_EQ(95u, font->glyphs.size()) << "printable ASCII 32..126";
    EXPECT_GT(font->pageCount, 1);
    for (const Image &page : font->pages) EXPECT_NE(0u, page.texture) << "a page was not uploaded";
    for (const auto &entry : font->glyphs) {
        const Glyph &g = entry.second;
        EXPECT_TRUE(g.x + g.width <= 64 && g.y + g.height <= 64 && g.page < font->pageCount) << "glyph " << entry.first;
    }
    EXPECT_TRUE(font->glyphs.at(' ').width == 0 && font->glyphs.at(' ').xAdvance > 0) << "space: advance, no pixels";
    const std::map<int32_t, int16_t> &afterT = font->glyphs.at('o').kerning;
    ASSERT_TRUE(afterT.count('T') && afterT.at('T') < 0) << "DejaVu kerns T then o";
    ASSERT_EQ(0u, font->glyphs.at('|').kerning.count('o')) << "the marker is not kerned after o";
    const int width = run("return getTextWidth(font, 'AVTo')", record);
    const std::vector<uint8_t> together = drawn("drawText(font, 'AVTo|', 2, 40, 0, 1)", record);
    const std::string marker = "drawText(font, '|', " + std::to_string(2 + width) + ", 40, 0, 1)";
    EXPECT_EQ(together, drawn("drawText(font, 'AVTo', 2, 40, 0, 1) " + marker, record))
        << "the marker after the text lands at x + getTextWidth (" << width << ")";
    EXPECT_GT(std::count_if(together.begin(), together.end(), [](uint8_t v) { return v > 0; }), 40);
}

}  // namespace
