// step_bench - the cost of stepping game objects, beside LÖVE's love.update in the same run.
// Our side: a room whose script fills instTable with 10,000 instances of one generated class
// whose Step moves x and y; we time the engine's _STEP over 300 frames. LÖVE's side: the same
// objects updated from love.update (bench/love/step). Also times a switch into a room that
// creates 1,000 instances. Our side needs no display; LÖVE's needs DISPLAY.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/config.h"
#include "core/project.h"
#include "core/room_file.h"
#include "core/room_module.h"
#include "core/rooms.h"
#include "core/script.h"
#include "resources/resource_script.h"
#include "bench_support.h"
#ifdef QF_USE_LUAJIT
#include <luajit.h>
#endif

using Clock = std::chrono::steady_clock;

static const char *MOVER_SCRIPT =
    "function Mover:Init() end\n"
    "function Mover:Step()\n"
    "  self.x = self.x + self.dx\n"
    "  self.y = self.y + self.dy\n"
    "  if self.x < 0 or self.x > 640 then self.dx = -self.dx end\n"
    "  if self.y < 0 or self.y > 480 then self.dy = -self.dy end\n"
    "end\n"
    "function Mover:Render() end\n"
    "function Mover:ShutDown() end\n";

static std::string roomScript(int count)
{
    return "for i=1," + std::to_string(count) +
           " do local m=Mover:new() m.x=i%640 m.y=i%480 m.dx=1 m.dy=-1 instTable[i]=m end";
}

static double elapsedMs(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// LÖVE's mean love.update time over 10,000 objects, or -1.
static double loveUpdateMs()
{
    if (!getenv("DISPLAY")) return -1;
    prepareBenchEnvironment();
    const double ms = valueAfter(runChild({"love", QF_BENCH_DIR "/love/step"}, "/tmp").output, "update-ms");
    endBenchEnvironment();
    return ms;
}

int main()
{
    const std::string folder = makeBenchFolder("step");
    if (chdir(folder.c_str()) != 0) return 1;
    if (system("mkdir -p Projects/bench/Rooms Projects/bench/Objects") != 0) return 1;
    FILE *ini = fopen("Quillfen.ini", "w");
    fputs("[project]\ncodename=bench\n", ini);
    fclose(ini);
    loadConfig("Quillfen.ini");
    loadProject();
    FILE *mover = fopen("Projects/bench/Objects/Mover", "w");
    fputs(MOVER_SCRIPT, mover);
    fclose(mover);
    RoomNameLists lists;
    lists.names[ROOM_CLASSES] = {"Mover"};
    writeRoomFile("Projects/bench/Rooms/many", lists, roomScript(10000));
    writeRoomFile("Projects/bench/Rooms/thousand", lists, roomScript(1000));
    writeRoomFile("Projects/bench/Rooms/empty", RoomNameLists(), "");

    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    registerResourceListFunctions(L);
    setScriptState(L);
    runChunk(L, "instTable={};function Init() end;function Step() end;function Render() end;function ShutDown() end", "");
    QFRoomModule module;
    module.init();

    // A switch into a room creating 1,000 instances (from an empty room), best of 10.
    double bestSwitch = 1e9;
    for (int i = 0; i < 10; i++) {
        switchRoom("Projects/bench/Rooms/empty");
        const Clock::time_point start = Clock::now();
        switchRoom("Projects/bench/Rooms/thousand");
        bestSwitch = std::min(bestSwitch, elapsedMs(start));
    }

    switchRoom("Projects/bench/Rooms/many");
    const int frames = 300;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < frames; i++) module.step();
    const double oursMs = elapsedMs(start) / frames;
    module.shutDown();
    lua_close(L);
    if (chdir("/tmp") != 0) return 1;
    if (system(("rm -rf '" + folder + "'").c_str()) != 0) fprintf(stderr, "could not remove %s\n", folder.c_str());

    const double loveMs = loveUpdateMs();
#ifdef LUAJIT_VERSION
    const char *language = LUAJIT_VERSION;
#else
    const char *language = LUA_RELEASE;
#endif
    printf("_STEP over 10,000 instances (%s): %.3f ms per frame\n", language, oursMs);
    if (loveMs > 0)
        printf("LÖVE love.update over 10,000 objects: %.3f ms per frame; ratio ours/LÖVE %.2f (goal <= 1.0)\n", loveMs,
               oursMs / loveMs);
    else
        printf("LÖVE: not measured (no display or no love)\n");
    printf("switch into a room creating 1,000 instances: %.3f ms (best of 10)\n", bestSwitch);
    return 0;
}
