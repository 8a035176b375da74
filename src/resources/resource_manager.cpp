// resources/resource_manager.cpp - the loader thread and its two queues.
//
// How it works: acquireResource/releaseResource turn reference counts into queue entries. A load
// entry is placed by priority (-1 at the very front, otherwise before the first entry of lower
// priority, so equal priorities keep their order); acquiring a queued record again with a higher
// priority moves its entry forward. Releasing before the loader took the entry cancels it, and
// acquiring a record whose unload is still waiting cancels the unload, so the object stays.
// wakeLoader starts a joinable thread when none runs. The thread makes the loader GL context
// current, then repeats: empty the load queue (loads queued meanwhile included), do one unload,
// and stop when both queues are empty. Entries stay queued while their work runs (inProgress),
// so loadQueueSize counts a load until its object is stored in the record. A process that ends
// through exit() without a shutdown (a script's os.exit) drops the work not yet begun and joins
// the thread first. A reload (development mode) is a load entry for a record that holds its
// object: the new object replaces it under the record's lock and the old one is freed
// afterwards, on the loader thread, so users never see a gap.
//
// Threads: the main thread (scripts, resource lists, shutdown) and the loader thread (loads,
// unloads, and the dependency acquisitions that model, animation and scrap loading make).
// Lock order: loadLock, unloadLock, a record's lock, the registry's map locks. Only the stop test
// holds both queue locks; none is held while a type's load or unload runs. threadLock guards the
// thread handle only; the loader thread never takes it (it never sees finished == true while
// running), so the main thread may join while holding it.
#include "resources/resource_manager.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "core/log.h"
#include "graphics/display.h"
#include "resources/registry.h"

struct LoadEntry
{
    ResourceRecord *record;
    bool inProgress;   // the loader thread is loading it right now
    int32_t priority;  // larger is more urgent; -1 was queued as most urgent
};

struct UnloadEntry
{
    ResourceRecord *record;
    bool inProgress;  // the loader thread is unloading it right now
};

struct ResourceManagerState
{
    std::mutex loadLock;
    std::deque<LoadEntry> loadQueue;      // guarded by loadLock; front = next to load
    std::mutex unloadLock;
    std::deque<UnloadEntry> unloadQueue;  // guarded by unloadLock; front = next to unload
    std::atomic<bool> finished{true};     // no loader thread runs; written under both queue locks
                                          // (or with no thread alive), read by wakeLoader
    std::mutex threadLock;                // guards thread and joinable; main thread only in practice
    pthread_t thread{};                   // the last loader thread started
    bool joinable = false;                // thread was started and not joined yet
    pthread_attr_t attributes;            // joinable; valid while attributesReady
    bool attributesReady = false;
    LoaderThreadHooks hooks = {makeLoaderContextCurrent, releaseLoaderContext};  // read by each new thread
    std::atomic<bool> stopping{false};  // the registry is unloading everything: releases only count
};
// Never destroyed: exit() (a script's os.exit) may run while the loader thread still uses the
// queues and locks, and must not free them under it.
static ResourceManagerState &manager = *new ResourceManagerState;

// Caller holds loadLock. Goes before the first entry, from the front, of lower priority: entries
// of equal priority keep the order in which they were queued, and an urgent (-1) entry counts as
// lower than any later non-negative request. NOTE: the queue is not sorted (-1 entries, promoted
// entries), so there is no shortcut past the scan.
static void insertLoadEntryLocked(ResourceRecord *record, int32_t priority)
{
    std::deque<LoadEntry> &queue = manager.loadQueue;
    const LoadEntry entry = {record, false, priority};
    if (priority == -1) {
        queue.push_front(entry);
        return;
    }
    auto at = std::find_if(queue.begin(), queue.end(), [priority](const LoadEntry &e) { return e.priority < priority; });
    queue.insert(at, entry);
}

// Caller holds loadLock. Raises a pending entry's priority and moves it directly behind the
// nearest entry ahead of it that is at least as urgent; the entries it passes keep their order.
static void promoteLoadEntryLocked(ResourceRecord *record, int32_t priority)
{
    std::deque<LoadEntry> &queue = manager.loadQueue;
    auto it = std::find_if(queue.begin(), queue.end(), [record](const LoadEntry &e) { return e.record == record; });
    if (it == queue.end() || priority <= it->priority) return;
    it->priority = priority;
    auto target = queue.begin();
    for (auto ahead = it; ahead != queue.begin();) {
        --ahead;
        if (ahead->priority >= priority) {
            target = ahead + 1;
            break;
        }
    }
    std::rotate(target, it, it + 1);
}

