// audio/audio_script.cpp - the audio library of script functions and its constants: sounds,
// the slots that play them (by source ID), music slots and environments.
// Each function checks its exact argument count, converts its arguments without type checks
// (integers with lua_tointeger, numbers as floats, booleans by Lua's truth) and calls one audio
// operation. A handle argument that is not a handle of the right type (nil, a number, a table,
// another type's handle) counts as no sound or no music; a handle is locked for the length of
// the call, and a resource not loaded yet is none too. Everything works without audio: plays
// then hand out source IDs that name no slot, and queries answer false or 0.
// Threads: main thread only.
#include "audio/audio.h"
#include "audio/environment.h"
#include "audio/music.h"
#include "audio/sound.h"
#include "core/script.h"
#include "resources/registry.h"
#include "resources/resource_script.h"

static int32_t integer(lua_State *L, int index) { return (int32_t)lua_tointeger(L, index); }
static float number(lua_State *L, int index) { return (float)lua_tonumber(L, index); }

// The loaded object behind a handle argument, its record locked while this lives; null for none.
// NOTE: make it only after every check that may raise: lua_error would skip the unlock.
template <typename T, int TYPE>
struct LockedHandle
{
    LockedHandle(lua_State *L, int index) : record(handleArgument(L, index, TYPE))
    {
        object = record ? (T *)lockResource(record) : nullptr;
    }
    ~LockedHandle()
    {
        if (record) unlockResource(record);
    }
    ResourceRecord *record;
    T *object;
};
using LockedSound = LockedHandle<Sound, RESOURCE_SOUND>;
using LockedMusic = LockedHandle<Music, RESOURCE_MUSIC>;

// --- environments

// getNumAudioEnvs() -> the number of environments (0 without them)
static int l_getNumAudioEnvs(lua_State *L)
{
    if (lua_gettop(L) != 0) return raiseUsage(L, "0 args expected");
    lua_pushinteger(L, environmentCount());
    return 1;
}

// presetAudioEnv(envID, transitionTime, presetEnv): glides to the preset over transitionTime audio ticks
static int l_presetAudioEnv(lua_State *L)
{
    if (lua_gettop(L) != 3) return raiseUsage(L, "3 args expected: envID, transitionTime, presetEnv");
    presetEnvironment(integer(L, 1), integer(L, 2), integer(L, 3));
    return 0;
}

// --- sounds and the slots that play them

// playSound(sound, loop, priority) -> source ID; priority keeps its low 8 bits (256 -> 0, -1 -> 255)
static int l_playSound(lua_State *L)
{
    if (lua_gettop(L) != 3) return raiseUsage(L, "3 args expected: sound, loop, priority");
    const bool loop = lua_toboolean(L, 2);
    const uint8_t priority = (uint8_t)lua_tointeger(L, 3);
    int32_t id;
    {
        LockedSound sound(L, 1);
        id = playSoundOn(sound.object, loop, priority);
    }
    lua_pushinteger(L, id);
    return 1;
}

// stopSoundSrc(sourceID): stops that play (never a music slot's source)
static int l_stopSoundSrc(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: sourceID");
    stopSource(integer(L, 1));
    return 0;
}

// isSoundSrcPlaying(sourceID) -> true until the audio thread has taken back the ended play
static int l_isSoundSrcPlaying(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected");
    lua_pushboolean(L, isSourcePlaying(integer(L, 1)));
    return 1;
}

