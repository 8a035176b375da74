// The bundled sample game (samples/demo), compiled by quillfen-pack and played by the real engine
// on an X server of its own, driven by XTEST key presses and clicks as a player would: the title,
// ENTER into the play room, flying, S to save, L to load, ESC back to the title, a click into play
// again. The game logs room changes, saves and loads on stdout; stderr must stay empty.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "e2e_project.h"

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

}  // namespace
