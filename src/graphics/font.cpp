// graphics/font.cpp - bitmap fonts: the BMFont v3 binary descriptor reader, page loading, the
// font resource type (8), and the text pen.
//
// The pen draws each glyph through the renderer's image batch, which sends the glyphs of one page
// in a row with one bind and one draw.
//
// The descriptor is read in its fixed block order (info, common, pages, chars, optional
// kerning); block types and the sizes of the common and pages blocks are not looked at. Every
// read goes through DataFile, so a failed read past the end shows up as atEnd() and the checks
// below decide. Nothing is printed on any failure.
//
// Threads: parseFontDescriptor / loadFont / freeFont on the resource-loading thread (its shared
// GL context current for the page textures; freeFont also at shutdown on the main thread).
// renderText / textWidth on the main thread, on a font held under its record's lock. This file
// never touches Lua (font_script.cpp does).
#include "graphics/font.h"

#include <GL/gl.h>

#include "graphics/display.h"
#include "graphics/renderer.h"
#include "resources/data_file.h"
#include "resources/registry.h"

static const uint32_t kMaxInfoSize = 4000;  // bytes of the info block we are willing to skip
static const uint32_t kMaxRecords = 10000;  // chars and kerning records, each

static bool parseBlocks(DataFile &file, Font *font, std::vector<std::string> *pageNames)
{
    static const uint8_t magic[4] = {'B', 'M', 'F', 3};
    for (uint8_t expected : magic)
        if (file.readByte() != expected) return false;

    // info: type, size, content skipped
    file.readByte();
    const uint32_t infoSize = uint32_t(file.readInt32());
    if (infoSize > kMaxInfoSize) return false;
    file.skip(int16_t(infoSize));

    // common: type and size skipped
    if (file.atEnd()) return false;
    file.skip(5);
    font->lineHeight = uint16_t(file.readInt16());
    file.readInt16();  // base
    file.readInt16();  // scaleW
    font->pageHeight = uint16_t(file.readInt16());
    const uint16_t pages = uint16_t(file.readInt16());
    font->pageCount = uint8_t(pages);
    file.skip(5);  // bit field and the four channel bytes

    // pages: type and size skipped, then one zero-ended name per page. Names past the 8-bit
    // page count are read (to get past them) but not kept.
    if (file.atEnd()) return false;
    file.skip(5);
    pageNames->assign(font->pageCount, std::string());
    for (uint32_t page = 0; page < pages; ++page) {
        std::string name;
        while (true) {
            const uint8_t byte = file.readByte();
            if (file.atEnd() || byte == 0) break;
            name.push_back(char(byte));
        }
        if (page < font->pageCount) (*pageNames)[page] = std::move(name);
    }

    // chars: 20-byte records; a later record of the same id replaces the earlier one
    if (file.atEnd()) return false;
    file.readByte();
    const uint32_t charsSize = uint32_t(file.readInt32());
    if (charsSize % 20 != 0 || charsSize / 20 > kMaxRecords) return false;
    for (uint32_t i = 0; i < charsSize / 20; ++i) {
        const int32_t id = file.readInt32();
        Glyph glyph;
        glyph.x = uint16_t(file.readInt16());
        glyph.y = uint16_t(file.readInt16());
        glyph.width = uint16_t(file.readInt16());
        glyph.height = uint16_t(file.readInt16());
        glyph.xOffset = file.readInt16();
        glyph.yOffset = file.readInt16();
        glyph.xAdvance = file.readInt16();
        glyph.page = int8_t(file.readByte());
        file.readByte();  // channel
        font->glyphs[id] = std::move(glyph);
    }
    if (file.atEnd()) return false;  // the chars block ran past the end of the file

    // kerning, optional: the file may end right after the block's type byte
    file.readByte();
    if (file.atEnd()) return true;
    const uint32_t kerningSize = uint32_t(file.readInt32());
    if (kerningSize % 10 != 0 || kerningSize / 10 > kMaxRecords) return false;
    for (uint32_t i = 0; i < kerningSize / 10; ++i) {
        const int32_t first = file.readInt32();
        const int32_t second = file.readInt32();
        const int16_t amount = file.readInt16();
        font->glyphs[second].kerning[first] = amount;  // creates an empty glyph when needed
    }
    return true;
}

bool parseFontDescriptor(DataFile &file, Font *font, std::vector<std::string> *pageNames)
{
    if (!parseBlocks(file, font, pageNames)) return false;
    for (int32_t c = -128; c < 128; ++c) {
        auto found = font->glyphs.find(c);
        font->byteGlyphs[c + 128] = found == font->glyphs.end() ? nullptr : &found->second;
    }
    return true;
}

