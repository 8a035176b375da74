// graphics/font.h - bitmap fonts (binary BMFont descriptors, version 3, with page images under
// the project's "Fonts/") and text drawing: resource type 8, drawText and getTextWidth.
//
// Threads: loadFont runs on the resource-loading thread with its shared GL context current
// (it uploads the page textures); freeFont on the loader thread or at shutdown, with a GL
// context current. renderText and textWidth run on the main thread, on a font the caller holds
// under its resource lock (resources/registry.h). parseFontDescriptor needs no GL (fuzzable).
// Failure: a missing, truncated or malformed descriptor gives nullptr and prints nothing; a page
// image that does not load leaves that page with texture 0 (its glyphs draw as solid rectangles).
//
// NOTE: X11/Xlib.h has a typedef named Font; a file cannot include both.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "graphics/image.h"

class DataFile;
struct lua_State;

// One character's rectangle on a page and how it sits on the pen line.
struct Glyph
{
    std::map<int32_t, int16_t> kerning;  // previous character -> extra x offset after it
    int16_t page = 0;                    // index into Font::pages
    uint16_t x = 0, y = 0;               // top-left corner on the page, y counted from the top
    uint16_t width = 0, height = 0;      // size of the rectangle
    int16_t xOffset = 0, yOffset = 0;    // drawn this far right of / below the pen
    int16_t xAdvance = 0;                // pen movement after the glyph
};

struct Font
{
    std::map<int32_t, Glyph> glyphs;  // by signed character code
    std::vector<Image> pages;         // pageCount page images, in page order
    uint8_t pageCount = 0;            // the descriptor's page count, kept in 8 bits
    uint16_t lineHeight = 0;          // from one line's pen line to the next
    uint16_t pageHeight = 0;          // declared page height (turns top-down rows into image rows)
    // The glyphs of the codes text can hold (bytes as signed codes, -128..127, at code + 128), or
    // nullptr: an index into `glyphs`, made by parseFontDescriptor, so the pen looks up no map.
    const Glyph *byteGlyphs[256] = {};
};

// Descriptor reading, no GL: fills glyphs (with kerning, and byteGlyphs), lineHeight, pageHeight
// and pageCount of an empty `font`, and the first pageCount page file names. `file` is open for reading at its
// start and is left open. False for anything but a well-formed descriptor (bad magic, info block
// over 4000 bytes, chars size not a multiple of 20 or over 10000 records, a chars block running
// past the end, kerning size not a multiple of 10 or over 10000 records).
bool parseFontDescriptor(DataFile &file, Font *font, std::vector<std::string> *pageNames);

// Resource operations (loader thread)
Font *loadFont(const std::string &directory, const std::string &name);  // directory + name; nullptr on failure
void freeFont(Font *font);                                              // deletes page textures; nullptr ok
bool registerFontResource();                                            // type 8; main thread, start-up

// Drawing (main thread). The first line's pen starts at (x, y); further lines lie lineHeight
// lower; glyphs hang down from the pen line. Turned by `rotation` degrees about (x, y) and scaled
// by `scale` from there. GL state seen by the caller is unchanged afterwards (matrix, colour,
// texture 0 bound). Text is read byte by byte as signed codes up to its zero; nullptr font or
// text draws nothing.
void renderText(const Font *font, float x, float y, const char *text, float rotation, float scale);
int32_t textWidth(const Font *font, const char *text);  // sum of advances (+kerning) of every line; 0 for nullptr

bool registerTextFunctions(lua_State *L);  // drawText, getTextWidth; main thread, start-up
