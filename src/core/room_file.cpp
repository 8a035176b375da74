// core/room_file.cpp - reading the parts of a room file.
// Threads: any; the DataFile belongs to the caller.
#include "core/room_file.h"

#include "resources/data_file.h"

void readRoomNameLists(DataFile &file, RoomNameLists &lists)
{
    for (std::vector<std::string> &list : lists.names) {
        list.clear();
        if (file.atEnd()) continue;
        const int count = file.readInt16();
        for (int i = 0; i < count && !file.atEnd(); i++) {
            std::string name = file.readString();
            if (!file.atEnd()) list.push_back(std::move(name));
        }
    }
}

std::string readRoomScript(DataFile &file)
{
    if (file.atEnd()) return std::string();
    const int64_t start = file.tell();
    const int64_t length = file.size() - start;
    if (start < 0 || length <= 0) return std::string();
    std::string script((size_t)length, '\0');
    if (!file.readBytes(&script[0], script.size())) return std::string();
    return script;
}

bool readRoomFile(const std::string &path, RoomNameLists &lists, std::string &script)
{
    for (std::vector<std::string> &list : lists.names) list.clear();
    script.clear();
    DataFile file;
    if (!file.openForRead(path)) return false;
    readRoomNameLists(file, lists);
    script = readRoomScript(file);
    file.close();
    return true;
}

bool writeRoomFile(const std::string &path, const RoomNameLists &lists, const std::string &script)
{
    for (const std::vector<std::string> &list : lists.names) {
        if (list.size() > 32767) return false;
        for (const std::string &name : list)
            if (name.size() > 1024) return false;
    }
    DataFile file;
    if (!file.openForWrite(path)) return false;
    bool written = true;
    for (const std::vector<std::string> &list : lists.names) {
        written = written && file.writeInt16((int16_t)list.size());
        for (const std::string &name : list) written = written && file.writeString(name);
    }
    written = written && (script.empty() || file.writeBytes(script.data(), script.size()));
    return file.close() && written;
}
