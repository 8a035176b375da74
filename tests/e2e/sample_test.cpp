// The bundled sample game (samples/demo), compiled into an archive by quillfen-pack and played by
// the real engine on an X server of the test's own (no other test's window covers it or takes its
// keys), driven by XTEST keys and clicks as a player would, its sound captured by OpenAL Soft's
// wave-file backend. The game logs room changes, saves, loads and the effects it plays on stdout;
// stderr must stay empty.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

// Xlib has a typedef named Font, as the engine's font record is named: rename Xlib's here.
#define Font XlibFont
#include "e2e_project.h"
#include <X11/Xutil.h>
#undef Font

#include "../audio/audio_test_support.h"
#include "graphics/font.h"
#include "resources/data_file.h"

namespace {

using audiotest::Capture;

// The effects' energy per 10 ms window of each side: the square of the samples' second difference,
// which keeps the effects (1.3 kHz and up, and noise) and all but removes the music (below 700 Hz).
struct Envelope
{
    std::vector<double> left, right;
    double at(size_t w) const { return w < left.size() ? left[w] + right[w] : 0; }
    double sum(size_t from, size_t count) const
    {
        double total = 0;
        for (size_t w = from; w < from + count; w++) total += at(w);
        return total;
    }
};
Envelope effectEnvelope(const Capture &heard)
{
    Envelope envelope;
    for (const auto *channel : {&heard.left, &heard.right}) {
        std::vector<double> &windows = channel == &heard.left ? envelope.left : envelope.right;
        for (size_t at = 2; at + 441 <= channel->size(); at += 441) {
            double energy = 0;
            for (size_t i = at; i < at + 441; i++) {
                const double d = (double)(*channel)[i] - 2.0 * (*channel)[i - 1] + (*channel)[i - 2];
                energy += d * d;
            }
            windows.push_back(energy);
        }
    }
    return envelope;
}
// The windows where an effect starts on either side: ten times that side's energy of the 50 ms
// before, and above `floor` (an effect on the left is found while one on the right rings on).
std::vector<size_t> effectOnsets(const Envelope &envelope, double floor)
{
    std::vector<size_t> onsets;
    for (const std::vector<double> *side : {&envelope.left, &envelope.right}) {
        size_t last = 0;
        for (size_t w = 5; w < side->size(); w++) {
            double before = 0;
            for (size_t k = w - 5; k < w; k++) before += (*side)[k] / 5;
            if ((*side)[w] > floor && (*side)[w] > 10 * before && (last == 0 || w > last + 10)) onsets.push_back(last = w);
        }
    }
    std::sort(onsets.begin(), onsets.end());
    std::vector<size_t> merged;  // an effect in the middle starts on both sides at once
    for (size_t w : onsets)
        if (merged.empty() || w > merged.back() + 3) merged.push_back(w);
    return merged;
}
// The share of 20 ms windows from `from` to `to` (samples) where the music is heard (RMS above 300)
// with its tone (by zero crossings) between `low` and `high` Hz.
double musicShare(const std::vector<int16_t> &channel, size_t from, size_t to, double low, double high)
{
    int windows = 0, music = 0;
    for (size_t at = from; at + 882 <= to && at + 882 <= channel.size(); at += 882, windows++) {
        double energy = 0;
        int crossings = 0;
        for (size_t i = at; i < at + 882; i++) {
            energy += (double)channel[i] * channel[i];
            crossings += i > at && (channel[i - 1] < 0) != (channel[i] < 0);
        }
        music += sqrt(energy / 882) > 300 && crossings * 25.0 >= low && crossings * 25.0 <= high;
    }
    return windows ? (double)music / windows : 0;
}

// One channel below about 150 Hz (two one-pole low-passes): the footsteps' thud, with the title's
// music (520 Hz and up) far quieter.
std::vector<int16_t> lowBand(const std::vector<int16_t> &channel)
{
    const double a = 1 - exp(-2 * M_PI * 150 / 44100);
    double first = 0, second = 0;
    std::vector<int16_t> band;
    for (int16_t sample : channel) {
        first += a * (sample - first);
        second += a * (first - second);
        band.push_back((int16_t)lround(second));
    }
    return band;
}

std::string lineAfter(const std::string &text, const std::string &prefix)  // the rest of its first line
{
    const size_t at = text.find(prefix);
    return at == std::string::npos ? "" : text.substr(at + prefix.size(), text.find('\n', at) - at - prefix.size());
}

// What the capture must hold: the title's music (notes of 520 to 880 Hz) until the start chime,
// the first effect, and the play room's bass (80 to 170 Hz) after it; the start chime in the middle
// and dry; the effect of the test's click `clickSeconds` after the start chime (by the test's
// clock), on the side of the object's x and ringing on in the hall half a second later.
void expectHeard(const Capture &heard, double clickSeconds, int clickedX)
{
    const Envelope envelope = effectEnvelope(heard);
    // Measured: the music gives at most 1e6 a window, a pick-up 1e8, the start chime 7e8.
    const std::vector<size_t> onsets = effectOnsets(envelope, 1e7);
    std::string heardText;
    for (size_t w : onsets) {
        char line[160];
        snprintf(line, sizeof line, "\n  %.2f s: left %.0f%%, ringing after 0.5 s %.5f", w / 100.0,
                 100 * envelope.left[w] / std::max(1.0, envelope.at(w)), envelope.sum(w + 45, 10) / std::max(1.0, envelope.sum(w, 5)));
        heardText += line;
    }
    SCOPED_TRACE("effects heard:" + heardText);
    ASSERT_GE(onsets.size(), 2u) << "the start chime and the click's effect at least";
    const auto side = [&](size_t w) { return (envelope.left[w] + envelope.left[w + 1]) / (envelope.right[w] + envelope.right[w + 1]); };
    const auto ringing = [&](size_t w) { return envelope.sum(w + 45, 10) / envelope.sum(w, 5); };  // 0.45 to 0.55 s after
    const auto alone = [&](size_t i) { return i + 1 == onsets.size() || onsets[i + 1] > onsets[i] + 60; };
    EXPECT_NEAR(1.0, side(onsets[0]), 0.2) << "the start chime, in the middle";
    if (alone(0)) {
        EXPECT_LT(ringing(onsets[0]), 0.0002) << "the start chime, dry";
    }

    // The click's effect: an onset within 0.5 s of when it was due, on the object's side (another
    // effect, a ship's catch, may start close by on the other side). The due time counts from the
    // start chime, which the game may have taken a few frames to play: a loaded sanitized engine
    // was seen 0.18 s early by this reckoning.
    const double due = onsets[0] / 100.0 + clickSeconds;
    size_t click = 0;
    double nearest = 0.5;
    for (size_t i = 1; i < onsets.size(); i++) {
        const double ratio = side(onsets[i]), off = std::abs(onsets[i] / 100.0 - due);
        const bool onItsSide = clickedX < 300 ? ratio > 4 : clickedX > 340 ? ratio < 0.25 : true;
        if (off < nearest && onItsSide) click = i, nearest = off;
    }
    ASSERT_NE(0u, click) << "no effect on the side of the object at x " << clickedX << " around " << due << " s";
    // A chime rings on at about 0.02, a crash (mostly high noise, which the hall damps) at 0.003.
    if (alone(click)) {
        EXPECT_GT(ringing(onsets[click]), 0.001) << "ringing in the hall";
    }

    const size_t start = onsets[0] * 441;
    EXPECT_GT(musicShare(heard.left, 22050, start, 480, 920), 0.6) << "the title's music before the start chime";
    EXPECT_GT(musicShare(heard.left, start + 44100, start + 3 * 44100, 70, 190), 0.6) << "the play room's bass after it";
}

// The sample compiled into an archive and played by the real engine on an X server of its own.
class SamplePlay : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "needs Xvfb and xdotool";
        const ProcessResult built = runPackTool({"compile", "--archive", sample, folder.file("game")});
        ASSERT_EQ(0, built.exitCode) << built.err;
        EXPECT_EQ("", built.err) << "every font, image, scrap and model the rooms list is there";
        ASSERT_TRUE(x.start()) << x.problem;  // it answers before the engine, its first client, starts
        display = x.display;
        connection = x.connection;
    }
    // Plays the game, its sound written by OpenAL Soft's wave-file backend to `capture`.
    void play()
    {
        writeFile(folder.file("alsoft.conf"), audiotest::waveConfig(capture, 0));
        ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, folder.file("game"),
                                 {"DISPLAY=" + display, ENGINE_ENV[1], "ALSOFT_DRIVERS=wave", "ALSOFT_CONF=" + folder.file("alsoft.conf")}));
    }
    bool logged(const std::string &line, size_t count)  // waits until the game printed `line` `count` times
    {
        for (int i = 0; i < 1000 && !engine.waitExit(0); i++, usleep(20 * 1000)) {
            size_t seen = 0;
            const std::string out = engine.out();
            for (size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1)) seen++;
            if (seen >= count) return true;
        }
        return false;
    }
    void xdotool(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/env", "xdotool"});
        EXPECT_EQ(0, runProgram(args, "/", 10, {"DISPLAY=" + display}).exitCode) << args[2];
    }
    // The 640-pixel rows from `top` (bottom-left y of the window, whose top left is the screen's:
    // no window manager) down `rows` rows, as 0xRRGGBB, top row first; empty when not readable.
    std::vector<uint32_t> rows(int top, int count)
    {
        std::vector<uint32_t> pixels;
        XImage *image = XGetImage(connection, DefaultRootWindow(connection), 0, 479 - top, 640, count, AllPlanes, ZPixmap);
        for (int i = 0; image && i < 640 * count; i++) pixels.push_back(XGetPixel(image, i % 640, i / 640) & 0xFFFFFF);
        if (image) XDestroyImage(image);
        return pixels;
    }
    void quit()
    {
        engine.signal(SIGTERM);
        ASSERT_TRUE(engine.waitExit(60000));
        EXPECT_EQ(0, engine.exitCode());
        EXPECT_EQ("", engine.err()) << "the sample plays without a single error line";
    }
    const std::string sample = std::string(QF_SOURCE_DIR) + "/samples/demo";
    TempDir folder;
    const std::string capture = folder.file("capture.wav");
    PrivateXServer x;  // before the engine, which ends first
    ChildProcess engine;
    std::string display;
    Display *connection = nullptr;
};

