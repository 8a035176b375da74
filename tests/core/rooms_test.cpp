// Rooms and generated classes on a real Lua state, with room files written by the engine's writer.
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/classes.h"
#include "core/config.h"
#include "core/project.h"
#include "core/room_file.h"
#include "core/room_module.h"
#include "core/rooms.h"
#include "core/script.h"
#include "resources/resource_script.h"
#include "test_support.h"

namespace {

TEST(Classes, GeneratedTextIsExact)
{
    EXPECT_EQ("Ball={};Ball.__index=Ball;function Ball:new()\n"
              "local localBall={};setmetatable(localBall,Ball);localBall:Init();return localBall;end",
              classChunk("Ball"));
}

// A project folder "Projects/t/" in a temporary working directory, and a fresh script state
// with the default room callbacks and a LOG table scripts append to.
class RoomTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char buffer[4096];
        previousDir = getcwd(buffer, sizeof buffer);
        ASSERT_EQ(0, chdir(dir.path().c_str()));
        writeFile("Quillfen.ini", "[project]\ncodename = t\n");
        clearConfig();
        loadConfig("Quillfen.ini");
        resetProject();
        loadProject();
        ASSERT_EQ("Projects/t/", projectDirectory());
        ASSERT_EQ(0, system("mkdir -p Projects/t/Rooms Projects/t/Objects"));
        L = luaL_newstate();
        luaL_openlibs(L);
        registerResourceListFunctions(L);
        setScriptState(L);
        runChunk(L, "instTable={};function Init() end;function Step() end;function Render() end;function ShutDown() end", "");
        runChunk(L, "LOG={} function log(s) LOG[#LOG+1]=s end", "");
        module.init();
    }
    void TearDown() override
    {
        module.shutDown();
        setPendingRoom("");
        if (L) lua_close(L);
        setScriptState(nullptr);
        clearConfig();
        resetProject();
        if (!previousDir.empty()) {
            EXPECT_EQ(0, chdir(previousDir.c_str()));
        }
    }
    void room(const std::string &name, std::vector<std::string> classes, const std::string &script)
    {
        RoomNameLists lists;
        lists.names[ROOM_CLASSES] = std::move(classes);
        ASSERT_TRUE(writeRoomFile("Projects/t/Rooms/" + name, lists, script));
    }
    void object(const std::string &name, const std::string &script) { writeFile("Projects/t/Objects/" + name, script); }
    // Runs one frame's step and returns the LOG entries it added, joined by spaces.
    std::string step()
    {
        runChunk(L, "LOG={}", "");
        module.step();
        return lua("return table.concat(LOG,' ')");
    }
    std::string lua(const std::string &chunk)
    {
        luaL_loadstring(L, chunk.c_str());
        lua_pcall(L, 0, 1, 0);
        std::string result = lua_tostring(L, -1) ? lua_tostring(L, -1) : "<nil>";
        lua_pop(L, 1);
        return result;
    }

    TempDir dir;
    std::string previousDir;
    lua_State *L = nullptr;
    QFRoomModule module;
};

TEST_F(RoomTest, ConstructorMakesDistinctInstancesAfterInit)
{
    object("Ball", "function Ball:Init() log('init') end");
    room("r", {"Ball"}, "a=Ball:new() b=Ball:new()");
    EXPECT_TRUE(switchRoom("Projects/t/Rooms/r"));
    EXPECT_EQ("true true true", lua("return tostring(a~=b)..' '..tostring(getmetatable(a)==Ball)..' '..tostring(getmetatable(b)==Ball)"));
    EXPECT_EQ("init init", lua("return table.concat(LOG,' ')"));
}

TEST_F(RoomTest, SwitchEndsTheOldRoomThenStartsTheNewOneInTheSameStep)
{
    object("Ball", "function Ball:Init() self.n=#instTable+1 log('Ball.Init') end\n"
                   "function Ball:Step() log('Ball.Step') end function Ball:Render() end\n"
                   "function Ball:ShutDown() log('Ball.ShutDown') end");
    room("a", {"Ball"}, "function Init() instTable[1]=Ball:new() log('A.Init') end\n"
                        "function Step() log('A.Step') if goB then forceNewRoom('b') end end\n"
                        "function ShutDown() log('A.ShutDown') end");
    room("b", {}, "function Init() log('B.Init') end function Step() log('B.Step') end");
    runChunk(L, "forceNewRoom('a')", "");
    EXPECT_EQ("Ball.Init A.Init Ball.Step A.Step", step());
    EXPECT_EQ("Ball.Step A.Step", step());
    runChunk(L, "goB=true", "");
    EXPECT_EQ("Ball.Step A.Step", step());  // the request waits for the next step
    EXPECT_EQ("Ball.ShutDown A.ShutDown B.Init B.Step", step());
    EXPECT_EQ("0", lua("local n=0 for _ in pairs(instTable) do n=n+1 end return n"));
}

