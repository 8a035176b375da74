// tests/audio/audio_test_support.h - a real OpenAL device for audio tests, WAV files made by hand,
// and the reading of what OpenAL Soft's wave-file backend captured.
//
// Every audio test program uses one configuration for its whole run (OpenAL Soft reads it once per
// process): the wave-file backend, 8 sources, 16-bit stereo at 44100 Hz, written to capturePath().
// Each device that closes leaves a complete capture there; the next one starts it again.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio.h"
#include "audio/audio_thread.h"
#include "audio/music.h"
#include "audio/sound.h"
#include "core/script.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"
#include "resources/resource_script.h"
#include "test_support.h"

namespace audiotest {

inline const TempDir &folder()  // the configuration and the captures, for the whole test program
{
    static TempDir dir;
    return dir;
}
inline std::string capturePath() { return folder().file("capture.wav"); }

// An OpenAL Soft configuration that writes 16-bit stereo at 44100 Hz to `capture` (sources: 0
// keeps the number other configurations give).
inline std::string waveConfig(const std::string &capture, int sources)
{
    return "[general]\ndrivers = wave\nchannels = stereo\nfrequency = 44100\nsample-type = int16\n" +
           (sources ? "sources = " + std::to_string(sources) + "\n" : std::string()) + "[wave]\nfile = " + capture + "\n";
}
// Points OpenAL Soft at the test configuration; call before the process's first OpenAL call.
inline void useWaveBackend()
{
    writeFile(folder().file("alsoft.conf"), waveConfig(capturePath(), 8));
    setenv("ALSOFT_CONF", folder().file("alsoft.conf").c_str(), 1);
    setenv("ALSOFT_DRIVERS", "wave", 1);  // the test jobs ask for the null backend
}

struct Device  // initAudio while it lives (its messages swallowed), shutdownAudio after
{
    Device()
    {
        useWaveBackend();
        captureStdout([] { initAudio(""); });
    }
    ~Device() { captureStdout([] { shutdownAudio(); }); }
};

// The resource manager with sounds and music registered and read from folder(), its loader thread
// making no GL context current. Make it after the Device: it frees its sounds before the device closes.
struct SoundResources
{
    SoundResources()
    {
        startResourceManager();
        setLoaderThreadHooks({nullptr, nullptr});
        registerSoundResource();
        registerMusicResource();
        setResourceDirectory(RESOURCE_SOUND, folder().path() + "/");
        setResourceDirectory(RESOURCE_MUSIC, folder().path() + "/");
    }
    ~SoundResources()
    {
        shutdownResourceManager();
        setLoaderThreadHooks(defaultLoaderThreadHooks());
    }
    ResourceRecord *record(const std::string &name, int type = RESOURCE_SOUND)
    {
        return findOrCreateResource({name, resourceDirectory(type), type});
    }
    ResourceRecord *load(const std::string &name, int type = RESOURCE_SOUND)  // acquired and loaded (loader thread)
    {
        ResourceRecord *loaded = record(name, type);
        acquireResource(loaded, 1);
        waitForLoaderThread();
        return loaded;
    }
};

struct ScriptState  // the standard, resource-list and audio libraries, as start-up registers them
{
    ScriptState()
    {
        luaL_openlibs(L);
        registerResourceListFunctions(L);
        registerAudioFunctions(L);
    }
    ~ScriptState() { lua_close(L); }
    lua_State *L = luaL_newstate();
};

inline void waitTicks(int ticks)  // until the audio thread has completed `ticks` more ticks
{
    const int32_t until = audioTickCount() + ticks;
    for (int i = 0; i < 500 && audioTickCount() < until; i++) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}
// Runs sox with `arguments` (output file names are taken under folder()); fails the test when it fails.
inline void sox(const std::string &arguments)
{
    ASSERT_EQ(0, system(("cd '" + folder().path() + "' && sox " + arguments).c_str())) << "sox " << arguments;
}

inline void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A WAV file: RIFF, WAVE, a 16-byte "fmt " chunk (format code 1 unless told), `between` (whole
// chunks), then "data" with `declared` as its size (-1: the data's length) and the data.
inline std::string wavBytes(int channels, int rate, int bits, const std::string &data, const std::string &between = "",
                            int64_t declared = -1, int formatCode = 1)
{
    const int block = channels * bits / 8;
    std::string fmt = "fmt " + int32LE(16) + byteString({formatCode, 0, channels, 0}) + int32LE(rate) +
                      int32LE(rate * block) + byteString({block, 0, bits, 0});
    const std::string body = "WAVE" + fmt + between + "data" +
                             int32LE((int32_t)(declared < 0 ? (int64_t)data.size() : declared)) + data;
    return "RIFF" + int32LE((int32_t)body.size()) + body;
}
inline std::string samples16(const std::vector<int16_t> &values)  // little-endian 16-bit samples
{
    return std::string((const char *)values.data(), values.size() * 2);
}

struct Capture  // what the wave backend wrote, as left and right 16-bit samples at 44100 Hz
{
    std::vector<int16_t> left, right;
};
// Walks the chunks to "data" and takes the rest of the file: a device that never closed leaves its
// sizes unwritten.
inline Capture readCapture(const std::string &path = capturePath())
{
    const std::string bytes = readFile(path);
    Capture capture;
    size_t at = 12;
    while (at + 8 <= bytes.size() && bytes.compare(at, 4, "data") != 0)
        at += 8 + *(const uint32_t *)&bytes[at + 4];
    for (at += 8; at + 4 <= bytes.size(); at += 4) {
        capture.left.push_back(*(const int16_t *)&bytes[at]);
        capture.right.push_back(*(const int16_t *)&bytes[at + 2]);
    }
    return capture;
}

// The loud stretches of one channel: [begin, end) sample ranges where |sample| > threshold, split
// by at least `gap` quiet samples.
inline std::vector<std::pair<size_t, size_t>> loudRuns(const std::vector<int16_t> &channel, int threshold = 200,
                                                       size_t gap = 4410)
{
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t i = 0; i < channel.size(); i++) {
        if (std::abs(channel[i]) <= threshold) continue;
        if (runs.empty() || i - runs.back().second > gap) runs.push_back({i, i + 1});
        else runs.back().second = i + 1;
    }
    return runs;
}
inline std::string describe(const std::vector<std::pair<size_t, size_t>> &runs)  // " [b, e) [b, e)"
{
    std::string text;
    for (const auto &run : runs) text += " [" + std::to_string(run.first) + ", " + std::to_string(run.second) + ")";
    return text;
}
// A sine of `frequency` Hz at `rate`: 16-bit mono WAV data.
inline std::string sine16(int rate, int frequency, int frames, int amplitude)
{
    std::vector<int16_t> samples;
    for (int i = 0; i < frames; i++) samples.push_back((int16_t)lround(amplitude * sin(i * 2 * M_PI * frequency / rate)));
    return samples16(samples);
}
// The test's stereo sound: a 441 Hz sine on the left, a sawtooth on the right, interleaved.
inline std::vector<int16_t> stereoSamples(int frames)
{
    std::vector<int16_t> samples;
    for (int i = 0; i < frames; i++) {
        samples.push_back((int16_t)lround(8000 * sin(i * 2 * M_PI * 441 / 44100)));
        samples.push_back((int16_t)(i % 100 * 80 - 4000));
    }
    return samples;
}
// The largest difference between `stereo` and what was heard from the loud stretch starting at
// `loudFrom` on (the sine starts quietly, the sawtooth loudly; the backend dithers by one step).
inline int strayFromStereo(const Capture &heard, size_t loudFrom, const std::vector<int16_t> &stereo)
{
    size_t start = loudFrom;
    while (start > 0 && std::abs(heard.right[start - 1]) > 1000) start--;
    if (start + stereo.size() / 2 > heard.left.size()) return 65536;
    int worst = 0;
    for (size_t i = 0; i < stereo.size() / 2; i++) {
        worst = std::max(worst, std::abs(heard.left[start + i] - stereo[2 * i]));
        worst = std::max(worst, std::abs(heard.right[start + i] - stereo[2 * i + 1]));
    }
    return worst;
}
// One channel as a run-length string of tones, 10 ms (441 samples) a window: each window is the
// letter of the nearest of `tones` (frequency by zero crossings) or '.' when quiet (RMS <= 300).
// Runs shorter than three windows (the edges between tones) are dropped and their neighbours joined.
struct ToneRun
{
    char letter;
    size_t windows;
};
inline std::vector<ToneRun> toneRuns(const std::vector<int16_t> &channel,
                                     const std::vector<std::pair<char, double>> &tones)
{
    std::vector<ToneRun> runs;
    for (size_t at = 0; at + 441 <= channel.size(); at += 441) {
        double energy = 0;
        int crossings = 0;
        for (size_t i = at; i < at + 441; i++) {
            energy += (double)channel[i] * channel[i];
            crossings += i > at && (channel[i - 1] < 0) != (channel[i] < 0);
        }
        char letter = '.';
        if (sqrt(energy / 441) > 300) {
            double best = 1e9;
            for (const auto &tone : tones)
                if (std::abs(crossings * 50.0 - tone.second) < best) best = std::abs(crossings * 50.0 - tone.second), letter = tone.first;
        }
        if (!runs.empty() && runs.back().letter == letter) runs.back().windows++;
        else runs.push_back({letter, 1});
    }
    std::vector<ToneRun> kept;
    for (const ToneRun &run : runs) {
        if (run.windows < 3) continue;
        if (!kept.empty() && kept.back().letter == run.letter) kept.back().windows += run.windows;
        else kept.push_back(run);
    }
    if (!kept.empty() && kept.front().letter == '.') kept.erase(kept.begin());  // before anything played
    if (!kept.empty() && kept.back().letter == '.') kept.pop_back();
    return kept;
}
inline std::string describe(const std::vector<ToneRun> &runs)  // "A25 .30 B25"
{
    std::string text;
    for (const ToneRun &run : runs) text += (text.empty() ? "" : " ") + std::string(1, run.letter) + std::to_string(run.windows);
    return text;
}

inline int peak(const std::vector<int16_t> &channel, size_t begin, size_t end)
{
    int most = 0;
    for (size_t i = begin; i < end && i < channel.size(); i++) most = std::max(most, std::abs((int)channel[i]));
    return most;
}

}  // namespace audiotest
