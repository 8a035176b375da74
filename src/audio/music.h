// audio/music.h - music slots that stream Ogg Vorbis playlists on reserved source slots.
// TODO: not built yet: the music system never runs, so every operation does nothing, answers
// false, or hands out a source ID that names no slot.
// Threads: init/shutdown on the main thread inside initAudio/shutdownAudio; the slot operations
// on the script thread; updateMusicSlots on the audio thread.
#pragma once

#include <cstdint>

struct Music;

bool initMusicSystem();
void shutdownMusicSystem();
void updateMusicSlots();  // every audio tick, while the music system runs

bool setMusicSlotCount(int32_t count);
bool assignMusic(int32_t slot, Music *music);  // false for a bad slot or no music
bool appendMusic(int32_t slot, Music *music);
void playMusicSlot(int32_t slot, float startSeconds, int32_t loopMode);
void pauseMusicSlot(int32_t slot);
void stopMusicSlot(int32_t slot);
void stopAllMusicSlots();
bool isMusicSlotPlaying(int32_t slot);
int32_t musicSlotSource(int32_t slot);  // the slot's source ID; a new one naming no slot for a bad slot
