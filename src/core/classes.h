// core/classes.h - the Lua class every object type gets before its own script runs.
// Threads: main thread only.
#pragma once

#include <string>

struct lua_State;

// The generated chunk for class `name`: a table that is its own __index and a `new` that makes
// an instance with the class as metatable and calls its Init.
std::string classChunk(const std::string &name);
// Runs classChunk(name) (chunk name ""); false, after reporting the error, when it fails.
bool generateClass(lua_State *L, const std::string &name);
