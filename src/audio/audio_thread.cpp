// audio/audio_thread.cpp - the audio thread.
//
// How it works: one joinable thread runs a tick, then sleeps 16 ms, until stopAudioThread clears
// threadRunning. A tick visits every slot ever occupied since start-up (slots fill in index
// order, so an idle pool costs nothing), each under its lock: an active slot whose source OpenAL
// still plays gets its marked values sent (volume and pitch every tick, the position on even
// ticks, the filter and environment routing on every fourth); one whose source has stopped is
// taken back (releaseSlot), unless a music slot holds it. Then environment transitions step (every fourth
// tick) and the music streams are fed (every tick). Scripts never wait on OpenAL to change a
// playing sound: they store under a short lock and this thread sends.
//
// Threads: the audio thread runs ticks; start and stop come from the main thread. The tick holds
// one slot lock at a time (releaseSlot inside it takes the ID lock and a sound's lock); environment
// and music locks are taken after every slot lock is released.
#include "audio/audio_thread.h"

#include <SDL.h>
#include <pthread.h>

#include <atomic>
#include <chrono>

#include "audio/audio.h"
#include "audio/environment.h"
#include "audio/music.h"

struct AudioThreadState
{
    std::atomic<bool> threadRunning{false};  // the loop goes on while it is true
    std::atomic<int32_t> tickCount{0};       // ticks completed; written by the audio thread only
    std::atomic<int64_t> lastTickNs{0};      // how long the last completed tick took
    pthread_t thread{};                      // main thread only
    bool joinable = false;                   // a thread was made and not joined yet; main thread only
};
static AudioThreadState &worker = *new AudioThreadState;  // never destroyed: see stopAudioAtExit

// Sends the marked values of an active slot whose source still plays, or takes the slot back
// once its source has stopped. Caller holds the slot's lock.
static void updateSlotLocked(int index, SourceSlot &slot, bool positionTick, bool filterTick)
{
    ALint state = AL_STOPPED;
    alGetSourcei(slot.source, AL_SOURCE_STATE, &state);
    if (state == AL_STOPPED) {
        if (!slot.reserved) releaseSlot(index);  // a music source that ran dry is the music's to restart
    } else {
        if (slot.volumeDirty) alSourcef(slot.source, AL_GAIN, slot.volume);
        if (slot.pitchDirty) alSourcef(slot.source, AL_PITCH, slot.pitch);
        slot.volumeDirty = slot.pitchDirty = false;
        if (positionTick && slot.positionDirty) {
            applySlotPosition(slot);
            slot.positionDirty = false;
        }
        if (filterTick && slot.filterDirty) {
            applySlotFilter(slot);
            slot.filterDirty = false;
        }
    }
    alGetError();
}

static void audioTick()
{
    if (!audioInitialised()) return;
    const auto started = std::chrono::steady_clock::now();
    alGetError();
    const int32_t tick = worker.tickCount;
    const bool positionTick = tick % 2 == 0, filterTick = tick % 4 == 0;
    for (int i = 0; i < sourceSlotsInUse(); i++) {  // slots above were never occupied: nothing to do
        SourceSlot *slot = sourceSlot(i);
        std::lock_guard<std::mutex> guard(slot->lock);
        if (slot->active) updateSlotLocked(i, *slot, positionTick, filterTick);
    }
    if (filterTick) updateEnvironments();
    updateMusicSlots();
    worker.lastTickNs = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started).count();
    worker.tickCount = tick + 1;
}

static void *runAudioThread(void *)
{
    while (worker.threadRunning) {
        audioTick();
        SDL_Delay(16);
    }
    return nullptr;
}

bool startAudioThread()
{
    if (worker.threadRunning) return false;
    worker.tickCount = 0;
    worker.threadRunning = true;
    worker.joinable = pthread_create(&worker.thread, nullptr, runAudioThread, nullptr) == 0;
    if (!worker.joinable) worker.threadRunning = false;
    return worker.joinable;
}

void stopAudioThread()
{
    worker.threadRunning = false;
    if (!worker.joinable) return;  // none was ever made
    pthread_join(worker.thread, nullptr);
    worker.joinable = false;
}

int32_t audioTickCount() { return worker.tickCount; }
int64_t lastAudioTickNanoseconds() { return worker.lastTickNs; }
