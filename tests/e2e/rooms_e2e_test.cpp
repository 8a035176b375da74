// Rooms end to end: small projects built by quillfen-pack compile and played by the real engine
// under X. Scripts print what runs (print goes to stdout) and end the game with os.exit, so each
// test reads a transcript: the loading screen, then the first room; ShutDown, class scripts,
// room script, Init and Step in their order across a switch; forceNewRoom requests that win,
// and those that are lost; a missing room; a class listed twice; broken object scripts; and the
// same game from an archive.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include "e2e_project.h"

namespace {

// A class that prints each callback the engine or the room calls on it.
std::string tracingClass(const std::string &name)
{
    return "print('" + name + ":script')\n"
           "function " + name + ":Init() print('" + name + ":Init') end\n"
           "function " + name + ":Step() print('" + name + ":Step') end\n"
           "function " + name + ":Render() end\n"
           "function " + name + ":ShutDown() print('" + name + ":ShutDown') end\n";
}

std::string lines(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items) text += item + "\n";
    return text;
}

// Room a makes two Balls and asks for room b on its second step; b makes a Box and ends the game
// after its first step.
void writeSwitchingGame(SourceProject &project)
{
    project.object("Ball", tracingClass("Ball"));
    project.object("Box", tracingClass("Box"));
    project.room("a", "[objects]\nBall\n",
                 "io.stdout:setvbuf('no')\nprint('a:script')\n"
                 "function Init() print('a:Init'); instTable[1] = Ball:new(); instTable[2] = Ball:new(); n = 0 end\n"
                 "function Step() n = n + 1; print('a:Step'); if n == 2 then forceNewRoom('b') end end\n"
                 "function ShutDown() print('a:ShutDown') end\n");
    project.room("b", "[objects]\nBox\n",
                 "print('b:script')\n"
                 "function Init() local count = 0; for _ in pairs(instTable) do count = count + 1 end\n"
                 "  print('b:Init', count); instTable.box = Box:new() end\n"
                 "function Step() print('b:Step'); os.exit(0) end\n");
}

const std::string SWITCH_TRANSCRIPT = lines({
    "Ball:script", "a:script", "a:Init", "Ball:Init", "Ball:Init",     // first room: classes, script, Init
    "Ball:Step", "Ball:Step", "a:Step",                                // frame 1: instances, then the room
    "Ball:Step", "Ball:Step", "a:Step",                                // frame 2: forceNewRoom('b')
    "Ball:ShutDown", "Ball:ShutDown", "a:ShutDown",                    // frame 3: the old room ends,
    "Box:script", "b:script", "b:Init\t0", "Box:Init", "Box:Step", "b:Step",  // the new one starts and steps
});

TEST(RoomsEndToEnd, LoadingScreenThenTheFirstRoom)
{
    REQUIRE_X_DISPLAY();
    SourceProject project("e2e", "start");
    project.projectLines = "width = 320\nheight = 200\n";
    project.room("start", "[images]\nred.png\n",
                 "function Init() print('start:Init', _firstRoom, _loadAnim < 0, resourcesAreLoaded(),"
                 " getDisplayWidth(), getDisplayHeight()); steps = 0 end\n"
                 "function Step() steps = steps + 1; if drawn then print('start:Step', steps > 1); os.exit(0) end end\n"
                 "function Render() drawImage(getImageHandle('red.png'), 10, 10); drawn = true end\n");
    makeFolders(project.source() + "/images");
    ASSERT_EQ(0, system(("convert -size 8x8 xc:red '" + project.source() + "/images/red.png'").c_str()));
    const ProcessResult built = project.compile();
    ASSERT_EQ(0, built.exitCode) << built.err;

    const ProcessResult run = runGame(project.game());
    EXPECT_EQ(0, run.exitCode) << run.err;
    // The loading chunk stepped at least once (_loadAnim counts down from 0) and switched only
    // when the room's image was loaded; the room drew a frame before its second step.
    EXPECT_EQ("start:Init\tstart\ttrue\ttrue\t320\t200\nstart:Step\ttrue\n", run.out);
    EXPECT_EQ(noArchiveLine("e2e"), run.err);
}

