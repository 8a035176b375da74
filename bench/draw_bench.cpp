// draw_bench - frames per second of shapes, images, text and posed models drawn from Lua, beside
// LÖVE drawing the same things in the same run.
//
// Workloads, each at several N (draws per frame):
//   circles      N filled circles of radius 10                          N = 1,000 and 10,000
//   rectangles   N filled 16 x 16 rectangles                            N = 1,000 and 10,000
//   images       N 32 x 32 image quads (loose project files)            N = 1,000 and 10,000
//   sprites      one 32 x 32 image from the archive drawn N times       N = 1,000, 5,000 and 20,000
// and off-screen, where nothing is rasterised, so the figure is what each draw costs the CPU (the
// call from Lua, the engine's or LÖVE's own work and the GL driver's vertex path), as on a
// machine whose GPU draws faster than the CPU submits:
//   off-images   N 32 x 32 image quads                                  N = 20,000 and 50,000
//   off-parts    N 16 x 16 parts of the image, each turned about its centre by its own angle
//                                                                       N = 20,000
//   off-text     N 40-character texts, DejaVu Sans 16 px                N = 500 and 1,250
//   off-poses    N walking characters of 20 bones (bench/support/walker), advanced and drawn
//                                                                       N = 500 and 2,000
// The off-screen workloads draw at the on-screen places moved 1000 pixels right.
// Our side is a fresh engine process (`draw_bench --engine WORKLOAD N SECONDS`) started as a game
// is: its first room lists the image and the font and its Render makes the N calls; the frame
// loop runs unthrottled (runUnthrottledEngine). LÖVE's side (bench/love/draw, and bench/love/pose
// for the characters) draws the same shapes at the same places (circles with the same 31
// segments, the font from the same face at the same size) from a love.run without its 1 ms
// sleep, vsync off. Both use a 640 x 480 window on the same DISPLAY.
// Usage: draw_bench [seconds per run, default 2] [a workload, onscreen, offscreen or all]
//        [runs per side, default 1; with more, the sides alternate and the best counts, so other
//        load on a shared machine does not decide the ratio]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "walker.h"

// The room's Render: positions as in bench/love/draw/main.lua.
static const char *ROOM_SCRIPT =
    "function Init() roomStarted = true; img = getImageHandle('sprite.png'); font = getFontHandle('bench.fnt') end\n"
    "local drawCircle, drawRectangle, drawImage, drawImagePartExt, drawText =\n"
    "  drawCircle, drawRectangle, drawImage, drawImagePartExt, drawText\n"
    "local TEXT = 'The quick brown fox jumps over a lazy do'\n"
    "function Render()\n"
    "  local n, w = benchCount, benchWorkload\n"
    "  if w == 'circles' then\n"
    "    setRenderColor(200, 120, 40, 255)\n"
    "    for i = 1, n do drawCircle((i * 7) % 608 + 16, (i * 13) % 448 + 16, 10, true) end\n"
    "  elseif w == 'rectangles' then\n"
    "    setRenderColor(40, 200, 120, 255)\n"
    "    for i = 1, n do local x, y = (i * 7) % 608, (i * 13) % 448 drawRectangle(x, y, x + 16, y + 16, true) end\n"
    "  elseif w == 'off-images' then\n"
    "    for i = 1, n do drawImage(img, (i * 7) % 608 + 1000, (i * 13) % 448) end\n"
    "  elseif w == 'off-parts' then\n"
    "    for i = 1, n do\n"
    "      local x, y = (i * 7) % 608 + 1000, (i * 13) % 448\n"
    "      drawImagePartExt(img, x, y, 8, 8, 24, 24, i % 360, 1, 1, x + 8, y + 8)\n"
    "    end\n"
    "  elseif w == 'off-text' then\n"
    "    for i = 0, n - 1 do drawText(font, TEXT, (i * 7) % 300 + 1000, 460 - (i % 28) * 16, 0, 1) end\n"
    "  else\n"
    "    for i = 1, n do drawImage(img, (i * 7) % 608, (i * 13) % 448) end\n"
    "  end\n"
    "  setRenderColor(255, 255, 255, 255)\n"
    "end\n";

