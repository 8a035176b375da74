// audio/audio.cpp - the OpenAL device and context, the pool of source slots and the source IDs.
//
// How it works: initAudio opens the device, makes its context current for the whole process and
// makes as many sources as the device gives, one at a time, up to 1000; each becomes a slot with
// its own lock. A play asks allocateSource for a slot: the first idle one in index order, else the
// first busy one whose occupant is less important (a greater priority number; never a music
// slot's), whose sound is stopped; priority 0 takes the first slot that is not reserved when no
// other can be had. Each request gets the next source ID, entered in the ID map when it got a slot.
// Scripts change a playing slot through per-ID setters that only store the value and mark it; the
// audio thread (audio_thread.cpp) sends marked values and takes back slots whose sound ended.
//
// Threads: the main thread (start-up, shutdown, every script call), the audio thread (ticks) and
// the loader thread (freeSound releases looping slots of a freed sound). OpenAL is called from all
// three; the context is current process-wide.
// Lock order: a slot's lock, then idLock or a sound's lock. One slot lock at a time; idLock is
// never held while a slot lock is taken.
#include "audio/audio.h"

#include <AL/alc.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>

#include "audio/audio_thread.h"
#include "audio/environment.h"
#include "audio/music.h"
#include "audio/sound.h"
#include "core/log.h"

struct AudioState
{
    std::atomic<bool> initialised{false};  // after a complete initAudio; cleared first by shutdownAudio
    ALCdevice *device = nullptr;           // main thread only
    ALCcontext *context = nullptr;         // current for the whole process while open
    int sourceCount = 0;                   // slots in the pool; fixed while initialised
    std::unique_ptr<SourceSlot[]> slots;   // sourceCount entries; each guarded by its own lock
    std::atomic<int> slotsInUse{0};        // 1 + the highest slot index occupied since start-up
                                           // (slots fill in index order); written by the script thread
    std::mutex idLock;
    int32_t nextSourceId = 0;              // guarded by idLock; only grows
    std::map<int32_t, int32_t> idMap;      // guarded by idLock: source ID -> slot index
};
// Never destroyed: a script's os.exit ends the process while the audio and loader threads may
// still be using the slots (exit handlers stop both threads, see closeAudioAtExit).
static AudioState &audio = *new AudioState;

static void printLines(std::initializer_list<std::string> lines) { logReport(stdout, "", lines); }

// Runs from exit(), which a script's os.exit calls without any shutdown: stops the audio thread and
// closes the device quietly (OpenAL Soft complains on stderr of a device left open). The slots
// stay: the loader thread, stopped by an exit handler that runs after this one, may still be
// releasing one; without audio, that does nothing.
static void closeAudioAtExit()
{
    stopAudioThread();
    if (!audio.initialised) return;
    audio.initialised = false;
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(audio.context);
    alcCloseDevice(audio.device);
}

std::string defaultAudioDeviceName()
{
    if (alcIsExtensionPresent(nullptr, "ALC_ENUMERATION_EXT") != ALC_TRUE) return std::string();
    const ALCchar *name = alcGetString(nullptr, ALC_DEFAULT_DEVICE_SPECIFIER);
    return name ? std::string(name) : std::string();
}

// The slot's low-pass filter, at gain 1 and gain HF 1. When one cannot be made, environments and
// filters are off for the rest of the run (no later slot gets a filter).
static void makeSlotFilter(SourceSlot &slot, int index)
{
    const EfxFunctions &f = efx();
    f.genFilters(1, &slot.filter);
    if (slot.filter != 0 && f.isFilter(slot.filter)) {
        f.filteri(slot.filter, AL_FILTER_TYPE, AL_FILTER_LOWPASS);
        f.filterf(slot.filter, AL_LOWPASS_GAIN, slot.filterGain);
        f.filterf(slot.filter, AL_LOWPASS_GAINHF, slot.filterGainHF);
        return;
    }
    slot.filter = 0;
    logReport(stdout, LOG_ERROR, {"Could not make a filter for source #" + std::to_string(index) + ".",
                                  "Sounds will have no environmental effects.",
                                  "Also leaking memory because I'm lazy and this shouldn't happen.",
                                  "Let me know if you see this error."});
    disableEfx();
}

