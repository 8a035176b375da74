// core/frame_loop.h - the frame loop, its modules and the frame timer.
// Each iteration pumps events, steps every module, draws when the pacing rule allows and sleeps
// to a fixed rate on an absolute schedule, skipping draws (never steps) when behind.
// Threads: main thread only.
#pragma once

#include <cstdint>

// A per-frame module. The list owns its modules: created with new, deleted at loop end.
class QFFrameModule
{
public:
    virtual ~QFFrameModule() {}
    virtual void init() {}      // once, at loop start, in list order
    virtual void step() {}      // every frame
    virtual void render() {}    // frames that are drawn
    virtual void shutDown() {}  // once at loop end, right before delete
    int index = 0;              // position at which it was inserted
    int priority = 0;           // compared when inserted into a non-empty list
};

// Pacing state, in milliseconds of the tick source.
struct FrameTimer
{
    int ticksPerSecond = 1000;
    uint16_t framerate = 60;         // 1..1000
    float msPerFrame = 1000.0f / 60;
    uint32_t frameStartTicks = 0;
    uint32_t baseTicks = 0;          // origin of the schedule
    float schedule = 0;              // when the current frame should end, from baseTicks
    int stepTime = 0;                // ticks from frame start to the end of the step phase
    uint32_t frameCounter = 0;
    uint32_t lastRenderedFrame = 0;
    bool renderNext = true;
    bool behind = false;             // slow-step catch-up state
    float skipCredit = 0;            // decides which slow frames are drawn
};

// What the loop needs from the outside world; tests swap in a fake clock and no window.
struct FramePlatform
{
    uint32_t (*ticks)();           // SDL_GetTicks
    void (*delay)(uint32_t ms);    // SDL_Delay
    void (*pumpEvents)();          // drains the window system's queue into input / requestQuit
    void (*beginFrame)();
    void (*endFrame)();
    void (*swapBuffers)();
};

bool addFrameModule(QFFrameModule *module);  // false for null; inserts by priority
int frameModuleCount();
int runFrameLoop();                          // 1 once every module is shut down and deleted
void requestQuit();                          // the loop ends after the current iteration's frame
// SIGTERM, and SIGINT unless it is ignored, become a quit request at the loop's next event pump,
// however early they arrive (before the window exists, or with no display at all). Call first
// thing in main: SDL's video start keeps a handler that is already there.
void catchQuitSignals();

void startTimer();                   // timer defaults: 1000 ticks/s, 60 fps, counters 0
bool setFramerate(uint16_t fps);     // false (no change) for 0 or above 1000
FrameTimer &frameTimer();            // the process-wide timer (read by tests and benchmarks)

// The loop's platform; defaults to SDL and the display. Tests replace it before runFrameLoop.
void setFramePlatform(const FramePlatform &platform);
const FramePlatform &sdlFramePlatform();

// One frame's phases, exposed so the pacing can be driven tick by tick.
void beginTimedFrame(FrameTimer &timer, uint32_t now);
void endTimedFrame(FrameTimer &timer, uint32_t now, void (*delay)(uint32_t ms));
