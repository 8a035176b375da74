// tools/pack/new_command.cpp - quillfen-pack new: a minimal project source to start a game from.
// It writes the project file, one room (its lists and script), one object class moved by the
// arrow keys, a picture and a font, all of which compile and play as they are; the tutorial
// (docs/tutorial.md) starts from here. The picture is drawn here and the font is the engine's
// own 5 x 8 debug glyphs at twice their size, so nothing outside the tool is needed.
// Threads: one (a command-line tool).
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "bmfont_writer.h"
#include "font_pages.h"
#include "graphics/debug_text.h"
#include "pack_commands.h"
#include "project_source.h"

namespace fs = std::filesystem;

static const char *const PROJECT_TEXT =
    "# The project: its codename, window size, first room and every room (docs/projects.md).\n"
    "[project]\n"
    "codename = @\n"
    "width = 640\n"
    "height = 480\n"
    "first-room = main\n"
    "\n"
    "[rooms]\n"
    "main\n";

static const char *const SETTINGS_TEXT =
    "# Engine settings, copied beside the built game.\n"
    "[project]\n"
    "codename = @\n"
    "\n"
    "[display]\n"
    "caption = @\n";

static const char *const ROOM_LISTS =
    "# What the room needs loaded before it starts, and the classes it builds.\n"
    "[fonts]\n"
    "text.fnt\n"
    "\n"
    "[images]\n"
    "star.tga\n"
    "\n"
    "[objects]\n"
    "Star\n";

static const char *const ROOM_SCRIPT =
    "-- The room script runs when the room starts; Init, Step and Render are the room's own\n"
    "-- callbacks (docs/scripting.md).\n"
    "\n"
    "function Init()\n"
    "    setBackgroundColor(0.05, 0.07, 0.15)\n"
    "    font = getFontHandle(\"text.fnt\")\n"
    "    instTable.star = Star:new()\n"
    "end\n"
    "\n"
    "function Step()\n"
    "end\n"
    "\n"
    "function Render()\n"
    "    local text = \"Hello from @! The arrow keys move the star.\"\n"
    "    drawText(font, text, 320 - math.floor(getTextWidth(font, text) / 2), 460, 0, 1)\n"
    "end\n";

static const char *const STAR_SCRIPT =
    "-- Star: a picture that the arrow keys move around the window.\n"
    "\n"
    "function Star:Init()\n"
    "    self.image = getImageHandle(\"star.tga\")\n"
    "    self.x, self.y = 320, 240\n"
    "end\n"
    "\n"
    "function Star:Step()\n"
    "    if keyDown(KEY_LEFT) then self.x = self.x - 4 end\n"
    "    if keyDown(KEY_RIGHT) then self.x = self.x + 4 end\n"
    "    if keyDown(KEY_UP) then self.y = self.y + 4 end\n"
    "    if keyDown(KEY_DOWN) then self.y = self.y - 4 end\n"
    "end\n"
    "\n"
    "function Star:Render()\n"
    "    drawImage(self.image, self.x - 16, self.y - 16)\n"
    "end\n"
    "\n"
    "function Star:ShutDown()\n"
    "end\n";

static std::string named(const char *text, const std::string &name)  // every '@' replaced by the name
{
    std::string out;
    for (const char *p = text; *p; ++p) out += *p == '@' ? name : std::string(1, *p);
    return out;
}

static bool writeText(const fs::path &path, const std::string &text)
{
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    FILE *file = fopen(path.c_str(), "wb");
    bool written = file && fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file && fclose(file) != 0) written = false;
    if (!written) failure("Could not write '" + path.string() + "'.");
    return written;
}

static bool writePicture(const fs::path &path, const PageImage &picture)  // TGA, which needs no library
{
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    std::string problem;
    if (writePageImage(path.string(), picture, PageFormat::Tga, &problem)) return true;
    failure(problem);
    return false;
}

// A gold five-pointed star on the engine's transparent colour key (255, 128, 255), 32 x 32.
static PageImage starPicture()
{
    PageImage picture;
    picture.width = picture.height = 32;
    picture.rgb.resize(32 * 32 * 3);
    double corners[10][2];
    for (int i = 0; i < 10; i++) {
        const double angle = M_PI / 2 + i * M_PI / 5, radius = i % 2 ? 6.5 : 15.5;
        corners[i][0] = 16 + radius * cos(angle);
        corners[i][1] = 16 - radius * sin(angle);  // rows count from the top
    }
    for (int y = 0; y < 32; y++) {
        for (int x = 0; x < 32; x++) {
            bool inside = false;  // even-odd rule at the pixel's centre
            for (int i = 0, j = 9; i < 10; j = i++) {
                const double *a = corners[i], *b = corners[j], px = x + 0.5, py = y + 0.5;
                if ((a[1] > py) != (b[1] > py) && px < (b[0] - a[0]) * (py - a[1]) / (b[1] - a[1]) + a[0]) inside = !inside;
            }
            uint8_t *p = &picture.rgb[size_t(y * 32 + x) * 3];
            p[0] = 255, p[1] = inside ? 210 : 128, p[2] = inside ? 64 : 255;
        }
    }
    return picture;
}