// Steps 2 to 4 of the start: device, context, current context. False after the messages.
static bool openDeviceAndContext(const std::string &name)
{
    audio.device = alcOpenDevice(name.c_str());
    if (audio.device == nullptr) audio.device = alcOpenDevice(nullptr);
    if (audio.device == nullptr) {
        logReport(stdout, LOG_ERROR, {"Could not open the audio device.", "There will be no sound."});
        return false;
    }
    audio.context = alcCreateContext(audio.device, nullptr);
    if (audio.context == nullptr) {
        logReport(stdout, LOG_ERROR,
                  {"Could not open the audio context.", "Closing the audio device.", "There will be no sound."});
        alcCloseDevice(audio.device);
        audio.device = nullptr;
        return false;
    }
    if (alcMakeContextCurrent(audio.context) != ALC_TRUE) {
        logReport(stdout, LOG_ERROR, {"Could not make the audio context current.",
                                      "Closing the audio context and device.", "There will be no sound."});
        alcDestroyContext(audio.context);
        alcCloseDevice(audio.device);
        audio.context = nullptr;
        audio.device = nullptr;
        return false;
    }
    return true;
}

bool initAudio(const std::string &device)
{
    if (audio.initialised) return true;
    if (!openDeviceAndContext(device)) return false;
    printLines({"Initialized OpenAL device and context."});
    alGetError();
    initEfx(audio.device);  // environments, when the device has them; prints why not otherwise

    ALuint sources[MAX_SOURCE_SLOTS];
    int count = 0;
    while (count < MAX_SOURCE_SLOTS) {
        ALuint source = 0;
        alGenSources(1, &source);
        if (alGetError() != AL_NO_ERROR || source == 0) break;
        sources[count++] = source;
    }
    printLines({"Number of audio source slots: " + std::to_string(count)});
    audio.slots.reset(new (std::nothrow) SourceSlot[count > 0 ? count : 1]);
    if (!audio.slots) {
        logReport(stdout, LOG_ERROR, {"Major lack of memory initializing QFAudio.", "Game will have no audio.",
                                      "Seems like that's the least of your concerns."});
        return false;
    }
    // NOTE: the slot locks and idLock are std::mutex, which cannot fail to be made, so the
    // "Could not make a mutex" and idLock messages have no way to happen here.
    for (int i = 0; i < count; i++) {
        audio.slots[i].source = sources[i];
        if (efxAvailable()) makeSlotFilter(audio.slots[i], i);
    }
    audio.sourceCount = count;
    audio.slotsInUse = 0;
    {
        std::lock_guard<std::mutex> guard(audio.idLock);
        audio.nextSourceId = 0;  // the first ID of a run is 0
        audio.idMap.clear();
    }
    audio.initialised = true;
    initMusicSystem();
    printLines({"Quillfen Audio has loaded successfully."});
    static const bool closesAtExit = atexit(closeAudioAtExit) == 0;  // once per process
    (void)closesAtExit;
    if (!startAudioThread()) logReport(stdout, LOG_WARNING, {"Could not start audio thread. Begin chaos."});
    return true;
}

// Stops the slot's source and detaches its buffer, so the buffer can be deleted.
static void detachSource(SourceSlot &slot)
{
    alSourceStop(slot.source);
    alSourcei(slot.source, AL_BUFFER, 0);
}

bool shutdownAudio()
{
    if (!audio.initialised) return true;
    printLines({"", "Shutting down QFAudio."});
    stopAudioThread();
    shutdownMusicSystem();
    audio.initialised = false;
    // Only the main thread runs now (the loader finished before shutdown), so the slots need no locks.
    for (int i = 0; i < audio.sourceCount; i++) {
        SourceSlot &slot = audio.slots[i];
        if (Sound *sound = slot.sound) {
            for (int j = i + 1; j < audio.sourceCount; j++) {
                if (audio.slots[j].sound != sound) continue;
                detachSource(audio.slots[j]);
                audio.slots[j].sound = nullptr;
            }
            detachSource(slot);
            slot.sound = nullptr;
            // A sound its owner has freed dies with its last slot. One still owned (a shutdown out of
            // the usual order) plays nowhere now: its owner frees it later.
            std::unique_lock<std::mutex> guard(sound->lock);
            sound->playCount = 0;
            if (sound->pendingDelete) {
                guard.unlock();
                destroySound(sound);
                delete sound;
            }
        }
        if (slot.filter != 0) {  // also after a later slot's filter failed and switched EFX off
            alSource3i(slot.source, AL_AUXILIARY_SEND_FILTER, AL_EFFECTSLOT_NULL, 0, AL_FILTER_NULL);
            alSourcei(slot.source, AL_DIRECT_FILTER, AL_FILTER_NULL);
            efx().deleteFilters(1, &slot.filter);
        }
        alDeleteSources(1, &slot.source);
    }
    audio.slots.reset();
    audio.sourceCount = 0;
    printLines({"Deleted all audio sources."});
    destroyEnvironments();
    {
        std::lock_guard<std::mutex> guard(audio.idLock);
        audio.idMap.clear();
    }
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(audio.context);
    alcCloseDevice(audio.device);
    audio.context = nullptr;
    audio.device = nullptr;
    printLines({"OpenAL context and device have been closed.", "QFAudio has been successfully shut down.", ""});
    return true;
}

