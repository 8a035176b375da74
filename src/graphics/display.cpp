// graphics/display.cpp - SDL window, GL set-up and the loader thread's shared context (GLX).
// The window's context is SDL's. For the loader thread we create a second GLX context from the
// FBConfig of the window's visual, sharing objects with SDL's context (GLX shares at creation),
// and a 1x1 pbuffer to make it current on (the window itself is the fallback drawable).
// GLX errors never end the process: an X error handler records their code (printed after
// "Wgl says:") and passes every other error to the handler that was there before.
// Threads: main thread, except makeLoaderContextCurrent/releaseLoaderContext (loader thread).
#include "graphics/display.h"

#include <GL/glew.h>
#include <GL/glx.h>
#include <SDL.h>
#include <X11/Xlib.h>

#include <atomic>

#include "core/config.h"
#include "core/log.h"
#include "graphics/renderer.h"

static const char *ENGINE_TITLE = "Quillfen Engine 3.0 by Pellory";

struct DisplayState
{
    int modeWidth = 640, modeHeight = 480;  // window client size
    int bitsPerPixel = 16;
    int framerate = 60;                     // handed to the frame timer when the loop starts
    SDL_Surface *screen = nullptr;          // last successful SDL_SetVideoMode
    bool fullscreen = false;
    bool videoAlreadyRunning = false;       // SDL video was up before us: leave it up
    int width = 640, height = 480;          // what setupGL last received
    bool glReady = false;

    // GLX, written by setVideoMode on the main thread before any loader thread exists.
    Display *xDisplay = nullptr;
    GLXDrawable window = 0;
    GLXContext windowContext = nullptr;
    GLXContext loaderContext = nullptr;
    GLXPbuffer loaderDrawable = 0;  // 0: the loader binds the window drawable instead
    int glxOpcode = -1;             // major opcode of GLX requests, for the error handler
    bool handlerInstalled = false;  // glxErrorHandler installed (once per process)
    int (*previousXHandler)(Display *, XErrorEvent *) = nullptr;
};
static DisplayState display;
static std::atomic<unsigned> lastGlxError{0};  // code of the last GLX request error; any thread
// The calling thread has a GL context of ours current: the window's on the main thread from a
// successful mode set to shutdown, the loader context on a loader thread that made it current.
// Without one nothing may call GL or GLU: here (unlike some platforms) they can crash.
static thread_local bool contextCurrent = false;

// Swallows errors of GLX requests (recorded for the messages), passes the rest on.
static int glxErrorHandler(Display *xDisplay, XErrorEvent *event)
{
    if (event->request_code == display.glxOpcode) {
        lastGlxError = event->error_code;
        return 0;
    }
    return display.previousXHandler ? display.previousXHandler(xDisplay, event) : 0;
}

static void reportLoaderContextFailure(const char *what)
{
    logReport(stderr, LOG_CRITICAL, {what, "Wgl says: " + std::to_string(lastGlxError.load())});
}

static GLXFBConfig findWindowFBConfig(Display *xDisplay, GLXDrawable window)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(xDisplay, window, &attributes)) return nullptr;
    const VisualID visual = XVisualIDFromVisual(attributes.visual);
    int count = 0;
    GLXFBConfig *configs = glXGetFBConfigs(xDisplay, XScreenNumberOfScreen(attributes.screen), &count);
    GLXFBConfig found = nullptr;
    for (int i = 0; i < count && !found; i++) {
        int id = 0;
        if (glXGetFBConfigAttrib(xDisplay, configs[i], GLX_VISUAL_ID, &id) == Success && (VisualID)id == visual)
            found = configs[i];
    }
    if (configs) XFree(configs);
    return found;
}

static void destroyLoaderContext()
{
    if (!display.xDisplay) return;
    if (display.loaderDrawable) glXDestroyPbuffer(display.xDisplay, display.loaderDrawable);
    if (display.loaderContext) glXDestroyContext(display.xDisplay, display.loaderContext);
    display.loaderDrawable = 0;
    display.loaderContext = nullptr;
}

// Replaces the loader context with a new one sharing the window context's objects.
static void createLoaderContext()
{
    display.xDisplay = glXGetCurrentDisplay();
    display.window = glXGetCurrentDrawable();
    display.windowContext = glXGetCurrentContext();
    if (!display.xDisplay || !display.windowContext) {
        reportLoaderContextFailure("Could not create a GL context for resource manager thread");
        return;
    }
    int event = 0, error = 0;
    if (!XQueryExtension(display.xDisplay, "GLX", &display.glxOpcode, &event, &error)) display.glxOpcode = -1;
    if (!display.handlerInstalled) {
        display.previousXHandler = XSetErrorHandler(glxErrorHandler);
        display.handlerInstalled = true;
    }
    destroyLoaderContext();

    GLXFBConfig config = findWindowFBConfig(display.xDisplay, display.window);
    if (config) display.loaderContext = glXCreateNewContext(display.xDisplay, config, GLX_RGBA_TYPE, display.windowContext, True);
    XSync(display.xDisplay, False);
    if (!display.loaderContext) {
        reportLoaderContextFailure("Could not create a GL context for resource manager thread");
        return;
    }
    const int pbufferAttributes[] = {GLX_PBUFFER_WIDTH, 1, GLX_PBUFFER_HEIGHT, 1, None};
    display.loaderDrawable = glXCreatePbuffer(display.xDisplay, config, pbufferAttributes);
    XSync(display.xDisplay, False);  // a refused pbuffer shows up here; the window serves instead
}

