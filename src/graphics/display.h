// graphics/display.h - the window, its GL context, the 2D projection and the loader context.
// Coordinates everywhere: one unit per pixel, origin at the window's bottom-left, y up,
// z visible from -1000 to 1000.
// Threads: everything on the main thread except makeLoaderContextCurrent / releaseLoaderContext,
// which the resource-loading thread calls on itself. The loader thread must not start before
// initDisplay has returned.
#pragma once

#include <string>

bool initDisplay(int width, int height);  // clamps to 10..2000 x 10..1600; false if SDL video or the mode fails
bool setVideoMode(bool fullscreen);       // mode + GL set-up + a fresh loader context
bool setupGL(int width, int height);      // false when glewInit fails (state set-up skipped)
void setProjection();                     // glOrtho(0, w, 0, h, -1000, 1000) and the viewport
void setCaption(const std::string &caption);  // window title; icon title stays the engine's name
bool shutdownDisplay();                   // frees the surface; stops SDL video if we started it

void beginFrame();  // clears colour and depth
void endFrame();    // glFlush; the loop swaps afterwards
bool isFocused();   // the window has the input focus
// The calling thread has a current GL context of the engine's (the window's on the main thread,
// the loader context on the loader thread). False on every thread when there is no display:
// callers then skip GL and GLU entirely (drawing, uploads, deletions).
bool hasGLContext();

int displayWidth();      // size the GL set-up last received (640 x 480 before)
int displayHeight();
int displayFramerate();  // "display:framerate" as read by initDisplay (60 before)

// Loader thread only. Makes the texture-sharing loader context current, retrying up to 100
// times ("CRITICAL ERROR" pair per failure, then "Giving up ..."); the thread then runs without.
void makeLoaderContextCurrent();
void releaseLoaderContext();  // unbinds whatever context the calling thread has

// The retry rule behind makeLoaderContextCurrent, for any attempt function; true once one succeeds.
bool retryMakeCurrent(bool (*attempt)(void *user), void *user);
