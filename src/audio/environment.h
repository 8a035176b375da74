// audio/environment.h - reverb environments through OpenAL's EFX extension: each one an auxiliary
// effect slot holding an EAX reverb, set from 113 named presets and gliding from one setting to the
// next over a number of audio ticks. Source slots send into one environment by number (1 upward)
// and may pass through their own low-pass filter (audio.cpp, applySlotFilter).
//
// Without the extension, or when any piece of it fails, initEfx says why, there are no
// environments (the count is 0), presets do nothing and every sound plays dry.
//
// Threads: initEfx/destroyEnvironments on the main thread inside initAudio/shutdownAudio, while no
// audio thread runs; presetEnvironment/setEnvironment on the script thread; updateEnvironments on
// the audio thread; the EFX entry points and routeToEnvironment from any thread once initEfx
// returned. Each environment has its own lock, taken one at a time and never with a slot's lock.
#pragma once

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/efx.h>

#include <cstdint>

// One EAX reverb setting: the 26 float values of the published EFXEAXREVERBPROPERTIES record in its
// order (the two pans as three values each), then decayHFLimit.
struct ReverbProperties
{
    float values[26];
    int32_t decayHFLimit;
};

static const int REVERB_PRESET_COUNT = 113;
const char *reverbPresetName(int index);   // "GENERIC" (0) .. "SMALLWATERROOM" (112); nullptr outside
ReverbProperties reverbPreset(int index);  // that preset's values; GENERIC for any index outside 0..112

// The 18 EFX entry points, fetched with alGetProcAddress by initEfx.
struct EfxFunctions
{
    LPALGENEFFECTS genEffects;
    LPALDELETEEFFECTS deleteEffects;
    LPALISEFFECT isEffect;
    LPALEFFECTI effecti;
    LPALEFFECTF effectf;
    LPALEFFECTFV effectfv;
    LPALGETEFFECTI getEffecti;
    LPALGETEFFECTF getEffectf;
    LPALGETEFFECTFV getEffectfv;
    LPALGENFILTERS genFilters;
    LPALDELETEFILTERS deleteFilters;
    LPALISFILTER isFilter;
    LPALFILTERI filteri;
    LPALFILTERF filterf;
    LPALGENAUXILIARYEFFECTSLOTS genAuxiliaryEffectSlots;
    LPALDELETEAUXILIARYEFFECTSLOTS deleteAuxiliaryEffectSlots;
    LPALAUXILIARYEFFECTSLOTI auxiliaryEffectSloti;
    LPALGETAUXILIARYEFFECTSLOTI getAuxiliaryEffectSloti;
};
const EfxFunctions &efx();  // valid while efxAvailable()

// --- start-up and shutdown (main thread)
bool initEfx(ALCdevice *device);  // true when environments are usable; prints its own messages
bool efxAvailable();              // any thread
void disableEfx();                // a slot's filter could not be made: everything plays dry from now on
void destroyEnvironments();       // prints "Deleted all environment slots." when there were some

// --- environments (env is 1-based, as scripts count)
int32_t environmentCount();  // getNumAudioEnvs: the usable environments, 0 without EFX
// The preset `preset` (GENERIC outside 0..112) over `transitionTicks` audio ticks (<= 0: at once).
void presetEnvironment(int32_t env, int32_t transitionTicks, int32_t preset);
// Only effect type 0 (EFFECT_REVERB) is taken; anything else, or a bad env, does nothing.
void setEnvironment(int32_t env, int32_t transitionTicks, int32_t effectType, const ReverbProperties &properties);
void updateEnvironments();                  // audio thread, every fourth tick: steps each transition
// The auxiliary slot a source sends to for `env`, AL_EFFECTSLOT_NULL (0) for none; the first time,
// the environment's reverb starts running in the mixer. Any thread (a slot's lock may be held).
ALuint routeToEnvironment(int32_t env);
ALuint environmentEffect(int32_t env);      // the environment's reverb effect, 0 for none (tests)
