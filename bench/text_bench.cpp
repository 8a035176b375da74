// text_bench - drawing text, beside LÖVE's love.graphics.print in the same run.
// Workload: a 40-character string drawn 500 times per frame (20,000 glyphs) with DejaVu Sans at
// 16 pixels, unthrottled, in a 640 x 480 window (needs DISPLAY). Our side calls drawText from a
// Lua function as a game's Render would, with the font made by quillfen-font and loaded by the
// engine's font loader; LÖVE's side (bench/love/text) prints the same string with the same face
// at the same pixel size. Also prints the C++ renderText loop alone, without Lua. Each side is
// the best of two runs of 300 frames after 30 warm-up frames.
#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/script.h"
#include "graphics/display.h"
#include "graphics/font.h"
#include "graphics/image.h"
#include "resources/registry.h"
#include "bench_support.h"

// Xlib's own `Font` typedef clashes with the engine's font record, so Xlib.h stays out of here.
extern "C" int XInitThreads(void);

using Clock = std::chrono::steady_clock;

static const char kText[] = "The quick brown fox jumps over a lazy do";  // 40 characters
static const int kWarmUp = 30, kFrames = 300;

// Frames per second of `draw` between beginFrame and the buffer swap.
// `submitMs` receives the mean time spent issuing the draw calls (the rest is GL finishing the
// frame: rasterising, blending, swapping).
template <class Draw> static double measureFps(Draw draw, double *submitMs)
{
    Clock::time_point start;
    double submit = 0;
    for (int frame = 0; frame < kWarmUp + kFrames; ++frame) {
        if (frame == kWarmUp) start = Clock::now(), submit = 0;
        SDL_PumpEvents();
        beginFrame();
        const Clock::time_point before = Clock::now();
        draw();
        submit += std::chrono::duration<double, std::milli>(Clock::now() - before).count();
        endFrame();
        SDL_GL_SwapBuffers();
    }
    *submitMs = submit / kFrames;
    return kFrames / std::chrono::duration<double>(Clock::now() - start).count();
}

// LÖVE's frames per second printing the same text, or -1.
static double loveFps()
{
    if (!getenv("DISPLAY")) return -1;
    return valueAfter(runChild({"love", QF_BENCH_DIR "/love/text"}, "/tmp").output, "fps");
}

int main()
{
    XInitThreads();
    prepareBenchEnvironment();
    const std::string folder = makeBenchFolder("text");
    std::string tool = QF_ENGINE_PATH;
    tool = tool.substr(0, tool.find_last_of('/') + 1) + "quillfen-font";
    if (system((tool + " -q -s 16 " + folder + "/bench.fnt").c_str()) != 0) {
        fprintf(stderr, "text_bench: quillfen-font failed\n");
        return 1;
    }
    if (!initDisplay(640, 480)) {
        fprintf(stderr, "text_bench: no display\n");
        return 1;
    }
    initImageLibrary();
    Font *font = loadFont(folder + "/", "bench.fnt");
    if (font == nullptr || font->pages.empty() || font->pages[0].texture == 0) {
        fprintf(stderr, "text_bench: the font did not load\n");
        return 1;
    }

    ResourceRecord record;  // a ready handle without the resource manager
    record.key = {"bench.fnt", folder + "/", RESOURCE_FONT};
    record.data = font;
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    registerTextFunctions(L);
    lua_pushlightuserdata(L, &record);
    lua_setglobal(L, "font");
    lua_pushstring(L, kText);
    lua_setglobal(L, "TEXT");
    const char *chunk =
        "function renderText500()\n"
        "  for i = 0, 499 do drawText(font, TEXT, (i * 7) % 300, 460 - (i % 28) * 16, 0, 1) end\n"
        "end\n"
        "function measure500() local w = 0 for i = 0, 499 do w = w + getTextWidth(font, TEXT) end return w end\n";
    if (!runChunk(L, chunk, "text_bench")) return 1;

    auto viaLua = [&] {
        lua_getglobal(L, "renderText500");
        if (lua_pcall(L, 0, 0, 0) != 0) reportScriptError(L);
    };
    auto direct = [&] {
        for (int i = 0; i < 500; ++i) renderText(font, float((i * 7) % 300), float(460 - (i % 28) * 16), kText, 0, 1);
    };
    // One untimed pass first (the first frames of a process run slow), then the best of two
    // passes each, alternating, so a busy moment on a shared machine does not decide the result.
    double luaSubmit = 0, directSubmit = 0, submit = 0, oursLua = 0, oursDirect = 0;
    measureFps(direct, &submit);
    for (int pass = 0; pass < 2; ++pass) {
        double fps = measureFps(viaLua, &submit);
        if (fps > oursLua) oursLua = fps, luaSubmit = submit;
        fps = measureFps(direct, &submit);
        if (fps > oursDirect) oursDirect = fps, directSubmit = submit;
    }
    const int width = textWidth(font, kText);
    // What a script call costs without drawing: 500 getTextWidth calls, best of 50 rounds.
    double measureMs = 1e9;
    for (int round = 0; round < 50; ++round) {
        const Clock::time_point before = Clock::now();
        lua_getglobal(L, "measure500");
        lua_pcall(L, 0, 1, 0);
        lua_pop(L, 1);
        measureMs = std::min(measureMs, std::chrono::duration<double, std::milli>(Clock::now() - before).count());
    }

    lua_close(L);
    freeFont(font);
    shutdownDisplay();
    if (system(("rm -rf '" + folder + "'").c_str()) != 0) fprintf(stderr, "could not remove %s\n", folder.c_str());

    const double love = std::max(loveFps(), loveFps());  // best of two runs, as ours
    endBenchEnvironment();
    printf("text: \"%s\" (%d px wide) x 500 per frame = 20,000 glyphs, DejaVu Sans 16 px, 640x480\n", kText, width);
    printf("ours, drawText from Lua:   %8.2f fps (%.3f ms per frame, %.3f ms of it issuing draws)\n", oursLua,
           1000 / oursLua, luaSubmit);
    printf("ours, renderText from C++: %8.2f fps (%.3f ms per frame, %.3f ms of it issuing draws)\n", oursDirect,
           1000 / oursDirect, directSubmit);
    printf("ours, 500 getTextWidth calls from Lua (no drawing): %.3f ms\n", measureMs);
    if (love > 0)
        printf("LÖVE love.graphics.print: %8.2f fps (%.3f ms per frame); ratio ours/LÖVE %.2f (goal >= 1.0)\n", love,
               1000 / love, oursLua / love);
    else
        printf("LÖVE: not measured (no display or no love)\n");
    return 0;
}