bool audioInitialised() { return audio.initialised; }
int sourceSlotCount() { return audio.initialised ? audio.sourceCount : 0; }
int sourceSlotsInUse() { return audio.initialised ? audio.slotsInUse.load() : 0; }
SourceSlot *sourceSlot(int index)
{
    return audio.initialised && index >= 0 && index < audio.sourceCount ? &audio.slots[index] : nullptr;
}

// --- source IDs

int32_t emptySourceId()
{
    std::lock_guard<std::mutex> guard(audio.idLock);
    return audio.nextSourceId++;
}

// Caller holds the slot's lock (never idLock): the slot is the occupant's now, under a new ID.
static int32_t giveSlotLocked(int index, uint8_t priority)
{
    SourceSlot &slot = audio.slots[index];
    slot.priority = priority;
    if (index >= audio.slotsInUse) audio.slotsInUse = index + 1;
    std::lock_guard<std::mutex> guard(audio.idLock);
    slot.sourceId = audio.nextSourceId++;
    audio.idMap[slot.sourceId] = index;
    return slot.sourceId;
}

// Stops what plays on slot `index` and gives the slot to a new occupant.
static int32_t takeOverSlot(int index, uint8_t priority)
{
    std::lock_guard<std::mutex> guard(audio.slots[index].lock);
    releaseSlot(index);
    return giveSlotLocked(index, priority);
}

int32_t allocateSource(uint8_t priority)
{
    if (!audio.initialised) return emptySourceId();
    int candidate = -1;  // the first busy slot, in index order, with a less important occupant
    for (int i = 0; i < audio.sourceCount; i++) {
        SourceSlot &slot = audio.slots[i];
        std::lock_guard<std::mutex> guard(slot.lock);
        if (!slot.active) return giveSlotLocked(i, priority);  // active once the caller plays on it
        if (candidate < 0 && slot.priority > priority && !slot.reserved) candidate = i;
    }
    if (candidate >= 0) return takeOverSlot(candidate, priority);
    if (priority == 0) {  // the most important sound takes the first slot a sound may have
        for (int i = 0; i < audio.sourceCount; i++) {
            bool reserved;
            {
                std::lock_guard<std::mutex> guard(audio.slots[i].lock);
                reserved = audio.slots[i].reserved;
            }
            if (!reserved) return takeOverSlot(i, 0);
        }
    }
    return emptySourceId();  // nothing plays; every later call on this ID does nothing
}

int findSlot(int32_t id)
{
    if (!audio.initialised) return -1;
    std::lock_guard<std::mutex> guard(audio.idLock);
    const auto entry = audio.idMap.find(id);
    return entry == audio.idMap.end() ? -1 : entry->second;
}

void releaseSlot(int index)
{
    if (!audio.initialised || index < 0 || index >= audio.sourceCount) return;
    SourceSlot &slot = audio.slots[index];
    if (!slot.active) return;
    detachSource(slot);
    if (Sound *sound = slot.sound) {
        bool destroy;
        {
            std::lock_guard<std::mutex> guard(sound->lock);
            destroy = --sound->playCount < 1 && sound->pendingDelete;
        }
        if (destroy) {  // its owner freed it while it played here: this was its last slot
            destroySound(sound);
            delete sound;
        }
        slot.sound = nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(audio.idLock);
        audio.idMap.erase(slot.sourceId);
    }
    slot.reserved = slot.active = false;
    slot.volumeDirty = slot.pitchDirty = slot.positionDirty = slot.filterDirty = false;
}

int32_t reserveSourceSlot()
{
    const int32_t id = allocateSource(0);
    const int index = findSlot(id);
    if (index < 0) return id;
    SourceSlot &slot = audio.slots[index];
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.env = 0;
    slot.filterOn = false;
    slot.filterGain = slot.filterGainHF = 1;
    slot.reserved = slot.active = true;
    slot.looping = false;
    slot.objectId = -1;
    slot.pan = slot.x = slot.y = 0;
    slot.posType = WITH_CAMERA;
    slot.pitch = slot.volume = 1;
    applySlot(slot);
    return id;
}

