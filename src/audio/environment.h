// audio/environment.h - reverb environments (EFX auxiliary effect slots with EAX reverb) and
// the per-slot low-pass routing.
// TODO: environments are not built yet: there are none, presets do nothing and sounds play dry.
// Threads: initEfx/destroyEnvironments on the main thread inside initAudio/shutdownAudio;
// presetEnvironment on the script thread; updateEnvironments on the audio thread.
#pragma once

#include <AL/al.h>

#include <cstdint>

bool initEfx();                   // true when environments are usable; prints its own messages
void destroyEnvironments();
int32_t environmentCount();       // getNumAudioEnvs: 0 while there are none
void presetEnvironment(int32_t env, int32_t transitionTicks, int32_t preset);
void updateEnvironments();        // every fourth audio tick
ALuint environmentEffectSlot(int32_t env);  // AL_EFFECTSLOT_NULL (0) for none
