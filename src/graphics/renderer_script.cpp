// graphics/renderer_script.cpp - the seventeen drawing functions scripts call from Render.
// Each checks its exact argument count first and raises its fixed message (nothing drawn), then
// reads its arguments without type checks: integers with lua_tointeger, numbers with
// lua_tonumber narrowed to float, booleans with Lua truth. Image functions take a handle from
// getImageHandle; anything else (nil, a number, another type's handle) draws nothing, and so
// does an image that is not loaded yet. The record is read under its lock: the loader thread
// cannot replace or free it during the draw.
// Threads: main thread only (script calls). Without the window's GL context (no display) each
// function still checks its arguments and then draws nothing.
#include <GL/glew.h>

#include "core/script.h"
#include "graphics/display.h"
#include "graphics/image.h"
#include "graphics/renderer.h"
#include "resources/registry.h"
#include "resources/resource_script.h"

static int intArg(lua_State *L, int i) { return (int)lua_tointeger(L, i); }
static float numberArg(lua_State *L, int i) { return (float)lua_tonumber(L, i); }
static bool boolArg(lua_State *L, int i) { return lua_toboolean(L, i) != 0; }

// setBackgroundColor(red, green, blue): 0..1 each, passed on unclamped (GL clamps on clear)
static int setBackgroundColor(lua_State *L)
{
    if (lua_gettop(L) != 3) return raiseUsage(L, "3 args needed: red, green, blue");
    if (!flushForDrawing()) return 0;
    glClearColor(numberArg(L, 1), numberArg(L, 2), numberArg(L, 3), 1.0f);
    return 0;
}

// setRenderColor(red, green, blue, alpha): 0..255 each; only the low 8 bits count (300 -> 44)
static int setRenderColor(lua_State *L)
{
    if (lua_gettop(L) != 4) return raiseUsage(L, "4 args needed: red, green, blue, alpha");
    if (!flushForDrawing()) return 0;
    glColor4ub((GLubyte)lua_tointeger(L, 1), (GLubyte)lua_tointeger(L, 2), (GLubyte)lua_tointeger(L, 3),
               (GLubyte)lua_tointeger(L, 4));
    return 0;
}

// pushMatrix() / popMatrix(): the model-view stack; the engine never resets it between frames
static int pushMatrix(lua_State *L)
{
    if (lua_gettop(L) != 0) return raiseUsage(L, "0 args needed");
    if (!flushForDrawing()) return 0;
    glPushMatrix();
    return 0;
}

static int popMatrix(lua_State *L)
{
    if (lua_gettop(L) != 0) return raiseUsage(L, "0 args needed");
    if (!flushForDrawing()) return 0;
    glPopMatrix();
    return 0;
}

// rotateRender(angle): degrees, counter-clockwise, about z
static int rotateRender(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg needed");
    if (!flushForDrawing()) return 0;
    glRotatef(numberArg(L, 1), 0, 0, 1);
    return 0;
}

// scaleRender(sx, sy)
static int scaleRender(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args needed");
    if (!flushForDrawing()) return 0;
    glScalef(numberArg(L, 1), numberArg(L, 2), 1);
    return 0;
}

// translateRender(x, y, z)
static int translateRender(lua_State *L)
{
    if (lua_gettop(L) != 3) return raiseUsage(L, "3 args needed");
    if (!flushForDrawing()) return 0;
    glTranslatef(numberArg(L, 1), numberArg(L, 2), numberArg(L, 3));
    return 0;
}

// drawCircle(x, y, radius, filled)
static int drawCircle(lua_State *L)
{
    if (lua_gettop(L) != 4) return raiseUsage(L, "4 args needed: x, y, radius, filled");
    renderCircle(intArg(L, 1), intArg(L, 2), numberArg(L, 3), boolArg(L, 4));
    return 0;
}

// drawRectangle(x1, y1, x2, y2, filled)
static int drawRectangle(lua_State *L)
{
    if (lua_gettop(L) != 5) return raiseUsage(L, "5 args needed: x1, y1, x2, y2, filled");
    renderRectangle(intArg(L, 1), intArg(L, 2), intArg(L, 3), intArg(L, 4), boolArg(L, 5));
    return 0;
}

// drawLine(x1, y1, x2, y2)
static int drawLine(lua_State *L)
{
    if (lua_gettop(L) != 4) return raiseUsage(L, "4 args needed: x1, y1, x2, y2");
    renderLine(intArg(L, 1), intArg(L, 2), intArg(L, 3), intArg(L, 4));
    return 0;
}

