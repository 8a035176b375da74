// core/project.cpp - the project loader.
// Threads: main thread.
#include "core/project.h"

#include "core/config.h"

struct ProjectState
{
    std::string codename;    // "project:codename"
    std::string directory;   // "Projects/" + codename + "/"
    int displayWidth = 640;
    int displayHeight = 480;
    std::string firstRoom;
    bool loaded = false;     // the whole file was read
};
static ProjectState project;

void resetProject() { project = ProjectState(); }

// TODO: the project file reader arrives with the data file; until then no project loads.
bool loadProject()
{
    if (project.loaded) return true;
    project.codename = getConfigString("project:codename", "");
    project.directory = "Projects/" + project.codename + "/";
    return false;
}

int projectDisplayWidth() { return project.displayWidth; }
int projectDisplayHeight() { return project.displayHeight; }
const std::string &projectFirstRoom() { return project.firstRoom; }
const std::string &projectCodename() { return project.codename; }
const std::string &projectDirectory() { return project.directory; }
