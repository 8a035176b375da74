// draw_bench - frames per second of N filled circles (radius 10), N filled 16 x 16 rectangles
// and N 32 x 32 image quads per frame, at N = 1,000 and 10,000, beside LÖVE in the same run.
//
// Our side is a fresh engine process (`draw_bench --engine WORKLOAD N SECONDS`) started as a game
// is: a loose project whose first room lists the image and whose Render makes the N calls
// (drawCircle, drawRectangle or drawImage) from Lua; the engine's frame loop runs with a clock
// that only sleeps move, so every frame is stepped, drawn and swapped without waiting. After 20
// warm-up frames it counts drawn frames for SECONDS. LÖVE's side (bench/love/draw) draws the same
// shapes at the same places (circles with the same 31 segments) from a love.run without its 1 ms
// sleep, vsync off. Both use a 640 x 480 window on the same X display (DISPLAY).
// Usage: draw_bench [seconds per run, default 2] [workload: circles, rectangles, images or all]
//                   [runs per side, default 1; with more, the sides alternate and the best counts,
//                   which keeps other load on a shared machine from deciding the ratio]
#include <X11/Xlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/frame_loop.h"
#include "core/room_file.h"
#include "core/script.h"
#include "resources/data_file.h"

using Clock = std::chrono::steady_clock;

// The room's Render: positions as in bench/love/draw/main.lua.
static const char *ROOM_SCRIPT =
    "function Init() roomStarted = true; img = getImageHandle('sprite.png') end\n"
    "local drawCircle, drawRectangle, drawImage = drawCircle, drawRectangle, drawImage\n"
    "function Render()\n"
    "  local n, w = benchCount, benchWorkload\n"
    "  if w == 'circles' then\n"
    "    setRenderColor(200, 120, 40, 255)\n"
    "    for i = 1, n do drawCircle((i * 7) % 608 + 16, (i * 13) % 448 + 16, 10, true) end\n"
    "  elseif w == 'rectangles' then\n"
    "    setRenderColor(40, 200, 120, 255)\n"
    "    for i = 1, n do local x, y = (i * 7) % 608, (i * 13) % 448 drawRectangle(x, y, x + 16, y + 16, true) end\n"
    "  else\n"
    "    for i = 1, n do drawImage(img, (i * 7) % 608, (i * 13) % 448) end\n"
    "  end\n"
    "  setRenderColor(255, 255, 255, 255)\n"
    "end\n";

// --- the engine child

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

static int runEngineChild(const char *workload, int count, double seconds)
{
    XInitThreads();
    const FramePlatform &sdl = sdlFramePlatform();
    setFramePlatform({fakeTicks, fakeDelay, sdl.pumpEvents, sdl.beginFrame, sdl.endFrame, sdl.swapBuffers});
    startEngine();
    lua_State *L = scriptState();
    lua_pushinteger(L, count);
    lua_setglobal(L, "benchCount");
    lua_pushstring(L, workload);
    lua_setglobal(L, "benchWorkload");
    FrameCounter *counter = new FrameCounter();
    counter->measureSeconds = seconds;
    counter->priority = -1;  // inserted after the room module
    addFrameModule(counter);
    runEngine();
    stopEngine();
    return 0;
}

// --- the two projects

