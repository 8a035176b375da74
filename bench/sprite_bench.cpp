// sprite_bench - one loaded 32 x 32 image drawn N times a frame with drawImage, beside LÖVE.
//
// The benchmark packs a project whose first room lists sprite.png and whose Render calls
// drawImage(img, x, y) benchCount times, as a game would. Our side is a fresh engine process
// (`sprite_bench --engine N`): ordinary start-up, the first room loaded by the loader thread, then
// the engine's frame loop with a clock that never sleeps (every frame is stepped, drawn and
// swapped). After 20 warm-up frames it counts drawn frames for 2 seconds. LÖVE's side
// (bench/love/sprite) draws the same image at the same places with love.graphics.draw, with its
// love.run's 1 ms sleep removed, vsync off. Needs DISPLAY. Usage: sprite_bench [seconds per run]
#include <SDL.h>
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
#include "resources/archive.h"
#include "resources/data_file.h"

using Clock = std::chrono::steady_clock;

// --- the engine child

static uint32_t fakeNow = 0;  // ms; moves only when the loop asks to sleep, so it never sleeps
static uint32_t fakeTicks() { return fakeNow; }
static void fakeDelay(uint32_t ms) { fakeNow += ms; }

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
        if (frames > 20) {
            const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
            if (seconds >= measureSeconds) {
                printf("fps %.1f\n", (frames - 20) / seconds);
                fflush(stdout);
                requestQuit();
            }
        }
    }
    bool started = false;
    int frames = 0;
    double measureSeconds = 2;
    Clock::time_point begin;
};

static int runEngineChild(int count, double seconds)
{
    XInitThreads();
    const FramePlatform &sdl = sdlFramePlatform();
    setFramePlatform({fakeTicks, fakeDelay, sdl.pumpEvents, sdl.beginFrame, sdl.endFrame, sdl.swapBuffers});
    startEngine();
    lua_State *L = scriptState();
    lua_pushinteger(L, count);
    lua_setglobal(L, "benchCount");
    FrameCounter *counter = new FrameCounter();
    counter->measureSeconds = seconds;
    counter->priority = -1;  // after the room module: it renders the frame it counts
    addFrameModule(counter);
    runEngine();
    stopEngine();
    return 0;
}

// --- building the project

static bool buildProjects(const std::string &folder)
{
    namespace fs = std::filesystem;
    const std::string project = folder + "/ours/Projects/sprite/";
    fs::create_directories(project + "Rooms");
    fs::create_directories(project + "Images");
    fs::create_directories(folder + "/love");
    // A 32 x 32 picture with a transparent (key-coloured) border, a PNG for both sides.
    const std::string command = "convert -size 30x30 xc:'rgb(40,160,220)' -fill 'rgb(240,200,40)' -draw 'circle 15,15 15,4'"
                                " -bordercolor 'rgb(255,128,255)' -border 1 PNG24:'" + project + "Images/sprite.png' 2>/dev/null";
    if (system(command.c_str()) != 0) return false;
    fs::copy_file(project + "Images/sprite.png", folder + "/love/sprite.png");
    RoomNameLists lists;
    lists.names[ROOM_IMAGES] = {"sprite.png"};
    const char *script =
        "function Init() roomStarted = true; img = getImageHandle('sprite.png') end\n"
        "function Render() local n = benchCount for i = 1, n do drawImage(img, (i * 7) % 608, (i * 13) % 448) end end\n";
    if (!writeRoomFile(project + "Rooms/first", lists, script)) return false;
    DataFile file;
    if (!file.openForWrite(project + "sprite.dat")) return false;
    file.writeInt32(640);
    file.writeInt32(480);
    file.writeString("first");
    file.writeInt32(0);
    if (!file.close()) return false;
    char previous[4096];
    if (!getcwd(previous, sizeof previous) || chdir((folder + "/ours").c_str()) != 0) return false;
    const bool packed = buildArchive({"Projects/sprite/sprite.dat", "Projects/sprite/Rooms/first", "Projects/sprite/Images/sprite.png"},
                                     "sprite.qfa", ARCHIVE_KEY);
    if (chdir(previous) != 0 || !packed) return false;
    fs::remove_all(folder + "/ours/Projects");
    FILE *ini = fopen((folder + "/ours/Quillfen.ini").c_str(), "w");
    if (!ini) return false;
    fputs("[project]\ncodename = sprite\n[audio]\nenabled = false\n", ini);
    fclose(ini);
    fs::copy_file(QF_BENCH_DIR "/love/sprite/main.lua", folder + "/love/main.lua");
    fs::copy_file(QF_BENCH_DIR "/love/sprite/conf.lua", folder + "/love/conf.lua");
    return true;
}

// --- running and reporting

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
    if (argc > 2 && strcmp(argv[1], "--engine") == 0) return runEngineChild(atoi(argv[2]), argc > 3 ? atof(argv[3]) : 2);
    if (!getenv("DISPLAY")) {
        fprintf(stderr, "sprite_bench: no display\n");
        return 1;
    }
    const std::string seconds = argc > 1 ? argv[1] : "2";
    Display *desktop = XOpenDisplay(nullptr);  // keeps an idle X server from resetting between runs
    setenv("ALSOFT_DRIVERS", "null", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    char folderName[] = "/tmp/qfsprite-XXXXXX";
    const std::string folder = mkdtemp(folderName);
    if (!buildProjects(folder)) {
        fprintf(stderr, "sprite_bench: could not build the projects in %s\n", folder.c_str());
        return 1;
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;

    printf("one 32x32 image drawn N times a frame, unthrottled, 640x480 window\n");
    for (int count : {1000, 5000, 20000}) {
        const std::string n = std::to_string(count);
        const double ours = valueAfter(runAndCapture({self, "--engine", n, seconds}, folder + "/ours"), "fps");
        const double love = valueAfter(runAndCapture({"love", folder + "/love", n}, folder + "/love"), "love-fps");
        printf("N = %5d: quillfen drawImage %8.1f fps, LÖVE love.graphics.draw %8.1f fps, ratio %.2f (goal >= 1.0)\n", count,
               ours, love, ours / love);
        fflush(stdout);
    }
    std::filesystem::remove_all(folder);
    if (desktop) XCloseDisplay(desktop);
    return 0;
}
