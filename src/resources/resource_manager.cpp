// resources/resource_manager.cpp - the loader thread and its two queues.
#include "resources/resource_manager.h"

#include "resources/registry.h"

// TODO: the loader thread arrives with the resource issue; until then nothing loads.
bool startResourceManager()
{
    startRegistry();
    return true;
}

bool shutdownResourceManager()
{
    shutdownRegistry();
    return true;
}

bool acquireResource(ResourceRecord *record, int priority)
{
    (void)priority;
    return record != nullptr;
}

bool releaseResource(ResourceRecord *record) { return record != nullptr; }
int loadQueueSize() { return 0; }
int32_t nextLoadPriority() { return -1; }
bool wakeLoader() { return false; }
