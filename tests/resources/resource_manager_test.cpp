// The background resource manager: queue order, cancellation, thread bursts and shutdown.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "loader_probe.h"

namespace {

ResourceRecord *rec(const std::string &name) { return findOrCreateResource({name, "dir/", RESOURCE_MODEL}); }
int serialOf(const std::string &name)
{
    const int serial = ((TestObject *)lockResource(rec(name)))->second;
    unlockResource(rec(name));
    return serial;
}

// Catches any break of a queue rule, of the load count, of thread bursts or of shutdown.
TEST(ResourceManager, QueueScenarios)
{
    // Words: +A5 acquire A at 5, -A release A, hold:X / open:X / wait:X a checkpoint (begin,
    // load:A, unload:A), run (open all, wait for the loader), drain (spin until loadQueueSize
    // reads 0), ~A reload A, wake (wakeLoader starts a thread), shutdown, threads=N (loader threads begun and
    // ended), and =N,S,R: nextLoadPriority N, loadQueueSize S, and the records ready with their
    // objects' serials (A0B1). Each scenario ends with run.
    const struct { const char *script, *events; } scenarios[] = {
        {"hold:begin +A5 +B3 +C1 +D3 =5,4,", "load:A load:B load:D load:C"},
        {"hold:begin +A5 +B3 +C1 +U-1 =2147483647,4,", "load:U load:A load:B load:C"},
        {"hold:begin +A5 +B3 +C1 +U-1 +Z0 =0,5,", "load:Z load:U load:A load:B load:C"},
        {"hold:begin +A2 +B2 +C2 =2,3,", "load:A load:B load:C"},
        {"hold:begin +A5 +N-25536 +B3 =5,3,", "load:A load:B load:N"},
        {"hold:begin +A5 +B3 +C1 +C4 =5,3,", "load:A load:C load:B"},
        {"hold:begin +A5 +B3 +D3 +C1 +C3 =5,4,", "load:A load:B load:D load:C"},  // behind its equals
        {"hold:begin +A5 +B3 +C1 +C9 =9,3,", "load:C load:A load:B"},
        {"hold:begin +A5 +B3 +C1 +C1 +B0 +A-1 =5,3,", "load:A load:B load:C"},
        {"hold:begin +A5 +B3 -A =3,1,", "load:B"},
        {"hold:begin +A5 -A =-1,0, run =-1,0,", ""},
        {"hold:begin +A5 +A5 -A =5,1, run =-1,0,A0", "load:A"},
        {"-A run threads=0 =-1,0,", ""},  // a release without an acquisition does nothing
        {"+A1 run hold:begin -A +A1 run =-1,0,A0", "load:A"},
        {"+A1 run hold:unload:A -A wait:unload:A +A1 =1,1, run =-1,0,A1", "load:A unload:A load:A"},
        {"+A1 +B1 run hold:begin hold:unload:A -A -B +C1 open:begin wait:unload:A +D1 run =-1,0,C2D3",
         "load:A load:B load:C unload:A load:D unload:B"},
        {"hold:load:A hold:load:B +A7 +B1 wait:load:A =7,2, open:load:A wait:load:B =1,1,A0 open:load:B drain =-1,0,A0B1",
         "load:A load:B"},
        {"+A1 run threads=1 wake run threads=2 +B1 run threads=3", "load:A load:B"},
        // An urgent model's scrap goes first; an ordinary one's joins the work in hand behind its priority.
        {"hold:begin +B3 +C1 +M-1 run hold:begin +MM3 +D3 +E1 run threads=2",
         "load:M loadScrap:M load:B load:C load:MM load:D loadScrap:MM load:E"},
        // A reload (~A) replaces a held object with a new one and then frees the old one; the
        // old stays drawable until the new is stored. Nothing for a record nobody holds; one
        // reload while another waits.
        {"+A1 run hold:begin ~A =2147483647,1,A0 run =-1,0,A1", "load:A load:A unload:A"},
        {"+A1 run hold:load:A ~A wait:load:A =2147483647,1,A0 open:load:A run =-1,0,A1", "load:A load:A unload:A"},
        {"~B run =-1,0, +A1 run hold:begin ~A ~A =2147483647,1,A0 run =-1,0,A1", "load:A load:A unload:A"},
        // Shutdown finishes the queue, then unloads everything (the scraps above too) by name.
        {"hold:begin +A1 +B2 open:begin shutdown", "load:B load:A unload:A unload:B unload:M unload:MM"},
    };
    ProbedManager manager({RESOURCE_MODEL, RESOURCE_SCRAP});
    for (const auto &s : scenarios) {
        SCOPED_TRACE(s.script);
        probe->objectsMade = probe->threadsBegun = probe->threadsEnded = 0;
        std::map<std::string, int> held;
        std::istringstream words(std::string(s.script) + " run");
        for (std::string w; words >> w;) {
            const size_t split = w.find_first_of(":=");
            const std::string word = w.substr(0, split), arg = w.substr(split + 1);
            if (w[0] == '+' || w[0] == '-') {
                const size_t digit = w.find_first_of("-0123456789", 1);
                const std::string name = w.substr(1, digit - 1);
                held[name] += w[0] == '+' ? 1 : -(held[name] > 0);
                const int priority = w[0] == '+' ? std::stoi(w.substr(digit)) : 0;
                EXPECT_TRUE(w[0] == '+' ? acquireResource(rec(name), priority) : releaseResource(rec(name)));
            } else if (w[0] == '~') {
                reloadResource(rec(w.substr(1)));
            } else if (word == "hold" || word == "open") {
                probe->hold(arg, word == "hold");
            } else if (word == "wait") {
                ASSERT_TRUE(probe->waitReached(arg)) << w;
            } else if (word == "run" || word == "wake") {
                EXPECT_TRUE(word == "run" || wakeLoader());
                manager.releaseLoaderAndWait();
            } else if (word == "drain") {
                while (loadQueueSize() != 0) std::this_thread::yield();
            } else if (word == "shutdown") {
                EXPECT_TRUE(shutdownResourceManager() && !registryRunning());
                held.clear();
            } else if (word == "threads") {
                EXPECT_EQ(arg + "/" + arg, std::to_string(probe->threadsBegun) + "/" + std::to_string(probe->threadsEnded));
            } else {
                std::string state = std::to_string(nextLoadPriority()) + "," + std::to_string(loadQueueSize()) + ",";
                for (const char *name : {"A", "B", "C", "D", "E", "N", "U", "Z"})
                    if (isResourceReady(rec(name))) state += name + std::to_string(serialOf(name));
                EXPECT_EQ(arg, state) << w;
            }
        }
        EXPECT_EQ(s.events, probe->takeEvents()) << "load and unload order";
        EXPECT_FALSE(probe->loadOffLoaderThread) << "a load ran on a thread whose begin hook did not run";
        EXPECT_EQ("-1 0", std::to_string(nextLoadPriority()) + " " + std::to_string(loadQueueSize())) << "at the end";
        for (auto &h : held) for (; h.second > 0; h.second--) releaseResource(rec(h.first));
        waitForLoaderThread();
        probe->takeEvents();
    }
    EXPECT_FALSE(acquireResource(nullptr, 1));
    EXPECT_FALSE(releaseResource(nullptr));
}

}  // namespace
