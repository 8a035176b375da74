// tests/e2e/e2e_project.h - small game projects for end-to-end tests: written as a project
// source folder, built by `quillfen-pack compile`, and played by the real engine executable.
// Header-only: the e2e folder's test files include it.
#pragma once

#include <X11/Xlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

// The tools are built into the same folder as the engine.
inline std::string packToolPath()
{
    const std::string engine = QF_ENGINE_PATH;
    return engine.substr(0, engine.rfind('/') + 1) + "quillfen-pack";
}

inline ProcessResult runPackTool(const std::vector<std::string> &args, const std::string &workingDir = "/tmp")
{
    std::vector<std::string> argv = {packToolPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, workingDir, 60);
}

inline void makeFolders(const std::string &path)
{
    ASSERT_EQ(0, system(("mkdir -p '" + path + "'").c_str())) << path;
}

// A project source folder under a temporary directory: project.qf is written from the fields
// below when compile() runs, rooms and objects at once.
class SourceProject
{
public:
    explicit SourceProject(const std::string &codename = "e2e", const std::string &firstRoom = "a")
        : codename(codename), firstRoom(firstRoom)
    {
    }
    std::string source() const { return root.file("source"); }
    std::string game() const { return root.file("game"); }  // where compile() writes
    std::string path(const std::string &name) const { return root.file(name); }

    // rooms/<name>.room and rooms/<name>.lua; the room is declared under [rooms] too.
    void room(const std::string &name, const std::string &description, const std::string &script)
    {
        rooms.push_back(name);
        file("rooms/" + name + ".room", description);
        file("rooms/" + name + ".lua", script);
    }
    void object(const std::string &className, const std::string &script)
    {
        file("objects/" + className + ".lua", script);
    }
    void file(const std::string &name, const std::string &bytes)
    {
        const std::string full = source() + "/" + name;
        makeFolders(full.substr(0, full.rfind('/')));
        writeFile(full, bytes);
    }
    void writeDescription() const
    {
        if (!descriptionText.empty()) {
            makeFolders(source());
            writeFile(source() + "/project.qf", descriptionText);
            return;
        }
        std::string text = "[project]\ncodename = " + codename + "\nfirst-room = " + firstRoom + "\n" + projectLines +
                           "\n[rooms]\n";
        for (const std::string &name : rooms) text += name + "\n";
        if (!saved.empty()) text += "\n[saved]\n" + saved;
        makeFolders(source());
        writeFile(source() + "/project.qf", text);
    }
    ProcessResult compile(bool archive = false, const std::string &output = "") const
    {
        writeDescription();
        std::vector<std::string> args = {"compile"};
        if (archive) args.push_back("--archive");
        args.push_back(source());
        args.push_back(output.empty() ? game() : output);
        return runPackTool(args);
    }

    std::string codename, firstRoom;
    std::string projectLines;  // more "key = value" lines under [project]
    std::string saved;         // lines under [saved]
    std::string descriptionText;  // when set, project.qf exactly (the fields above are not used)
    std::vector<std::string> rooms;

private:
    TempDir root;
};

// An X server started without -noreset resets whenever its last client leaves, and refuses
// connections while it does: an engine started right after another one ended then finds no
// display (about one start in ten here). The tests keep one connection of their own open for the
// whole test program so the server never resets under them.
inline bool holdXServer()
{
    static Display *held = nullptr;
    for (int attempt = 0; attempt < 50 && !held; attempt++) {
        held = XOpenDisplay(nullptr);
        if (!held) usleep(20 * 1000);
    }
    return held != nullptr;
}

// Runs the engine in `folder` until it exits (scripts end it with os.exit) or the timeout.
inline ProcessResult runGame(const std::string &folder, int timeoutSeconds = 60)
{
    holdXServer();
    return runProgram({QF_ENGINE_PATH}, folder, timeoutSeconds, {"ALSOFT_DRIVERS=null", "SDL_AUDIODRIVER=dummy"});
}

// The engine's one line when a game runs from loose files (no archive beside it).
inline std::string noArchiveLine(const std::string &codename)
{
    return "ERROR: '" + codename + ".qfa' could not be opened.\n";
}

#define REQUIRE_X_DISPLAY()                                              \
    do {                                                                 \
        if (!getenv("DISPLAY") || !holdXServer()) GTEST_SKIP() << "no X display for the engine"; \
    } while (0)
