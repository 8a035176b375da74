// Music slots streaming Ogg Vorbis tracks made by sox, as heard in the wave backend's capture (tones
// of 500 Hz, A, and 1500 Hz, B, 10 ms a letter), and the music operations against the audio
// thread and the loader (run under ThreadSanitizer).
#include <AL/al.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "graphics/image.h"

#include "audio_test_support.h"

namespace {

using namespace audiotest;

const std::vector<std::pair<char, double>> TONES = {{'A', 500}, {'B', 1500}, {'C', 3000}};

// Makes `name` (and the tones it joins) under folder() unless it is there already: each test
// program makes only the tracks its case plays.
void makeTrack(const std::string &name)
{
    if (std::filesystem::exists(folder().file(name))) return;
    const std::string stereo = "-n -r 44100 -c 2 ";
    static const std::map<std::string, std::string> RECIPES = {
        {"a.wav", stereo + "a.wav synth 0.2 sine 500 vol 0.4"},
        {"b.wav", stereo + "b.wav synth 0.2 sine 1500 vol 0.4"},
        {"c.wav", stereo + "c.wav synth 10.5 sine 3000 vol 0.4"},
        {"a.ogg", "a.wav a.ogg"},
        {"b.ogg", "b.wav b.ogg"},
        {"ab.ogg", "a.wav b.wav ab.ogg"},
        {"cab.ogg", "c.wav a.wav b.wav cab.ogg"},  // A starts at 10.5 s exactly
        {"mono.ogg", "-n -r 22050 -c 1 mono.ogg synth 0.3 sine 500 vol 0.4"},
        {"lr.ogg", stereo + "lr.ogg synth 0.3 sine 500 sine 1500 vol 0.4"},  // A on the left, B on the right
        {"x.ogg", stereo + "x.ogg synth 0.8 sine 500 vol 0.4"},  // longer than two buffers
    };
    const std::string &recipe = RECIPES.at(name);
    if (recipe[0] != '-') {  // joins tones: make them first
        std::istringstream inputs(recipe);
        std::string input;
        while (inputs >> input)
            if (input.size() == 5 && input.compare(1, 4, ".wav") == 0) makeTrack(input);
    }
    sox(recipe);
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
    for (const char *track : s.tracks) makeTrack(track);
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

// Catches a stream that starves (the source runs dry and restarts, a gap of silence in the
// capture) while the loader thread uploads 200 images and the script changes the music's source
// 1000 times a frame: the audio thread must neither wait on them nor fall behind.
TEST(MusicStreaming, ALongTrackNeverStarvesUnderLoad)
{
    REQUIRE_DISPLAY();
    sox("-n -r 44100 -c 2 long.ogg synth 3 sine 440 vol 0.4");
    ASSERT_EQ(0, system(("convert -size 64x64 plasma:fractal '" + folder().file("picture.png") + "'").c_str()));
    for (int i = 0; i < 200; i++)
        std::filesystem::copy_file(folder().file("picture.png"), folder().file("picture" + std::to_string(i) + ".png"),
                                   std::filesystem::copy_options::overwrite_existing);
    {
        Device device;
        SoundResources resources;
        initImageLibrary();
        registerImageResource();
        setResourceDirectory(RESOURCE_IMAGE, folder().path() + "/");
        resources.load("long.ogg", RESOURCE_MUSIC);
        setLoaderThreadHooks(defaultLoaderThreadHooks());  // images upload on the loader's GL context
        ScriptState script;
        ASSERT_EQ("", runLua(script.L, "assignMusicToSlot(0, getMusicHandle('long.ogg')) playMusicSlot(0, 0, NO_LOOP)\n"
                                       "id = getMusicSource(0)\n"
                                       "function frame() for i = 1, 500 do soundSrcPos(id, i, 0) soundSrcPitch(id, 1) end end"));
        for (int i = 0; i < 200; i++)
            acquireResource(resources.record("picture" + std::to_string(i) + ".png", RESOURCE_IMAGE), 1);
        for (int frame = 0; frame < 200; frame++) {  // 3.3 s at 60 frames a second
            ASSERT_EQ("", runLua(script.L, "frame()"));
            pause(16);
        }
        waitForLoaderThread();
        for (int i = 0; i < 200; i++) releaseResource(resources.record("picture" + std::to_string(i) + ".png", RESOURCE_IMAGE));
        waitForLoaderThread();
        setLoaderThreadHooks({nullptr, nullptr});
    }
    const Capture heard = readCapture();
    const auto runs = loudRuns(heard.left, 200, 20);  // a gap of 20 quiet samples splits a run
    ASSERT_EQ(1u, runs.size()) << "the track, heard without a gap";
    // A NO_LOOP slot stops at the first finished buffer after its last data was decoded: the last
    // buffer's worth (up to 16384 frames) is not heard.
    EXPECT_GE(runs[0].second - runs[0].first, 132300u - 16384u) << "the whole track but its last buffer";
}

// Catches data races and lock-order faults between the script's music operations, the audio
// thread refilling buffers and the loader freeing tracks that playlists still hold (under
// ThreadSanitizer), a Music freed while a playlist holds it (use after free under ASan), and
// one never freed.
TEST(MusicThreads, OperationsWhileTheAudioThreadStreamsAndTheLoaderFrees)
{
    for (const char *name : {"t1", "t2", "t3"})
        sox(std::string("-n -r 22050 -c 1 ") + name + ".ogg synth 0.1 sine " + (name[1] == '1' ? "300" : "700") + " vol 0.3");
    const int32_t before = openMusicCount();
    {
        Device device;
        SoundResources resources;
        ScriptState script;
        ASSERT_EQ("", runLua(script.L, "tracks = {getMusicHandle('t1.ogg'), getMusicHandle('t2.ogg'), getMusicHandle('t3.ogg')}\n"
                                       "function round(r) local slots = r % 4 + 1 setNumMusicSlots(slots)\n"
                                       "  for s = 0, slots - 1 do local n = (r + s) % 3 + 1\n"
                                       "    assignMusicToSlot(s, tracks[n]) appendMusicToSlot(s, tracks[n % 3 + 1])\n"
                                       "    appendMusicToSlot(s, tracks[n]) soundSrcPitch(getMusicSource(s), 0.5 + (r + s) % 3)\n"
                                       "    playMusicSlot(s, 0.05 * s, (r + s) % 3)\n"
                                       "    if (r + s) % 5 == 0 then pauseMusicSlot(s) elseif (r + s) % 7 == 0 then stopMusicSlot(s) end\n"
                                       "  end\n"
                                       "  if r % 9 == 0 then stopAllMusic() end end"));
        for (int r = 0; r < 60; r++) {
            for (const char *name : {"t1.ogg", "t2.ogg", "t3.ogg"}) {  // loaded or freed while the slots play
                if (r % 2) releaseResource(resources.record(name, RESOURCE_MUSIC));
                else acquireResource(resources.record(name, RESOURCE_MUSIC), 1);
            }
            ASSERT_EQ("", runLua(script.L, "round(" + std::to_string(r) + ")"));
            pause(r % 4 * 10);
        }
        waitForLoaderThread();
    }
    EXPECT_EQ(before, openMusicCount()) << "every Music and every private copy freed";
}
