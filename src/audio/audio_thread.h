// audio/audio_thread.h - the audio thread: every 16 ms it sends the values scripts changed to
// OpenAL (volume and pitch every tick, positions every second tick, filters every fourth), takes
// back the slots of sounds that ended, steps environment transitions and feeds the music streams.
// Threads: start and stop on the main thread (initAudio's last step, shutdownAudio's first).
#pragma once

#include <cstdint>

bool startAudioThread();  // false when one already runs or the thread cannot be made
void stopAudioThread();   // returns once the running tick has ended; nothing to do when none runs
int32_t audioTickCount();  // ticks completed since the thread started (any thread; tests and benchmarks)
int64_t lastAudioTickNanoseconds();  // the duration of the last completed tick (benchmarks)
