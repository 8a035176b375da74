// The script glue on a real Lua state: argument-count errors, error reports, and a frame loop
// whose room module keeps going after a script error.
#include <gtest/gtest.h>

#include <vector>

#include "core/frame_loop.h"
#include "core/input.h"
#include "core/project.h"
#include "core/room_module.h"
#include "core/rooms.h"
#include "core/script.h"
#include "graphics/renderer.h"
#include "resources/resource_script.h"
#include "test_support.h"

namespace {

// A state with the engine's first three libraries, registered as start-up does.
static lua_State *newEngineState()
{
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    registerDrawingFunctions(L);
    registerInputFunctions(L);
    registerResourceListFunctions(L);
    return L;
}

// Calls global `name` with `count` numeric arguments in protected mode. Returns the error
// value's text ("(no error)" when the call succeeded, "(not a string)" for other values).
static std::string callWithCount(lua_State *L, const char *name, int count)
{
    lua_settop(L, 0);
    lua_getglobal(L, name);
    if (!lua_isfunction(L, -1)) return std::string("(no function ") + name + ")";
    for (int i = 0; i < count; i++) lua_pushinteger(L, i + 1);
    if (lua_pcall(L, count, LUA_MULTRET, 0) == 0) {
        lua_settop(L, 0);
        return "(no error)";
    }
    std::string text = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "(not a string)";
    lua_settop(L, 0);
    return text;
}

// Every function with an exact count refuses one argument fewer, one more, and none (or one,
// for functions without arguments) with its fixed message, and nothing else: no position.
TEST(ScriptGlue, EveryWrongArgumentCountRaisesItsExactMessage)
{
    struct Case
    {
        const char *name;
        int count;  // the one count accepted
        const char *message;
    };
    const Case cases[] = {
        // drawing
        {"setBackgroundColor", 3, "3 args needed: red, green, blue"},
        {"setRenderColor", 4, "4 args needed: red, green, blue, alpha"},
        {"pushMatrix", 0, "0 args needed"},
        {"rotateRender", 1, "1 arg needed"},
        {"scaleRender", 2, "2 args needed"},
        {"translateRender", 3, "3 args needed"},
        {"popMatrix", 0, "0 args needed"},
        {"drawCircle", 4, "4 args needed: x, y, radius, filled"},
        {"drawRectangle", 5, "5 args needed: x1, y1, x2, y2, filled"},
        {"drawLine", 4, "4 args needed: x1, y1, x2, y2"},
        {"drawRectangleExt", 8, "8 args needed: x1, y1, x2, y2, filled, rotation, pivotX, pivotY"},
        {"drawImagePart", 7, "7 args needed: image, x, y, imgX1, imgY1, imgX2, imgY2"},
        {"drawImagePartExt", 12,
         "12 args needed: image, x, y, imgX1, imgY1, imgX2, imgY2, rot, scaleX, scaleY, rotateX, rotateY"},
        {"drawImage", 3, "3 args needed: image, x, y"},
        {"drawImageExt", 5, "5 args needed: image, x, y, rot, scale"},
        // input
        {"keyDown", 1, "1 arg needed: key"},
        {"keyPressed", 1, "1 arg needed: key"},
        {"keyReleased", 1, "1 arg needed: key"},
        {"mouseDown", 1, "1 arg needed: button"},
        {"mousePressed", 1, "1 arg needed: button"},
        {"mouseReleased", 1, "1 arg needed: button"},
        // resource lists and handles
        {"forceNewRoom", 1, "1 arg needed: roomName"},
        {"beginResourceList", 0, "0 args expected"},
        {"includeRoom", 2, "2 args needed: roomName, priority"},
        {"endResourceList", 0, "0 args expected"},
        {"getSoundHandle", 1, "1 arg needed: resourceName"},
        {"getMusicHandle", 1, "1 arg needed: resourceName"},
        {"getFontHandle", 1, "1 arg needed: resourceName"},
        {"getImageHandle", 1, "1 arg needed: resourceName"},
        {"getScriptHandle", 1, "1 arg needed: resourceName"},
        {"getModelHandle", 1, "1 arg needed: resourceName"},
        {"getAnimHandle", 1, "1 arg needed: resourceName"},
    };
    lua_State *L = newEngineState();
    for (const Case &c : cases) {
        std::vector<int> wrong = {c.count + 1, c.count == 0 ? 3 : 0};
        if (c.count > 1) wrong.push_back(c.count - 1);
        for (int count : wrong)
            EXPECT_EQ(c.message, callWithCount(L, c.name, count)) << c.name << " with " << count << " args";
    }
    // Functions without arguments that accept any count.
    const char *anyCount[] = {"getDisplayWidth", "getDisplayHeight", "mouseX", "mouseY",
                              "nextResourcePriority", "resourcesAreLoaded", "isGameFocused"};
    for (const char *name : anyCount)
        for (int count : {0, 1, 4}) EXPECT_EQ("(no error)", callWithCount(L, name, count)) << name << " with " << count;
    // The message is the whole error value, also when a script catches it.
    ASSERT_EQ(0, luaL_dostring(L, "local ok, e = pcall(keyDown) MSG = e"));
    lua_getglobal(L, "MSG");
    EXPECT_STREQ("1 arg needed: key", lua_tostring(L, -1));
    lua_close(L);
}

// The reporter prints the value's text and a newline, or only the newline, and pops it.
TEST(ScriptGlue, ReportScriptErrorPrintsTextAndNewline)
{
    lua_State *L = luaL_newstate();
    struct Case
    {
        const char *name;
        void (*push)(lua_State *L);
        std::string printed;
    };
    const Case cases[] = {
        {"string", [](lua_State *L) { lua_pushstring(L, "1 arg needed: key"); }, "1 arg needed: key\n"},
        {"integer", [](lua_State *L) { lua_pushinteger(L, 42); }, "42\n"},
        {"real", [](lua_State *L) { lua_pushnumber(L, 1.5); }, "1.5\n"},
        {"embedded zero", [](lua_State *L) { lua_pushlstring(L, "a\0b", 3); }, std::string("a\0b\n", 4)},
        {"nil", [](lua_State *L) { lua_pushnil(L); }, "\n"},
        {"table", [](lua_State *L) { lua_newtable(L); }, "\n"},
        {"boolean", [](lua_State *L) { lua_pushboolean(L, 1); }, "\n"},
    };
    for (const Case &c : cases) {
        lua_pushstring(L, "below");
        c.push(L);
        EXPECT_EQ(c.printed, captureStderr([&] { reportScriptError(L); })) << c.name;
        EXPECT_EQ(1, lua_gettop(L)) << c.name << ": the value was not popped";
        EXPECT_STREQ("below", lua_tostring(L, 1)) << c.name;
        lua_settop(L, 0);
    }
    lua_close(L);
}

// Chunks run protected under the name given: a syntax error is reported and nothing runs, a
// run-time error is reported and ends only that chunk.
TEST(ScriptGlue, ChunksReportTheirErrorsAndTheStateGoesOn)
{
    lua_State *L = newEngineState();
    struct Case
    {
        const char *code, *chunkName;
        bool ok;
        std::string printed;
    };
    const Case cases[] = {
        {"X = 1", "", true, ""},
        {"X = = 2", "", false, "[string \"\"]:1: unexpected symbol near '='\n"},
        {"X = 3 keyDown() X = 4", "", false, "1 arg needed: key\n"},
        {"X = 5 error('stop', 0)", "", false, "stop\n"},
        {"X = 6\nerror('where')", "Projects/t/Objects/Ball", false, "[string \"Projects/t/Objects/Ball\"]:2: where\n"},
        {"X = X + 1", "", true, ""},
    };
    double x[] = {1, 1, 3, 5, 6, 7};
    int i = 0;
    for (const Case &c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(c.printed, captureStderr([&] { ok = runChunk(L, c.code, c.chunkName); })) << c.code;
        EXPECT_EQ(c.ok, ok) << c.code;
        lua_getglobal(L, "X");
        EXPECT_EQ(x[i++], lua_tonumber(L, -1)) << c.code;
        lua_settop(L, 0);
    }
    lua_close(L);
}

// The fake world for the frame loop: a clock that only sleeps move, no window.
static uint32_t fakeNow = 0;
static uint32_t fakeTicks() { return fakeNow; }
static void fakeDelay(uint32_t ms) { fakeNow += ms; }
static void nothing() {}

// Ends the loop after `frames` steps; it steps after the room module.
class StopAfter : public QFFrameModule
{
public:
    explicit StopAfter(int frames) : left(frames) {}
    void step() override
    {
        if (--left == 0) requestQuit();
    }
    int left;
};

// An error in one instance's Step ends that frame's _STEP there: later instances and the room's
// Step miss that frame; the next frame runs them all again. The error is printed once.
TEST(ScriptGlue, ErrorInAnInstanceStepStopsOnlyThatFramesStep)
{
    lua_State *L = newEngineState();
    setFramePlatform({fakeTicks, fakeDelay, nothing, nothing, nothing, nothing});
    startTimer();
    std::string printed = captureStderr([&] {
        ASSERT_TRUE(startGame(L));
        ASSERT_TRUE(runChunk(L,
                             "LOG = {}\n"
                             "local function instance(name, fails)\n"
                             "  return {Step = function(self)\n"
                             "    LOG[#LOG + 1] = name\n"
                             "    if fails and not FAILED then FAILED = true error('broken ' .. name, 0) end\n"
                             "  end, Render = function(self) end}\n"
                             "end\n"
                             "instTable = {instance('a'), instance('b', true), instance('c')}\n"
                             "function Step() LOG[#LOG + 1] = 'room' end\n"
                             "function Render() end",
                             ""));
        addFrameModule(new StopAfter(3));
        EXPECT_EQ(1, runFrameLoop());
    });
    EXPECT_NE(std::string::npos, printed.find("broken b\n")) << printed;
    EXPECT_EQ(printed.find("broken b"), printed.rfind("broken b")) << "reported more than once: " << printed;
    ASSERT_EQ(0, luaL_dostring(L, "RESULT = table.concat(LOG, ' ')"));
    lua_getglobal(L, "RESULT");
    // Frame 1: a, b (fails). Frame 2 and 3: everything.
    EXPECT_STREQ("a b a b c room a b c room", lua_tostring(L, -1));
    setScriptState(nullptr);
    setPendingRoom("");
    resetProject();
    lua_close(L);
}

}  // namespace
