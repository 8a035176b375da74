// main.cpp - the quillfen executable: plays the project named in ./Quillfen.ini.
// No command-line arguments are read.
#include <X11/Xlib.h>

#include "core/engine.h"

int main()
{
    XInitThreads();  // the loader thread shares the window's X connection
    return engineMain();
}