TEST(RoomsEndToEnd, ShutDownInitAndStepRunInOrderAcrossASwitch)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    writeSwitchingGame(project);
    const ProcessResult built = project.compile();
    ASSERT_EQ(0, built.exitCode) << built.err;
    const ProcessResult run = runGame(project.game());
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ(SWITCH_TRANSCRIPT, run.out);
    EXPECT_EQ(noArchiveLine("e2e"), run.err);
}

TEST(RoomsEndToEnd, TheLastRequestOfAFrameWinsAndRequestsDuringASwitchAreLost)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    project.room("a", "", "function Init() print('a:Init') end\n"
                          "function Step() print('a:Step'); forceNewRoom('b'); forceNewRoom('c') end\n");
    project.room("b", "", "print('b:script')\nfunction Init() print('b:Init') end\n");
    // Room c asks for b from its class script, its room script and its Init: all three are
    // dropped when the switch ends, so c keeps running.
    project.object("Late", "forceNewRoom('b')\nprint('Late:script')\n");
    project.room("c", "[objects]\nLate\n",
                 "forceNewRoom('b')\nprint('c:script')\n"
                 "function Init() print('c:Init'); forceNewRoom('b'); n = 0 end\n"
                 "function Step() n = n + 1; print('c:Step', n); if n == 3 then os.exit(0) end end\n");
    const ProcessResult built = project.compile();
    ASSERT_EQ(0, built.exitCode) << built.err;
    const ProcessResult run = runGame(project.game());
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ(lines({"a:Init", "a:Step", "Late:script", "c:script", "c:Init", "c:Step\t1", "c:Step\t2", "c:Step\t3"}),
              run.out);
    EXPECT_EQ(noArchiveLine("e2e"), run.err);
}

TEST(RoomsEndToEnd, AMissingRoomEndsTheOldRoomAndTheGameRunsOnEmpty)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    project.object("Ball", tracingClass("Ball"));
    project.room("a", "[objects]\nBall\n",
                 "io.stdout:setvbuf('no')\n"
                 "function Init() print('a:Init'); instTable.ball = Ball:new() end\n"
                 "function Step() print('a:Step'); forceNewRoom('nowhere') end\n"
                 "function ShutDown() print('a:ShutDown') end\n");
    const ProcessResult built = project.compile();
    ASSERT_EQ(0, built.exitCode) << built.err;

    ChildProcess engine;
    ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, project.game(), {"ALSOFT_DRIVERS=null", "SDL_AUDIODRIVER=dummy"}));
    for (int i = 0; i < 3000 && engine.out().find("a:ShutDown") == std::string::npos; i++) usleep(10 * 1000);
    usleep(500 * 1000);  // some frames with no room at all
    EXPECT_FALSE(engine.waitExit(0)) << "the engine stopped: " << engine.err();
    engine.signal(SIGTERM);
    ASSERT_TRUE(engine.waitExit(10000));
    EXPECT_EQ(0, engine.exitCode());
    EXPECT_EQ(lines({"Ball:script", "a:Init", "Ball:Init", "Ball:Step", "a:Step", "Ball:ShutDown", "a:ShutDown"}),
              engine.out());
    EXPECT_EQ(noArchiveLine("e2e"), engine.err()) << "a missing room file is silent";
}

TEST(RoomsEndToEnd, AClassListedTwiceIsBuiltTwice)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    project.object("Ball", "runs = (runs or 0) + 1\nlocal keys = 0\nfor _ in pairs(Ball) do keys = keys + 1 end\n"
                           "print('Ball:script', runs, Ball == previousBall, keys)\n"
                           "previousBall = Ball\n"
                           "function Ball:Init() end\nfunction Ball:Step() end\nfunction Ball:Render() end\n"
                           "function Ball:ShutDown() end\n");
    project.room("a", "[objects]\nBall\nBall\n",
                 "function Init() local ball = Ball:new(); print('a:Init', getmetatable(ball) == previousBall) end\n"
                 "function Step() os.exit(0) end\n");
    const ProcessResult built = project.compile();
    ASSERT_EQ(0, built.exitCode) << built.err;
    EXPECT_NE(std::string::npos, built.err.find("'Ball' is listed twice in [objects]")) << built.err;

    const ProcessResult run = runGame(project.game());
    EXPECT_EQ(0, run.exitCode) << run.err;
    // Each build gives a fresh class table (only __index and new in it before the script runs).
    EXPECT_EQ(lines({"Ball:script\t1\tfalse\t2", "Ball:script\t2\tfalse\t2", "a:Init\ttrue"}), run.out);
    EXPECT_EQ(noArchiveLine("e2e"), run.err);
}

