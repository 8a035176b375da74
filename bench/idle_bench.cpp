// idle_bench - start-up time and memory of an idle window, beside LÖVE in the same run.
// Each side is a fresh process in an empty folder that prints "first-frame" once its first frame
// has been swapped and quits after 300 frames; we time spawn -> that line and take the peak
// resident set from wait4. Our side re-runs this program as `idle_bench --engine`, which is the
// engine's own start-up, frame loop and shutdown with a probe module added. Needs DISPLAY.
#include <SDL.h>
#include <X11/Xlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/frame_loop.h"

using Clock = std::chrono::steady_clock;

// Reports the first drawn frame (after its swap: the next step), quits after 300 frames.
class ProbeModule : public QFFrameModule
{
public:
    void step() override
    {
        if (drawn == 1 && !reported) {
            reported = true;
            fputs("first-frame\n", stdout);
            fflush(stdout);
        }
        if (++frames >= 300) requestQuit();
    }
    void render() override { drawn++; }
    int frames = 0, drawn = 0;
    bool reported = false;
};

static int runEngineChild()
{
    XInitThreads();
    startEngine();
    addFrameModule(new ProbeModule());
    runEngine();
    stopEngine();
    return 0;
}

struct Sample
{
    double startupMs = -1;
    long peakKb = 0;
};

// Spawns argv in `folder`, times the "first-frame" line, waits for the exit.
static Sample measure(const std::vector<std::string> &argv, const std::string &folder)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return Sample();
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        freopen("/dev/null", "w", stderr);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    Sample sample;
    std::string seen;
    char buffer[256];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        seen.append(buffer, (size_t)n);
        if (sample.startupMs < 0 && seen.find("first-frame") != std::string::npos)
            sample.startupMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    close(pipeFds[0]);
    int status = 0;
    rusage usage;
    wait4(pid, &status, 0, &usage);
    sample.peakKb = usage.ru_maxrss;
    return sample;
}

static double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--engine") == 0) return runEngineChild();
    if (!getenv("DISPLAY")) {
        fprintf(stderr, "idle_bench: no display\n");
        return 1;
    }
    // Stay connected, as a desktop's window manager is: otherwise an idle X server resets between
    // the two connections SDL 1.2 makes at start-up, and that reset would be timed as ours.
    Display *desktop = XOpenDisplay(nullptr);
    setenv("ALSOFT_DRIVERS", "null", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    char folderName[] = "/tmp/qfidle-XXXXXX";
    const std::string folder = mkdtemp(folderName);
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;

    const int runs = 5;
    std::vector<double> oursMs, loveMs, oursKb, loveKb;
    for (int i = 0; i < runs; i++) {
        Sample ours = measure({self, "--engine"}, folder);
        Sample love = measure({"love", QF_BENCH_DIR "/love/idle"}, folder);
        oursMs.push_back(ours.startupMs);
        loveMs.push_back(love.startupMs);
        oursKb.push_back((double)ours.peakKb);
        loveKb.push_back((double)love.peakKb);
    }
    rmdir(folder.c_str());
    if (desktop) XCloseDisplay(desktop);
    const double om = median(oursMs), lm = median(loveMs), ok = median(oursKb), lk = median(loveKb);
    printf("start-up to first drawn frame (median of %d): quillfen %.1f ms, LÖVE %.1f ms, ratio %.2f (goal <= 0.5)\n",
           runs, om, lm, om / lm);
    printf("peak resident memory, idle window, 300 frames: quillfen %.1f MiB, LÖVE %.1f MiB, ratio %.2f (goal <= 0.5)\n",
           ok / 1024, lk / 1024, ok / lk);
    return 0;
}