static bool buildProjects(const std::string &folder)
{
    namespace fs = std::filesystem;
    const std::string project = folder + "/ours/Projects/draw/";
    fs::create_directories(project + "Rooms");
    fs::create_directories(project + "Images");
    fs::create_directories(folder + "/love");
    const std::string command = "convert -size 30x30 xc:'rgb(40,160,220)' -fill 'rgb(240,200,40)' -draw 'circle 15,15 15,4'"
                                " -bordercolor 'rgb(250,250,250)' -border 1 PNG24:'" +
                                project + "Images/sprite.png' 2>/dev/null";
    if (system(command.c_str()) != 0) return false;
    fs::copy_file(project + "Images/sprite.png", folder + "/love/sprite.png");
    RoomNameLists lists;
    lists.names[ROOM_IMAGES] = {"sprite.png"};
    if (!writeRoomFile(project + "Rooms/first", lists, ROOM_SCRIPT)) return false;
    DataFile file;
    if (!file.openForWrite(project + "draw.dat")) return false;
    file.writeInt32(640);
    file.writeInt32(480);
    file.writeString("first");
    file.writeInt32(0);
    if (!file.close()) return false;
    FILE *ini = fopen((folder + "/ours/Quillfen.ini").c_str(), "w");
    if (!ini) return false;
    fputs("[project]\ncodename = draw\n[audio]\nenabled = false\n", ini);
    fclose(ini);
    fs::copy_file(QF_BENCH_DIR "/love/draw/main.lua", folder + "/love/main.lua");
    fs::copy_file(QF_BENCH_DIR "/love/draw/conf.lua", folder + "/love/conf.lua");
    return true;
}

// --- running and reporting

// Runs argv in `folder` and returns its standard output (standard error is dropped).
static std::string runAndCapture(const std::vector<std::string> &argv, const std::string &folder)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return "";
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
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) output.append(buffer, (size_t)n);
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return output;
}

static double valueAfter(const std::string &output, const std::string &key)
{
    const size_t at = output.find(key + " ");
    return at == std::string::npos ? -1 : atof(output.c_str() + at + key.size() + 1);
}

int main(int argc, char **argv)
{
    if (argc > 4 && strcmp(argv[1], "--engine") == 0) return runEngineChild(argv[2], atoi(argv[3]), atof(argv[4]));
    if (!getenv("DISPLAY")) {
        fprintf(stderr, "draw_bench: no display\n");
        return 1;
    }
    const std::string seconds = argc > 1 ? argv[1] : "2";
    const std::string filter = argc > 2 && strcmp(argv[2], "all") != 0 ? argv[2] : "";
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 1;
    Display *desktop = XOpenDisplay(nullptr);  // keeps an idle X server from resetting between runs
    setenv("ALSOFT_DRIVERS", "null", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    char folderName[] = "/tmp/qfdraw-XXXXXX";
    const std::string folder = mkdtemp(folderName);
    if (!buildProjects(folder)) {
        fprintf(stderr, "draw_bench: could not build the projects in %s\n", folder.c_str());
        return 1;
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;

    printf("N shapes per frame from Lua, unthrottled, 640x480 window, %s s per run, best of %d\n", seconds.c_str(), runs);
    struct Workload
    {
        const char *name, *ours, *love;
    };
    const Workload workloads[] = {
        {"circles", "drawCircle(x, y, 10, true)", "circle('fill', x, y, 10, 31)"},
        {"rectangles", "drawRectangle 16x16 filled", "rectangle('fill', x, y, 16, 16)"},
        {"images", "drawImage 32x32", "draw(image, x, y)"},
    };
    for (const Workload &w : workloads) {
        if (!filter.empty() && filter != w.name) continue;
        for (int count : {1000, 10000}) {
            const std::string n = std::to_string(count);
            double ours = -1, love = -1;
            for (int run = 0; run < runs; run++) {
                ours = std::max(ours, valueAfter(runAndCapture({self, "--engine", w.name, n, seconds}, folder + "/ours"), "fps"));
                love = std::max(love, valueAfter(runAndCapture({"love", folder + "/love", w.name, n, seconds}, folder + "/love"),
                                                 "love-fps"));
            }
            printf("%-10s N = %5d: quillfen %-28s %8.1f fps | LÖVE %-31s %8.1f fps | ratio %.2f (goal >= 1.0)\n",
                   w.name, count, w.ours, ours, w.love, love, love > 0 ? ours / love : 0.0);
            fflush(stdout);
        }
    }
    std::filesystem::remove_all(folder);
    if (desktop) XCloseDisplay(desktop);
    return 0;
}
