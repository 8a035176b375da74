// tests/support/test_support.cpp - helpers shared by every test program (main thread only).
#include "test_support.h"

#include <GL/glew.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/config.h"
#include "core/project.h"
#include "core/script.h"
#include "graphics/display.h"
#include "graphics/renderer.h"
#include "save/save.h"

TempDir::TempDir()
{
    char pattern[] = "/tmp/qftest-XXXXXX";
    dir = mkdtemp(pattern);
}

TempDir::~TempDir()
{
    std::error_code error;  // a test that failed half way may leave anything behind
    std::filesystem::remove_all(dir, error);
}

WorkDir::WorkDir() : previous(std::filesystem::current_path()) { std::filesystem::current_path(path()); }

WorkDir::~WorkDir()
{
    std::error_code error;
    std::filesystem::current_path(previous, error);
}

void useConfig(const std::string &codename, const std::string &extraLines)
{
    writeFile("Quillfen.ini", "[project]\ncodename = " + codename + "\n" + extraLines);
    clearConfig();
    loadConfig("Quillfen.ini");
    resetProject();
    clearSavedVariables();
}

static std::string captureStream(FILE *stream, const std::function<void()> &work)
{
    const int fd = fileno(stream);
    fflush(stream);
    const int saved = dup(fd);
    char path[] = "/tmp/qfcapture-XXXXXX";
    const int temp = mkstemp(path);
    dup2(temp, fd);
    work();
    fflush(stream);
    dup2(saved, fd);
    close(saved);
    close(temp);
    const std::string text = readFile(path);
    unlink(path);
    return text;
}
std::string captureStderr(const std::function<void()> &work) { return captureStream(stderr, work); }
std::string captureStdout(const std::function<void()> &work) { return captureStream(stdout, work); }

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
}

