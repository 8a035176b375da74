// graphics/debug_text.cpp - the engine's built-in 5 x 8 bitmap font and its drawing.
// The glyphs are written out below as pictures, one string per character from 32 (space) to
// 126 (~): eight rows of five columns, top row first, '#' lit and '.' dark, rows separated by
// '|'. Row 7 is below the base line (descenders of g, j, p, q, y and the comma). They are turned
// into bit rows once, on first use. Each lit pixel is drawn as one untextured quad: the panel
// that uses this shows a few hundred characters at most.
// Threads: main thread (drawing needs the window's GL context).
#include "graphics/debug_text.h"

#include <GL/glew.h>

#include "graphics/display.h"
#include "graphics/renderer.h"

static const char *const GLYPH_PICTURES[95] = {
    ".....|.....|.....|.....|.....|.....|.....|.....",  // space
    "..#..|..#..|..#..|..#..|..#..|.....|..#..|.....",  // !
    ".#.#.|.#.#.|.#.#.|.....|.....|.....|.....|.....",  // "
    ".#.#.|.#.#.|#####|.#.#.|#####|.#.#.|.#.#.|.....",  // #
    "..#..|.####|#.#..|.###.|..#.#|####.|..#..|.....",  // $
    "##...|##..#|...#.|..#..|.#...|#..##|...##|.....",  // %
    ".##..|#..#.|#.#..|.#...|#.#.#|#..#.|.##.#|.....",  // &
    "..#..|..#..|.#...|.....|.....|.....|.....|.....",  // '
    "...#.|..#..|.#...|.#...|.#...|..#..|...#.|.....",  // (
    ".#...|..#..|...#.|...#.|...#.|..#..|.#...|.....",  // )
    ".....|..#..|#.#.#|.###.|#.#.#|..#..|.....|.....",  // *
    ".....|..#..|..#..|#####|..#..|..#..|.....|.....",  // +
    ".....|.....|.....|.....|.....|..#..|..#..|.#...",  // ,
    ".....|.....|.....|#####|.....|.....|.....|.....",  // -
    ".....|.....|.....|.....|.....|.##..|.##..|.....",  // .
    ".....|....#|...#.|..#..|.#...|#....|.....|.....",  // /
    ".###.|#...#|#..##|#.#.#|##..#|#...#|.###.|.....",  // 0
    "..#..|.##..|..#..|..#..|..#..|..#..|.###.|.....",  // 1
    ".###.|#...#|....#|...#.|..#..|.#...|#####|.....",  // 2
    "#####|...#.|..#..|...#.|....#|#...#|.###.|.....",  // 3
    "...#.|..##.|.#.#.|#..#.|#####|...#.|...#.|.....",  // 4
    "#####|#....|####.|....#|....#|#...#|.###.|.....",  // 5
    "..##.|.#...|#....|####.|#...#|#...#|.###.|.....",  // 6
    "#####|....#|...#.|..#..|.#...|.#...|.#...|.....",  // 7
    ".###.|#...#|#...#|.###.|#...#|#...#|.###.|.....",  // 8
    ".###.|#...#|#...#|.####|....#|...#.|.##..|.....",  // 9
    ".....|.##..|.##..|.....|.##..|.##..|.....|.....",  // :
    ".....|.##..|.##..|.....|.##..|.##..|..#..|.#...",  // ;
    "...#.|..#..|.#...|#....|.#...|..#..|...#.|.....",  // <
    ".....|.....|#####|.....|#####|.....|.....|.....",  // =
    ".#...|..#..|...#.|....#|...#.|..#..|.#...|.....",  // >
    ".###.|#...#|....#|...#.|..#..|.....|..#..|.....",  // ?
    ".###.|#...#|....#|.##.#|#.#.#|#.#.#|.###.|.....",  // @
    ".###.|#...#|#...#|#####|#...#|#...#|#...#|.....",  // A
    "####.|#...#|#...#|####.|#...#|#...#|####.|.....",  // B
    ".###.|#...#|#....|#....|#....|#...#|.###.|.....",  // C
    "###..|#..#.|#...#|#...#|#...#|#..#.|###..|.....",  // D
    "#####|#....|#....|####.|#....|#....|#####|.....",  // E
    "#####|#....|#....|####.|#....|#....|#....|.....",  // F
    ".###.|#...#|#....|#.###|#...#|#...#|.####|.....",  // G
    "#...#|#...#|#...#|#####|#...#|#...#|#...#|.....",  // H
    ".###.|..#..|..#..|..#..|..#..|..#..|.###.|.....",  // I
    "..###|...#.|...#.|...#.|...#.|#..#.|.##..|.....",  // J
    "#...#|#..#.|#.#..|##...|#.#..|#..#.|#...#|.....",  // K
    "#....|#....|#....|#....|#....|#....|#####|.....",  // L
    "#...#|##.##|#.#.#|#.#.#|#...#|#...#|#...#|.....",  // M
    "#...#|#...#|##..#|#.#.#|#..##|#...#|#...#|.....",  // N
    ".###.|#...#|#...#|#...#|#...#|#...#|.###.|.....",  // O
    "####.|#...#|#...#|####.|#....|#....|#....|.....",  // P
    ".###.|#...#|#...#|#...#|#.#.#|#..#.|.##.#|.....",  // Q
    "####.|#...#|#...#|####.|#.#..|#..#.|#...#|.....",  // R
    ".####|#....|#....|.###.|....#|....#|####.|.....",  // S
    "#####|..#..|..#..|..#..|..#..|..#..|..#..|.....",  // T
    "#...#|#...#|#...#|#...#|#...#|#...#|.###.|.....",  // U
    "#...#|#...#|#...#|#...#|#...#|.#.#.|..#..|.....",  // V
    "#...#|#...#|#...#|#.#.#|#.#.#|#.#.#|.#.#.|.....",  // W
    "#...#|#...#|.#.#.|..#..|.#.#.|#...#|#...#|.....",  // X
    "#...#|#...#|.#.#.|..#..|..#..|..#..|..#..|.....",  // Y
    "#####|....#|...#.|..#..|.#...|#....|#####|.....",  // Z
    ".###.|.#...|.#...|.#...|.#...|.#...|.###.|.....",  // [
    ".....|#....|.#...|..#..|...#.|....#|.....|.....",  // backslash
    ".###.|...#.|...#.|...#.|...#.|...#.|.###.|.....",  // ]
    "..#..|.#.#.|#...#|.....|.....|.....|.....|.....",  // ^
    ".....|.....|.....|.....|.....|.....|.....|#####",  // _
    ".#...|..#..|...#.|.....|.....|.....|.....|.....",  // `
    ".....|.....|.###.|....#|.####|#...#|.####|.....",  // a
    "#....|#....|#.##.|##..#|#...#|#...#|####.|.....",  // b
    ".....|.....|.###.|#....|#....|#...#|.###.|.....",  // c
    "....#|....#|.##.#|#..##|#...#|#...#|.####|.....",  // d
    ".....|.....|.###.|#...#|#####|#....|.###.|.....",  // e
    "..##.|.#..#|.#...|###..|.#...|.#...|.#...|.....",  // f
    ".....|.....|.####|#...#|#...#|.####|....#|.###.",  // g
    "#....|#....|#.##.|##..#|#...#|#...#|#...#|.....",  // h
    "..#..|.....|.##..|..#..|..#..|..#..|.###.|.....",  // i
    "...#.|.....|..##.|...#.|...#.|...#.|#..#.|.##..",  // j
    "#....|#....|#..#.|#.#..|##...|#.#..|#..#.|.....",  // k
    ".##..|..#..|..#..|..#..|..#..|..#..|.###.|.....",  // l
    ".....|.....|##.#.|#.#.#|#.#.#|#...#|#...#|.....",  // m
    ".....|.....|#.##.|##..#|#...#|#...#|#...#|.....",  // n
    ".....|.....|.###.|#...#|#...#|#...#|.###.|.....",  // o
    ".....|.....|####.|#...#|#...#|####.|#....|#....",  // p
    ".....|.....|.####|#...#|#...#|.####|....#|....#",  // q
    ".....|.....|#.##.|##..#|#....|#....|#....|.....",  // r
    ".....|.....|.####|#....|.###.|....#|####.|.....",  // s
    ".#...|.#...|###..|.#...|.#...|.#..#|..##.|.....",  // t
    ".....|.....|#...#|#...#|#...#|#..##|.##.#|.....",  // u
    ".....|.....|#...#|#...#|#...#|.#.#.|..#..|.....",  // v
    ".....|.....|#...#|#...#|#.#.#|#.#.#|.#.#.|.....",  // w
    ".....|.....|#...#|.#.#.|..#..|.#.#.|#...#|.....",  // x
    ".....|.....|#...#|#...#|#...#|.####|....#|.###.",  // y
    ".....|.....|#####|...#.|..#..|.#...|#####|.....",  // z
    "...#.|..#..|..#..|.#...|..#..|..#..|...#.|.....",  // {
    "..#..|..#..|..#..|..#..|..#..|..#..|..#..|.....",  // |
    ".#...|..#..|..#..|...#.|..#..|..#..|.#...|.....",  // }
    ".....|.....|.#...|#.#.#|...#.|.....|.....|.....",  // ~
};

