// Broken projects end to end: each row builds a game with quillfen-pack compile, damages part of it
// and plays it with the real engine, which must neither crash nor hang and must print exactly the
// expected messages; the game ends itself, or runs on until its window is closed.
#include <functional>

#include "../audio/audio_test_support.h"
#include "animation/animation.h"
#include "animation/model.h"
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

// One Ogg page (CRC filled in) whose only packet is `packet`: an Ogg stream, but not Vorbis.
std::string oggPage(const std::string &packet)
{
    std::string page = std::string("OggS\0\2", 6) + std::string(20, '\0') + char(1) + char(packet.size()) + packet;
    uint32_t crc = 0;
    for (unsigned char byte : page) {
        crc ^= uint32_t(byte) << 24;
        for (int bit = 0; bit < 8; bit++) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return page.replace(22, 4, int32LE(int32_t(crc)));
}
// A model "hero" of two bones (the arm hangs at the torso's joint) drawn from scrap "body", and its
// animation "hero-wave" of 30 frames with the marker "hi" at frame 5.
void heroSources(SourceProject &g, const std::string &armScrap = "body")
{
    g.image("red.png", "-size 8x8 xc:red");
    g.file("scraps/body.scrap", "[frame]\nimage = red.png\nrect = 0 0 8 8\nduration = 3\n[frame]\nimage = red.png\n"
                                "rect = 0 0 4 4\nduration = 0\n");
    g.file("models/hero.model", "[bone]\nname = torso\nscrap = body\njoint = 0 10 arm\n[bone]\nname = arm\nscrap = " +
                                    armScrap + "\nposition = 0 10\n");
    g.file("anims/hero-wave.anim", "[animation]\nmodel = hero\nlength = 30\n[texts]\nhi\n[markers]\n5 1 2 hi\n"
                                   "[rotation]\nbone = arm\ntime = 0\nend = 30\nfrom = 0\nto = 90\n");
}
// Room a poses the hero, draws it for 20 frames, then prints what the pose functions answer and ends.
const std::string POSING =
    "io.stdout:setvbuf('no')\nfunction Init() pose = getModelPose(getModelHandle('hero')); anim = getAnimHandle('hero-wave') end\n"
    "function Render() renderPose(pose) end\n"
    "function Step() N = (N or 0) + 1; if N < 20 then return end\n"
    "  print('a:posed', animatePose(pose, anim, 10), #getActiveMarkers(pose), getMarkerIndex(anim, 'hi')) os.exit(0) end\n";
void compileHero(SourceProject &g, const std::string &lists = "[models]\nhero\n[animations]\nhero-wave\n")
{
    compileWithRoomA(g, false, lists, POSING);
}
// Reads a compiled model or animation of the game, lets `change` damage it, writes it back.
template <typename Data>
void rewrite(SourceProject &g, const std::string &entry, bool (*read)(DataFile &, Data &, std::string &),
             bool (*write)(const std::string &, const Data &), const std::function<void(Data &)> &change)
{
    Data data;
    DataFile file;
    std::string message;
    const std::string path = g.game() + "/" + P + entry;
    ASSERT_TRUE(file.openForReadFromDisk(path) && read(file, data, message)) << path << ": " << message;
    file.close();
    change(data);
    ASSERT_TRUE(write(path, data));
}

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
    // A WAV with a LIST chunk before its data does not load, silently: a play gives a fresh ID naming
    // no slot (the two music slots hold IDs 0 and 1).
    {"WavWithAListChunk", [](SourceProject &g) {
         g.file("audio/tagged.wav", audiotest::wavBytes(1, 22050, 16, std::string(400, '\x11'), "LIST\4\0\0\0INFO"));
         compileWithRoomA(g, false, "[sounds]\ntagged.wav\n", reporting("(function() local id = playSound("
                          "getSoundHandle('tagged.wav'), false, 1) return id, isSoundSrcPlaying(id) end)()"));
     }, "a:Init\t2\tfalse\n", LOOSE},
    // A WAV whose data ends before its declared size plays (what is missing is silence).
    {"WavCutInsideItsData", [](SourceProject &g) {
         g.file("audio/cut.wav", audiotest::wavBytes(1, 22050, 16, std::string(4000, '\x11'), "", 40000));
         compileWithRoomA(g, false, "[sounds]\ncut.wav\n", reporting("(function() local id = playSound("
                          "getSoundHandle('cut.wav'), false, 1) return id, isSoundSrcPlaying(id) end)()"));
     }, "a:Init\t2\ttrue\n", LOOSE},
    // An Ogg stream that holds no Vorbis does not load: assigning it to a slot fails.
    {"OggThatIsNotVorbis", [](SourceProject &g) {
         g.file("audio/other.ogg", oggPage("OpusHead\1\2\0\0\x80\xbb\0\0\0\0\0") + oggPage("OpusTags"));
         compileWithRoomA(g, false, "[music]\nother.ogg\n", reporting("assignMusicToSlot(0, getMusicHandle('other.ogg')),"
                          " isMusicPlaying(0)"));
     }, "a:Init\tfalse\tfalse\n", LOOSE},
    // The script cuts the track it plays to a third of its file: the slot plays out and stops.
    {"MusicCutWhileItPlays", [](SourceProject &g) {
         g.file("audio/tune.ogg", "");
         ASSERT_EQ(0, system(("sox -n -r 22050 -c 1 '" + g.source() + "/audio/tune.ogg' synth 1.5 sine 440").c_str()));
         compileWithRoomA(g, false, "[music]\ntune.ogg\n",
                          "io.stdout:setvbuf('no')\nlocal path = 'Projects/e2e/Audio/tune.ogg'\n"
                          "function Init() assignMusicToSlot(0, getMusicHandle('tune.ogg')); playMusicSlot(0, 0, NO_LOOP) end\n"
                          "function Step() N = (N or 0) + 1\n"
                          "  if N == 10 then local data = io.open(path, 'rb'):read('*a'); local f = io.open(path, 'wb');"
                          " f:write(data:sub(1, #data / 3)); f:close(); print('a:cut', isMusicPlaying(0)) end\n"
                          "  if N > 10 and not isMusicPlaying(0) then print('a:stopped', N < 600) os.exit(0) end end\n");
     }, "a:cut\ttrue\na:stopped\ttrue\n", LOOSE},
    // The arm's scrap is not in the game: the model loads and the arm draws nothing.
    {"ModelNamingAMissingScrap", [](SourceProject &g) {
         heroSources(g, "ghost");
         compileHero(g);
     }, "a:posed\tfalse\t1\t0\n", LOOSE},
    {"ModelWithAJointOutsideItsBones", [](SourceProject &g) {
         heroSources(g);
         compileHero(g);
         rewrite<ModelFileData>(g, "Models/hero", readModelFile, writeModelFile,
                                [](ModelFileData &model) { model.bones[0].joints[0].child = 2; });
     }, "a:posed\tfalse\t1\t0\n", LOOSE + "Model cannot load: bone read error.\nModelPose failed: model is NULL.\n"},
    {"AnimationOfLength0", [](SourceProject &g) {
         heroSources(g);
         compileHero(g);
         rewrite<AnimationFileData>(g, "Anims/hero-wave", readAnimationFile, writeAnimationFile,
                                    [](AnimationFileData &animation) { animation.length = StoredReal(); });
     }, "a:posed\ttrue\t0\t-1\n", LOOSE + "Animation cannot load: length is 0 or below.\n"},
    // The scrap's second frame lasts 0 and the pose plays it: the frame clock skips it.
    {"ScrapFrameOfDuration0", [](SourceProject &g) {
         heroSources(g);
         compileHero(g);
     }, "a:posed\tfalse\t1\t0\n", LOOSE},
    {"AnimationCutInsideItsMarkers", [](SourceProject &g) {
         heroSources(g);
         compileHero(g);
         cut(g.game() + "/" + P + "Anims/hero-wave", 3);
     }, "a:posed\ttrue\t0\t-1\n", LOOSE + "Animation cannot load: read error (eof reached).\n"},
    // Pose functions given a number take it as a value holding no pose.
    {"PoseFunctionGivenANumber", [](SourceProject &g) {
         heroSources(g);
         compileWithRoomA(g, false, "[animations]\nhero-wave\n",
                          reporting("animatePose(5, getAnimHandle('hero-wave'), 1), #getActiveMarkers(5), renderPose(5),"
                                    " freezePose(5), setDefaultPose(5), _FREEMODELPOSE(5), 'on'"));
     }, "a:Init\ttrue\t0\tnil\tnil\tnil\tnil\ton\n", LOOSE},
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
