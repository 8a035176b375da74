// The audio script functions on a real Lua state: without audio, and playing sounds loaded by the
// resource manager on a real OpenAL device (wave backend, 8 sources).
#include <sstream>

#include "audio_test_support.h"

namespace {

using namespace audiotest;

// The slot a source ID names, as text; "none" when it names none.
std::string describeSlot(int32_t id)
{
    SourceSlot *slot = sourceSlot(findSlot(id));
    if (slot == nullptr) return "none";
    std::lock_guard<std::mutex> guard(slot->lock);
    std::ostringstream text;
    text << "priority " << (int)slot->priority << " loop " << slot->looping << " volume " << slot->volume << " pitch "
         << slot->pitch << " type " << slot->posType << " x " << slot->x << " y " << slot->y << " pan " << slot->pan
         << " object " << slot->objectId << " filter " << slot->filterOn << " gain " << slot->filterGain << " gainHF "
         << slot->filterGainHF << " env " << slot->env;
    return text.str();
}

// Catches a function that is missing without audio, raises, or answers other than as with no
// audio, no music system and no environments (false, 0, new IDs that name no slot), and wrong
// constants.
TEST(AudioScript, WithoutAudioEveryFunctionAnswersAsSilence)
{
    SoundResources resources;
    ScriptState script;
    EXPECT_EQ("", runLua(script.L, "s = getSoundHandle('none.wav') m = getMusicHandle('none.ogg')\n"
                                   "first = playSound(s, false, 1)\n"
                                   "stopSoundSrc(first) soundSrcVolume(first, 2) soundVolume(s, 2) soundPos(s, 1, 2)\n"
                                   "presetAudioEnv(1, 0, PRESET_CAVE) playMusicSlot(0, 1.5, LOOP_ALL)\n"
                                   "pauseMusicSlot(0) stopMusicSlot(0) stopAllMusic()"));
    EXPECT_EQ("1 2 false 0 false false false false",
              luaValue(script.L, "table.concat({playSound(nil, true, 0) - first, getMusicSource(0) - first,"
                                 " tostring(isSoundSrcPlaying(first)), getNumAudioEnvs(), tostring(setNumMusicSlots(2)),"
                                 " tostring(assignMusicToSlot(0, m)), tostring(appendMusicToSlot(0, m)),"
                                 " tostring(isMusicPlaying(0))}, ' ')"));
    EXPECT_EQ("0 0 8 112 0 1 2 0 1 2",
              luaValue(script.L, "table.concat({EFFECT_REVERB, PRESET_GENERIC, PRESET_CAVE, PRESET_SMALLWATERROOM,"
                                 " FROM_POINT, WITH_CAMERA, FROM_OBJECT, LOOP_ALL, LOOP_FINAL, NO_LOOP}, ' ')"));
}

// Catches defaults not copied into a play (or copied from the wrong field), a changed default
// reaching a play already going, a soundSrc setter storing into the wrong field, priorities and
// environments not cut to 8 and 16 bits, a handle that is not a sound being used, and a call on a
// finished or stopped ID doing anything.
TEST(AudioScript, PlaysCopyTheSoundsDefaultsAndSettersChangeOnePlay)
{
    writeFile(folder().file("loop.wav"), wavBytes(1, 8000, 16, std::string(8000, '\0')));
    Device device;
    SoundResources resources;
    resources.load("loop.wav");
    ScriptState script;
    const auto idOf = [&](const char *expression) { return (int32_t)std::stoi(luaValue(script.L, expression)); };
    ASSERT_EQ("", runLua(script.L, "s = getSoundHandle('loop.wav') first = playSound(s, true, 256)\n"
                                   "soundVolume(s, 0.5) soundPitch(s, 2) soundType(s, FROM_OBJECT) soundPos(s, 3, 4)\n"
                                   "soundPan(s, -1) soundObj(s, 7) soundFilter(s, 1) soundGain(s, 0.25)\n"
                                   "soundGainHF(s, 0.125) soundEnv(s, 65537) second = playSound(s, false, -1)"));
    EXPECT_EQ("priority 0 loop 1 volume 1 pitch 1 type 1 x 0 y 0 pan 0 object -1 filter 0 gain 1 gainHF 1 env 0",
              describeSlot(idOf("first")));
    EXPECT_EQ("priority 255 loop 0 volume 0.5 pitch 2 type 2 x 3 y 4 pan -1 object 7 filter 1 gain 0.25 gainHF 0.125 env 1",
              describeSlot(idOf("second")));
    ASSERT_EQ("", runLua(script.L, "soundSrcVolume(first, 0.75) soundSrcPitch(first, 0.5) soundSrcType(first, FROM_POINT)\n"
                                   "soundSrcPos(first, 5, 6) soundSrcPan(first, 2) soundSrcObj(first, 8)\n"
                                   "soundSrcFilter(first, true) soundSrcGain(first, 0.5) soundSrcGainHF(first, 0.5)\n"
                                   "soundSrcEnv(first, 65538)"));
    EXPECT_EQ("priority 0 loop 1 volume 0.75 pitch 0.5 type 0 x 5 y 6 pan 2 object 8 filter 1 gain 0.5 gainHF 0.5 env 2",
              describeSlot(idOf("first")));

    // Not sounds: nil, a number, a table, another type's handle, a sound not loaded. Each gets an ID.
    EXPECT_EQ("none none none none none", luaValue(script.L, "(function() local t = {}\n"
        "  for _, h in ipairs({false, 5, {}, getMusicHandle('loop.wav'), getSoundHandle('other.wav')}) do\n"
        "    local id = playSound(h or nil, true, 0) t[#t + 1] = isSoundSrcPlaying(id) and 'playing' or 'none'\n"
        "    soundVolume(h or nil, 0) soundSrcVolume(id, 0) end\n"
        "  return table.concat(t, ' ') end)()"));
    EXPECT_EQ("true false false", luaValue(script.L, "(function() local playing = isSoundSrcPlaying(first)\n"
        "  stopSoundSrc(first) stopSoundSrc(first) soundSrcVolume(first, 0) return tostring(playing) .. ' ' ..\n"
        "  tostring(isSoundSrcPlaying(first)) .. ' ' .. tostring(isSoundSrcPlaying(first + 1000)) end)()"));
    EXPECT_EQ("none", describeSlot(idOf("first")));
}

}  // namespace