// Caller holds loadLock. Finds the entry by record, not position: the queue moves during a load.
// Returns true when a pending (not in progress) entry was removed.
static bool cancelLoadEntryLocked(ResourceRecord *record)
{
    std::deque<LoadEntry> &queue = manager.loadQueue;
    auto it = std::find_if(queue.begin(), queue.end(), [record](const LoadEntry &e) { return e.record == record; });
    if (it == queue.end() || it->inProgress) return false;
    queue.erase(it);
    return true;
}

// Caller holds loadLock. Removes the entry whose load has just been stored.
static void removeLoadEntryLocked(ResourceRecord *record)
{
    std::deque<LoadEntry> &queue = manager.loadQueue;
    auto it = std::find_if(queue.begin(), queue.end(), [record](const LoadEntry &e) { return e.record == record && e.inProgress; });
    if (it != queue.end()) queue.erase(it);
}

// Caller holds unloadLock. True when a pending (not in progress) unload was removed.
static bool cancelUnloadEntryLocked(ResourceRecord *record)
{
    std::deque<UnloadEntry> &queue = manager.unloadQueue;
    auto it = std::find_if(queue.begin(), queue.end(), [record](const UnloadEntry &e) { return e.record == record; });
    if (it == queue.end() || it->inProgress) return false;
    queue.erase(it);
    return true;
}

// Caller holds unloadLock.
static void removeUnloadEntryLocked(ResourceRecord *record)
{
    std::deque<UnloadEntry> &queue = manager.unloadQueue;
    auto it = std::find_if(queue.begin(), queue.end(), [record](const UnloadEntry &e) { return e.record == record && e.inProgress; });
    if (it != queue.end()) queue.erase(it);
}

// Loader thread: loads front entries until the queue is empty, including loads queued meanwhile.
static void runLoadPhase()
{
    std::unique_lock<std::mutex> lock(manager.loadLock);
    while (!manager.loadQueue.empty()) {
        LoadEntry &front = manager.loadQueue.front();
        front.inProgress = true;
        ResourceRecord *record = front.record;
        const ResourceKey key = record->key;  // never changes; copied so no lock is needed during the load
        lock.unlock();

        void *object = loadResource(key);
        void *replaced = nullptr;
        {
            std::lock_guard<std::mutex> guard(record->lock);
            replaced = record->data;  // the placeholder or none, unless this load is a reload
            record->data = object;    // whatever the load returned, none included
        }
        freeResourceObject(record->key.type, replaced);  // only a reloaded object is freed

        lock.lock();
        removeLoadEntryLocked(record);
    }
}

// Loader thread: at most one unload, so that loads queued meanwhile go first.
static void runOneUnload()
{
    ResourceRecord *record = nullptr;
    {
        std::lock_guard<std::mutex> guard(manager.unloadLock);
        if (manager.unloadQueue.empty()) return;
        manager.unloadQueue.front().inProgress = true;
        record = manager.unloadQueue.front().record;
    }
    unloadResource(record);
    std::lock_guard<std::mutex> guard(manager.unloadLock);
    removeUnloadEntryLocked(record);
}

// The loader thread. Only this thread sets finished, and only under both queue locks, so a
// request queued after the stop test sees finished == true and starts a new thread.
static void *loaderThreadMain(void *)
{
    if (manager.hooks.begin) manager.hooks.begin();
    while (!manager.finished.load()) {
        runLoadPhase();
        runOneUnload();
        std::lock_guard<std::mutex> loadGuard(manager.loadLock);
        std::lock_guard<std::mutex> unloadGuard(manager.unloadLock);
        if (manager.loadQueue.empty() && manager.unloadQueue.empty()) manager.finished = true;
    }
    if (manager.hooks.end) manager.hooks.end();  // unbind the context before the thread dies
    return nullptr;
}

// Runs from exit(), which a script's os.exit calls without any shutdown: drops the queued work
// the loader has not begun, then joins the thread. So no load is still using GL or DevIL while
// the libraries' own exit handlers tear them down, and no finished thread is left unjoined.
static void stopLoaderAtExit()
{
    {
        std::lock_guard<std::mutex> loadGuard(manager.loadLock);
        std::lock_guard<std::mutex> unloadGuard(manager.unloadLock);
        // Entries in progress stay: the loader removes them itself when their work ends.
        auto notStarted = [](const auto &entry) { return !entry.inProgress; };
        manager.loadQueue.erase(std::remove_if(manager.loadQueue.begin(), manager.loadQueue.end(), notStarted),
                                manager.loadQueue.end());
        manager.unloadQueue.erase(std::remove_if(manager.unloadQueue.begin(), manager.unloadQueue.end(), notStarted),
                                  manager.unloadQueue.end());
    }
    waitForLoaderThread();
}

