// core/dev_mode.cpp - the development mode's frame module: changed files in, errors on screen.
// How it works: a FileWatch on the project directory is read without waiting once per frame,
// after the room module's step; each changed path is sorted by its type directory and taken in
// (dev_mode.h says how). Reported script errors reach this file through the script error
// listener; the latest one is kept for the panel, which the module draws after the room's
// Render. A reload of scripts during which no error was reported clears it.
// Threads: main thread only. Pictures are reloaded by the loader thread (reloadResource).
#include "core/dev_mode.h"

#include <cstdio>
#include <cstdlib>

#include "core/classes.h"
#include "core/config.h"
#include "core/file_watch.h"
#include "core/frame_loop.h"
#include "core/log.h"
#include "core/project.h"
#include "core/room_file.h"
#include "core/rooms.h"
#include "core/script.h"
#include "graphics/debug_text.h"
#include "resources/archive.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"

// Process-wide state of the mode; untouched while it is off.
struct DevelopmentState
{
    FileWatch *watch = nullptr;  // the project directory; owned
    int errorsReported = 0;      // script errors so far (a reload compares before and after)
    bool panelShown = false;     // an error waits on screen
    ScriptErrorText shownError;  // the latest error, while panelShown
};
static DevelopmentState development;

static void onScriptError(const std::string &text)
{
    development.errorsReported++;
    development.panelShown = true;
    development.shownError = parseScriptError(text);
}

ScriptErrorText parseScriptError(const std::string &text)
{
    ScriptErrorText error;
    error.message = text;
    size_t fileEnd = std::string::npos, lineStart = 0;
    if (text.compare(0, 9, "[string \"") == 0) {  // a chunk named by a string: [string "name"]:12:
        const size_t close = text.find("\"]:");
        if (close == std::string::npos) return error;
        error.file = text.substr(9, close - 9);
        fileEnd = close + 2;
    } else {  // a chunk named "@file" or "=name": file:12:
        for (size_t colon = text.find(':'); colon != std::string::npos; colon = text.find(':', colon + 1)) {
            size_t digits = colon + 1;
            while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') digits++;
            if (digits > colon + 1 && digits < text.size() && text[digits] == ':') {
                error.file = text.substr(0, colon);
                fileEnd = colon;
                break;
            }
        }
        if (fileEnd == std::string::npos) return error;
    }
    lineStart = fileEnd + 1;
    const size_t lineEnd = text.find(':', lineStart);
    if (lineEnd == std::string::npos || lineEnd == lineStart) {
        error.file.clear();
        return error;
    }
    error.line = atoi(text.substr(lineStart, lineEnd - lineStart).c_str());
    error.message = text.substr(text[lineEnd + 1] == ' ' ? lineEnd + 2 : lineEnd + 1);
    return error;
}

std::vector<std::string> errorPanelLines(const ScriptErrorText &error, int columns)
{
    std::string where = "SCRIPT ERROR";
    if (error.line > 0) {
        where += " in " + (error.file.empty() ? std::string("an engine chunk") : error.file) + ", line " +
                 std::to_string(error.line);
    }
    std::vector<std::string> lines = wrapDebugText(where, columns);
    for (const std::string &line : wrapDebugText(error.message, columns)) lines.push_back(line);
    for (const std::string &line : wrapDebugText("The game goes on. Save a fix to reload it.", columns))
        lines.push_back(line);
    return lines;
}

// _G[name] is a class the engine built: a table that is its own __index.
static bool isBuiltClass(lua_State *L, int index)
{
    if (!lua_istable(L, index)) return false;
    lua_getfield(L, index, "__index");
    const bool own = lua_rawequal(L, -1, index < 0 ? index - 1 : index);
    lua_settop(L, -2);
    return own;
}

