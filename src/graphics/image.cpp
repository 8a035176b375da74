// graphics/image.cpp - the image loader and the image resource type (0).
//
// How a file becomes a texture: the whole file is read through DataFile (archive first) into one
// buffer; the engine checks the structure of the formats it takes (PNG, JPEG, BMP, Targa, GIF),
// because DevIL 1.7.8 trusts what file headers say; DevIL decodes it from memory, forced to RGB with the lower-left origin (so pixels come
// bottom row first, 3 bytes each, and the file's own alpha is dropped); the engine builds an RGBA
// buffer in one pass (colour key -> alpha 0, padding to power-of-two sizes with transparent key
// colour), recolours transparent pixels from their opaque neighbours so that filtering at the
// edges does not bleed the key colour in, optionally turns brightness into alpha, and uploads
// with gluBuild2DMipmaps. glFinish runs before the record is handed over, because the texture is
// made in the loader's context and drawn in the window's.
//
// Threads: loadImageFile on the resource-loading thread (or on the main thread in tests, with
// the window's context). DevIL keeps global state and is not re-entrant, so every decode holds
// devilLock. The load settings are unguarded: only the loading thread changes them, right before
// its own loads. initImageLibrary and registerImageResource on the main thread at start-up.
#include "graphics/image.h"

#include <GL/glew.h>
#include <GL/glu.h>
#include <IL/il.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/log.h"
#include "graphics/display.h"
#include "resources/data_file.h"
#include "resources/registry.h"

static ImageLoadSettings loadSettings;  // read by every load; loader thread (and start-up) only
static std::mutex devilLock;            // held for every use of DevIL's global state
static const Image placeholderImage;    // the empty record handles show until their image loads

// --- settings

void resetImageLoadSettings() { loadSettings = ImageLoadSettings(); }
void setColorKeyEnabled(bool enabled) { loadSettings.colorKeyEnabled = enabled; }
void setFixTransparentColors(bool enabled) { loadSettings.fixTransparentColors = enabled; }
void setEnlargeToPowerOfTwo(bool enabled) { loadSettings.enlargeToPowerOfTwo = enabled; }
void setSmoothFiltering(bool enabled) { loadSettings.smoothFiltering = enabled; }
void setAlphaFromBrightness(bool enabled) { loadSettings.alphaFromBrightness = enabled; }
void setColorKey(uint8_t red, uint8_t green, uint8_t blue)
{
    loadSettings.colorKey[0] = red;
    loadSettings.colorKey[1] = green;
    loadSettings.colorKey[2] = blue;
}
const ImageLoadSettings &imageLoadSettings() { return loadSettings; }

// DevIL allocates what a file's header claims before it reads the pixels. Refusing allocations
// larger than the biggest picture the engine accepts (8 bytes a pixel covers 16-bit RGBA) makes
// such a header a failed decode (DevIL reports IL_OUT_OF_MEMORY) instead of gigabytes taken.
static const size_t MAX_DECODER_ALLOCATION = (size_t)(MAX_IMAGE_PIXELS * 8 + (1u << 20));
static void *ILAPIENTRY boundedDecoderAlloc(const ILsizei size)
{
    return size > MAX_DECODER_ALLOCATION ? nullptr : malloc(size);
}
static void ILAPIENTRY decoderFree(const void *pointer) { free(const_cast<void *>(pointer)); }

bool initImageLibrary()
{
    static std::once_flag started;
    std::call_once(started, [] {
        std::lock_guard<std::mutex> guard(devilLock);
        ilInit();
        ilSetMemory(boundedDecoderAlloc, decoderFree);
    });
    resetImageLoadSettings();
    return true;
}

// --- conversions