// The engine's debug glyphs (printable ASCII) at twice their size, one page of 256 x 128.
static bool writeFont(const fs::path &folder)
{
    const int scale = 2, cellWidth = 14, cellHeight = 18;
    PageImage page;
    page.width = 256, page.height = 128;
    page.grey.assign(size_t(page.width) * page.height, 0);
    BMFontDescription font;
    font.faceName = "Quillfen 5x8";
    font.size = DEBUG_GLYPH_HEIGHT * scale;
    font.spacing = 1;
    font.lineHeight = DEBUG_LINE_HEIGHT * scale;
    font.base = 7 * scale + scale;  // seven rows above the base line, below one free row
    font.pageWidth = (uint16_t)page.width, font.pageHeight = (uint16_t)page.height;
    font.pageNames = {"text_0.tga"};
    for (unsigned c = 32; c < 127; c++) {
        const int cell = int(c - 32), left = (cell % 16) * cellWidth + 2, top = (cell / 16) * cellHeight + 1;
        const unsigned char *rows = debugGlyph((unsigned char)c);
        for (int row = 0; row < DEBUG_GLYPH_HEIGHT * scale; row++)
            for (int column = 0; column < DEBUG_GLYPH_WIDTH * scale; column++)
                if (rows[row / scale] & (0x10 >> (column / scale))) page.grey[size_t(top + row) * page.width + left + column] = 255;
        BMChar glyph;
        glyph.id = c;
        glyph.x = (uint16_t)left, glyph.y = (uint16_t)top;
        glyph.width = DEBUG_GLYPH_WIDTH * scale, glyph.height = DEBUG_GLYPH_HEIGHT * scale;
        glyph.yOffset = (int16_t)scale;
        glyph.xAdvance = DEBUG_CELL_WIDTH * scale;
        font.chars.push_back(glyph);
    }
    const std::vector<uint8_t> descriptor = encodeBMFont(font);
    return writeText(folder / "fonts/text.fnt", std::string(descriptor.begin(), descriptor.end())) &&
           writePicture(folder / "fonts/text_0.tga", page);
}

int newCommand(const Arguments &args)
{
    if (args.empty() || args.size() > 2) return usageError("new", "expected NAME and an optional FOLDER");
    const std::string name = args[0];
    if (!isPlainCodename(name))
        return usageError("new", "'" + name + "' is not a codename: use letters, digits, '-', '_' and '.'");
    const fs::path folder = args.size() == 2 ? args[1] : name;
    std::error_code error;
    if (fs::exists(folder, error) && !(fs::is_directory(folder, error) && fs::is_empty(folder, error)))
        return failure("'" + folder.string() + "' already exists and is not an empty folder.");

    const bool written = writeText(folder / "project.qf", named(PROJECT_TEXT, name)) &&
                         writeText(folder / "Quillfen.ini", named(SETTINGS_TEXT, name)) &&
                         writeText(folder / "rooms/main.room", ROOM_LISTS) &&
                         writeText(folder / "rooms/main.lua", named(ROOM_SCRIPT, name)) &&
                         writeText(folder / "objects/Star.lua", STAR_SCRIPT) && writeFont(folder) &&
                         writePicture(folder / "images/star.tga", starPicture());
    if (!written) return EXIT_FAILED;

    const std::string tools = toolFolder(), game = folder.string() + "-game";
    const std::string pack = tools.empty() ? "quillfen-pack" : tools + "/quillfen-pack";
    const std::string engine = tools.empty() ? "quillfen" : tools + "/quillfen";
    printf("Made the project source '%s' in %s: project.qf, Quillfen.ini, rooms/main.room and main.lua,\n"
           "objects/Star.lua, images/star.tga and fonts/text.fnt with its page.\n"
           "Build it and play it:\n"
           "  %s compile --archive %s %s\n"
           "  cd %s && %s\n",
           name.c_str(), folder.c_str(), pack.c_str(), folder.c_str(), game.c_str(), game.c_str(), engine.c_str());
    return EXIT_DONE;
}
