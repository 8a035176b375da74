// core/rooms.h - rooms: the pending room and the switch at the start of the next step.
// Threads: main thread only.
#pragma once

#include <string>

void setPendingRoom(const std::string &roomName);  // forceNewRoom; "" means no request
const std::string &pendingRoom();
// When a room is pending: switchRoom(P + "Rooms/" + name), then clear the request.
void switchToPendingRoom();
// Ends the old room, reads the room file, builds its classes, runs the room script and Init.
// False when the room file does not open (the old room has been ended anyway).
bool switchRoom(const std::string &roomPath);
