// Font descriptors: the reader's checks on hand-built descriptors, and descriptors written by
// quillfen-font from a real TrueType face read back by the engine. No window needed.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "graphics/font.h"
#include "resources/data_file.h"
#include "test_support.h"

namespace {

struct CharRecord
{
    int32_t id;
    uint16_t x, y, width, height;
    int16_t xOffset, yOffset, xAdvance;
    int8_t page;
};

struct KerningRecord
{
    int32_t first, second;
    int16_t amount;
};

// A BMFont v3 descriptor with knobs for breaking it.
struct Descriptor
{
    std::string magic = std::string("BMF\x03", 4);
    uint32_t infoSize = 20;
    uint16_t lineHeight = 8, pageHeight = 16;
    std::vector<std::string> pageNames = {"page0.tga"};
    int pageCountOverride = -1;  // written instead of pageNames.size() when >= 0
    std::vector<CharRecord> chars = {{65, 0, 0, 4, 5, 1, 2, 5, 0}, {86, 4, 0, 3, 5, 0, 2, 4, 0}};
    int64_t charsSizeOverride = -1;
    bool withKerning = true;
    std::vector<KerningRecord> kerning = {{65, 86, -2}};
    int64_t kerningSizeOverride = -1;
    size_t truncateTo = std::string::npos;

