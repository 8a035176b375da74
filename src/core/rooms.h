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
// An object script (P + "Objects/" + class) read whole, through the archive when one is open;
// false when it is missing or cannot be read.
bool readClassScript(const std::string &objectPath, std::string &source);

// The room file of the last switch that opened one ("" before): the development mode reruns its
// script when it changes.
const std::string &currentRoomPath();
// Development mode: room scripts are loaded under their room file's path instead of "", so their
// errors say which room and line.
void setRoomScriptsNamed(bool named);
