// tools/font/quillfen_font.cpp - quillfen-font: renders a TrueType/OpenType face at a pixel size
// into the engine's font format: a version-3 binary BMFont descriptor plus page images of white
// glyphs on black (the engine turns brightness into alpha when it loads the pages).
// Glyphs are rasterised by FreeType with its default hinting, packed onto pages with free
// pixels between them, and kerning pairs come from FT_Get_Kerning (the face's 'kern' table).
// Single-threaded command-line program; exit 0 on success, 1 on a failure, 2 on bad usage.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bmfont_writer.h"
#include "font_pages.h"

namespace {

const char *const kDefaultFace = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const size_t kMaxChars = 10000;    // the engine refuses a chars block with more records
const size_t kMaxKerning = 10000;  // ... and a kerning block with more pairs
const int kMaxPages = 128;         // glyph page indices are signed bytes in the engine

struct Options
{
    std::string output;
    std::string face = kDefaultFace;
    int size = 16;
    std::vector<uint32_t> chars;
    int spacing = 1;
    int pageWidth = 0, pageHeight = 0;  // 0: smallest power-of-two page that holds everything
    PageFormat format = pngSupported() ? PageFormat::Png : PageFormat::Tga;
    bool kerning = true;
    bool quiet = false;
};

void printUsage(FILE *out)
{
    fprintf(out,
            "Usage: quillfen-font [options] OUTPUT.fnt\n"
            "Renders a TrueType/OpenType font into a binary BMFont descriptor (version 3) and its\n"
            "page images, white glyphs on black, named OUTPUT_<n>.png (or .tga) beside it.\n"
            "\n"
            "Options:\n"
            "  -f, --font PATH        font file (default %s)\n"
            "  -s, --size PIXELS      pixel size, 1..512 (default 16)\n"
            "  -c, --chars LIST       character codes: numbers and ranges, decimal or 0x hex,\n"
            "                         e.g. 32-126,160-255 (default 32-126, printable ASCII)\n"
            "  -p, --padding PIXELS   free pixels between glyphs and at page edges, 0..16 (default 1)\n"
            "  -P, --page-size WxH    page size, 16..4096 each (default: the smallest power of two\n"
            "                         up to 1024x1024 that holds every glyph; more pages if needed)\n"
            "      --format png|tga   page image format (default %s)\n"
            "      --no-kerning       leave out kerning pairs\n"
            "  -q, --quiet            print nothing on success\n"
            "  -h, --help             this text\n"
            "\n"
            "Note: the engine reads text one byte at a time as a signed code, so characters above\n"
            "127 are stored but never drawn.\n",
            kDefaultFace, pngSupported() ? "png" : "tga (this build has no PNG support)");
}

int usageError(const std::string &message)
{
    fprintf(stderr, "quillfen-font: %s\nTry 'quillfen-font --help'.\n", message.c_str());
    return 2;
}

int failure(const std::string &message)
{
    fprintf(stderr, "quillfen-font: %s\n", message.c_str());
    return 1;
}

// Whole decimal or 0x-hex number in [low, high].
bool parseNumber(const std::string &text, long low, long high, long *value)
{
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    long v = strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

// "32-126,160,0x41-0x5A" -> sorted unique codes.
bool parseCharList(const std::string &text, std::vector<uint32_t> *codes, std::string *error)
{
    std::vector<uint32_t> result;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(start, comma - start);
        size_t dash = item.find('-', 1);
        long first = 0, last = 0;
        bool ok = dash == std::string::npos
                      ? parseNumber(item, 0, 0x10FFFF, &first) && (last = first, true)
                      : parseNumber(item.substr(0, dash), 0, 0x10FFFF, &first) &&
                            parseNumber(item.substr(dash + 1), 0, 0x10FFFF, &last);
        if (!ok || last < first) {
            *error = "bad character list item '" + item + "' (expected N or N-M, 0..0x10FFFF)";
            return false;
        }
        if (size_t(last - first) + result.size() >= kMaxChars * 4) {
            *error = "the character list is too long";
            return false;
        }
        for (long c = first; c <= last; ++c) result.push_back(uint32_t(c));
        start = comma + 1;
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    if (result.size() > kMaxChars) {
        *error = "more than " + std::to_string(kMaxChars) + " characters (the engine's limit)";
        return false;
    }
    *codes = result;
    return true;
}

// Returns -1 when the options were fine, else the exit code (after printing).
int parseOptions(int argc, char **argv, Options *options)
{
    std::string charList = "32-126";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string *out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string text;
        long number = 0;
        if (arg == "-h" || arg == "--help") {
            printUsage(stdout);
            return 0;
        } else if (arg == "-q" || arg == "--quiet") {
            options->quiet = true;
        } else if (arg == "--no-kerning") {
            options->kerning = false;
        } else if (arg == "-f" || arg == "--font") {
            if (!value(&options->face)) return usageError(arg + " needs a file name");
        } else if (arg == "-s" || arg == "--size") {
            if (!value(&text) || !parseNumber(text, 1, 512, &number))
                return usageError(arg + " needs a pixel size from 1 to 512");
            options->size = int(number);
        } else if (arg == "-c" || arg == "--chars") {
            if (!value(&charList)) return usageError(arg + " needs a character list");
        } else if (arg == "-p" || arg == "--padding") {
            if (!value(&text) || !parseNumber(text, 0, 16, &number))
                return usageError(arg + " needs a pixel count from 0 to 16");
            options->spacing = int(number);
        } else if (arg == "-P" || arg == "--page-size") {
            long w = 0, h = 0;
            size_t x = std::string::npos;
            if (value(&text)) x = text.find('x');
            if (x == std::string::npos || !parseNumber(text.substr(0, x), 16, 4096, &w) ||
                !parseNumber(text.substr(x + 1), 16, 4096, &h))
                return usageError(arg + " needs WIDTHxHEIGHT, each 16..4096");
            options->pageWidth = int(w);
            options->pageHeight = int(h);
        } else if (arg == "--format") {
            if (!value(&text)) return usageError("--format needs png or tga");
            if (text == "png" && pngSupported()) options->format = PageFormat::Png;
            else if (text == "tga") options->format = PageFormat::Tga;
            else if (text == "png") return usageError("this build has no PNG support; use --format tga");
            else return usageError("unknown page format '" + text + "' (png or tga)");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option '" + arg + "'");
        } else if (options->output.empty()) {
            options->output = arg;
        } else {
            return usageError("only one output file may be given");
        }
    }
    if (options->output.empty()) return usageError("no output file given");
    std::string error;
    if (!parseCharList(charList, &options->chars, &error)) return usageError(error);
    return -1;
}

struct RenderedGlyph
{
    uint32_t code = 0;
    unsigned index = 0;  // FreeType glyph index
    int left = 0, top = 0, advance = 0;
    PageImage bitmap;    // the glyph's coverage, rows top first
};

// Copies FreeType's bitmap (8-bit grey or 1-bit mono) into a tight grey buffer.
void copyBitmap(const FT_Bitmap &bitmap, PageImage *out)
{
    out->width = int(bitmap.width);
    out->height = int(bitmap.rows);
    out->grey.assign(size_t(out->width) * out->height, 0);
    for (int y = 0; y < out->height; ++y) {
        const uint8_t *row = bitmap.buffer + ptrdiff_t(y) * bitmap.pitch;
        for (int x = 0; x < out->width; ++x) {
            uint8_t v = 0;
            if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) v = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            else if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) v = row[x];
            out->grey[size_t(y) * out->width + x] = v;
        }
    }
}

