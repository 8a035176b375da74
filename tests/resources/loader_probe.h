// tests/resources/loader_probe.h - handlers and hooks that record the real loader thread's work in
// order and hold it at named checkpoints ("begin", "load:A", "unload:B"), so scenarios need no sleeps.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "resources/registry.h"
#include "resources/resource_manager.h"

using TestObject = std::pair<std::string, int>;  // name, and a serial that tells a reload from the same object

struct LoaderProbe
{
    std::mutex lock;  // guards held, waitingAt and events
    std::condition_variable changed;
    std::set<std::string> held;  // checkpoints the loader must wait at
    std::string waitingAt;       // the checkpoint the loader waits at now
    std::string events;          // "load:A loadScrap:A unload:A" in the loader's order
    std::atomic<int> threadsBegun{0}, threadsEnded{0}, objectsMade{0};
    std::atomic<std::thread::id> loaderThread{};   // set by the begin hook
    std::atomic<bool> loadOffLoaderThread{false};  // a load ran where the begin hook did not

    void hold(const std::string &name, bool on = true)  // on false: open it ("" opens all)
    {
        std::lock_guard<std::mutex> guard(lock);
        on ? (void)held.insert(name) : name.empty() ? held.clear() : (void)held.erase(name);
        changed.notify_all();
    }
    void pass(const std::string &event)  // loader thread: records the event, waits while it is held
    {
        std::unique_lock<std::mutex> guard(lock);
        if (event != "begin") events += (events.empty() ? "" : " ") + event;
        waitingAt = event;
        changed.notify_all();
        changed.wait(guard, [&] { return !held.count(event); });
        waitingAt.clear();
    }
    bool waitReached(const std::string &name)  // main thread; false after 20 s (a hang, not timing)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(20), [&] { return waitingAt == name; });
    }
    std::string takeEvents()  // and forgets them
    {
        std::lock_guard<std::mutex> guard(lock);
        return std::exchange(events, "");
    }
};
inline LoaderProbe *probe = nullptr;

// Load of every probed type. A model whose name starts with 'M' acquires the scrap of the same
// name while it loads, with the work in hand's priority, as model loading does.
inline void *probeLoad(const ResourceKey &key)
{
    if (std::this_thread::get_id() != probe->loaderThread.load()) probe->loadOffLoaderThread = true;
    probe->pass((key.type == RESOURCE_SCRAP ? "loadScrap:" : "load:") + key.name);
    if (key.type == RESOURCE_MODEL && key.name[0] == 'M')
        acquireResource(findOrCreateResource({key.name, "", RESOURCE_SCRAP}), nextLoadPriority());
    return new TestObject{key.name, probe->objectsMade++};
}
inline int probeUnload(void **object)
{
    probe->pass("unload:" + ((TestObject *)*object)->first);
    delete (TestObject *)*object;
    *object = nullptr;
    return 0;
}

// The real resource manager with the probe's hooks and handlers for `types`, for one test.
struct ProbedManager
{
    explicit ProbedManager(std::initializer_list<int> types)
    {
        probe = new LoaderProbe();
        setLoaderThreadHooks({[] {
                                  probe->loaderThread = std::this_thread::get_id(), probe->threadsBegun++;
                                  probe->pass("begin");
                              },
                              [] { probe->threadsEnded++; }});
        EXPECT_TRUE(startResourceManager());
        for (int type : types) EXPECT_TRUE(registerResourceType(type, {probeLoad, probeUnload, nullptr}));
    }
    ~ProbedManager()
    {
        probe->hold("", false);
        shutdownResourceManager();
        setLoaderThreadHooks(defaultLoaderThreadHooks());
        delete std::exchange(probe, nullptr);
    }
    void releaseLoaderAndWait()
    {
        probe->hold("", false);
        waitForLoaderThread();
    }
};
