// save/save.cpp - save games.
// TODO: save files arrive with the data file.
#include "save/save.h"

bool registerSavedVariable(uint8_t typeCode, const std::string &name)
{
    (void)name;
    return typeCode != 0;
}

bool registerSaveFunctions(lua_State *L)
{
    (void)L;
    return true;
}