static uint32_t powerOfTwoAtLeast(uint32_t n)
{
    uint32_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

// Every transparent pixel takes the average colour of its opaque neighbours: the pixels before
// and after it in buffer order (so a row's ends wrap into the neighbouring rows) and the pixels
// one row below and above. Only opaque pixels count and fixed pixels stay transparent, so the
// result does not depend on the order of the visit and the buffer can be changed in place.
// Padding (alpha 0) that touches only padding cannot change, so of the padding only the first
// column right of the picture, each row's last pixel (it wraps onto the next row's first) and
// the first row above the picture are visited: the cost follows the picture, not the buffer.
static void fixTransparentColors(uint8_t *rgba, uint32_t uploadWidth, uint32_t uploadHeight, uint32_t width,
                                 uint32_t height)
{
    const int64_t count = (int64_t)uploadWidth * uploadHeight;
    const int64_t row = uploadWidth;
    auto fixPixel = [&](int64_t i) {
        uint8_t *pixel = rgba + i * 4;
        if (pixel[3] != 0) return;
        const int64_t neighbours[4] = {i - 1, i + 1, i - row, i + row};
        unsigned red = 0, green = 0, blue = 0, found = 0;
        for (int64_t n : neighbours) {
            if (n < 0 || n >= count) continue;
            const uint8_t *other = rgba + n * 4;
            if (other[3] == 0) continue;
            red += other[0];
            green += other[1];
            blue += other[2];
            found++;
        }
        if (found == 0) return;
        pixel[0] = (uint8_t)(red / found);
        pixel[1] = (uint8_t)(green / found);
        pixel[2] = (uint8_t)(blue / found);
    };
    const uint32_t lastRow = std::min(height, uploadHeight - 1);
    const uint32_t lastColumn = std::min(width, uploadWidth - 1);
    for (uint32_t y = 0; y <= lastRow; y++) {
        const int64_t start = (int64_t)y * row;
        for (uint32_t x = 0; x <= lastColumn; x++) fixPixel(start + x);
        if (uploadWidth - 1 > lastColumn) fixPixel(start + uploadWidth - 1);
    }
}

// Visible pixels become white, with the brightness (the mean of the three channels) as alpha.
static void alphaFromBrightness(uint8_t *rgba, uint64_t count)
{
    for (uint64_t i = 0; i < count; i++, rgba += 4) {
        if (rgba[3] == 0) continue;
        rgba[3] = (uint8_t)(((unsigned)rgba[0] + rgba[1] + rgba[2]) / 3);
        rgba[0] = rgba[1] = rgba[2] = 255;
    }
}

bool convertImagePixels(const uint8_t *rgb, uint32_t width, uint32_t height, const ImageLoadSettings &settings,
                        ImagePixels &out)
{
    if (rgb == nullptr || width == 0 || height == 0) return false;
    const bool enlarge = settings.enlargeToPowerOfTwo;
    if (width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) return false;
    const uint32_t uploadWidth = enlarge ? powerOfTwoAtLeast(width) : width;
    const uint32_t uploadHeight = enlarge ? powerOfTwoAtLeast(height) : height;
    if (uploadWidth > MAX_IMAGE_SIDE || uploadHeight > MAX_IMAGE_SIDE) return false;
    if ((uint64_t)uploadWidth * uploadHeight > MAX_IMAGE_PIXELS) return false;

    out.width = width;
    out.height = height;
    out.uploadWidth = uploadWidth;
    out.uploadHeight = uploadHeight;
    out.maxU = enlarge ? (float)((double)width / uploadWidth) : 1.0f;
    out.maxV = enlarge ? (float)((double)height / uploadHeight) : 1.0f;
    out.rgba.resize((size_t)uploadWidth * uploadHeight * 4);

    const uint8_t keyRed = settings.colorKey[0], keyGreen = settings.colorKey[1], keyBlue = settings.colorKey[2];
    const bool keyed = settings.colorKeyEnabled;
    uint8_t *dst = out.rgba.data();
    for (uint32_t y = 0; y < height; y++) {
        const uint8_t *src = rgb + (size_t)y * width * 3;
        for (uint32_t x = 0; x < width; x++, src += 3, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = (keyed && src[0] == keyRed && src[1] == keyGreen && src[2] == keyBlue) ? 0 : 255;
        }
        for (uint32_t x = width; x < uploadWidth; x++, dst += 4) {
            dst[0] = keyRed;
            dst[1] = keyGreen;
            dst[2] = keyBlue;
            dst[3] = 0;
        }
    }
    for (uint64_t i = (uint64_t)height * uploadWidth; i < (uint64_t)uploadHeight * uploadWidth; i++, dst += 4) {
        dst[0] = keyRed;
        dst[1] = keyGreen;
        dst[2] = keyBlue;
        dst[3] = 0;
    }
    if (settings.fixTransparentColors) fixTransparentColors(out.rgba.data(), uploadWidth, uploadHeight, width, height);
    if (settings.alphaFromBrightness) alphaFromBrightness(out.rgba.data(), (uint64_t)uploadWidth * uploadHeight);
    return true;
}

// DevIL's description of the bound image agrees with itself: channel size matches the type,
// pixel size matches format and channel size, and the data holds every pixel. Some decoders
// break this on damaged or unusual files (16-bit PNM comes back as 1-byte channels of type
// short), and every later conversion trusts it, so such images are refused.
static bool devilImageConsistent()
{
    const ILint width = ilGetInteger(IL_IMAGE_WIDTH), height = ilGetInteger(IL_IMAGE_HEIGHT);
    const ILint depth = ilGetInteger(IL_IMAGE_DEPTH), bytesPerPixel = ilGetInteger(IL_IMAGE_BYTES_PER_PIXEL);
    const ILint bytesPerChannel = ilGetInteger(IL_IMAGE_BPC), dataSize = ilGetInteger(IL_IMAGE_SIZE_OF_DATA);
    int typeSize = 0, channels = 0;
    switch (ilGetInteger(IL_IMAGE_TYPE)) {
    case IL_BYTE: case IL_UNSIGNED_BYTE: typeSize = 1; break;
    case IL_SHORT: case IL_UNSIGNED_SHORT: case IL_HALF: typeSize = 2; break;
    case IL_INT: case IL_UNSIGNED_INT: case IL_FLOAT: typeSize = 4; break;
    case IL_DOUBLE: typeSize = 8; break;
    default: return false;
    }
    switch (ilGetInteger(IL_IMAGE_FORMAT)) {
    case IL_LUMINANCE: case IL_ALPHA: channels = 1; break;
    case IL_LUMINANCE_ALPHA: channels = 2; break;
    case IL_RGB: case IL_BGR: channels = 3; break;
    case IL_RGBA: case IL_BGRA: channels = 4; break;
    default: return false;  // colour-indexed data should have been expanded by the forced format
    }
    return ilGetData() != nullptr && width > 0 && height > 0 && depth > 0 && bytesPerChannel == typeSize &&
           bytesPerPixel == channels * typeSize && dataSize > 0 &&
           (uint64_t)width * (uint64_t)height * (uint64_t)depth * (uint64_t)bytesPerPixel <= (uint64_t)dataSize;
}

// Sets tooLarge for a real size past the limits (the one refusal the loader reports).
static bool sizeWithinLimits(int64_t width, int64_t height, bool &tooLarge)
{
    if (width <= 0 || height <= 0) return false;
    tooLarge = width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE || (uint64_t)(width * height) > MAX_IMAGE_PIXELS;
    return !tooLarge;
}

// PNG files. DevIL's reader hands libpng short reads at the end of the buffer without an error,
// so a chunk whose length field points far past the end (up to 2 GiB) is checksummed through
// for seconds. The chunk chain is walked here first: every chunk must lie inside the file, the
// chain must reach IEND, and the header's size must be inside the engine's limits.
static bool pngSafeToDecode(const uint8_t *data, size_t size, bool &tooLarge)
{
    auto bigEndian = [&](size_t at) {
        return (uint32_t)data[at] << 24 | (uint32_t)data[at + 1] << 16 | (uint32_t)data[at + 2] << 8 | data[at + 3];
    };
    size_t at = 8;  // after the signature
    bool first = true;
    while (at + 8 <= size) {
        const uint32_t length = bigEndian(at);
        if (length > size - at - 8 || size - at - 8 - length < 4) return false;  // data and CRC inside the file
        if (first) {
            if (memcmp(data + at + 4, "IHDR", 4) != 0 || length < 8) return false;
            if (!sizeWithinLimits(bigEndian(at + 8), bigEndian(at + 12), tooLarge)) return false;
            first = false;
        }
        if (memcmp(data + at + 4, "IEND", 4) == 0) return true;
        at += 12 + (size_t)length;
    }
    return false;  // no IEND: libpng would read on past the end
}

// Targa headers. DevIL allocates width x height from the header and, when that fails, flips a
// null buffer; it also trusts an uncompressed Targa to hold all its pixels. So sizes past the
// engine's limits, and uncompressed Targas cut short, are refused here.
static bool targaSafeToDecode(const uint8_t *data, size_t size, bool &tooLarge)
{
    if (size < 18) return false;
    const int idLength = data[0], mapType = data[1], imageType = data[2];
    const int mapLength = data[5] | data[6] << 8, mapEntryBits = data[7];
    const int width = data[12] | data[13] << 8, height = data[14] | data[15] << 8, bits = data[16];
    if (!sizeWithinLimits(width, height, tooLarge)) return false;
    if (imageType != 1 && imageType != 2 && imageType != 3) return true;  // run-length data: DevIL checks as it reads
    const uint64_t header = 18 + (uint64_t)idLength + (mapType ? (uint64_t)mapLength * ((mapEntryBits + 7) / 8) : 0);
    const uint64_t pixels = (uint64_t)width * height * (uint64_t)((bits + 7) / 8);
    return header + pixels <= size;
}

// BMP: DevIL seeks to the pixel offset of the header without checking it (a negative offset
// reads before the buffer) and reads palettes and uncompressed rows as the header describes.
static bool bitmapSafeToDecode(const uint8_t *data, size_t size, bool &tooLarge)
{
    auto le32 = [&](size_t at) { return (uint32_t)data[at] | data[at + 1] << 8 | data[at + 2] << 16 | (uint32_t)data[at + 3] << 24; };
    auto le16 = [&](size_t at) { return (uint32_t)(data[at] | data[at + 1] << 8); };
    if (size < 26) return false;
    const uint32_t headerSize = le32(14), offset = le32(10);
    int64_t width = 0, height = 0;
    uint32_t bits = 0, compression = 0, colours = 0;
    if (headerSize == 12) {  // OS/2
        width = le16(18);
        height = le16(20);
        bits = le16(24);
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 || headerSize == 108 || headerSize == 124) {
        if (size < 14 + (size_t)headerSize) return false;
        width = (int32_t)le32(18);
        height = (int32_t)le32(22);
        height = height < 0 ? -height : height;
        bits = le16(28);
        compression = le32(30);
        colours = le32(46);
    } else {
        return false;
    }
    if (!sizeWithinLimits(width, height, tooLarge)) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (bits <= 8) {
        if (colours == 0 || colours > (1u << bits)) colours = 1u << bits;
        if (14 + (uint64_t)headerSize + (uint64_t)colours * (headerSize == 12 ? 3 : 4) > size) return false;
    }
    if (offset < 14 + headerSize || offset >= size) return false;
    if (compression == 0) {
        const uint64_t stride = ((uint64_t)width * bits + 31) / 32 * 4;
        if (offset + stride * (uint64_t)height > size) return false;
    }
    return true;
}

// GIF files. DevIL paints every frame into a canvas of the logical screen's size without
// checking that the frame lies inside it. The block structure is walked here: each frame must
// lie inside the screen and use an LZW code size of 2 to 8, and no block may run past the end.
static bool gifSafeToDecode(const uint8_t *data, size_t size, bool &tooLarge)
{
    if (size < 13) return false;
    const int screenWidth = data[6] | data[7] << 8, screenHeight = data[8] | data[9] << 8;
    if (!sizeWithinLimits(screenWidth, screenHeight, tooLarge)) return false;
    size_t at = 13;
    if (data[10] & 0x80) at += 3u << ((data[10] & 7) + 1);  // global colour table
    auto skipSubBlocks = [&] {
        while (at < size && data[at] != 0) at += 1 + (size_t)data[at];
        if (at >= size) return false;
        at++;  // the terminating empty sub-block
        return true;
    };
    bool frames = false;
    while (at < size) {
        const uint8_t block = data[at++];
        if (block == 0x3B) return frames;  // trailer
        if (block == 0x21) {               // extension: label, then sub-blocks
            if (++at > size || !skipSubBlocks()) return false;
        } else if (block == 0x2C) {        // a frame
            if (at + 9 > size) return false;
            const int left = data[at] | data[at + 1] << 8, top = data[at + 2] | data[at + 3] << 8;
            const int width = data[at + 4] | data[at + 5] << 8, height = data[at + 6] | data[at + 7] << 8;
            const uint8_t flags = data[at + 8];
            if (width == 0 || height == 0 || left + width > screenWidth || top + height > screenHeight) return false;
            at += 9;
            if (flags & 0x80) at += 3u << ((flags & 7) + 1);  // local colour table
            if (at >= size || data[at] < 2 || data[at] > 8) return false;
            at++;
            if (!skipSubBlocks()) return false;
            frames = true;
        } else {
            return false;
        }
    }
    return frames;
}

// JPEG files: libjpeg is robust, but DevIL allocates the frame size it reports and does not
// survive that allocation failing. The first frame header (SOFn) is found and its size checked.
static bool jpegSafeToDecode(const uint8_t *data, size_t size, bool &tooLarge)
{
    size_t at = 2;  // after FF D8
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return false;
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            at++;
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {  // no length
            at += 2;
            continue;
        }
        const size_t length = (size_t)data[at + 2] << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > size) return false;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 7) return false;
            return sizeWithinLimits(data[at + 7] << 8 | data[at + 8], data[at + 5] << 8 | data[at + 6], tooLarge);
        }
        if (marker == 0xDA || marker == 0xD9) return false;  // scan or end before any frame header
        at += 2 + length;
    }
    return false;
}

