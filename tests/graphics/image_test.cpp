// Images: the engine's pixel conversions, DevIL decoding of files made by ImageMagick, and images
// loaded as resources on the real loader thread, then drawn by the main thread and read back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <GL/glew.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <random>

#include "graphics/display.h"
#include "graphics/image.h"
#include "graphics/renderer.h"
#include "resources/archive.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"
#include "test_support.h"

namespace {

// Pixels as 0xRRGGBB, rows listed top first (as one looks at a picture).
using Picture = std::vector<uint32_t>;

// Writes `picture` through ImageMagick: `target` is e.g. "PNG24:a.png", "BMP3:a.bmp",
// "-orient TopLeft a.tga"; `options` go between the input and the target.
bool makeImageFile(const std::string &folder, const Picture &picture, int width, int height, const std::string &target,
                   const std::string &options = "")
{
    std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (uint32_t p : picture) {
        ppm += char(p >> 16);
        ppm += char(p >> 8 & 255);
        ppm += char(p & 255);
    }
    writeFile(folder + "/source.ppm", ppm);
    const std::string command = "cd '" + folder + "' && convert source.ppm " + options + " " + target + " 2>/dev/null";
    return system(command.c_str()) == 0;
}

Picture solid(int width, int height, uint32_t colour) { return Picture((size_t)width * height, colour); }

// RGBA of one pixel of converted pixels, x from the left, y from the bottom.
uint32_t rgbaAt(const ImagePixels &pixels, uint32_t x, uint32_t y)
{
    const uint8_t *p = &pixels.rgba[((size_t)y * pixels.uploadWidth + x) * 4];
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

ImageLoadSettings resourceSettings()  // what the image resource type loads with
{
    ImageLoadSettings settings;
    settings.enlargeToPowerOfTwo = true;
    settings.colorKeyEnabled = true;
    settings.colorKey[0] = 255;
    settings.colorKey[1] = 128;
    settings.colorKey[2] = 255;
    return settings;
}

// --- conversions, no GL

TEST(ImageConversion, ColourKeyEnlargementFixingAndBrightness)
{
    const ImageLoadSettings resource = resourceSettings();
    ImageLoadSettings brightness;
    brightness.alphaFromBrightness = true;
    ImageLoadSettings plain;
    ImageLoadSettings noFix = resource;
    noFix.fixTransparentColors = false;

    struct Case
    {
        const char *what;
        std::vector<uint8_t> rgb;  // bottom row first
        uint32_t width, height;
        ImageLoadSettings settings;
        uint32_t uploadWidth, uploadHeight;
        std::vector<std::pair<std::pair<uint32_t, uint32_t>, uint32_t>> expected;  // (x, y) -> 0xRRGGBBAA
    };
    const Case cases[] = {
        {"exact key is transparent, one step off is opaque",
         {255, 128, 255, 255, 127, 255}, 2, 1, noFix, 2, 1,
         {{{0, 0}, 0xFF80FF00}, {{1, 0}, 0xFF7FFFFF}}},
        {"key off: the key colour stays opaque", {255, 128, 255}, 1, 1, plain, 1, 1, {{{0, 0}, 0xFF80FFFF}}},
        {"transparent next to red takes red, keeps alpha 0",
         {200, 0, 0, 255, 128, 255}, 2, 1, resource, 2, 1, {{{0, 0}, 0xC80000FF}, {{1, 0}, 0xC8000000}}},
        {"between red and blue: the average, integer division",
         {255, 0, 0, 255, 128, 255, 0, 0, 255, 9, 9, 9}, 4, 1, resource, 4, 1, {{{1, 0}, 0x7F007F00}}},
        {"padding right of the picture and above it",
         {10, 20, 30, 40, 50, 60, 70, 80, 90}, 3, 1, resource, 4, 1,
         {{{2, 0}, 0x46505AFF}, {{3, 0}, 0x46505A00}}},
        {"a lone transparent pixel keeps the key colour",
         {255, 128, 255}, 1, 1, resource, 1, 1, {{{0, 0}, 0xFF80FF00}}},
        {"grey (90,90,90) becomes white with alpha 90",
         {90, 90, 90, 30, 60, 91}, 2, 1, brightness, 2, 1, {{{0, 0}, 0xFFFFFF5A}, {{1, 0}, 0xFFFFFF3C}}},
        {"no enlargement: odd sizes kept", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 3, 1, plain, 3, 1, {{{2, 0}, 0x070809FF}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ImagePixels out;
        ASSERT_TRUE(convertImagePixels(c.rgb.data(), c.width, c.height, c.settings, out));
        EXPECT_EQ(c.width, out.width);
        EXPECT_EQ(c.height, out.height);
        EXPECT_EQ(c.uploadWidth, out.uploadWidth);
        EXPECT_EQ(c.uploadHeight, out.uploadHeight);
        ASSERT_EQ((size_t)c.uploadWidth * c.uploadHeight * 4, out.rgba.size());
        for (auto &e : c.expected) {
            char expected[16], got[16];
            snprintf(expected, sizeof expected, "%08X", e.second);
            snprintf(got, sizeof got, "%08X", rgbaAt(out, e.first.first, e.first.second));
            EXPECT_STREQ(expected, got) << "pixel (" << e.first.first << ", " << e.first.second << ")";
        }
    }
}

TEST(ImageConversion, ThirtyThreeByTwentyPadsToSixtyFourByThirtyTwo)
{
    std::vector<uint8_t> rgb(33 * 20 * 3, 100);
    ImagePixels out;
    ASSERT_TRUE(convertImagePixels(rgb.data(), 33, 20, resourceSettings(), out));
    EXPECT_EQ(64u, out.uploadWidth);
    EXPECT_EQ(32u, out.uploadHeight);
    EXPECT_FLOAT_EQ(33.0f / 64.0f, out.maxU);
    EXPECT_FLOAT_EQ(0.625f, out.maxV);
    EXPECT_EQ(0x646464FFu, rgbaAt(out, 32, 19));
    EXPECT_EQ(0x64646400u, rgbaAt(out, 33, 19)) << "fixed from its left neighbour";
    EXPECT_EQ(0x64646400u, rgbaAt(out, 5, 20)) << "fixed from the row below";
    EXPECT_EQ(0xFF80FF00u, rgbaAt(out, 50, 30)) << "far padding keeps the key colour";
}

// The fixing rule written out plainly over the whole buffer, against the engine's version (which
// skips padding that cannot change) on random pictures with random transparent pixels.
TEST(ImageConversion, EdgeFixingMatchesThePlainRuleOnRandomPictures)
{
    std::mt19937 random(7);
    for (int round = 0; round < 300; round++) {
        const uint32_t width = 1 + random() % 19, height = 1 + random() % 11;
        std::vector<uint8_t> rgb(width * height * 3);
        for (size_t i = 0; i < rgb.size(); i += 3) {
            const bool key = random() % 3 == 0;
            rgb[i] = key ? 255 : random() % 256;
            rgb[i + 1] = key ? 128 : random() % 256;
            rgb[i + 2] = key ? 255 : random() % 256;
        }
        ImageLoadSettings settings = resourceSettings();
        settings.enlargeToPowerOfTwo = random() % 4 != 0;
        ImagePixels fixed, plain;
        ASSERT_TRUE(convertImagePixels(rgb.data(), width, height, settings, fixed));
        settings.fixTransparentColors = false;
        ASSERT_TRUE(convertImagePixels(rgb.data(), width, height, settings, plain));
        const int64_t count = (int64_t)plain.uploadWidth * plain.uploadHeight, row = plain.uploadWidth;
        std::vector<uint8_t> expected = plain.rgba;
        for (int64_t i = 0; i < count; i++) {
            if (plain.rgba[i * 4 + 3] != 0) continue;
            unsigned sum[3] = {0, 0, 0}, found = 0;
            for (int64_t n : {i - 1, i + 1, i - row, i + row}) {
                if (n < 0 || n >= count || plain.rgba[n * 4 + 3] == 0) continue;
                for (int c = 0; c < 3; c++) sum[c] += plain.rgba[n * 4 + c];
                found++;
            }
            for (int c = 0; c < 3 && found; c++) expected[i * 4 + c] = (uint8_t)(sum[c] / found);
        }
        ASSERT_EQ(expected, fixed.rgba) << width << " x " << height << " picture, round " << round;
    }
}

TEST(ImageConversion, RefusesBuffersPastTheLimits)
{
    std::vector<uint8_t> row(20000 * 3, 1);
    ImagePixels out;
    EXPECT_FALSE(convertImagePixels(row.data(), 20000, 1, ImageLoadSettings(), out)) << "side over 16384";
    ImageLoadSettings enlarge;
    enlarge.enlargeToPowerOfTwo = true;
    EXPECT_FALSE(convertImagePixels(row.data(), 9000, 1, enlarge, out) && out.uploadWidth > 16384);
    EXPECT_TRUE(out.rgba.size() <= 16384u * 4 || out.rgba.empty());
    EXPECT_FALSE(convertImagePixels(nullptr, 1, 1, ImageLoadSettings(), out));
    EXPECT_FALSE(convertImagePixels(row.data(), 0, 5, ImageLoadSettings(), out));
}

// --- DevIL decoding of real files, no GL

class ImageDecode : public ::testing::Test
{
protected:
    void SetUp() override { initImageLibrary(); }
    bool decodeFile(const std::string &name, ImagePixels &out, const ImageLoadSettings &settings = ImageLoadSettings())
    {
        const std::string bytes = readFile(folder.file(name));
        return decodeImagePixels(bytes.data(), bytes.size(), settings, out);
    }
    TempDir folder;
};

TEST_F(ImageDecode, FormatsComeOutRgbBottomRowFirst)
{
    // 3 x 2: top row red, green, blue; bottom row white, black, grey.
    const Picture picture = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x808080};
    const struct { const char *target, *options; int tolerance; } formats[] = {
        {"PNG24:p.png", "", 0}, {"BMP3:p.bmp", "", 0}, {"p.tga", "-orient TopLeft", 0},
        {"p.tga", "-flip -orient BottomLeft", 0}, {"p.jpg", "-quality 100 -sampling-factor 1x1", 40}, {"p.gif", "", 0},
    };
    for (auto f : formats) {
        SCOPED_TRACE(f.target);
        ASSERT_TRUE(makeImageFile(folder.path(), picture, 3, 2, f.target, f.options));
        ImagePixels out;
        ASSERT_TRUE(decodeFile(std::string(f.target).substr(std::string(f.target).find(':') + 1), out));
        ASSERT_EQ(3u, out.width);
        ASSERT_EQ(2u, out.height);
        const uint32_t expected[2][3] = {{0xFFFFFFFF, 0x000000FF, 0x808080FF}, {0xFF0000FF, 0x00FF00FF, 0x0000FFFF}};
        for (uint32_t y = 0; y < 2; y++) {
            for (uint32_t x = 0; x < 3; x++) {
                const uint32_t got = rgbaAt(out, x, y), want = expected[y][x];
                for (int shift = 8; shift < 32; shift += 8) {
                    const int difference = int(got >> shift & 255) - int(want >> shift & 255);
                    EXPECT_LE(std::abs(difference), f.tolerance)
                        << "pixel (" << x << ", " << y << "): expected " << std::hex << want << ", got " << got;
                }
                EXPECT_EQ(255u, got & 255);
            }
        }
    }
}

TEST_F(ImageDecode, APngsOwnAlphaIsIgnored)
{
    // Every pixel fully transparent in the file: the engine sees opaque colour, except the key.
    const Picture picture = {0x336699, 0xFF80FF};
    ASSERT_TRUE(makeImageFile(folder.path(), picture, 2, 1, "PNG32:a.png", "-alpha set -channel A -evaluate set 0 +channel"));
    ImagePixels out;
    ASSERT_TRUE(decodeFile("a.png", out, resourceSettings()));
    EXPECT_EQ(0x336699FFu, rgbaAt(out, 0, 0));
    EXPECT_EQ(0x33669900u, rgbaAt(out, 1, 0)) << "the key pixel is transparent, recoloured from its neighbour";
}

TEST_F(ImageDecode, BrokenInputIsRefused)
{
    ASSERT_TRUE(makeImageFile(folder.path(), solid(16, 16, 0x123456), 16, 16, "PNG24:good.png"));
    const std::string good = readFile(folder.file("good.png"));
    const std::string inputs[] = {"", "x", "not an image at all, just words", good.substr(0, 40), good.substr(0, 8),
                                  std::string(4096, '\0'), "\x89PNG\r\n\x1a\n" + std::string(100, '\xff')};
    for (const std::string &input : inputs) {
        ImagePixels out;
        EXPECT_FALSE(decodeImagePixels(input.data(), input.size(), ImageLoadSettings(), out)) << "input of " << input.size() << " bytes";
    }
    ImagePixels out;
    EXPECT_TRUE(decodeImagePixels(good.data(), good.size(), ImageLoadSettings(), out)) << "and a good file still decodes after them";
}

// Files that made DevIL crash, hang or double-free under the fuzzer (tests/fuzz/regressions/image,
// each with the fuzzer's settings byte first). The engine refuses them before DevIL sees them.
TEST_F(ImageDecode, FuzzerFindingsAreRefused)
{
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(QF_SOURCE_DIR "/tests/fuzz/regressions/image")) {
        const std::string bytes = readFile(entry.path().string());
        ASSERT_FALSE(bytes.empty());
        ImagePixels out;
        EXPECT_FALSE(decodeImagePixels(bytes.data() + 1, bytes.size() - 1, ImageLoadSettings(), out)) << entry.path().filename();
        files++;
    }
    EXPECT_GE(files, 4);
    // Netpbm is refused as a whole, even a well-formed 8-bit file: DevIL's reader cannot be trusted.
    const std::string ppm = std::string("P6\n1 1\n255\n") + "\x10\x20\x30";
    ImagePixels out;
    EXPECT_FALSE(decodeImagePixels(ppm.data(), ppm.size(), ImageLoadSettings(), out));
}

// --- loaded as resources on the loader thread, drawn by the main thread

class ImageResources : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        initImageLibrary();
        ASSERT_TRUE(startResourceManager());
        ASSERT_TRUE(registerImageResource());
        std::filesystem::create_directories(folder.file("Images"));
        setResourceDirectory(RESOURCE_IMAGE, folder.file("Images/"));
    }
    void TearDown() override
    {
        if (!registryRunning()) return;
        shutdownResourceManager();  // deletes the textures on the main thread
        setResourceDirectory(RESOURCE_IMAGE, "");
        setCurrentArchive(nullptr);
    }
    std::string images() { return folder.file("Images"); }
    ResourceRecord *loaded(const std::string &name)
    {
        ResourceRecord *record = findOrCreateResource({name, resourceDirectory(RESOURCE_IMAGE), RESOURCE_IMAGE});
        acquireResource(record, 1);
        waitForLoaderThread();
        return record;
    }
    static const Image *imageOf(ResourceRecord *record)
    {
        const Image *image = (const Image *)lockResource(record);
        unlockResource(record);
        return image;
    }
    // Clears to `background`, draws the record's image at (x, y) with the resource protocol.
    static void drawAt(ResourceRecord *record, float x, float y, uint32_t background = 0x00FF00)
    {
        glClearColor((background >> 16) / 255.0f, (background >> 8 & 255) / 255.0f, (background & 255) / 255.0f, 1);
        beginFrame();
        if (isResourceReady(record)) {
            renderImage((const Image *)lockResource(record), x, y);
            unlockResource(record);
        }
        endFrame();
        glClearColor(0, 0, 0, 1);
    }
    TempDir folder;
};

