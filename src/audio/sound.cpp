// audio/sound.cpp - WAV sounds: the strict reader, the resource type, plays and the free hand-over.
//
// A sound is loaded on the loader thread (read through DataFile, so from the archive when one is
// open) into one OpenAL buffer. playSoundOn, on the script thread, takes a slot, copies the sound's
// defaults into it and starts it, all under the slot's lock, raising the play count before the
// lock goes so that no release can lower it first. freeSound, on the loader thread, destroys a
// sound at once when nothing plays it; otherwise it marks it for deletion and stops its looping
// plays, and the release of its last slot (releaseSlot, audio.cpp) destroys it.
//
// Threads and locks: see sound.h. OpenAL reports errors per context, shared by every thread, so
// a load checks what it made (the buffer's name and size) rather than trusting alGetError alone.
#include "audio/sound.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "resources/data_file.h"
#include "resources/registry.h"

// --- reading

// Four bytes, one at a time (zeros past the end).
static std::string readTag(DataFile &file)
{
    std::string tag(4, '\0');
    for (char &byte : tag) byte = (char)file.readByte();
    return tag;
}

bool readWav(const std::string &path, WavData &wav)
{
    DataFile file;
    if (!file.openForRead(path)) return false;
    if (readTag(file) != "RIFF") return false;
    file.readInt32();  // the RIFF size says nothing the chunks do not
    if (readTag(file) != "WAVE" || readTag(file) != "fmt " || file.readInt32() != 16 || file.readInt16() != 1)
        return false;
    wav.channels = (uint16_t)file.readInt16();
    wav.sampleRate = file.readInt32();
    file.readInt32();  // byte rate and block alignment follow from the rest
    file.readInt16();
    wav.bitsPerSample = (uint16_t)file.readInt16();
    std::string tag = readTag(file);
    if (tag == "fact") {
        file.skip((int16_t)file.readInt32());  // the skip moves by a signed 16-bit count
        tag = readTag(file);
    }
    if (tag != "data") return false;
    const uint64_t declared = (uint32_t)file.readInt32();
    if (file.atEnd()) return false;
    const uint64_t present = (uint64_t)std::max<int64_t>(0, file.size() - file.tell());
    const uint64_t kept = declared <= 2 * present ? declared : present;  // see sound.h
    const uint64_t frame = std::max<uint64_t>(1, (uint64_t)wav.channels * wav.bitsPerSample / 8);
    const uint64_t length = kept - kept % frame;
    const uint8_t silence = wav.bitsPerSample == 8 ? 0x80 : 0;  // 8-bit samples are unsigned
    try {
        wav.bytes.assign(length, silence);
    } catch (const std::bad_alloc &) {
        return false;
    }
    file.readBytes(wav.bytes.data(), std::min(length, present));
    file.close();
    return true;
}

ALenum wavFormat(int bitsPerSample, int channels)
{
    if (bitsPerSample == 8 && channels == 1) return AL_FORMAT_MONO8;
    if (bitsPerSample == 8 && channels == 2) return AL_FORMAT_STEREO8;
    if (bitsPerSample == 16 && channels == 1) return AL_FORMAT_MONO16;
    if (bitsPerSample == 16 && channels == 2) return AL_FORMAT_STEREO16;
    return 0;
}

ALuint loadWav(const std::string &path)
{
    WavData wav;
    if (!audioInitialised() || !readWav(path, wav)) return 0;
    alGetError();
    ALuint buffer = 0;
    alGenBuffers(1, &buffer);
    if (alGetError() != AL_NO_ERROR || buffer == 0 || !alIsBuffer(buffer)) return 0;
    const ALenum format = wavFormat(wav.bitsPerSample, wav.channels);
    if (format == 0) {
        alDeleteBuffers(1, &buffer);
        return 0;
    }
    if (wav.bytes.size() > INT32_MAX) {
        alDeleteBuffers(1, &buffer);
        return 0;
    }
    static const uint8_t nothing = 0;
    alBufferData(buffer, format, wav.bytes.empty() ? &nothing : wav.bytes.data(), (ALsizei)wav.bytes.size(),
                 wav.sampleRate);
    ALint size = -1;
    alGetBufferi(buffer, AL_SIZE, &size);
    if (alGetError() != AL_NO_ERROR || size != (ALint)wav.bytes.size()) {
        alDeleteBuffers(1, &buffer);
        return 0;
    }
    return buffer;
}

// --- the resource type

Sound *loadSound(const std::string &path)
{
    if (!audioInitialised()) return nullptr;
    ALuint buffer = loadWav(path);
    if (buffer == 0) return nullptr;
    ALint size = 0;
    alGetBufferi(buffer, AL_SIZE, &size);
    Sound *sound = size > 0 ? new (std::nothrow) Sound : nullptr;
    if (sound == nullptr) {
        alDeleteBuffers(1, &buffer);
        return nullptr;
    }
    sound->buffer = buffer;
    return sound;
}

void destroySound(Sound *sound)
{
    if (sound->buffer != 0) alDeleteBuffers(1, &sound->buffer);
    sound->buffer = 0;
    sound->pendingDelete = false;
}

bool freeSound(Sound *sound)
{
    if (sound == nullptr) return true;
    bool playing;
    {
        std::lock_guard<std::mutex> guard(sound->lock);
        playing = sound->playCount >= 1;
        sound->pendingDelete = playing;
    }
    if (!playing) {
        destroySound(sound);
        delete sound;
        return true;
    }
    // From here on the sound may be destroyed at any moment by the release of its last slot (on the
    // audio thread): its address is compared, never used.
    for (int i = 0; i < sourceSlotsInUse(); i++) {
        SourceSlot *slot = sourceSlot(i);
        if (slot == nullptr) break;
        std::lock_guard<std::mutex> guard(slot->lock);
        if (slot->sound == sound && slot->looping) releaseSlot(i);
    }
    return true;
}

static void *loadSoundResource(const ResourceKey &key) { return loadSound(key.directory + key.name); }
static int unloadSoundResource(void **object)
{
    Sound *sound = (Sound *)*object;
    *object = nullptr;
    freeSound(sound);
    return 0;
}

bool registerSoundResource()
{
    return registerResourceType(RESOURCE_SOUND, {loadSoundResource, unloadSoundResource, nullptr});
}

// --- playing

int32_t playSoundOn(Sound *sound, bool loop, uint8_t priority)
{
    if (!audioInitialised() || sound == nullptr || sound->buffer == 0) return emptySourceId();
    const int32_t id = allocateSource(priority);
    SourceSlot *slot = sourceSlot(findSlot(id));
    if (slot == nullptr) return id;  // no slot could be had: nothing plays
    std::lock_guard<std::mutex> guard(slot->lock);
    slot->active = true;
    slot->sound = sound;
    slot->looping = loop;
    slot->env = sound->env;
    slot->filterGain = sound->filterGain;
    slot->filterGainHF = sound->filterGainHF;
    slot->objectId = sound->objectId;
    slot->pan = sound->pan;
    slot->pitch = sound->pitch;
    slot->posType = sound->posType;
    slot->filterOn = sound->filterOn;
    slot->volume = sound->volume;
    slot->x = sound->x;
    slot->y = sound->y;
    applySlot(*slot);
    alSourcei(slot->source, AL_BUFFER, (ALint)sound->buffer);
    alSourcePlay(slot->source);
    alGetError();
    std::lock_guard<std::mutex> soundGuard(sound->lock);
    sound->playCount++;
    return id;
}
