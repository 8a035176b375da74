// quillfen-pack compile and unpack: source -> game -> source gives back the same files, and bad
// sources get messages naming the file and line. Only the tool runs: no display needed.
#include <tuple>

#include "e2e_project.h"

namespace {

// Catches a file that does not come back byte for byte through compile and unpack (from the loose
// files, or all but the settings from the archive alone): a canonical source, as unpack writes it,
// with every list, every save type, quoted names, sub-folders and bytes that are not text.
TEST(ProjectCompiler, ACanonicalSourceComesBackByteForByteFromLooseFilesAndFromAnArchive)
{
    SourceProject project;
    project.file("project.qf",
                 "# Quillfen project (format: docs/projects.md)\n[project]\ncodename = trip\nwidth = 800\nheight = 600\n"
                 "first-room = hall\n\n[rooms]\ncellar\nhall\nsub/attic\n\n[saved]\ninteger score\nfloat speed\n"
                 "string \"name \"\nboolean ready\ninteger-array scores\nfloat-array times\nstring-array names\n"
                 "boolean-array flags\n");
    project.file("rooms/hall.room", "[sounds]\nstep.wav\n\n[music]\ntheme.ogg\n\n[fonts]\nbig.fnt\n\n"
                                    "[images]\nhero.png\ntiles/grass.png\n\"#not a comment\"\n\n[objects]\nHero\nHero\n\n"
                                    "[scripts]\nhelpers\n\n[models]\nknight.mdl\n\n[animations]\nwalk.anm\n");
    static const char hall[] = "function Init()\r\n  print('hall \xE9')\r\nend\r\n\0-- after a zero byte\n";
    writeTree(project.source(), {{"rooms/hall.lua", std::string(hall, sizeof hall - 1)}, {"rooms/cellar.room", ""},
                                 {"rooms/cellar.lua", ""}, {"rooms/sub/attic.room", "[objects]\nHero\n"},
                                 {"rooms/sub/attic.lua", "-- the attic\n"}, {"objects/Hero.lua", "function Hero:Init() end\n"},
                                 {"Quillfen.ini", "[project]\ncodename = trip\n[display]\ncaption = \"Trip\"\n"}});
    for (const char *asset : {"audio/step.wav", "audio/theme.ogg", "fonts/big.fnt", "fonts/big_0.png", "images/hero.png",
                              "images/tiles/grass.png", "images/#not a comment", "models/knight.mdl", "anims/walk.anm",
                              "scraps/knight.scr"})
        project.file(asset, std::string("\x89PNG\r\n\x1A\n\0\0\0\xFF", 12) + asset);
    const ProcessResult built = runPackTool({"compile", "--archive", project.source(), project.game()});
    ASSERT_EQ(0, built.exitCode) << built.err;
    ASSERT_EQ(0, system(("mv '" + project.game() + "/trip.qfa' '" + project.path("trip.qfa") + "'").c_str()));

    const ProcessResult fromLoose = runPackTool({"unpack", project.game(), project.path("loose")});
    ASSERT_EQ(0, fromLoose.exitCode) << fromLoose.err;
    EXPECT_EQ(0, system(("diff -r '" + project.source() + "' '" + project.path("loose") + "'").c_str()));
    const ProcessResult fromArchive = runPackTool({"unpack", project.path("trip.qfa"), project.path("packed")});
    ASSERT_EQ(0, fromArchive.exitCode) << fromArchive.err;
    EXPECT_EQ(0, system(("diff -r -x Quillfen.ini '" + project.source() + "' '" + project.path("packed") + "'").c_str()));
    EXPECT_FALSE(std::filesystem::exists(project.path("packed/Quillfen.ini"))) << "an archive has no settings";
}

// Each row changes one file of a valid source. Catches an error (exit 1) that does not name the file
// and line or writes anything, and a warning (exit 0) that does not name them or stops the build.
TEST(ProjectCompiler, BadSourcesNameTheFileAndLine)
{
    // A file of the source, the bytes written over it ("-" deletes it), the exit code, and the line
    // on stderr after "ERROR: " or "WARNING: " and the source folder.
    const std::string P = "[project]\ncodename = e2e\n";
    const std::vector<std::tuple<std::string, std::string, int, std::string>> cases = {
        {"rooms/a.room", "[objects]\nHero\n[imgs]\nx.png\n", 1,
         "/rooms/a.room:3: unknown list '[imgs]' (lists: sounds, music, fonts, images, objects, scripts, models, animations)"},
        {"rooms/a.room", "# c\nHero\n", 1, "/rooms/a.room:2: a name before any list"},
        {"rooms/a.room", "[images]\n" + std::string(1025, 'x') + "\n", 1,
         "/rooms/a.room:2: the name is 1025 bytes long; the engine stores at most 1024"},
        {"rooms/a.room", "[images]\n\"abc\n", 1, "/rooms/a.room:2: the quoted name has no closing '\"'"},
        {"rooms/a.room", "[images]\n\"a\\qb\"\n", 1, "/rooms/a.room:2: unknown escape '\\q'"},
        {"rooms/a.lua", "-", 1, "/rooms/a.lua: missing room script for room 'a'"},
        {"rooms/a.room", "-", 1, "/rooms/a.room: missing room description for room 'a'"},
        {"project.qf", P + "width = 64O\nfirst-room = a\n[rooms]\na\n", 1,
         "/project.qf:3: bad number '64O' for width: expected a whole number of pixels"},
        {"project.qf", P + "height = 99999999999\nfirst-room = a\n[rooms]\na\n", 1,
         "/project.qf:3: bad number '99999999999' for height"},
        {"project.qf", P + "first-room = a\n[rooms]\na\n[saved]\ninteger-list xs\n", 1,
         "/project.qf:7: unknown save type 'integer-list' (types: integer, float, string, boolean, integer-array, "
         "float-array, string-array, boolean-array)"},
        {"project.qf", P + "first-room = a\n[rooms]\na\n\na\n", 1, "/project.qf:7: duplicate room 'a' (first on line 5)"},
        {"project.qf", P + "first-room = z\n[rooms]\na\n", 1,
         "/project.qf:3: first room 'z' is not among the rooms listed under [rooms]"},
        {"project.qf", P + "[rooms]\na\n", 1, "/project.qf: no first room"},
        {"project.qf", "[project]\nfirst-room = a\n[rooms]\na\n", 1, "/project.qf: no codename"},
        {"project.qf", "[project]\ncodename = a/b\nfirst-room = a\n[rooms]\na\n", 1,
         "/project.qf:2: codename 'a/b' names files and folders"},
        {"project.qf", P + "first-room = a\ncaption = Hi\n[rooms]\na\n", 1, "/project.qf:4: unknown key 'caption'"},
        {"project.qf", P + "first-room = a\nwidth = 1\nwidth = 2\n[rooms]\na\n", 1,
         "/project.qf:5: 'width' is set twice (first on line 4)"},
        {"project.qf", P + "first-room = a\n[room]\na\n", 1, "/project.qf:4: unknown section '[room]'"},
        {"Quillfen.ini", "[project]\ncodename = other\n", 1, "/Quillfen.ini: sets codename 'other' but project.qf says 'e2e'"},
        {"rooms/a.room", "[objects]\nGhost\n", 0, "/rooms/a.room:2: no objects/Ghost.lua: the class will have no methods"},
        {"rooms/a.room", "[objects]\nHero\nnot-a-name\n", 0, "/rooms/a.room:3: class name 'not-a-name' is not a Lua identifier"},
        {"rooms/a.room", "[images]\nmissing.png\n", 0, "/rooms/a.room:2: 'missing.png' is not in images/: it will not load"},
        {"rooms/a.lua", "function Init( end\n", 0, "/rooms/a.lua:1: <name> or '...' expected near 'end'"},
        {"stuff/readme.txt", "hello", 0, "/stuff: not a folder of a project source"},
    };
    for (const auto &[file, bytes, exitCode, line] : cases) {
        SourceProject project;
        writeTree(project.source(), {{"rooms/a.room", "[objects]\nHero\n"}, {"rooms/a.lua", "function Init() end\n"},
                                     {"objects/Hero.lua", "function Hero:Init() end\n"},
                                     {"project.qf", P + "first-room = a\n[rooms]\na\n"}, {file, bytes}});
        if (bytes == "-") std::filesystem::remove(project.source() + "/" + file);
        const ProcessResult built = runPackTool({"compile", project.source(), project.game()});
        const std::string expected = (exitCode ? "ERROR: " : "WARNING: ") + project.source() + line;
        EXPECT_EQ(exitCode, built.exitCode) << line;
        EXPECT_NE(std::string::npos, built.err.find(expected)) << "expected: " << expected << "\ngot: " << built.err;
        EXPECT_EQ(exitCode == 0, std::filesystem::exists(project.game() + "/Projects/e2e/Rooms/a")) << line;
        if (exitCode) {
            EXPECT_NE(std::string::npos, built.err.find("nothing was written")) << built.err;
            EXPECT_FALSE(std::filesystem::exists(project.game())) << "the output folder was created: " << line;
        }
    }
}

}  // namespace