// The sound defaults: later plays of the sound start with them; plays already going keep theirs.
static int l_soundVolume(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sound, volume");
    LockedSound sound(L, 1);
    setSoundDefault(sound.object, &Sound::volume, number(L, 2));
    return 0;
}
static int l_soundPitch(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sound, pitch");
    LockedSound sound(L, 1);
    setSoundDefault(sound.object, &Sound::pitch, number(L, 2));
    return 0;
}
static int l_soundType(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sound, posType");
    LockedSound sound(L, 1);
    setSoundDefault(sound.object, &Sound::posType, integer(L, 2));
    return 0;
}
static int l_soundPos(lua_State *L)
{
    if (lua_gettop(L) != 3) return raiseUsage(L, "3 args expected: sound, x, y");
    LockedSound sound(L, 1);
    setSoundDefault(sound.object, &Sound::x, number(L, 2));
    setSoundDefault(sound.object, &Sound::y, number(L, 3));
    return 0;
}
static int l_soundPan(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sound, pan");
    LockedSound sound(L, 1);
    setSoundDefault(sound.object, &Sound::pan, number(L, 2));
    return 0;
}
static int l_soundObj(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sound, objectID");
    LockedSound sound(L, 1);
    setSoundDefault(sound.object, &Sound::objectId, integer(L, 2));
    return 0;
}
static int l_soundFilter(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sound, filterOnOrOff");
    LockedSound sound(L, 1);
    setSoundDefault(sound.object, &Sound::filterOn, (bool)lua_toboolean(L, 2));
    return 0;
}
static int l_soundGain(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sound, gain");
    LockedSound sound(L, 1);
    setSoundDefault(sound.object, &Sound::filterGain, number(L, 2));
    return 0;
}
static int l_soundGainHF(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sound, gainHF");
    LockedSound sound(L, 1);
    setSoundDefault(sound.object, &Sound::filterGainHF, number(L, 2));
    return 0;
}
static int l_soundEnv(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sound, env");
    LockedSound sound(L, 1);
    setSoundDefault(sound.object, &Sound::env, (int16_t)integer(L, 2));
    return 0;
}

// The soundSrc setters change one play; they only store the value, the audio thread sends it.
static int l_soundSrcVolume(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sourceID, volume");
    setSourceVolume(integer(L, 1), number(L, 2));
    return 0;
}
static int l_soundSrcPitch(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sourceID, pitch");
    setSourcePitch(integer(L, 1), number(L, 2));
    return 0;
}
static int l_soundSrcType(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sourceID, posType");
    setSourcePositionType(integer(L, 1), integer(L, 2));
    return 0;
}
static int l_soundSrcPos(lua_State *L)
{
    if (lua_gettop(L) != 3) return raiseUsage(L, "3 args expected: sourceID, x, y");
    setSourcePosition(integer(L, 1), number(L, 2), number(L, 3));
    return 0;
}
static int l_soundSrcPan(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sourceID, pan");
    setSourcePan(integer(L, 1), number(L, 2));
    return 0;
}
static int l_soundSrcObj(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sourceID, objectID");
    setSourceObject(integer(L, 1), integer(L, 2));
    return 0;
}
static int l_soundSrcFilter(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sourceID, filterOnOrOff");
    setSourceFilter(integer(L, 1), lua_toboolean(L, 2));
    return 0;
}
static int l_soundSrcGain(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sourceID, filterGain");
    setSourceFilterGain(integer(L, 1), number(L, 2));
    return 0;
}
static int l_soundSrcGainHF(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sourceID, filterGainHF");
    setSourceFilterGainHF(integer(L, 1), number(L, 2));
    return 0;
}
static int l_soundSrcEnv(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: sourceID, envID");
    setSourceEnvironment(integer(L, 1), (int16_t)integer(L, 2));
    return 0;
}

// --- music slots

// setNumMusicSlots(newSlotNum) -> true when the music system now has that many slots
static int l_setNumMusicSlots(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: newSlotNum");
    lua_pushboolean(L, setMusicSlotCount(integer(L, 1)));
    return 1;
}

// assignMusicToSlot(slot, music) -> true when the playlist is now that music alone
static int l_assignMusicToSlot(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: slot, music");
    bool assigned;
    {
        LockedMusic music(L, 2);
        assigned = assignMusic(integer(L, 1), music.object);
    }
    lua_pushboolean(L, assigned);
    return 1;
}

// appendMusicToSlot(slot, music) -> true when the music was added to the playlist
static int l_appendMusicToSlot(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: slot, music");
    bool appended;
    {
        LockedMusic music(L, 2);
        appended = appendMusic(integer(L, 1), music.object);
    }
    lua_pushboolean(L, appended);
    return 1;
}