// 95 printable characters, 8 bit rows each; built from the pictures on first use.
static const unsigned char *glyphRows()
{
    static unsigned char rows[95][DEBUG_GLYPH_HEIGHT];
    static bool built = false;
    if (!built) {
        for (int c = 0; c < 95; c++) {
            const char *picture = GLYPH_PICTURES[c];
            for (int row = 0; row < DEBUG_GLYPH_HEIGHT; row++, picture++) {  // the ++ skips a '|'
                unsigned char bits = 0;
                for (int column = 0; column < DEBUG_GLYPH_WIDTH; column++, picture++)
                    bits = (unsigned char)(bits << 1 | (*picture == '#'));
                rows[c][row] = bits;
            }
        }
        built = true;
    }
    return &rows[0][0];
}

const unsigned char *debugGlyph(unsigned char c)
{
    if (c < 32 || c > 126) c = '?';
    return glyphRows() + (c - 32) * DEBUG_GLYPH_HEIGHT;
}

void renderDebugText(int x, int top, const std::string &text, int scale, unsigned char red, unsigned char green,
                     unsigned char blue)
{
    if (!flushForDrawing() || scale < 1) return;
    GLfloat previous[4];
    glGetFloatv(GL_CURRENT_COLOR, previous);
    glColor4ub(red, green, blue, 255);
    glBegin(GL_QUADS);
    for (size_t i = 0; i < text.size(); i++) {
        const unsigned char *rows = debugGlyph((unsigned char)text[i]);
        const int left = x + (int)i * DEBUG_CELL_WIDTH * scale;
        for (int row = 0; row < DEBUG_GLYPH_HEIGHT; row++) {
            const int y1 = top - row * scale, y0 = y1 - scale;
            for (int column = 0; column < DEBUG_GLYPH_WIDTH; column++) {
                if (!(rows[row] >> (DEBUG_GLYPH_WIDTH - 1 - column) & 1)) continue;
                const int x0 = left + column * scale, x1 = x0 + scale;
                glVertex2i(x0, y0);
                glVertex2i(x1, y0);
                glVertex2i(x1, y1);
                glVertex2i(x0, y1);
            }
        }
    }
    glEnd();
    glColor4fv(previous);
}

