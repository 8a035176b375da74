// tests/e2e/e2e_project.h - shared by the end-to-end tests: game projects written as a source folder
// and built by `quillfen-pack compile`, the real engine and tools run as child processes, and an X
// server of a test's own for tests that read the screen or send keys.
#pragma once

#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) break it
#include <X11/Xlib.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

inline const char *const TITLE = "Quillfen Engine 3.0 by Pellory";  // the window caption by default
inline const std::vector<std::string> ENGINE_ENV = {"ALSOFT_DRIVERS=null", "SDL_AUDIODRIVER=dummy"};

// What the engine prints of its audio on the null backend with the alsoft.conf built beside it.
inline const std::string AUDIO_START =
    "Initialized OpenAL device and context.\nThe EFX extension is available.\n"
    "DEBUG SLOT 0: Aux, effect, reverb, attach.\nDEBUG SLOT 1: Aux, effect, reverb, attach.\n"
    "Number of auxiliary effect slots: 2\nNumber of audio source slots: 1000\nQuillfen Audio has loaded successfully.\n";
inline const std::string AUDIO_STOP = "\nShutting down QFAudio.\nDeleted all audio sources.\nDeleted all environment slots.\n"
                                      "OpenAL context and device have been closed.\nQFAudio has been successfully shut down.\n\n";

inline std::string lines(const std::vector<std::string> &items)  // each item and a newline
{
    std::string text;
    for (const std::string &item : items) text += item + "\n";
    return text;
}
inline std::string tracingClass(const std::string &name)  // prints each callback called on it
{
    std::string script = "print('" + name + ":script')\nfunction " + name + ":Render() end\n";
    for (const char *callback : {"Init", "Step", "ShutDown"})
        script += "function " + name + ":" + callback + "() print('" + name + ":" + callback + "') end\n";
    return script;
}
inline std::string toolPath(const std::string &name)  // the tools are built beside the engine
{
    return std::filesystem::path(QF_ENGINE_PATH).parent_path().string() + "/" + name;
}
inline ProcessResult runPackTool(std::vector<std::string> args, const std::string &workingDir = "/tmp")
{
    args.insert(args.begin(), toolPath("quillfen-pack"));
    return runProgram(args, workingDir, 60);
}

// Writes each (path under `root`, bytes), making the folders on the way.
inline void writeTree(const std::string &root, const std::vector<std::pair<std::string, std::string>> &files)
{
    for (const auto &file : files) {
        std::filesystem::create_directories(std::filesystem::path(root + "/" + file.first).parent_path());
        writeFile(root + "/" + file.first, file.second);
    }
}

// A project source in a temporary folder (codename "e2e", first room "a"); compile() writes
// project.qf from the fields below and builds the game into game().
class SourceProject
{
public:
    std::string source() const { return root.file("source"); }
    std::string game() const { return root.file("game"); }
    std::string path(const std::string &name) const { return root.file(name); }
    void file(const std::string &name, const std::string &bytes) { writeTree(source(), {{name, bytes}}); }
    void room(const std::string &name, const std::string &lists, const std::string &script)
    {
        rooms += name + "\n";
        file("rooms/" + name + ".room", lists);
        file("rooms/" + name + ".lua", script);
    }
    void object(const std::string &className, const std::string &script) { file("objects/" + className + ".lua", script); }
    std::string image(const std::string &name, const std::string &convertArguments)  // returns its path
    {
        file("images/" + name, "");
        EXPECT_EQ(0, system(("convert " + convertArguments + " '" + source() + "/images/" + name + "'").c_str()));
        return source() + "/images/" + name;
    }
    ProcessResult compile(bool archive = false)
    {
        file("project.qf", "[project]\ncodename = e2e\nfirst-room = a\n" + projectLines + "[rooms]\n" + rooms +
                               (saved.empty() ? "" : "[saved]\n" + saved));
        std::vector<std::string> args = {"compile", source(), game()};
        if (archive) args.insert(args.begin() + 1, "--archive");
        return runPackTool(args);
    }
    std::string projectLines, saved, rooms;  // more lines under [project], [saved] and [rooms]

private:
    TempDir root;
};

