// save/save.h - save slots: declared globals written to and read from one file per slot.
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <string>

struct lua_State;

bool registerSavedVariable(uint8_t typeCode, const std::string &name);  // false for code 0
bool registerSaveFunctions(lua_State *L);  // also fixes the save path from the configuration
