// audio/audio.h - the audio device, its fixed pool of source slots and the source IDs that name them.
//
// Every play request gets a new source ID (0 upward, one by one, never reused in a run). An ID
// names a slot while the ID map holds it; an ID the map does not hold names no slot, and every
// operation on it does nothing (queries answer false). Without a device, or before initAudio,
// every operation does nothing, answers false, or hands out an ID that names no slot.
//
// Threads: initAudio/shutdownAudio on the main thread. allocateSource, the per-ID setters and the
// queries on the script (main) thread; only that thread allocates. releaseSlot and the apply
// operations wherever the slot's lock is held: the audio thread, the loader thread (freeSound),
// the main thread (stop, takeover).
// Lock order: a slot's lock, then the ID lock or a sound's lock. One slot lock at a time; the ID
// lock is never held while a slot's lock is taken.
#pragma once

#include <AL/al.h>

#include <cstdint>
#include <mutex>
#include <string>

struct lua_State;
struct Sound;

enum PositionType { FROM_POINT = 0, WITH_CAMERA = 1, FROM_OBJECT = 2 };

static const int MAX_SOURCE_SLOTS = 1000;

// One OpenAL source of the pool and what plays on it. Every field is guarded by `lock`.
struct SourceSlot
{
    std::mutex lock;
    uint8_t priority = 0;         // the occupant's; smaller is more important, 0 the most
    int32_t sourceId = -1;        // the ID handed out for the occupant
    ALuint source = 0;            // made at start-up, deleted at shutdown
    Sound *sound = nullptr;       // what plays here; holds one of the sound's play counts
    bool active = false;          // playing, or reserved by a music slot; cleared by releaseSlot
    bool looping = false;
    bool reserved = false;        // a music slot's: never taken, taken back or stopped by stopSoundSrc
    float volume = 1, pitch = 1;  // AL_GAIN, AL_PITCH
    bool filterOn = false;        // the low-pass filter shapes the sound
    ALuint filter = 0;            // the slot's low-pass filter, when environments exist
    float filterGain = 1, filterGainHF = 1;
    int16_t env = 0;              // environment 1..count; any other number is none
    int32_t posType = WITH_CAMERA;
    float pan = 0;                // WITH_CAMERA: pan units right of the listener
    float x = 0, y = 0;           // FROM_POINT and FROM_OBJECT
    int32_t objectId = -1;        // kept with FROM_OBJECT; nothing derives a position from it
    bool volumeDirty = false, pitchDirty = false;  // changed, not yet sent by the audio thread
    bool positionDirty = false, filterDirty = false;
};

// --- the device (main thread)
std::string defaultAudioDeviceName();       // the system's default device; "" when it names none
bool initAudio(const std::string &device);  // true when ready (also when it already was); false: silent
bool shutdownAudio();                       // always true; does nothing unless initAudio succeeded
bool audioInitialised();                    // any thread
int sourceSlotCount();                      // 0..1000; 0 without audio
int sourceSlotsInUse();  // slots 0 up to this have been occupied since start-up; none above ever was
SourceSlot *sourceSlot(int index);          // nullptr outside the pool; lock it before use

// --- source IDs and slots
int32_t allocateSource(uint8_t priority);  // script thread; the slot (if any) is not active yet
int findSlot(int32_t id);                  // the slot the ID names, or -1
int32_t emptySourceId();                   // a new ID that names no slot (works without audio)
void releaseSlot(int index);               // caller holds the slot's lock: stops, lets its sound go, frees the ID
void applySlot(SourceSlot &slot);          // caller holds the lock: sends every value to OpenAL
void applySlotFilter(SourceSlot &slot);    // caller holds the lock: filter and environment routing
void applySlotPosition(SourceSlot &slot);  // caller holds the lock: (pan, 0, 0) with camera, else (x, y, 0)
// A slot held for a music slot for as long as it likes: allocated with priority 0 (it may stop a
// sound), reserved and active, defaults sent. The ID, which names no slot when none could be had.
int32_t reserveSourceSlot();

// --- per-ID setters (script thread): they only store and mark the value for the audio thread
void setSourceVolume(int32_t id, float volume);
void setSourcePitch(int32_t id, float pitch);
void setSourcePositionType(int32_t id, int32_t type);
void setSourcePosition(int32_t id, float x, float y);  // marks the position even when unchanged
void setSourcePan(int32_t id, float pan);
void setSourceObject(int32_t id, int32_t objectId);
void setSourceFilter(int32_t id, bool on);
void setSourceFilterGain(int32_t id, float gain);
void setSourceFilterGainHF(int32_t id, float gain);
void setSourceEnvironment(int32_t id, int16_t env);

// --- queries and stop (script thread)
bool isSourcePlaying(int32_t id);  // true until the audio thread has taken back a finished slot
void stopSource(int32_t id);       // releases the slot unless a music slot holds it
ALuint openalSourceOf(int32_t id);  // the slot's OpenAL source, 0 for none (tests and benchmarks)

// --- script functions: the audio library (sounds, music, environments) and its constants
bool registerAudioFunctions(lua_State *L);
