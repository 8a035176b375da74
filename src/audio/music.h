// audio/music.h - streamed music: Ogg Vorbis files of resource type 2, and music slots that play
// playlists of them on reserved source slots, two OpenAL buffers taking turns.
//
// A Music is never decoded whole: its decoder reads the file (an archive entry's copy in memory,
// or the loose file) through the engine's DataFile, one buffer at a time. One decoder has one read
// position, so a slot that needs a Music another slot streams opens a private copy of it, which
// dies with the playlist entry that holds it. A Music freed by its owner while playlists hold it
// lives, marked for deletion, until the last playlist lets it go.
//
// Threads: openMusic/freeMusic on the loader thread (or the main thread at shutdown); the slot
// operations on the script thread; updateMusicSlots on the audio thread. Every slot operation and
// update holds the music lock for its whole run, so a script call may wait for up to two buffers
// to decode.
// Lock order: the music lock, then a source slot's lock or a Music's lock, one at a time.
#pragma once

#include <AL/al.h>
#include <vorbis/vorbisfile.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "resources/data_file.h"

enum LoopMode { LOOP_ALL = 0, LOOP_FINAL = 1, NO_LOOP = 2 };  // any other number plays as NO_LOOP

// One opened Ogg Vorbis file.
struct Music
{
    std::mutex lock;              // guards decoder, inUse, pendingDelete, useCount (and the file under them)
    std::string name;             // the path it was opened with; private copies open it again
    OggVorbis_File decoder{};     // one read position
    vorbis_info *info = nullptr;  // channels and rate, as the stream starts
    ALenum format = 0;            // AL_FORMAT_MONO16 for one channel, else AL_FORMAT_STEREO16
    bool pendingDelete = false;   // freed by its owner (or a private copy): the last playlist frees it
    bool inUse = false;           // a music slot streams from this decoder now
    int32_t useCount = 0;         // playlist entries that hold it
    DataFile file;                // what the decoder reads
    int64_t fileSize = 0;
};

// --- Music objects (any thread; the resource type's load and unload run on the loader thread)
bool registerMusicResource();
Music *openMusic(const std::string &path);  // nullptr when the file is missing or not Ogg Vorbis; prints nothing
bool freeMusic(Music *music);               // now, or when the last playlist lets go; null does nothing
int32_t openMusicCount();                   // Music objects alive in the process (tests, benchmarks)

// --- the music system (initAudio/shutdownAudio call these on the main thread)
bool initMusicSystem();     // two slots; false after its message when they cannot be had
void shutdownMusicSystem();
void updateMusicSlots();    // audio thread, every tick: refills finished buffers, restarts dry sources

// --- music slots (script thread); a bad slot number, or no music system, does nothing
bool setMusicSlotCount(int32_t count);  // false when not running or count is outside 0..source slots
bool assignMusic(int32_t slot, Music *music);  // the playlist becomes `music` alone; false for none
bool appendMusic(int32_t slot, Music *music);  // false for none
void playMusicSlot(int32_t slot, float startSeconds, int32_t loopMode);  // nothing while it plays
void pauseMusicSlot(int32_t slot);
void stopMusicSlot(int32_t slot);
void stopAllMusicSlots();
bool isMusicSlotPlaying(int32_t slot);
int32_t musicSlotSource(int32_t slot);  // the slot's source ID; a new one naming no slot for a bad slot
