// Broken projects end to end: each row builds a game with quillfen-pack compile, damages part of it
// and plays it with the real engine, which must neither crash nor hang and must print exactly the
// expected messages; the game ends itself, or runs on until its window is closed.
#include <functional>

#include "e2e_project.h"
#include "resources/archive.h"
#include "resources/data_file.h"

namespace {

const std::string P = "Projects/e2e/", LOOSE = noArchiveLine();

void patch(const std::string &path, size_t offset, const std::string &bytes)
{
    std::string data = readFile(path);
    ASSERT_LE(offset + bytes.size(), data.size()) << path;
    writeFile(path, data.replace(offset, bytes.size(), bytes));
}
void cut(const std::string &path, int bytesLess)
{
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - bytesLess);
}
// Sets the offset (field 0) or the size (field 1) of entry P + `name` in the game's archive.
void patchEntry(SourceProject &game, const std::string &name, int field, int32_t value)
{
    DataFile file;
    std::vector<ArchiveIndexEntry> entries;
    std::string problem;
    ASSERT_TRUE(file.openForReadFromDisk(game.game() + "/e2e.qfa") && readArchiveIndex(file, entries, problem)) << problem;
    size_t at = 4, i = 0;  // the count, then per record: name length, name, offset, size
    for (; i < entries.size() && entries[i].name != P + name; i++) at += 12 + entries[i].name.size();
    ASSERT_LT(i, entries.size()) << P + name << " is not in the archive";
    patch(game.game() + "/e2e.qfa", at + 4 + P.size() + name.size() + 4 * field, int32LE(value));
}
void compileWithRoomA(SourceProject &game, bool archive, const std::string &lists, const std::string &script)
{
    game.room("a", lists, script);
    const ProcessResult built = game.compile(archive);
    ASSERT_EQ(0, built.exitCode) << built.err;
}
// Room a's Init (it runs once every listed resource has loaded) prints `report` and ends the game.
std::string reporting(const std::string &report)
{
    return "io.stdout:setvbuf('no')\nfunction Init() print('a:Init', " + report + ") os.exit(0) end\n";
}
std::string outside(const std::string &entry) { return "ERROR: Entry '" + P + entry + "' lies outside the archive 'e2e.qfa'.\n"; }

struct BrokenGame
{
    const char *name;
    std::function<void(SourceProject &)> build;  // writes the source, compiles it into game() and damages it
    std::string out, err;                        // all of stdout and stderr
    Ending ending = ENDS_ITSELF;                 // or: no room runs at the end, and the window is closed
};
void PrintTo(const BrokenGame &game, std::ostream *os) { *os << game.name; }

