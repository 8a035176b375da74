// core/rooms.cpp - room switching, at the start of the step after forceNewRoom.
// A switch ends every instance and the old room's callbacks, then reads the room file, builds
// the classes it lists (generated code first, then the class's own script), runs the room
// script and the new room's Init. Resources are not touched: resource lists keep them loaded.
// Threads: main thread only.
#include "core/rooms.h"

#include "core/classes.h"
#include "core/project.h"
#include "core/room_file.h"
#include "core/script.h"
#include "resources/data_file.h"

static std::string pendingRoomName;  // set by forceNewRoom, cleared by the switch
static std::string currentRoomFile;  // the last room file a switch opened
static bool roomScriptsNamed = false; // development mode: room scripts' chunk name is their path

static const char *END_ROOM_CHUNK =
    "for a,b in pairs(instTable) do b:ShutDown() end;ShutDown();instTable={};"
    "function Init() end;function Step() end;function Render() end;function ShutDown() end";

void setPendingRoom(const std::string &roomName) { pendingRoomName = roomName; }
const std::string &pendingRoom() { return pendingRoomName; }
const std::string &currentRoomPath() { return currentRoomFile; }
void setRoomScriptsNamed(bool named) { roomScriptsNamed = named; }

void switchToPendingRoom()
{
    if (pendingRoomName.empty()) return;
    switchRoom(projectDirectory() + "Rooms/" + pendingRoomName);
    pendingRoomName.clear();  // a request made during the switch is dropped with it
}

bool readClassScript(const std::string &objectPath, std::string &source)
{
    source.clear();
    if (!fileExists(objectPath)) return false;
    DataFile file;
    if (!file.openForRead(objectPath)) return false;
    const int64_t length = file.size();
    source.assign(length > 0 ? (size_t)length : 0, '\0');
    const bool complete = source.empty() || file.readBytes(&source[0], source.size());
    file.close();
    return complete;
}

// Loads and runs one object class script; a missing script leaves the class without methods.
static void runClassScript(lua_State *L, const std::string &className)
{
    const std::string objectPath = projectDirectory() + "Objects/" + className;
    std::string source;
    if (readClassScript(objectPath, source)) runBuffer(L, source.data(), source.size(), objectPath);
}

bool switchRoom(const std::string &roomPath)
{
    lua_State *L = scriptState();
    runChunk(L, END_ROOM_CHUNK, "");

    RoomNameLists lists;
    std::string roomScript;
    if (!readRoomFile(roomPath, lists, roomScript)) return false;
    currentRoomFile = roomPath;

    for (const std::string &className : lists.names[ROOM_CLASSES]) {
        generateClass(L, className);
        runClassScript(L, className);
    }
    runChunk(L, roomScript, roomScriptsNamed ? roomPath : "");
    runChunk(L, "Init() collectgarbage(\"collect\")", "");
    return true;
}
