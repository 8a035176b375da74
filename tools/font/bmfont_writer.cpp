// tools/font/bmfont_writer.cpp - encodes a BMFontDescription as a version-3 binary descriptor.
// The engine reads the blocks in this fixed order (info, common, pages, chars, kerning).
// Single-threaded command-line code.
#include "bmfont_writer.h"

namespace {

struct ByteWriter
{
    std::vector<uint8_t> bytes;
    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v)
    {
        u8(uint8_t(v & 0xFF));
        u8(uint8_t(v >> 8));
    }
    void u32(uint32_t v)
    {
        u16(uint16_t(v & 0xFFFF));
        u16(uint16_t(v >> 16));
    }
    void text0(const std::string &s)  // bytes and a terminating zero
    {
        bytes.insert(bytes.end(), s.begin(), s.end());
        u8(0);
    }
    void blockHeader(uint8_t type, size_t size)
    {
        u8(type);
        u32(uint32_t(size));
    }
};

}  // namespace

std::vector<uint8_t> encodeBMFont(const BMFontDescription &font)
{
    ByteWriter out;
    out.text0("BMF");
    out.bytes.back() = 3;  // "BMF" then the version byte

    // info: fontSize, bitField (smooth | unicode), charSet, stretchH, aa, padding x4,
    // spacing x2, outline, name.
    const std::string name = font.faceName.substr(0, 255);
    out.blockHeader(1, 14 + name.size() + 1);
    out.u16(uint16_t(font.size));
    out.u8(0x80 | 0x40);
    out.u8(0);
    out.u16(100);
    out.u8(1);
    for (int i = 0; i < 4; ++i) out.u8(0);
    out.u8(font.spacing);
    out.u8(font.spacing);
    out.u8(0);
    out.text0(name);

    // common: lineHeight, base, scaleW, scaleH, pages, bitField, then the channel contents:
    // alpha is "one" (4), red/green/blue hold the glyphs (0).
    out.blockHeader(2, 15);
    out.u16(font.lineHeight);
    out.u16(font.base);
    out.u16(font.pageWidth);
    out.u16(font.pageHeight);
    out.u16(uint16_t(font.pageNames.size()));
    out.u8(0);
    out.u8(4);
    out.u8(0);
    out.u8(0);
    out.u8(0);

    size_t namesSize = 0;
    for (const std::string &page : font.pageNames) namesSize += page.size() + 1;
    out.blockHeader(3, namesSize);
    for (const std::string &page : font.pageNames) out.text0(page);

    out.blockHeader(4, font.chars.size() * 20);
    for (const BMChar &c : font.chars) {
        out.u32(c.id);
        out.u16(c.x);
        out.u16(c.y);
        out.u16(c.width);
        out.u16(c.height);
        out.u16(uint16_t(c.xOffset));
        out.u16(uint16_t(c.yOffset));
        out.u16(uint16_t(c.xAdvance));
        out.u8(c.page);
        out.u8(15);  // all channels
    }

    if (!font.kerning.empty()) {
        out.blockHeader(5, font.kerning.size() * 10);
        for (const BMKerning &k : font.kerning) {
            out.u32(k.first);
            out.u32(k.second);
            out.u16(uint16_t(k.amount));
        }
    }
    return out.bytes;
}
