// The strict WAV reader on files written by sox and by hand, loaded into real OpenAL buffers.
#include <AL/al.h>

#include "audio/sound.h"
#include "audio_test_support.h"

namespace {

using namespace audiotest;

struct WavCase
{
    const char *name;
    std::string bytes;    // written by hand; empty: made by `sox` below
    const char *sox;      // sox arguments before the output file
    int channels, bits;   // of the buffer; 0: the file is refused
    int rate, size;       // the buffer's frequency and size in bytes
};

const std::string PCM(1200, '\x11');
const std::string FACT = "fact" + int32LE(4) + int32LE(600);
const std::string LIST = "LIST" + int32LE(4) + "INFO";

// Catches a chunk searched for or skipped when it must not be, a fmt chunk of another size or a
// format other than integer PCM accepted, 24-bit or 4-channel data given to OpenAL, the wrong
// format or rate, a damaged or cut file loading, and an empty sound loading.
TEST(WavReader, LoadsExactlyThePcmLayoutsTheEngineAllows)
{
    const std::vector<WavCase> cases = {
        {"sox8BitMono", "", "-r 11025 -b 8 -c 1 -e unsigned-integer", 1, 8, 11025, 1103},
        {"sox16BitStereo", "", "-r 44100 -b 16 -c 2", 2, 16, 44100, 17640},
        {"sox16BitMono", "", "-r 22050 -b 16 -c 1", 1, 16, 22050, 4410},
        {"sox8BitStereo", "", "-r 8000 -b 8 -c 2 -e unsigned-integer", 2, 8, 8000, 1600},
        {"sox24BitExtensibleFmt", "", "-r 44100 -b 24 -c 2", 0, 0, 0, 0},
        {"sox24BitPlainFmt", "", "-t wavpcm -r 44100 -b 24 -c 2", 0, 0, 0, 0},
        {"sox4Channels", "", "-t wavpcm -r 8000 -b 16 -c 4", 0, 0, 0, 0},
        {"soxFloatWithFact", "", "-r 8000 -e floating-point -b 32 -c 1", 0, 0, 0, 0},
        {"factChunk", wavBytes(2, 32000, 16, PCM, FACT), nullptr, 2, 16, 32000, 1200},
        {"factChunkSkippingMore", wavBytes(1, 8000, 8, PCM, "fact" + int32LE(8) + std::string(8, 'x')), nullptr, 1,
         8, 8000, 1200},
        {"listChunkBeforeData", wavBytes(1, 8000, 16, PCM, LIST), nullptr, 0, 0, 0, 0},
        {"factThenList", wavBytes(1, 8000, 16, PCM, FACT + LIST), nullptr, 0, 0, 0, 0},
        {"fmtOf18Bytes", [] {
             std::string w = wavBytes(1, 8000, 16, PCM);
             return w.replace(16, 4, int32LE(18)).insert(36, "\0\0", 2);
         }(), nullptr, 0, 0, 0, 0},
        {"formatCode3", wavBytes(1, 8000, 16, PCM, "", -1, 3), nullptr, 0, 0, 0, 0},
        {"emptyDataChunk", wavBytes(1, 8000, 16, ""), nullptr, 0, 0, 0, 0},
        {"riffMissing", "RIFX" + wavBytes(1, 8000, 16, PCM).substr(4), nullptr, 0, 0, 0, 0},
        {"cutInsideFmt", wavBytes(1, 8000, 16, PCM).substr(0, 30), nullptr, 0, 0, 0, 0},
        {"cutBeforeDataSize", wavBytes(1, 8000, 16, PCM).substr(0, 40), nullptr, 0, 0, 0, 0},
        {"zeroRate", wavBytes(1, 0, 16, PCM), nullptr, 0, 0, 0, 0},
        {"oddSizeTrimmedToWholeFrames", wavBytes(2, 8000, 16, PCM.substr(0, 1003)), nullptr, 2, 16, 8000, 1000},
    };
    Device device;
    for (const WavCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder().file(std::string(c.name) + ".wav");
        if (c.sox) ASSERT_EQ(0, system(("sox -n " + std::string(c.sox) + " '" + path + "' synth 0.1 sine 440").c_str()));
        else writeFile(path, c.bytes);
        Sound *sound = loadSound(path);
        ASSERT_EQ(c.channels != 0, sound != nullptr);
        if (sound == nullptr) continue;
        ALint channels = 0, bits = 0, rate = 0, size = 0;
        alGetBufferi(sound->buffer, AL_CHANNELS, &channels);
        alGetBufferi(sound->buffer, AL_BITS, &bits);
        alGetBufferi(sound->buffer, AL_FREQUENCY, &rate);
        alGetBufferi(sound->buffer, AL_SIZE, &size);
        EXPECT_EQ((std::vector<int>{c.channels, c.bits, c.rate, c.size}), (std::vector<int>{channels, bits, rate, size}))
            << "channels, bits, rate, size";
        freeSound(sound);
    }
}

// Catches reads outside the file's bytes when its data size says more than it holds (the rest must
// be silence: 0, or 128 for unsigned 8-bit samples), and an impossible size (a writer that never
// finished) turned into an allocation of gigabytes instead of the bytes the file has.
TEST(WavReader, DataSizePastTheEndOfTheFile)
{
    const struct { int bits; int64_t declared; size_t size; uint8_t fill; } cases[] = {
        {16, 2000, 2000, 0}, {8, 2400, 2400, 128}, {16, 2399, 2398, 0}, {16, 2401, 1200, 0}, {16, 0xFFFFFFFF, 1200, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.declared);
        const std::string path = folder().file("short.wav");
        writeFile(path, wavBytes(1, 8000, c.bits, PCM, "", c.declared));
        WavData wav;
        ASSERT_TRUE(readWav(path, wav));
        ASSERT_EQ(c.size, wav.bytes.size());
        const size_t read = std::min(c.size, PCM.size());
        EXPECT_EQ(PCM.substr(0, read), std::string(wav.bytes.begin(), wav.bytes.begin() + read));
        for (size_t i = PCM.size(); i < c.size; i++) ASSERT_EQ(c.fill, wav.bytes[i]) << "byte " << i;
    }
}

}  // namespace
