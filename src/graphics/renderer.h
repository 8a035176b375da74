// graphics/renderer.h - the drawing functions and the operations behind them.
#pragma once

struct lua_State;

bool registerDrawingFunctions(lua_State *L);
