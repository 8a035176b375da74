// Rooms end to end: a game built by quillfen-pack compile, played by the real engine from its loose
// files and from an archive made by `quillfen-pack pack`; its scripts print what runs.
#include "e2e_project.h"

namespace {

// Catches a wrong order of ShutDown, class scripts, room script, Init and Step across a switch
// after the loading screen; a request of a frame other than its last one winning; a request made
// during a switch (class script, room script, Init) kept; a class listed twice not built twice
// afresh; a save or load that fails; and an archive made by the pack tool that plays otherwise.
TEST(RoomsEndToEnd, SwitchesInOrderFromLooseFilesAndFromAPackedArchive)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    project.projectLines = "width = 320\nheight = 200\n";
    project.saved = "integer score\n";
    project.image("red.png", "-size 8x8 xc:red");
    project.object("Ball", tracingClass("Ball"));
    project.object("Box", "local keys = 0\nfor _ in pairs(Box) do keys = keys + 1 end\n"
                          "print('Box:script', keys, Box == previousBox)\npreviousBox = Box\nforceNewRoom('c')\n"
                          "function Box:Init() print('Box:Init', getmetatable(self) == previousBox) end\n"
                          "function Box:Step() print('Box:Step') end\nfunction Box:Render() end\n");
    project.room("a", "[objects]\nBall\n[images]\nred.png\n",
                 "io.stdout:setvbuf('no')\nprint('a:script')\n"
                 "function Init() score = 41; local saved = saveGame('1'); score = 0\n"
                 "  print('a:Init', _loadAnim < 0, resourcesAreLoaded(), getDisplayWidth(), getDisplayHeight(),"
                 " saved, loadGame('1'), score)\n"
                 "  instTable[1] = Ball:new(); instTable[2] = Ball:new(); n = 0 end\n"
                 "function Step() n = n + 1; print('a:Step'); if n == 2 then forceNewRoom('c'); forceNewRoom('b') end end\n"
                 "function Render() drawImage(getImageHandle('red.png'), 10, 10) end\n"
                 "function ShutDown() print('a:ShutDown') end\n");
    project.room("b", "[objects]\nBox\nBox\n",
                 "forceNewRoom('c')\nprint('b:script')\n"
                 "function Init() local count = 0; for _ in pairs(instTable) do count = count + 1 end\n"
                 "  print('b:Init', count); instTable.box = Box:new(); forceNewRoom('c') end\n"
                 "function Step() m = (m or 0) + 1; print('b:Step', m); if m == 2 then os.exit(0) end end\n");
    project.room("c", "", "print('c:script')\n");
    const ProcessResult built = project.compile();
    ASSERT_EQ(0, built.exitCode) << built.err;
    EXPECT_NE(std::string::npos, built.err.find("'Box' is listed twice in [objects]")) << built.err;
    const std::string game = project.game(), save = game + "/e2e1Save.qfs";
    // A fresh class table holds only __index and new before its script runs.
    const std::string transcript =
        lines({"Ball:script", "a:script", "a:Init\ttrue\ttrue\t320\t200\ttrue\ttrue\t41", "Ball:Init", "Ball:Init",
               "Ball:Step", "Ball:Step", "a:Step", "Ball:Step", "Ball:Step", "a:Step",  // a asks for c, then b
               "Ball:ShutDown", "Ball:ShutDown", "a:ShutDown",                         // the old room ends,
               "Box:script\t2\tfalse", "Box:script\t2\tfalse", "b:script", "b:Init\t0", "Box:Init\ttrue",
               "Box:Step", "b:Step\t1", "Box:Step", "b:Step\t2"});  // the new one starts and stays
    expectPlay(game, transcript, noArchiveLine(), ENDS_ITSELF);
    EXPECT_EQ(int32LE(41), readFile(save));

    const ProcessResult packed = runPackTool({"pack", "e2e.qfa", "Projects/e2e"}, game);
    ASSERT_EQ(0, packed.exitCode) << packed.err;
    ASSERT_EQ(0, system(("cd '" + game + "' && mv Projects ../unpacked && rm e2e1Save.qfs").c_str()));
    expectPlay(game, transcript, "", ENDS_ITSELF);
    EXPECT_EQ(int32LE(41), readFile(save)) << "the save goes to disk beside the archive";
}

}  // namespace
