// tools/font/font_pages.cpp - shelf packing of glyph rectangles and the page image writers.
// Pages are 24-bit RGB (the engine decodes to RGB and turns a font's brightness into alpha), either
// PNG through libpng or uncompressed TGA (bottom-left origin, rows bottom first), both formats
// DevIL 1.7.8 reads. Single-threaded command-line code.
#include "font_pages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <numeric>

#ifdef QF_FONT_HAVE_PNG
#include <png.h>
#endif

bool packRectangles(const std::vector<RectSize> &sizes, int pageWidth, int pageHeight, int spacing,
                    std::vector<Placement> *placements, int *pageCount, std::string *error)
{
    placements->assign(sizes.size(), Placement());
    std::vector<size_t> order(sizes.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (sizes[a].height != sizes[b].height) return sizes[a].height > sizes[b].height;
        return sizes[a].width > sizes[b].width;
    });

    int page = 0, penX = spacing, penY = spacing, shelfHeight = 0;
    bool pageUsed = false;
    for (size_t index : order) {
        const RectSize &size = sizes[index];
        if (size.width <= 0 || size.height <= 0) continue;
        if (size.width + 2 * spacing > pageWidth || size.height + 2 * spacing > pageHeight) {
            *error = "a glyph of " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                     " pixels does not fit a " + std::to_string(pageWidth) + "x" +
                     std::to_string(pageHeight) + " page";
            return false;
        }
        if (penX + size.width + spacing > pageWidth) {  // next shelf
            penX = spacing;
            penY += shelfHeight + spacing;
            shelfHeight = 0;
        }
        if (penY + size.height + spacing > pageHeight) {  // next page
            ++page;
            penX = spacing;
            penY = spacing;
            shelfHeight = 0;
        }
        (*placements)[index] = {page, penX, penY};
        penX += size.width + spacing;
        shelfHeight = std::max(shelfHeight, size.height);
        pageUsed = true;
    }
    *pageCount = pageUsed ? page + 1 : 1;
    return true;
}

// Row y (from the top) as red, green, blue bytes.
static void rgbRow(const PageImage &page, int y, uint8_t *row)
{
    if (!page.rgb.empty()) {
        memcpy(row, &page.rgb[size_t(y) * page.width * 3], size_t(page.width) * 3);
        return;
    }
    const uint8_t *grey = &page.grey[size_t(y) * page.width];
    for (int x = 0; x < page.width; ++x) row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = grey[x];
}

#ifdef QF_FONT_HAVE_PNG
bool pngSupported() { return true; }

static bool writePng(FILE *file, const PageImage &page)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> row(size_t(page.width) * 3);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, page.width, page.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < page.height; ++y) {
        rgbRow(page, y, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
#else
bool pngSupported() { return false; }
static bool writePng(FILE *, const PageImage &) { return false; }
#endif

// Uncompressed true-colour TGA, 24 bits, origin bottom-left, so rows go bottom first.
static bool writeTga(FILE *file, const PageImage &page)
{
    uint8_t header[18] = {};
    header[2] = 2;
    header[12] = uint8_t(page.width & 0xFF);
    header[13] = uint8_t(page.width >> 8);
    header[14] = uint8_t(page.height & 0xFF);
    header[15] = uint8_t(page.height >> 8);
    header[16] = 24;
    if (fwrite(header, 1, sizeof header, file) != sizeof header) return false;
    std::vector<uint8_t> row(size_t(page.width) * 3);
    for (int y = page.height - 1; y >= 0; --y) {
        rgbRow(page, y, row.data());
        for (int x = 0; x < page.width; ++x) std::swap(row[x * 3], row[x * 3 + 2]);  // TGA stores blue first
        if (fwrite(row.data(), 1, row.size(), file) != row.size()) return false;
    }
    return true;
}

bool writePageImage(const std::string &path, const PageImage &page, PageFormat format,
                    std::string *error)
{
    if (format == PageFormat::Png && !pngSupported()) {
        *error = "this build has no PNG support; use --format tga";
        return false;
    }
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot write '" + path + "': " + strerror(errno);
        return false;
    }
    bool written = format == PageFormat::Png ? writePng(file, page) : writeTga(file, page);
    if (fclose(file) != 0) written = false;
    if (!written) *error = "writing '" + path + "' failed";
    return written;
}
