// graphics/renderer.cpp - circles, rectangles, lines and textured quads in immediate-mode GL.
//
// How it stays fast without changing a pixel or any GL state a caller can see:
// - A GL driver merges consecutive glBegin/glEnd blocks into one draw only while no state
//   changes between them, and every matrix call (push, translate, pop) is a state change. So the
//   plain shapes and the un-rotated image quads never touch the matrix: they add their offset
//   (x, y) to each vertex on the CPU, the point the translation would give
//   (M * T(x, y) * v == M * (v + (x, y))). The rotated ("Ext") operations keep the matrix
//   calls: GL's own rotation defines them.
// - Circle directions come from a table filled once per segment count, with the same float
//   angles and C library cos/sin as the circle formula.
// - A filled circle is the convex polygon through its n points. Drivers cut GL_POLYGON into a
//   fan of thin slivers from the first point, and software rasterisers pay for every block a
//   sliver crosses; we send the same polygon as GL_TRIANGLES cut into fat triangles (one
//   through points 0, n/3 and 2n/3, then each remaining arc halved). GL's fill rules give each
//   pixel of a convex polygon to exactly one triangle of any such cut, so coverage, colour and
//   blending are those of the polygon (with the polygon mode at its GL_FILL default, which the
//   engine never changes), and GL_TRIANGLES also merge from one circle to the next.
// - Image quads of one texture in a row share one bind and one glBegin(GL_QUADS): the batch
//   stays open between calls (sprites, the glyphs of a text) and flushRenderer closes it with
//   glEnd and texture 0 bound again. Every other operation, every script function that touches
//   GL, and the frame's begin and end flush first, so nothing drawn or queried afterwards can
//   tell the difference: the quads are the same vertices in the same order under the same
//   matrix and colour. While a batch is open its texture stays bound in this context, which
//   keeps the texture object alive even if the loader deletes it meanwhile; a deletion also
//   ends the batch (textureDeletions), so a reused texture name is bound afresh.
//
// Needs: the window's GL context current, texturing and blending set up by the display. Without
// one (no display) every operation draws nothing and makes no GL call.
// Threads: main thread only (the tables are filled lazily, unguarded).
#include "graphics/renderer.h"

#include <GL/glew.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "graphics/display.h"
#include "graphics/image.h"

enum { MAX_CIRCLE_SEGMENTS = 100 };

// The open image batch (main thread only). Its quads wait in `vertices` (and, once the colour
// changed inside the batch, their colours in `colours`) until a flush, a texture change or a full
// array draws them.
enum { BATCH_QUADS = 1024 };
struct BatchVertex
{
    GLfloat x, y, u, v;
};
struct QuadBatch
{
    bool open = false;         // `texture` bound; the waiting quads are drawn with it
    GLuint texture = 0;
    uint32_t deletions = 0;    // textureDeletions() when the batch began
    int quads = 0;             // quads waiting to be drawn
    bool coloured = false;     // the waiting quads carry their own colours
    bool colourKnown = false;  // `colour` is GL's current colour
    GLfloat colour[4] = {};
    BatchVertex vertices[4 * BATCH_QUADS];
    GLfloat colours[4 * BATCH_QUADS][4];
};
static QuadBatch batch;

void drawPendingQuads()
{
    if (batch.quads == 0) return;
    const BatchVertex *v = batch.vertices;
    if (batch.quads == 1 && !batch.coloured) {
        // One quad is cheaper in immediate mode than through the arrays' set-up.
        glBegin(GL_QUADS);
        for (int i = 0; i < 4; i++) {
            glTexCoord2f(v[i].u, v[i].v);
            glVertex2f(v[i].x, v[i].y);
        }
        glEnd();
    } else {
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glVertexPointer(2, GL_FLOAT, sizeof(BatchVertex), &v->x);
        glTexCoordPointer(2, GL_FLOAT, sizeof(BatchVertex), &v->u);
        if (batch.coloured) {
            glEnableClientState(GL_COLOR_ARRAY);
            glColorPointer(4, GL_FLOAT, 0, batch.colours);
        }
        glDrawArrays(GL_QUADS, 0, 4 * batch.quads);
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        if (batch.coloured) {
            glDisableClientState(GL_COLOR_ARRAY);
            glColor4fv(batch.colour);  // a colour array leaves the current colour undefined
        }
    }
    batch.quads = 0;
    batch.coloured = false;
}

