// graphics/image.h - image records and the image loader (DevIL decode, pixel conversion, GL upload).
//
// A file (PNG, JPEG, BMP, Targa or GIF) is decoded by DevIL from memory as RGB, bottom row first
// (any alpha of the file is dropped), then converted by the engine: colour key to transparency, optional enlargement to
// power-of-two sizes, recolouring of transparent pixels from their opaque neighbours, optional
// alpha from brightness; then uploaded with mipmaps.
//
// Threads: images load on the resource-loading thread with its shared context current (the
// upload calls glFinish before the record is handed over); records are drawn by the main thread
// under their resource lock. DevIL is not re-entrant: every decode here holds one mutex, so
// decodeImagePixels may be called from any thread. The load settings are one unguarded set that
// only the loading thread uses (reset, set, load, with nothing in between).
// Failure: loadImageFile returns false and leaves texture 0 and a 1 x 1 size; it prints nothing,
// except one "ERROR: " line for a picture too large to hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What drawing needs to know of an uploaded picture.
struct Image
{
    uint32_t texture = 0;  // GL texture name; 0 for none
    float maxU = 0;        // texture coordinate of the picture's right edge (width / uploaded width)
    float maxV = 0;        // ... and of its top edge
    uint32_t width = 0;    // picture size in pixels, before any enlargement
    uint32_t height = 0;
};

// How the next loads convert pixels. Each resource kind's loader resets it, then sets what it needs.
struct ImageLoadSettings
{
    bool colorKeyEnabled = false;      // pixels equal to colorKey become fully transparent
    bool fixTransparentColors = true;  // transparent pixels take their opaque neighbours' average colour
    bool enlargeToPowerOfTwo = false;  // pad to power-of-two sizes (maxU/maxV < 1) instead of GLU rescaling
    bool smoothFiltering = true;       // linear + mipmaps; off: nearest pixel
    uint8_t colorKey[3] = {255, 255, 255};  // red, green, blue
    bool alphaFromBrightness = false;  // visible pixels become white with alpha = brightness
};

// Pixels ready for upload: RGBA, bottom row first, uploadWidth x uploadHeight.
struct ImagePixels
{
    uint32_t width = 0, height = 0;              // the picture's size
    uint32_t uploadWidth = 0, uploadHeight = 0;  // the buffer's size (enlarged or the same)
    float maxU = 1, maxV = 1;
    std::vector<uint8_t> rgba;
};

// The largest buffer the engine will build: each side at most 16384, at most 8192 x 8192 pixels.
static const uint32_t MAX_IMAGE_SIDE = 16384;
static const uint64_t MAX_IMAGE_PIXELS = 8192ull * 8192ull;

// --- start-up (main thread)
bool initImageLibrary();     // ilInit (once per process) and the default load settings
bool registerImageResource();  // resource type 0: load with colour key (255,128,255) and enlargement

// --- load settings (loader thread; also reset once at start-up)
void resetImageLoadSettings();
void setColorKeyEnabled(bool enabled);
void setFixTransparentColors(bool enabled);
void setEnlargeToPowerOfTwo(bool enabled);
void setSmoothFiltering(bool enabled);
void setColorKey(uint8_t red, uint8_t green, uint8_t blue);
void setAlphaFromBrightness(bool enabled);
const ImageLoadSettings &imageLoadSettings();

// --- loading (on the loader thread, or the main thread with the window's context)
// Reads `path` through DataFile (archive first), decodes, converts with the current settings and
// uploads with mipmaps into the empty `image`. False: texture 0 and size 1 x 1. With no GL context
// on the calling thread (no display) nothing is uploaded: the image has its size and texture 0.
bool loadImageFile(const std::string &path, Image &image);
void freeImage(Image *image);  // deletes the texture and the record; nullptr does nothing
// glDeleteTextures of one name (0, or no GL context on this thread, does nothing), counted: the renderer ends an open batch when
// the count moves, so a texture name the loader freed and handed out again is bound afresh.
void deleteTexture(uint32_t texture);
uint32_t textureDeletions();  // any thread
const Image *emptyImage();     // the placeholder handles give out while their image is not loaded

// --- decoding and conversion without GL (any thread; tests and fuzzing)
// DevIL decode of a whole file in memory, then convertImagePixels. False when the file is not a
// PNG, JPEG, BMP, Targa or GIF that the engine's checks of its structure accept (DevIL 1.7.8
// hangs or crashes on some damaged files, see image.cpp), when DevIL cannot decode it, or when
// the picture is larger than the limits above (`tooLarge` is set for the last case only).
bool decodeImagePixels(const void *bytes, size_t size, const ImageLoadSettings &settings, ImagePixels &out,
                       bool *tooLarge = nullptr);
// The engine's conversions of RGB pixels (bottom row first). False (out untouched) when the
// enlarged buffer would exceed the limits.
bool convertImagePixels(const uint8_t *rgb, uint32_t width, uint32_t height, const ImageLoadSettings &settings,
                        ImagePixels &out);