// The formats a game's images come in, each checked before DevIL decodes it. Everything else
// DevIL knows is refused: fuzzing its 1.7.8 readers found a hang in ICNS and double frees in
// Netpbm (which also reads 16-bit samples into an 8-bit buffer and parses headers its own way),
// and the rarer readers (PSD, DDS, PCX, SGI, ICO and the rest) are of the same age.
static bool safeToDecode(ILenum type, const uint8_t *data, size_t size, bool &tooLarge)
{
    switch (type) {
    case IL_PNG: return pngSafeToDecode(data, size, tooLarge);
    case IL_JPG: return jpegSafeToDecode(data, size, tooLarge);
    case IL_BMP: return bitmapSafeToDecode(data, size, tooLarge);
    case IL_TGA: return targaSafeToDecode(data, size, tooLarge);
    case IL_GIF: return gifSafeToDecode(data, size, tooLarge);
    default: return false;
    }
}

// Colour-indexed pictures (GIF; PNG, BMP and Targa with palettes) expanded to RGB bytes here rather
// than by DevIL, whose palette conversion reads entry index x bytes-per-entry without comparing
// the index with the palette's length: a file whose pixels (or a GIF's background) name entries
// past a short palette read outside it (found by fuzzing; the read only faults now and then, as
// DevIL is not instrumented). Such pixels are black here. Caller holds devilLock.
static bool expandColourIndex(std::vector<uint8_t> &rgb)
{
    const ILint width = ilGetInteger(IL_IMAGE_WIDTH), height = ilGetInteger(IL_IMAGE_HEIGHT);
    const ILint depth = ilGetInteger(IL_IMAGE_DEPTH), dataSize = ilGetInteger(IL_IMAGE_SIZE_OF_DATA);
    // DevIL counts the entries from the palette's length in bytes: colours x entryBytes fit in it.
    const ILint colours = ilGetInteger(IL_PALETTE_NUM_COLS), entryBytes = ilGetInteger(IL_PALETTE_BPP);
    int red = 0, blue = 2;  // byte offsets within an entry
    switch (ilGetInteger(IL_PALETTE_TYPE)) {
    case IL_PAL_RGB24: case IL_PAL_RGB32: case IL_PAL_RGBA32: break;
    case IL_PAL_BGR24: case IL_PAL_BGR32: case IL_PAL_BGRA32: red = 2, blue = 0; break;
    default: return false;
    }
    const uint8_t *indices = ilGetData(), *palette = ilGetPalette();
    const uint64_t pixels = (uint64_t)width * (uint64_t)height;
    if (indices == nullptr || palette == nullptr || width <= 0 || height <= 0 || depth != 1 ||
        ilGetInteger(IL_IMAGE_BYTES_PER_PIXEL) != 1 || pixels > (uint64_t)dataSize || entryBytes < 3 ||
        colours < 0)
        return false;
    rgb.assign((size_t)pixels * 3, 0);
    for (size_t i = 0; i < (size_t)pixels; i++) {
        if (indices[i] >= colours) continue;  // black
        const uint8_t *entry = palette + (size_t)indices[i] * (size_t)entryBytes;
        rgb[i * 3] = entry[red], rgb[i * 3 + 1] = entry[1], rgb[i * 3 + 2] = entry[blue];
    }
    return true;
}