void flushRenderer()
{
    if (!batch.open) return;
    drawPendingQuads();
    if (batch.texture != 0) glBindTexture(GL_TEXTURE_2D, 0);
    batch.open = false;
    batch.colourKnown = false;
}

void renderColor(float red, float green, float blue, float alpha)
{
    if (!hasGLContext()) return;
    const GLfloat colour[4] = {red, green, blue, alpha};
    if (batch.quads > 0 && !batch.coloured) {
        // The waiting quads keep the colour they were added in: when it changes, each gets its own.
        if (!batch.colourKnown) glGetFloatv(GL_CURRENT_COLOR, batch.colour);
        batch.colourKnown = true;
        if (memcmp(colour, batch.colour, sizeof colour) == 0) return;
        for (int i = 0; i < 4 * batch.quads; i++) memcpy(batch.colours[i], batch.colour, sizeof colour);
        batch.coloured = true;
    }
    glColor4fv(colour);
    if (batch.open) {
        memcpy(batch.colour, colour, sizeof colour);
        batch.colourKnown = true;
    }
}

bool flushForDrawing()
{
    if (!hasGLContext()) return false;
    flushRenderer();
    return true;
}

// Opens (or keeps) the batch for `texture`.
static void useBatchTexture(GLuint texture)
{
    const uint32_t deletions = textureDeletions();
    if (batch.open && batch.texture == texture && batch.deletions == deletions) return;
    flushRenderer();
    if (texture != 0) glBindTexture(GL_TEXTURE_2D, texture);
    batch.open = true;
    batch.texture = texture;
    batch.deletions = deletions;
}

// Room for one more quad of `texture` in the batch: its four vertices, to be filled in.
static BatchVertex *batchQuad(GLuint texture)
{
    useBatchTexture(texture);
    if (batch.quads == BATCH_QUADS) drawPendingQuads();
    const int first = 4 * batch.quads++;
    if (batch.coloured) {
        for (int i = first; i < first + 4; i++) memcpy(batch.colours[i], batch.colour, sizeof batch.colour);
    }
    return &batch.vertices[first];
}

// Per segment count n (1..100), filled on first use:
// directions: entry i (0..n) is (cos a, sin a), a = i * 6.2831855 / n in single precision;
//   entry n is the closing full turn of an outline.
// triangles: the n - 2 triangles (point indices) that cut the filled n-gon.
struct CircleTable
{
    double directions[MAX_CIRCLE_SEGMENTS + 1][2 * (MAX_CIRCLE_SEGMENTS + 1)];  // [n][2i], [n][2i+1]
    uint8_t triangles[MAX_CIRCLE_SEGMENTS + 1][3 * (MAX_CIRCLE_SEGMENTS - 2)];  // [n][3t..3t+2]
    bool built[MAX_CIRCLE_SEGMENTS + 1] = {};                                   // row n computed
};
static CircleTable circles;

// Cuts the arc of points a..b (b may be n, meaning point 0) off the polygon: triangle
// (a, middle, b), then both halves. `count` is the number of indices written so far.
static void cutArc(uint8_t *out, int &count, int a, int b, int n)
{
    if (b - a < 2) return;
    const int m = (a + b) / 2;
    out[count++] = (uint8_t)a;
    out[count++] = (uint8_t)m;
    out[count++] = (uint8_t)(b % n);
    cutArc(out, count, a, m, n);
    cutArc(out, count, m, b, n);
}

