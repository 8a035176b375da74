// core/engine.cpp - the engine's start-up and shutdown sequence.
// Order matters: the archive before anything reads files, the display before the Lua state
// and before any loader thread, the resource manager shut down (it unloads textures and audio
// buffers) while GL and audio are still open and before the archive closes.
// Threads: main thread; the resource manager starts the loader thread on demand.
#include "core/engine.h"

#include <SDL.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>

#include "animation/animation.h"
#include "animation/model.h"
#include "animation/pose_script.h"
#include "animation/scrap.h"
#include "audio/audio.h"
#include "audio/audio_thread.h"
#include "audio/music.h"
#include "audio/sound.h"
#include "core/config.h"
#include "core/dev_mode.h"
#include "core/frame_loop.h"
#include "core/input.h"
#include "core/project.h"
#include "core/script.h"
#include "graphics/display.h"
#include "graphics/font.h"
#include "graphics/image.h"
#include "graphics/renderer.h"
#include "resources/archive.h"
#include "resources/resource_manager.h"
#include "resources/resource_script.h"
#include "save/save.h"

static lua_State *engineState = nullptr;  // created by startEngine, closed by stopEngine

void registerScriptFunctions(lua_State *L)
{
    luaL_openlibs(L);
    registerDrawingFunctions(L);
    registerInputFunctions(L);
    registerResourceListFunctions(L);
    registerSaveFunctions(L);
    registerTextFunctions(L);
    registerAudioFunctions(L);
    registerPoseFunctions(L);
}

bool startEngine()
{
    // The log on stdout (the audio's lines, scripts' prints) goes out line by line even into a
    // file or a pipe. Set before the first line: a script's io.stdout:setvbuf after output has
    // been written is not honoured by the C library.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // Mesa's software driver frees and allocates its vertex and scene buffers at every flush of
    // a batch; with the default trim threshold glibc hands the freed heap top back to the kernel
    // each time, and every flush then page-faults a fresh buffer in (a frame of 100 posed models,
    // each its own batch, took five times as long). Freed memory is kept up to 64 MB. Setting a
    // threshold also stops glibc from raising its mmap threshold as it sees large blocks freed,
    // so every block over 128 KB (the driver allocates such blocks at every draw) would be mapped
    // and unmapped again, page faults as well (20 000 images drawn off-screen ran 14 times
    // slower): those come from the heap too, up to glibc's largest mmap threshold.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    loadConfig("Quillfen.ini");
    const std::string codename = getConfigString("project:codename", "");
    setCurrentArchive(openArchive(codename + ".qfa", ARCHIVE_KEY));

    if (SDL_InitSubSystem(SDL_INIT_TIMER) == 0) {
        startTimer();
        srand(SDL_GetTicks());
    } else {
        startTimer();
    }
    initImageLibrary();
    loadProject();
    initDisplay(projectDisplayWidth(), projectDisplayHeight());

    engineState = luaL_newstate();
    registerScriptFunctions(engineState);

    startResourceManager();
    registerImageResource();
    registerFontResource();
    registerSoundResource();
    registerMusicResource();
    registerModelResource();
    registerScrapResource();
    registerAnimationResource();

    if (getConfigBool("audio:enabled", true)) {
        std::string device = getConfigString("audio:device", "");
        if (device.empty()) device = defaultAudioDeviceName();
        initAudio(device);
    }
    startGame(engineState);
    startDevelopmentMode();  // only with [debug] reload = true
    return true;
}

int runEngine() { return runFrameLoop(); }

void stopEngine()
{
    flushRenderer();  // a step may have left image quads open; unloads delete textures next
    shutdownResourceManager();
    // The audio thread may open a private copy of a track from the archive (two music slots
    // playing one Music): it stops before the archive goes. shutdownAudio finds it stopped.
    stopAudioThread();
    closeArchive(currentArchive());
    lua_close(engineState);
    engineState = nullptr;
    setScriptState(nullptr);
    shutdownDisplay();
    shutdownAudio();
    SDL_QuitSubSystem(SDL_INIT_TIMER);
}

int engineMain()
{
    startEngine();
    runEngine();
    stopEngine();
    return 0;
}
