// audio/music.cpp - music slots.
// TODO: not built yet. The music system never starts, so every operation answers as it does when
// the music system is not running: nothing happens, false, or a source ID that names no slot.
#include "audio/music.h"

#include "audio/audio.h"

bool initMusicSystem() { return false; }
void shutdownMusicSystem() {}
void updateMusicSlots() {}

bool setMusicSlotCount(int32_t count)
{
    (void)count;
    return false;
}
bool assignMusic(int32_t slot, Music *music)
{
    (void)slot, (void)music;
    return false;
}
bool appendMusic(int32_t slot, Music *music) { return assignMusic(slot, music); }
void playMusicSlot(int32_t slot, float startSeconds, int32_t loopMode) { (void)slot, (void)startSeconds, (void)loopMode; }
void pauseMusicSlot(int32_t slot) { (void)slot; }
void stopMusicSlot(int32_t slot) { (void)slot; }
void stopAllMusicSlots() {}
bool isMusicSlotPlaying(int32_t slot)
{
    (void)slot;
    return false;
}
int32_t musicSlotSource(int32_t slot)
{
    (void)slot;
    return emptySourceId();
}
