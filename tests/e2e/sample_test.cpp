// The bundled sample game (samples/demo), compiled by quillfen-pack and played by the real engine
// on an X server of its own, driven by XTEST key presses and clicks as a player would: the title,
// ENTER into the play room, flying, S to save, L to load, ESC back to the title, a click into play
// again. The game logs room changes, saves and loads on stdout; stderr must stay empty. Its text
// is drawn with the fonts in samples/demo/fonts: the title on the screen must be as wide as the
// game's getTextWidth says.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

// Xlib has a typedef named Font, as the engine's font record is named: rename Xlib's here.
#define Font XlibFont
#include <X11/Xutil.h>

#include "e2e_project.h"
#undef Font

#include "graphics/font.h"
#include "graphics/image.h"
#include "resources/data_file.h"

namespace {

// An Xvfb on a free display number, so no other test's window takes the key presses. -noreset:
// xdotool connects and leaves many times, and a resetting server refuses connections meanwhile.
class PrivateXServer
{
public:
    bool start()
    {
        for (int number = 150; number < 200; number++) {
            if (access(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), F_OK) == 0) continue;
            server.reset(new ChildProcess());
            if (!server->start({"/usr/bin/env", "Xvfb", ":" + std::to_string(number), "-screen", "0", "800x600x24",
                                "-nolisten", "tcp", "-noreset"},
                               "/tmp")) {
                return false;
            }
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
            for (int i = 0; i < 500 && !server->waitExit(0); i++) {
                if (access(socket.c_str(), F_OK) == 0) {
                    display = ":" + std::to_string(number);
                    return true;
                }
                usleep(10 * 1000);
            }
            server->signal(SIGKILL);
            server->waitExit(5000);  // it lost the race for this number: try the next
        }
        return false;
    }
    ~PrivateXServer()
    {
        if (server) {
            server->signal(SIGTERM);
            server->waitExit(5000);
        }
    }
    std::string display;

private:
    std::unique_ptr<ChildProcess> server;
};

size_t countOf(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
    return count;
}

// The rest of the first line of `text` that starts with `prefix` ("" when there is none).
std::string lineAfter(const std::string &text, const std::string &prefix)
{
    const size_t at = text.find(prefix);
    if (at == std::string::npos) return "";
    const size_t end = text.find('\n', at);
    return text.substr(at + prefix.size(), end == std::string::npos ? std::string::npos : end - at - prefix.size());
}

class SamplePlay : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0) {
            GTEST_SKIP() << "Xvfb and xdotool are needed";
        }
        const ProcessResult built =
            runPackTool({"compile", "--archive", std::string(QF_SOURCE_DIR) + "/samples/demo", folder.file("game")});
        ASSERT_EQ(0, built.exitCode) << built.err;
        EXPECT_EQ(std::string::npos, built.err.find("WARNING"))
            << "every font and image the rooms list is there\n" << built.err;
        ASSERT_TRUE(x.start()) << "no free display for Xvfb";
        ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, folder.file("game"),
                                 {"DISPLAY=" + x.display, "ALSOFT_DRIVERS=null", "SDL_AUDIODRIVER=dummy"}));
    }
    void TearDown() override
    {
        if (engine.pid() > 0 && !engine.waitExit(0)) {
            engine.signal(SIGTERM);
            engine.waitExit(5000);
        }
    }
    // Waits until the game has printed `line` `count` times in all.
    bool waitForLog(const std::string &line, size_t count = 1, int timeoutMs = 20000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (countOf(engine.out(), line) >= count) return true;
            if (engine.waitExit(0)) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void xdotool(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv = {"/usr/bin/env", "xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        const ProcessResult result = runProgram(argv, "/tmp", 10, {"DISPLAY=" + x.display});
        ASSERT_EQ(0, result.exitCode) << result.err;
    }
    void holdKey(const std::string &key, int ms)
    {
        xdotool({"keydown", key});
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        xdotool({"keyup", key});
    }

    TempDir folder;
    PrivateXServer x;
    ChildProcess engine;
};

int32_t le32At(const std::string &bytes, size_t at)
{
    if (bytes.size() < at + 4) return -1;
    return (int32_t)((uint8_t)bytes[at] | (uint8_t)bytes[at + 1] << 8 | (uint8_t)bytes[at + 2] << 16 |
                     (uint32_t)(uint8_t)bytes[at + 3] << 24);
}

TEST_F(SamplePlay, SwitchesRoomsSavesAndLoadsUnderKeysAndClicks)
{
    ASSERT_TRUE(waitForLog("demo: entered the title room")) << engine.out() << engine.err();
    xdotool({"mousemove", "320", "240"});  // keys go to the window under the pointer
    xdotool({"key", "Return"});
    ASSERT_TRUE(waitForLog("demo: entered the play room")) << engine.out() << engine.err();

    holdKey("Right", 400);
    xdotool({"key", "s"});
    ASSERT_TRUE(waitForLog("demo: saved slot 1:")) << engine.out() << engine.err();
    const std::string saveFile = folder.file("game/demo1Save.qfs");
    const std::string saved = readFile(saveFile);
    // hardMode (one bit byte), score and lives (int32), shipX and shipY (reals), bestScores (count + 3)
    ASSERT_EQ(1u + 8 + 16 + 4 + 12, saved.size());
    const int32_t shipX = le32At(saved, 9);
    EXPECT_GT(shipX, 320) << "the ship flew right before the save";
    EXPECT_NE(std::string::npos, lineAfter(engine.out(), "demo: saved slot 1:").find("ship at " + std::to_string(shipX) + ".0"))
        << engine.out();

    holdKey("Left", 400);
    xdotool({"key", "l"});
    ASSERT_TRUE(waitForLog("demo: loaded slot 1:")) << engine.out() << engine.err();
    EXPECT_EQ(lineAfter(engine.out(), "demo: saved slot 1:"), lineAfter(engine.out(), "demo: loaded slot 1:"));

    xdotool({"key", "Escape"});
    ASSERT_TRUE(waitForLog("demo: entered the title room", 2)) << engine.out() << engine.err();
    xdotool({"click", "1"});
    ASSERT_TRUE(waitForLog("demo: entered the play room", 2)) << engine.out() << engine.err();

    engine.signal(SIGTERM);
    ASSERT_TRUE(engine.waitExit(10000));
    EXPECT_EQ(0, engine.exitCode());
    EXPECT_EQ("", engine.err()) << "the sample plays without a single error line";
}

// The game's 640 x 480 picture as 0xRRGGBB, indexed by drawing coordinates (y up). With no
// window manager the window sits at the screen's top-left corner.
struct Screenshot
{
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[(size_t)(479 - y) * 640 + x]; }
};

