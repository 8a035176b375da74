// tests/support/test_support.h - shared helpers: temporary folders, captured stderr, a GL window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A fresh folder under /tmp, removed with its contents when the object goes.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return dir; }
    std::string file(const std::string &name) const { return dir + "/" + name; }

private:
    std::string dir;
};

// Runs `work` with stderr (or stdout) sent to a file and returns what was written.
std::string captureStderr(const std::function<void()> &work);
std::string captureStdout(const std::function<void()> &work);

void writeFile(const std::string &path, const std::string &bytes);
std::string readFile(const std::string &path);

// Opens the engine's display once per test process (64x64 unless asked otherwise before the
// first call). False when it cannot be opened. Tests skip only when DISPLAY is not set at all:
// with a display named, failing to open it is a failure, not a skip.
bool ensureDisplay(int width = 64, int height = 64);
#define REQUIRE_DISPLAY()                                                       \
    do {                                                                        \
        if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";                   \
        ASSERT_TRUE(ensureDisplay()) << "DISPLAY is set but could not be opened"; \
    } while (0)

// RGBA bytes of the w x h block at (x, y), bottom row first (glReadPixels order).
std::vector<uint8_t> readPixels(int x, int y, int w, int h);
uint32_t pixelAt(int x, int y);  // 0xRRGGBB of one back-buffer pixel

// A child process whose stdout and stderr go to files.
class ChildProcess
{
public:
    ~ChildProcess();
    bool start(const std::vector<std::string> &argv, const std::string &workingDir,
               const std::vector<std::string> &extraEnv = {});
    bool waitExit(int timeoutMs);  // false on timeout (the child keeps running)
    void signal(int sig);
    int exitCode() const { return code; }  // -1 until it exited normally
    std::string out() const;
    std::string err() const;
    int pid() const { return child; }

private:
    int child = -1;
    int code = -1;
    bool exited = false;
    std::string outPath, errPath;
};

struct ProcessResult
{
    int exitCode = -1;  // -1: killed after the timeout, or did not run
    std::string out, err;
};
ProcessResult runProgram(const std::vector<std::string> &argv, const std::string &workingDir,
                         int timeoutSeconds, const std::vector<std::string> &extraEnv = {});

// X helpers for end-to-end tests: the top-level window titled `name` (0 when none appears in
// time), its size, and a close request as a window manager would send it. Tests run in
// parallel: pass the engine's pid so another test's window of the same title is not taken.
unsigned long waitForWindow(const std::string &name, int timeoutMs, int pid = 0);
bool windowSize(unsigned long window, int *width, int *height);
bool requestWindowClose(unsigned long window);