// playMusicSlot(slot, startTime, loop): startTime in seconds; loop LOOP_ALL, LOOP_FINAL or NO_LOOP
static int l_playMusicSlot(lua_State *L)
{
    if (lua_gettop(L) != 3) return raiseUsage(L, "3 args expected: slot, startTime, loop");
    playMusicSlot(integer(L, 1), number(L, 2), integer(L, 3));
    return 0;
}

static int l_pauseMusicSlot(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: slot");
    pauseMusicSlot(integer(L, 1));
    return 0;
}

static int l_stopMusicSlot(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: slot");
    stopMusicSlot(integer(L, 1));
    return 0;
}

static int l_stopAllMusic(lua_State *L)
{
    if (lua_gettop(L) != 0) return raiseUsage(L, "0 args expected");
    stopAllMusicSlots();
    return 0;
}

static int l_isMusicPlaying(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: slot");
    lua_pushboolean(L, isMusicSlotPlaying(integer(L, 1)));
    return 1;
}

// getMusicSource(slot) -> the source ID of the slot's music, for the soundSrc functions
static int l_getMusicSource(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: slot");
    lua_pushinteger(L, musicSlotSource(integer(L, 1)));
    return 1;
}

// --- registration, in the library's order

static const luaL_Reg soundFunctions[] = {
    {"getNumAudioEnvs", l_getNumAudioEnvs}, {"presetAudioEnv", l_presetAudioEnv}, {"playSound", l_playSound},
    {"stopSoundSrc", l_stopSoundSrc}, {"soundVolume", l_soundVolume}, {"soundPitch", l_soundPitch},
    {"soundSrcVolume", l_soundSrcVolume}, {"soundSrcPitch", l_soundSrcPitch},
    {"isSoundSrcPlaying", l_isSoundSrcPlaying}, {nullptr, nullptr}};
static const luaL_Reg placementFunctions[] = {
    {"soundType", l_soundType}, {"soundPos", l_soundPos}, {"soundPan", l_soundPan}, {"soundObj", l_soundObj},
    {"soundSrcType", l_soundSrcType}, {"soundSrcPos", l_soundSrcPos}, {"soundSrcPan", l_soundSrcPan},
    {"soundSrcObj", l_soundSrcObj}, {"soundFilter", l_soundFilter}, {"soundGain", l_soundGain},
    {"soundGainHF", l_soundGainHF}, {"soundEnv", l_soundEnv}, {"soundSrcFilter", l_soundSrcFilter},
    {"soundSrcGain", l_soundSrcGain}, {"soundSrcGainHF", l_soundSrcGainHF}, {"soundSrcEnv", l_soundSrcEnv},
    {nullptr, nullptr}};
static const luaL_Reg musicFunctions[] = {
    {"setNumMusicSlots", l_setNumMusicSlots}, {"assignMusicToSlot", l_assignMusicToSlot},
    {"appendMusicToSlot", l_appendMusicToSlot}, {"playMusicSlot", l_playMusicSlot},
    {"pauseMusicSlot", l_pauseMusicSlot}, {"stopMusicSlot", l_stopMusicSlot}, {"stopAllMusic", l_stopAllMusic},
    {"isMusicPlaying", l_isMusicPlaying}, {"getMusicSource", l_getMusicSource}, {nullptr, nullptr}};

bool registerAudioFunctions(lua_State *L)
{
    registerConstant(L, "EFFECT_REVERB", 0);
    for (int i = 0; i < REVERB_PRESET_COUNT; i++) registerConstant(L, (std::string("PRESET_") + reverbPresetName(i)).c_str(), i);
    registerFunctions(L, soundFunctions);
    registerConstant(L, "FROM_POINT", FROM_POINT);
    registerConstant(L, "WITH_CAMERA", WITH_CAMERA);
    registerConstant(L, "FROM_OBJECT", FROM_OBJECT);
    registerFunctions(L, placementFunctions);
    registerConstant(L, "LOOP_ALL", LOOP_ALL);
    registerConstant(L, "LOOP_FINAL", LOOP_FINAL);
    registerConstant(L, "NO_LOOP", NO_LOOP);
    registerFunctions(L, musicFunctions);
    return true;
}
