// Reverb environments on a real OpenAL device (wave backend, two sends): the 113 presets as the
// effect receives them, transitions stepped by hand, and what a reverb and a low-pass filter do
// to what is heard.
#include <AL/al.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "audio/environment.h"
#include "audio_test_support.h"

namespace {

using namespace audiotest;

struct HeaderPreset
{
    std::string name;
    std::vector<float> values;  // the 27 numbers in their order (the limit last)
};

// The presets of the system's efx-presets.h, read as text.
std::vector<HeaderPreset> headerPresets()
{
    std::ifstream header("/usr/include/AL/efx-presets.h");
    std::stringstream text;
    text << header.rdbuf();
    const std::string all = text.str();
    const std::regex preset("#define EFX_REVERB_PRESET_(\\w+) \\\\\\s*\\{([^\\n]*)\\}");
    const std::regex number("-?[0-9.]+f|0x[0-9]");
    std::vector<HeaderPreset> presets;
    for (std::sregex_iterator it(all.begin(), all.end(), preset), end; it != end; ++it) {
        HeaderPreset found{(*it)[1], {}};
        const std::string body = (*it)[2];
        for (std::sregex_iterator n(body.begin(), body.end(), number); n != std::sregex_iterator(); ++n)
            found.values.push_back(std::stof(n->str(), nullptr));
        if (body.find("0x1") != std::string::npos) found.values.back() = 1;
        presets.push_back(found);
    }
    return presets;
}

// The 27 values the effect of environment 1 holds now, in the record's order.
std::vector<float> effectValues()
{
    const ALuint effect = environmentEffect(1);
    std::vector<float> values;
    for (ALenum parameter = AL_EAXREVERB_DENSITY; parameter < AL_EAXREVERB_DECAY_HFLIMIT; parameter++) {
        ALfloat got[3] = {0, 0, 0};
        const bool pan = parameter == AL_EAXREVERB_REFLECTIONS_PAN || parameter == AL_EAXREVERB_LATE_REVERB_PAN;
        if (pan) efx().getEffectfv(effect, parameter, got);
        else efx().getEffectf(effect, parameter, got);
        values.insert(values.end(), got, got + (pan ? 3 : 1));
    }
    ALint limit = -1;
    efx().getEffecti(effect, AL_EAXREVERB_DECAY_HFLIMIT, &limit);
    values.push_back((float)limit);
    return values;
}
float decayTime() { return effectValues()[5]; }
float hfLimit() { return effectValues()[26]; }

// Catches a preset out of order, a value lost or sent to the wrong parameter, a constant naming
// the wrong preset, an index outside the table not giving GENERIC, a transition that jumps, moves
// at the wrong pace or switches the HF limit at the wrong step, a second transition not starting
// from the values the first reached, and presets on environments that do not exist.
TEST(Environments, PresetsAndTransitionsReachTheEffect)
{
    const std::vector<HeaderPreset> presets = headerPresets();
    ASSERT_EQ(113u, presets.size());
    Device device;
    stopAudioThread();  // the transitions are stepped here, update by update
    ScriptState script;
    EXPECT_EQ("2", luaValue(script.L, "getNumAudioEnvs()"));
    for (size_t i = 0; i < presets.size(); i++) {
        SCOPED_TRACE(presets[i].name);
        ASSERT_EQ(std::to_string(i), luaValue(script.L, "PRESET_" + presets[i].name));
        ASSERT_EQ("", runLua(script.L, "presetAudioEnv(1, 0, PRESET_" + presets[i].name + ")"));
        EXPECT_EQ(presets[i].values, effectValues());
    }
    for (const char *outside : {"113", "-1"}) {
        ASSERT_EQ("", runLua(script.L, std::string("presetAudioEnv(1, -5, ") + outside + ")"));
        EXPECT_EQ(presets[0].values, effectValues()) << outside << " gives GENERIC, at once";
    }
    ASSERT_EQ("", runLua(script.L, "presetAudioEnv(0, 0, PRESET_CAVE) presetAudioEnv(3, 0, PRESET_CAVE)"));
    EXPECT_FLOAT_EQ(1.49f, decayTime()) << "environments 0 and 3 do not exist";

    // GENERIC (decay 1.49 s, HF limit 1) to CAVE (2.91 s, limit 0) over 10 ticks: nothing is sent
    // until the first update; then t = 0, 0.4, 0.8, and the target; the limit switches at 0.8.
    ASSERT_EQ("", runLua(script.L, "presetAudioEnv(1, 10, PRESET_CAVE)"));
    EXPECT_FLOAT_EQ(1.49f, decayTime());
    std::string heard;
    for (int update = 0; update < 5; update++) {
        updateEnvironments();
        char step[32];
        snprintf(step, sizeof step, "%.3f/%d ", decayTime(), (int)hfLimit());
        heard += step;
    }
    EXPECT_EQ("1.490/1 2.058/1 2.626/0 2.910/0 2.910/0 ", heard);
    // From CAVE half way back to GENERIC, then a new glide to HANGAR (10.05 s) starts there.
    ASSERT_EQ("", runLua(script.L, "presetAudioEnv(1, 8, PRESET_GENERIC)"));
    updateEnvironments(), updateEnvironments();
    EXPECT_FLOAT_EQ(2.2f, decayTime());
    EXPECT_EQ(0, (int)hfLimit()) << "half way (elapsed 4 of 8) is not past half: still CAVE's limit";
    ASSERT_EQ("", runLua(script.L, "presetAudioEnv(1, 4, PRESET_HANGAR)"));
    updateEnvironments();
    EXPECT_FLOAT_EQ(2.2f, decayTime());
    updateEnvironments();
    EXPECT_FLOAT_EQ(10.05f, decayTime());
}

// Plays each call on a fresh device, waiting after each, and gives what was heard.
Capture playAndCapture(const std::vector<std::pair<const char *, int>> &steps)
{
    {
        Device device;
        SoundResources resources;
        resources.load("click.wav");
        resources.load("high.wav");
        ScriptState script;
        EXPECT_EQ("", runLua(script.L, "click, high = getSoundHandle('click.wav'), getSoundHandle('high.wav')"));
        for (const auto &step : steps) {
            EXPECT_EQ("", runLua(script.L, step.first));
            pause(step.second);
        }
    }
    return readCapture();
}

// Catches sends never routed to the environment (no tail), an environment that no preset has
// touched yet staying silent (its reverb must run from the first sound sent to it), a reverb on
// sounds that should play dry, and a low-pass filter that does not reach the sound.
TEST(Environments, AReverbLengthensATailAndALowPassRemovesAHighTone)
{
    writeFile(folder().file("click.wav"), wavBytes(1, 44100, 16, sine16(44100, 1000, 882, 24000)));  // 20 ms
    writeFile(folder().file("high.wav"), wavBytes(1, 44100, 16, sine16(44100, 6000, 8820, 16000)));  // 0.2 s
    Capture heard = playAndCapture({{"playSound(click, false, 1)", 400},
                                    {"soundEnv(click, 2) playSound(click, false, 1)", 1200},
                                    {"presetAudioEnv(1, 0, PRESET_CAVE) soundEnv(click, 1) playSound(click, false, 1)", 900}});
    auto runs = loudRuns(heard.left, 60, 2205);
    const std::string found = describe(runs);
    ASSERT_EQ(3u, runs.size()) << found;
    EXPECT_LT(runs[0].second - runs[0].first, 1500u) << "the dry click: 20 ms and no tail;" << found;
    EXPECT_GT(runs[1].second - runs[1].first, 13230u) << "environment 2 rings with OpenAL's own reverb;" << found;
    EXPECT_GT(runs[2].second - runs[2].first, 13230u) << "the click in a cave rings on for 0.3 s and more;" << found;

    heard = playAndCapture({{"soundFilter(high, true) soundGainHF(high, 0) playSound(high, false, 1)", 400},
                            {"soundFilter(high, false) playSound(high, false, 1)", 400}});
    runs = loudRuns(heard.left);
    ASSERT_FALSE(runs.empty());
    const int open = peak(heard.left, runs.back().first, runs.back().second);
    const int filtered = peak(heard.left, 0, runs.back().first);
    EXPECT_LT(filtered * 10, open) << "6 kHz through a low-pass of gain HF 0: " << filtered << " against " << open;
}

}  // namespace
