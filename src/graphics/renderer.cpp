// graphics/renderer.cpp - circles, rectangles, lines and textured quads in immediate-mode GL.
//
// How it stays fast: a GL driver can only merge consecutive glBegin/glEnd blocks into one draw
// while no state changes between them, and every matrix call (push, translate, pop) is a state
// change. So the plain shapes and the un-rotated image quads never touch the matrix: they add
// their offset (x, y) to each vertex on the CPU, which is the point the translation would give
// (M * T(x, y) * v == M * (v + (x, y))). Circle directions come from a table filled once per
// segment count, with the same float angles and C library cos/sin as the circle formula.
// The rotated ("Ext") operations keep the matrix calls: GL's own rotation defines them.
// Image quads must bind their texture and bind 0 again afterwards (what callers may rely on),
// so each one ends a driver batch; a texture-0 record skips the first bind.
//
// Needs: the window's GL context current, texturing and blending set up by the display.
// Threads: main thread only.
#include "graphics/renderer.h"

#include <GL/glew.h>

#include <cmath>
#include <cstdint>

#include "graphics/image.h"

enum { MAX_CIRCLE_SEGMENTS = 100 };

// Unit-circle directions: for n segments, entry i (0..n) is (cos a, sin a), a = i * 6.2831855 / n
// computed in single precision; entry n is the closing full turn of an outline.
struct CircleTable
{
    double directions[MAX_CIRCLE_SEGMENTS + 1][2 * (MAX_CIRCLE_SEGMENTS + 1)];  // [n][2i], [n][2i+1]
    bool filled[MAX_CIRCLE_SEGMENTS + 1] = {};                                  // row n computed
};
static CircleTable circles;

// The direction row for n segments (1..100), computed on first use.
static const double *circleDirections(int n)
{
    double *row = circles.directions[n];
    if (!circles.filled[n]) {
        for (int i = 0; i <= n; i++) {
            const float a = (float)i * 6.2831855f / (float)n;
            row[2 * i] = cos(a);
            row[2 * i + 1] = sin(a);
        }
        circles.filled[n] = true;
    }
    return row;
}

void renderCircle(int x, int y, float radius, bool filled)
{
    const float r = fabsf(radius);
    if (!(r >= 0.5f)) return;  // also refuses NaN
    int n = (int)(r * 3.1415927f);
    if (n > MAX_CIRCLE_SEGMENTS) n = MAX_CIRCLE_SEGMENTS;
    const double *d = circleDirections(n);
    const float fx = (float)x, fy = (float)y;
    if (filled) {
        glBegin(GL_POLYGON);
        for (int i = 0; i < n; i++) glVertex2f(fx + (float)(d[2 * i] * r), fy + (float)(d[2 * i + 1] * r));
    } else {
        // Separate segments from point i to point i + 1; the last one closes the turn.
        glBegin(GL_LINES);
        for (int i = 0; i < n; i++) {
            glVertex2f(fx + (float)(d[2 * i] * r), fy + (float)(d[2 * i + 1] * r));
            glVertex2f(fx + (float)(d[2 * i + 2] * r), fy + (float)(d[2 * i + 3] * r));
        }
    }
    glEnd();
}

// Corners (x1, y1), (x1, y2), (x2, y2), (x2, y1); an outline returns to (x1, y1).
void renderRectangle(int x1, int y1, int x2, int y2, bool filled)
{
    glBegin(filled ? GL_POLYGON : GL_LINE_STRIP);
    glVertex2i(x1, y1);
    glVertex2i(x1, y2);
    glVertex2i(x2, y2);
    glVertex2i(x2, y1);
    if (!filled) glVertex2i(x1, y1);
    glEnd();
}

void renderRectangleExt(float x1, float y1, float x2, float y2, bool filled, float rotation, float pivotX,
                        float pivotY)
{
    glPushMatrix();
    glTranslatef(pivotX, pivotY, 0);
    glRotatef(rotation, 0, 0, 1);
    glTranslatef(-pivotX, -pivotY, 0);
    glBegin(filled ? GL_POLYGON : GL_LINE_STRIP);
    glVertex2f(x1, y1);
    glVertex2f(x1, y2);
    glVertex2f(x2, y2);
    glVertex2f(x2, y1);
    if (!filled) glVertex2f(x1, y1);
    glEnd();
    glPopMatrix();
}