// Catches a title drawn wider or narrower than getTextWidth says, keys or clicks not reaching the
// game, a room switch, save or load that fails, any error line, and music, effects, their
// placement or the play room's reverb not heard as expectHeard says.
TEST_F(SamplePlay, TitleIsAsWideAsMeasuredAndTheGameSwitchesSavesAndLoads)
{
    play();
    // The title, centred by its getTextWidth, must be drawn that wide: its gold (255, 224, 122),
    // alone or blended at half cover or more over the sky or its purple shadow, spans from the S
    // quad's left edge (the pen starts at penX) to the R quad's right edge (that quad starts at
    // penX + width - its advance), give or take an antialiased edge column.
    const std::string prefix = "demo: entered the title room; title \"STAR CATCHER\" ";
    ASSERT_TRUE(logged(prefix, 1)) << engine.out() << engine.err();
    int width = 0, penX = 0, penY = 0;
    ASSERT_EQ(3, sscanf(lineAfter(engine.out(), prefix).c_str(), "%d pixels wide, pen at %d %d", &width, &penX, &penY));
    EXPECT_EQ(320 - width / 2, penX);
    DataFile file;
    Font font;
    std::vector<std::string> pages;
    ASSERT_TRUE(file.openForReadFromDisk(sample + "/fonts/title.fnt") && parseFontDescriptor(file, &font, &pages));
    const Glyph &first = font.glyphs.at('S'), &last = font.glyphs.at('R');
    const int left = penX + first.xOffset, right = penX + width - last.xAdvance + last.xOffset + last.width - 1;
    int firstLit = -1, lastLit = -1, exact = 0;
    for (int attempt = 0; attempt < 50 && exact == 0; attempt++, usleep(100 * 1000)) {  // the first frame may not be up yet
        const std::vector<uint32_t> image = rows(penY, 64);
        firstLit = lastLit = -1;
        for (size_t i = 0; i < image.size(); i++) {
            const uint32_t pixel = image[i];
            const int red = pixel >> 16 & 0xFF, green = pixel >> 8 & 0xFF, blue = pixel & 0xFF;
            if (red - blue < 32 || green - blue < 16) continue;
            exact += pixel == 0xFFE07A;
            firstLit = firstLit < 0 ? int(i % 640) : std::min(firstLit, int(i % 640));
            lastLit = std::max(lastLit, int(i % 640));
        }
    }
    EXPECT_GT(exact, 2000) << "fully covered title pixels in exactly the title's colour";
    EXPECT_TRUE(firstLit >= left && firstLit <= left + 2 && lastLit <= right && lastLit >= right - 2)
        << "expected gold from column " << left << " to " << right << ", got " << firstLit << " to " << lastLit;

    xdotool({"mousemove", "320", "240"});  // keys go to the window under the pointer
    usleep(1000 * 1000);  // the title's music plays a while
    const auto started = std::chrono::steady_clock::now();  // the start chime rings out now
    xdotool({"key", "Return"});
    ASSERT_TRUE(logged("demo: entered the play room", 1)) << engine.out() << engine.err();
    xdotool({"keydown", "Right", "sleep", "0.4", "keyup", "Right", "key", "s"});
    ASSERT_TRUE(logged("demo: saved slot 1:", 1)) << engine.out() << engine.err();
    // hardMode (one bit byte), score and lives (int32), shipX and shipY (reals), bestScores (count + 3)
    const std::string saved = readFile(folder.file("game/demo1Save.qfs"));
    ASSERT_EQ(1u + 8 + 16 + 4 + 12, saved.size());
    int32_t shipX = 0;
    memcpy(&shipX, &saved[9], 4);  // little-endian, as this machine
    EXPECT_GT(shipX, 320) << "the ship flew right before the save";
    EXPECT_NE(std::string::npos, lineAfter(engine.out(), "demo: saved slot 1:").find("ship at " + std::to_string(shipX) + ".0"));
    xdotool({"keydown", "Left", "sleep", "0.4", "keyup", "Left", "key", "l"});
    ASSERT_TRUE(logged("demo: loaded slot 1:", 1)) << engine.out() << engine.err();
    EXPECT_EQ(lineAfter(engine.out(), "demo: saved slot 1:"), lineAfter(engine.out(), "demo: loaded slot 1:"));
    // Once the hall's reverb has faded in (90 audio ticks), click a falling gem or rock: a pick-up or
    // a crash rings out on its side. The object falls 1.2 to 3.5 pixels a step while the picture is
    // taken and the click reaches the game, longer in a slow (sanitized) engine: the click aims
    // further below the object's top edge on each miss, round from 4 to 32 pixels.
    usleep(1500 * 1000);
    double clickSeconds = 0;
    for (int attempt = 0; attempt < 32 && engine.out().find("(click) at x") == std::string::npos; attempt++) {
        const std::vector<uint32_t> area = rows(440, 400);  // below the HUD
        const auto found = std::find_if(area.begin(), area.end(),
                                        [](uint32_t pixel) { return pixel == 0x3FE0A0 || pixel == 0xFFC83D || pixel == 0x8A8470; });
        const size_t at = found - area.begin();
        clickSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (found != area.end()) {
            const int lead = 4 + attempt % 8 * 4;
            xdotool({"mousemove", std::to_string(at % 640), std::to_string(39 + at / 640 + lead), "click", "1"});
        }
        usleep(300 * 1000);
    }
    const std::string clicked = lineAfter(engine.out(), "(click) at x ");
    ASSERT_FALSE(clicked.empty()) << engine.out();
    usleep(1000 * 1000);  // the hall rings on
    xdotool({"key", "Escape"});
    ASSERT_TRUE(logged("demo: entered the title room", 2)) << engine.out() << engine.err();
    xdotool({"click", "1"});
    ASSERT_TRUE(logged("demo: entered the play room", 2)) << engine.out() << engine.err();
    quit();
    expectHeard(audiotest::readCapture(capture), clickSeconds, std::stoi(clicked));
}

