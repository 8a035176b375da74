// audio/environment.cpp - reverb environments: EFX start-up, the preset table and transitions.
//
// How it works: initEfx checks the device for EFX, fetches its entry points and makes one
// environment per auxiliary send the device reports: an auxiliary effect slot holding an EAX
// reverb effect. A script's presetAudioEnv either sends the new values at once or starts a
// transition: every fourth audio tick updateEnvironments moves each running transition on by
// four ticks' worth, sending values interpolated between where the glide started and its target,
// until the target is reached. The preset table is the published efx-presets.h, value for value.
// NOTE: OpenAL Soft runs the reverb of every auxiliary slot that holds one on every mix, whether
// or not anything is sent to it (about 0.7% of a core each here). So an environment's slot holds
// its reverb only from its first use on: its first preset, or the first source routed to it. A
// game that never uses environments pays nothing for them; one that does hears no difference.
//
// Threads: start-up and shutdown on the main thread while no audio thread runs; setEnvironment on
// the script thread and updateEnvironments on the audio thread, each under the environment's lock.
// The auxiliary slot and effect names never change while the environments exist, so source slots
// read them without the lock.
#include "audio/environment.h"

#include <AL/efx-presets.h>

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "core/log.h"

// The reverb presets in the order of efx-presets.h: index = the script constant PRESET_<name>.
#define QF_REVERB_PRESETS(X)                                                                                   \
    X(GENERIC) X(PADDEDCELL) X(ROOM) X(BATHROOM) X(LIVINGROOM) X(STONEROOM) X(AUDITORIUM) X(CONCERTHALL)       \
    X(CAVE) X(ARENA) X(HANGAR) X(CARPETEDHALLWAY) X(HALLWAY) X(STONECORRIDOR) X(ALLEY) X(FOREST) X(CITY)       \
    X(MOUNTAINS) X(QUARRY) X(PLAIN) X(PARKINGLOT) X(SEWERPIPE) X(UNDERWATER) X(DRUGGED) X(DIZZY)               \
    X(PSYCHOTIC) X(CASTLE_SMALLROOM) X(CASTLE_SHORTPASSAGE) X(CASTLE_MEDIUMROOM) X(CASTLE_LARGEROOM)           \
    X(CASTLE_LONGPASSAGE) X(CASTLE_HALL) X(CASTLE_CUPBOARD) X(CASTLE_COURTYARD) X(CASTLE_ALCOVE)               \
    X(FACTORY_SMALLROOM) X(FACTORY_SHORTPASSAGE) X(FACTORY_MEDIUMROOM) X(FACTORY_LARGEROOM)                    \
    X(FACTORY_LONGPASSAGE) X(FACTORY_HALL) X(FACTORY_CUPBOARD) X(FACTORY_COURTYARD) X(FACTORY_ALCOVE)          \
    X(ICEPALACE_SMALLROOM) X(ICEPALACE_SHORTPASSAGE) X(ICEPALACE_MEDIUMROOM) X(ICEPALACE_LARGEROOM)            \
    X(ICEPALACE_LONGPASSAGE) X(ICEPALACE_HALL) X(ICEPALACE_CUPBOARD) X(ICEPALACE_COURTYARD)                    \
    X(ICEPALACE_ALCOVE) X(SPACESTATION_SMALLROOM) X(SPACESTATION_SHORTPASSAGE) X(SPACESTATION_MEDIUMROOM)      \
    X(SPACESTATION_LARGEROOM) X(SPACESTATION_LONGPASSAGE) X(SPACESTATION_HALL) X(SPACESTATION_CUPBOARD)        \
    X(SPACESTATION_ALCOVE) X(WOODEN_SMALLROOM) X(WOODEN_SHORTPASSAGE) X(WOODEN_MEDIUMROOM)                     \
    X(WOODEN_LARGEROOM) X(WOODEN_LONGPASSAGE) X(WOODEN_HALL) X(WOODEN_CUPBOARD) X(WOODEN_COURTYARD)            \
    X(WOODEN_ALCOVE) X(SPORT_EMPTYSTADIUM) X(SPORT_SQUASHCOURT) X(SPORT_SMALLSWIMMINGPOOL)                     \
    X(SPORT_LARGESWIMMINGPOOL) X(SPORT_GYMNASIUM) X(SPORT_FULLSTADIUM) X(SPORT_STADIUMTANNOY)                  \
    X(PREFAB_WORKSHOP) X(PREFAB_SCHOOLROOM) X(PREFAB_PRACTISEROOM) X(PREFAB_OUTHOUSE) X(PREFAB_CARAVAN)        \
    X(DOME_TOMB) X(PIPE_SMALL) X(DOME_SAINTPAULS) X(PIPE_LONGTHIN) X(PIPE_LARGE) X(PIPE_RESONANT)              \
    X(OUTDOORS_BACKYARD) X(OUTDOORS_ROLLINGPLAINS) X(OUTDOORS_DEEPCANYON) X(OUTDOORS_CREEK)                    \
    X(OUTDOORS_VALLEY) X(MOOD_HEAVEN) X(MOOD_HELL) X(MOOD_MEMORY) X(DRIVING_COMMENTATOR)                       \
    X(DRIVING_PITGARAGE) X(DRIVING_INCAR_RACER) X(DRIVING_INCAR_SPORTS) X(DRIVING_INCAR_LUXURY)                \
    X(DRIVING_FULLGRANDSTAND) X(DRIVING_EMPTYGRANDSTAND) X(DRIVING_TUNNEL) X(CITY_STREETS) X(CITY_SUBWAY)      \
    X(CITY_MUSEUM) X(CITY_LIBRARY) X(CITY_UNDERPASS) X(CITY_ABANDONED) X(DUSTYROOM) X(CHAPEL)                  \
    X(SMALLWATERROOM)

