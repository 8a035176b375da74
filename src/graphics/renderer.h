// graphics/renderer.h - the drawing operations and the seventeen drawing script functions.
// Coordinates are the display's: pixels, origin at the window's bottom-left, y up; angles in
// degrees, counter-clockwise. Everything is drawn through the current model-view matrix in the
// current colour.
//
// Image quads of one texture in a row (renderImage, renderImagePart) are sent in one open batch
// that flushRenderer closes. Every other operation here, every script function that touches GL,
// text, and the frame's begin and end flush first; C++ code that calls GL itself after an image
// operation must call flushRenderer first too. After a flush the GL state is what it was
// before the operations: the model-view matrix and its stack depth, the current colour, and
// texture 0 bound to GL_TEXTURE_2D.
// Threads: main thread only, with the window's GL context current (scripts' Render, fonts,
// posed models). The image operations take a record the caller already holds under its
// resource lock (see resources/registry.h); they draw nothing for nullptr or an empty record.
#pragma once

struct Image;
struct lua_State;

void flushRenderer();  // draws the open image batch and binds texture 0; does nothing when none is open
// Draws the quads waiting in the batch but keeps it open, its texture bound: what comes before a
// change of the model-view matrix when the next quads are likely of the same texture (turned
// images, texts). Nothing without a GL context or an open batch.
void drawPendingQuads();
// Sets the current colour without closing the open batch (GL takes colour changes between a
// batch's vertices): the quads added next take it. Nothing without a GL context.
void renderColor(float red, float green, float blue, float alpha);
// What every other GL caller on the main thread does first: false (call no GL, draw nothing) when
// there is no GL context (no display); otherwise flushes the batch and returns true.
bool flushForDrawing();

// Shapes
void renderCircle(int x, int y, float radius, bool filled);  // |radius| < 0.5 draws nothing; <= 100 segments
void renderRectangle(int x1, int y1, int x2, int y2, bool filled);
// Turned by `rotation` degrees about (pivotX, pivotY), given in the corners' coordinates
void renderRectangleExt(float x1, float y1, float x2, float y2, bool filled, float rotation, float pivotX,
                        float pivotY);
void renderLine(int x1, int y1, int x2, int y2);

// Images: bottom-left corner at (x, y). Image pixel coordinates count from the image's
// bottom-left; a part with x2 < x1 (or y2 < y1) is placed with its right (top) edge at x (y).
void renderImage(const Image *image, float x, float y);
// Scaled from (x, y) and turned by `rot` about the scaled picture's centre
void renderImageExt(const Image *image, float x, float y, float rot, float scale);
void renderImagePart(const Image *image, float x, float y, int imgX1, int imgY1, int imgX2, int imgY2);
// Scaled from (x, y); turned about where (rotateX, rotateY) lands after scaling
void renderImagePartExt(const Image *image, float x, float y, int imgX1, int imgY1, int imgX2, int imgY2,
                        float rot, float scaleX, float scaleY, float rotateX, float rotateY);

// A 2D affine map the renderer applies to quad corners itself, before the model-view matrix:
// (x, y) -> (xx x + xy y + tx, yx x + yy y + ty). Drawing through it instead of matrix calls
// keeps the image batch open, so many transformed parts of one texture (the bones of a posed
// model) go to GL as one batch.
struct QuadTransform
{
    float xx = 1, xy = 0, yx = 0, yy = 1;
    float tx = 0, ty = 0;
};
// The cosine and sine glRotatef puts in its matrix for `degrees` about z (quarter turns exact).
struct QuadRotation
{
    float c = 1, s = 0;
};
QuadRotation quadRotation(float degrees);
// The transform of translate(x, y), rotate(degrees) about z, scale(sx, sy), in that order, as
// glTranslatef, glRotatef and glScalef would build it.
QuadTransform quadTransform(float x, float y, float degrees, float scaleX, float scaleY);
QuadTransform quadTransform(float x, float y, const QuadRotation &rotation, float scaleX, float scaleY);
// renderImagePart with its corners taken through `transform` first (part at (x, y) in the
// transform's own space).
void renderImagePartTransformed(const Image *image, const QuadTransform &transform, float x, float y, int imgX1,
                                int imgY1, int imgX2, int imgY2);

// setBackgroundColor ... drawImageExt as globals of L, in the engine's registration order. True.
bool registerDrawingFunctions(lua_State *L);
