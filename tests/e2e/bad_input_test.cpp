// Broken projects end to end: each row builds a small game with quillfen-pack compile, damages
// one part of it (archive, project file, room, object script, save file, font, image or the
// configuration) and plays it with the real engine. The engine must neither crash nor hang: it
// prints exactly the expected messages and either runs the first room, whose script prints a
// transcript and ends the game, or, when no room can start, keeps showing its window until it
// is closed as a user would close it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "e2e_project.h"
#include "resources/archive.h"
#include "resources/data_file.h"

namespace {

const char *const CAPTION = "Quillfen Engine 3.0 by Pellory";  // compile writes no caption

// --- damaging built files

void truncateTo(const std::string &path, off_t length) { ASSERT_EQ(0, truncate(path.c_str(), length)) << path; }

off_t fileLength(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

void patchBytes(const std::string &path, size_t offset, const std::string &bytes)
{
    std::string data = readFile(path);
    ASSERT_LE(offset + bytes.size(), data.size()) << path;
    data.replace(offset, bytes.size(), bytes);
    writeFile(path, data);
}

std::string int32Bytes(int32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; i++) bytes[i] = (char)((uint32_t)value >> (8 * i));
    return bytes;
}

// The index of an archive the compiler wrote (it must be whole).
std::vector<ArchiveIndexEntry> archiveIndex(const std::string &path)
{
    DataFile file;
    std::vector<ArchiveIndexEntry> entries;
    std::string problem;
    EXPECT_TRUE(file.openForReadFromDisk(path)) << path;
    EXPECT_TRUE(readArchiveIndex(file, entries, problem)) << problem;
    file.close();
    return entries;
}

// Byte position of an entry's offset field in the index: count, then per record a name length,
// the name, offset and size.
size_t offsetFieldOf(const std::vector<ArchiveIndexEntry> &entries, const std::string &name)
{
    size_t position = 4;
    for (const ArchiveIndexEntry &entry : entries) {
        if (entry.name == name) return position + 4 + entry.name.size();
        position += 12 + entry.name.size();
    }
    ADD_FAILURE() << name << " is not in the archive";
    return 0;
}

// --- the games

// Room "a" of a game that prints `report` (Lua expressions, printed tab-separated) from its Init
// and ends. Init runs only after every listed resource has finished loading.
std::string reportingRoom(const std::string &report)
{
    return "io.stdout:setvbuf('no')\nfunction Init() print('a:Init', " + report + ") os.exit(0) end\n";
}

std::string writeImage(SourceProject &project, const std::string &name, const std::string &spec)
{
    makeFolders(project.source() + "/images");
    const std::string path = project.source() + "/images/" + name;
    EXPECT_EQ(0, system(("convert " + spec + " '" + path + "'").c_str())) << spec;
    return path;
}

void compileInto(SourceProject &project, bool archive)
{
    const ProcessResult built = project.compile(archive);
    ASSERT_EQ(0, built.exitCode) << built.err;
}

// A PNG of the given size that holds only its header and end chunks (ImageMagick refuses to
// make pictures this wide; the engine reads the size before anything else).
std::string pngHeaderOnly(uint32_t width, uint32_t height)
{
    auto chunk = [](const std::string &type, const std::string &data) {
        std::string bytes;
        for (int shift = 24; shift >= 0; shift -= 8) bytes += (char)(data.size() >> shift);
        return bytes + type + data + std::string(4, '\0');  // CRCs are not checked before decoding
    };
    std::string header;
    for (uint32_t value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) header += (char)(value >> shift);
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IEND", "");
}

std::string fontToolPath()
{
    const std::string engine = QF_ENGINE_PATH;
    return engine.substr(0, engine.rfind('/') + 1) + "quillfen-font";
}

struct BrokenGame
{
    const char *name;
    // Writes the source into the project, compiles it into project.game() and damages the result.
    std::function<void(SourceProject &)> build;
    std::string out;  // the game's transcript; empty for a game whose first room never starts
    std::string err;  // everything the engine prints on stderr, exactly
};

const std::string P = "Projects/e2e/";

std::vector<BrokenGame> brokenGames()
{
    return {
        {"ArchiveCutInsideItsIndex",
         [](SourceProject &project) {
             project.room("a", "", reportingRoom("1"));
             compileInto(project, true);
             ASSERT_EQ(0, system(("rm -r '" + project.game() + "/Projects'").c_str()));
             truncateTo(project.game() + "/e2e.qfa", 14);  // count, then 10 bytes of record 1
         },
         "", "WARNING: Archive 'e2e.qfa' has a damaged index: it ends inside record 1 of 2.\n"},

        // The compiler sorts entries by name: the project file comes last, so one byte less
        // puts it past the end. Start-up and the game start each try to read it.
        {"ArchiveCutInsideItsLastEntry",
         [](SourceProject &project) {
             project.room("a", "", reportingRoom("1"));
             compileInto(project, true);
             const std::string archive = project.game() + "/e2e.qfa";
             truncateTo(archive, fileLength(archive) - 1);
         },
         "",
         "ERROR: Entry '" + P + "e2e.dat' lies outside the archive 'e2e.qfa'.\n"
         "ERROR: Entry '" + P + "e2e.dat' lies outside the archive 'e2e.qfa'.\n"},

        {"ArchiveEntryPointingPastTheEnd",
         [](SourceProject &project) {
             project.room("a", "[images]\nred.png\n", reportingRoom("resourcesAreLoaded()"));
             writeImage(project, "red.png", "-size 8x8 xc:red");
             compileInto(project, true);
             const std::string archive = project.game() + "/e2e.qfa";
             const size_t field = offsetFieldOf(archiveIndex(archive), P + "Images/red.png");
             patchBytes(archive, field, int32Bytes((int32_t)fileLength(archive) + 1000));
         },
         "a:Init\ttrue\n", "ERROR: Entry '" + P + "Images/red.png' lies outside the archive 'e2e.qfa'.\n"},

        // An object script whose entry lies outside the file counts as missing (fileExists asks
        // whether the entry can be read): the class gets no methods, and nothing is printed.
        {"ArchiveEntryWithANegativeSize",
         [](SourceProject &project) {
             project.room("a", "[objects]\nBall\n", reportingRoom("type(Ball), Ball.Step"));
             project.object("Ball", "function Ball:Step() end\n");
             compileInto(project, true);
             const std::string archive = project.game() + "/e2e.qfa";
             const size_t field = offsetFieldOf(archiveIndex(archive), P + "Objects/Ball");
             patchBytes(archive, field + 4, int32Bytes(-5));
         },
         "a:Init\ttable\tnil\n", ""},

        // The first room's file is read twice, by its resource list and by the switch.
        {"FirstRoomEntryPastTheEnd",
         [](SourceProject &project) {
             project.room("a", "", reportingRoom("1"));
             compileInto(project, true);
             const std::string archive = project.game() + "/e2e.qfa";
             const size_t field = offsetFieldOf(archiveIndex(archive), P + "Rooms/a");
             patchBytes(archive, field + 4, int32Bytes(1 << 30));
         },
         "",
         "ERROR: Entry '" + P + "Rooms/a' lies outside the archive 'e2e.qfa'.\n"
         "ERROR: Entry '" + P + "Rooms/a' lies outside the archive 'e2e.qfa'.\n"},

        {"RoomNamingMissingImages",
         [](SourceProject &project) {
             project.room("a", "[images]\nmissing.png\nalso/missing.png\n",
                          "function Render() drawImage(getImageHandle('missing.png'), 1, 1) drawn = true end\n"
                          "function Step() if drawn then print('a:drawn', resourcesAreLoaded()) os.exit(0) end end\n");
             compileInto(project, true);
         },
         "a:drawn\ttrue\n", ""},

        {"ObjectScriptWithASyntaxError",
         [](SourceProject &project) {
             project.room("a", "[objects]\nBall\n", reportingRoom("type(Ball), Ball.Init, Ball.new ~= nil"));
             project.object("Ball", "function Ball:Init()\n  self.x = = 1\nend\n");
             compileInto(project, false);
         },
         "a:Init\ttable\tnil\ttrue\n",
         noArchiveLine("e2e") + "[string \"" + P + "Objects/Ball\"]:2: unexpected symbol near '='\n"},

        {"FirstRoomMissing",
         [](SourceProject &project) {
             project.room("a", "", reportingRoom("1"));
             compileInto(project, false);
             ASSERT_EQ(0, unlink((project.game() + "/" + P + "Rooms/a").c_str()));
         },
         "", noArchiveLine("e2e")},

        // The lists stop inside the image list's first name: the room keeps no names and has
        // no script, so it starts with empty callbacks.
        {"RoomFileCutInsideItsLists",
         [](SourceProject &project) {
             project.room("a", "[images]\nred.png\n", reportingRoom("1"));
             writeImage(project, "red.png", "-size 8x8 xc:red");
             compileInto(project, false);
             truncateTo(project.game() + "/" + P + "Rooms/a", 12);
         },
         "", noArchiveLine("e2e")},

        // Width, height and first room are kept from a project file whose saved globals are
        // cut short; the load fails (at start-up and again at the game start) and nothing is
        // declared, so the save holds no values.
        {"ProjectFileCutInsideItsSavedGlobals",
         [](SourceProject &project) {
             project.projectLines = "width = 320\nheight = 200\n";
             project.saved = "integer score\n";
             project.room("a", "", reportingRoom("getDisplayWidth(), getDisplayHeight(), saveGame('1'), "
                                                 "#io.open('e2e1Save.qfs'):read('*a')"));
             compileInto(project, false);
             const std::string file = project.game() + "/" + P + "e2e.dat";
             truncateTo(file, fileLength(file) - 2);  // inside the name "score"
         },
         "a:Init\t320\t200\ttrue\t0\n", noArchiveLine("e2e")},

        {"SavedGlobalOfTypeZero",
         [](SourceProject &project) {
             project.saved = "integer score\nstring name\n";
             project.room("a", "", reportingRoom("saveGame('1'), #io.open('e2e1Save.qfs'):read('*a')"));
             compileInto(project, false);
             // width, height, first room "a", count 2, then the type byte of "score"
             patchBytes(project.game() + "/" + P + "e2e.dat", 4 + 4 + 5 + 4, std::string(1, '\0'));
         },
         "a:Init\ttrue\t0\n",
         noArchiveLine("e2e") + "ERROR: Auto type for 'score' not supported yet.\n" +
             "ERROR: Auto type for 'score' not supported yet.\n"},

        // Written by a game that declared one string, read by one that declares an integer
        // array: the string's length (5) is taken as the count, "hell" as the first number; the
        // second read runs past the end (its element is kept, whatever a failed read gives) and
        // reading stops there.
        {"SaveFileFromOtherDeclarations",
         [](SourceProject &project) {
             project.saved = "string title\n";
             project.room("a", "", reportingRoom("(function() title = 'hello' return saveGame('1') end)()"));
             compileInto(project, false);
             const ProcessResult writer = runGame(project.game());
             ASSERT_EQ("a:Init\ttrue\n", writer.out) << writer.err;
             project.saved = "integer-array numbers\n";
             project.room("a", "", reportingRoom("loadGame('1'), #numbers, numbers[1]"));
             project.rooms.pop_back();  // room() declared "a" a second time
             compileInto(project, false);
         },
         "a:Init\tfalse\t2\t1819043176\n", noArchiveLine("e2e")},

        {"FontDescriptorCutShort",
         [](SourceProject &project) {
             makeFolders(project.source() + "/fonts");
             const ProcessResult made =
                 runProgram({fontToolPath(), "-q", "-s", "12", project.source() + "/fonts/sans.fnt"}, "/tmp", 60);
             ASSERT_EQ(0, made.exitCode) << made.err;
             truncateTo(project.source() + "/fonts/sans.fnt", 40);
             project.room("a", "[fonts]\nsans.fnt\n",
                          "function Render() drawText(getFontHandle('sans.fnt'), 'Hello', 5, 30, 0, 1) drawn = true end\n"
                          "function Step() if drawn then print('a:drawn', resourcesAreLoaded(),"
                          " getTextWidth(getFontHandle('sans.fnt'), 'Hello')) os.exit(0) end end\n");
             compileInto(project, true);
         },
         "a:drawn\ttrue\t0\n", ""},

        {"ImagesThatDoNotDecode",
         [](SourceProject &project) {
             makeFolders(project.source() + "/images");
             writeFile(project.source() + "/images/garbage.png", std::string("\x89PNG\r\n\x1a\n", 8) + "not a png at all");
             writeFile(project.source() + "/images/empty.bmp", "");
             const std::string cut = writeImage(project, "cut.png", "-size 64x64 gradient:red-blue");
             truncateTo(cut, fileLength(cut) / 2);
             project.room("a", "[images]\ngarbage.png\nempty.bmp\ncut.png\n",
                          "function Render() for _, name in ipairs({'garbage.png', 'empty.bmp', 'cut.png'}) do\n"
                          "  drawImage(getImageHandle(name), 1, 1) end drawn = true end\n"
                          "function Step() if drawn then print('a:drawn', resourcesAreLoaded()) os.exit(0) end end\n");
             compileInto(project, true);
         },
         "a:drawn\ttrue\n", ""},

        {"ImageTooLarge",
         [](SourceProject &project) {
             makeFolders(project.source() + "/images");
             writeFile(project.source() + "/images/huge.png", pngHeaderOnly(17000, 1));
             project.room("a", "[images]\nhuge.png\n", reportingRoom("resourcesAreLoaded()"));
             compileInto(project, true);
         },
         "a:Init\ttrue\n",
         "ERROR: Image '" + P + "Images/huge.png' is too large to load (at most 16384 pixels a side, 8192 x 8192 in all).\n"},

        // Every byte value, repeated: no section header, so no codename and no archive name.
        {"ConfigurationOfBinaryBytes",
         [](SourceProject &project) {
             project.room("a", "", reportingRoom("1"));
             compileInto(project, true);
             std::string bytes;
             for (int i = 0; i < 1024; i++) bytes += (char)(i * 7 % 256);
             writeFile(project.game() + "/Quillfen.ini", bytes);
         },
         "", "ERROR: '.qfa' could not be opened.\n"},
    };
}

void PrintTo(const BrokenGame &game, std::ostream *os) { *os << game.name; }

class BadInput : public testing::TestWithParam<BrokenGame>
{
};

// The engine's window once the video mode has given it its size (SDL names a first, smaller
// window before that), or 0.
unsigned long engineWindow(const ChildProcess &engine, int width, int height)
{
    unsigned long window = 0;
    int w = 0, h = 0;
    for (int i = 0; i < 600 && (w != width || h != height); i++) {
        window = waitForWindow(CAPTION, 60000, engine.pid());
        if (!window || !windowSize(window, &w, &h)) w = h = 0;
        if (w != width || h != height) usleep(10 * 1000);
    }
    return w == width && h == height ? window : 0;
}

TEST_P(BadInput, PlaysWithoutCrashingAndSaysWhatIsWrong)
{
    REQUIRE_X_DISPLAY();
    const BrokenGame &game = GetParam();
    SourceProject project;
    game.build(project);
    if (HasFatalFailure()) return;

    if (!game.out.empty()) {
        const ProcessResult run = runGame(project.game());
        EXPECT_EQ(0, run.exitCode) << run.err;
        EXPECT_EQ(game.out, run.out);
        EXPECT_EQ(game.err, run.err);
        return;
    }
    // No room starts: the loading screen (or an empty room) runs until the window is closed.
    // The window must come up at the default size, and the engine must end cleanly on the close.
    holdXServer();
    ChildProcess engine;
    ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, project.game(), {"ALSOFT_DRIVERS=null", "SDL_AUDIODRIVER=dummy"}));
    const unsigned long window = engineWindow(engine, 640, 480);
    ASSERT_NE(0ul, window) << "no 640 x 480 window; stderr: " << engine.err();
    // Messages of the first frames (the room switch) may follow the window: give them time.
    for (int i = 0; i < 3000 && engine.err() != game.err; i++) usleep(10 * 1000);
    ASSERT_TRUE(requestWindowClose(window));
    ASSERT_TRUE(engine.waitExit(60000)) << "the engine did not end after the close request";
    EXPECT_EQ(0, engine.exitCode()) << engine.err();
    EXPECT_EQ("", engine.out());
    EXPECT_EQ(game.err, engine.err());
}

INSTANTIATE_TEST_SUITE_P(BrokenProjects, BadInput, testing::ValuesIn(brokenGames()),
                         [](const testing::TestParamInfo<BrokenGame> &info) { return std::string(info.param.name); });

}  // namespace