// --- sending a slot's values to OpenAL

void applySlotPosition(SourceSlot &slot)
{
    if (slot.posType == WITH_CAMERA) alSource3f(slot.source, AL_POSITION, slot.pan, 0, 0);
    else alSource3f(slot.source, AL_POSITION, slot.x, slot.y, 0);
}

void applySlot(SourceSlot &slot)
{
    alGetError();
    applySlotFilter(slot);
    alSourcef(slot.source, AL_PITCH, slot.pitch);
    alSourcef(slot.source, AL_GAIN, slot.volume);
    applySlotPosition(slot);
    alSource3f(slot.source, AL_VELOCITY, 0, 0, 0);
    alSourcei(slot.source, AL_LOOPING, slot.looping ? AL_TRUE : AL_FALSE);
}

void applySlotFilter(SourceSlot &slot)
{
    if (!efxAvailable()) return;
    const ALuint aux = routeToEnvironment(slot.env);  // none unless 1 <= env <= the count
    ALuint filter = AL_FILTER_NULL;
    if (slot.filterOn) {
        efx().filterf(slot.filter, AL_LOWPASS_GAIN, slot.filterGain);
        efx().filterf(slot.filter, AL_LOWPASS_GAINHF, slot.filterGainHF);
        filter = slot.filter;
    }
    // One filter shapes both the dry path and send 0, the only send a source uses.
    alSource3i(slot.source, AL_AUXILIARY_SEND_FILTER, (ALint)aux, 0, (ALint)filter);
    alSourcei(slot.source, AL_DIRECT_FILTER, (ALint)filter);
}

// --- per-ID setters and queries

// Runs `use` on the slot `id` names, under the slot's lock, while the ID still holds it.
template <typename Use>
static void withSlotOf(int32_t id, Use use)
{
    const int index = findSlot(id);
    if (index < 0) return;
    SourceSlot &slot = audio.slots[index];
    std::lock_guard<std::mutex> guard(slot.lock);
    if (slot.active && slot.sourceId == id) use(slot);
}

// Stores `value` and marks it for the audio thread when it differs from what is stored.
template <typename T>
static void store(T &field, T value, bool &dirty)
{
    if (field == value) return;
    field = value;
    dirty = true;
}

void setSourceVolume(int32_t id, float volume) { withSlotOf(id, [=](SourceSlot &s) { store(s.volume, volume, s.volumeDirty); }); }
void setSourcePitch(int32_t id, float pitch) { withSlotOf(id, [=](SourceSlot &s) { store(s.pitch, pitch, s.pitchDirty); }); }
void setSourcePositionType(int32_t id, int32_t type)
{
    withSlotOf(id, [=](SourceSlot &s) { store(s.posType, type, s.positionDirty); });
}
void setSourcePosition(int32_t id, float x, float y)
{
    withSlotOf(id, [=](SourceSlot &s) {
        s.x = x, s.y = y;
        s.positionDirty = true;
    });
}
void setSourcePan(int32_t id, float pan) { withSlotOf(id, [=](SourceSlot &s) { store(s.pan, pan, s.positionDirty); }); }
void setSourceObject(int32_t id, int32_t objectId)
{
    withSlotOf(id, [=](SourceSlot &s) { store(s.objectId, objectId, s.positionDirty); });
}
void setSourceFilter(int32_t id, bool on) { withSlotOf(id, [=](SourceSlot &s) { store(s.filterOn, on, s.filterDirty); }); }
void setSourceFilterGain(int32_t id, float gain)
{
    withSlotOf(id, [=](SourceSlot &s) { store(s.filterGain, gain, s.filterDirty); });
}
void setSourceFilterGainHF(int32_t id, float gain)
{
    withSlotOf(id, [=](SourceSlot &s) { store(s.filterGainHF, gain, s.filterDirty); });
}
void setSourceEnvironment(int32_t id, int16_t env) { withSlotOf(id, [=](SourceSlot &s) { store(s.env, env, s.filterDirty); }); }

bool isSourcePlaying(int32_t id)
{
    bool playing = false;
    withSlotOf(id, [&](SourceSlot &s) { playing = s.active; });
    return playing;
}

void stopSource(int32_t id)
{
    withSlotOf(id, [](SourceSlot &s) {
        if (!s.reserved) releaseSlot((int)(&s - audio.slots.get()));
    });
}

ALuint openalSourceOf(int32_t id)
{
    ALuint source = 0;
    withSlotOf(id, [&](SourceSlot &s) { source = s.source; });
    return source;
}