bool decodeImagePixels(const void *bytes, size_t size, const ImageLoadSettings &settings, ImagePixels &out,
                       bool *tooLarge)
{
    if (tooLarge) *tooLarge = false;
    if (bytes == nullptr || size == 0 || size > UINT_MAX) return false;
    std::lock_guard<std::mutex> guard(devilLock);
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    ilEnable(IL_ORIGIN_SET);
    ilDisable(IL_FORMAT_SET);  // colour-indexed pixels come back as they are: see expandColourIndex
    ilSetInteger(IL_ORIGIN_MODE, IL_ORIGIN_LOWER_LEFT);
    bool headerTooLarge = false;
    bool decoded = safeToDecode(ilDetermineTypeL(bytes, (ILuint)size), (const uint8_t *)bytes, size, headerTooLarge);
    if (headerTooLarge && tooLarge) *tooLarge = true;
    decoded = decoded && ilLoadL(IL_TYPE_UNKNOWN, bytes, (ILuint)size) == IL_TRUE;
    std::vector<uint8_t> expanded;
    const uint8_t *rgb = nullptr;
    if (decoded && ilGetInteger(IL_IMAGE_FORMAT) == IL_COLOUR_INDEX) {
        decoded = expandColourIndex(expanded);
        rgb = expanded.data();
    } else {
        // Other decoders hand back BGR, alpha, luminance or 16-bit channels: DevIL converts those.
        decoded = decoded && devilImageConsistent() && ilConvertImage(IL_RGB, IL_UNSIGNED_BYTE) == IL_TRUE &&
                  devilImageConsistent() && ilGetInteger(IL_IMAGE_FORMAT) == IL_RGB &&
                  ilGetInteger(IL_IMAGE_TYPE) == IL_UNSIGNED_BYTE;
        rgb = decoded ? ilGetData() : nullptr;
    }
    if (decoded) {
        const ILint width = ilGetInteger(IL_IMAGE_WIDTH), height = ilGetInteger(IL_IMAGE_HEIGHT);
        decoded = convertImagePixels(rgb, (uint32_t)width, (uint32_t)height, settings, out);
        if (!decoded && tooLarge) *tooLarge = true;
    }
    ilBindImage(0);
    ilDeleteImages(1, &name);
    return decoded;
}

