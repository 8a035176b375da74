// graphics/font.cpp - bitmap fonts.
// TODO: fonts are not built yet.
#include "graphics/font.h"

bool registerFontResource() { return true; }
bool registerTextFunctions(lua_State *L)
{
    (void)L;
    return true;
}
