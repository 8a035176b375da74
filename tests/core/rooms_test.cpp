// Rooms and classes in-process, for what tests/e2e/rooms_e2e_test.cpp cannot see.
#include <gtest/gtest.h>

#include "core/classes.h"
#include "core/project.h"
#include "core/room_file.h"
#include "core/rooms.h"
#include "core/script.h"
#include "test_support.h"

namespace {

// Catches any change to the generated class text (games depend on its globals).
TEST(Classes, GeneratedTextIsExact)
{
    EXPECT_EQ("Ball={};Ball.__index=Ball;function Ball:new()\n"
              "local localBall={};setmetatable(localBall,Ball);localBall:Init();return localBall;end",
              classChunk("Ball"));
}

// Catches a switch stopped by bad classes, a stale Init run, an end of room not abandoned without ShutDown.
TEST(Rooms, ErrorsAndMissingCallbacksDuringSwitches)
{
    WorkDir dir;
    useConfig("");
    loadProject();  // no codename: the project directory is "Projects//"
    ASSERT_EQ(0, system("mkdir -p Projects/Rooms"));  // object script errors: tests/e2e/bad_input_test.cpp
    const struct { const char *room; std::vector<std::string> classes; const char *script, *printed, *log; } cases[] = {
        {"r", {"Missing", "1Bad"}, "log('room script ran') function Init() log('Init ran') end",
         "[string \"\"]:1: malformed number near '1Bad'\n", "room script ran Init ran"},
        {"bare", {}, "", "", ""},
        {"a", {}, "instTable[1]={} function ShutDown() log('A.ShutDown') end", "", ""},
        {"b", {}, "function Init() log('B.Init') end", "[string \"\"]:1: attempt to call method 'ShutDown' (a nil value)\n",
         "B.Init"},
    };
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    setScriptState(L);
    runChunk(L, "instTable={} function Init() end function Step() end function Render() end function ShutDown() end", "");
    for (const auto &c : cases) {
        RoomNameLists lists;
        lists.names[ROOM_CLASSES] = c.classes;
        ASSERT_TRUE(writeRoomFile(std::string("Projects//Rooms/") + c.room, lists, c.script));
        runChunk(L, "LOG={} function log(s) LOG[#LOG+1]=s end", "");
        bool switched = false;
        EXPECT_EQ(c.printed, captureStderr([&] { switched = switchRoom(std::string("Projects//Rooms/") + c.room); }));
        EXPECT_TRUE(switched) << c.room;
        EXPECT_EQ(c.log, luaValue(L, "table.concat(LOG, ' ')")) << c.room;
    }
    EXPECT_EQ("table", luaValue(L, "type(Missing)")) << "a class without a script is still generated";
    EXPECT_EQ("1", luaValue(L, "#instTable")) << "the abandoned room's instances stay";
    setScriptState(nullptr);
    lua_close(L);
    resetProject();
}

}  // namespace