const std::vector<BrokenGame> GAMES = {
    {"ArchiveCutInsideItsIndex", [](SourceProject &g) {
         compileWithRoomA(g, true, "", reporting("1"));
         std::filesystem::remove_all(g.game() + "/Projects");
         std::filesystem::resize_file(g.game() + "/e2e.qfa", 14);  // the count, then 10 bytes of record 1
     }, "", "WARNING: Archive 'e2e.qfa' has a damaged index: it ends inside record 1 of 2.\n", ON_WINDOW_CLOSE},
    // Entries are sorted by name: the project file comes last. Start-up and the game start read it.
    {"ArchiveCutInsideItsLastEntry", [](SourceProject &g) {
         compileWithRoomA(g, true, "", reporting("1"));
         cut(g.game() + "/e2e.qfa", 1);
     }, "", outside("e2e.dat") + outside("e2e.dat"), ON_WINDOW_CLOSE},
    // An object script whose entry lies outside the file counts as missing (silently): no methods.
    {"ArchiveEntriesOutsideTheFile", [](SourceProject &g) {
         g.image("red.png", "-size 8x8 xc:red");
         g.object("Ball", "function Ball:Step() end\n");
         compileWithRoomA(g, true, "[objects]\nBall\n[images]\nred.png\n",
                          reporting("resourcesAreLoaded(), type(Ball), Ball.Step"));
         patchEntry(g, "Images/red.png", 0, 1 << 30);
         patchEntry(g, "Objects/Ball", 1, -5);
     }, "a:Init\ttrue\ttable\tnil\n", outside("Images/red.png")},
    {"FirstRoomMissing", [](SourceProject &g) {
         compileWithRoomA(g, false, "", reporting("1"));
         std::filesystem::remove(g.game() + "/" + P + "Rooms/a");
     }, "", LOOSE, ON_WINDOW_CLOSE},
    // The lists end inside the image list's first name: no names, no script, empty callbacks.
    {"RoomFileCutInsideItsLists", [](SourceProject &g) {
         g.image("red.png", "-size 8x8 xc:red");
         compileWithRoomA(g, false, "[images]\nred.png\n", reporting("1"));
         std::filesystem::resize_file(g.game() + "/" + P + "Rooms/a", 12);
     }, "", LOOSE, ON_WINDOW_CLOSE},
    // The old room and its instances end; the game runs on with no room, silently.
    {"RoomAskingForAMissingRoom", [](SourceProject &g) {
         g.object("Ball", tracingClass("Ball"));
         compileWithRoomA(g, false, "[objects]\nBall\n",
                          "io.stdout:setvbuf('no')\nfunction Init() print('a:Init'); instTable.ball = Ball:new() end\n"
                          "function Step() print('a:Step'); forceNewRoom('nowhere') end\n"
                          "function ShutDown() print('a:ShutDown') end\n");
     }, lines({"Ball:script", "a:Init", "Ball:Init", "Ball:Step", "a:Step", "Ball:ShutDown", "a:ShutDown"}), LOOSE,
     ON_WINDOW_CLOSE},
    // Missing images, images that do not decode, one too large (a PNG header alone, as ImageMagick
    // makes none this wide) and a font descriptor cut short: all count as loaded and draw nothing.
    {"MissingAndBrokenImagesAndFont", [](SourceProject &g) {
         g.file("images/garbage.png", std::string("\x89PNG\r\n\x1a\n", 8) + "not a png at all");
         g.file("images/empty.bmp", "");
         const std::string halved = g.image("cut.png", "-size 64x64 gradient:red-blue");
         std::filesystem::resize_file(halved, std::filesystem::file_size(halved) / 2);
         g.file("images/huge.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x42\x68\0\0\0\x01\x08\x02\0\0\0"
                                               "\0\0\0\0\0\0\0\0IEND\0\0\0\0", 45));  // 17000 x 1, CRCs unchecked
         g.file("fonts/sans.fnt", "");
         const std::string font = g.source() + "/fonts/sans.fnt";
         ASSERT_EQ(0, runProgram({toolPath("quillfen-font"), "-q", "-s", "12", font}, "/", 60).exitCode);
         std::filesystem::resize_file(font, 40);
         compileWithRoomA(g, true, "[images]\nmissing.png\nalso/missing.png\ngarbage.png\nempty.bmp\ncut.png\nhuge.png\n"
                                   "[fonts]\nsans.fnt\n",
                          "function Render() for _, name in ipairs({'missing.png', 'garbage.png', 'empty.bmp', 'cut.png',"
                          " 'huge.png'}) do drawImage(getImageHandle(name), 1, 1) end\n"
                          "  drawText(getFontHandle('sans.fnt'), 'Hello', 5, 30, 0, 1) drawn = true end\n"
                          "function Step() if drawn then print('a:drawn', resourcesAreLoaded(),"
                          " getTextWidth(getFontHandle('sans.fnt'), 'Hello')) os.exit(0) end end\n");
     }, "a:drawn\ttrue\t0\n",
     "ERROR: Image '" + P + "Images/huge.png' is too large to load (at most 16384 pixels a side, 8192 x 8192 in all).\n"},
    // Object scripts with a syntax error, an error at load and an error in one Step, and engine
    // functions called with wrong counts: each is reported once and the game goes on stepping.
    {"ScriptErrors", [](SourceProject &g) {
         g.object("Broken", "function Broken:Init()\n  x = = 1\nend\n");
         g.object("Boom", "function Boom:Init() end\n\nerror('boom at load')\n");
         g.object("Faulty", "function Faulty:Init() end\nfunction Faulty:Render() end\nfunction Faulty:Step()\n"
                            "  steps = (steps or 0) + 1; if steps == 1 then error('faulty step') end\nend\n");
         compileWithRoomA(g, false, "[objects]\nBroken\nBoom\nFaulty\n",
                          "io.stdout:setvbuf('no')\nfunction Init() print('a:Init', Boom.Init ~= nil, Broken.Init == nil)\n"
                          "  instTable.faulty = Faulty:new(); Broken:new(); print('not reached') end\n"
                          "function Step() N = (N or 0) + 1\n"
                          "  if N == 1 then drawCircle(1, 2) elseif N == 2 then keyDown() elseif N == 3 then pushMatrix(1) end\n"
                          // ends once a frame was drawn after the fourth step: a slow (sanitized) engine
                          // may skip every draw for up to a second's worth of steps
                          "  if N >= 30 and wrong then print('a:Step', N >= 30, steps >= N) os.exit(0) end end\n"
                          "function Render() if N and N >= 4 and not wrong then wrong = true; setRenderColor(1, 2, 3) end end\n");
     }, "a:Init\ttrue\ttrue\na:Step\ttrue\ttrue\n",
     LOOSE + "[string \"" + P + "Objects/Broken\"]:2: unexpected symbol near '='\n[string \"" + P +
         "Objects/Boom\"]:3: boom at load\n[string \"\"]:2: attempt to call method 'Init' (a nil value)\n[string \"" + P +
         "Objects/Faulty\"]:4: faulty step\n4 args needed: x, y, radius, filled\n1 arg needed: key\n0 args needed\n"
         "4 args needed: red, green, blue, alpha\n"},
    // Width, height and first room are kept from a project file cut inside its saved globals; the
    // load fails (at start-up and at the game start) and nothing is declared: the save is empty.
    {"ProjectFileCutInsideItsSavedGlobals", [](SourceProject &g) {
         g.projectLines = "width = 320\nheight = 200\n";
         g.saved = "integer score\n";
         compileWithRoomA(g, false, "", reporting("getDisplayWidth(), getDisplayHeight(), saveGame('1'),"
                                                  " #io.open('e2e1Save.qfs'):read('*a')"));
         cut(g.game() + "/" + P + "e2e.dat", 2);  // inside the name "score"
     }, "a:Init\t320\t200\ttrue\t0\n", LOOSE},
    // A save written under other declarations: the string "hello" read as an integer array (its
    // length 5 as the count, "hell" as the first number, the file ends inside the second): false.
    {"SaveFileFromOtherDeclarations", [](SourceProject &g) {
         g.saved = "string title\n";
         compileWithRoomA(g, false, "", reporting("(function() title = 'hello' return saveGame('1') end)()"));
         ASSERT_EQ(AUDIO_START + "a:Init\ttrue\n", runProgram({QF_ENGINE_PATH}, g.game(), 60, ENGINE_ENV).out);
         g.saved = "integer-array numbers\n";
         g.file("rooms/a.lua", reporting("loadGame('1'), #numbers, numbers[1]"));
         ASSERT_EQ(0, g.compile().exitCode);
     }, "a:Init\tfalse\t2\t1819043176\n", LOOSE},
};

class BadInput : public testing::TestWithParam<BrokenGame>
{
};
TEST_P(BadInput, PlaysWithoutCrashingAndSaysWhatIsWrong)
{
    REQUIRE_X_DISPLAY();
    SourceProject game;
    GetParam().build(game);
    if (!HasFatalFailure()) expectPlay(game.game(), GetParam().out, GetParam().err, GetParam().ending);
}
INSTANTIATE_TEST_SUITE_P(BrokenProjects, BadInput, testing::ValuesIn(GAMES),
                         [](const testing::TestParamInfo<BrokenGame> &info) { return std::string(info.param.name); });

}  // namespace