// An X server started without -noreset resets when its last client leaves and refuses connections
// meanwhile: the tests keep a connection open for the whole test program.
inline bool holdXServer()
{
    static Display *held = nullptr;
    for (int attempt = 0; attempt < 50 && !held; attempt++)
        if (!(held = XOpenDisplay(nullptr))) usleep(20 * 1000);
    return held != nullptr;
}
#define REQUIRE_X_DISPLAY() \
    if (!getenv("DISPLAY") || !holdXServer()) GTEST_SKIP() << "no X display for the engine"

// An X server of the test's own (Xvfb picks a free display number), for tests that read the
// screen while other tests open windows on the shared one; it ends with the object.
class PrivateXServer
{
public:
    // Starts it and waits until it answers; false (and a skip reason in `problem`) when it cannot.
    bool start(const std::string &screen = "800x600x24")
    {
        if (system("command -v Xvfb >/dev/null") != 0) return (problem = "needs Xvfb"), false;
        if (!x.start({"/usr/bin/env", "Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, "/"))
            return (problem = "Xvfb did not start"), false;
        for (int i = 0; i < 1000 && x.out().find('\n') == std::string::npos && !x.waitExit(0); i++) usleep(10 * 1000);
        display = ":" + x.out().substr(0, x.out().find('\n'));
        for (int i = 0; i < 500 && !(connection = XOpenDisplay(display.c_str())); i++) usleep(10 * 1000);
        if (!connection) problem = "no Xvfb: " + x.err();
        return connection != nullptr;
    }
    ~PrivateXServer()
    {
        if (connection) XCloseDisplay(connection);
        x.signal(SIGTERM);
        x.waitExit(5000);
    }
    std::string display, problem;  // ":N" once started
    Display *connection = nullptr;

private:
    ChildProcess x;
};

// The engine's window once its video mode has made it 640 x 480 (SDL shows a smaller window
// first); 0 when none comes.
inline unsigned long waitForGameWindow(int pid)
{
    unsigned long window = 0;
    int width = 0, height = 0;
    for (int i = 0; i < 600 && (width != 640 || height != 480); i++, usleep(10 * 1000)) {
        window = waitForWindow(TITLE, 60000, pid);
        if (!window || !windowSize(window, &width, &height)) width = height = 0;
    }
    return width == 640 && height == 480 ? window : 0;
}

inline std::string noArchiveLine(const std::string &codename = "e2e")  // a game from loose files
{
    return "ERROR: '" + codename + ".qfa' could not be opened.\n";
}

// Plays the game in `folder`: exactly `out` and `err`, exit code 0. A game that does not end itself
// must show its 640 x 480 window and run on until a close request (as window managers send) or SIGTERM.
// The audio's start-up lines come before `out`, and its shutdown lines after it unless the game ends
// itself (with os.exit, which skips the shutdown).
enum Ending { ENDS_ITSELF, ON_WINDOW_CLOSE, ON_SIGTERM };
inline void expectPlay(const std::string &folder, const std::string &gameOut, const std::string &err, Ending ending)
{
    const std::string running = AUDIO_START + gameOut, out = running + (ending == ENDS_ITSELF ? "" : AUDIO_STOP);
    ChildProcess engine;
    ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, folder, ENGINE_ENV));
    const unsigned long window = ending ? waitForGameWindow(engine.pid()) : 0;
    ASSERT_TRUE(!ending || window) << "expected a 640 x 480 window";
    for (int i = 0; ending && i < 3000 && (engine.out() != running || engine.err() != err); i++) usleep(10 * 1000);
    if (ending) {
        usleep(200 * 1000);  // some frames more
        EXPECT_FALSE(engine.waitExit(0)) << "ended before it was asked to";
        if (ending == ON_SIGTERM) engine.signal(SIGTERM);
        EXPECT_TRUE(ending == ON_SIGTERM || requestWindowClose(window));
    }
    ASSERT_TRUE(engine.waitExit(60000)) << "still running after a minute";
    EXPECT_EQ(0, engine.exitCode());
    EXPECT_EQ(out, engine.out());
    EXPECT_EQ(err, engine.err());
}
