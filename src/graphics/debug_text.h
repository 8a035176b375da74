// graphics/debug_text.h - the engine's own text: a fixed 5 x 8 bitmap font built into the
// executable, for messages the engine puts on screen itself (the development mode's error
// panel). It needs no project font and no resource: nothing here touches the registry, the
// loader or a texture. Glyphs are drawn as filled squares of `scale` pixels each.
// Threads: main thread, with the window's GL context current. Drawing does nothing without a
// GL context (no display) and leaves the GL state as the renderer expects it (flushed batch,
// same matrix and colour, texture 0 bound).
#pragma once

#include <string>
#include <vector>

static const int DEBUG_GLYPH_WIDTH = 5;    // lit columns of a glyph
static const int DEBUG_GLYPH_HEIGHT = 8;   // rows: 7 above the base line, 1 below (descenders)
static const int DEBUG_CELL_WIDTH = 6;     // advance per character, in font pixels
static const int DEBUG_LINE_HEIGHT = 10;   // from one line to the next, in font pixels
static const unsigned char PANEL_RED = 112, PANEL_GREEN = 16, PANEL_BLUE = 24;  // the panel's colour

// The glyph of a character as 8 rows of 5 bits, top row first (bit 4 = leftmost column).
// Printable ASCII (32..126) has its own; every other byte shows as '?'.
const unsigned char *debugGlyph(unsigned char c);

// Draws `text` (one line; control characters show as '?') with its top-left corner at (x, top),
// in screen coordinates (y up), in the given colour.
void renderDebugText(int x, int top, const std::string &text, int scale, unsigned char red, unsigned char green,
                     unsigned char blue);
// Splits `text` at its line feeds and then wraps each line at spaces (or mid-word when a word is
// longer than a line) so no line holds more than `columns` characters.
std::vector<std::string> wrapDebugText(const std::string &text, int columns);

// A panel across the top of the display: an opaque dark red box holding `lines` (wrapped by the
// caller to fit `columns`), the first in yellow, the rest in white. Font pixels are 2 screen
// pixels on displays 400 or more wide, else 1. Drawn in screen coordinates whatever matrix the
// game left set.
void renderDebugPanel(const std::vector<std::string> &lines);
int debugPanelColumns();  // characters that fit on one panel line at the display's width
