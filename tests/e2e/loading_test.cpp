// The real executable's loading screen and script errors, seen from outside: each test runs
// quillfen on an X server of its own (so no other test's window can cover it) and reads the
// screen back with XGetImage.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "core/room_file.h"
#include "test_support.h"

namespace {

static const char *TITLE = "Quillfen Engine 3.0 by Pellory";

// An Xvfb on the first free display number from 150 up, stopped with the object.
class PrivateXServer
{
public:
    PrivateXServer()
    {
        for (int n = 150; n < 200 && !connection; n++) {
            if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) continue;
            name = ":" + std::to_string(n);
            pid = fork();
            if (pid == 0) {
                execlp("Xvfb", "Xvfb", name.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
                       (char *)nullptr);
                _exit(127);
            }
            for (int i = 0; i < 100 && !connection; i++) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (waitpid(pid, nullptr, WNOHANG) == pid) break;  // taken meanwhile, or no Xvfb
                connection = XOpenDisplay(name.c_str());
            }
            if (!connection) stop();
        }
    }
    ~PrivateXServer()
    {
        if (connection) XCloseDisplay(connection);
        stop();
    }
    Display *connection = nullptr;
    std::string name;  // ":N"

private:
    void stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
    pid_t pid = -1;
};

static Window findNamed(Display *x, Window window, const std::string &name)
{
    char *windowName = nullptr;
    if (XFetchName(x, window, &windowName) && windowName) {
        const bool match = name == windowName;
        XFree(windowName);
        if (match) return window;
    }
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(x, window, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; i++) found = findNamed(x, children[i], name);
        if (children) XFree(children);
    }
    return found;
}

// The engine's window once it has its 640 x 480 mode (SDL names a first window before that).
static Window waitForGameWindow(Display *x, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        Window window = findNamed(x, DefaultRootWindow(x), TITLE);
        XWindowAttributes attributes;
        if (window && XGetWindowAttributes(x, window, &attributes) && attributes.width == 640 &&
            attributes.map_state == IsViewable)
            return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// The 640 x 480 picture of `window` as 0xRRGGBB, indexed by drawing coordinates (y up).
struct Screenshot
{
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[(size_t)(479 - y) * 640 + x]; }
};

static Screenshot screenshot(Display *x, Window window)
{
    Screenshot shot;
    XImage *image = XGetImage(x, window, 0, 0, 640, 480, AllPlanes, ZPixmap);
    if (!image) return shot;
    shot.pixels.resize(640 * 480);
    for (int row = 0; row < 480; row++)
        for (int col = 0; col < 640; col++) shot.pixels[(size_t)row * 640 + col] = XGetPixel(image, col, row) & 0xFFFFFF;
    XDestroyImage(image);
    return shot;
}

// The spinner's pixels: how many are exactly (96, 96, 96), how many have another colour than
// that or black, and how many grey ones lie farther from (320, 240) than a dot can reach.
struct SpinnerPixels
{
    int grey = 0, other = 0, outside = 0;
};

static SpinnerPixels spinnerPixels(const Screenshot &shot)
{
    SpinnerPixels found;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            const uint32_t p = shot.at(x, y);
            if (p == 0) continue;
            if (p != 0x606060) {
                found.other++;
                continue;
            }
            found.grey++;
            if (hypot(x + 0.5 - 320, y + 0.5 - 240) > 16) found.outside++;  // 10 + 4, centres truncated
        }
    return found;
}