std::string readFile(const std::string &path)
{
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::string int32LE(int32_t value)
{
    const uint32_t v = (uint32_t)value;
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string lengthText(const std::string &text) { return int32LE((int32_t)text.size()) + text; }

std::string byteString(std::initializer_list<int> values) { return std::string(values.begin(), values.end()); }

std::string runLua(lua_State *L, const std::string &code)
{
    if (luaL_loadbuffer(L, code.data(), code.size(), "") == 0 && lua_pcall(L, 0, 0, 0) == 0) return "";
    const std::string error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(not a string)";
    lua_pop(L, 1);
    return error;
}

std::string luaValue(lua_State *L, const std::string &expression)
{
    const std::string error = runLua(L, "_value = tostring(" + expression + ")");
    lua_getglobal(L, "_value");
    const std::string text = error.empty() ? lua_tostring(L, -1) : "error: " + error;
    lua_pop(L, 1);
    return text;
}

bool ensureDisplay()
{
    static int state = 0;  // 0 untried, 1 open, -1 unavailable
    if (state == 0) {
        XInitThreads();
        state = -1;
        // An X server that is resetting refuses connections for a moment: try a few times.
        for (int attempt = 0; attempt < 20 && state < 0 && getenv("DISPLAY"); attempt++) {
            if (initDisplay(64, 64)) state = 1;
            else usleep(100 * 1000);
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
    const std::vector<uint8_t> p = readPixels(x, y, 1, 1);
    return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
}

ChildProcess::~ChildProcess()
{
    signal(SIGKILL);
    waitExit(60000);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
}

bool ChildProcess::start(const std::vector<std::string> &argv, const std::string &workingDir,
                         const std::vector<std::string> &extraEnv)
{
    char outName[] = "/tmp/qfout-XXXXXX", errName[] = "/tmp/qferr-XXXXXX";
    const int outFd = mkstemp(outName), errFd = mkstemp(errName);
    outPath = outName, errPath = errName;
    if ((child = fork()) == 0) {
        if (chdir(workingDir.c_str()) == 0 && dup2(outFd, 1) == 1 && dup2(errFd, 2) == 2) {
            ::signal(SIGINT, SIG_DFL);
            for (const std::string &assignment : extraEnv) putenv(strdup(assignment.c_str()));
            std::vector<char *> args;
            for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
        }
        _exit(127);
    }
    close(outFd), close(errFd);
    return child > 0;
}

bool ChildProcess::waitExit(int timeoutMs)
{
    int status = 0;
    for (int waited = 0; child > 0 && !exited && waitpid(child, &status, WNOHANG) != child; waited += 5) {
        if (waited >= timeoutMs) return false;
        usleep(5000);
    }
    if (!exited) code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exited = true;
}

void ChildProcess::signal(int sig)
{
    if (child > 0 && !exited) kill(child, sig);
}

ProcessResult runProgram(const std::vector<std::string> &argv, const std::string &workingDir, int timeoutSeconds,
                         const std::vector<std::string> &extraEnv)
{
    ChildProcess process;
    if (!process.start(argv, workingDir, extraEnv)) return {};
    const bool exited = process.waitExit(timeoutSeconds * 1000);
    process.signal(SIGKILL);
    process.waitExit(5000);
    return {exited ? process.exitCode() : -1, process.out(), process.err()};
}

// Windows of other processes come and go while we look at them: their errors are expected.
static int ignoreXError(Display *, XErrorEvent *) { return 0; }
static Display *testXDisplay()
{
    static Display *connection = (XSetErrorHandler(ignoreXError), XOpenDisplay(nullptr));
    return connection;
}

// The window (top-level or below) named `name` whose _NET_WM_PID (SDL sets it) is `pid` unless 0.
static Window findNamed(Display *x, Window window, const std::string &name, int pid)
{
    char *windowName = nullptr;
    bool match = XFetchName(x, window, &windowName) && windowName && name == windowName;
    if (windowName) XFree(windowName);
    if (match && pid != 0) {
        Atom type;
        int format;
        unsigned long items = 0, remaining = 0;
        unsigned char *data = nullptr;
        match = XGetWindowProperty(x, window, XInternAtom(x, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type,
                                   &format, &items, &remaining, &data) == Success && data && items == 1 && *(long *)data == pid;
        if (data) XFree(data);
    }
    Window root, parent, *children = nullptr, found = match ? window : 0;
    unsigned count = 0;
    if (!found && XQueryTree(x, window, &root, &parent, &children, &count))
        for (unsigned i = 0; i < count && !found; i++) found = findNamed(x, children[i], name, pid);
    if (children) XFree(children);
    return found;
}

unsigned long waitForWindow(const std::string &name, int timeoutMs, int pid)
{
    Display *x = testXDisplay();
    Window found = 0;
    for (int waited = 0; x && !found && waited < timeoutMs; waited += 20)
        if (!(found = findNamed(x, DefaultRootWindow(x), name, pid))) usleep(20 * 1000);
    return found;
}

bool windowSize(unsigned long window, int *width, int *height)
{
    XWindowAttributes attributes;
    const bool known = XGetWindowAttributes(testXDisplay(), window, &attributes);
    *width = known ? attributes.width : 0, *height = known ? attributes.height : 0;
    return known;
}

bool requestWindowClose(unsigned long window)
{
    Display *x = testXDisplay();
    XEvent event = {};
    event.xclient = {ClientMessage, 0, False, x, window, XInternAtom(x, "WM_PROTOCOLS", False), 32, {}};
    event.xclient.data.l[0] = (long)XInternAtom(x, "WM_DELETE_WINDOW", False);
    const bool sent = XSendEvent(x, window, False, NoEventMask, &event) != 0;
    XFlush(x);
    return sent;
}

std::vector<uint32_t> windowImage(unsigned long window, int w, int h)
{
    // Tests run two at a time on one X server and every game window opens at its top-left: a
    // window under another reads as what covers it. Brought to the top, the engine draws it
    // again within a few frames.
    Display *x = testXDisplay();
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count) && count > 0 && children[count - 1] != window) {
        XRaiseWindow(x, window);
        XSync(x, False);
        usleep(100 * 1000);
    }
    if (children) XFree(children);
    std::vector<uint32_t> pixels;
    XImage *image = XGetImage(testXDisplay(), window, 0, 0, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    for (int y = 0; image && y < h; y++)
        for (int x = 0; x < w; x++) pixels.push_back(uint32_t(XGetPixel(image, x, y) & 0xFFFFFF));
    if (image) XDestroyImage(image);
    return pixels;
}
