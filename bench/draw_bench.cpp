// draw_bench - frames per second of shapes and images drawn from Lua, beside LÖVE in the same run.
//
// Workloads, each at several N (draws per frame):
//   circles     N filled circles of radius 10                          N = 1,000 and 10,000
//   rectangles  N filled 16 x 16 rectangles                            N = 1,000 and 10,000
//   images      N 32 x 32 image quads (loose project files)            N = 1,000 and 10,000
//   sprites     one 32 x 32 image from the archive drawn N times       N = 1,000, 5,000 and 20,000
// Our side is a fresh engine process (`draw_bench --engine WORKLOAD N SECONDS`) started as a game
// is: its first room lists the image and its Render makes the N calls (drawCircle, drawRectangle
// or drawImage); the frame loop runs unthrottled (runUnthrottledEngine). LÖVE's side (bench/love/
// draw) draws the same shapes at the same places (circles with the same 31 segments) from a
// love.run without its 1 ms sleep, vsync off. Both use a 640 x 480 window on the same DISPLAY.
// Usage: draw_bench [seconds per run, default 2] [workload or all] [runs per side, default 1;
//        with more, the sides alternate and the best counts, so other load on a shared machine
//        does not decide the ratio]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"

// The room's Render: positions as in bench/love/draw/main.lua.
static const char *ROOM_SCRIPT =
    "function Init() roomStarted = true; img = getImageHandle('sprite.png') end\n"
    "local drawCircle, drawRectangle, drawImage = drawCircle, drawRectangle, drawImage\n"
    "function Render()\n"
    "  local n, w = benchCount, benchWorkload\n"
    "  if w == 'circles' then\n"
    "    setRenderColor(200, 120, 40, 255)\n"
    "    for i = 1, n do drawCircle((i * 7) % 608 + 16, (i * 13) % 448 + 16, 10, true) end\n"
    "  elseif w == 'rectangles' then\n"
    "    setRenderColor(40, 200, 120, 255)\n"
    "    for i = 1, n do local x, y = (i * 7) % 608, (i * 13) % 448 drawRectangle(x, y, x + 16, y + 16, true) end\n"
    "  else\n"
    "    for i = 1, n do drawImage(img, (i * 7) % 608, (i * 13) % 448) end\n"
    "  end\n"
    "  setRenderColor(255, 255, 255, 255)\n"
    "end\n";

// Folder layout: loose/ and packed/ (the two games), love/ (main.lua, conf.lua, sprite.png).
static bool buildGames(const std::string &folder)
{
    namespace fs = std::filesystem;
    const std::string images = folder + "/loose/Projects/draw/Images/";
    fs::create_directories(images);
    fs::create_directories(folder + "/packed/Projects/draw/Images");
    fs::create_directories(folder + "/love");
    // A 32 x 32 picture: a yellow disc on blue with a light frame, as a PNG for all three.
    const std::string command = "convert -size 30x30 xc:'rgb(40,160,220)' -fill 'rgb(240,200,40)' -draw 'circle 15,15 15,4'"
                                " -bordercolor 'rgb(250,250,250)' -border 1 PNG24:'" + images + "sprite.png' 2>/dev/null";
    if (system(command.c_str()) != 0) return false;
    fs::copy_file(images + "sprite.png", folder + "/packed/Projects/draw/Images/sprite.png");
    fs::copy_file(images + "sprite.png", folder + "/love/sprite.png");
    fs::copy_file(QF_BENCH_DIR "/love/draw/main.lua", folder + "/love/main.lua");
    fs::copy_file(QF_BENCH_DIR "/love/draw/conf.lua", folder + "/love/conf.lua");
    fs::copy_file(QF_BENCH_DIR "/love/unthrottled.lua", folder + "/love/unthrottled.lua");
    RoomNameLists lists;
    lists.names[ROOM_IMAGES] = {"sprite.png"};
    return writeBenchGame(folder + "/loose", "draw", lists, ROOM_SCRIPT, {"Images/sprite.png"}, false) &&
           writeBenchGame(folder + "/packed", "draw", lists, ROOM_SCRIPT, {"Images/sprite.png"}, true);
}

int main(int argc, char **argv)
{
    if (argc > 4 && strcmp(argv[1], "--engine") == 0)
        return runUnthrottledEngine(atof(argv[4]), {{"benchWorkload", argv[2]}, {"benchCount", argv[3]}});
    if (!getenv("DISPLAY")) {
        fprintf(stderr, "draw_bench: no display\n");
        return 1;
    }
    const std::string seconds = argc > 1 ? argv[1] : "2";
    const std::string filter = argc > 2 && strcmp(argv[2], "all") != 0 ? argv[2] : "";
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 1;
    prepareBenchEnvironment();
    const std::string folder = makeBenchFolder("draw");
    if (!buildGames(folder)) {
        fprintf(stderr, "draw_bench: could not build the games in %s\n", folder.c_str());
        return 1;
    }
    const std::string self = selfPath();

    printf("N draws per frame from Lua, unthrottled, 640x480 window, %s s per run, best of %d\n", seconds.c_str(), runs);
    struct Workload
    {
        const char *name, *ours, *love, *game;
        std::vector<int> counts;
    };
    const Workload workloads[] = {
        {"circles", "drawCircle(x, y, 10, true)", "circle('fill', x, y, 10, 31)", "loose", {1000, 10000}},
        {"rectangles", "drawRectangle 16x16 filled", "rectangle('fill', x, y, 16, 16)", "loose", {1000, 10000}},
        {"images", "drawImage 32x32", "draw(image, x, y)", "loose", {1000, 10000}},
        {"sprites", "drawImage, from the archive", "draw(image, x, y)", "packed", {1000, 5000, 20000}},
    };
    for (const Workload &w : workloads) {
        if (!filter.empty() && filter != w.name) continue;
        const std::string loveWorkload = strcmp(w.name, "sprites") == 0 ? "images" : w.name;
        for (int count : w.counts) {
            const std::string n = std::to_string(count);
            double ours = -1, love = -1;
            for (int run = 0; run < runs; run++) {
                ours = std::max(ours, valueAfter(runChild({self, "--engine", w.name, n, seconds}, folder + "/" + w.game).output, "fps"));
                love = std::max(love, valueAfter(runChild({"love", folder + "/love", loveWorkload, n, seconds}, folder + "/love").output,
                                                 "love-fps"));
            }
            printf("%-10s N = %5d: quillfen %-28s %8.1f fps | LÖVE %-31s %8.1f fps | ratio %.2f (goal >= 1.0)\n", w.name,
                   count, w.ours, ours, w.love, love, love > 0 ? ours / love : 0.0);
            fflush(stdout);
        }
    }
    std::filesystem::remove_all(folder);
    endBenchEnvironment();
    return 0;
}