std::vector<std::string> wrapDebugText(const std::string &text, int columns)
{
    std::vector<std::string> lines;
    if (columns < 1) columns = 1;
    size_t start = 0;
    do {
        const size_t end = text.find('\n', start);
        std::string rest = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        while ((int)rest.size() > columns) {
            size_t cut = rest.rfind(' ', (size_t)columns);
            if (cut == std::string::npos || cut == 0) cut = (size_t)columns;  // one long word: cut it
            lines.push_back(rest.substr(0, cut));
            rest = rest.substr(rest[cut] == ' ' ? cut + 1 : cut);
        }
        lines.push_back(rest);
        start = end == std::string::npos ? end : end + 1;
    } while (start != std::string::npos);
    return lines;
}

static const int PANEL_MARGIN = 6;  // font pixels between the panel's edge and its text

static int panelScale() { return displayWidth() >= 400 ? 2 : 1; }

int debugPanelColumns()
{
    const int columns = (displayWidth() / panelScale() - 2 * PANEL_MARGIN) / DEBUG_CELL_WIDTH;
    return columns > 1 ? columns : 1;
}

void renderDebugPanel(const std::vector<std::string> &lines)
{
    if (!flushForDrawing()) return;
    const int scale = panelScale(), width = displayWidth(), top = displayHeight();
    const int height = ((int)lines.size() * DEBUG_LINE_HEIGHT + 2 * PANEL_MARGIN) * scale;
    glPushMatrix();
    glLoadIdentity();
    GLfloat previous[4];
    glGetFloatv(GL_CURRENT_COLOR, previous);
    glColor4ub(PANEL_RED, PANEL_GREEN, PANEL_BLUE, 255);
    glBegin(GL_QUADS);
    glVertex2i(0, top - height);
    glVertex2i(width, top - height);
    glVertex2i(width, top);
    glVertex2i(0, top);
    glEnd();
    glColor4fv(previous);
    for (size_t i = 0; i < lines.size(); i++) {
        const int lineTop = top - (PANEL_MARGIN + (int)i * DEBUG_LINE_HEIGHT + 1) * scale;
        const bool title = i == 0;
        renderDebugText(PANEL_MARGIN * scale, lineTop, lines[i], scale, 255, title ? 224 : 255, title ? 64 : 255);
    }
    glPopMatrix();
}