TEST_F(ImageResources, ColourKeyAndTheFilesOwnAlphaOnScreen)
{
    // Bottom row: the key, one step off the key; top row: two colours whose PNG alpha is 0.
    const Picture picture = {0x2040C0, 0xC04020, 0xFF80FF, 0xFF7FFF};
    ASSERT_TRUE(makeImageFile(images(), picture, 2, 2, "PNG32:key.png", "-alpha set -channel A -evaluate set 0 +channel"));
    ResourceRecord *record = loaded("key.png");
    ASSERT_TRUE(isResourceReady(record));
    const Image *image = imageOf(record);
    EXPECT_EQ(2u, image->width);
    EXPECT_EQ(2u, image->height);
    EXPECT_NE(0u, image->texture);
    EXPECT_FLOAT_EQ(1.0f, image->maxU);

    drawAt(record, 10, 10);
    EXPECT_EQ(0x00FF00u, pixelAt(10, 10)) << "(255,128,255) is transparent";
    EXPECT_EQ(0xFF7FFFu, pixelAt(11, 10)) << "(255,127,255) is opaque";
    EXPECT_EQ(0x2040C0u, pixelAt(10, 11)) << "the PNG's alpha 0 is ignored";
    EXPECT_EQ(0xC04020u, pixelAt(11, 11));
    EXPECT_EQ(0x00FF00u, pixelAt(12, 10)) << "nothing drawn beside the picture";
}

