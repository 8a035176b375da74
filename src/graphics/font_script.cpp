// graphics/font_script.cpp - the text script functions, drawText and getTextWidth.
// A font argument is a font handle (light userdata naming a type-8 record); anything else counts
// as a font that is not ready. Fonts are used under their record's lock (resources/registry.h),
// so the loader thread cannot free one while it is drawn or measured.
// Threads: main thread only (script calls, window GL context current).
#include <cmath>

#include "core/script.h"
#include "graphics/font.h"
#include "resources/registry.h"
#include "resources/resource_script.h"

// drawText(font, text, x, y, rotation, scale): x, y read as integers; rotation and scale
// truncated toward zero to whole numbers (a scale of 0.9 draws nothing visible)
static int drawText(lua_State *L)
{
    if (lua_gettop(L) != 6) return raiseUsage(L, "6 args needed: font, text, x, y, rotation, scale");
    ResourceRecord *record = handleArgument(L, 1, RESOURCE_FONT);
    const char *text = lua_tostring(L, 2);  // nil, booleans, tables: nothing to draw
    const float x = float(lua_tointeger(L, 3));
    const float y = float(lua_tointeger(L, 4));
    const float rotation = std::trunc(float(lua_tonumber(L, 5)));
    const float scale = std::trunc(float(lua_tonumber(L, 6)));
    if (record == nullptr || text == nullptr) return 0;
    // A font that is not loaded is none (fonts have no placeholder): nothing drawn. That is the
    // readiness check; a separate one would only take the lock once more.
    const Font *font = static_cast<const Font *>(lockResource(record));
    renderText(font, x, y, text, rotation, scale);
    unlockResource(record);
    return 0;
}

// getTextWidth(font, text) -> width in pixels, 0 while the font is not ready
static int getTextWidth(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 arg needed: font, text");
    ResourceRecord *record = handleArgument(L, 1, RESOURCE_FONT);
    const char *text = lua_tostring(L, 2);
    int32_t width = 0;
    if (record != nullptr && text != nullptr) {  // none while not loaded: width 0
        const Font *font = static_cast<const Font *>(lockResource(record));
        width = textWidth(font, text);
        unlockResource(record);
    }
    lua_pushinteger(L, width);  // width
    return 1;
}

bool registerTextFunctions(lua_State *L)
{
    static const luaL_Reg functions[] = {
        {"drawText", drawText},
        {"getTextWidth", getTextWidth},
        {nullptr, nullptr},
    };
    registerFunctions(L, functions);
    return true;
}
