// resources/resource_script.cpp - the resource-list script functions and the handle functions.
// The list logic itself is in resource_list.cpp; these only check and convert arguments.
// A name that Lua cannot turn into text (nil, table, boolean) raises the function's usage message.
// Threads: main thread only.
#include "resources/resource_script.h"

#include "core/rooms.h"
#include "core/script.h"
#include "graphics/display.h"
#include "resources/registry.h"
#include "resources/resource_list.h"
#include "resources/resource_manager.h"

ResourceRecord *handleArgument(lua_State *L, int index, int type)
{
    if (lua_type(L, index) != LUA_TLIGHTUSERDATA) return nullptr;
    ResourceRecord *record = (ResourceRecord *)lua_touserdata(L, index);
    return record && record->key.type == type ? record : nullptr;
}

// forceNewRoom(roomName): the switch happens at the start of the next step
static int l_forceNewRoom(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg needed: roomName");
    const char *name = lua_tostring(L, 1);
    if (name == nullptr) return raiseUsage(L, "1 arg needed: roomName");
    setPendingRoom(name);
    return 0;
}

// beginResourceList(): forgets the rooms included so far; the current list stays acquired
static int l_beginResourceList(lua_State *L)
{
    if (lua_gettop(L) != 0) return raiseUsage(L, "0 args expected");
    beginResourceList();
    return 0;
}

// includeRoom(roomName, priority): priority kept as a 16-bit number (40000 -> -25536)
static int l_includeRoom(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args needed: roomName, priority");
    const char *name = lua_tostring(L, 1);
    if (name == nullptr) return raiseUsage(L, "2 args needed: roomName, priority");  // nil/table/bool
    const int16_t priority = (int16_t)(uint16_t)lua_tointeger(L, 2);
    includeRoom(name, priority);
    return 0;
}

// endResourceList(): acquires what the included rooms name, then releases the previous list
static int l_endResourceList(lua_State *L)
{
    if (lua_gettop(L) != 0) return raiseUsage(L, "0 args expected");
    endResourceList();
    return 0;
}

// nextResourcePriority() -> -1 idle, 2147483647 urgent, else the next load's priority
static int l_nextResourcePriority(lua_State *L)
{
    lua_pushinteger(L, nextLoadPriority());
    return 1;
}

// resourcesAreLoaded() -> every requested load has finished (pending unloads do not count)
static int l_resourcesAreLoaded(lua_State *L)
{
    lua_pushboolean(L, loadQueueSize() == 0);
    return 1;
}

// Shared body of the handle functions: creates the record if needed, loads nothing.
static int pushHandle(lua_State *L, int type)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg needed: resourceName");
    const char *name = lua_tostring(L, 1);
    if (name == nullptr) return raiseUsage(L, "1 arg needed: resourceName");  // nil/table/bool
    ResourceRecord *record = findOrCreateResource({name, resourceDirectory(type), type});
    lua_pushlightuserdata(L, record);  // the key's strings died at the ';' above
    return 1;
}

static int l_getSoundHandle(lua_State *L) { return pushHandle(L, RESOURCE_SOUND); }
static int l_getMusicHandle(lua_State *L) { return pushHandle(L, RESOURCE_MUSIC); }
static int l_getFontHandle(lua_State *L) { return pushHandle(L, RESOURCE_FONT); }
static int l_getImageHandle(lua_State *L) { return pushHandle(L, RESOURCE_IMAGE); }
static int l_getScriptHandle(lua_State *L) { return pushHandle(L, RESOURCE_SCRIPT); }
static int l_getModelHandle(lua_State *L) { return pushHandle(L, RESOURCE_MODEL); }
static int l_getAnimHandle(lua_State *L) { return pushHandle(L, RESOURCE_ANIMATION); }

// isGameFocused() -> the window has the input focus
static int l_isGameFocused(lua_State *L)
{
    lua_pushboolean(L, isFocused());
    return 1;
}

static const luaL_Reg resourceListFunctions[] = {
    {"forceNewRoom", l_forceNewRoom},
    {"beginResourceList", l_beginResourceList},
    {"includeRoom", l_includeRoom},
    {"endResourceList", l_endResourceList},
    {"nextResourcePriority", l_nextResourcePriority},
    {"resourcesAreLoaded", l_resourcesAreLoaded},
    {"getSoundHandle", l_getSoundHandle},
    {"getMusicHandle", l_getMusicHandle},
    {"getFontHandle", l_getFontHandle},
    {"getImageHandle", l_getImageHandle},
    {"getScriptHandle", l_getScriptHandle},
    {"getModelHandle", l_getModelHandle},
    {"getAnimHandle", l_getAnimHandle},
    {"isGameFocused", l_isGameFocused},
    {nullptr, nullptr}};

bool registerResourceListFunctions(lua_State *L)
{
    registerFunctions(L, resourceListFunctions);
    return true;
}
