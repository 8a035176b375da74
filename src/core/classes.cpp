// core/classes.cpp - generated class code.
// The class name goes into the Lua text unchecked: a name that is not a Lua identifier makes
// the chunk fail to compile, which is reported like any script error.
// Threads: main thread only.
#include "core/classes.h"

#include "core/script.h"

std::string classChunk(const std::string &name)
{
    const std::string &N = name;
    return N + "={};" + N + ".__index=" + N + ";function " + N + ":new()\nlocal local" + N + "={};setmetatable(local" + N +
           "," + N + ");local" + N + ":Init();return local" + N + ";end";
}

bool generateClass(lua_State *L, const std::string &name) { return runChunk(L, classChunk(name), ""); }
