// core/frame_loop.cpp - the main loop: events, steps, paced drawing.
// The schedule is absolute: frame k should end k * msPerFrame after baseTicks, so short sleeps
// never accumulate drift. When a frame ends late the next draw is skipped (fast steps) or a
// share of draws is kept by skipCredit (slow steps); the schedule restarts from "now" when the
// loop has given up catching up. At most one sleep per frame, never longer than two frames.
// Threads: main thread only.
#include "core/frame_loop.h"

#include <SDL.h>
#include <signal.h>

#include <vector>

#include "core/input.h"
#include "graphics/display.h"

// Process-wide loop state.
struct FrameLoopState
{
    std::vector<QFFrameModule *> modules;  // owned; list order = step/render order
    bool running = false;                  // cleared by requestQuit
    FrameTimer timer;
    FramePlatform platform;                // SDL unless a test replaced it
    bool platformSet = false;
};
static FrameLoopState loop;

static uint32_t sdlTicks() { return SDL_GetTicks(); }
static void sdlDelay(uint32_t ms) { SDL_Delay(ms); }
static void sdlSwap() { if (SDL_GetVideoSurface()) SDL_GL_SwapBuffers(); }  // no window: nothing to swap

// Drains SDL's queue: keys, buttons and motion go to the input state, quit ends the loop.
static void pumpSdlEvents()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_KEYDOWN: keyEvent(translateKey(event.key.keysym.sym), true); break;
        case SDL_KEYUP: keyEvent(translateKey(event.key.keysym.sym), false); break;
        case SDL_MOUSEMOTION: pointerMoved(event.motion.x, event.motion.y); break;
        case SDL_MOUSEBUTTONDOWN: buttonEvent(translateButton(event.button.button), true); break;
        case SDL_MOUSEBUTTONUP: buttonEvent(translateButton(event.button.button), false); break;
        case SDL_QUIT: requestQuit(); break;
        default: break;
        }
    }
}

const FramePlatform &sdlFramePlatform()
{
    static const FramePlatform platform = {sdlTicks, sdlDelay, pumpSdlEvents, beginFrame, endFrame, sdlSwap};
    return platform;
}

void setFramePlatform(const FramePlatform &platform)
{
    loop.platform = platform;
    loop.platformSet = true;
}

FrameTimer &frameTimer() { return loop.timer; }

bool addFrameModule(QFFrameModule *module)
{
    if (module == nullptr) return false;
    int position = (int)loop.modules.size();
    for (int i = 0; i < (int)loop.modules.size(); i++)
        if (loop.modules[i]->priority < module->priority) position = i;  // the last lower one wins
    loop.modules.insert(loop.modules.begin() + position, module);
    module->index = position;
    return true;
}

int frameModuleCount() { return (int)loop.modules.size(); }

void requestQuit() { loop.running = false; }

// Set from a signal handler on whichever thread the signal lands; read by the loop.
static volatile sig_atomic_t quitSignalled = 0;
static void onQuitSignal(int) { quitSignalled = 1; }

void catchQuitSignals()
{
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction previous = {};
    if (sigaction(SIGINT, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) sigaction(SIGINT, &action, nullptr);
}

bool setFramerate(uint16_t fps)
{
    if (fps == 0 || fps > 1000) return false;
    loop.timer.framerate = fps;
    loop.timer.msPerFrame = (float)loop.timer.ticksPerSecond / (float)fps;
    return true;
}

void startTimer()
{
    loop.timer = FrameTimer();
    setFramerate(60);
}

void beginTimedFrame(FrameTimer &timer, uint32_t now)
{
    timer.schedule += timer.msPerFrame;
    timer.frameStartTicks = now;
    if (timer.schedule > 1000.0f) {  // keeps the float small without moving the targets
        timer.schedule -= 1000.0f;
        timer.baseTicks += 1000;
    }
}

static void restartSchedule(FrameTimer &timer, uint32_t now)
{
    timer.baseTicks = now;
    timer.schedule = 0;
}

void endTimedFrame(FrameTimer &timer, uint32_t now, void (*delay)(uint32_t ms))
{
    const float elapsed = (float)(int32_t)(now - timer.baseTicks);
    if (timer.schedule >= elapsed) {
        timer.behind = false;
        const int wait = (int)(timer.schedule - elapsed);
        if (wait >= 0 && (float)wait <= 2 * timer.msPerFrame) delay((uint32_t)wait);
        timer.renderNext = true;
    } else if ((float)timer.stepTime > timer.msPerFrame) {
        if (!timer.behind) {
            timer.behind = true;
            timer.skipCredit = 0;
        }
        const int n = (int)((float)timer.stepTime / timer.msPerFrame);
        // The share is a double added to the float credit: exactly one draw every n + 1 frames.
        timer.skipCredit = (float)(timer.skipCredit + 1.0 / (n + 1));
        if (timer.skipCredit > 1.0f) {
            timer.skipCredit -= 1.0f;
            timer.renderNext = true;
            if (timer.lastRenderedFrame + 1 < timer.frameCounter) restartSchedule(timer, now);
        } else {
            timer.renderNext = false;
        }
    } else {
        timer.behind = false;
        timer.renderNext = false;
        if (timer.lastRenderedFrame + timer.framerate < timer.frameCounter) restartSchedule(timer, now);
    }
    timer.frameCounter++;
}

// One frame: begin, snapshot, step, maybe draw, pace.
static void runOneFrame(const FramePlatform &platform)
{
    FrameTimer &timer = loop.timer;
    beginTimedFrame(timer, platform.ticks());
    takeSnapshot();
    for (QFFrameModule *module : loop.modules) module->step();

    const bool draw = timer.renderNext;
    if (draw) timer.lastRenderedFrame = timer.frameCounter;
    timer.stepTime = (int)(platform.ticks() - timer.frameStartTicks);
    if (draw) {
        platform.beginFrame();
        for (QFFrameModule *module : loop.modules) module->render();
        platform.endFrame();
        platform.delay(0);
        platform.swapBuffers();
        platform.delay(0);
    }
    endTimedFrame(timer, platform.ticks(), platform.delay);
}

int runFrameLoop()
{
    const FramePlatform &platform = loop.platformSet ? loop.platform : sdlFramePlatform();
    resetInput();
    for (QFFrameModule *module : loop.modules) module->init();
    loop.running = true;
    FrameTimer &timer = loop.timer;
    timer.frameStartTicks = platform.ticks();
    timer.baseTicks = platform.ticks();
    timer.schedule = 0;
    timer.renderNext = true;
    setFramerate((uint16_t)displayFramerate());  // refused values leave 60

    while (loop.running) {
        platform.pumpEvents();
        if (quitSignalled) requestQuit();
        runOneFrame(platform);
    }

    for (QFFrameModule *module : loop.modules) {
        module->shutDown();
        delete module;
    }
    loop.modules.clear();
    return 1;
}