Screenshot screenshot(Display *display)
{
    Screenshot shot;
    XImage *image = XGetImage(display, DefaultRootWindow(display), 0, 0, 640, 480, AllPlanes, ZPixmap);
    if (!image) return shot;
    shot.pixels.resize(640 * 480);
    for (int row = 0; row < 480; row++)
        for (int col = 0; col < 640; col++)
            shot.pixels[(size_t)row * 640 + col] = XGetPixel(image, col, row) & 0xFFFFFF;
    XDestroyImage(image);
    return shot;
}

// The title's gold (255, 224, 122) alone or blended over the sky (11, 16, 38) or the title's
// purple shadow (75, 47, 154) at about half cover or more. The sky, the shadow and the stars
// (grey-blue, blue strongest) never pass; the ship (orange flame) flies far below the title.
bool goldish(uint32_t pixel)
{
    const int red = pixel >> 16 & 0xFF, green = pixel >> 8 & 0xFF, blue = pixel & 0xFF;
    return red - blue >= 32 && green - blue >= 16;
}

// Where a glyph's ink is, from its font page decoded as the engine loads it (alpha from
// brightness): the first and last columns of the glyph's rectangle with any cover at all, and
// with a cover of at least 200 of 255, which the screen must show as gold.
struct InkColumns
{
    int firstAny = -1, firstSolid = -1, lastAny = -1, lastSolid = -1;
};

InkColumns inkColumns(const ImagePixels &page, const Glyph &glyph)
{
    InkColumns ink;
    for (int column = 0; column < glyph.width; column++) {
        int cover = 0;
        for (int row = glyph.y; row < glyph.y + glyph.height; row++) {
            const size_t at = ((size_t)(page.uploadHeight - 1 - row) * page.uploadWidth + glyph.x + column) * 4 + 3;
            if (at < page.rgba.size()) cover = std::max(cover, (int)page.rgba[at]);
        }
        if (cover > 0 && ink.firstAny < 0) ink.firstAny = column;
        if (cover >= 200 && ink.firstSolid < 0) ink.firstSolid = column;
        if (cover > 0) ink.lastAny = column;
        if (cover >= 200) ink.lastSolid = column;
    }
    return ink;
}