bool reloadClass(lua_State *L, const std::string &className)
{
    const std::string objectPath = projectDirectory() + "Objects/" + className;
    std::string source;
    lua_getfield(L, LUA_GLOBALSINDEX, className.c_str());  // [old]
    const int old = lua_gettop(L);
    if (!isBuiltClass(L, old) || !readClassScript(objectPath, source)) {
        lua_settop(L, old - 1);
        return false;  // a class no room has built yet gets the new script when one does
    }
    if (luaL_loadbuffer(L, source.data(), source.size(), objectPath.c_str()) != 0) {
        reportScriptError(L);  // the old class stays as it was
        lua_settop(L, old - 1);
        return true;
    }
    generateClass(L, className);  // _G[name] = a fresh table with new()
    if (lua_pcall(L, 0, 0, 0) != 0) {
        reportScriptError(L);
        lua_pushvalue(L, old);
        lua_setfield(L, LUA_GLOBALSINDEX, className.c_str());  // back to the old class, untouched
        lua_settop(L, old - 1);
        return true;
    }
    lua_getfield(L, LUA_GLOBALSINDEX, className.c_str());  // [old, fresh]
    const int fresh = lua_gettop(L);
    if (lua_istable(L, fresh)) {
        // Fields may be set to nil while a traversal visits them; new ones may not be added.
        lua_pushnil(L);
        while (lua_next(L, old) != 0) {
            lua_settop(L, -2);
            lua_pushvalue(L, -1);
            lua_pushnil(L);
            lua_rawset(L, old);
        }
        lua_pushnil(L);
        while (lua_next(L, fresh) != 0) {
            lua_pushvalue(L, -2);
            lua_insert(L, -2);
            lua_rawset(L, old);
        }
        lua_pushvalue(L, old);
        lua_setfield(L, old, "__index");
        lua_pushvalue(L, old);
        lua_setfield(L, LUA_GLOBALSINDEX, className.c_str());  // new() builds on the old table
    }
    lua_settop(L, old - 1);
    return true;
}

// The current room's script again, under its path; other rooms' files are read when entered.
static bool rerunRoomScript(lua_State *L, const std::string &roomPath)
{
    if (roomPath != currentRoomPath()) return false;
    RoomNameLists lists;
    std::string script;
    if (!readRoomFile(roomPath, lists, script)) return false;
    runChunk(L, script, roomPath);
    return true;
}

// Reloads the acquired resources of `type` named `name`; with no such one, and `allWhenNone`,
// every acquired one of the type (a font page changed: the fonts do not say which uses it).
static void reloadResources(int type, const std::string &name, bool allWhenNone)
{
    const std::vector<ResourceRecord *> records = resourcesOfType(type);
    for (ResourceRecord *record : records) {
        if (record->key.name == name) {
            reloadResource(record);
            return;
        }
    }
    if (allWhenNone) {
        for (ResourceRecord *record : records) reloadResource(record);
    }
}

// Takes in one changed file, given relative to the project directory. True when it ran a script.
static bool takeInChange(lua_State *L, const std::string &path)
{
    const size_t slash = path.find('/');
    if (slash == std::string::npos || !fileExists(projectDirectory() + path)) return false;
    const std::string folder = path.substr(0, slash), name = path.substr(slash + 1);
    bool ranScript = false;
    if (folder == "Objects") {
        ranScript = reloadClass(L, name);
    } else if (folder == "Rooms") {
        ranScript = rerunRoomScript(L, projectDirectory() + path);
    } else if (folder == "Images") {
        reloadResources(RESOURCE_IMAGE, name, false);
    } else if (folder == "Fonts") {
        reloadResources(RESOURCE_FONT, name, true);
    } else {
        return false;
    }
    printf("Reloaded '%s'.\n", (projectDirectory() + path).c_str());
    fflush(stdout);
    return ranScript;
}

class DevelopmentModule : public QFFrameModule
{
public:
    void step() override
    {
        std::vector<std::string> changed;
        if (!takeFileChanges(development.watch, changed, 0)) return;
        const int errorsBefore = development.errorsReported;
        bool ranScript = false;
        for (const std::string &path : changed) ranScript = takeInChange(scriptState(), path) || ranScript;
        if (ranScript && development.errorsReported == errorsBefore) development.panelShown = false;
    }
    void render() override
    {
        if (development.panelShown) renderDebugPanel(errorPanelLines(development.shownError, debugPanelColumns()));
    }
    void shutDown() override
    {
        setScriptErrorListener(nullptr);
        stopFileWatch(development.watch);
        development = DevelopmentState();
    }
};

bool startDevelopmentMode()
{
    if (!getConfigBool("debug:reload", false)) return false;
    if (currentArchive() != nullptr) {
        logReport(stderr, LOG_WARNING, {"[debug] reload is on, but the game plays from its archive: nothing is "
                                        "reloaded.",
                                        "Remove the archive to play from the loose files."});
        return false;
    }
    development.watch = startFileWatch(projectDirectory());
    if (!development.watch) {
        logReport(stderr, LOG_WARNING, {"[debug] reload is on, but '" + projectDirectory() + "' cannot be watched."});
        return false;
    }
    setRoomScriptsNamed(true);
    setScriptErrorListener(onScriptError);
    QFFrameModule *module = new DevelopmentModule();
    module->priority = -1;  // after the room module: its step and render come first
    return addFrameModule(module);
}
