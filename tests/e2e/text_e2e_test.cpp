// Text end to end: a font made by quillfen-font, compiled into a project by quillfen-pack, listed
// by the first room and played by the real engine from its archive and from loose files. The
// room measures and draws text and calls the text functions wrongly; the transcript must match
// what the engine's own font reader says about the same descriptor.
#include <gtest/gtest.h>

// Xlib (pulled in by the project helpers) has a typedef named Font, as the engine's font record
// is named: rename Xlib's for this file.
#define Font XlibFont
#include "e2e_project.h"
#undef Font

#include "graphics/font.h"
#include "resources/data_file.h"

namespace {

std::string fontToolPath()
{
    const std::string engine = QF_ENGINE_PATH;
    return engine.substr(0, engine.rfind('/') + 1) + "quillfen-font";
}

TEST(TextEndToEnd, ArchivedFontMeasuresAndDrawsAsItsLooseFiles)
{
    REQUIRE_X_DISPLAY();
    SourceProject project("e2e", "start");
    makeFolders(project.source() + "/fonts");
    const ProcessResult made =
        runProgram({fontToolPath(), "-q", "-s", "16", project.source() + "/fonts/sans.fnt"}, "/tmp", 60);
    ASSERT_EQ(0, made.exitCode) << made.err;
    project.room("start", "[fonts]\nsans.fnt\n",
                 "io.stdout:setvbuf('no')\n"
                 "function Init() font = getFontHandle('sans.fnt') end\n"
                 "function Render() drawText(font, 'AVATAR To', 10, 100, 0, 1); drawn = true end\n"
                 "function Step()\n"
                 "  if not drawn then return end\n"
                 "  print('width', getTextWidth(font, 'AVATAR To'), getTextWidth(font, 'To\\nTo'),"
                 " getTextWidth(getFontHandle('other.fnt'), 'To'))\n"
                 "  print(pcall(drawText, font, 'x', 1, 2, 3))\n"
                 "  print(pcall(getTextWidth, font))\n"
                 "  os.exit(0)\n"
                 "end\n");
    const std::string loose = project.path("loose"), packed = project.path("packed");
    const ProcessResult builtLoose = project.compile(false, loose);
    const ProcessResult builtPacked = project.compile(true, packed);
    ASSERT_EQ(0, builtLoose.exitCode) << builtLoose.err;
    ASSERT_EQ(0, builtPacked.exitCode) << builtPacked.err;
    ASSERT_EQ(0, system(("rm -r '" + packed + "/Projects'").c_str()));

    // What the engine's reader makes of the same descriptor.
    DataFile file;
    ASSERT_TRUE(file.openForReadFromDisk(project.source() + "/fonts/sans.fnt"));
    Font font;
    std::vector<std::string> pages;
    ASSERT_TRUE(parseFontDescriptor(file, &font, &pages));
    file.close();
    const int32_t kerned = font.glyphs.at('o').kerning.at('T');
    ASSERT_LT(kerned, 0) << "T then o is kerned at 16 pixels";
    const std::string expected =
        "width\t" + std::to_string(textWidth(&font, "AVATAR To")) + "\t" +
        std::to_string(2 * (font.glyphs.at('T').xAdvance + font.glyphs.at('o').xAdvance + kerned)) + "\t0\n" +
        "false\t6 args needed: font, text, x, y, rotation, scale\n"
        "false\t2 arg needed: font, text\n";

    const ProcessResult fromLoose = runGame(loose);
    const ProcessResult fromArchive = runGame(packed);
    EXPECT_EQ(0, fromLoose.exitCode) << fromLoose.err;
    EXPECT_EQ(0, fromArchive.exitCode) << fromArchive.err;
    EXPECT_EQ(expected, fromLoose.out);
    EXPECT_EQ(expected, fromArchive.out);
    EXPECT_EQ(noArchiveLine("e2e"), fromLoose.err);
    EXPECT_EQ("", fromArchive.err);
}

}  // namespace