static void buildCircle(int n)
{
    double *row = circles.directions[n];
    for (int i = 0; i <= n; i++) {
        const float a = (float)i * 6.2831855f / (float)n;
        row[2 * i] = cos(a);
        row[2 * i + 1] = sin(a);
    }
    if (n >= 3) {
        uint8_t *out = circles.triangles[n];
        int count = 0;
        const int t1 = n / 3, t2 = 2 * n / 3;
        out[count++] = 0;
        out[count++] = (uint8_t)t1;
        out[count++] = (uint8_t)t2;
        cutArc(out, count, 0, t1, n);
        cutArc(out, count, t1, t2, n);
        cutArc(out, count, t2, n, n);
    }
    circles.built[n] = true;
}

void renderCircle(int x, int y, float radius, bool filled)
{
    const float r = fabsf(radius);
    if (!(r >= 0.5f)) return;  // also refuses NaN
    int n = (int)(r * 3.1415927f);
    if (n > MAX_CIRCLE_SEGMENTS) n = MAX_CIRCLE_SEGMENTS;
    if (!flushForDrawing()) return;
    if (!circles.built[n]) buildCircle(n);
    const double *d = circles.directions[n];
    const float fx = (float)x, fy = (float)y;
    float points[2 * (MAX_CIRCLE_SEGMENTS + 1)];
    for (int i = 0; i <= n; i++) {
        points[2 * i] = fx + (float)(d[2 * i] * r);
        points[2 * i + 1] = fy + (float)(d[2 * i + 1] * r);
    }
    if (filled) {
        if (n < 3) return;  // a polygon of one or two points covers nothing
        const uint8_t *t = circles.triangles[n];
        glBegin(GL_TRIANGLES);
        for (int i = 0; i < 3 * (n - 2); i++) glVertex2fv(&points[2 * t[i]]);
    } else {
        // Separate segments from point i to point i + 1; the last one ends at the full turn.
        glBegin(GL_LINES);
        for (int i = 0; i < n; i++) {
            glVertex2fv(&points[2 * i]);
            glVertex2fv(&points[2 * i + 2]);
        }
    }
    glEnd();
}

