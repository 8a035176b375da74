// audio/sound.h - sounds: WAV files held whole in one OpenAL buffer, resource type 1, with the
// play defaults that each play copies into its slot.
//
// A sound may be freed by the resource manager while it plays: it is then marked for deletion and
// lives until its last slot lets it go (looping plays are stopped at once, one-shots finish).
// Ownership: the resource manager owns a sound until freeSound; after that, the last slot does.
//
// Threads: loadSound/freeSound on the loader thread (or the main thread at shutdown); playSoundOn
// and the defaults on the script thread; releaseSlot on any thread holding a slot lock.
// Lock order: a slot's lock, then the sound's lock. freeSound lets go of the sound's lock before it
// takes slot locks.
#pragma once

#include <AL/al.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "audio/audio.h"

struct Sound
{
    std::mutex lock;             // guards playCount and pendingDelete, and each default while it is set
    int32_t playCount = 0;       // slots playing this sound now
    bool pendingDelete = false;  // freed by its owner while playing: the last release destroys it
    // Play defaults: written on the script thread under the lock, read by plays on that thread.
    float volume = 1, pitch = 1;
    bool filterOn = false;
    float filterGain = 1, filterGainHF = 1;
    int16_t env = 0;
    ALuint buffer = 0;            // owned; 0 once destroyed
    int32_t posType = WITH_CAMERA;
    float pan = 0, x = 0, y = 0;
    int32_t objectId = -1;
};

// A WAV file's PCM data as read, before OpenAL sees it.
struct WavData
{
    int channels = 0;
    int32_t sampleRate = 0;
    int bitsPerSample = 0;
    std::vector<uint8_t> bytes;  // the data chunk; whole frames only
};

// --- reading (any thread; prints nothing)
// The strict reader: "RIFF", "WAVE", a 16-byte "fmt " chunk of integer PCM, an optional "fact"
// chunk, then "data"; nothing else is searched for or skipped. A data size past the end of the
// file is kept, the missing part silent, while the file holds at least half of it; a larger one
// (0xFFFFFFFF from a writer that never finished) counts as unknown: the data is what the file holds.
bool readWav(const std::string &path, WavData &wav);  // through DataFile: the archive first
ALenum wavFormat(int bitsPerSample, int channels);  // AL_FORMAT_MONO8..STEREO16, or 0 for any other
ALuint loadWav(const std::string &path);            // a filled buffer, 0 on any failure or without audio

// --- the resource type (start-up registers it; loads and frees run on the loader thread)
bool registerSoundResource();
Sound *loadSound(const std::string &path);  // nullptr without audio, on any failure or for no samples
bool freeSound(Sound *sound);               // now, or when its last slot lets it go; null does nothing
void destroySound(Sound *sound);            // deletes the buffer; no slot may play it any more

// --- playing (script thread)
int32_t playSoundOn(Sound *sound, bool loop, uint8_t priority);  // an ID naming no slot when nothing plays
// Stores one play default under the sound's lock; later plays start with it. None does nothing.
template <typename T>
void setSoundDefault(Sound *sound, T Sound::*field, T value)
{
    if (sound == nullptr) return;
    std::lock_guard<std::mutex> guard(sound->lock);
    sound->*field = value;
}