// --- loading and upload

// Without a GL context on this thread (no display) the image keeps its size and no texture.
static void uploadPixels(const ImagePixels &pixels, bool smooth, Image &image)
{
    image.texture = 0;
    if (!hasGLContext()) return;
    GLuint texture = 0;
    glGenTextures(1, &texture);
    image.texture = texture;
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, smooth ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, smooth ? GL_LINEAR : GL_NEAREST);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);  // RGBA rows are always 4-byte aligned
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, (GLint)pixels.uploadWidth, (GLint)pixels.uploadHeight, GL_RGBA,
                      GL_UNSIGNED_BYTE, pixels.rgba.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    glFinish();  // the window's context may draw it as soon as the record holds it
}

static bool failLoad(Image &image)
{
    image.texture = 0;
    image.width = 1;
    image.height = 1;
    return false;
}

bool loadImageFile(const std::string &path, Image &image)
{
    DataFile file;
    if (!file.openForRead(path)) return failLoad(image);
    const int64_t size = file.size();
    std::vector<uint8_t> bytes;
    if (size > 0 && size <= (int64_t)UINT_MAX) {
        bytes.resize((size_t)size);
        if (!file.readBytes(bytes.data(), bytes.size())) bytes.clear();
    }
    file.close();
    image.maxU = 1;
    image.maxV = 1;

    ImagePixels pixels;
    bool tooLarge = false;
    if (!decodeImagePixels(bytes.data(), bytes.size(), loadSettings, pixels, &tooLarge)) {
        if (tooLarge) logError("Image '" + path + "' is too large to load (at most 16384 pixels a side, 8192 x 8192 in all).");
        return failLoad(image);
    }
    image.width = pixels.width;
    image.height = pixels.height;
    image.maxU = pixels.maxU;
    image.maxV = pixels.maxV;
    uploadPixels(pixels, loadSettings.smoothFiltering, image);
    return true;
}

