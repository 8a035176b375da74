// The audio device and its source slots on a real OpenAL device (wave backend, 8 sources): start-up
// and shutdown messages, the priority rule, source IDs, and the audio thread sending changes.
#include <AL/al.h>

#include "audio/sound.h"
#include "audio_test_support.h"

namespace {

using namespace audiotest;

const std::string STARTED = "Initialized OpenAL device and context.\nThe EFX extension is available.\n"
                            "DEBUG SLOT 0: Aux, effect, reverb, attach.\nDEBUG SLOT 1: Aux, effect, reverb, attach.\n"
                            "Number of auxiliary effect slots: 2\nNumber of audio source slots: 8\n"
                            "Quillfen Audio has loaded successfully.\n";
const std::string STOPPED = "\nShutting down QFAudio.\nDeleted all audio sources.\nDeleted all environment slots.\n"
                            "OpenAL context and device have been closed.\nQFAudio has been successfully shut down.\n\n";

// Catches a missing or reworded line, a device name that does not open failing the start instead of
// falling back to the default device, a second start or shutdown doing anything, a pool of the
// wrong size.
TEST(AudioDevice, StartsWithItsPoolAndShutsDownWithItsMessages)
{
    useWaveBackend();
    EXPECT_FALSE(defaultAudioDeviceName().empty());
    EXPECT_EQ(STARTED, captureStdout([] { EXPECT_TRUE(initAudio("no such device")); }));
    EXPECT_EQ("", captureStdout([] { EXPECT_TRUE(initAudio(defaultAudioDeviceName())); }));
    EXPECT_EQ(8, sourceSlotCount());
    EXPECT_EQ(STOPPED, captureStdout([] { EXPECT_TRUE(shutdownAudio()); }));
    EXPECT_EQ("", captureStdout([] { EXPECT_TRUE(shutdownAudio()); }));
    EXPECT_EQ(0, sourceSlotCount());
    EXPECT_EQ(-1, findSlot(0));
}

// One play request on a pool of 8 set up as `pool`: a digit is a slot busy with a looping sound
// of that priority, 'r' one reserved for music, '.' an idle one.
struct Scenario
{
    const char *name, *pool;
    int priority;
    int taken;  // the slot the request gets, -1 for none
};
void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

class AudioPriority : public testing::TestWithParam<Scenario>
{
};

// Catches the greatest priority number being taken instead of the first greater one in index
// order, an equal or more important sound being stopped, priority 0 not taking a slot when every
// sound is as important, a music slot taken, an idle slot passed over, and IDs that do not grow by
// one per request (requests that play nothing included) or that still name a slot after a takeover.
TEST_P(AudioPriority, TakesTheFirstSlotTheRuleAllows)
{
    const Scenario &s = GetParam();
    const std::string file = folder().file("loop.wav");
    writeFile(file, wavBytes(1, 8000, 16, std::string(8000, '\0')));
    Device device;
    Sound *loop = loadSound(file);
    ASSERT_NE(nullptr, loop);
    ASSERT_EQ(0, musicSlotSource(0)) << "the first IDs of a run, 0 and 1, go to the two music slots";
    ASSERT_EQ(1, musicSlotSource(1));
    ASSERT_TRUE(setMusicSlotCount(0));  // the whole pool for the scenario
    std::vector<int32_t> ids;
    for (int i = 0; i < 8; i++) {
        ids.push_back(s.pool[i] == 'r' ? reserveSourceSlot() : playSoundOn(loop, true, (uint8_t)(s.pool[i] - '0')));
        ASSERT_EQ(2 + i, ids[i]) << "one more ID per request";
        ASSERT_EQ(i, findSlot(ids[i]));
    }
    for (int i = 0; i < 8; i++)
        if (s.pool[i] == '.') stopSource(ids[i]);

    const int32_t id = playSoundOn(loop, true, (uint8_t)s.priority);
    EXPECT_EQ(10, id);
    EXPECT_EQ(s.taken, findSlot(id));
    EXPECT_EQ(s.taken >= 0, isSourcePlaying(id));
    for (int i = 0; i < 8; i++) {
        const bool stillThere = s.pool[i] != '.' && i != s.taken;
        EXPECT_EQ(stillThere ? i : -1, findSlot(ids[i])) << "slot " << i;
        EXPECT_EQ(stillThere, isSourcePlaying(ids[i])) << "slot " << i;
    }
    if (s.taken >= 0) {
        SourceSlot *slot = sourceSlot(s.taken);
        std::lock_guard<std::mutex> guard(slot->lock);
        EXPECT_EQ(s.priority, slot->priority);
        EXPECT_FALSE(slot->reserved);
    }
    EXPECT_EQ(11, emptySourceId());
    freeSound(loop);  // stops its loops; destroyed by the last release
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, AudioPriority,
    testing::Values(Scenario{"MoreImportantTakesTheFirstBusySlot", "55555555", 3, 0},
                    Scenario{"LessImportantGetsNoSlot", "55555555", 7, -1},
                    Scenario{"EquallyImportantGetsNoSlot", "55555555", 5, -1},
                    Scenario{"FirstGreaterNumberNotTheGreatest", "12699999", 3, 2},
                    Scenario{"AnIdleSlotComesBeforeAnyTakeover", "99999.99", 0, 5},
                    Scenario{"PriorityZeroTakesTheFirstSlotWhenAllAreZero", "00000000", 0, 0},
                    Scenario{"PriorityZeroPassesOverMusicSlots", "rr000000", 0, 2},
                    Scenario{"MusicSlotsAreNeverTaken", "rrrrrrrr", 0, -1},
                    Scenario{"MusicSlotsAmongLessImportantSounds", "rr9r9999", 3, 2}),
    [](const testing::TestParamInfo<Scenario> &info) { return std::string(info.param.name); });

float gainOf(int32_t id)
{
    ALfloat gain = -1;
    alGetSourcef(openalSourceOf(id), AL_GAIN, &gain);
    return gain;
}

// Catches a setter that never reaches OpenAL or takes more than a tick or two, a position sent
// without its marker or placed wrongly, a finished one-shot whose slot is never taken back, and
// setters or stop on a released ID touching the slot's next occupant.
TEST(AudioThread, SendsChangedValuesAndTakesBackEndedSlots)
{
    const std::string loopFile = folder().file("loop.wav"), shotFile = folder().file("shot.wav");
    writeFile(loopFile, wavBytes(1, 8000, 16, std::string(8000, '\0')));
    writeFile(shotFile, wavBytes(1, 8000, 16, std::string(800, '\0')));  // 50 ms
    Device device;
    Sound *loop = loadSound(loopFile), *shot = loadSound(shotFile);
    ASSERT_TRUE(loop && shot);

    setSoundDefault(loop, &Sound::volume, 0.5f);
    const int32_t looping = playSoundOn(loop, true, 1);
    EXPECT_FLOAT_EQ(0.5f, gainOf(looping)) << "a play starts with the sound's defaults";
    setSourceVolume(looping, 0.25f);
    waitTicks(2);
    EXPECT_FLOAT_EQ(0.25f, gainOf(looping)) << "within a tick or two";
    setSourcePositionType(looping, FROM_POINT);
    setSourcePosition(looping, 3, 4);
    waitTicks(3);
    ALfloat x = 0, y = 0, z = -1;
    alGetSource3f(openalSourceOf(looping), AL_POSITION, &x, &y, &z);
    EXPECT_EQ((std::vector<float>{3, 4, 0}), (std::vector<float>{x, y, z}));

    const int32_t once = playSoundOn(shot, false, 1);
    EXPECT_TRUE(isSourcePlaying(once));
    const int index = findSlot(once);
    for (int i = 0; i < 200 && isSourcePlaying(once); i++) pause(5);
    EXPECT_FALSE(isSourcePlaying(once)) << "an ended one-shot's slot is taken back";
    EXPECT_EQ(-1, findSlot(once));

    const int32_t next = playSoundOn(loop, true, 1);  // takes the slot the one-shot had
    EXPECT_EQ(index, findSlot(next));
    setSourceVolume(once, 0.125f);
    stopSource(once);
    waitTicks(2);
    EXPECT_TRUE(isSourcePlaying(next)) << "stop on an old ID stopped the slot's next play";
    EXPECT_FLOAT_EQ(0.5f, gainOf(next));
    freeSound(loop);
    freeSound(shot);
}

}  // namespace