// Folder layout: loose/ and packed/ (the two games), love/ (main.lua, conf.lua, sprite.png),
// walker/ (the characters' game and LÖVE side).
static bool buildGames(const std::string &folder)
{
    namespace fs = std::filesystem;
    const std::string project = folder + "/loose/Projects/draw/";
    fs::create_directories(project + "Images");
    fs::create_directories(project + "Fonts");
    fs::create_directories(folder + "/packed/Projects/draw/Images");
    fs::create_directories(folder + "/love");
    // A 32 x 32 picture: a yellow disc on blue with a light frame, as a PNG for all three.
    const std::string image = project + "Images/sprite.png";
    const std::string command = "convert -size 30x30 xc:'rgb(40,160,220)' -fill 'rgb(240,200,40)' -draw 'circle 15,15 15,4'"
                                " -bordercolor 'rgb(250,250,250)' -border 1 PNG24:'" + image + "' 2>/dev/null";
    if (system(command.c_str()) != 0) return false;
    std::string fontTool = QF_ENGINE_PATH;
    fontTool = fontTool.substr(0, fontTool.find_last_of('/') + 1) + "quillfen-font";
    if (system((fontTool + " -q -s 16 '" + project + "Fonts/bench.fnt'").c_str()) != 0) return false;
    fs::copy_file(image, folder + "/packed/Projects/draw/Images/sprite.png");
    fs::copy_file(image, folder + "/love/sprite.png");
    fs::copy_file(QF_BENCH_DIR "/love/draw/main.lua", folder + "/love/main.lua");
    fs::copy_file(QF_BENCH_DIR "/love/draw/conf.lua", folder + "/love/conf.lua");
    fs::copy_file(QF_BENCH_DIR "/love/unthrottled.lua", folder + "/love/unthrottled.lua");
    RoomNameLists lists;
    lists.names[ROOM_IMAGES] = {"sprite.png"};
    if (!writeBenchGame(folder + "/packed", "draw", lists, ROOM_SCRIPT, {"Images/sprite.png"}, true)) return false;
    lists.names[ROOM_FONTS] = {"bench.fnt"};
    return writeBenchGame(folder + "/loose", "draw", lists, ROOM_SCRIPT, {}, false) && buildWalkerGames(folder + "/walker");
}

int main(int argc, char **argv)
{
    if (argc > 4 && strcmp(argv[1], "--engine") == 0)
        return runUnthrottledEngine(atof(argv[4]),
                                    {{"benchWorkload", argv[2]}, {"benchCount", argv[3]}, {"benchOffsetX", "1000"}});
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
        const char *name, *ours, *love, *game, *goal;
        std::vector<int> counts;
    };
    const Workload workloads[] = {
        {"circles", "drawCircle(x, y, 10, true)", "circle('fill', x, y, 10, 31)", "loose", ">= 1.0", {1000, 10000}},
        {"rectangles", "drawRectangle 16x16 filled", "rectangle('fill', x, y, 16, 16)", "loose", ">= 1.0", {1000, 10000}},
        {"images", "drawImage 32x32", "draw(image, x, y)", "loose", ">= 1.0", {1000, 10000}},
        {"sprites", "drawImage, from the archive", "draw(image, x, y)", "packed", ">= 1.0", {1000, 5000, 20000}},
        {"off-images", "drawImage 32x32", "draw(image, x, y)", "loose", ">= 1.6", {20000, 50000}},
        {"off-parts", "drawImagePartExt 16x16 turned", "draw(image, quad, x, y, r, 1, 1, 8, 8)", "loose", "none", {20000}},
        {"off-text", "drawText 40 characters", "print(text, x, y)", "loose", ">= 1.6", {500, 1250}},
        {"off-poses", "animatePose + renderPose", "Lua FK + draw(quad) x 20", "walker/game", "none", {500, 2000}},
    };
    for (const Workload &w : workloads) {
        const bool offscreen = strncmp(w.name, "off-", 4) == 0;
        if (!filter.empty() && filter != w.name && filter != (offscreen ? "offscreen" : "onscreen")) continue;
        for (int count : w.counts) {
            const std::string n = std::to_string(count);
            std::vector<std::string> love = {"love", folder + "/love", strcmp(w.name, "sprites") == 0 ? "images" : w.name, n, seconds};
            if (strcmp(w.name, "off-poses") == 0) love = {"love", folder + "/walker/love", n, seconds, "offscreen"};
            double oursFps = -1, loveFps = -1;
            for (int run = 0; run < runs; run++) {
                oursFps = std::max(oursFps, valueAfter(runChild({self, "--engine", w.name, n, seconds}, folder + "/" + w.game).output, "fps"));
                loveFps = std::max(loveFps, valueAfter(runChild(love, love[1]).output, "love-fps"));
            }
            printf("%-10s N = %5d: quillfen %-29s %8.1f fps | LÖVE %-38s %8.1f fps | ratio %.2f (goal %s)\n", w.name, count,
                   w.ours, oursFps, w.love, loveFps, loveFps > 0 ? oursFps / loveFps : 0.0, w.goal);
            fflush(stdout);
        }
    }
    std::filesystem::remove_all(folder);
    endBenchEnvironment();
    return 0;
}
