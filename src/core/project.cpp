// core/project.cpp - the project loader: display size, first room and the declared saved
// globals from P + codename + ".dat", read once per process through DataFile (archive or disk).
// File: int32 width, int32 height, string first room, int32 count (at most 5000), then count
// records of a type byte and a name string. Further bytes are ignored.
// Threads: main thread (start-up and game start); the getters are read-only afterwards.
#include "core/project.h"

#include "core/config.h"
#include "resources/data_file.h"
#include "save/save.h"

static const int32_t MAX_SAVED_VARIABLES = 5000;

struct ProjectState
{
    std::string codename;    // "project:codename"
    std::string directory;   // "Projects/" + codename + "/"
    int displayWidth = 640;  // pixels; the display clamps it
    int displayHeight = 480;
    std::string firstRoom;   // "" until a project file gave one
    bool loaded = false;     // the whole file was read
};
static ProjectState project;

void resetProject() { project = ProjectState(); }

// Width, height and first room are kept as soon as they are read, so a file that fails later
// still sizes the window. Records registered before a failure stay registered.
bool loadProject()
{
    if (project.loaded) return true;
    project.codename = getConfigString("project:codename", "");
    project.directory = "Projects/" + project.codename + "/";

    DataFile file;
    if (!file.openForRead(project.directory + project.codename + ".dat")) return false;
    project.displayWidth = file.readInt32();
    project.displayHeight = file.readInt32();
    project.firstRoom = file.readString();
    if (file.atEnd()) return false;

    const int32_t count = file.readInt32();
    if (file.atEnd() || count > MAX_SAVED_VARIABLES) return false;
    for (int32_t i = 0; i < count; i++) {
        const uint8_t type = file.readByte();
        const std::string name = file.readString();
        if (file.atEnd()) return false;  // a record cut short registers nothing
        if (!registerSavedVariable(type, name)) return false;
    }
    file.close();
    project.loaded = true;
    return true;
}

int projectDisplayWidth() { return project.displayWidth; }
int projectDisplayHeight() { return project.displayHeight; }
const std::string &projectFirstRoom() { return project.firstRoom; }
const std::string &projectCodename() { return project.codename; }
const std::string &projectDirectory() { return project.directory; }