// Corners (x1, y1), (x1, y2), (x2, y2), (x2, y1); an outline returns to (x1, y1).
void renderRectangle(int x1, int y1, int x2, int y2, bool filled)
{
    if (!flushForDrawing()) return;
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
    if (!flushForDrawing()) return;
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
    if (!flushForDrawing()) return;
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

// An empty record (the placeholder, or one an unload emptied) has no picture to show; without a
// GL context (no display) nothing is shown.
static bool drawable(const Image *image)
{
    return image != nullptr && image->width != 0 && image->height != 0 && hasGLContext();
}

// b - a as a 32-bit integer (wrapping like the engine's int arithmetic, without overflow).
static float intSpan(int a, int b) { return (float)(int32_t)((uint32_t)b - (uint32_t)a); }

// One textured quad from (x, y) to (x + w, y + h) in the current model-view space, vertices
// bottom-left, bottom-right, top-right, top-left, added to the open batch of its texture.
static void drawQuad(const Image *image, float x, float y, float w, float h, const QuadTexture &t)
{
    BatchVertex *v = batchQuad(image->texture);
    v[0] = {x, y, t.u1, t.t1};
    v[1] = {x + w, y, t.u2, t.t1};
    v[2] = {x + w, y + h, t.u2, t.t2};
    v[3] = {x, y + h, t.u1, t.t2};
}

void renderImage(const Image *image, float x, float y)
{
    if (!drawable(image)) return;
    drawQuad(image, x, y, (float)image->width, (float)image->height, wholeImage(image));
}

// A quad drawn under its own matrix: translated to (x, y), turned by `rot` degrees, scaled by
// (scaleX, scaleY, 1), then translated by (backX, backY). The quads waiting before it are
// drawn under the matrix they were added under, this one under its own; the batch stays open
// with the texture bound, so a run of them binds it once.
static void drawTurnedQuad(const Image *image, float x, float y, float rot, float scaleX, float scaleY, float backX,
                           float backY, float w, float h, const QuadTexture &t)
{
    drawPendingQuads();
    glPushMatrix();
    glTranslatef(x, y, 0);
    glRotatef(rot, 0, 0, 1);
    glScalef(scaleX, scaleY, 1);
    glTranslatef(backX, backY, 0);
    drawQuad(image, 0, 0, w, h, t);
    drawPendingQuads();
    glPopMatrix();
}

void renderImageExt(const Image *image, float x, float y, float rot, float scale)
{
    if (!drawable(image)) return;
    const int hw = (int)(image->width / 2), hh = (int)(image->height / 2);
    drawTurnedQuad(image, x + (float)hw * scale, y + (float)hh * scale, rot, scale, scale, (float)-hw, (float)-hh,
                   (float)image->width, (float)image->height, wholeImage(image));
}

void renderImagePart(const Image *image, float x, float y, int imgX1, int imgY1, int imgX2, int imgY2)
{
    if (!drawable(image)) return;
    drawQuad(image, x, y, intSpan(imgX1, imgX2), intSpan(imgY1, imgY2), imagePart(image, imgX1, imgY1, imgX2, imgY2));
}

QuadRotation quadRotation(float degrees)
{
    // glRotatef's matrix for the z axis as Mesa builds it: sine and cosine of the angle in double
    // precision, rounded to single; quarter turns exact.
    QuadRotation r{0, 0};
    const double radians = degrees * 3.14159265358979323846 / 180.0;
    if (degrees == 0.0f) {
        r.c = 1;
    } else if (degrees == 90.0f || degrees == -270.0f) {
        r.s = 1;
    } else if (degrees == 180.0f || degrees == -180.0f) {
        r.c = -1;
    } else if (degrees == 270.0f || degrees == -90.0f) {
        r.s = -1;
    } else {
        r.c = (float)cos(radians), r.s = (float)sin(radians);
    }
    return r;
}

QuadTransform quadTransform(float x, float y, const QuadRotation &r, float scaleX, float scaleY)
{
    QuadTransform t;
    t.xx = r.c * scaleX, t.xy = -r.s * scaleY;
    t.yx = r.s * scaleX, t.yy = r.c * scaleY;
    t.tx = x, t.ty = y;
    return t;
}

QuadTransform quadTransform(float x, float y, float degrees, float scaleX, float scaleY)
{
    return quadTransform(x, y, quadRotation(degrees), scaleX, scaleY);
}

void renderImagePartTransformed(const Image *image, const QuadTransform &m, float x, float y, int imgX1, int imgY1,
                                int imgX2, int imgY2)
{
    if (!drawable(image)) return;
    const QuadTexture t = imagePart(image, imgX1, imgY1, imgX2, imgY2);
    const float x2 = x + intSpan(imgX1, imgX2), y2 = y + intSpan(imgY1, imgY2);
    const float corners[4][4] = {{x, y, t.u1, t.t1}, {x2, y, t.u2, t.t1}, {x2, y2, t.u2, t.t2}, {x, y2, t.u1, t.t2}};
    BatchVertex *v = batchQuad(image->texture);
    for (const float *c : corners) *v++ = {m.xx * c[0] + m.xy * c[1] + m.tx, m.yx * c[0] + m.yy * c[1] + m.ty, c[2], c[3]};
}

void renderImagePartExt(const Image *image, float x, float y, int imgX1, int imgY1, int imgX2, int imgY2,
                        float rot, float scaleX, float scaleY, float rotateX, float rotateY)
{
    if (!drawable(image)) return;
    const float px = rotateX - x, py = rotateY - y;
    drawTurnedQuad(image, x + px * scaleX, y + py * scaleY, rot, scaleX, scaleY, -px, -py, intSpan(imgX1, imgX2),
                   intSpan(imgY1, imgY2), imagePart(image, imgX1, imgY1, imgX2, imgY2));
}