TEST(RoomsEndToEnd, BrokenObjectScriptsAreReportedAndTheGameGoesOn)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    project.object("Good", "function Good:Init() end\nfunction Good:Step() steps = (steps or 0) + 1 end\n"
                           "function Good:Render() end\nfunction Good:ShutDown() end\n");
    project.object("Broken", "function Broken:Init()\n  x = = 1\nend\n");
    project.object("Boom", "function Boom:Init() end\n\nerror('boom at load')\n");
    project.object("Faulty", "function Faulty:Init() end\nfunction Faulty:Render() end\n"
                             "function Faulty:Step()\n  if not self.failed then self.failed = true; error('faulty step') end\nend\n");
    project.room("a", "[objects]\nGood\nBroken\nBoom\nFaulty\n",
                 "function Init() print('a:Init', Boom.Init ~= nil, Broken.Init == nil)\n"
                 "  instTable.good = Good:new(); instTable.faulty = Faulty:new()\n"
                 "  Broken:new()\n  print('not reached') end\n"
                 "function Step() roomSteps = (roomSteps or 0) + 1\n"
                 "  if roomSteps == 5 then print('a:Step', roomSteps, steps >= 5); os.exit(0) end end\n");
    const ProcessResult built = project.compile();
    ASSERT_EQ(0, built.exitCode) << built.err;
    EXPECT_NE(std::string::npos, built.err.find("objects/Broken.lua:2:")) << "the compiler warns: " << built.err;

    const ProcessResult run = runGame(project.game());
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ(lines({"a:Init\ttrue\ttrue", "a:Step\t5\ttrue"}), run.out);
    const std::string expectedErrors[] = {
        "[string \"Projects/e2e/Objects/Broken\"]:2: unexpected symbol near '='\n",
        "[string \"Projects/e2e/Objects/Boom\"]:3: boom at load\n",
        "attempt to call method 'Init' (a nil value)\n",
        "[string \"Projects/e2e/Objects/Faulty\"]:4: faulty step\n",
    };
    for (const std::string &expected : expectedErrors) {
        EXPECT_NE(std::string::npos, run.err.find(expected)) << "expected on stderr: " << expected << "got: " << run.err;
    }
    const size_t faulty = run.err.find("faulty step");
    EXPECT_EQ(std::string::npos, run.err.find("faulty step", faulty + 1)) << "the step fails only once: " << run.err;
}

TEST(RoomsEndToEnd, AnArchivedGameRunsExactlyAsItsLooseFiles)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    writeSwitchingGame(project);
    const std::string loose = project.path("loose"), packed = project.path("packed");
    const ProcessResult builtLoose = project.compile(false, loose);
    const ProcessResult builtPacked = project.compile(true, packed);
    ASSERT_EQ(0, builtLoose.exitCode) << builtLoose.err;
    ASSERT_EQ(0, builtPacked.exitCode) << builtPacked.err;
    // Only the archive and Quillfen.ini stay: the engine must read everything from the archive.
    ASSERT_EQ(0, system(("rm -r '" + packed + "/Projects'").c_str()));

    const ProcessResult fromLoose = runGame(loose);
    const ProcessResult fromArchive = runGame(packed);
    EXPECT_EQ(0, fromLoose.exitCode) << fromLoose.err;
    EXPECT_EQ(0, fromArchive.exitCode) << fromArchive.err;
    EXPECT_EQ(SWITCH_TRANSCRIPT, fromLoose.out);
    EXPECT_EQ(fromLoose.out, fromArchive.out);
    EXPECT_EQ(noArchiveLine("e2e"), fromLoose.err);
    EXPECT_EQ("", fromArchive.err);
}

}  // namespace