bool initDisplay(int width, int height)
{
    display.modeWidth = width;
    display.modeHeight = height;
    // NOTE: fullscreen and fullscreenMethod are read but the window always opens windowed.
    (void)getConfigString("display:fullscreenMethod", "changeRes");
    display.bitsPerPixel = getConfigInt("display:bitsPerPixel", 16);
    (void)getConfigBool("display:fullscreen", false);
    const std::string caption = getConfigString("display:caption", ENGINE_TITLE);
    display.framerate = getConfigInt("display:framerate", 60);

    if (display.modeWidth > 2000) display.modeWidth = 2000;
    if (display.modeWidth < 10) display.modeWidth = 10;
    if (display.modeHeight > 1600) display.modeHeight = 1600;
    if (display.modeHeight < 10) display.modeHeight = 10;

    // With no X display SDL would settle for a text-mode driver, which has no OpenGL and writes
    // its terminal codes to stdout; the engine runs without a picture instead.
    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) display.videoAlreadyRunning = true;
    else if (SDL_InitSubSystem(SDL_INIT_VIDEO) < 0) return false;

    setCaption(caption);
    return setVideoMode(false);
}

bool setVideoMode(bool fullscreen)
{
    Uint32 flags = SDL_HWSURFACE | SDL_OPENGL | SDL_ASYNCBLIT;
    if (fullscreen) flags |= SDL_FULLSCREEN;
    SDL_Surface *screen = SDL_SetVideoMode(display.modeWidth, display.modeHeight, display.bitsPerPixel, flags);
    if (!screen) return false;
    display.screen = screen;
    contextCurrent = true;  // SDL made the window's context current on this thread
    setupGL(display.modeWidth, display.modeHeight);
    display.fullscreen = fullscreen;
    createLoaderContext();
    return true;
}

bool setupGL(int width, int height)
{
    display.width = width;
    display.height = height;
    if (glewInit() != GLEW_OK) return false;
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    setProjection();
    glBindTexture(GL_TEXTURE_2D, 0);
    glClearColor(0, 0, 0, 1);
    glColor4f(1, 1, 1, 1);
    display.glReady = true;
    return true;
}

void setProjection()
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, display.width, 0, display.height, -1000, 1000);
    glViewport(0, 0, display.width, display.height);
    glMatrixMode(GL_MODELVIEW);
}

void setCaption(const std::string &caption) { SDL_WM_SetCaption(caption.c_str(), ENGINE_TITLE); }

// Both close an image batch a script may have left open (even one drawn during a step).
void beginFrame()
{
    if (!contextCurrent) return;
    flushRenderer();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void endFrame()
{
    if (!contextCurrent) return;
    flushRenderer();
    glFlush();
}
bool hasGLContext() { return contextCurrent; }

bool isFocused() { return (SDL_GetAppState() & SDL_APPINPUTFOCUS) != 0; }

int displayWidth() { return display.width; }
int displayHeight() { return display.height; }
int displayFramerate() { return display.framerate; }

bool retryMakeCurrent(bool (*attempt)(void *user), void *user)
{
    int failures = 0;
    while (!attempt(user)) {
        reportLoaderContextFailure("Could not open resource manager's render context");
        if (++failures > 100) {
            fputs("Giving up after retrying 100 times.\n", stderr);
            return false;
        }
    }
    return true;
}

static bool attemptLoaderMakeCurrent(void *)
{
    if (!display.xDisplay || !display.loaderContext) return false;
    GLXDrawable drawable = display.loaderDrawable ? display.loaderDrawable : display.window;
    return glXMakeContextCurrent(display.xDisplay, drawable, drawable, display.loaderContext);
}

void makeLoaderContextCurrent() { contextCurrent = retryMakeCurrent(attemptLoaderMakeCurrent, nullptr); }

void releaseLoaderContext()
{
    if (contextCurrent && display.xDisplay) glXMakeContextCurrent(display.xDisplay, None, None, nullptr);
    contextCurrent = false;
}

bool shutdownDisplay()
{
    destroyLoaderContext();
    if (display.screen) SDL_FreeSurface(display.screen);
    display.screen = nullptr;
    if (!display.videoAlreadyRunning) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    display.xDisplay = nullptr;
    display.glReady = false;
    contextCurrent = false;
    return true;
}
