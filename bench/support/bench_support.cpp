// bench/support/bench_support.cpp - shared pieces of the benchmark programs.
#include "bench_support.h"

#include <X11/Xlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/engine.h"
#include "core/frame_loop.h"
#include "core/script.h"
#include "resources/archive.h"
#include "resources/data_file.h"

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

static Display *desktop = nullptr;  // the connection prepareBenchEnvironment keeps open

std::string makeBenchFolder(const char *name)
{
    std::string pattern = std::string("/tmp/qf") + name + "-XXXXXX";
    return mkdtemp(&pattern[0]) ? pattern : std::string();
}

std::string selfPath()
{
    char self[4096] = {};
    return readlink("/proc/self/exe", self, sizeof self - 1) > 0 ? self : "";
}

void prepareBenchEnvironment()
{
    setenv("ALSOFT_DRIVERS", "null", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (!desktop) desktop = XOpenDisplay(nullptr);
}

void endBenchEnvironment()
{
    if (desktop) XCloseDisplay(desktop);
    desktop = nullptr;
}

bool writeBenchGame(const std::string &folder, const std::string &codename, const RoomNameLists &lists,
                    const std::string &roomScript, const std::vector<std::string> &assets, bool packed)
{
    const std::string project = "Projects/" + codename + "/";
    fs::create_directories(folder + "/" + project + "Rooms");
    if (!writeRoomFile(folder + "/" + project + "Rooms/first", lists, roomScript)) return false;
    DataFile file;
    if (!file.openForWrite(folder + "/" + project + codename + ".dat")) return false;
    file.writeInt32(640);
    file.writeInt32(480);
    file.writeString("first");
    file.writeInt32(0);
    if (!file.close()) return false;
    FILE *ini = fopen((folder + "/Quillfen.ini").c_str(), "w");
    if (!ini) return false;
    fprintf(ini, "[project]\ncodename = %s\n[audio]\nenabled = false\n", codename.c_str());
    fclose(ini);
    if (!packed) return true;

    // Entry names are relative to the game folder, as the engine looks them up.
    std::vector<std::string> entries = {project + codename + ".dat", project + "Rooms/first"};
    for (const std::string &asset : assets) entries.push_back(project + asset);
    char previous[4096];
    if (!getcwd(previous, sizeof previous) || chdir(folder.c_str()) != 0) return false;
    const bool built = buildArchive(entries, codename + ".qfa", ARCHIVE_KEY);
    if (chdir(previous) != 0 || !built) return false;
    fs::remove_all(folder + "/Projects");  // the engine reads the archive only
    return true;
}

// --- the engine side

static uint32_t fakeNow = 0;  // ms; moves only when the loop asks to sleep, so it never sleeps
static uint32_t fakeTicks() { return fakeNow; }
static void fakeDelay(uint32_t ms) { fakeNow += ms; }

// Renders after the room module: counts the frames it draws once the room has started.
class FrameCounter : public QFFrameModule
{
public:
    void render() override
    {
        if (!started) {
            lua_State *L = scriptState();
            lua_getglobal(L, "roomStarted");
            started = lua_toboolean(L, -1);
            lua_pop(L, 1);
            return;
        }
        if (++frames == 20) begin = Clock::now();
        if (frames <= 20) return;
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        if (seconds >= measureSeconds) {
            printf("fps %.1f\n", (frames - 20) / seconds);
            fflush(stdout);
            requestQuit();
        }
    }
    bool started = false;
    int frames = 0;
    double measureSeconds = 2;
    Clock::time_point begin;
};

int runUnthrottledEngine(double seconds, const std::vector<std::pair<std::string, std::string>> &globals)
{
    XInitThreads();
    const FramePlatform &sdl = sdlFramePlatform();
    setFramePlatform({fakeTicks, fakeDelay, sdl.pumpEvents, sdl.beginFrame, sdl.endFrame, sdl.swapBuffers});
    startEngine();
    lua_State *L = scriptState();
    for (const auto &global : globals) {
        char *end = nullptr;
        const double number = strtod(global.second.c_str(), &end);
        if (!global.second.empty() && *end == '\0') lua_pushnumber(L, number);
        else lua_pushstring(L, global.second.c_str());
        lua_setglobal(L, global.first.c_str());
    }
    FrameCounter *counter = new FrameCounter();
    counter->measureSeconds = seconds;
    counter->priority = -1;  // inserted after the room module: it renders the frame it counts
    addFrameModule(counter);
    runEngine();
    stopEngine();
    return 0;
}

// --- running and reading

ChildRun runChild(const std::vector<std::string> &argv, const std::string &folder, const char *marker)
{
    ChildRun run;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return run;
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        if (!freopen("/dev/null", "w", stderr)) _exit(127);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        run.output.append(buffer, (size_t)n);
        if (marker && run.markerMs < 0 && run.output.find(marker) != std::string::npos)
            run.markerMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    close(pipeFds[0]);
    int status = 0;
    rusage usage = {};
    wait4(pid, &status, 0, &usage);
    run.peakKb = usage.ru_maxrss;
    return run;
}

double valueAfter(const std::string &output, const std::string &key)
{
    const size_t at = output.find(key + " ");
    return at == std::string::npos ? -1 : atof(output.c_str() + at + key.size() + 1);
}

std::vector<double> numbersAfter(const std::string &output, const std::string &key)
{
    std::vector<double> values;
    const size_t at = ("\n" + output).find("\n" + key + " ");
    if (at == std::string::npos) return values;
    const char *p = output.c_str() + at + key.size();
    char *end = nullptr;
    for (double v = strtod(p, &end); end != p; v = strtod(p, &end)) {
        values.push_back(v);
        p = end;
    }
    return values;
}

double median(std::vector<double> values)
{
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
