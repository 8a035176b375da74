// graphics/renderer.cpp - drawing.
// TODO: the drawing functions are not built yet.
#include "graphics/renderer.h"

bool registerDrawingFunctions(lua_State *L)
{
    (void)L;
    return true;
}
