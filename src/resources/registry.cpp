// resources/registry.cpp - the resource records and the per-type handler table.
// Records are created on first mention and live until shutdownRegistry. A record's lock guards
// its data; each type's map has its own mutex so the loader thread can create the records of
// dependencies while the main thread hands out handles.
// Threads: see registry.h. Lock order: a record's lock, then a map mutex.
#include "resources/registry.h"

#include <map>

struct RegistryState
{
    std::map<std::string, ResourceRecord *> records[RESOURCE_TYPE_COUNT];  // name -> record; guarded by mapLocks
    std::mutex mapLocks[RESOURCE_TYPE_COUNT];
    ResourceHandlers handlers[RESOURCE_TYPE_COUNT] = {};  // written at start-up, read-only after
    bool registered[RESOURCE_TYPE_COUNT] = {};
    std::string directories[RESOURCE_TYPE_COUNT];          // written by the game start, read-only after
    std::atomic<bool> running{false};
};
// Never destroyed: a script's os.exit runs exit() and its static destructors while the loader
// thread may still be loading through the maps; the records stay reachable until the process ends.
static RegistryState &registry = *new RegistryState;

static bool validType(int type) { return type >= 0 && type < RESOURCE_TYPE_COUNT; }

void startRegistry()
{
    for (int type = 0; type < RESOURCE_TYPE_COUNT; type++) {
        registry.registered[type] = false;
        registry.handlers[type] = ResourceHandlers();
    }
    registry.running = true;
}

bool registryRunning() { return registry.running; }

bool registerResourceType(int type, const ResourceHandlers &handlers)
{
    if (!validType(type) || registry.registered[type]) return false;
    registry.handlers[type] = handlers;
    registry.registered[type] = true;
    return true;
}

void setResourceDirectory(int type, const std::string &directory)
{
    if (validType(type)) registry.directories[type] = directory;
}

std::string resourceDirectory(int type) { return validType(type) ? registry.directories[type] : std::string(); }

static bool handlersAvailable(int type) { return validType(type) && registry.running && registry.registered[type]; }

void *placeholderFor(int type)
{
    if (!handlersAvailable(type) || !registry.handlers[type].placeholder) return nullptr;
    return registry.handlers[type].placeholder();
}

void *loadResource(const ResourceKey &key)
{
    if (!handlersAvailable(key.type) || !registry.handlers[key.type].load) return nullptr;
    return registry.handlers[key.type].load(key);
}

ResourceRecord *findOrCreateResource(const ResourceKey &key)
{
    if (!validType(key.type)) return nullptr;
    std::lock_guard<std::mutex> guard(registry.mapLocks[key.type]);
    ResourceRecord *&slot = registry.records[key.type][key.name];
    if (slot == nullptr) {
        slot = new ResourceRecord();
        slot->key = key;
        slot->data = placeholderFor(key.type);
    }
    return slot;
}

void *lockResource(ResourceRecord *record, bool *wasEmpty)
{
    record->lock.lock();
    if (wasEmpty) *wasEmpty = record->data == nullptr;
    return record->data ? record->data : placeholderFor(record->key.type);
}

bool unlockResource(ResourceRecord *record)
{
    record->lock.unlock();
    return true;
}

bool isResourceReady(ResourceRecord *record)
{
    if (record == nullptr) return false;
    std::lock_guard<std::mutex> guard(record->lock);
    return record->data != nullptr && record->data != placeholderFor(record->key.type);
}

int unloadResource(ResourceRecord *record)
{
    const int type = record->key.type;
    if (!validType(type)) return -1;
    if (!registry.running) return -2;
    if (!registry.registered[type]) return -3;
    void *object;
    {
        std::lock_guard<std::mutex> guard(record->lock);
        if (record->data == nullptr || record->data == placeholderFor(type)) return 0;
        object = record->data;
        record->data = nullptr;
    }
    return freeResourceObject(type, object);
}

int freeResourceObject(int type, void *object)
{
    if (!handlersAvailable(type) || object == nullptr || object == placeholderFor(type)) return 0;
    return registry.handlers[type].unload ? registry.handlers[type].unload(&object) : 0;
}

std::vector<ResourceRecord *> resourcesOfType(int type)
{
    std::vector<ResourceRecord *> records;
    if (!validType(type)) return records;
    std::lock_guard<std::mutex> guard(registry.mapLocks[type]);
    for (const auto &entry : registry.records[type]) records.push_back(entry.second);
    return records;
}

// Every record is unloaded before any is freed: unloading a model, scrap or animation releases
// the records it depends on (scraps, images), which may come earlier in the type order.
void shutdownRegistry()
{
    std::map<std::string, ResourceRecord *> records[RESOURCE_TYPE_COUNT];
    for (int type = 0; type < RESOURCE_TYPE_COUNT; type++) {
        std::lock_guard<std::mutex> guard(registry.mapLocks[type]);
        records[type].swap(registry.records[type]);
    }
    for (auto &byName : records) {
        for (auto &entry : byName) unloadResource(entry.second);
    }
    for (auto &byName : records) {
        for (auto &entry : byName) delete entry.second;
    }
    registry.running = false;
}
