// tools/font/font_pages.h - packing glyph rectangles onto pages and writing the page images.
// Single-threaded command-line code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RectSize
{
    int width = 0, height = 0;
};

struct Placement
{
    int page = 0, x = 0, y = 0;  // top-left corner, y counted from the page's top
};

// Shelf packing, tallest rectangles first, with `spacing` free pixels between rectangles and
// along the page edges. Empty rectangles get (page 0, 0, 0) and take no room. Opens a new page
// when one is full. False (and `error` set) when a rectangle is larger than an empty page.
bool packRectangles(const std::vector<RectSize> &sizes, int pageWidth, int pageHeight, int spacing,
                    std::vector<Placement> *placements, int *pageCount, std::string *error);

// One page, rows top first: greyscale (written as white-on-black RGB) unless rgb is filled.
struct PageImage
{
    int width = 0, height = 0;
    std::vector<uint8_t> grey;  // width * height bytes, 0 = black
    std::vector<uint8_t> rgb;   // width * height * 3 bytes (red, green, blue); when set, grey is unused
};

enum class PageFormat { Png, Tga };

bool pngSupported();  // built with libpng
// Writes the page; false with `error` set when the file cannot be written.
bool writePageImage(const std::string &path, const PageImage &page, PageFormat format,
                    std::string *error);
