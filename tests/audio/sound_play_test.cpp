// Sounds played by a script, as heard in the wave backend's capture, and the hand-over of a sound
// freed while it plays (run under ThreadSanitizer: loader, audio thread and script at once).
#include "audio_test_support.h"

namespace {

using namespace audiotest;

std::string sine8(int rate, int frequency, int frames)  // unsigned 8-bit mono
{
    std::string bytes;
    for (int i = 0; i < frames; i++) bytes += (char)(uint8_t)lround(128 + 100 * sin(i * 2 * M_PI * frequency / rate));
    return bytes;
}

// Catches samples changed on the way (another rate, channels swapped or mixed, 8-bit data read as
// signed), a one-shot that does not end, a volume change that does not reach what is heard, a
// stopped sound that goes on, and a freed looping sound that goes on.
TEST(AudioCapture, WhatAScriptPlaysIsHeard)
{
    const std::vector<int16_t> stereo = stereoSamples(8820);  // 0.2 s
    writeFile(folder().file("stereo.wav"), wavBytes(2, 44100, 16, samples16(stereo)));
    writeFile(folder().file("mono.wav"), wavBytes(1, 22050, 8, sine8(22050, 441, 6615)));  // 0.3 s
    writeFile(folder().file("tone.wav"), wavBytes(1, 44100, 16, sine16(44100, 1000, 4410, 16000)));
    {
        Device device;
        SoundResources resources;
        for (const char *name : {"stereo.wav", "mono.wav"}) resources.load(name);
        ResourceRecord *tone = resources.load("tone.wav");
        ScriptState script;
        lua_State *L = script.L;
        const struct { const char *call; int thenMs; } steps[] = {
            {"playSound(getSoundHandle('stereo.wav'), false, 1)", 500},
            {"playSound(getSoundHandle('mono.wav'), false, 1)", 600},
            {"loop = playSound(getSoundHandle('tone.wav'), true, 1)", 400}, {"soundSrcVolume(loop, 0.25)", 400},
            {"stopSoundSrc(loop)", 500}, {"loop = playSound(getSoundHandle('tone.wav'), true, 1)", 400},
        };
        for (const auto &step : steps) {
            EXPECT_EQ("", runLua(L, step.call));
            pause(step.thenMs);
        }
        releaseResource(tone);  // the loader frees the sound while it loops
        waitForLoaderThread();
        EXPECT_EQ("false", luaValue(L, "isSoundSrcPlaying(loop)")) << "a freed sound's loops stop at once";
        pause(500);
    }
    const Capture heard = readCapture();
    const auto runs = loudRuns(heard.left);
    ASSERT_EQ(4u, runs.size()) << "stereo, mono, the loop until stopped, the loop until freed; heard" << describe(runs);

    EXPECT_LE(strayFromStereo(heard, runs[0].first, stereo), 2) << "the stereo sound, sample for sample";

    // The mono 8-bit 22050 Hz sound: 0.3 s of a 441 Hz tone, the same on both sides.
    const size_t monoLength = runs[1].second - runs[1].first;
    int crossings = 0;
    for (size_t i = runs[1].first + 1; i < runs[1].second; i++) crossings += (heard.left[i - 1] < 0) != (heard.left[i] < 0);
    EXPECT_NEAR(13230.0, (double)monoLength, 300.0);
    EXPECT_NEAR(441.0, crossings / 2.0 / (monoLength / 44100.0), 8.0);
    EXPECT_NEAR(peak(heard.left, runs[1].first, runs[1].second), peak(heard.right, runs[1].first, runs[1].second), 3);

    // The loop at full volume, then at a quarter, then stopped; the next one stopped by the free.
    const int loud = peak(heard.left, runs[2].first, runs[2].first + 8820);
    const int quiet = peak(heard.left, runs[2].second - 8820, runs[2].second);
    EXPECT_NEAR(0.25, (double)quiet / loud, 0.02) << loud << " then " << quiet;
    EXPECT_GT(heard.left.size() - runs[3].second, 13230u) << "silence after the free";
}

// Catches a sound freed while it plays being destroyed under a slot (use after free, found by the
// sanitizers), never destroyed (a leak), a looping play of a freed sound going on, and a slot left
// holding a sound once everything has ended. The loader frees, the audio thread takes back ended
// one-shots, and the script plays the same handles, all at once.
TEST(SoundFree, FreedWhilePlayingLivesUntilItsLastSlotLetsGo)
{
    writeFile(folder().file("tick.wav"), wavBytes(1, 8000, 16, std::string(320, '\1')));  // 20 ms
    writeFile(folder().file("hum.wav"), wavBytes(1, 8000, 16, std::string(1600, '\1')));
    Device device;
    SoundResources resources;
    ScriptState script;
    lua_State *L = script.L;
    ASSERT_EQ("", runLua(L, "tick, hum = getSoundHandle('tick.wav'), getSoundHandle('hum.wav')\n"
                            "function plays(n) local ids = {} for i = 1, n do\n"
                            "  ids[#ids + 1] = playSound(tick, false, 5) ids[#ids + 1] = playSound(hum, i == 1, 5) end\n"
                            "  return ids end"));
    for (int round = 0; round < 40; round++) {
        SCOPED_TRACE(round);
        resources.load("tick.wav");
        resources.load("hum.wav");
        ASSERT_EQ("", runLua(L, "ids = plays(2)"));
        releaseResource(resources.record("tick.wav"));
        releaseResource(resources.record("hum.wav"));
        ASSERT_EQ("", runLua(L, "for i = 1, 20 do plays(1) end"));  // while the loader frees them
        waitForLoaderThread();
        EXPECT_EQ("false", luaValue(L, "isSoundSrcPlaying(ids[2])")) << "the looping play of a freed sound";
        pause(round % 3 * 10);
    }
    for (int i = 0; i < 200; i++) {
        int busy = 0;
        for (int s = 0; s < sourceSlotCount(); s++) {
            std::lock_guard<std::mutex> guard(sourceSlot(s)->lock);
            busy += (sourceSlot(s)->active && !sourceSlot(s)->reserved) || sourceSlot(s)->sound != nullptr;
        }
        if (busy == 0) break;
        ASSERT_LT(i, 199) << busy << " slots still hold a sound";
        pause(10);
    }
}

}  // namespace
