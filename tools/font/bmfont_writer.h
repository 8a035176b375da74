// tools/font/bmfont_writer.h - the binary BMFont descriptor (version 3) that the engine reads.
// Plain data in, bytes out; no FreeType and no files here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BMChar
{
    uint32_t id = 0;       // character code
    uint16_t x = 0, y = 0;  // top-left corner on the page, y counted from the top
    uint16_t width = 0, height = 0;
    int16_t xOffset = 0;   // rectangle drawn this far right of the pen
    int16_t yOffset = 0;   // ... and this far below the line's top
    int16_t xAdvance = 0;  // pen movement after the glyph
    uint8_t page = 0;
};

struct BMKerning
{
    uint32_t first = 0, second = 0;  // `second` moves by `amount` when it follows `first`
    int16_t amount = 0;
};

struct BMFontDescription
{
    std::string faceName;  // stored in the info block; cut to 255 bytes
    int16_t size = 0;      // pixel size the face was rendered at
    uint8_t spacing = 0;   // free pixels between glyph rectangles
    uint16_t lineHeight = 0;
    uint16_t base = 0;     // distance from a line's top to its baseline
    uint16_t pageWidth = 0, pageHeight = 0;
    std::vector<std::string> pageNames;  // file names next to the descriptor, one per page
    std::vector<BMChar> chars;           // written in this order
    std::vector<BMKerning> kerning;      // block 5 is left out when empty
};

// The whole descriptor: "BMF" 3, then the info, common, pages, chars and (optional) kerning
// blocks, little-endian. Size fields count the block's content only.
std::vector<uint8_t> encodeBMFont(const BMFontDescription &font);
