// save/save_script.cpp - the script functions saveGame(slotName) and loadGame(slotName).
// Globals are read and set with raw access on the globals table: no metamethod runs (so a
// strict-globals script cannot raise an error in the middle of a save), and nothing but a
// memory error can longjmp over the C++ values built here.
// Threads: main thread only.
#include <cstring>

#include "core/log.h"
#include "core/script.h"
#include "save/save.h"

// ---- reading globals for a save; each wrong type prints its line and gives the default

static void pushGlobal(lua_State *L, const std::string &name)  // -> value
{
    lua_pushlstring(L, name.data(), name.size());
    lua_rawget(L, LUA_GLOBALSINDEX);
}

static bool booleanAt(lua_State *L, int index)
{
    if (lua_isboolean(L, index)) return lua_toboolean(L, index) != 0;
    logError("Invalid type being saved. Expected boolean.");
    return false;
}

static int32_t integerAt(lua_State *L, int index)
{
    if (lua_isnumber(L, index)) return static_cast<int32_t>(lua_tointeger(L, index));
    logError("Invalid type being saved. Expected integer.");
    return 0;
}

static float floatAt(lua_State *L, int index)
{
    if (lua_isnumber(L, index)) return static_cast<float>(lua_tonumber(L, index));
    logError("Invalid type being saved. Expected float.");
    return 0.0f;
}

// Numbers are written in their text form; the text ends at its first zero byte.
static std::string stringAt(lua_State *L, int index)
{
    if (lua_isstring(L, index)) {
        lua_pushvalue(L, index);  // tostring converts in place: convert a copy
        const char *text = lua_tostring(L, -1);
        std::string value(text, strlen(text));
        lua_settop(L, -2);
        return value;
    }
    logError("Invalid type being saved. Expected string.");
    return std::string();
}

// Calls `element` for t[1], t[2] ... up to the first nil (raw access); nothing when not a table.
template <typename T, typename Read>
static std::vector<T> arrayGlobal(lua_State *L, const std::string &name, Read element)
{
    std::vector<T> values;
    pushGlobal(L, name);
    if (lua_istable(L, -1)) {
        for (int i = 1;; i++) {
            lua_rawgeti(L, -1, i);
            if (lua_isnil(L, -1)) {
                lua_settop(L, -2);
                break;
            }
            values.push_back(element(L, -1));
            lua_settop(L, -2);
        }
    }
    lua_settop(L, -2);
    return values;
}

template <typename T, typename Read>
static std::vector<T> scalarGlobals(lua_State *L, SaveType type, Read element)
{
    std::vector<T> values;
    for (const std::string &name : savedVariables(type)) {
        pushGlobal(L, name);
        values.push_back(element(L, -1));
        lua_settop(L, -2);
    }
    return values;
}

template <typename T, typename Read>
static std::vector<std::vector<T>> arrayGlobals(lua_State *L, SaveType type, Read element)
{
    std::vector<std::vector<T>> arrays;
    for (const std::string &name : savedVariables(type)) arrays.push_back(arrayGlobal<T>(L, name, element));
    return arrays;
}

static bool saveSlot(lua_State *L, const std::string &slotName)
{
    SaveValues values;
    values.booleans = scalarGlobals<bool>(L, SAVE_BOOLEAN, booleanAt);
    values.integers = scalarGlobals<int32_t>(L, SAVE_INTEGER, integerAt);
    values.floats = scalarGlobals<float>(L, SAVE_FLOAT, floatAt);
    values.strings = scalarGlobals<std::string>(L, SAVE_STRING, stringAt);
    values.booleanArrays = arrayGlobals<bool>(L, SAVE_BOOLEAN_ARRAY, booleanAt);
    values.integerArrays = arrayGlobals<int32_t>(L, SAVE_INTEGER_ARRAY, integerAt);
    values.floatArrays = arrayGlobals<float>(L, SAVE_FLOAT_ARRAY, floatAt);
    values.stringArrays = arrayGlobals<std::string>(L, SAVE_STRING_ARRAY, stringAt);
    return writeSaveFile(saveFileName(slotName), values);
}

// ---- setting globals from a load

static void setGlobal(lua_State *L, const std::string &name)  // value ->
{
    lua_pushlstring(L, name.data(), name.size());
    lua_insert(L, -2);
    lua_rawset(L, LUA_GLOBALSINDEX);
}

static void pushValue(lua_State *L, bool value) { lua_pushboolean(L, value); }
static void pushValue(lua_State *L, int32_t value) { lua_pushnumber(L, value); }
static void pushValue(lua_State *L, float value) { lua_pushnumber(L, value); }
static void pushValue(lua_State *L, const std::string &value) { lua_pushlstring(L, value.data(), value.size()); }

template <typename List>
static void setScalars(lua_State *L, SaveType type, const List &values)
{
    const std::vector<std::string> &names = savedVariables(type);
    for (size_t i = 0; i < names.size() && i < values.size(); i++) {
        pushValue(L, static_cast<typename List::value_type>(values[i]));
        setGlobal(L, names[i]);
    }
}

template <typename T>
static void setArrays(lua_State *L, SaveType type, const std::vector<std::vector<T>> &arrays)
{
    const std::vector<std::string> &names = savedVariables(type);
    for (size_t i = 0; i < names.size() && i < arrays.size(); i++) {
        lua_createtable(L, static_cast<int>(arrays[i].size()), 0);
        for (size_t k = 0; k < arrays[i].size(); k++) {
            pushValue(L, static_cast<T>(arrays[i][k]));
            lua_rawseti(L, -2, static_cast<int>(k + 1));
        }
        setGlobal(L, names[i]);
    }
}

static bool loadSlot(lua_State *L, const std::string &slotName)
{
    SaveValues values;
    bool opened = false;
    const bool complete = readSaveFile(saveFileName(slotName), declaredSaveLayout(), values, &opened);
    if (!opened) return false;
    setScalars(L, SAVE_BOOLEAN, values.booleans);
    setScalars(L, SAVE_INTEGER, values.integers);
    setScalars(L, SAVE_FLOAT, values.floats);
    setScalars(L, SAVE_STRING, values.strings);
    setArrays(L, SAVE_BOOLEAN_ARRAY, values.booleanArrays);
    setArrays(L, SAVE_INTEGER_ARRAY, values.integerArrays);
    setArrays(L, SAVE_FLOAT_ARRAY, values.floatArrays);
    setArrays(L, SAVE_STRING_ARRAY, values.stringArrays);
    return complete;
}

// ---- the script functions

// The slot name as text: strings and numbers as they read, anything else as "".
static const char *slotArgument(lua_State *L)
{
    const char *slot = lua_tostring(L, 1);
    return slot != nullptr ? slot : "";
}

// saveGame(slotName) -> boolean: true when the slot's file was written whole
static int saveGame(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg needed: slotName");
    const bool saved = saveSlot(L, slotArgument(L));
    lua_pushboolean(L, saved);
    return 1;
}

// loadGame(slotName) -> boolean: false when the file is missing (nothing changes) or too short
static int loadGame(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg needed: slotName");
    const bool loaded = loadSlot(L, slotArgument(L));
    lua_pushboolean(L, loaded);
    return 1;
}

bool registerSaveFunctions(lua_State *L)
{
    setUpSavePath();
    static const luaL_Reg functions[] = {
        {"saveGame", saveGame},
        {"loadGame", loadGame},
        {nullptr, nullptr},
    };
    registerFunctions(L, functions);
    return true;
}