// drawRectangleExt(x1, y1, x2, y2, filled, rotation, pivotX, pivotY)
static int drawRectangleExt(lua_State *L)
{
    if (lua_gettop(L) != 8) return raiseUsage(L, "8 args needed: x1, y1, x2, y2, filled, rotation, pivotX, pivotY");
    renderRectangleExt(numberArg(L, 1), numberArg(L, 2), numberArg(L, 3), numberArg(L, 4), boolArg(L, 5),
                       numberArg(L, 6), numberArg(L, 7), numberArg(L, 8));
    return 0;
}

// getDisplayWidth() / getDisplayHeight() -> the display size; any argument count
static int getDisplayWidth(lua_State *L)
{
    lua_pushinteger(L, displayWidth());
    return 1;
}

static int getDisplayHeight(lua_State *L)
{
    lua_pushinteger(L, displayHeight());
    return 1;
}

// Runs draw(image) with the image behind the handle in argument 1, under its record's lock.
// Nothing for a value that is not an image handle. An image that is not loaded is the empty
// placeholder or none, which the render operations draw as nothing: that is the readiness check
// (a separate one would only take the lock once more).
template <class Draw> static void withImageArgument(lua_State *L, Draw draw)
{
    ResourceRecord *record = handleArgument(L, 1, RESOURCE_IMAGE);
    if (record == nullptr) return;
    draw(static_cast<const Image *>(lockResource(record)));
    unlockResource(record);
}

// drawImage(image, x, y)
static int drawImage(lua_State *L)
{
    if (lua_gettop(L) != 3) return raiseUsage(L, "3 args needed: image, x, y");
    const float x = numberArg(L, 2), y = numberArg(L, 3);
    withImageArgument(L, [&](const Image *image) { renderImage(image, x, y); });
    return 0;
}

// drawImageExt(image, x, y, rot, scale)
static int drawImageExt(lua_State *L)
{
    if (lua_gettop(L) != 5) return raiseUsage(L, "5 args needed: image, x, y, rot, scale");
    const float x = numberArg(L, 2), y = numberArg(L, 3), rot = numberArg(L, 4), scale = numberArg(L, 5);
    withImageArgument(L, [&](const Image *image) { renderImageExt(image, x, y, rot, scale); });
    return 0;
}

// drawImagePart(image, x, y, imgX1, imgY1, imgX2, imgY2)
static int drawImagePart(lua_State *L)
{
    if (lua_gettop(L) != 7) return raiseUsage(L, "7 args needed: image, x, y, imgX1, imgY1, imgX2, imgY2");
    const float x = numberArg(L, 2), y = numberArg(L, 3);
    const int x1 = intArg(L, 4), y1 = intArg(L, 5), x2 = intArg(L, 6), y2 = intArg(L, 7);
    withImageArgument(L, [&](const Image *image) { renderImagePart(image, x, y, x1, y1, x2, y2); });
    return 0;
}

// drawImagePartExt(image, x, y, imgX1, imgY1, imgX2, imgY2, rot, scaleX, scaleY, rotateX, rotateY)
static int drawImagePartExt(lua_State *L)
{
    if (lua_gettop(L) != 12)
        return raiseUsage(L, "12 args needed: image, x, y, imgX1, imgY1, imgX2, imgY2, rot, scaleX, scaleY, rotateX, "
                             "rotateY");
    const float x = numberArg(L, 2), y = numberArg(L, 3);
    const int x1 = intArg(L, 4), y1 = intArg(L, 5), x2 = intArg(L, 6), y2 = intArg(L, 7);
    const float rot = numberArg(L, 8), scaleX = numberArg(L, 9), scaleY = numberArg(L, 10);
    const float rotateX = numberArg(L, 11), rotateY = numberArg(L, 12);
    withImageArgument(L, [&](const Image *image) {
        renderImagePartExt(image, x, y, x1, y1, x2, y2, rot, scaleX, scaleY, rotateX, rotateY);
    });
    return 0;
}

// The engine's registration order.
static const luaL_Reg drawingFunctions[] = {
    {"setBackgroundColor", setBackgroundColor},
    {"setRenderColor", setRenderColor},
    {"pushMatrix", pushMatrix},
    {"rotateRender", rotateRender},
    {"scaleRender", scaleRender},
    {"translateRender", translateRender},
    {"popMatrix", popMatrix},
    {"drawCircle", drawCircle},
    {"drawRectangle", drawRectangle},
    {"drawLine", drawLine},
    {"drawRectangleExt", drawRectangleExt},
    {"getDisplayWidth", getDisplayWidth},
    {"getDisplayHeight", getDisplayHeight},
    {"drawImagePart", drawImagePart},
    {"drawImagePartExt", drawImagePartExt},
    {"drawImage", drawImage},
    {"drawImageExt", drawImageExt},
    {nullptr, nullptr}};

bool registerDrawingFunctions(lua_State *L)
{
    registerFunctions(L, drawingFunctions);
    return true;
}
