// tests/support/test_support.h - shared test helpers (main thread only).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

struct lua_State;

struct TempDir  // a fresh folder under /tmp, removed with its contents when the object goes
{
    TempDir();
    ~TempDir();
    const std::string &path() const { return dir; }
    std::string file(const std::string &name) const { return dir + "/" + name; }
    std::string dir;
};
struct WorkDir : TempDir  // the working directory while the object lives
{
    WorkDir();
    ~WorkDir();
    std::string previous;
};

// Writes and loads "Quillfen.ini" ([project] codename and `extraLines`) in the working directory,
// forgetting any loaded project and declared saved globals.
void useConfig(const std::string &codename, const std::string &extraLines = "");

std::string captureStderr(const std::function<void()> &work);  // what `work` wrote to stderr
std::string captureStdout(const std::function<void()> &work);  // ... and to stdout
void writeFile(const std::string &path, const std::string &bytes);
std::string readFile(const std::string &path);

// Binary literals: little-endian int32; int32 length + text; raw bytes.
std::string int32LE(int32_t value);
std::string lengthText(const std::string &text);
std::string byteString(std::initializer_list<int> values);

std::string runLua(lua_State *L, const std::string &code);            // protected: "" or the error's text
std::string luaValue(lua_State *L, const std::string &expression);  // tostring(expression) or "error: ..."

// The engine's 64x64 display, opened once. Tests skip only when DISPLAY is not set.
bool ensureDisplay();
#define REQUIRE_DISPLAY()                                                       \
    do {                                                                        \
        if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";                   \
        ASSERT_TRUE(ensureDisplay()) << "DISPLAY is set but could not be opened"; \
    } while (0)

// RGBA bytes of the w x h block at (x, y), bottom row first (glReadPixels order).
std::vector<uint8_t> readPixels(int x, int y, int w, int h);
uint32_t pixelAt(int x, int y);  // 0xRRGGBB of one back-buffer pixel

class ChildProcess  // its stdout and stderr go to files
{
public:
    ~ChildProcess();
    // extraEnv: "NAME=value" sets, a bare "NAME" removes (glibc putenv)
    bool start(const std::vector<std::string> &argv, const std::string &workingDir,
               const std::vector<std::string> &extraEnv = {});
    bool waitExit(int timeoutMs);  // false on timeout (the child keeps running)
    void signal(int sig);
    int exitCode() const { return code; }  // -1 until it exited normally
    std::string out() const { return readFile(outPath); }
    std::string err() const { return readFile(errPath); }
    int pid() const { return child; }

private:
    int child = -1;
    int code = -1;
    bool exited = false;
    std::string outPath, errPath;
};

struct ProcessResult { int exitCode = -1; std::string out, err; };  // -1: killed after the timeout, or did not run
ProcessResult runProgram(const std::vector<std::string> &argv, const std::string &workingDir,
                         int timeoutSeconds, const std::vector<std::string> &extraEnv = {});

// X helpers for end-to-end tests: the window titled `name` (0 when none appears in time; pass the
// engine's pid so a parallel test's window is not taken), its size, and a window manager's close.
unsigned long waitForWindow(const std::string &name, int timeoutMs, int pid = 0);
bool windowSize(unsigned long window, int *width, int *height);
bool requestWindowClose(unsigned long window);
// The window's w x h pixels from its top-left as 0xRRGGBB, top row first (empty while it is smaller);
// the window is raised above the others first (parallel tests share the X server).
std::vector<uint32_t> windowImage(unsigned long window, int w, int h);