// Pages are white-on-black pictures: brightness becomes alpha, smooth filtering, padded to
// powers of two; no colour key. A page that does not load keeps texture 0 and size 1 x 1.
static void loadFontPages(const std::string &directory, const std::vector<std::string> &names, Font *font)
{
    resetImageLoadSettings();
    setAlphaFromBrightness(true);
    setSmoothFiltering(true);
    setEnlargeToPowerOfTwo(true);
    font->pages.assign(names.size(), Image());
    for (size_t i = 0; i < names.size(); ++i) {
        Image &page = font->pages[i];
        if (names[i].empty()) {  // the path would name the font directory itself
            page.width = page.height = 1;
            continue;
        }
        loadImageFile(directory + names[i], page);
    }
}

Font *loadFont(const std::string &directory, const std::string &name)
{
    DataFile file;
    if (!file.openForRead(directory + name)) return nullptr;
    Font *font = new Font();
    std::vector<std::string> pageNames;
    const bool parsed = parseFontDescriptor(file, font, &pageNames);
    file.close();
    if (!parsed) {
        delete font;
        return nullptr;
    }
    loadFontPages(directory, pageNames, font);
    return font;
}

void freeFont(Font *font)
{
    if (font == nullptr) return;
    for (size_t i = 0; i < font->pageCount && i < font->pages.size(); ++i) deleteTexture(font->pages[i].texture);
    delete font;
}

static void *loadFontResource(const ResourceKey &key) { return loadFont(key.directory, key.name); }

static int unloadFontResource(void **object)
{
    freeFont(static_cast<Font *>(*object));
    *object = nullptr;
    return 0;
}

bool registerFontResource()
{
    return registerResourceType(RESOURCE_FONT, {loadFontResource, unloadFontResource, nullptr});
}

// The glyph for character code c (-128..127), or nullptr.
static const Glyph *findGlyph(const Font *font, int32_t c) { return font->byteGlyphs[c + 128]; }

static int32_t kerningAfter(const Glyph &glyph, int32_t previous)
{
    if (glyph.kerning.empty()) return 0;
    auto found = glyph.kerning.find(previous);
    return found == glyph.kerning.end() ? 0 : found->second;
}

void renderText(const Font *font, float x, float y, const char *text, float rotation, float scale)
{
    if (font == nullptr || text == nullptr || !hasGLContext()) return;
    // Unturned text is placed on the CPU (integer pen positions scaled by a whole number and
    // moved by (x, y) land exactly where the matrix would take them), without matrix calls, which
    // cost the driver a state change each. Turned text keeps GL's own rotation.
    const bool turned = rotation != 0;
    QuadTransform place = quadTransform(x, y, 0.0f, scale, scale);
    if (turned) {
        drawPendingQuads();
        glPushMatrix();
        glTranslatef(x, y, 0);
        glRotatef(rotation, 0, 0, 1);
        glScalef(scale, scale, scale);
        place = QuadTransform{};
    }
    int32_t penX = 0, penY = 0, previous = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        const int32_t c = static_cast<signed char>(*p);
        if (const Glyph *glyph = findGlyph(font, c)) {
            const int32_t kern = kerningAfter(*glyph, previous);
            const int32_t left = penX + glyph->xOffset + kern;
            const int32_t top = penY - glyph->yOffset;
            if (glyph->page >= 0 && size_t(glyph->page) < font->pages.size()) {
                const Image &page = font->pages[glyph->page];
                const int imageTop = int(font->pageHeight) - glyph->y;  // rows count from the bottom
                renderImagePartTransformed(&page, place, float(left), float(top), glyph->x, imageTop,
                                           glyph->x + glyph->width, imageTop - glyph->height);
            }
            penX += glyph->xAdvance + kern;
        } else if (c == '\n') {
            penX = 0;
            penY -= font->lineHeight;
        }
        previous = c;
    }
    flushRenderer();
    if (turned) glPopMatrix();
}

int32_t textWidth(const Font *font, const char *text)
{
    if (font == nullptr || text == nullptr) return 0;
    int32_t width = 0, previous = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        const int32_t c = static_cast<signed char>(*p);
        if (const Glyph *glyph = findGlyph(font, c)) width += glyph->xAdvance + kerningAfter(*glyph, previous);
        previous = c;
    }
    return width;
}