void freeImage(Image *image)
{
    if (image == nullptr || image == &placeholderImage) return;
    deleteTexture(image->texture);
    delete image;
}

static std::atomic<uint32_t> deletedTextures{0};  // deletions so far; written by the loader, read by the renderer

void deleteTexture(uint32_t texture)
{
    if (texture == 0 || !hasGLContext()) return;  // no context: the texture went with it
    const GLuint name = texture;
    glDeleteTextures(1, &name);
    deletedTextures++;
}

uint32_t textureDeletions() { return deletedTextures.load(); }

const Image *emptyImage() { return &placeholderImage; }

// --- the image resource type

// Loader thread. The record is returned whether or not the file loaded (a failed one is 1 x 1
// with texture 0, and counts as ready).
static void *loadImageResource(const ResourceKey &key)
{
    Image *image = new Image();
    resetImageLoadSettings();
    setEnlargeToPowerOfTwo(true);
    setColorKeyEnabled(true);
    setFixTransparentColors(true);
    setColorKey(255, 128, 255);
    loadImageFile(key.directory + key.name, *image);
    return image;
}

// Loader thread, or the main thread at shutdown: both have a context that shares the texture.
static int unloadImageResource(void **object)
{
    freeImage((Image *)*object);
    *object = nullptr;
    return 0;
}

static void *imagePlaceholder() { return (void *)&placeholderImage; }

bool registerImageResource()
{
    return registerResourceType(RESOURCE_IMAGE, {loadImageResource, unloadImageResource, imagePlaceholder});
}
