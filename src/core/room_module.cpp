// core/room_module.cpp - _STEP and _RENDER, called through registry references.
// Threads: main thread only.
#include "core/room_module.h"

#include "core/rooms.h"
#include "core/script.h"

static const char *STEP_RENDER_CHUNK =
    "function _STEP() for a,b in pairs(instTable) do b:Step() end;Step() end\n"
    "function _RENDER() for a,b in pairs(instTable) do b:Render() end;Render() end\n";

// Calls the function behind `ref` with no arguments; reports an error, then empties the stack.
static void callReference(lua_State *L, int ref)
{
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
    if (lua_pcall(L, 0, 0, 0) != 0) reportScriptError(L);
    lua_settop(L, 0);
}

void QFRoomModule::init()
{
    lua_State *L = scriptState();
    runChunk(L, STEP_RENDER_CHUNK, "");
    stepRef = renderRef = -1;
    lua_getfield(L, LUA_GLOBALSINDEX, "_STEP");
    stepRef = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_getfield(L, LUA_GLOBALSINDEX, "_RENDER");
    renderRef = luaL_ref(L, LUA_REGISTRYINDEX);
}

void QFRoomModule::step()
{
    switchToPendingRoom();
    callReference(scriptState(), stepRef);
}

void QFRoomModule::render() { callReference(scriptState(), renderRef); }

void QFRoomModule::shutDown()
{
    lua_State *L = scriptState();
    luaL_unref(L, LUA_REGISTRYINDEX, stepRef);
    luaL_unref(L, LUA_REGISTRYINDEX, renderRef);
}
