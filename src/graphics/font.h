// graphics/font.h - bitmap fonts and text.
#pragma once

struct lua_State;

bool registerFontResource();                // resource type 8 (fonts)
bool registerTextFunctions(lua_State *L);   // drawText, getTextWidth