#define QF_PRESET_VALUES(name) EFX_REVERB_PRESET_##name,
#define QF_PRESET_NAME(name) #name,
static const EFXEAXREVERBPROPERTIES PRESETS[] = {QF_REVERB_PRESETS(QF_PRESET_VALUES)};
static const char *const PRESET_NAMES[] = {QF_REVERB_PRESETS(QF_PRESET_NAME)};
static_assert(sizeof PRESETS / sizeof *PRESETS == REVERB_PRESET_COUNT, "one entry per preset of efx-presets.h");
static_assert(offsetof(EFXEAXREVERBPROPERTIES, iDecayHFLimit) == 26 * sizeof(float),
              "the record is 26 floats, then the limit");

const char *reverbPresetName(int index)
{
    return index >= 0 && index < REVERB_PRESET_COUNT ? PRESET_NAMES[index] : nullptr;
}

ReverbProperties reverbPreset(int index)
{
    const EFXEAXREVERBPROPERTIES &preset = PRESETS[index >= 0 && index < REVERB_PRESET_COUNT ? index : 0];
    ReverbProperties properties;
    memcpy(properties.values, &preset, sizeof properties.values);
    properties.decayHFLimit = preset.iDecayHFLimit;
    return properties;
}

struct AudioEnv
{
    std::mutex lock;               // guards everything below except the two names
    ALuint auxSlot = 0;            // what sources send to; fixed while the environment exists
    ALuint effect = 0;             // the slot's AL_EFFECT_EAXREVERB; fixed while it exists
    ReverbProperties start{};      // where the running transition began
    ReverbProperties current{};    // what was last sent (GENERIC at creation, though not sent then)
    ReverbProperties target{};     // where the transition ends
    std::atomic<bool> attached{false};  // the slot holds the effect (any thread; see the NOTE above)
    int32_t transitionTime = 0;    // audio ticks; 0 = at once
    int32_t elapsed = 0;           // ticks since the transition began, in steps of 4
    bool transitioning = false;
};

struct EnvironmentState
{
    std::atomic<bool> available{false};   // environments and slot filters are usable
    EfxFunctions functions{};             // fetched by initEfx; read-only afterwards
    int32_t count = 0;                    // environments made; fixed while they exist
    std::unique_ptr<AudioEnv[]> envs;     // count entries, each guarded by its own lock
};
static EnvironmentState state;

const EfxFunctions &efx() { return state.functions; }
bool efxAvailable() { return state.available; }
void disableEfx() { state.available = false; }

static void print(const std::string &text) { fputs(text.c_str(), stdout); }

