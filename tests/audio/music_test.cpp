// Music slots streaming Ogg Vorbis tracks made by sox, as heard in the wave backend's capture (tones
// of 500 Hz, A, and 1500 Hz, B, 10 ms a letter), and the music operations against the audio
// thread and the loader (run under ThreadSanitizer).
#include <AL/al.h>

#include <sstream>

#include "audio_test_support.h"

namespace {

using namespace audiotest;

const std::vector<std::pair<char, double>> TONES = {{'A', 500}, {'B', 1500}, {'C', 3000}};

// The tracks, made once per test program.
void makeTracks()
{
    static bool made = false;
    if (made) return;
    made = true;
    const std::string stereo = "-n -r 44100 -c 2 ";
    sox(stereo + "a.wav synth 0.2 sine 500 vol 0.4");
    sox(stereo + "b.wav synth 0.2 sine 1500 vol 0.4");
    sox(stereo + "c.wav synth 10.5 sine 3000 vol 0.4");
    sox("a.wav a.ogg");
    sox("b.wav b.ogg");
    sox("a.wav b.wav ab.ogg");
    sox("c.wav a.wav b.wav cab.ogg");                 // A starts at 10.5 s exactly
    sox("-n -r 22050 -c 1 mono.ogg synth 0.3 sine 500 vol 0.4");
    sox(stereo + "lr.ogg synth 0.3 sine 500 sine 1500 vol 0.4");  // A on the left, B on the right
    sox(stereo + "x.ogg synth 0.8 sine 500 vol 0.4");  // longer than two buffers
}

// Does `runs` read as `pattern`: space-separated letters, each optionally with a length in windows
// (within 2), or with "+" after it (at least that long); "..." at the end lets anything follow.
bool matches(const std::vector<ToneRun> &runs, const std::string &pattern)
{
    std::istringstream tokens(pattern);
    std::string token;
    size_t i = 0;
    while (tokens >> token) {
        if (token == "...") return true;
        if (i >= runs.size() || runs[i].letter != token[0]) return false;
        if (token.size() > 1) {
            const long length = std::stol(token.substr(1));
            const long heard = (long)runs[i].windows;
            if (token.back() == '+' ? heard < length : std::abs(heard - length) > 2) return false;
        }
        i++;
    }
    return i == runs.size();
}

size_t total(const std::vector<ToneRun> &runs, char letter)
{
    size_t windows = 0;
    for (const ToneRun &run : runs) windows += run.letter == letter ? run.windows : 0;
    return windows;
}

int l_musicObjects(lua_State *L)  // musicObjects() -> the Music objects alive
{
    lua_pushinteger(L, openMusicCount());
    return 1;
}

struct MusicScenario
{
    const char *name;
    std::vector<const char *> tracks;  // loaded as music resources before the steps
    std::vector<std::pair<const char *, int>> steps;  // Lua code, then a wait in ms
    const char *left, *right;  // the patterns heard on each side
    size_t totalA;             // windows of A over all runs, when not 0
};
void PrintTo(const MusicScenario &s, std::ostream *os) { *os << s.name; }

class MusicCapture : public testing::TestWithParam<MusicScenario>
{
};

// Catches a loop mode that plays the wrong sequence (or goes on or stops when it must not), pause
// that restarts instead of resuming, stop then play not going back to the start time, a start
// time off by more than 10 ms, a mono track or a track's rate mishandled, channels swapped, and
// two slots sharing one decoder (each would hear half) or a private copy never freed.
TEST_P(MusicCapture, PlaysWhatThePlaylistSays)
{
    const MusicScenario &s = GetParam();
    makeTracks();
    {
        Device device;
        SoundResources resources;
        for (const char *track : s.tracks) resources.load(track, RESOURCE_MUSIC);
        ScriptState script;
        lua_register(script.L, "musicObjects", l_musicObjects);
        ASSERT_EQ("", runLua(script.L, "function track(name) return getMusicHandle(name) end"));
        for (const auto &step : s.steps) {
            ASSERT_EQ("", runLua(script.L, step.first)) << step.first;
            pause(step.second);
        }
    }
    const Capture heard = readCapture();
    const auto left = toneRuns(heard.left, TONES), right = toneRuns(heard.right, TONES);
    EXPECT_TRUE(matches(left, s.left)) << "expected " << s.left << ", heard " << describe(left);
    EXPECT_TRUE(matches(right, s.right)) << "expected " << s.right << ", heard " << describe(right);
    if (s.totalA) {
        EXPECT_NEAR(s.totalA, total(left, 'A'), 2) << describe(left);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, MusicCapture,
    testing::Values(
        MusicScenario{"LoopAllGoesRound", {"a.ogg", "b.ogg"},
                      {{"assignMusicToSlot(0, track('a.ogg')) appendMusicToSlot(0, track('b.ogg'))"
                        " playMusicSlot(0, 0, LOOP_ALL)", 950},
                       {"assert(isMusicPlaying(0)) stopMusicSlot(0) assert(not isMusicPlaying(0))", 150}},
                      "A20 B20 A20 B20 ...", "A20 B20 A20 B20 ...", 0},
        MusicScenario{"LoopFinalRepeatsTheLastTrack", {"a.ogg", "b.ogg"},
                      {{"assignMusicToSlot(0, track('a.ogg')) appendMusicToSlot(0, track('b.ogg'))"
                        " playMusicSlot(0, 0, LOOP_FINAL)", 950},
                       {"assert(isMusicPlaying(0)) stopMusicSlot(0)", 150}},
                      "A20 B60+", "A20 B60+", 0},
        MusicScenario{"NoLoopStopsAfterTheLastTrack", {"a.ogg", "b.ogg"},
                      {{"assignMusicToSlot(0, track('a.ogg')) appendMusicToSlot(0, track('b.ogg'))"
                        " playMusicSlot(0, 0, 7)", 900},
                       {"assert(not isMusicPlaying(0))", 0}},
                      "A20 B", "A20 B", 0},
        MusicScenario{"StartTimeIsASample", {"cab.ogg"},
                      {{"assignMusicToSlot(0, track('cab.ogg')) playMusicSlot(0, 10.5, NO_LOOP)", 700}},
                      "A20 B", "A20 B", 0},
        MusicScenario{"PauseThenPlayResumes", {"ab.ogg"},
                      {{"assignMusicToSlot(0, track('ab.ogg')) playMusicSlot(0, 0, NO_LOOP)", 100},
                       {"pauseMusicSlot(0) assert(not isMusicPlaying(0))", 300},
                       {"playMusicSlot(0, 5, NO_LOOP)", 650}},
                      "A . A B", "A . A B", 20},
        MusicScenario{"StopThenPlayRestartsAtTheStartTime", {"ab.ogg"},
                      {{"assignMusicToSlot(0, track('ab.ogg')) playMusicSlot(0, 0.1, NO_LOOP)", 60},
                       {"stopMusicSlot(0)", 300},
                       {"playMusicSlot(0, 0.1, NO_LOOP)", 600}},
                      "A . A10 B", "A . A10 B", 0},
        MusicScenario{"MonoAndStereoTracks", {"mono.ogg", "lr.ogg"},
                      {{"assignMusicToSlot(0, track('mono.ogg')) playMusicSlot(0, 0, NO_LOOP)", 500},
                       {"assignMusicToSlot(1, track('lr.ogg')) playMusicSlot(1, 0, NO_LOOP)", 500}},
                      "A30 . A30", "A30 . B30", 0},
        MusicScenario{"TwoSlotsStreamTheirOwnCopies", {"x.ogg", "a.ogg"},
                      {{"base = musicObjects() assignMusicToSlot(0, track('x.ogg'))"
                        " assignMusicToSlot(1, track('x.ogg')) playMusicSlot(0, 0, NO_LOOP)"
                        " playMusicSlot(1, 0, NO_LOOP) assert(musicObjects() == base + 1, 'a private copy')", 1000},
                       {"assignMusicToSlot(1, track('a.ogg'))"
                        " assert(musicObjects() == base, 'the copy is freed with its entry')", 0}},
                      "A70+", "A70+", 0}),  // sharing one decoder, each would hear about half
    [](const testing::TestParamInfo<MusicScenario> &info) { return std::string(info.param.name); });

}  // namespace
