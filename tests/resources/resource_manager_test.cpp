// The background resource manager: queue order, cancellation, thread bursts and shutdown.
// The loader runs for real; the probe's handlers record what it does and can hold it at named
// checkpoints, so every scenario is deterministic without sleeps.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "loader_probe.h"

namespace {

class ResourceManager : public ::testing::Test
{
protected:
    void SetUp() override
    {
        probe = new LoaderProbe();
        setLoaderThreadHooks({probeBeginHook, probeEndHook});
        ASSERT_TRUE(startResourceManager());
        ASSERT_TRUE(registerResourceType(RESOURCE_MODEL, PROBE_HANDLERS));
        ASSERT_TRUE(registerResourceType(RESOURCE_SCRAP, PROBE_HANDLERS));
    }
    void TearDown() override
    {
        probe->checkpoints.openAll();
        shutdownResourceManager();
        setLoaderThreadHooks(defaultLoaderThreadHooks());
        delete probe;
        probe = nullptr;
    }
    static ResourceRecord *rec(const std::string &name) { return findOrCreateResource({name, "dir/", RESOURCE_MODEL}); }
    static TestObject *objectOf(ResourceRecord *record)
    {
        TestObject *object = (TestObject *)lockResource(record);
        unlockResource(record);
        return object;
    }
    // Holds a new loader thread at its start so that requests queue up untouched.
    void holdLoaderAtStart() { probe->checkpoints.hold("begin"); }
    void releaseLoaderAndWait()
    {
        probe->checkpoints.openAll();
        waitForLoaderThread();
    }
};

// Every scenario queues requests while the loader is held at its start, then lets it run; the
// order of the loads is the order of the queue.
TEST_F(ResourceManager, QueueOrderFollowsPriorityInsertionAndPromotionRules)
{
    struct Request
    {
        char op;  // 'a' acquire, 'r' release
        const char *name;
        int priority;
    };
    struct Scenario
    {
        const char *what;
        std::vector<Request> requests;
        int32_t nextPriority;  // nextLoadPriority() before the loader runs
        int queueSize;         // loadQueueSize() before the loader runs
        const char *loads;     // expected load order
    };
    const Scenario scenarios[] = {
        {"5,3,1 then 3 goes between the 3 and the 1",
         {{'a', "A", 5}, {'a', "B", 3}, {'a', "C", 1}, {'a', "D", 3}}, 5, 4, "load:A load:B load:D load:C"},
        {"-1 goes in front of all",
         {{'a', "A", 5}, {'a', "B", 3}, {'a', "C", 1}, {'a', "U", -1}}, INT_MAX, 4, "load:U load:A load:B load:C"},
        {"a later 0 goes in front of the -1",
         {{'a', "A", 5}, {'a', "B", 3}, {'a', "C", 1}, {'a', "U", -1}, {'a', "Z", 0}}, 0, 5,
         "load:Z load:U load:A load:B load:C"},
        {"equal priorities keep their order", {{'a', "A", 2}, {'a', "B", 2}, {'a', "C", 2}}, 2, 3, "load:A load:B load:C"},
        {"other negative priorities are simply low", {{'a', "A", 5}, {'a', "N", -25536}, {'a', "B", 3}}, 5, 3, "load:A load:B load:N"},
        {"C again at 4 moves between A and B", {{'a', "A", 5}, {'a', "B", 3}, {'a', "C", 1}, {'a', "C", 4}}, 5, 3, "load:A load:C load:B"},
        {"C again at 9 moves to the front", {{'a', "A", 5}, {'a', "B", 3}, {'a', "C", 1}, {'a', "C", 9}}, 9, 3, "load:C load:A load:B"},
        {"lower or equal priority changes nothing",
         {{'a', "A", 5}, {'a', "B", 3}, {'a', "C", 1}, {'a', "C", 1}, {'a', "B", 0}, {'a', "A", -1}}, 5, 3, "load:A load:B load:C"},
        {"release before the loader took it cancels the load",
         {{'a', "A", 5}, {'a', "B", 3}, {'r', "A", 0}}, 3, 1, "load:B"},
        {"acquire then release leaves both queues empty", {{'a', "A", 5}, {'r', "A", 0}}, -1, 0, ""},
        {"a second acquisition keeps the object through one release",
         {{'a', "A", 5}, {'a', "A", 5}, {'r', "A", 0}}, 5, 1, "load:A"},
    };
    for (const Scenario &s : scenarios) {
        SCOPED_TRACE(s.what);
        holdLoaderAtStart();
        for (const Request &r : s.requests) {
            const bool done = r.op == 'a' ? acquireResource(rec(r.name), r.priority) : releaseResource(rec(r.name));
            EXPECT_TRUE(done);
        }
        EXPECT_EQ(s.nextPriority, nextLoadPriority()) << "expected front priority " << s.nextPriority;
        EXPECT_EQ(s.queueSize, loadQueueSize());
        releaseLoaderAndWait();
        EXPECT_EQ(std::string(s.loads), probe->takeEvents());
        EXPECT_EQ(0, loadQueueSize());
        EXPECT_EQ(-1, nextLoadPriority());
        // Back to nothing acquired (every scenario's records end unloaded) for the next scenario.
        for (const char *name : {"A", "B", "C", "D", "U", "Z", "N"}) {
            while (rec(name)->refCount > 0) releaseResource(rec(name));
        }
        waitForLoaderThread();
        probe->takeEvents();
        for (const char *name : {"A", "B", "C", "D", "U", "Z", "N"}) EXPECT_FALSE(isResourceReady(rec(name))) << name;
    }
}

TEST_F(ResourceManager, NullRecordsAndUnmatchedReleases)
{
    EXPECT_FALSE(acquireResource(nullptr, 1));
    EXPECT_FALSE(releaseResource(nullptr));
    EXPECT_EQ(-1, nextLoadPriority());
    EXPECT_EQ(0, loadQueueSize());
    // A release without an acquisition does nothing: no count below 0, nothing queued.
    EXPECT_TRUE(releaseResource(rec("A")));
    EXPECT_EQ(0, rec("A")->refCount.load());
    waitForLoaderThread();
    EXPECT_EQ("", probe->takeEvents());
}

TEST_F(ResourceManager, LoadQueueSizeCountsALoadUntilItsObjectIsStored)
{
    probe->checkpoints.hold("load:A");
    probe->checkpoints.hold("load:B");
    acquireResource(rec("A"), 7);
    acquireResource(rec("B"), 1);
    ASSERT_TRUE(probe->checkpoints.waitReached("load:A"));
    EXPECT_EQ(2, loadQueueSize());
    EXPECT_EQ(7, nextLoadPriority()) << "the entry in progress is still the front";
    EXPECT_FALSE(isResourceReady(rec("A")));

    probe->checkpoints.open("load:A");
    ASSERT_TRUE(probe->checkpoints.waitReached("load:B"));
    EXPECT_EQ(1, loadQueueSize());
    EXPECT_TRUE(isResourceReady(rec("A")));
    EXPECT_FALSE(isResourceReady(rec("B")));

    // From the moment the count reads 0, the object must already be in its record.
    probe->checkpoints.open("load:B");
    while (loadQueueSize() != 0) std::this_thread::yield();
    EXPECT_TRUE(isResourceReady(rec("B")));
    EXPECT_EQ("B", objectOf(rec("B"))->name);
    waitForLoaderThread();
}

TEST_F(ResourceManager, ReleasingAndReacquiringBeforeTheUnloadKeepsTheObject)
{
    acquireResource(rec("A"), 1);
    waitForLoaderThread();
    TestObject *loaded = objectOf(rec("A"));
    probe->takeEvents();

    holdLoaderAtStart();
    releaseResource(rec("A"));  // queues the unload and starts a thread, held at its start
    acquireResource(rec("A"), 1);
    releaseLoaderAndWait();
    EXPECT_EQ("", probe->takeEvents());
    EXPECT_TRUE(isResourceReady(rec("A")));
    EXPECT_EQ(loaded, objectOf(rec("A")));
}

TEST_F(ResourceManager, ReacquiringDuringAnUnloadFreesThenLoadsAgain)
{
    acquireResource(rec("A"), 1);
    waitForLoaderThread();
    const int firstSerial = objectOf(rec("A"))->serial;
    probe->takeEvents();

    probe->checkpoints.hold("unload:A");
    releaseResource(rec("A"));
    ASSERT_TRUE(probe->checkpoints.waitReached("unload:A"));
    acquireResource(rec("A"), 1);
    EXPECT_EQ(1, loadQueueSize());
    releaseLoaderAndWait();
    EXPECT_EQ("unload:A load:A", probe->takeEvents());
    ASSERT_TRUE(isResourceReady(rec("A")));
    EXPECT_NE(firstSerial, objectOf(rec("A"))->serial);
}

TEST_F(ResourceManager, EveryPendingLoadGoesBeforeEachSingleUnload)
{
    for (const char *name : {"A", "B"}) acquireResource(rec(name), 1);
    waitForLoaderThread();
    probe->takeEvents();

    holdLoaderAtStart();
    probe->checkpoints.hold("unload:A");
    releaseResource(rec("A"));
    releaseResource(rec("B"));
    acquireResource(rec("C"), 1);
    probe->checkpoints.open("begin");
    ASSERT_TRUE(probe->checkpoints.waitReached("unload:A"));
    acquireResource(rec("D"), 1);  // queued while A unloads: loads before B's unload
    releaseLoaderAndWait();
    EXPECT_EQ("load:C unload:A load:D unload:B", probe->takeEvents());
    EXPECT_FALSE(isResourceReady(rec("A")));
    EXPECT_FALSE(isResourceReady(rec("B")));
    EXPECT_TRUE(isResourceReady(rec("C")));
    EXPECT_TRUE(isResourceReady(rec("D")));
    EXPECT_EQ(nullptr, lockResource(rec("A"))) << "an unloaded record of a type without placeholder holds none";
    unlockResource(rec("A"));
}

TEST_F(ResourceManager, EachBurstRunsOnANewThreadThatBeginsAndEnds)
{
    acquireResource(rec("A"), 1);
    waitForLoaderThread();
    EXPECT_EQ(1, probe->threadsBegun.load());
    EXPECT_EQ(1, probe->threadsEnded.load());
    EXPECT_TRUE(wakeLoader()) << "no thread runs, so a wake starts one (which ends at once)";
    waitForLoaderThread();
    EXPECT_EQ(2, probe->threadsBegun.load());
    acquireResource(rec("B"), 1);
    waitForLoaderThread();
    EXPECT_EQ(3, probe->threadsBegun.load());
    EXPECT_EQ(probe->threadsBegun.load(), probe->threadsEnded.load());
    EXPECT_FALSE(probe->loadOffLoaderThread) << "a load ran on a thread whose begin hook did not run";
    EXPECT_EQ("load:A load:B", probe->takeEvents());
}

TEST_F(ResourceManager, DependenciesAcquiredWhileLoadingLoadInTheSameBurst)
{
    // Urgent model: nextLoadPriority reads 2147483647 during its load, so its scrap goes first.
    holdLoaderAtStart();
    acquireResource(rec("B"), 3);
    acquireResource(rec("C"), 1);
    acquireResource(rec("M1"), -1);
    releaseLoaderAndWait();
    EXPECT_EQ("load:M1 loadScrap:M1 load:B load:C", probe->takeEvents());
    // Ordinary model: the scrap joins the work in hand, behind everything of the model's priority.
    holdLoaderAtStart();
    acquireResource(rec("M2"), 3);
    acquireResource(rec("D"), 3);
    acquireResource(rec("E"), 1);
    releaseLoaderAndWait();
    EXPECT_EQ("load:M2 load:D loadScrap:M2 load:E", probe->takeEvents());
    EXPECT_EQ(2, probe->threadsBegun.load()) << "one thread per burst";
    ResourceRecord *scrap = findOrCreateResource({"M1", "", RESOURCE_SCRAP});
    EXPECT_TRUE(isResourceReady(scrap));
    EXPECT_EQ(1, scrap->refCount.load());
}

TEST_F(ResourceManager, ShutdownWaitsForQueuedWorkThenUnloadsEverything)
{
    holdLoaderAtStart();
    acquireResource(rec("A"), 1);
    acquireResource(rec("B"), 2);
    probe->checkpoints.open("begin");
    EXPECT_TRUE(shutdownResourceManager());
    EXPECT_EQ("load:B load:A unload:A unload:B", probe->takeEvents()) << "loads by priority, unloads by name";
    EXPECT_FALSE(registryRunning());
}

// Many acquisitions and releases from the main thread while the loader works and acquires
// dependencies on its own thread. Afterwards every record agrees with its count.
TEST_F(ResourceManager, CountsAndObjectsAgreeAfterARandomMix)
{
    std::mt19937 random(12345);
    std::vector<ResourceRecord *> records;
    for (int i = 0; i < 24; i++) records.push_back(rec((i % 4 == 0 ? "M" : "R") + std::to_string(i)));
    std::vector<int> held(records.size(), 0);
    for (int round = 0; round < 4000; round++) {
        const size_t i = random() % records.size();
        if (held[i] > 0 && random() % 2) {
            releaseResource(records[i]);
            held[i]--;
        } else {
            acquireResource(records[i], (int)(random() % 7) - 1);
            held[i]++;
        }
        if (round % 500 == 0) (void)nextLoadPriority();
    }
    waitForLoaderThread();
    EXPECT_EQ(0, loadQueueSize());
    for (size_t i = 0; i < records.size(); i++) {
        SCOPED_TRACE(records[i]->key.name);
        EXPECT_EQ(held[i], records[i]->refCount.load());
        EXPECT_EQ(held[i] > 0, isResourceReady(records[i])) << "expected loaded == acquired";
    }
    // Every model that is loaded acquired its scrap while loading, on the loader thread.
    for (size_t i = 0; i < records.size(); i += 4) {
        if (held[i] > 0) {
            EXPECT_TRUE(isResourceReady(findOrCreateResource({records[i]->key.name, "", RESOURCE_SCRAP})));
        }
    }
}

}  // namespace
