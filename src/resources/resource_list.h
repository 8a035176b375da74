// resources/resource_list.h - resource lists: what the included rooms name, acquired as one list.
// A list cycle is beginResourceList, includeRoom for each room about to be needed, then
// endResourceList, which acquires everything the new list names (with each room's priority)
// before it releases what the previous list held, so resources named by both stay loaded.
// Threads: main thread only (script calls); the loading itself happens on the loader thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "resources/registry.h"

struct ResourceList
{
    std::vector<ResourceKey> entries;          // in order of addition, one per (name, type)
    std::map<std::string, int16_t> priorities; // by name alone: one name of two types shares one
};

// The eight name lists at the start of P + "Rooms/" + roomName, as keys of their resource types
// (sounds, music, fonts, images, object classes, scripts, models, animations), each name with
// `priority`. A room file that does not open gives an empty list, silently.
ResourceList readRoomResourceList(const std::string &roomName, int16_t priority);
// Appends source's new (name, type) entries to target; a name already there keeps the greater
// of the two priorities.
void mergeResourceList(ResourceList &target, const ResourceList &source);

// --- the process-wide list cycle behind the script functions
void beginResourceList();                                   // forgets the included rooms
void includeRoom(const std::string &roomName, int16_t priority);  // a later include replaces the priority
void endResourceList();                                     // acquire the new list, release the old one
const ResourceList &currentResourceList();                  // what the last endResourceList acquired
void resetResourceLists();  // forget everything without releasing (tests; shutdown frees records anyway)