bool startResourceManager()
{
    static const bool stopsAtExit = atexit(stopLoaderAtExit) == 0;  // once per process
    (void)stopsAtExit;
    waitForLoaderThread();
    if (!manager.attributesReady) {
        pthread_attr_init(&manager.attributes);
        pthread_attr_setdetachstate(&manager.attributes, PTHREAD_CREATE_JOINABLE);
        manager.attributesReady = true;
    }
    startRegistry();
    return true;
}

bool shutdownResourceManager()
{
    waitForLoaderThread();  // the thread ends only once every queued load and unload is done
    if (manager.attributesReady) {
        pthread_attr_destroy(&manager.attributes);
        manager.attributesReady = false;
    }
    {
        std::lock_guard<std::mutex> loadGuard(manager.loadLock);
        std::lock_guard<std::mutex> unloadGuard(manager.unloadLock);
        manager.loadQueue.clear();    // non-empty only if a thread could not be started
        manager.unloadQueue.clear();
    }
    manager.stopping = true;  // no thread runs now; the unloads' own releases must not start one
    shutdownRegistry();
    manager.stopping = false;
    return true;
}

bool acquireResource(ResourceRecord *record, int priority)
{
    if (record == nullptr) return false;
    const int count = ++record->refCount;
    {
        std::lock_guard<std::mutex> guard(manager.unloadLock);
        if (cancelUnloadEntryLocked(record)) return true;  // the object stays
    }
    if (count < 2) {
        {
            std::lock_guard<std::mutex> guard(manager.loadLock);
            insertLoadEntryLocked(record, priority);
        }
        wakeLoader();
        return true;
    }
    std::lock_guard<std::mutex> guard(manager.loadLock);
    promoteLoadEntryLocked(record, priority);
    return true;
}

bool releaseResource(ResourceRecord *record)
{
    if (record == nullptr) return false;
    int count = record->refCount.load();
    do {
        if (count <= 0) return true;  // nothing was acquired: an unmatched release changes nothing
    } while (!record->refCount.compare_exchange_weak(count, count - 1));
    if (count - 1 >= 1 || manager.stopping) return true;
    {
        std::lock_guard<std::mutex> guard(manager.loadLock);
        if (cancelLoadEntryLocked(record)) return true;  // nothing was loaded
    }
    {
        std::lock_guard<std::mutex> guard(manager.unloadLock);
        manager.unloadQueue.push_back({record, false});
    }
    wakeLoader();
    return true;
}

bool reloadResource(ResourceRecord *record)
{
    if (record == nullptr || record->refCount.load() < 1) return false;
    {
        std::lock_guard<std::mutex> guard(manager.loadLock);
        auto pending = std::find_if(manager.loadQueue.begin(), manager.loadQueue.end(),
                                    [record](const LoadEntry &e) { return e.record == record && !e.inProgress; });
        if (pending != manager.loadQueue.end()) return true;  // that load reads the file as it is now
        insertLoadEntryLocked(record, -1);
    }
    wakeLoader();
    return true;
}

int loadQueueSize()
{
    std::lock_guard<std::mutex> guard(manager.loadLock);
    return (int)manager.loadQueue.size();
}

int32_t nextLoadPriority()
{
    std::lock_guard<std::mutex> guard(manager.loadLock);
    if (manager.loadQueue.empty()) return -1;
    const int32_t priority = manager.loadQueue.front().priority;
    return priority == -1 ? INT32_MAX : priority;
}

bool wakeLoader()
{
    // A running loader (including the caller, when a load acquires its dependencies) sees every
    // new entry, because it decides to stop only under both queue locks.
    if (!manager.finished.load()) return false;
    std::lock_guard<std::mutex> guard(manager.threadLock);
    if (!manager.finished.load()) return false;
    if (manager.joinable) pthread_join(manager.thread, nullptr);  // it has passed its stop test
    manager.joinable = false;
    manager.finished = false;
    const pthread_attr_t *attributes = manager.attributesReady ? &manager.attributes : nullptr;
    if (pthread_create(&manager.thread, attributes, loaderThreadMain, nullptr) != 0) {
        // NOTE: the work stays queued; the next acquisition or release tries again.
        manager.finished = true;
        return logError("Could not start the resource loading thread.");
    }
    manager.joinable = true;
    return true;
}

void waitForLoaderThread()
{
    std::lock_guard<std::mutex> guard(manager.threadLock);
    if (manager.joinable) pthread_join(manager.thread, nullptr);
    manager.joinable = false;
}

void setLoaderThreadHooks(const LoaderThreadHooks &hooks) { manager.hooks = hooks; }

LoaderThreadHooks defaultLoaderThreadHooks() { return {makeLoaderContextCurrent, releaseLoaderContext}; }
