// tests/support/test_support.cpp - helpers shared by every test program.
#include "test_support.h"

#include <GL/glew.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "graphics/display.h"
#include "graphics/renderer.h"

TempDir::TempDir()
{
    char pattern[] = "/tmp/qftest-XXXXXX";
    dir = mkdtemp(pattern);
}

TempDir::~TempDir()
{
    std::string command = "rm -rf '" + dir + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir.c_str());
}

static std::string captureStream(FILE *stream, const std::function<void()> &work)
{
    fflush(stream);
    const int fd = fileno(stream);
    const int saved = dup(fd);
    char path[] = "/tmp/qfcapture-XXXXXX";
    const int temp = mkstemp(path);
    dup2(temp, fd);
    work();
    fflush(stream);
    dup2(saved, fd);
    close(saved);
    close(temp);
    std::string text = readFile(path);
    unlink(path);
    return text;
}

std::string captureStderr(const std::function<void()> &work) { return captureStream(stderr, work); }
std::string captureStdout(const std::function<void()> &work) { return captureStream(stdout, work); }

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ensureDisplay(int width, int height)
{
    static int state = 0;  // 0 untried, 1 open, -1 unavailable
    if (state == 0) {
        XInitThreads();
        state = -1;
        // An X server that is resetting refuses connections for a moment: try a few times.
        for (int attempt = 0; attempt < 20 && state < 0 && getenv("DISPLAY"); attempt++) {
            if (initDisplay(width, height)) state = 1;
            else std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    return state == 1;
}

std::vector<uint8_t> readPixels(int x, int y, int w, int h)
{
    flushRenderer();  // image quads may still be in the open batch
    std::vector<uint8_t> pixels((size_t)w * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

uint32_t pixelAt(int x, int y)
{
    std::vector<uint8_t> p = readPixels(x, y, 1, 1);
    return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
}

ChildProcess::~ChildProcess()
{
    if (child > 0 && !exited) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    if (!outPath.empty()) unlink(outPath.c_str());
    if (!errPath.empty()) unlink(errPath.c_str());
}

bool ChildProcess::start(const std::vector<std::string> &argv, const std::string &workingDir,
                         const std::vector<std::string> &extraEnv)
{
    char outName[] = "/tmp/qfout-XXXXXX", errName[] = "/tmp/qferr-XXXXXX";
    const int outFd = mkstemp(outName), errFd = mkstemp(errName);
    outPath = outName;
    errPath = errName;
    child = fork();
    if (child == 0) {
        if (chdir(workingDir.c_str()) != 0) _exit(127);
        dup2(outFd, 1);
        dup2(errFd, 2);
        ::signal(SIGINT, SIG_DFL);
        for (const std::string &assignment : extraEnv) putenv(strdup(assignment.c_str()));
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
    return child > 0;
}

bool ChildProcess::waitExit(int timeoutMs)
{
    if (exited) return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        if (waitpid(child, &status, WNOHANG) == child) break;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    exited = true;
    code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

void ChildProcess::signal(int sig)
{
    if (child > 0 && !exited) kill(child, sig);
}

std::string ChildProcess::out() const { return readFile(outPath); }
std::string ChildProcess::err() const { return readFile(errPath); }

ProcessResult runProgram(const std::vector<std::string> &argv, const std::string &workingDir, int timeoutSeconds,
                         const std::vector<std::string> &extraEnv)
{
    ChildProcess process;
    ProcessResult result;
    if (!process.start(argv, workingDir, extraEnv)) return result;
    if (!process.waitExit(timeoutSeconds * 1000)) {
        process.signal(SIGKILL);
        process.waitExit(5000);
    } else {
        result.exitCode = process.exitCode();
    }
    result.out = process.out();
    result.err = process.err();
    return result;
}

// Windows of other processes come and go while we look at them: their errors are expected.
static int ignoreXError(Display *, XErrorEvent *) { return 0; }

static Display *testXDisplay()
{
    static Display *connection = nullptr;
    if (!connection) {
        connection = XOpenDisplay(nullptr);
        XSetErrorHandler(ignoreXError);
    }
    return connection;
}

// The _NET_WM_PID of a window (SDL sets it on its top-level window), or 0.
static long windowPid(Display *x, Window window)
{
    Atom type;
    int format;
    unsigned long items = 0, remaining = 0;
    unsigned char *data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(x, window, XInternAtom(x, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type, &format,
                           &items, &remaining, &data) == Success && data) {
        if (items == 1 && format == 32) pid = *(long *)data;
        XFree(data);
    }
    return pid;
}

static Window findNamed(Display *x, Window window, const std::string &name, int pid)
{
    char *windowName = nullptr;
    if (XFetchName(x, window, &windowName) && windowName) {
        const bool match = name == windowName && (pid == 0 || windowPid(x, window) == pid);
        XFree(windowName);
        if (match) return window;
    }
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(x, window, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; i++) found = findNamed(x, children[i], name, pid);
        if (children) XFree(children);
    }
    return found;
}

unsigned long waitForWindow(const std::string &name, int timeoutMs, int pid)
{
    Display *x = testXDisplay();
    if (!x) return 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        Window found = findNamed(x, DefaultRootWindow(x), name, pid);
        if (found) return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

bool windowSize(unsigned long window, int *width, int *height)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(testXDisplay(), window, &attributes)) return false;
    *width = attributes.width;
    *height = attributes.height;
    return true;
}

bool requestWindowClose(unsigned long window)
{
    Display *x = testXDisplay();
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(x, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(x, window, False, NoEventMask, &event) != 0;
    XFlush(x);
    return sent;
}