TEST_F(ImageResources, OddSizesArePaddedAndEdgesTakeTheirNeighboursColour)
{
    Picture picture = solid(33, 20, 0xFF0000);
    picture[19 * 33 + 0] = 0xFF80FF;  // bottom-left corner transparent (rows are top first here)
    ASSERT_TRUE(makeImageFile(images(), picture, 33, 20, "BMP3:odd.bmp"));
    ResourceRecord *record = loaded("odd.bmp");
    const Image *image = imageOf(record);
    EXPECT_EQ(33u, image->width);
    EXPECT_EQ(20u, image->height);
    EXPECT_FLOAT_EQ(33.0f / 64.0f, image->maxU);
    EXPECT_FLOAT_EQ(0.625f, image->maxV);

    GLint width = 0, height = 0;
    glBindTexture(GL_TEXTURE_2D, image->texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    std::vector<uint8_t> texels(64 * 32 * 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(64, width);
    EXPECT_EQ(32, height);
    auto texel = [&](int x, int y) {
        const uint8_t *t = &texels[(y * 64 + x) * 4];
        return (uint32_t)t[0] << 24 | (uint32_t)t[1] << 16 | (uint32_t)t[2] << 8 | t[3];
    };
    EXPECT_EQ(0xFF000000u, texel(0, 0)) << "transparent corner next to red: red with alpha 0";
    EXPECT_EQ(0xFF000000u, texel(33, 5)) << "padding next to the picture: red with alpha 0";
    EXPECT_EQ(0xFF000000u, texel(10, 20)) << "padding above the picture";
    EXPECT_EQ(0xFF80FF00u, texel(60, 30)) << "far padding: the key colour";

    drawAt(record, 5, 5, 0x0000FF);
    EXPECT_EQ(0x0000FFu, pixelAt(5, 5)) << "the transparent corner";
    EXPECT_EQ(0xFF0000u, pixelAt(6, 5));
    EXPECT_EQ(0xFF0000u, pixelAt(5 + 32, 5 + 19)) << "top-right pixel of the picture";
    EXPECT_EQ(0x0000FFu, pixelAt(5 + 33, 5 + 10)) << "the padding is not drawn";
    EXPECT_EQ(0x0000FFu, pixelAt(5 + 10, 5 + 20));
}

TEST_F(ImageResources, AlphaFromBrightnessWhenAskedFor)
{
    ASSERT_TRUE(makeImageFile(images(), {0x5A5A5A, 0x000000}, 2, 1, "p.tga", "-orient TopLeft"));
    resetImageLoadSettings();
    setAlphaFromBrightness(true);
    Image image;
    ASSERT_TRUE(loadImageFile(images() + "/p.tga", image));  // main thread, window context
    resetImageLoadSettings();
    uint8_t texels[2 * 4] = {};
    glBindTexture(GL_TEXTURE_2D, image.texture);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    glBindTexture(GL_TEXTURE_2D, 0);
    const uint8_t expected[8] = {255, 255, 255, 90, 255, 255, 255, 0};
    for (int i = 0; i < 8; i++) EXPECT_EQ(expected[i], texels[i]) << "byte " << i;
    GLuint texture = image.texture;
    glDeleteTextures(1, &texture);
}

TEST_F(ImageResources, MissingOrBrokenFilesGiveAOneByOneRecordWithoutTexture)
{
    Image image;
    EXPECT_FALSE(loadImageFile(images() + "/nothing.png", image));
    EXPECT_EQ(0u, image.texture);
    EXPECT_EQ(1u, image.width);
    EXPECT_EQ(1u, image.height);

    writeFile(images() + "/broken.png", "\x89PNG\r\n\x1a\n broken");
    Image broken;
    EXPECT_FALSE(loadImageFile(images() + "/broken.png", broken));
    EXPECT_EQ(0u, broken.texture);
    EXPECT_EQ(1u, broken.width);
    EXPECT_FLOAT_EQ(1.0f, broken.maxU);

    // Past the engine's limits (16384 a side): refused with the one message the loader prints.
    // (ImageMagick's own limits refuse to write it, so this BMP is written by hand: 20000 x 1, 24 bits.)
    std::string bmp = "BM" + std::string(12, '\0');
    const uint32_t fields[] = {40, 20000, 1};
    for (uint32_t v : fields)
        for (int i = 0; i < 4; i++) bmp += char(v >> (8 * i));
    bmp += std::string("\x01\x00\x18\x00", 4) + std::string(24, '\0') + std::string(60000, '\x80');
    bmp[10] = 54;  // offset of the pixels
    writeFile(images() + "/wide.bmp", bmp);
    Image wide;
    std::string err = captureStderr([&] { EXPECT_FALSE(loadImageFile(images() + "/wide.bmp", wide)); });
    EXPECT_EQ("ERROR: Image '" + images() + "/wide.bmp' is too large to load (at most 16384 pixels a side, 8192 x 8192 in all).\n", err);
    EXPECT_EQ(1u, wide.width);

    err = captureStderr([&] {
        ResourceRecord *record = loaded("nothing.png");
        EXPECT_TRUE(isResourceReady(record)) << "a failed load still hands over its record";
        EXPECT_EQ(0u, imageOf(record)->texture);
    });
    EXPECT_EQ("", err) << "the image loader prints nothing";
}

TEST_F(ImageResources, PlaceholderBeforeLoadingAndAfterUnloading)
{
    ASSERT_TRUE(makeImageFile(images(), solid(4, 4, 0x102030), 4, 4, "PNG24:p.png"));
    ResourceRecord *record = findOrCreateResource({"p.png", resourceDirectory(RESOURCE_IMAGE), RESOURCE_IMAGE});
    EXPECT_FALSE(isResourceReady(record));
    EXPECT_EQ(emptyImage(), imageOf(record));
    EXPECT_EQ(0u, emptyImage()->width);
    acquireResource(record, 1);
    waitForLoaderThread();
    ASSERT_TRUE(isResourceReady(record));
    const GLuint texture = imageOf(record)->texture;
    EXPECT_TRUE(glIsTexture(texture));
    releaseResource(record);
    waitForLoaderThread();
    EXPECT_FALSE(isResourceReady(record));
    EXPECT_EQ(emptyImage(), imageOf(record)) << "after an unload, users see the placeholder again";
    EXPECT_FALSE(glIsTexture(texture)) << "the unload deleted the texture";
}

std::atomic<int> loaderThreads{0};
void countedMakeCurrent()
{
    loaderThreads++;
    makeLoaderContextCurrent();
}

// Each burst runs on a new loader thread that must make the shared context current again:
// textures made by the second thread are drawable too.
TEST_F(ImageResources, TexturesFromTwoBurstsFromAnArchiveAreDrawable)
{
    char buffer[4096];
    ASSERT_NE(nullptr, getcwd(buffer, sizeof buffer));
    const std::string previous = buffer;
    ASSERT_EQ(0, chdir(folder.path().c_str()));
    std::filesystem::create_directories("Projects/t/Images");
    ASSERT_TRUE(makeImageFile(folder.file("Projects/t/Images"), solid(8, 8, 0xC01010), 8, 8, "PNG24:one.png"));
    ASSERT_TRUE(makeImageFile(folder.file("Projects/t/Images"), solid(8, 8, 0x10C010), 8, 8, "BMP3:two.bmp"));
    ASSERT_TRUE(buildArchive({"Projects/t/Images/one.png", "Projects/t/Images/two.bmp"}, "t.qfa", ARCHIVE_KEY));
    std::filesystem::remove_all("Projects");  // from now on only the archive has them
    ProjectArchive *archive = openArchive("t.qfa", ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    setCurrentArchive(archive);
    setResourceDirectory(RESOURCE_IMAGE, "Projects/t/Images/");

    loaderThreads = 0;
    setLoaderThreadHooks({countedMakeCurrent, releaseLoaderContext});
    ResourceRecord *one = loaded("one.png");
    ResourceRecord *two = loaded("two.bmp");
    setLoaderThreadHooks(defaultLoaderThreadHooks());
    EXPECT_EQ(2, loaderThreads.load()) << "one loader thread per burst";
    drawAt(one, 0, 0);
    EXPECT_EQ(0xC01010u, pixelAt(3, 3));
    drawAt(two, 0, 0);
    EXPECT_EQ(0x10C010u, pixelAt(3, 3));
    setCurrentArchive(nullptr);
    closeArchive(archive);
    EXPECT_EQ(0, chdir(previous.c_str()));
}

}  // namespace