void renderLine(int x1, int y1, int x2, int y2)
{
    glBegin(GL_LINES);
    glVertex2i(x1, y1);
    glVertex2i(x2, y2);
    glEnd();
}

// Where a quad's texture comes from: the whole picture or a part of it.
struct QuadTexture
{
    float u1, t1, u2, t2;
};

static QuadTexture wholeImage(const Image *image) { return {0, 0, image->maxU, image->maxV}; }

static QuadTexture imagePart(const Image *image, int imgX1, int imgY1, int imgX2, int imgY2)
{
    const float w = (float)image->width, h = (float)image->height;
    return {(float)imgX1 / w * image->maxU, (float)imgY1 / h * image->maxV, (float)imgX2 / w * image->maxU,
            (float)imgY2 / h * image->maxV};
}

// An empty record (the placeholder, or one an unload emptied) has no picture to show.
static bool drawable(const Image *image) { return image != nullptr && image->width != 0 && image->height != 0; }

// b - a as a 32-bit integer (wrapping like the engine's int arithmetic, without overflow).
static float intSpan(int a, int b) { return (float)(int32_t)((uint32_t)b - (uint32_t)a); }

// One textured quad from (x, y) to (x + w, y + h) in the current model-view space, vertices
// bottom-left, bottom-right, top-right, top-left. Leaves texture 0 bound.
static void drawQuad(const Image *image, float x, float y, float w, float h, const QuadTexture &t)
{
    glBindTexture(GL_TEXTURE_2D, image->texture);
    glBegin(GL_QUADS);
    glTexCoord2f(t.u1, t.t1);
    glVertex2f(x, y);
    glTexCoord2f(t.u2, t.t1);
    glVertex2f(x + w, y);
    glTexCoord2f(t.u2, t.t2);
    glVertex2f(x + w, y + h);
    glTexCoord2f(t.u1, t.t2);
    glVertex2f(x, y + h);
    glEnd();
    if (image->texture != 0) glBindTexture(GL_TEXTURE_2D, 0);
}

void renderImage(const Image *image, float x, float y)
{
    if (!drawable(image)) return;
    drawQuad(image, x, y, (float)image->width, (float)image->height, wholeImage(image));
}

void renderImageExt(const Image *image, float x, float y, float rot, float scale)
{
    if (!drawable(image)) return;
    const int hw = (int)(image->width / 2), hh = (int)(image->height / 2);
    glPushMatrix();
    glTranslatef(x + (float)hw * scale, y + (float)hh * scale, 0);
    glRotatef(rot, 0, 0, 1);
    glScalef(scale, scale, 1);
    glTranslatef((float)-hw, (float)-hh, 0);
    drawQuad(image, 0, 0, (float)image->width, (float)image->height, wholeImage(image));
    glPopMatrix();
}

void renderImagePart(const Image *image, float x, float y, int imgX1, int imgY1, int imgX2, int imgY2)
{
    if (!drawable(image)) return;
    drawQuad(image, x, y, intSpan(imgX1, imgX2), intSpan(imgY1, imgY2), imagePart(image, imgX1, imgY1, imgX2, imgY2));
}

void renderImagePartExt(const Image *image, float x, float y, int imgX1, int imgY1, int imgX2, int imgY2,
                        float rot, float scaleX, float scaleY, float rotateX, float rotateY)
{
    if (!drawable(image)) return;
    const float px = rotateX - x, py = rotateY - y;
    glPushMatrix();
    glTranslatef(x + px * scaleX, y + py * scaleY, 0);
    glRotatef(rot, 0, 0, 1);
    glScalef(scaleX, scaleY, 1);
    glTranslatef(-px, -py, 0);
    drawQuad(image, 0, 0, intSpan(imgX1, imgX2), intSpan(imgY1, imgY2), imagePart(image, imgX1, imgY1, imgX2, imgY2));
    glPopMatrix();
}
