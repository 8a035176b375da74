// core/script.cpp - the script state, protected chunks and the game start with its built-in chunks.
// Threads: main thread only.
#include "core/script.h"

#include <cstdio>

#include "core/frame_loop.h"
#include "core/project.h"
#include "core/room_module.h"
#include "resources/registry.h"

static lua_State *gameState = nullptr;  // set once by startGame; never replaced
static void (*errorListener)(const std::string &text) = nullptr;  // development mode only

lua_State *scriptState() { return gameState; }
void setScriptState(lua_State *L) { gameState = L; }

int raiseUsage(lua_State *L, const char *message)
{
    lua_pushstring(L, message);
    return lua_error(L);
}

void registerFunctions(lua_State *L, const luaL_Reg *functions)
{
    for (const luaL_Reg *f = functions; f->name != nullptr; f++) {
        lua_pushcclosure(L, f->func, 0);
        lua_setfield(L, LUA_GLOBALSINDEX, f->name);  // _G[name] = f
    }
}

void registerConstant(lua_State *L, const char *name, int value)
{
    lua_pushinteger(L, value);
    lua_setfield(L, LUA_GLOBALSINDEX, name);
}

void reportScriptError(lua_State *L)
{
    size_t length = 0;
    const char *text = lua_tolstring(L, -1, &length);
    std::string line = text ? std::string(text, length) : std::string();
    lua_settop(L, -2);
    if (errorListener) errorListener(line);
    line += '\n';
    fwrite(line.data(), 1, line.size(), stderr);
    fflush(stderr);
}

void setScriptErrorListener(void (*listener)(const std::string &text)) { errorListener = listener; }

bool runBuffer(lua_State *L, const char *data, size_t size, const std::string &chunkName)
{
    if (luaL_loadbuffer(L, data, size, chunkName.c_str()) != 0) {
        reportScriptError(L);
        return false;
    }
    if (lua_pcall(L, 0, 0, 0) != 0) {
        reportScriptError(L);
        return false;
    }
    return true;
}

bool runChunk(lua_State *L, const std::string &text, const std::string &chunkName)
{
    return runBuffer(L, text.data(), text.size(), chunkName);
}

// The loading room: counts steps, switches once the first room's resources are in, and after
// 120 steps draws six grey dots turning around (320, 240).
static const char *LOADING_CHUNK =
    "_loadAnim=0;function Step() _loadAnim=_loadAnim-1;if resourcesAreLoaded() then forceNewRoom(_firstRoom) end end\n"
    "function Render() setRenderColor(96,96,96,255);if _loadAnim < -120 then for i=0,5 do "
    "drawCircle(320+math.cos(_loadAnim/10+i*math.pi/3)*10,240+math.sin(_loadAnim/10+i*math.pi/3)*10,4,true) end end "
    "setRenderColor(255,255,255,255) end";

bool startGame(lua_State *L)
{
    setScriptState(L);
    runChunk(L, "math.randomseed(os.time()) math.random() math.random() math.random()", "");
    runChunk(L, "instTable={};function Init() end;function Step() end;function Render() end;function ShutDown() end", "");
    loadProject();

    const std::string P = projectDirectory();
    setResourceDirectory(RESOURCE_SCRAP, P + "Scraps/");
    setResourceDirectory(RESOURCE_IMAGE, P + "Images/");
    setResourceDirectory(RESOURCE_MODEL, P + "Models/");
    setResourceDirectory(RESOURCE_ANIMATION, P + "Anims/");
    setResourceDirectory(RESOURCE_FONT, P + "Fonts/");
    setResourceDirectory(RESOURCE_MUSIC, P + "Audio/");
    setResourceDirectory(RESOURCE_SOUND, P + "Audio/");

    // NOTE: the room name goes into Lua text unescaped, as it always has.
    const std::string R = projectFirstRoom();
    runChunk(L, "beginResourceList();includeRoom(\"" + R + "\",1);endResourceList();_firstRoom=\"" + R + "\"", "");
    runChunk(L, LOADING_CHUNK, "");
    return addFrameModule(new QFRoomModule());
}
