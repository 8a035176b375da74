// core/engine.h - start-up, the frame loop and shutdown, in the engine's fixed order.
// Nothing at start-up is fatal: each subsystem that fails leaves the engine running reduced
// (loose files without an archive, silence without audio, no picture without a display).
// Threads: main thread.
#pragma once

struct lua_State;
void registerScriptFunctions(lua_State *L);  // the standard libraries and every engine function scripts see

bool startEngine();  // configuration ... game start; always true
int runEngine();     // the frame loop until the window's quit event
void stopEngine();   // resource manager, archive, Lua, display, audio, timer

int engineMain();    // all three; the process exit code (0)