// Where the runner's red belt and cuffs are in its band of the title screen (feet at y 188, head
// about 48 above): the number of reddish pixels and their mean x.
std::pair<int, double> reddish(const std::vector<uint32_t> &band)
{
    int count = 0;
    double sum = 0;
    for (size_t i = 0; i < band.size(); i++) {
        const int red = band[i] >> 16 & 0xFF, green = band[i] >> 8 & 0xFF, blue = band[i] & 0xFF;
        if (red > 170 && green < 140 && blue < 160) count++, sum += double(i % 640);
    }
    return {count, count ? sum / count : -1};
}

// Catches the title's skeletal runner not drawn (model, scraps or pictures not loaded with the
// room, or drawn somewhere else), not animated, not running across, and its run cycle's "step"
// markers not reaching the script (it counts them, logs the first three and plays its footstep,
// heard in OpenAL Soft's wave capture). It idles at x 60 for 90 steps, then runs right at 2.5
// pixels a step; the third footstep comes 36 steps later, at x 150. (Steps keep their pace while
// frames are slow, so the first look may find it running.)
TEST_F(SamplePlay, TheRunnerIdlesThenRunsAndCountsItsFootsteps)
{
    play();
    ASSERT_TRUE(logged("demo: entered the title room", 1)) << engine.out() << engine.err();
    std::pair<int, double> first{0, -1};
    for (int attempt = 0; attempt < 50 && first.first < 4; attempt++, usleep(20 * 1000)) first = reddish(rows(250, 70));
    EXPECT_GE(first.first, 4) << "its belt, on the left";
    EXPECT_TRUE(first.second > 45 && first.second < 200) << "at x " << first.second << ", expected 60 or a little right of it";
    ASSERT_TRUE(logged("demo: footstep 3", 1)) << engine.out() << engine.err();
    EXPECT_NE(std::string::npos, engine.out().find("demo: footstep 1\ndemo: footstep 2\ndemo: footstep 3\n"));
    const std::vector<uint32_t> running = rows(250, 70);
    const std::pair<int, double> there = reddish(running);
    EXPECT_GE(there.first, 4) << "its belt, running";
    EXPECT_GT(there.second, 100) << "ran right from x 60";
    usleep(100 * 1000);
    EXPECT_NE(running, rows(250, 70)) << "it moves";
    quit();
    const audiotest::Capture heard = audiotest::readCapture(capture);
    const std::vector<int16_t> band = lowBand(heard.left);
    // Below 150 Hz a footstep peaks at about 1900, the title's music at under 300.
    EXPECT_GE(audiotest::loudRuns(band, 800).size(), 3u) << "three footsteps or more, 0.2 s apart";
}

}  // namespace
