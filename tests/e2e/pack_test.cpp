// quillfen-pack end to end: a project packed by the tool runs from the archive exactly as from
// its loose files (window size, rooms, object scripts, save games on disk), and the tool's
// commands answer bad input with a message and a non-zero exit.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include "core/room_file.h"
#include "test_support.h"

namespace {

static const char *TITLE = "Quillfen Engine 3.0 by Pellory";

std::string packTool()
{
    const std::string engine = QF_ENGINE_PATH;
    return engine.substr(0, engine.rfind('/') + 1) + "quillfen-pack";
}

std::string le32(int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string text(const std::string &s) { return le32(static_cast<int32_t>(s.size())) + s; }

ProcessResult pack(const std::vector<std::string> &args, const std::string &folder)
{
    std::vector<std::string> argv = {packTool()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, folder, 60);
}

// A small game: 800x600, first room "title" with one object class; the room saves and loads
// a declared global and prints what happened.
void writeDemoGame(const std::string &root)
{
    ASSERT_EQ(0, system(("mkdir -p '" + root + "/Projects/demo/Rooms' '" + root + "/Projects/demo/Objects'").c_str()));
    writeFile(root + "/Quillfen.ini", "[project]\ncodename = demo\n[audio]\nenabled = false\n");
    writeFile(root + "/Projects/demo/demo.dat",
              le32(800) + le32(600) + text("title") + le32(1) + std::string(1, char(1)) + text("score"));
    RoomNameLists lists;
    lists.names[ROOM_CLASSES] = {"Hero"};
    const std::string script =
        "function Init() score = 41; local saved = saveGame('1'); score = 0; local loaded = loadGame('1');"
        " print('entered title', tostring(saved), tostring(loaded), score, tostring(Hero and Hero.fromFile));"
        " io.stdout:flush() end";
    ASSERT_TRUE(writeRoomFile(root + "/Projects/demo/Rooms/title", lists, script));
    writeFile(root + "/Projects/demo/Objects/Hero", "Hero.fromFile = 'yes'\n");
}

struct GameRun
{
    int width = 0, height = 0;
    int exitCode = -1;
    std::string out, err;
};

// Starts the engine in `folder`, waits for the window and for the first room's line, then
// asks it to stop.
GameRun runGame(const std::string &folder)
{
    GameRun run;
    ChildProcess engine;
    if (!engine.start({QF_ENGINE_PATH}, folder, {"ALSOFT_DRIVERS=null"})) return run;
    // SDL names a first window before the video mode replaces it: wait for the real one.
    for (int i = 0; i < 1000 && run.width != 800; i++) {
        const unsigned long window = waitForWindow(TITLE, 10000);
        if (!window || !windowSize(window, &run.width, &run.height)) run.width = 0;
        if (run.width != 800) usleep(10 * 1000);
    }
    for (int i = 0; i < 2000 && engine.out().find("entered title") == std::string::npos; i++) usleep(10 * 1000);
    engine.signal(SIGTERM);
    if (!engine.waitExit(10000)) {
        engine.signal(SIGKILL);
        engine.waitExit(5000);
    }
    run.exitCode = engine.exitCode();
    run.out = engine.out();
    run.err = engine.err();
    return run;
}

TEST(PackedGame, RunsFromTheArchiveAsFromLooseFiles)
{
    if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";
    TempDir game;
    writeDemoGame(game.path());
    const GameRun loose = runGame(game.path());
    EXPECT_EQ(800, loose.width);
    EXPECT_EQ(600, loose.height);
    EXPECT_EQ(0, loose.exitCode);
    EXPECT_NE(std::string::npos, loose.err.find("ERROR: 'demo.qfa' could not be opened.\n")) << loose.err;
    EXPECT_NE(std::string::npos, loose.out.find("entered title\ttrue\ttrue\t41\tyes")) << loose.out << loose.err;

    const ProcessResult packed = pack({"pack", "demo.qfa", "Projects/demo"}, game.path());
    ASSERT_EQ(0, packed.exitCode) << packed.err;
    // Only the archive is left: the loose project moves away, the save of the first run goes.
    ASSERT_EQ(0, system(("cd '" + game.path() + "' && mv Projects Unpacked && rm demo1Save.qfs").c_str()));
    const GameRun archived = runGame(game.path());
    EXPECT_EQ(800, archived.width);
    EXPECT_EQ(600, archived.height);
    EXPECT_EQ(0, archived.exitCode);
    EXPECT_EQ(std::string::npos, archived.err.find("could not be opened")) << archived.err;
    EXPECT_EQ(loose.out, archived.out);
    EXPECT_EQ(readFile(game.path() + "/demo1Save.qfs"), le32(41)) << "the save goes to disk beside the archive";
    const std::string missing = "ERROR: 'demo.qfa' could not be opened.\n";
    std::string expectedErr = loose.err;
    if (expectedErr.find(missing) != std::string::npos) expectedErr.erase(expectedErr.find(missing), missing.size());
    EXPECT_EQ(expectedErr, archived.err);
}

TEST(PackTool, PackListVerifyExtractRoundTrip)
{
    TempDir game;
    writeDemoGame(game.path());
    std::string image(70000, '\0');
    for (size_t i = 0; i < image.size(); i++) image[i] = static_cast<char>(i * 7);
    ASSERT_EQ(0, system(("mkdir -p '" + game.path() + "/Projects/demo/Images'").c_str()));
    writeFile(game.path() + "/Projects/demo/Images/ball.png", image);

    ProcessResult r = pack({"pack", "demo.qfa", "./Projects/demo/"}, game.path());
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("Packed 4 files into 'demo.qfa'.\n", r.out);

    // Folders are walked in byte order; the data follows the index back to back.
    r = pack({"list", "demo.qfa"}, game.path());
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::vector<std::string> names = {"Projects/demo/Images/ball.png", "Projects/demo/Objects/Hero",
                                            "Projects/demo/Rooms/title", "Projects/demo/demo.dat"};
    int32_t offset = 4;
    for (const std::string &name : names) offset += static_cast<int32_t>(name.size()) + 12;
    std::string expected = "    offset       size  name\n";
    for (const std::string &name : names) {
        const int32_t size = static_cast<int32_t>(readFile(game.path() + "/" + name).size());
        char line[256];
        snprintf(line, sizeof line, "%10d %10d  %s\n", offset, size, name.c_str());
        expected += line;
        offset += size;
    }
    EXPECT_EQ(expected, r.out);

    r = pack({"verify", "demo.qfa"}, game.path());
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("4 entries, all inside the file")) << r.out;

    r = pack({"extract", "-C", "copy", "demo.qfa"}, game.path());
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("Extracted 4 of 4 entries into 'copy'.\n", r.out);
    EXPECT_EQ(0, system(("diff -r '" + game.path() + "/Projects' '" + game.path() + "/copy/Projects'").c_str()));

    r = pack({"extract", "-C", "one", "demo.qfa", "Projects/demo/Images/ball.png"}, game.path());
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_TRUE(readFile(game.path() + "/one/Projects/demo/Images/ball.png") == image);

    // -C: entry names relative to another folder; the archive never packs itself.
    r = pack({"pack", "-C", game.path(), "self.qfa", "."}, game.path());
    EXPECT_NE(0, r.exitCode) << "'.' is not a project path";
    for (int twice = 0; twice < 2; twice++) {
        r = pack({"pack", "-C", game.path() + "/Projects", game.path() + "/Projects/demo/inner.qfa", "demo"}, "/");
        ASSERT_EQ(0, r.exitCode) << r.err;
    }
    r = pack({"list", game.path() + "/Projects/demo/inner.qfa"}, "/");
    EXPECT_NE(std::string::npos, r.out.find("  demo/Rooms/title\n")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("inner.qfa")) << r.out;
}

TEST(PackTool, BadInputGetsAMessageAndANonZeroExit)
{
    TempDir dir;
    writeFile(dir.file("a"), "abc");
    ASSERT_EQ(0, pack({"pack", "good.qfa", "a"}, dir.path()).exitCode);
    const std::string good = readFile(dir.file("good.qfa"));
    writeFile(dir.file("short.qfa"), good.substr(0, 10));
    // The entry's size grows past the end of the file.
    std::string past = good;
    past[4 + 4 + 1 + 4] = 100;
    writeFile(dir.file("past.qfa"), past);
    writeFile(dir.file("evil.qfa"), le32(1) + text("../escaped") + le32(4 + 4 + 10 + 8) + le32(0));

    struct Case
    {
        std::vector<std::string> args;
        int exitCode;
        const char *message;  // a piece of stderr
    };
    const std::vector<Case> cases = {
        {{}, 2, "Usage: quillfen-pack COMMAND"},
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {{"pack", "x.qfa"}, 2, "Usage: quillfen-pack pack [-C DIR] ARCHIVE PATH..."},
        {{"pack", "-C"}, 2, "-C needs a folder"},
        {{"pack", "x.qfa", "missing"}, 1, "ERROR: File 'missing' could not be opened.\n"},
        {{"pack", "x.qfa", "/etc/hostname"}, 1, "is not a relative path inside the game folder"},
        {{"pack", "x.qfa", "../a"}, 1, "is not a relative path inside the game folder"},
        {{"pack", "-C", "nowhere", "x.qfa", "a"}, 1, "ERROR: Folder 'nowhere' could not be entered.\n"},
        {{"list"}, 2, "exactly one archive is needed"},
        {{"list", "none.qfa"}, 1, "ERROR: 'none.qfa' could not be opened.\n"},
        {{"list", "short.qfa"}, 1, "ERROR: Archive 'short.qfa' has a broken index: it ends inside record 1 of 1.\n"},
        {{"verify", "short.qfa"}, 1, "has a broken index"},
        {{"verify", "past.qfa"}, 1, "ERROR: Entry 'a' (offset 17, size 100) does not lie inside the file (20 bytes).\n"},
        {{"extract", "-C", "out", "past.qfa"}, 1, "ERROR: Entry 'a' lies outside the archive 'past.qfa'.\n"},
        {{"extract", "-C", "out", "good.qfa", "b"}, 1, "ERROR: Entry 'b' is not in the archive.\n"},
        {{"extract", "-C", "out", "evil.qfa"}, 1, "ERROR: Entry '../escaped' is not a safe relative path"},
    };
    for (const Case &c : cases) {
        const ProcessResult r = pack(c.args, dir.path());
        std::string command;
        for (const std::string &word : c.args) command += word + " ";
        EXPECT_EQ(c.exitCode, r.exitCode) << command;
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << command << ": expected \"" << c.message
                                                             << "\" in stderr, got: " << r.err;
    }
    EXPECT_FALSE(system(("test -e '" + dir.path() + "/x.qfa'").c_str()) == 0) << "a failed pack left an archive";
    EXPECT_FALSE(system(("test -e '" + dir.path() + "/../escaped'").c_str()) == 0);
    EXPECT_EQ(good, readFile(dir.file("good.qfa")));
}

}  // namespace
