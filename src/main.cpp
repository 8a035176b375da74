// main.cpp - the quillfen executable: plays the project named in ./Quillfen.ini.
// No command-line arguments are read.
#include <X11/Xlib.h>

#include "core/engine.h"
#include "core/frame_loop.h"

int main()
{
    catchQuitSignals();  // a SIGTERM at any moment ends the game through its normal shutdown
    XInitThreads();  // the loader thread shares the window's X connection
    return engineMain();
}
