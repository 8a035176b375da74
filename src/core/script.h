// core/script.h - the one Lua state, the registration convention, chunks and error reports.
// Every engine function is a plain global; constants are global integers. Every function checks
// its exact argument count first and raises a fixed message with no position (raiseUsage).
// Every chunk and frame callback runs in protected mode: a script error is printed on stderr
// and never stops the engine.
// Threads: main thread only. Code on the loader or audio thread never touches Lua.
#pragma once

#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

lua_State *scriptState();             // the state stored by startGame; nullptr before
void setScriptState(lua_State *L);

// Pushes `message` and raises it as the error value: no "chunk:line:" prefix.
// WARNING: longjmps; call it before any std::string or container lives in the frame.
int raiseUsage(lua_State *L, const char *message);

// _G[name] = function / integer, for each entry of a null-terminated table.
void registerFunctions(lua_State *L, const luaL_Reg *functions);
void registerConstant(lua_State *L, const char *name, int value);

// Prints the value on top of the stack (as text, or nothing) and "\n" on stderr, then pops it.
void reportScriptError(lua_State *L);
// Who else hears of each reported error (its text, as printed without the newline): the
// development mode's panel. nullptr (the default) for no one.
void setScriptErrorListener(void (*listener)(const std::string &text));
// Loads `text` under `chunkName` and calls it protected; errors are reported. True when it ran clean.
bool runChunk(lua_State *L, const std::string &text, const std::string &chunkName);
// Same for a byte buffer (object scripts read from files).
bool runBuffer(lua_State *L, const char *data, size_t size, const std::string &chunkName);

// Game start: boot chunks, resource directories, the first room's resource list, the loading
// room, and the room frame module. True when the module was added.
bool startGame(lua_State *L);
