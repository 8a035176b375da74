// core/project.h - the project file: display size, first room and the saved globals.
// Project directory P = "Projects/" + codename + "/"; the project file is P + codename + ".dat".
// Threads: main thread (start-up and game start); the getters are read-only afterwards.
#pragma once

#include <string>

// True once the whole file was read (at most one successful read per process). Width, height
// and first room are kept even when a later field fails.
bool loadProject();
void resetProject();  // forget everything (tests; the engine loads once)

int projectDisplayWidth();   // 640 until loaded
int projectDisplayHeight();  // 480 until loaded
const std::string &projectFirstRoom();
const std::string &projectCodename();
const std::string &projectDirectory();
