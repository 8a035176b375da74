// Images: pixel conversions, decoding of files made by ImageMagick, loading as a resource and drawing.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cstring>
#include <filesystem>

#include "graphics/display.h"
#include "graphics/image.h"
#include "graphics/renderer.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"
#include "test_support.h"

namespace {

// Writes a picture (0xRRGGBB, top row first) with ImageMagick: `target` e.g. "PNG24:a.png".
bool makeImage(const std::string &dir, const std::vector<uint32_t> &picture, size_t width, const std::string &target,
               const std::string &options = "")
{
    std::string ppm = "P6 " + std::to_string(width) + " " + std::to_string(picture.size() / width) + " 255\n";
    for (uint32_t p : picture) ppm += {char(p >> 16), char(p >> 8), char(p)};
    writeFile(dir + "/source.ppm", ppm);
    return system(("cd '" + dir + "' && convert source.ppm " + options + " " + target + " 2>/dev/null").c_str()) == 0;
}

// Power-of-two padding with maxU/maxV, edge colours from neighbours, alpha from brightness (the key: on screen).
TEST(ImageConversion, ColourKeyPaddingEdgeColoursAndBrightness)
{
    struct Case { std::vector<uint8_t> rgb; uint32_t width, height; bool brightness; const char *sizes;
                  std::vector<std::array<uint32_t, 3>> expected; };  // rgb bottom row first; x, y, 0xRRGGBBAA
    const Case cases[] = {
        // Transparent pixels average their opaque neighbours (left and right wrap across rows); none: the key.
        {{255, 0, 0, 255, 128, 255, 0, 255, 0, 200, 200, 200, 100, 100, 100, 0, 100, 200, 0, 0, 255, 255, 128, 255,
          255, 128, 255, 60, 60, 60}, 5, 2, false, "5x2 in 8x2, maxU 0.625 maxV 1",
         {{1, 0, 0x55555500}, {2, 1, 0x007F7F00}, {3, 1, 0x82828200}, {5, 0, 0x64646400}, {7, 0, 0x0064C800},
          {6, 0, 0xFF80FF00}, {7, 1, 0xFF80FF00}}},
        {std::vector<uint8_t>(33 * 20 * 3, 100), 33, 20, false, "33x20 in 64x32, maxU 0.515625 maxV 0.625",
         {{32, 19, 0x646464FF}, {33, 19, 0x64646400}, {5, 20, 0x64646400}, {50, 30, 0xFF80FF00}}},
        {{90, 90, 90, 30, 60, 91}, 2, 1, true, "2x1 in 2x1, maxU 1 maxV 1", {{0, 0, 0xFFFFFF5A}, {1, 0, 0xFFFFFF3C}}},
    };
    for (const Case &c : cases) {
        ImagePixels out;
        ImageLoadSettings settings;  // as the image resource type loads, key (255, 128, 255)
        settings.colorKeyEnabled = settings.enlargeToPowerOfTwo = true;
        settings.colorKey[1] = 128;
        settings.alphaFromBrightness = c.brightness;
        ASSERT_TRUE(convertImagePixels(c.rgb.data(), c.width, c.height, settings, out));
        char sizes[80];
        snprintf(sizes, sizeof sizes, "%ux%u in %ux%u, maxU %g maxV %g", out.width, out.height, out.uploadWidth,
                 out.uploadHeight, out.maxU, out.maxV);
        EXPECT_STREQ(c.sizes, sizes);
        ASSERT_EQ(size_t(out.uploadWidth) * out.uploadHeight * 4, out.rgba.size()) << c.sizes;
        for (auto e : c.expected) {
            const uint8_t *p = &out.rgba[(e[1] * out.uploadWidth + e[0]) * 4];  // y from the bottom
            EXPECT_EQ(e[2], uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3])
                << c.sizes << ": pixel (" << e[0] << ", " << e[1] << ")";
        }
    }
}

// Colour-indexed pixels are expanded by the engine: palette colours in place (channel order, index
// bound), entries past a cut palette black.
TEST(ImageDecode, IndicesPastAShortPaletteAreBlack)
{
    initImageLibrary();
    TempDir dir;
    ASSERT_TRUE(makeImage(dir.path(), {0xFF0000, 0xFF, 0xFF00, 0xFFFFFF}, 4, "GIF:four.gif"));
    std::string gif = readFile(dir.file("four.gif"));
    ASSERT_EQ(1, gif[10] & 7) << "a global palette of four entries";
    ImagePixels full, cut;
    ASSERT_TRUE(decodeImagePixels(gif.data(), gif.size(), ImageLoadSettings(), full));
    const std::string kept = gif.substr(13, 6);  // entries 0 and 1 stay; the pixels still name all four
    gif[10] &= ~7, gif.erase(13 + 6, 6);
    ASSERT_TRUE(decodeImagePixels(gif.data(), gif.size(), ImageLoadSettings(), cut));
    for (size_t i = 0; i < 4; i++) {
        const std::string colour(full.rgba.begin() + i * 4, full.rgba.begin() + i * 4 + 3);
        const size_t entry = kept.find(colour);
        const std::string expected = entry != std::string::npos && entry % 3 == 0 ? colour : std::string(3, '\0');
        EXPECT_EQ(expected, std::string(cut.rgba.begin() + i * 4, cut.rgba.begin() + i * 4 + 3)) << "pixel " << i;
    }
}

