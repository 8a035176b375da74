// image_fuzz - libFuzzer target: the first byte picks the load settings, the rest is an image file.
#include <cstddef>
#include <cstdint>

#include "graphics/image.h"

// DevIL 1.7.8 itself leaks small blocks (24 bytes from ialloc) on some damaged PNGs: suppressed here.
extern "C" const char *__lsan_default_suppressions() { return "leak:libIL.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = initImageLibrary();
    if (size < 1 || !ready) return 0;
    ImageLoadSettings settings;
    settings.colorKeyEnabled = data[0] & 1, settings.fixTransparentColors = data[0] & 2;
    settings.enlargeToPowerOfTwo = data[0] & 4, settings.alphaFromBrightness = data[0] & 8;
    settings.colorKey[1] = (data[0] & 16) ? 128 : 255;
    ImagePixels pixels;
    unsigned sum = 0;  // touch the whole RGBA buffer, as the upload would
    if (decodeImagePixels(data + 1, size - 1, settings, pixels)) {
        for (size_t i = 0; i < pixels.rgba.size(); i += 61) sum += pixels.rgba[i];
        if (pixels.rgba.size() != (size_t)pixels.uploadWidth * pixels.uploadHeight * 4 || sum == 0xFFFFFFFFu) __builtin_trap();
    }
    return 0;
}
