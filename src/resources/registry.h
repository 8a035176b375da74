// resources/registry.h - one ResourceRecord per (type, name) for the whole run, and the
// handlers each resource type registers. A record is also the script handle (light userdata).
//
// Protocol for every user of a loaded object, on the thread that uses it:
//   if (!isResourceReady(r)) skip;  obj = lockResource(r);  use obj (may be the placeholder or
//   null: an unload can slip in between);  unlockResource(r);
//
// Threads: findOrCreateResource / lock / unlock / isResourceReady from the main and loader
// threads. registerResourceType and setResourceDirectory on the main thread before the loader
// first runs. Lock order: record lock, then the per-type map mutexes.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

enum ResourceType {
    RESOURCE_IMAGE = 0,
    RESOURCE_SOUND = 1,
    RESOURCE_MUSIC = 2,
    RESOURCE_MODEL = 3,
    RESOURCE_SCRAP = 4,
    RESOURCE_ANIMATION = 6,
    RESOURCE_SCRIPT = 7,
    RESOURCE_FONT = 8,
    RESOURCE_OBJECT_CLASS = 9,
    RESOURCE_TYPE_COUNT = 11  // valid codes are 0..10
};

struct ResourceKey
{
    std::string name;       // file name as scripts and room files give it
    std::string directory;  // the type's directory when the key was made
    int type = 0;
};

struct ResourceRecord
{
    ResourceKey key;                // never changes
    void *data = nullptr;           // placeholder, loaded object, or null after an unload; guarded by lock
    std::mutex lock;                // held while data is used or replaced
    std::atomic<int> refCount{0};   // acquisitions by resource lists and dependent resources
};

struct ResourceHandlers
{
    void *(*load)(const ResourceKey &key);  // loader thread; builds from directory + name
    int (*unload)(void **object);           // loader thread (or shutdown); frees *object
    void *(*placeholder)();                 // what users see while not loaded; may be null
};

void startRegistry();     // map mutexes ready, no type registered, running
void shutdownRegistry();  // unloads and frees every record, in map order per type; stops
bool registryRunning();

bool registerResourceType(int type, const ResourceHandlers &handlers);  // false: bad code or twice
void setResourceDirectory(int type, const std::string &directory);
std::string resourceDirectory(int type);  // "" for a type without a directory

ResourceRecord *findOrCreateResource(const ResourceKey &key);  // null only for a bad type code
void *placeholderFor(int type);
void *loadResource(const ResourceKey &key);  // the type's load; null for bad/unregistered types
int unloadResource(ResourceRecord *record);  // -1 bad type, -2 not running, -3 unregistered, 0 nothing loaded
// The type's unload on an object already taken out of its record (a reload replaced it); the
// placeholder and null are left alone (0). Loader thread, or the main thread at shutdown.
int freeResourceObject(int type, void *object);
std::vector<ResourceRecord *> resourcesOfType(int type);  // every record of a type, in name order

void *lockResource(ResourceRecord *record, bool *wasEmpty = nullptr);  // lock stays held
bool unlockResource(ResourceRecord *record);
bool isResourceReady(ResourceRecord *record);  // loaded and not the placeholder