    std::string bytes() const
    {
        std::string out = magic;
        auto u8 = [&](uint8_t v) { out.push_back(char(v)); };
        auto u16 = [&](uint16_t v) { u8(uint8_t(v)), u8(uint8_t(v >> 8)); };
        auto u32 = [&](uint32_t v) { u16(uint16_t(v)), u16(uint16_t(v >> 16)); };
        u8(1), u32(infoSize), out.append(std::min<uint32_t>(infoSize, 4096), 'i');  // content as declared, within reason
        u8(2), u32(15), u16(lineHeight), u16(6), u16(16), u16(pageHeight);
        u16(uint16_t(pageCountOverride >= 0 ? pageCountOverride : int(pageNames.size())));
        out.append(5, '\0');
        size_t namesSize = 0;
        for (const std::string &name : pageNames) namesSize += name.size() + 1;
        u8(3), u32(uint32_t(namesSize));
        for (const std::string &name : pageNames) out.append(name), u8(0);
        u8(4), u32(uint32_t(charsSizeOverride >= 0 ? charsSizeOverride : int64_t(chars.size()) * 20));
        for (const CharRecord &c : chars) {
            u32(uint32_t(c.id)), u16(c.x), u16(c.y), u16(c.width), u16(c.height);
            u16(uint16_t(c.xOffset)), u16(uint16_t(c.yOffset)), u16(uint16_t(c.xAdvance));
            u8(uint8_t(c.page)), u8(15);
        }
        if (withKerning) {
            u8(5), u32(uint32_t(kerningSizeOverride >= 0 ? kerningSizeOverride : int64_t(kerning.size()) * 10));
            for (const KerningRecord &k : kerning) u32(uint32_t(k.first)), u32(uint32_t(k.second)), u16(uint16_t(k.amount));
        }
        return out.substr(0, truncateTo);
    }
};

// Parses `bytes` from a loose file; true when the reader accepted it.
bool parseBytes(const std::string &bytes, Font *font, std::vector<std::string> *names)
{
    TempDir dir;
    writeFile(dir.file("font.fnt"), bytes);
    DataFile file;
    if (!file.openForReadFromDisk(dir.file("font.fnt"))) return false;
    bool parsed = parseFontDescriptor(file, font, names);
    file.close();
    return parsed;
}

TEST(FontDescriptor, ChecksEveryBlock)
{
    struct Case
    {
        const char *name;
        Descriptor descriptor;
        bool loads;
        size_t glyphs;  // when it loads
    };
    std::vector<Case> cases;
    cases.push_back({"well formed, with kerning", Descriptor(), true, 2});
    {
        Descriptor d;
        d.magic = std::string("BMF\x02", 4);
        cases.push_back({"version 2 magic", d, false, 0});
        d.magic = "XMF\x03";
        cases.push_back({"bad magic letters", d, false, 0});
    }
    {
        Descriptor d;
        d.infoSize = 4000;
        cases.push_back({"info block of 4000 bytes", d, true, 2});
        d.infoSize = 4001;
        cases.push_back({"info block of 4001 bytes", d, false, 0});
        d.infoSize = 0xFFFFFFF0u;
        cases.push_back({"info size negative as signed", d, false, 0});
    }
    {
        Descriptor d;
        d.charsSizeOverride = 30;
        cases.push_back({"chars size 30 (not a multiple of 20)", d, false, 0});
        d.charsSizeOverride = 10001 * 20;
        cases.push_back({"chars block of 10001 records", d, false, 0});
    }
    {
        Descriptor d;
        d.withKerning = false;
        cases.push_back({"no kerning block", d, true, 2});
        d.truncateTo = d.bytes().size() - 1;
        cases.push_back({"last char record cut short", d, false, 0});
    }
    {
        Descriptor d;
        d.charsSizeOverride = 3 * 20;  // claims three records, holds two
        d.withKerning = false;
        cases.push_back({"chars block runs past the end", d, false, 0});
    }
    {
        Descriptor d;
        d.kerningSizeOverride = 15;
        cases.push_back({"kerning size 15 (not a multiple of 10)", d, false, 0});
        d.kerningSizeOverride = 10001 * 10;
        cases.push_back({"kerning block of 10001 records", d, false, 0});
    }
    {
        Descriptor d;
        d.kerning = {{65, 66, 3}};  // B has no glyph: the pair creates one
        cases.push_back({"kerning pair creates a glyph", d, true, 3});
        d.chars.push_back({65, 9, 9, 1, 1, 0, 0, 7, 0});  // a later record of one id replaces it
        cases.push_back({"duplicate char id", d, true, 3});
    }
    {
        Descriptor d;
        cases.push_back({"empty file", d, false, 0});
        cases.back().descriptor.truncateTo = 0;
        d.truncateTo = 4 + 5 + d.infoSize + 6;
        cases.push_back({"cut inside the common block", d, false, 0});
        d.truncateTo = 4 + 5 + d.infoSize + 20 + 5 + 3;
        cases.push_back({"cut inside a page name", d, false, 0});
    }

    for (const Case &c : cases) {
        Font font;
        std::vector<std::string> names;
        const bool loaded = parseBytes(c.descriptor.bytes(), &font, &names);
        EXPECT_EQ(c.loads, loaded) << c.name << ": expected " << (c.loads ? "a font" : "no font") << ", got "
                                   << (loaded ? "a font" : "none");
        if (loaded && c.loads) {
            EXPECT_EQ(c.glyphs, font.glyphs.size()) << c.name << ": expected " << c.glyphs << " glyphs";
        }
    }
}

TEST(FontDescriptor, FieldsLandInTheirPlaces)
{
    Descriptor d;
    d.chars.push_back({-23, 1, 2, 3, 4, -5, -6, -7, -1});
    d.kerning.push_back({65, 66, 3});
    d.chars.push_back({65, 9, 8, 7, 6, 5, 4, 3, 1});  // replaces the first A
    Font font;
    std::vector<std::string> names;
    ASSERT_TRUE(parseBytes(d.bytes(), &font, &names));
    EXPECT_EQ(8, font.lineHeight);
    EXPECT_EQ(16, font.pageHeight);
    EXPECT_EQ(1, font.pageCount);
    EXPECT_EQ(std::vector<std::string>{"page0.tga"}, names);

    const Glyph &a = font.glyphs.at(65);
    EXPECT_EQ(9, a.x);
    EXPECT_EQ(8, a.y);
    EXPECT_EQ(7, a.width);
    EXPECT_EQ(6, a.height);
    EXPECT_EQ(5, a.xOffset);
    EXPECT_EQ(4, a.yOffset);
    EXPECT_EQ(3, a.xAdvance);
    EXPECT_EQ(1, a.page);
    const Glyph &signedOne = font.glyphs.at(-23);
    EXPECT_EQ(-5, signedOne.xOffset);
    EXPECT_EQ(-6, signedOne.yOffset);
    EXPECT_EQ(-7, signedOne.xAdvance);
    EXPECT_EQ(-1, signedOne.page);
    EXPECT_EQ(-2, font.glyphs.at(86).kerning.at(65));
    const Glyph &b = font.glyphs.at(66);  // made by the pair: all zero but its kerning
    EXPECT_EQ(0, b.width);
    EXPECT_EQ(0, b.xAdvance);
    EXPECT_EQ(3, b.kerning.at(65));
}

TEST(FontDescriptor, PageCountIsKeptInEightBits)
{
    Descriptor d;
    d.pageNames.clear();
    for (int i = 0; i < 257; ++i) d.pageNames.push_back("p" + std::to_string(i));
    Font font;
    std::vector<std::string> names;
    ASSERT_TRUE(parseBytes(d.bytes(), &font, &names));  // every name is read, so chars follow
    EXPECT_EQ(1, font.pageCount);
    EXPECT_EQ(std::vector<std::string>{"p0"}, names);
    EXPECT_EQ(2u, font.glyphs.size());
}

// The text pen's measure on a hand-made font: kerning, line feeds, unknown and high bytes.
TEST(FontDescriptor, TextWidthSumsAdvancesAndKerning)
{
    Font font;
    std::vector<std::string> names;
    ASSERT_TRUE(parseBytes(Descriptor().bytes(), &font, &names));
    struct Case
    {
        const char *text;
        int32_t width;
    };
    const Case cases[] = {
        {"", 0},         {"A", 5},         {"AV", 5 + 4 - 2}, {"VA", 9},
        {"A\nV", 5 + 4}, {"AxV", 5 + 4},   {"A\xE9V", 9},     {"AVAV", 5 + 2 + 5 + 2},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.width, textWidth(&font, c.text)) << "text \"" << c.text << "\"";
    Descriptor withLineFeedGlyph;  // a font with a glyph for 10 draws it: no line break, its advance
    withLineFeedGlyph.chars.push_back({10, 0, 0, 1, 1, 0, 0, 7, 0});
    Font other;
    ASSERT_TRUE(parseBytes(withLineFeedGlyph.bytes(), &other, &names));
    EXPECT_EQ(5 + 7 + 4, textWidth(&other, "A\nV"));
    EXPECT_EQ(0, textWidth(nullptr, "AV"));
    EXPECT_EQ(0, textWidth(&font, nullptr));
}

TEST(FontDescriptor, LoadFontReadsTheDirectoryAndName)
{
    TempDir dir;
    writeFile(dir.file("good.fnt"), Descriptor().bytes());
    Descriptor broken;
    broken.charsSizeOverride = 30;
    writeFile(dir.file("broken.fnt"), broken.bytes());
    std::string out = captureStderr([&] {
        Font *font = loadFont(dir.path() + "/", "good.fnt");
        ASSERT_NE(nullptr, font);
        EXPECT_EQ(2u, font->glyphs.size());
        ASSERT_EQ(1u, font->pages.size());  // its page file is missing: a failed page
        EXPECT_EQ(0u, font->pages[0].texture);
        EXPECT_EQ(1u, font->pages[0].width);
        freeFont(font);
        EXPECT_EQ(nullptr, loadFont(dir.path() + "/", "broken.fnt"));
        EXPECT_EQ(nullptr, loadFont(dir.path() + "/", "missing.fnt"));
        freeFont(nullptr);
    });
    EXPECT_EQ("", out) << "font loading prints nothing";
}

const std::string kTool = std::string(QF_BINARY_DIR) + "/quillfen-font";

// quillfen-font output read back by the engine's reader.
TEST(FontTool, DescriptorFromDejaVuReadsBack)
{
    TempDir dir;
    ProcessResult made = runProgram({kTool, "-s", "16", dir.file("sans.fnt")}, dir.path(), 60);
    ASSERT_EQ(0, made.exitCode) << made.err;
    Font font;
    std::vector<std::string> names;
    ASSERT_TRUE(parseBytes(readFile(dir.file("sans.fnt")), &font, &names));
    EXPECT_EQ(95u, font.glyphs.size()) << "printable ASCII 32..126";
    EXPECT_EQ(1, font.pageCount);
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ("sans_0.png", names[0]);
    struct stat info;
    EXPECT_EQ(0, stat(dir.file(names[0]).c_str(), &info)) << "page image next to the descriptor";
    EXPECT_EQ(0, font.glyphs.at(' ').width);
    EXPECT_GT(font.glyphs.at(' ').xAdvance, 0);
    EXPECT_GE(font.lineHeight, 16);
    EXPECT_LT(font.glyphs.at('V').kerning.at('A'), 0) << "DejaVu kerns A then V";
    EXPECT_LT(font.glyphs.at('o').kerning.at('T'), 0) << "DejaVu kerns T then o";
    for (const auto &entry : font.glyphs) {
        const Glyph &g = entry.second;
        EXPECT_LE(g.x + g.width, 128) << "glyph " << entry.first << " inside its page";
        EXPECT_LE(g.y + g.height, font.pageHeight) << "glyph " << entry.first << " inside its page";
        EXPECT_EQ(0, g.page);
    }
}

TEST(FontTool, OverflowingPagesSpillOntoMore)
{
    TempDir dir;
    ProcessResult made =
        runProgram({kTool, "-s", "32", "-P", "128x128", "--format", "tga", dir.file("big.fnt")}, dir.path(), 60);
    ASSERT_EQ(0, made.exitCode) << made.err;
    Font font;
    std::vector<std::string> names;
    ASSERT_TRUE(parseBytes(readFile(dir.file("big.fnt")), &font, &names));
    ASSERT_GT(font.pageCount, 1);
    EXPECT_EQ(128, font.pageHeight);
    std::vector<int> glyphsPerPage(font.pageCount);
    for (const auto &entry : font.glyphs) {
        ASSERT_LT(entry.second.page, font.pageCount);
        ++glyphsPerPage[entry.second.page];
    }
    for (int page = 0; page < font.pageCount; ++page) {
        EXPECT_GT(glyphsPerPage[page], 0) << "page " << page;
        EXPECT_EQ("big_" + std::to_string(page) + ".tga", names[page]);
        // 24-bit uncompressed true colour, bottom-left origin, 128x128
        std::string tga = readFile(dir.file(names[page]));
        ASSERT_EQ(18u + 128 * 128 * 3, tga.size());
        EXPECT_EQ(2, tga[2]);
        EXPECT_EQ(24, tga[16]);
    }
}

TEST(FontTool, BadInputFailsWithAMessage)
{
    TempDir dir;
    struct Case
    {
        std::vector<std::string> args;
        int exitCode;
        const char *message;
    };
    const Case cases[] = {
        {{}, 2, "no output file given"},
        {{"-s", "0", "x.fnt"}, 2, "pixel size from 1 to 512"},
        {{"-s", "abc", "x.fnt"}, 2, "pixel size from 1 to 512"},
        {{"--bogus", "x.fnt"}, 2, "unknown option '--bogus'"},
        {{"-c", "90-80", "x.fnt"}, 2, "bad character list item '90-80'"},
        {{"-P", "100", "x.fnt"}, 2, "WIDTHxHEIGHT"},
        {{"--format", "gif", "x.fnt"}, 2, "unknown page format 'gif'"},
        {{"-f", "/nonexistent/face.ttf", "x.fnt"}, 1, "cannot open font '/nonexistent/face.ttf'"},
        {{"-f", "/etc/hostname", "x.fnt"}, 1, "cannot open font '/etc/hostname'"},
        {{"-s", "100", "-P", "64x64", "x.fnt"}, 1, "does not fit a 64x64 page"},
        {{"-c", "0x10FFF0", "x.fnt"}, 1, "none of the requested characters"},
        {{"/nonexistent/dir/x.fnt"}, 1, "cannot write '/nonexistent/dir/x_0.png'"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv = {kTool};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ProcessResult result = runProgram(argv, dir.path(), 60);
        std::string joined;
        for (const std::string &a : c.args) joined += a + " ";
        EXPECT_EQ(c.exitCode, result.exitCode) << "args: " << joined;
        EXPECT_NE(std::string::npos, result.err.find(c.message))
            << "args: " << joined << "expected \"" << c.message << "\" in: " << result.err;
    }
    ProcessResult help = runProgram({kTool, "--help"}, dir.path(), 60);
    EXPECT_EQ(0, help.exitCode);
    EXPECT_NE(std::string::npos, help.out.find("Usage: quillfen-font"));
}

}  // namespace