// Damaged files (the fuzzer's findings that made DevIL crash or hang) and Netpbm are refused before
// DevIL sees them, and a good file decodes after them (decoded pixels: ImageResource below).
TEST(ImageDecode, DamagedFilesAreRefused)
{
    initImageLibrary();
    TempDir dir;
    ASSERT_TRUE(makeImage(dir.path(), {0xFF0000, 0xFF00, 0xFF, 0xFFFFFF, 0, 0x808080}, 3, "PNG24:p.png"));
    const std::string good = readFile(dir.file("p.png")), png = "\x89PNG\r\n\x1a\n";
    std::vector<std::pair<std::string, std::string>> inputs = {
        {"empty", ""}, {"words", "not an image at all"}, {"PNG cut after 40 bytes", good.substr(0, 40)},
        {"PNG signature only", png}, {"zeros", std::string(4096, '\0')},
        {"PNG then 0xFF", png + std::string(100, '\xff')}, {"Netpbm", "P6\n1 1\n255\n\x10\x20\x30"}};
    for (const auto &entry : std::filesystem::directory_iterator(QF_SOURCE_DIR "/tests/fuzz/regressions/image"))
        inputs.push_back({entry.path().filename(), readFile(entry.path()).substr(1)});  // after the fuzzer's byte
    EXPECT_GE(inputs.size(), 11u) << "the fuzzer's findings are missing";
    for (const auto &input : inputs) {
        ImagePixels out;
        EXPECT_FALSE(decodeImagePixels(input.second.data(), input.second.size(), ImageLoadSettings(), out))
            << input.first;
    }
    ImagePixels out;
    EXPECT_TRUE(decodeImagePixels(good.data(), good.size(), ImageLoadSettings(), out)) << "a good file after them";
}

// Missing or undecodable (too large: tests/e2e/bad_input_test.cpp): false, texture 0, 1 x 1, silent.
TEST(ImageLoad, FailuresLeaveAOneByOneRecordWithoutTexture)
{
    initImageLibrary();
    TempDir dir;
    writeFile(dir.file("broken.png"), "\x89PNG\r\n\x1a\n broken");
    for (const char *name : {"nothing.png", "broken.png"}) {
        Image image;
        const std::string want = name[0] == 'n' ? "0 texture 0, 1 x 1, maxU 0" : "0 texture 0, 1 x 1, maxU 1";
        bool loaded = true;
        EXPECT_EQ("", captureStderr([&] { loaded = loadImageFile(dir.file(name), image); })) << name;
        char record[80];
        snprintf(record, sizeof record, "%d texture %u, %u x %u, maxU %g", loaded, image.texture, image.width,
                 image.height, image.maxU);
        EXPECT_EQ(want, record) << name;
    }
}

// Loaded on the loader thread, drawn on the main one: key transparent, one off opaque, PNG alpha ignored,
// rows in place; a missing file is ready; unload frees.
TEST(ImageResources, ColourKeyOnScreenAndUnload)
{
    REQUIRE_DISPLAY();
    TempDir dir;
    initImageLibrary();
    ASSERT_TRUE(startResourceManager() && registerImageResource());
    struct Stop
    {
        ~Stop() { shutdownResourceManager(), setResourceDirectory(RESOURCE_IMAGE, ""); }
    } stop;
    setResourceDirectory(RESOURCE_IMAGE, dir.path() + "/");
    ASSERT_TRUE(makeImage(dir.path(), {0x2040C0, 0xC04020, 0xFF80FF, 0xFF7FFF}, 2, "PNG32:key.png",
                          "-alpha set -channel A -evaluate set 0 +channel"));
    ResourceRecord *key = findOrCreateResource({"key.png", resourceDirectory(RESOURCE_IMAGE), RESOURCE_IMAGE});
    ResourceRecord *missing = findOrCreateResource({"nothing.png", resourceDirectory(RESOURCE_IMAGE), RESOURCE_IMAGE});
    acquireResource(key, 1);
    acquireResource(missing, 1);
    waitForLoaderThread();
    ASSERT_TRUE(isResourceReady(key) && isResourceReady(missing));
    EXPECT_EQ(0u, ((const Image *)lockResource(missing))->texture);
    unlockResource(missing);
    const Image *image = (const Image *)lockResource(key);
    const GLuint texture = image->texture;
    glClearColor(0, 1, 0, 1);
    beginFrame();
    renderImage(image, 10, 10);
    endFrame();
    unlockResource(key);
    glClearColor(0, 0, 0, 1);
    const struct { int x, y; uint32_t rgb; const char *what; } expected[] = {
        {10, 10, 0x00FF00, "(255,128,255) is transparent"}, {11, 10, 0xFF7FFF, "(255,127,255) is opaque"},
        {10, 11, 0x2040C0, "the PNG's alpha 0 is ignored"}, {11, 11, 0xC04020, "top right"},
        {12, 10, 0x00FF00, "beside"}};
    for (auto e : expected) EXPECT_EQ(e.rgb, pixelAt(e.x, e.y)) << e.what;
    releaseResource(key);
    waitForLoaderThread();
    EXPECT_FALSE(glIsTexture(texture)) << "the unload deleted the texture";
}

}  // namespace