TEST_F(RoomTest, RequestsTwiceInAFrameAndDuringASwitch)
{
    room("a", {}, "function Init() log('A') forceNewRoom('c') end");  // lost: made during the switch
    room("b", {}, "function Init() log('B') end");
    room("c", {}, "function Init() log('C') end");
    runChunk(L, "forceNewRoom('c') forceNewRoom('a')", "");  // only the last counts
    EXPECT_EQ("A", step());
    EXPECT_EQ("", pendingRoom());
    EXPECT_EQ("", step());
}

TEST_F(RoomTest, MissingRoomEndsTheOldOneAndStartsNothing)
{
    room("a", {}, "instTable[1]={ShutDown=function() log('inst.ShutDown') end,Step=function() log('inst.Step') end}\n"
                  "function Step() log('A.Step') end function ShutDown() log('A.ShutDown') end");
    EXPECT_TRUE(switchRoom("Projects/t/Rooms/a"));
    std::string err;
    bool result = true;
    err = captureStderr([&] { result = switchRoom("Projects/t/Rooms/nowhere"); });
    EXPECT_FALSE(result);
    EXPECT_EQ("", err);
    EXPECT_EQ("", step());  // no instances, empty callbacks
}

TEST_F(RoomTest, RoomFileEndingAfterItsListsStillRunsInit)
{
    room("bare", {}, "");
    runChunk(L, "function Init() log('stale Init') end", "");
    EXPECT_TRUE(switchRoom("Projects/t/Rooms/bare"));  // Init was reset to the empty default first
    EXPECT_EQ("", lua("return table.concat(LOG,' ')"));
}

TEST_F(RoomTest, ClassesAreRebuiltEveryTimeARoomListsThem)
{
    object("Ball", "log('Ball script') function Ball:Init() end function Ball:Kick() return 'kicked' end");
    room("twice", {"Ball", "Ball"}, "keep=Ball:new()");
    EXPECT_TRUE(switchRoom("Projects/t/Rooms/twice"));
    EXPECT_EQ("Ball script Ball script", lua("return table.concat(LOG,' ')"));
    object("Ball", "function Ball:Init() end function Ball:Throw() end");
    room("again", {"Ball"}, "");
    EXPECT_TRUE(switchRoom("Projects/t/Rooms/again"));
    // The old instance keeps the old class table; the new class has only the new methods.
    EXPECT_EQ("kicked nil", lua("return keep:Kick()..' '..tostring(Ball.Kick)"));
    EXPECT_EQ("nil", lua("return tostring(keep.Throw)"));
}

TEST_F(RoomTest, ScriptErrorsAreReportedAndTheSwitchGoesOn)
{
    object("Broken", "function Broken:Init( end");
    object("Fails", "error('object says no')");
    room("r", {"Broken", "Fails", "Missing", "1Bad"}, "log('room script ran') function Init() log('Init ran') end");
    std::string err = captureStderr([&] { EXPECT_TRUE(switchRoom("Projects/t/Rooms/r")); });
    EXPECT_NE(std::string::npos, err.find("[string \"Projects/t/Objects/Broken\"]:1:")) << err;
    EXPECT_NE(std::string::npos, err.find("[string \"Projects/t/Objects/Fails\"]:1: object says no")) << err;
    EXPECT_NE(std::string::npos, err.find("[string \"\"]:1: malformed number near '1Bad'")) << err;
    EXPECT_EQ("room script ran Init ran", lua("return table.concat(LOG,' ')"));
    EXPECT_EQ("table", lua("return type(Missing)"));  // generated, but no script gave it methods
}

TEST_F(RoomTest, InstanceWithoutShutDownAbandonsTheEndOfTheRoom)
{
    room("a", {}, "instTable[1]={} function ShutDown() log('A.ShutDown') end");
    room("b", {}, "function Init() log('B.Init') end");
    EXPECT_TRUE(switchRoom("Projects/t/Rooms/a"));
    std::string err = captureStderr([&] { EXPECT_TRUE(switchRoom("Projects/t/Rooms/b")); });
    EXPECT_NE(std::string::npos, err.find("ShutDown")) << err;
    EXPECT_EQ("B.Init", lua("return table.concat(LOG,' ')"));      // A's ShutDown never ran
    EXPECT_EQ("1", lua("local n=0 for _ in pairs(instTable) do n=n+1 end return n"));  // not reset
}

}  // namespace
