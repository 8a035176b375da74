// resources/resource_manager.h - background loading and unloading by priority and reference count.
#pragma once

#include <cstdint>

struct ResourceRecord;

bool startResourceManager();     // main thread, once, before resource types are registered
bool shutdownResourceManager();  // main thread; waits for the loader, unloads everything
bool acquireResource(ResourceRecord *record, int priority);  // false only for null
bool releaseResource(ResourceRecord *record);                // false only for null
int loadQueueSize();             // 0 once every requested load has been stored
int32_t nextLoadPriority();      // -1 when idle; a front entry of -1 reads 2147483647
bool wakeLoader();               // starts a loader thread when none runs
