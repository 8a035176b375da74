// tests/resources/loader_probe.h - test handlers and hooks that watch the real loader thread.
// They record every load and unload in order and can hold the loader at named checkpoints
// ("begin", "load:A", "unload:B") until the test opens them, so scenarios need no sleeps.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "resources/registry.h"
#include "resources/resource_manager.h"

// Named places where the loader thread can be held until the test opens them.
struct Checkpoints
{
    std::mutex lock;
    std::condition_variable changed;
    std::set<std::string> held, reached;

    void hold(const std::string &name)
    {
        std::lock_guard<std::mutex> guard(lock);
        held.insert(name);
    }
    void pass(const std::string &name)  // loader thread
    {
        std::unique_lock<std::mutex> guard(lock);
        if (!held.count(name)) return;
        reached.insert(name);
        changed.notify_all();
        changed.wait(guard, [&] { return !held.count(name); });
    }
    bool waitReached(const std::string &name)  // main thread; false after 20 s (a hang, not timing)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(20), [&] { return reached.count(name) > 0; });
    }
    void open(const std::string &name)
    {
        std::lock_guard<std::mutex> guard(lock);
        held.erase(name);
        changed.notify_all();
    }
    void openAll()
    {
        std::lock_guard<std::mutex> guard(lock);
        held.clear();
        changed.notify_all();
    }
};

struct TestObject
{
    std::string name;
    int serial;  // tells a reload from the same object
};

struct LoaderProbe
{
    Checkpoints checkpoints;
    std::mutex eventLock;
    std::vector<std::string> events;   // "load:A", "loadScrap:A", "unload:A" in the loader's order
    std::atomic<int> threadsBegun{0}, threadsEnded{0};
    std::atomic<int> objectsMade{0};
    std::atomic<std::thread::id> loaderThread{};  // set by the begin hook
    std::atomic<bool> loadOffLoaderThread{false}; // a load ran where the begin hook did not
    void (*onBegin)() = nullptr;                  // extra work at the start of each loader thread

    void record(const std::string &event)
    {
        std::lock_guard<std::mutex> guard(eventLock);
        events.push_back(event);
    }
    std::string takeEvents()  // space-separated, and forgets them
    {
        std::lock_guard<std::mutex> guard(eventLock);
        std::string text;
        for (const std::string &event : events) text += (text.empty() ? "" : " ") + event;
        events.clear();
        return text;
    }
};
inline LoaderProbe *probe = nullptr;

inline void probeBeginHook()
{
    if (probe->onBegin) probe->onBegin();
    probe->loaderThread = std::this_thread::get_id();
    probe->threadsBegun++;
    probe->checkpoints.pass("begin");
}
inline void probeEndHook() { probe->threadsEnded++; }

// Load of every probed type. A model whose name starts with 'M' acquires the scrap of the same
// name while it loads, with the work in hand's priority, as model loading does.
inline void *probeLoad(const ResourceKey &key)
{
    if (std::this_thread::get_id() != probe->loaderThread.load()) probe->loadOffLoaderThread = true;
    const std::string event = (key.type == RESOURCE_SCRAP ? "loadScrap:" : "load:") + key.name;
    probe->record(event);
    probe->checkpoints.pass(event);
    if (key.type == RESOURCE_MODEL && key.name[0] == 'M')
        acquireResource(findOrCreateResource({key.name, resourceDirectory(RESOURCE_SCRAP), RESOURCE_SCRAP}), nextLoadPriority());
    return new TestObject{key.name, probe->objectsMade++};
}
inline int probeUnload(void **object)
{
    TestObject *o = (TestObject *)*object;
    probe->record("unload:" + o->name);
    probe->checkpoints.pass("unload:" + o->name);
    delete o;
    *object = nullptr;
    return 0;
}
inline const ResourceHandlers PROBE_HANDLERS = {probeLoad, probeUnload, nullptr};