// Fetches the 18 entry points in their order; false when any is missing.
static bool fetchEfxFunctions()
{
    EfxFunctions &f = state.functions;
    const struct { const char *name; void **slot; } entries[] = {
        {"alGenEffects", (void **)&f.genEffects}, {"alDeleteEffects", (void **)&f.deleteEffects},
        {"alIsEffect", (void **)&f.isEffect}, {"alEffecti", (void **)&f.effecti}, {"alEffectf", (void **)&f.effectf},
        {"alEffectfv", (void **)&f.effectfv}, {"alGetEffecti", (void **)&f.getEffecti},
        {"alGetEffectf", (void **)&f.getEffectf}, {"alGetEffectfv", (void **)&f.getEffectfv},
        {"alGenFilters", (void **)&f.genFilters}, {"alDeleteFilters", (void **)&f.deleteFilters},
        {"alIsFilter", (void **)&f.isFilter}, {"alFilteri", (void **)&f.filteri}, {"alFilterf", (void **)&f.filterf},
        {"alGenAuxiliaryEffectSlots", (void **)&f.genAuxiliaryEffectSlots},
        {"alDeleteAuxiliaryEffectSlots", (void **)&f.deleteAuxiliaryEffectSlots},
        {"alAuxiliaryEffectSloti", (void **)&f.auxiliaryEffectSloti},
        {"alGetAuxiliaryEffectSloti", (void **)&f.getAuxiliaryEffectSloti},
    };
    for (const auto &entry : entries)
        if ((*entry.slot = alGetProcAddress(entry.name)) == nullptr) return false;
    return true;
}

// Frees the OpenAL objects of the first `made` environments and the records.
static void freeEnvironments(int made)
{
    const EfxFunctions &f = state.functions;
    for (int i = 0; i < made; i++) {
        AudioEnv &env = state.envs[i];
        f.auxiliaryEffectSloti(env.auxSlot, AL_EFFECTSLOT_EFFECT, AL_EFFECT_NULL);
        f.deleteAuxiliaryEffectSlots(1, &env.auxSlot);
        f.deleteEffects(1, &env.effect);
    }
    state.envs.reset();
    state.count = 0;
}

// One environment per auxiliary send of the device, each announced on its own "DEBUG SLOT" line.
static bool createEnvironments(ALCdevice *device)
{
    ALCint sends = 0;
    alcGetIntegerv(device, ALC_MAX_AUXILIARY_SENDS, 1, &sends);
    if (sends <= 0) {
        logReport(stdout, LOG_ERROR, {"Not enough auxiliary effect slots for EFX to function."});
        return false;
    }
    state.envs.reset(new (std::nothrow) AudioEnv[sends]);
    if (!state.envs) {
        logReport(stdout, LOG_ERROR, {"Not enough memory to hold environmental slot info.",
                                      "There is a major lack of memory here.", "Have a nice day!"});
        return false;
    }
    state.count = sends;
    const EfxFunctions &f = state.functions;
    alGetError();
    int made = 0;
    for (; made < sends; made++) {
        AudioEnv &env = state.envs[made];
        const std::string number = std::to_string(made);
        print("DEBUG SLOT " + number + ": Aux, ");
        f.genAuxiliaryEffectSlots(1, &env.auxSlot);
        if (alGetError() != AL_NO_ERROR || env.auxSlot == 0) {
            logReport(stdout, LOG_ERROR, {"Could not generate auxiliary slot #" + number + "."});
            break;
        }
        print("effect, ");
        f.genEffects(1, &env.effect);
        if (alGetError() != AL_NO_ERROR || env.effect == 0) {
            logReport(stdout, LOG_ERROR, {"Could not generate effect slot #" + number + "."});
            f.deleteAuxiliaryEffectSlots(1, &env.auxSlot);
            break;
        }
        print("reverb, ");
        env.start = env.current = env.target = reverbPreset(0);
        f.effecti(env.effect, AL_EFFECT_TYPE, AL_EFFECT_EAXREVERB);
        print("attach.\n");
        f.auxiliaryEffectSloti(env.auxSlot, AL_EFFECTSLOT_EFFECT, (ALint)env.effect);
        if (alGetError() != AL_NO_ERROR) {
            logReport(stdout, LOG_ERROR, {"Could not pair effect to auxiliary slot (#" + number + ")."});
            f.deleteAuxiliaryEffectSlots(1, &env.auxSlot);
            f.deleteEffects(1, &env.effect);
            break;
        }
        f.auxiliaryEffectSloti(env.auxSlot, AL_EFFECTSLOT_EFFECT, AL_EFFECT_NULL);  // until its first use
        // NOTE: the lock is a std::mutex, which cannot fail to be made.
    }
    alGetError();
    if (made == sends) {
        print("Number of auxiliary effect slots: " + std::to_string(sends) + "\n");
        return true;
    }
    freeEnvironments(made);
    print("       Freed all failed environmental slots.\n");
    alGetError();
    return false;
}