// The title as the font draws it: getTextWidth (the game prints it) is the sum of the advances
// and kerning, and the pen starts at x; so the first glyph's quad starts at x + its xOffset and
// the last glyph's quad at x + width - its advance + its xOffset (kerning before the last glyph
// moves its pen and its quad alike). The gold pixels on the screen must start and end where the
// ink of those two glyphs does: between their first (last) column with any cover and their first
// (last) solid one, which for the committed font is the same column.
TEST_F(SamplePlay, TitleIsDrawnAsWideAsTheFontMeasuresIt)
{
    const std::string prefix = "demo: entered the title room; title \"STAR CATCHER\" ";
    ASSERT_TRUE(waitForLog(prefix)) << engine.out() << engine.err();
    int width = 0, penX = 0, penY = 0;
    ASSERT_EQ(3, sscanf(lineAfter(engine.out(), prefix).c_str(), "%d pixels wide, pen at %d %d", &width, &penX, &penY))
        << engine.out();

    // The committed font, read by the engine's own descriptor reader.
    DataFile file;
    ASSERT_TRUE(file.openForReadFromDisk(std::string(QF_SOURCE_DIR) + "/samples/demo/fonts/title.fnt"));
    Font font;
    std::vector<std::string> pages;
    ASSERT_TRUE(parseFontDescriptor(file, &font, &pages));
    file.close();
    const std::string title = "STAR CATCHER";
    int advances = 0, top = 0, bottom = 480;
    char previous = 0;
    for (char c : title) {
        ASSERT_EQ(1u, font.glyphs.count(c)) << "no glyph for '" << c << "'";
        const Glyph &glyph = font.glyphs.at(c);
        const auto kern = glyph.kerning.find(previous);
        advances += glyph.xAdvance + (kern == glyph.kerning.end() ? 0 : kern->second);
        if (glyph.width > 0) {
            top = std::max(top, penY - glyph.yOffset);
            bottom = std::min(bottom, penY - glyph.yOffset - glyph.height + 1);
        }
        previous = c;
    }
    EXPECT_EQ(advances, width) << "getTextWidth against the font's advances and kerning";
    EXPECT_EQ(320 - width / 2, penX) << "the title is centred by its measured width";
    ASSERT_EQ(1u, pages.size());
    ASSERT_TRUE(initImageLibrary());
    ImageLoadSettings settings;
    settings.alphaFromBrightness = true;
    ImagePixels page;
    const std::string pageBytes = readFile(std::string(QF_SOURCE_DIR) + "/samples/demo/fonts/" + pages[0]);
    ASSERT_TRUE(decodeImagePixels(pageBytes.data(), pageBytes.size(), settings, page)) << pages[0];
    const Glyph &first = font.glyphs.at('S'), &last = font.glyphs.at('R');
    const InkColumns firstInk = inkColumns(page, first), lastInk = inkColumns(page, last);
    ASSERT_TRUE(firstInk.firstSolid >= 0 && lastInk.lastSolid >= 0) << "S and R have solid ink";
    const int firstQuad = penX + first.xOffset;                        // left edge of the S quad
    const int lastQuad = penX + width - last.xAdvance + last.xOffset;  // left edge of the R quad
    ASSERT_TRUE(firstQuad >= 0 && lastQuad + last.width <= 640 && bottom >= 0 && top < 480 && bottom < top)
        << "title box " << firstQuad << ".." << lastQuad + last.width << " x " << bottom << ".." << top;

    Display *display = XOpenDisplay(x.display.c_str());
    ASSERT_NE(nullptr, display);
    Screenshot shot;
    int firstLit = -1, lastLit = -1, exact = 0;
    for (int attempt = 0; attempt < 50 && exact == 0; attempt++) {  // the first frame may not be up yet
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        shot = screenshot(display);
        if (shot.pixels.empty()) continue;
        firstLit = lastLit = -1;
        exact = 0;
        for (int column = 0; column < 640; column++)
            for (int row = bottom; row <= top; row++) {
                const uint32_t pixel = shot.at(column, row);
                if (pixel == 0xFFE07A) exact++;
                if (!goldish(pixel)) continue;
                if (firstLit < 0) firstLit = column;
                lastLit = column;
            }
    }
    XCloseDisplay(display);
    ASSERT_EQ(640u * 480u, shot.pixels.size());
    EXPECT_GT(exact, 2000) << "fully covered title pixels in exactly the title's colour";
    ASSERT_GE(firstLit, 0) << "no gold pixels where the title is drawn";
    const std::string run = "gold from column " + std::to_string(firstLit) + " to " + std::to_string(lastLit) +
                            "; getTextWidth " + std::to_string(width) + ", pen at " + std::to_string(penX);
    EXPECT_GE(firstLit, firstQuad + firstInk.firstAny) << "gold left of the S's ink; " << run;
    EXPECT_LE(firstLit, firstQuad + firstInk.firstSolid) << "the S's solid ink is not gold; " << run;
    EXPECT_LE(lastLit, lastQuad + lastInk.lastAny) << "gold right of the R's ink; " << run;
    EXPECT_GE(lastLit, lastQuad + lastInk.lastSolid) << "the R's solid ink is not gold; " << run;
}

}  // namespace
