// core/rooms.cpp - room switching.
// Threads: main thread only.
#include "core/rooms.h"

#include "core/project.h"

static std::string pendingRoomName;  // set by forceNewRoom, cleared by the switch

void setPendingRoom(const std::string &roomName) { pendingRoomName = roomName; }
const std::string &pendingRoom() { return pendingRoomName; }

void switchToPendingRoom()
{
    if (pendingRoomName.empty()) return;
    switchRoom(projectDirectory() + "Rooms/" + pendingRoomName);
    pendingRoomName.clear();
}

// TODO: rooms arrive with the room files; until then no room ever opens.
bool switchRoom(const std::string &roomPath)
{
    (void)roomPath;
    return false;
}