bool initEfx(ALCdevice *device)
{
    if (state.available) return true;
    if (alcIsExtensionPresent(device, "ALC_EXT_EFX") != ALC_TRUE) {
        logReport(stdout, LOG_WARNING, {"The EFX extension is not present.", "Sounds will have no environmental effects."});
        return false;
    }
    alGetError();
    print("The EFX extension is available.\n");
    if (!fetchEfxFunctions()) {
        logReport(stdout, LOG_ERROR,
                  {"Failed to initialize all EFX function pointers.", "Sounds will have no environmental effects."});
        return false;
    }
    if (!createEnvironments(device)) {
        logReport(stdout, LOG_ERROR, {"Failed to initialize EFX extension.", "Sounds will have no environmental effects."});
        return false;
    }
    state.available = true;
    return true;
}

void destroyEnvironments()
{
    state.available = false;
    if (!state.envs) return;
    freeEnvironments(state.count);
    alGetError();
    print("Deleted all environment slots.\n");
}

int32_t environmentCount() { return state.available ? state.count : 0; }

static AudioEnv *environment(int32_t env)
{
    return state.available && env >= 1 && env <= state.count ? &state.envs[env - 1] : nullptr;
}

ALuint routeToEnvironment(int32_t env)
{
    AudioEnv *found = environment(env);
    if (found == nullptr) return AL_EFFECTSLOT_NULL;
    if (!found->attached.exchange(true))  // its reverb starts with the first source sent to it
        state.functions.auxiliaryEffectSloti(found->auxSlot, AL_EFFECTSLOT_EFFECT, (ALint)found->effect);
    return found->auxSlot;
}

ALuint environmentEffect(int32_t env)
{
    const AudioEnv *found = environment(env);
    return found ? found->effect : 0;
}

// Sends where the environment is now: part way from start to target while elapsed is short of the
// transition's length, else the target (and the transition ends). Caller holds its lock.
static void applyEnvironmentLocked(AudioEnv &env)
{
    alGetError();
    if (env.elapsed < env.transitionTime) {
        const float t = (float)env.elapsed / (float)env.transitionTime;
        for (int k = 0; k < 26; k++)
            env.current.values[k] = (env.target.values[k] - env.start.values[k]) * t + env.start.values[k];
        env.current.decayHFLimit =
            env.elapsed > env.transitionTime / 2 ? env.target.decayHFLimit : env.start.decayHFLimit;
    } else {
        env.transitioning = false;
        env.current = env.target;
    }
    // The 23 parameters go in the order of their numbers, AL_EAXREVERB_DENSITY (1) to
    // AL_EAXREVERB_DECAY_HFLIMIT (23), which is the order of the values; the pans take three each.
    const EfxFunctions &f = state.functions;
    int k = 0;
    for (ALenum parameter = AL_EAXREVERB_DENSITY; parameter < AL_EAXREVERB_DECAY_HFLIMIT; parameter++) {
        if (parameter == AL_EAXREVERB_REFLECTIONS_PAN || parameter == AL_EAXREVERB_LATE_REVERB_PAN) {
            f.effectfv(env.effect, parameter, &env.current.values[k]);
            k += 3;
        } else {
            f.effectf(env.effect, parameter, env.current.values[k++]);
        }
    }
    f.effecti(env.effect, AL_EAXREVERB_DECAY_HFLIMIT, env.current.decayHFLimit);
    f.auxiliaryEffectSloti(env.auxSlot, AL_EFFECTSLOT_EFFECT, (ALint)env.effect);  // the slot takes the new values
    env.attached = true;
}

void setEnvironment(int32_t env, int32_t transitionTicks, int32_t effectType, const ReverbProperties &properties)
{
    AudioEnv *found = environment(env);
    if (found == nullptr || effectType != 0) return;
    std::lock_guard<std::mutex> guard(found->lock);
    found->target = properties;
    found->elapsed = 0;
    if (transitionTicks > 0) {  // the next update begins the glide from what was last sent
        found->start = found->current;
        found->transitionTime = transitionTicks;
        found->transitioning = true;
    } else {
        found->transitionTime = 0;
        applyEnvironmentLocked(*found);
    }
}

void presetEnvironment(int32_t env, int32_t transitionTicks, int32_t preset)
{
    if (!state.available) return;
    setEnvironment(env, transitionTicks, 0, reverbPreset(preset));
}

void updateEnvironments()
{
    if (!state.available) return;
    for (int i = 0; i < state.count; i++) {
        AudioEnv &env = state.envs[i];
        std::lock_guard<std::mutex> guard(env.lock);
        if (env.transitioning) applyEnvironmentLocked(env);
        if (env.elapsed <= INT32_MAX - 4) env.elapsed += 4;  // counts on while idle (a year's worth, then holds)
    }
}
