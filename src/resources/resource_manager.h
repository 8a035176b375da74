// resources/resource_manager.h - background loading and unloading by priority and reference count.
//
// The first acquisition of a record queues a load, the release of the last one queues an unload.
// One loader thread, started on demand, makes the loader GL context current, empties the load
// queue before each single unload, and ends when both queues are empty; the next request starts
// a new one. Priorities: larger is more urgent; -1 is the most urgent of all when queued.
//
// Threads: start/shutdown/wait/setLoaderThreadHooks on the main thread only.
// acquire/release/nextLoadPriority/loadQueueSize from the main thread or the loader thread
// (loaders acquire their dependencies); none of them blocks for longer than a queue edit.
// Failure: false only for a null record; nothing is printed except when a thread cannot start.
#pragma once

#include <cstdint>

struct ResourceRecord;

// Lifetime
bool startResourceManager();     // main thread, once, before resource types are registered; no thread yet
bool shutdownResourceManager();  // main thread, GL and audio still open: waits for the loader, unloads all

// Reference counts (either thread)
bool acquireResource(ResourceRecord *record, int priority);  // first one queues a load; false only for null
bool releaseResource(ResourceRecord *record);                // last one queues an unload; false only for null
                                                             // (a release with no acquisition does nothing)

// Reads an acquired resource again from its file (its file changed on disk): queued as the most
// urgent load; the new object replaces the old one, which is then freed on the loader thread.
// Users keep drawing the old object until then. False (nothing queued) for null or a record
// nobody holds, whose next load reads the file anyway. Main thread.
bool reloadResource(ResourceRecord *record);

// Progress, polled by scripts and by loaders for their dependencies (either thread)
int loadQueueSize();         // loads requested and not yet stored; 0 once every object is in its record
int32_t nextLoadPriority();  // -1 when nothing waits; a front entry of -1 reads 2147483647

bool wakeLoader();  // starts a loader thread when none runs; true when it started one

// Blocks until the current loader thread (if any) has ended, i.e. both queues ran empty.
// Main thread; never call it from a load or unload.
void waitForLoaderThread();

// What each loader thread does first and last on itself. The defaults make the display's loader
// context current and release it. Tests and tools without a window swap in their own.
// Main thread, while no loader thread runs (call waitForLoaderThread first).
struct LoaderThreadHooks
{
    void (*begin)();  // first thing on a new loader thread
    void (*end)();    // last thing before it ends
};
void setLoaderThreadHooks(const LoaderThreadHooks &hooks);
LoaderThreadHooks defaultLoaderThreadHooks();
