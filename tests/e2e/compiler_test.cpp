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
    // Text sources of a scrap, a model and an animation, canonical: every kind of event, a
    // version 0 scrap, quoted names, a scrap already binary (copied) beside them.
    project.file("scraps/body.scrap", "# Quillfen scrap (format: docs/projects.md)\n[scrap]\nversion = 1\n\n[frame]\n"
                                      "image = hero.png\nrect = 0 0 8 8\noffset = -4 -4\nduration = 65535\n\n[frame]\n"
                                      "frame-version = 1\nrect = 0 0 32 32\nduration = 1\n");
    project.file("scraps/old.scrap", "# Quillfen scrap (format: docs/projects.md)\n[scrap]\nversion = 0\n\n[frame]\n"
                                     "image = \"#not a comment\"\nrect = -1 -2 3 4\nduration = 2\n");
    project.file("models/hero.model", "# Quillfen model (format: docs/projects.md)\n\n[bone]\nname = torso\nscrap = body\n"
                                      "position = 0 0\nangle = 90\nflag = true\njoint = 0 40 \" head\"\n\n[bone]\n"
                                      "name = \" head\"\nscrap = missing\nposition = 0 -50\nangle = -2147483648\n");
    project.file("anims/hero-walk.anim",
                 "# Quillfen animation (format: docs/projects.md)\n[animation]\nmodel = hero\nlength = 60.5\nflag = true\n"
                 "\n[texts]\nstep\nstep\n\n[markers]\n# TIME X Y TEXT\n5 10 -0.25 step\n\n"
                 "[rotation]\nbone = torso\ntime = 10.7\nend = 2020.2\nfrom = 0\nto = 10\nslopes = 0.5 -1\nunused = 1 2\n\n"
                 "[x-scaling]\nbone = \" head\"\ntime = 11\nend = 11\nfrom = 1\nto = 2\nslopes = 0 0\n\n"
                 "[color]\nbone = torso\ntime = 12\nend = 20\nred = 0 1\ngreen = 1 1\nblue = 1 0.000000001\n\n"
                 "[texture-time]\nbone = torso\ntime = 13\nvalue = 2\n\n"
                 "[texture-speed]\nbone = \" head\"\ntime = 14\nspeed = -1.5\nunused = 1 2\n\n"
                 "[texture-change]\nbone = torso\ntime = 15\nscrap = old\n\n[event]\ntype = 99\ntime = 16\n");
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
        {"models/m.model", "[bone]\nname = a\njoint = 0 0 ghost\n", 1, "/models/m.model:3: unknown bone 'ghost'"},
        {"models/m.model", "[bone]\nname = a\njoint = 0 0 b\n[bone]\nname = b\njoint = 1 1 b\n", 1,
         "/models/m.model:6: bone 'b' already hangs at a joint (line 3)"},
        {"models/m.model", "[bone]\nname = a\njoint = 0 0 b\n[bone]\nname = b\njoint = 1 1 a\n", 1,
         "/models/m.model:1: bone 'a' hangs in a loop of bones that no root holds"},
        {"models/m.model", "[bone]\nname = a\nposition = 1\n", 1,
         "/models/m.model:3: bad value '1' for position: expected 2 whole numbers"},
        {"anims/w.anim", "[animation]\nlength = 0\n", 1, "/anims/w.anim:2: the length must be above 0"},
        {"anims/w.anim", "[animation]\nlength = 1\n[texts]\na\n[markers]\n1 2 3 b\n", 1,
         "/anims/w.anim:6: marker text 'b' is not listed under [texts]"},
        {"anims/w.anim", "[animation]\nlength = 1.0000000001\n", 1, "/anims/w.anim:2: bad value '1.0000000001' for length"},
        {"anims/w.anim", "[animation]\nmodel = m\nlength = 1\n", 1, "/anims/w.anim:2: model 'm' is not in models/"},
        {"scraps/s.scrap", "[frame]\nduration = 0\n", 1, "/scraps/s.scrap:1: every frame has duration 0"},
        {"scraps/s.scrap", "[frame]\nimage = nope.png\n", 0, "/scraps/s.scrap:2: 'nope.png' is not in images/"},
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
