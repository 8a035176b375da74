// resources/resource_script.h - resource lists, handles, forceNewRoom and isGameFocused.
// Threads: main thread only (script calls).
#pragma once

struct lua_State;
struct ResourceRecord;

bool registerResourceListFunctions(lua_State *L);

// The record behind argument `index` when it is a handle of `type`; null for anything else
// (nil, numbers, tables, or a handle of another type), which callers treat as "not ready".
ResourceRecord *handleArgument(lua_State *L, int index, int type);