int16_t clamp16(long v) { return int16_t(std::max(-32768L, std::min(32767L, v))); }

std::string baseName(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directoryOf(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string stemOf(const std::string &name)
{
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

int run(const Options &options)
{
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return failure("FreeType could not be initialised");
    FT_Face face = nullptr;
    FT_Error status = FT_New_Face(library, options.face.c_str(), 0, &face);
    if (status != 0) {
        FT_Done_FreeType(library);
        return failure("cannot open font '" + options.face + "' (FreeType error " +
                       std::to_string(status) + ": missing file or not a font)");
    }
    struct Cleanup {
        FT_Library library;
        FT_Face face;
        ~Cleanup() { FT_Done_Face(face), FT_Done_FreeType(library); }
    } cleanup{library, face};

    if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(options.size)) != 0)
        return failure("the font has no size " + std::to_string(options.size) + " pixels");

    std::vector<RenderedGlyph> glyphs;
    std::vector<uint32_t> missing;
    for (uint32_t code : options.chars) {
        FT_UInt index = FT_Get_Char_Index(face, code);
        if (index == 0) {
            missing.push_back(code);
            continue;
        }
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER) != 0) {
            missing.push_back(code);
            continue;
        }
        FT_GlyphSlot slot = face->glyph;
        RenderedGlyph glyph;
        glyph.code = code;
        glyph.index = index;
        glyph.left = slot->bitmap_left;
        glyph.top = slot->bitmap_top;
        glyph.advance = int((slot->advance.x + 32) >> 6);
        copyBitmap(slot->bitmap, &glyph.bitmap);
        glyphs.push_back(std::move(glyph));
    }
    if (glyphs.empty()) return failure("none of the requested characters is in '" + options.face + "'");

    // Pages: the caller's size, or the smallest power of two (wide before tall) up to 1024
    // that holds every glyph on one page; past that, several 1024x1024 pages.
    std::vector<RectSize> sizes;
    for (const RenderedGlyph &g : glyphs) sizes.push_back({g.bitmap.width, g.bitmap.height});
    std::vector<Placement> placements;
    int pageWidth = options.pageWidth, pageHeight = options.pageHeight, pageCount = 0;
    std::string error;
    if (pageWidth == 0) {
        pageWidth = pageHeight = 16;
        while (true) {
            std::string ignored;
            if (packRectangles(sizes, pageWidth, pageHeight, options.spacing, &placements, &pageCount,
                               &ignored) && pageCount == 1)
                break;
            if (pageWidth == 1024 && pageHeight == 1024) break;
            if (pageWidth == pageHeight) pageWidth *= 2;
            else pageHeight *= 2;
        }
    }
    if (!packRectangles(sizes, pageWidth, pageHeight, options.spacing, &placements, &pageCount, &error))
        return failure(error + "; choose a larger --page-size or a smaller --size");
    if (pageCount > kMaxPages)
        return failure(std::to_string(pageCount) + " pages needed, the engine takes at most " +
                       std::to_string(kMaxPages) + "; choose a larger --page-size");

    std::vector<PageImage> pages(pageCount);
    for (PageImage &page : pages) {
        page.width = pageWidth;
        page.height = pageHeight;
        page.grey.assign(size_t(pageWidth) * pageHeight, 0);
    }

    BMFontDescription font;
    font.faceName = std::string(face->family_name ? face->family_name : "") +
                    (face->style_name ? std::string(" ") + face->style_name : std::string());
    font.size = int16_t(options.size);
    font.spacing = uint8_t(options.spacing);
    font.base = uint16_t(std::max(0L, long(face->size->metrics.ascender >> 6)));
    font.lineHeight = uint16_t(std::max(1L, long(face->size->metrics.height >> 6)));
    font.pageWidth = uint16_t(pageWidth);
    font.pageHeight = uint16_t(pageHeight);

    for (size_t i = 0; i < glyphs.size(); ++i) {
        const RenderedGlyph &g = glyphs[i];
        const Placement &at = placements[i];
        PageImage &page = pages[at.page];
        for (int y = 0; y < g.bitmap.height; ++y)
            std::copy_n(&g.bitmap.grey[size_t(y) * g.bitmap.width], g.bitmap.width,
                        &page.grey[size_t(at.y + y) * pageWidth + at.x]);
        BMChar c;
        c.id = g.code;
        c.x = uint16_t(at.x);
        c.y = uint16_t(at.y);
        c.width = uint16_t(g.bitmap.width);
        c.height = uint16_t(g.bitmap.height);
        c.xOffset = clamp16(g.left);
        c.yOffset = clamp16(long(font.base) - g.top);
        c.xAdvance = clamp16(g.advance);
        c.page = uint8_t(at.page);
        font.chars.push_back(c);
    }

    // Kerning: every ordered pair of included glyphs with a non-zero grid-fitted amount.
    size_t droppedPairs = 0;
    if (options.kerning && FT_HAS_KERNING(face)) {
        for (const RenderedGlyph &first : glyphs)
            for (const RenderedGlyph &second : glyphs) {
                FT_Vector delta;
                if (FT_Get_Kerning(face, first.index, second.index, FT_KERNING_DEFAULT, &delta) != 0) continue;
                long amount = (delta.x + 32) >> 6;
                if (amount != 0) font.kerning.push_back({first.code, second.code, clamp16(amount)});
            }
        if (font.kerning.size() > kMaxKerning) {  // keep the strongest pairs
            std::stable_sort(font.kerning.begin(), font.kerning.end(), [](const BMKerning &a, const BMKerning &b) {
                return std::abs(a.amount) > std::abs(b.amount);
            });
            droppedPairs = font.kerning.size() - kMaxKerning;
            font.kerning.resize(kMaxKerning);
            std::stable_sort(font.kerning.begin(), font.kerning.end(), [](const BMKerning &a, const BMKerning &b) {
                return a.first != b.first ? a.first < b.first : a.second < b.second;
            });
        }
    }

    const std::string directory = directoryOf(options.output);
    const std::string stem = stemOf(baseName(options.output));
    const std::string extension = options.format == PageFormat::Png ? ".png" : ".tga";
    const int digits = int(std::to_string(pageCount - 1).size());  // names of equal length
    for (int i = 0; i < pageCount; ++i) {
        std::string number = std::to_string(i);
        number.insert(0, size_t(digits) - number.size(), '0');
        const std::string name = stem + "_" + number + extension;
        font.pageNames.push_back(name);
        if (!writePageImage(directory + name, pages[i], options.format, &error)) return failure(error);
    }

    std::vector<uint8_t> bytes = encodeBMFont(font);
    FILE *out = fopen(options.output.c_str(), "wb");
    if (!out) return failure("cannot write '" + options.output + "': " + strerror(errno));
    bool written = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (fclose(out) != 0 || !written) return failure("writing '" + options.output + "' failed");

    if (!options.quiet) {
        printf("%s: %zu glyphs, %zu kerning pairs, %d page%s of %dx%d, line height %u\n",
               options.output.c_str(), font.chars.size(), font.kerning.size(), pageCount,
               pageCount == 1 ? "" : "s", pageWidth, pageHeight, unsigned(font.lineHeight));
        if (!missing.empty())
            printf("note: %zu requested character%s not in the font (first: %u)\n", missing.size(),
                   missing.size() == 1 ? " is" : "s are", unsigned(missing.front()));
        if (options.kerning && !FT_HAS_KERNING(face))
            printf("note: the font has no 'kern' table, so no kerning pairs were written\n");
        if (droppedPairs > 0)
            printf("note: %zu weakest kerning pairs left out (the engine takes at most %zu)\n",
                   droppedPairs, kMaxKerning);
        if (options.chars.back() > 127)
            printf("note: characters above 127 are stored but the engine never draws them\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    int status = parseOptions(argc, argv, &options);
    if (status >= 0) return status;
    return run(options);
}
