// resources/resource_list.cpp - room resource lists, their merge, and the list cycle.
// endResourceList reads every included room's eight name lists, merges them into one list,
// acquires each entry with its priority (queued by the resource manager) and only then releases
// the previous list's entries: a resource named by both lists never reaches a count of 0.
// Threads: main thread only.
#include "resources/resource_list.h"

#include <set>
#include <utility>

#include "core/project.h"
#include "core/room_file.h"
#include "resources/data_file.h"
#include "resources/resource_manager.h"

struct ResourceListState
{
    std::vector<std::string> includedRooms;          // since the last beginResourceList, repeats kept
    std::map<std::string, int16_t> roomPriorities;   // the last priority given to each room
    ResourceList current;                            // acquired by the last endResourceList
};
static ResourceListState lists;

// The resource type of each of the room file's eight lists, in file order.
static const int LIST_TYPES[ROOM_LIST_COUNT] = {
    RESOURCE_SOUND, RESOURCE_MUSIC, RESOURCE_FONT, RESOURCE_IMAGE,
    RESOURCE_OBJECT_CLASS, RESOURCE_SCRIPT, RESOURCE_MODEL, RESOURCE_ANIMATION};

ResourceList readRoomResourceList(const std::string &roomName, int16_t priority)
{
    ResourceList list;
    DataFile file;
    if (!file.openForRead(projectDirectory() + "Rooms/" + roomName)) return list;
    RoomNameLists names;
    readRoomNameLists(file, names);  // NOTE: a list cut short by the file's end keeps what came before
    file.close();
    for (int i = 0; i < ROOM_LIST_COUNT; i++) {
        const int type = LIST_TYPES[i];
        const std::string directory = resourceDirectory(type);
        for (const std::string &name : names.names[i]) {
            list.entries.push_back({name, directory, type});
            list.priorities[name] = priority;
        }
    }
    return list;
}

void mergeResourceList(ResourceList &target, const ResourceList &source)
{
    std::set<std::pair<int, std::string>> present;
    for (const ResourceKey &key : target.entries) present.insert({key.type, key.name});
    for (const ResourceKey &key : source.entries) {
        auto found = source.priorities.find(key.name);
        const int16_t priority = found != source.priorities.end() ? found->second : 0;
        if (!present.insert({key.type, key.name}).second) {
            int16_t &kept = target.priorities[key.name];
            if (priority > kept) kept = priority;
        } else {
            target.entries.push_back(key);
            target.priorities[key.name] = priority;
        }
    }
}

void beginResourceList()
{
    lists.includedRooms.clear();
    lists.roomPriorities.clear();
}

void includeRoom(const std::string &roomName, int16_t priority)
{
    lists.includedRooms.push_back(roomName);
    lists.roomPriorities[roomName] = priority;
}

void endResourceList()
{
    ResourceList next;
    for (const std::string &room : lists.includedRooms) mergeResourceList(next, readRoomResourceList(room, lists.roomPriorities[room]));
    for (const ResourceKey &key : next.entries) acquireResource(findOrCreateResource(key), next.priorities[key.name]);
    for (const ResourceKey &key : lists.current.entries) releaseResource(findOrCreateResource(key));
    lists.current = std::move(next);
}

const ResourceList &currentResourceList() { return lists.current; }

void resetResourceLists() { lists = ResourceListState(); }
