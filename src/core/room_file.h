// core/room_file.h - the room file: eight name lists, then the room's Lua source.
// A list is an int16 count (below 1: empty) followed by that many strings. The lists are, in
// file order: sounds, music, fonts, images, object classes, scripts, models, animations.
// Threads: any (each call works on its own DataFile).
#pragma once

#include <string>
#include <vector>

class DataFile;

enum RoomList {
    ROOM_SOUNDS, ROOM_MUSIC, ROOM_FONTS, ROOM_IMAGES, ROOM_CLASSES, ROOM_SCRIPTS, ROOM_MODELS, ROOM_ANIMATIONS,
    ROOM_LIST_COUNT
};

struct RoomNameLists
{
    std::vector<std::string> names[ROOM_LIST_COUNT];  // in file order
};

// Reads the eight lists from the file's current position. A list cut short by the end of the
// file keeps the names read before the end; the lists after it are empty.
void readRoomNameLists(DataFile &file, RoomNameLists &lists);
// Writes a whole room file (lists, then the script's bytes). False when a write failed.
// Lists over 32767 names or names over 1024 bytes cannot be stored: false, nothing promised.
bool writeRoomFile(const std::string &path, const RoomNameLists &lists, const std::string &script);
// Every byte from the current position to the end of the file ("" when the lists ran past it).
std::string readRoomScript(DataFile &file);
// The room switch's read: opens `path` with openForRead (archive first), reads the lists, then
// the script, and closes it. False, with both outputs emptied, when the file does not open.
bool readRoomFile(const std::string &path, RoomNameLists &lists, std::string &script);