// No project at all: the loading chunk's Step runs every frame, and from the 121st step on every
// drawn frame shows six grey dots of radius 4 on a circle of radius 10 around (320, 240).
TEST(LoadingScreen, GreySpinnerAppearsAfter120StepsAndTurns)
{
    PrivateXServer server;
    if (!server.connection) GTEST_SKIP() << "no Xvfb";
    TempDir folder;
    ChildProcess engine;
    ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, folder.path(), {"DISPLAY=" + server.name, "ALSOFT_DRIVERS=null"}));
    Window window = waitForGameWindow(server.connection, 20000);
    ASSERT_NE(0ul, window) << engine.err();
    const auto shown = std::chrono::steady_clock::now();

    // The loop has not run 120 steps (two seconds at 60 per second) when the window appears.
    const Screenshot early = screenshot(server.connection, window);
    ASSERT_EQ(640u * 480u, early.pixels.size());
    if (std::chrono::steady_clock::now() - shown < std::chrono::milliseconds(1000)) {
        EXPECT_EQ(0, spinnerPixels(early).grey) << "spinner before the 121st step";
    }

    Screenshot first;
    SpinnerPixels dots;
    for (int attempt = 0; attempt < 300 && dots.grey == 0; attempt++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        first = screenshot(server.connection, window);
        dots = spinnerPixels(first);
    }
    ASSERT_GT(dots.grey, 0) << "no spinner after 30 s";
    EXPECT_EQ(0, dots.other) << "pixels that are neither black nor (96, 96, 96)";
    EXPECT_EQ(0, dots.outside) << "grey pixels away from the ring around (320, 240)";
    EXPECT_GE(dots.grey, 6 * 40) << "six dots of radius 4";
    EXPECT_LE(dots.grey, 6 * 56) << "six dots of radius 4";
    EXPECT_EQ(0u, first.at(320, 240)) << "the centre stays black";

    // It turns: a later picture has its dots elsewhere.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Screenshot later = screenshot(server.connection, window);
    EXPECT_NE(first.pixels, later.pixels) << "the spinner did not move";
    EXPECT_GT(spinnerPixels(later).grey, 0);

    engine.signal(SIGTERM);
    ASSERT_TRUE(engine.waitExit(5000));
    EXPECT_EQ(0, engine.exitCode());
}

static std::string le32(int32_t value)
{
    const uint32_t v = (uint32_t)value;
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// A room script that calls engine functions with wrong counts: each prints exactly its message
// and a newline on stderr, and the game keeps stepping (the script ends it with os.exit).
TEST(LoadingScreen, WrongArgumentCountIsPrintedAndTheGameGoesOn)
{
    PrivateXServer server;
    if (!server.connection) GTEST_SKIP() << "no Xvfb";
    TempDir folder;
    const std::string root = folder.path();
    ASSERT_EQ(0, system(("mkdir -p '" + root + "/Projects/e/Rooms'").c_str()));
    writeFile(root + "/Quillfen.ini", "[project]\ncodename = e\n[audio]\nenabled = false\n");
    writeFile(root + "/Projects/e/e.dat", le32(640) + le32(480) + le32(4) + "main" + le32(0));
    const std::string script =
        "N = 0\n"
        "function Step()\n"
        "  N = N + 1\n"
        "  if N == 1 then drawCircle(1, 2) end\n"
        "  if N == 2 then keyDown() end\n"
        "  if N == 3 then pushMatrix(1) end\n"
        "  if N == 30 then print('still stepping at ' .. N) io.stdout:flush() os.exit(7) end\n"
        "end\n"
        // The first frame drawn after the fourth step: a slow (sanitized) engine skips draws.
        "function Render() if N >= 4 and not wrong then wrong = true; setRenderColor(1, 2, 3) end end\n";
    ASSERT_TRUE(writeRoomFile(root + "/Projects/e/Rooms/main", RoomNameLists(), script));

    const ProcessResult result = runProgram({QF_ENGINE_PATH}, root, 60, {"DISPLAY=" + server.name});
    EXPECT_EQ(7, result.exitCode) << result.err;
    EXPECT_EQ("still stepping at 30\n", result.out);
    EXPECT_EQ("ERROR: 'e.qfa' could not be opened.\n"  // no archive: loose files
              "4 args needed: x, y, radius, filled\n"
              "1 arg needed: key\n"
              "0 args needed\n"
              "4 args needed: red, green, blue, alpha\n",
              result.err);
}

}  // namespace
