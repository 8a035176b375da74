// quillfen-pack compile and unpack: the bytes of the project and room files it writes, the
// round trip source -> game -> source (canonical sources come back byte for byte, from loose
// files and from an archive), game -> source -> game for the bundled sample, and the messages
// and exit codes for bad sources. No display needed: only the tool runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "e2e_project.h"

namespace {

namespace fs = std::filesystem;

std::string le32(int32_t value)
{
    const uint32_t v = (uint32_t)value;
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string le16(int16_t value) { return std::string{char((uint16_t)value), char((uint16_t)value >> 8)}; }
std::string text(const std::string &s) { return le32((int32_t)s.size()) + s; }

// Every file under `folder` by relative path, with its bytes.
std::map<std::string, std::string> filesUnder(const std::string &folder)
{
    std::map<std::string, std::string> files;
    if (!fs::is_directory(folder)) return files;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files[entry.path().lexically_relative(folder).generic_string()] = readFile(entry.path());
    }
    return files;
}

std::string names(const std::map<std::string, std::string> &files)
{
    std::string list;
    for (const auto &file : files) list += file.first + "\n";
    return list;
}

// Compares two trees file by file, naming the first file that differs.
void expectSameFiles(const std::map<std::string, std::string> &expected, const std::map<std::string, std::string> &actual)
{
    ASSERT_EQ(names(expected), names(actual));
    for (const auto &file : expected) {
        EXPECT_EQ(file.second, actual.at(file.first)) << "file " << file.first << " differs";
    }
}

TEST(ProjectCompiler, WritesTheProjectFileRoomFilesAndSettingsByteForByte)
{
    SourceProject project("demo", "title");
    project.projectLines = "width = 800\nheight = 600\n";
    project.saved = "integer score\nboolean-array flags\n";
    project.room("title", "# the title screen\n[objects]\nHero\n\n[images]\nbg.png\n", "x=1");
    project.object("Hero", "function Hero:Init() end\n");
    project.file("images/bg.png", "not really a png");
    const ProcessResult built = project.compile();
    ASSERT_EQ(0, built.exitCode) << built.err;
    EXPECT_EQ("", built.err);

    const std::string p = project.game() + "/Projects/demo/";
    EXPECT_EQ(le32(800) + le32(600) + text("title") + le32(2) + "\x01" + text("score") + "\x08" + text("flags"),
              readFile(p + "demo.dat"));
    // sounds, music, fonts, images, objects, scripts, models, animations; then the script
    EXPECT_EQ(le16(0) + le16(0) + le16(0) + le16(1) + text("bg.png") + le16(1) + text("Hero") + le16(0) + le16(0) +
                  le16(0) + "x=1",
              readFile(p + "Rooms/title"));
    EXPECT_EQ("function Hero:Init() end\n", readFile(p + "Objects/Hero"));
    EXPECT_EQ("not really a png", readFile(p + "Images/bg.png"));
    EXPECT_EQ("[project]\ncodename = demo\n", readFile(project.game() + "/Quillfen.ini"));
    EXPECT_EQ(5u, filesUnder(project.game()).size()) << names(filesUnder(project.game()));
}

// A source in the canonical form unpack writes, using every list, every save type, quoted
// names, sub-folders and bytes that are not text.
void writeCanonicalSource(SourceProject &project)
{
    project.descriptionText =
        "# Quillfen project (format: docs/projects.md)\n[project]\ncodename = trip\nwidth = 800\nheight = 600\n"
        "first-room = hall\n\n[rooms]\ncellar\nhall\nsub/attic\n\n[saved]\ninteger score\nfloat speed\n"
        "string \"name \"\nboolean ready\ninteger-array scores\nfloat-array times\nstring-array names\n"
        "boolean-array flags\n";
    project.file("rooms/hall.room", "[sounds]\nstep.wav\n\n[music]\ntheme.ogg\n\n[fonts]\nbig.fnt\n\n"
                                    "[images]\nhero.png\ntiles/grass.png\n\"#not a comment\"\n\n[objects]\nHero\nHero\n\n"
                                    "[scripts]\nhelpers\n\n[models]\nknight.mdl\n\n[animations]\nwalk.anm\n");
    static const char hall[] = "function Init()\r\n  print('hall \xE9')\r\nend\r\n\0-- after a zero byte\n";
    project.file("rooms/hall.lua", std::string(hall, sizeof hall - 1));
    project.file("rooms/cellar.room", "");
    project.file("rooms/cellar.lua", "");
    project.file("rooms/sub/attic.room", "[objects]\nHero\n");
    project.file("rooms/sub/attic.lua", "-- the attic\n");
    project.file("objects/Hero.lua", "function Hero:Init() end\n");
    const std::string binary("\x89PNG\r\n\x1A\n\0\0\0\xFF", 12);
    for (const char *asset : {"audio/step.wav", "audio/theme.ogg", "fonts/big.fnt", "fonts/big_0.png", "images/hero.png",
                              "images/tiles/grass.png", "images/#not a comment", "models/knight.mdl", "anims/walk.anm",
                              "scraps/knight.scr"}) {
        project.file(asset, binary + asset);
    }
    project.file("Quillfen.ini", "[project]\ncodename = trip\n[display]\ncaption = \"Trip\"\n");
}

TEST(ProjectCompiler, ACanonicalSourceComesBackByteForByteFromLooseFilesAndFromAnArchive)
{
    SourceProject project("trip", "hall");
    writeCanonicalSource(project);
    const ProcessResult built = project.compile(true);
    ASSERT_EQ(0, built.exitCode) << built.err;
    const std::map<std::string, std::string> original = filesUnder(project.source());

    const std::string fromLoose = project.path("from-loose");
    ASSERT_EQ(0, system(("mv '" + project.game() + "/trip.qfa' '" + project.path("trip.qfa") + "'").c_str()));
    const ProcessResult unpackedLoose = runPackTool({"unpack", project.game(), fromLoose});
    ASSERT_EQ(0, unpackedLoose.exitCode) << unpackedLoose.err;
    EXPECT_NE(std::string::npos, unpackedLoose.out.find("from loose files")) << unpackedLoose.out;
    expectSameFiles(original, filesUnder(fromLoose));

    // The archive alone (named on the command line; no Quillfen.ini comes with it).
    const std::string fromArchive = project.path("from-archive");
    const ProcessResult unpackedArchive = runPackTool({"unpack", project.path("trip.qfa"), fromArchive});
    ASSERT_EQ(0, unpackedArchive.exitCode) << unpackedArchive.err;
    std::map<std::string, std::string> withoutSettings = original;
    withoutSettings.erase("Quillfen.ini");
    expectSameFiles(withoutSettings, filesUnder(fromArchive));
}

TEST(ProjectCompiler, TheSampleGameSurvivesGameToSourceToGame)
{
    const std::string sample = std::string(QF_SOURCE_DIR) + "/samples/demo";
    TempDir work;
    const ProcessResult first = runPackTool({"compile", sample, work.file("game")});
    ASSERT_EQ(0, first.exitCode) << first.err;
    EXPECT_EQ("", first.err) << "the sample compiles without warnings";
    const ProcessResult unpacked = runPackTool({"unpack", work.file("game"), work.file("source")});
    ASSERT_EQ(0, unpacked.exitCode) << unpacked.err;
    EXPECT_EQ("", unpacked.err);
    const ProcessResult second = runPackTool({"compile", work.file("source"), work.file("again")});
    ASSERT_EQ(0, second.exitCode) << second.err;
    expectSameFiles(filesUnder(work.file("game")), filesUnder(work.file("again")));
    // Scripts, assets and settings come back unchanged; only the descriptions lose their comments.
    std::map<std::string, std::string> original = filesUnder(sample), unpackedFiles = filesUnder(work.file("source"));
    for (const auto &file : unpackedFiles) {
        const std::string &name = file.first;
        if (name == "project.qf" || (name.size() > 5 && name.compare(name.size() - 5, 5, ".room") == 0)) continue;
        EXPECT_EQ(original[name], file.second) << name << " differs from the sample's";
    }
}

struct BadSource
{
    const char *what;
    std::string file;      // written into the source (after the valid project)
    std::string bytes;     // its new content; "-" deletes it
    std::string expected;  // on stderr
};

TEST(ProjectCompiler, BadSourcesNameTheFileAndLineAndWriteNothing)
{
    const std::string longName(1025, 'x');
    const std::vector<BadSource> cases = {
        {"unknown list name", "rooms/a.room", "[objects]\nHero\n[imgs]\nx.png\n",
         "/rooms/a.room:3: unknown list '[imgs]' (lists: sounds, music, fonts, images, objects, scripts, models, animations)"},
        {"a name before any list", "rooms/a.room", "# c\nHero\n", "/rooms/a.room:2: a name before any list"},
        {"bad number", "project.qf", "[project]\ncodename = e2e\nwidth = 64O\nfirst-room = a\n[rooms]\na\n",
         "/project.qf:3: bad number '64O' for width: expected a whole number of pixels"},
        {"number out of range", "project.qf", "[project]\ncodename = e2e\nheight = 99999999999\nfirst-room = a\n[rooms]\na\n",
         "/project.qf:3: bad number '99999999999' for height"},
        {"unknown save type", "project.qf", "[project]\ncodename = e2e\nfirst-room = a\n[rooms]\na\n[saved]\ninteger-list xs\n",
         "/project.qf:7: unknown save type 'integer-list' (types: integer, float, string, boolean, integer-array, "
         "float-array, string-array, boolean-array)"},
        {"the refused automatic type", "project.qf", "[project]\ncodename = e2e\nfirst-room = a\n[rooms]\na\n[saved]\nauto x\n",
         "/project.qf:7: unknown save type 'auto'"},
        {"duplicate room", "project.qf", "[project]\ncodename = e2e\nfirst-room = a\n[rooms]\na\n\na\n",
         "/project.qf:7: duplicate room 'a' (first on line 5)"},
        {"missing room script", "rooms/a.lua", "-", "/rooms/a.lua: missing room script for room 'a'"},
        {"missing room description", "rooms/a.room", "-", "/rooms/a.room: missing room description for room 'a'"},
        {"first room not among the rooms", "project.qf", "[project]\ncodename = e2e\nfirst-room = z\n[rooms]\na\n",
         "/project.qf:3: first room 'z' is not among the rooms listed under [rooms]"},
        {"no first room", "project.qf", "[project]\ncodename = e2e\n[rooms]\na\n", "/project.qf: no first room"},
        {"no codename", "project.qf", "[project]\nfirst-room = a\n[rooms]\na\n", "/project.qf: no codename"},
        {"codename with a slash", "project.qf", "[project]\ncodename = a/b\nfirst-room = a\n[rooms]\na\n",
         "/project.qf:2: codename 'a/b' names files and folders"},
        {"unknown key", "project.qf", "[project]\ncodename = e2e\nfirst-room = a\ncaption = Hi\n[rooms]\na\n",
         "/project.qf:4: unknown key 'caption'"},
        {"key set twice", "project.qf", "[project]\ncodename = e2e\nfirst-room = a\nwidth = 1\nwidth = 2\n[rooms]\na\n",
         "/project.qf:5: 'width' is set twice (first on line 4)"},
        {"unknown section", "project.qf", "[project]\ncodename = e2e\nfirst-room = a\n[room]\na\n",
         "/project.qf:4: unknown section '[room]'"},
        {"a name over 1024 bytes", "rooms/a.room", "[images]\n" + longName + "\n",
         "/rooms/a.room:2: the name is 1025 bytes long; the engine stores at most 1024"},
        {"an unclosed quote", "rooms/a.room", "[images]\n\"abc\n", "/rooms/a.room:2: the quoted name has no closing '\"'"},
        {"a bad escape", "rooms/a.room", "[images]\n\"a\\qb\"\n", "/rooms/a.room:2: unknown escape '\\q'"},
        {"settings naming another codename", "Quillfen.ini", "[project]\ncodename = other\n",
         "/Quillfen.ini: sets codename 'other' but project.qf says 'e2e'"},
    };
    for (const BadSource &bad : cases) {
        SCOPED_TRACE(bad.what);
        SourceProject project;
        project.room("a", "[objects]\nHero\n", "function Init() end\n");
        project.object("Hero", "function Hero:Init() end\n");
        project.writeDescription();
        if (bad.bytes == "-") {
            ASSERT_EQ(0, unlink((project.source() + "/" + bad.file).c_str()));
        } else {
            project.file(bad.file, bad.bytes);
        }
        const ProcessResult built = runPackTool({"compile", project.source(), project.game()});
        EXPECT_EQ(1, built.exitCode);
        EXPECT_NE(std::string::npos, built.err.find("ERROR: " + project.source() + bad.expected))
            << "expected: ERROR: <source>" << bad.expected << "\ngot: " << built.err;
        EXPECT_NE(std::string::npos, built.err.find("nothing was written")) << built.err;
        EXPECT_FALSE(fs::exists(project.game())) << "the output folder was created";
    }
}

TEST(ProjectCompiler, WarningsDoNotStopTheBuild)
{
    SourceProject project;
    project.room("a", "[objects]\nGhost\nnot-a-name\n[images]\nmissing.png\n", "function Init( end\n");
    project.file("stuff/readme.txt", "hello");
    const ProcessResult built = project.compile();
    EXPECT_EQ(0, built.exitCode) << built.err;
    for (const std::string expected :
         {"/rooms/a.room:2: no objects/Ghost.lua: the class will have no methods",
          "/rooms/a.room:3: class name 'not-a-name' is not a Lua identifier",
          "/rooms/a.room:5: 'missing.png' is not in images/: it will not load",
          "/rooms/a.lua:1: <name> or '...' expected near 'end'", "/stuff: not a folder of a project source"}) {
        EXPECT_NE(std::string::npos, built.err.find(expected)) << "expected: " << expected << "\ngot: " << built.err;
    }
    EXPECT_NE(std::string::npos, built.out.find("6 warnings")) << built.out;
    EXPECT_TRUE(fs::exists(project.game() + "/Projects/e2e/Rooms/a"));
}

TEST(ProjectCompiler, ALooseBuildRemovesAnOldArchiveThatWouldHideIt)
{
    SourceProject project;
    project.room("a", "", "");
    ASSERT_EQ(0, project.compile(true).exitCode);
    ASSERT_TRUE(fs::exists(project.game() + "/e2e.qfa"));
    const ProcessResult loose = project.compile(false);
    EXPECT_EQ(0, loose.exitCode) << loose.err;
    EXPECT_FALSE(fs::exists(project.game() + "/e2e.qfa"));
    EXPECT_NE(std::string::npos, loose.out.find("Removed the old archive")) << loose.out;
}

// Built files made by hand, as an older tool or a damaged copy might leave them.
TEST(ProjectUnpacker, ReportsDamagedAndUnknownFilesAndKeepsWhatTheEngineWouldRead)
{
    TempDir game;
    const std::string p = game.file("Projects/d/");
    makeFolders(p + "Rooms");
    writeFile(game.file("Quillfen.ini"), "[project]\ncodename = d\n");
    // Type 0 stops the engine's project load and type 9 is skipped by it: both are left out.
    writeFile(p + "d.dat", le32(640) + le32(480) + text("r") + le32(3) + "\x01" + text("a") + std::string(1, '\0') +
                               text("auto") + "\x09" + text("odd"));
    // Room r: one sound, then a music list of three names cut short after the second.
    writeFile(p + "Rooms/r", le16(1) + text("x.wav") + le16(3) + text("m1.ogg") + text("m2.ogg"));
    writeFile(p + "notes.txt", "not the engine's");

    const ProcessResult unpacked = runPackTool({"unpack", game.path(), game.file("source")});
    EXPECT_EQ(0, unpacked.exitCode) << unpacked.err;
    for (const std::string expected :
         {"WARNING: Saved global 'auto' has type code 0, which stops the engine's project load; left out.\n",
          "WARNING: Saved global 'odd' has type code 9, which the engine skips; left out.\n",
          "WARNING: Room 'r' ends inside its name lists; the names read before the end are kept.\n",
          "notes.txt' is not a file the engine reads by type; left out.\n"}) {
        EXPECT_NE(std::string::npos, unpacked.err.find(expected)) << "expected: " << expected << "got: " << unpacked.err;
    }
    EXPECT_EQ("# Quillfen project (format: docs/projects.md)\n[project]\ncodename = d\nwidth = 640\nheight = 480\n"
              "first-room = r\n\n[rooms]\nr\n\n[saved]\ninteger a\n",
              readFile(game.file("source/project.qf")));
    EXPECT_EQ("[sounds]\nx.wav\n\n[music]\nm1.ogg\nm2.ogg\n", readFile(game.file("source/rooms/r.room")));
    EXPECT_EQ("", readFile(game.file("source/rooms/r.lua")));

    // A project file that ends before its saved globals cannot be unpacked.
    writeFile(p + "d.dat", le32(640) + le32(480) + text("r"));
    const ProcessResult damaged = runPackTool({"unpack", game.path(), game.file("again")});
    EXPECT_EQ(1, damaged.exitCode);
    EXPECT_NE(std::string::npos, damaged.err.find("is damaged: it ends before the count of saved globals"))
        << damaged.err;
    unlink((p + "d.dat").c_str());
    const ProcessResult missing = runPackTool({"unpack", game.path(), game.file("again")});
    EXPECT_EQ(1, missing.exitCode);
    EXPECT_NE(std::string::npos, missing.err.find("Projects/d/d.dat' is missing")) << missing.err;
}

TEST(ProjectCompiler, UsageMistakesAndUnsafeTargets)
{
    SourceProject project;
    project.room("a", "", "");
    project.writeDescription();
    EXPECT_EQ(2, runPackTool({"compile", project.source()}).exitCode);
    EXPECT_EQ(2, runPackTool({"compile", "--zip", project.source(), project.game()}).exitCode);
    EXPECT_EQ(2, runPackTool({"unpack", project.game()}).exitCode);
    EXPECT_EQ(1, runPackTool({"compile", project.source(), project.source()}).exitCode);
    EXPECT_EQ(1, runPackTool({"compile", project.path("nothing"), project.game()}).exitCode);

    ASSERT_EQ(0, project.compile().exitCode);
    const ProcessResult intoSource = runPackTool({"unpack", project.game(), project.source()});
    EXPECT_EQ(1, intoSource.exitCode);
    EXPECT_NE(std::string::npos, intoSource.err.find("is not empty")) << intoSource.err;
    const ProcessResult noCodename = runPackTool({"unpack", project.path("nothing"), project.path("out")});
    EXPECT_EQ(1, noCodename.exitCode);
}

}  // namespace
