// core/input_script.cpp - KEY_* / BUTTON_* constants and the eight input functions.
// Threads: main thread only.
#include "core/input.h"
#include "core/script.h"

static const char *const KEY_NAMES[KEY_SLOTS] = {
    "KEY_LEFT", "KEY_RIGHT", "KEY_UP", "KEY_DOWN",
    "KEY_A", "KEY_B", "KEY_C", "KEY_D", "KEY_E", "KEY_F", "KEY_G", "KEY_H", "KEY_I", "KEY_J", "KEY_K", "KEY_L", "KEY_M",
    "KEY_N", "KEY_O", "KEY_P", "KEY_Q", "KEY_R", "KEY_S", "KEY_T", "KEY_U", "KEY_V", "KEY_W", "KEY_X", "KEY_Y", "KEY_Z",
    "KEY_SPACE", "KEY_ENTER", "KEY_ESCAPE", "KEY_SHIFT", "KEY_CONTROL",
    "KEY_0", "KEY_1", "KEY_2", "KEY_3", "KEY_4", "KEY_5", "KEY_6", "KEY_7", "KEY_8", "KEY_9",
    "KEY_TAB", "KEY_ALT", nullptr /* 47: Delete has no constant */, "KEY_BACKSPACE"};

// Shared body of the six flag queries: exactly one code argument, boolean result.
static int pushFlag(lua_State *L, bool (*query)(int), const char *usage)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, usage);
    lua_pushboolean(L, query((int)lua_tointeger(L, 1)));
    return 1;
}

// keyDown(key) -> held as of this frame
static int l_keyDown(lua_State *L) { return pushFlag(L, keyDown, "1 arg needed: key"); }
// keyPressed(key) -> went down since the previous frame
static int l_keyPressed(lua_State *L) { return pushFlag(L, keyPressed, "1 arg needed: key"); }
// keyReleased(key) -> went up since the previous frame
static int l_keyReleased(lua_State *L) { return pushFlag(L, keyReleased, "1 arg needed: key"); }
static int l_mouseDown(lua_State *L) { return pushFlag(L, mouseDown, "1 arg needed: button"); }
static int l_mousePressed(lua_State *L) { return pushFlag(L, mousePressed, "1 arg needed: button"); }
static int l_mouseReleased(lua_State *L) { return pushFlag(L, mouseReleased, "1 arg needed: button"); }
// mouseX() / mouseY() -> pointer in drawing coordinates; any argument count
static int l_mouseX(lua_State *L)
{
    lua_pushinteger(L, mouseX());
    return 1;
}
static int l_mouseY(lua_State *L)
{
    lua_pushinteger(L, mouseY());
    return 1;
}

static const luaL_Reg inputFunctions[] = {
    {"keyDown", l_keyDown},         {"keyPressed", l_keyPressed},     {"keyReleased", l_keyReleased},
    {"mouseDown", l_mouseDown},     {"mousePressed", l_mousePressed}, {"mouseReleased", l_mouseReleased},
    {"mouseX", l_mouseX},           {"mouseY", l_mouseY},             {nullptr, nullptr}};

bool registerInputFunctions(lua_State *L)
{
    for (int code = 0; code < KEY_SLOTS; code++)
        if (KEY_NAMES[code]) registerConstant(L, KEY_NAMES[code], code);
    registerConstant(L, "BUTTON_LEFT", 0);
    registerConstant(L, "BUTTON_RIGHT", 1);
    registerConstant(L, "BUTTON_MIDDLE", 2);
    registerFunctions(L, inputFunctions);
    return true;
}
