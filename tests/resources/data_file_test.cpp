// DataFile: golden bytes of the typed writes; loose files and archive entries read alike.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "resources/archive.h"
#include "resources/data_file.h"
#include "test_support.h"

namespace {

// Runs one letter per read and says what each gave, space-separated: i int32, h int16, b byte,
// r real, k bit, t text ("[text]", or "[n bytes]" when long), p tell, z size, e atEnd,
// < skip(-4), = skip(0), 0 seek(0), - seek(-1).
std::string readAll(DataFile &f, const std::string &letters)
{
    std::ostringstream out;
    out.precision(9);  // every float shows exactly
    for (char letter : letters) {
        std::string text;
        switch (letter) {
        case 'i': out << f.readInt32(); break;
        case 'h': out << f.readInt16(); break;
        case 'b': out << (int)f.readByte(); break;
        case 'r': out << f.readReal(); break;
        case 'k': out << f.readBit(); break;
        case 't': text = f.readString(); out << "[" << (text.size() > 16 ? std::to_string(text.size()) + " bytes" : text);
                  out << "]"; break;
        case 'p': out << f.tell(); break;
        case 'z': out << f.size(); break;
        case 'e': out << f.atEnd(); break;
        case '<': out << f.skip(-4); break;
        case '=': out << f.skip(0); break;
        case '0': out << f.seek(0); break;
        case '-': out << f.seek(-1); break;
        }
        out << " ";
    }
    return out.str();
}

using Write = std::function<void(DataFile &)>;

// Catches wrong golden bytes, and reads (positions, atEnd, bad lengths, seeks) differing by back end.
TEST(DataFile, GoldenBytesAndReadsFromLooseFilesAndArchiveEntries)
{
    const std::string long1024(1024, 'x');
    const struct { const char *name; Write write; std::string bytes; const char *reads, *expected; } cases[] = {
        {"int32, int16, byte; one read past the end",
         [](DataFile &f) { f.writeInt32(-2), f.writeInt16(-2), f.writeByte(0xAB); },
         byteString({0xFE, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xAB}), "ihbebe", "-2 -2 171 0 0 1 "},
        {"reals -0.25, 2.5, -2.5", [](DataFile &f) { for (float v : {-0.25f, 2.5f, -2.5f}) f.writeReal(v); },
         byteString({0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x17, 0xB4, 0x2C, 2, 0, 0, 0, 0x00, 0x65, 0xCD, 0x1D, 0xFD, 0xFF,
                     0xFF, 0xFF, 0x00, 0x65, 0xCD, 0x1D}), "rrr", "-0.25 2.5 -2.5 "},
        {"reals 0, NaN, 1e20 and -inf clamp",
         [](DataFile &f) { for (float v : {0.0f, NAN, 1e20f, -INFINITY}) f.writeReal(v); },
         std::string(16, '\0') + int32LE(INT32_MAX) + int32LE(0) + int32LE(INT32_MIN) + int32LE(0), "", ""},
        {"fraction read as unsigned: 0xFFFFFFFF / 1e9", nullptr, byteString({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), "r",
         "4.29496717 "},
        {"strings; a 1025-byte one stores its length only, the next value follows it",
         [&](DataFile &f) {
             for (auto s : {std::string("Al"), std::string(), long1024, std::string(1025, 'y')}) f.writeString(s);
             f.writeInt32(7);
         },
         lengthText("Al") + lengthText("") + lengthText(long1024) + int32LE(1025) + int32LE(7), "ttttie",
         "[Al] [] [1024 bytes] [] 7 0 "},
        {"eleven bits then an int32",
         [](DataFile &f) {
             for (int bit : {1, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0}) f.writeBit(bit);
             f.writeInt32(0x01020304);
         },
         byteString({0x8D, 0x03, 4, 3, 2, 1}), "kkkkkkkkkkkpie", "1 0 1 1 0 0 0 1 1 1 0 1 16909060 0 "},
        {"nine booleans: the ninth is bit 0 of byte 2",
         [](DataFile &f) { for (int i = 0; i < 9; i++) f.writeBit(i == 8); },
         byteString({0x00, 0x01}), "kkkkkkkkk", "0 0 0 0 0 0 0 0 1 "},
        {"eight bits make one byte; a string finishes a bit byte",
         [](DataFile &f) { for (int i = 0; i < 9; i++) f.writeBit(true); f.writeString("A"); },
         byteString({0xFF, 1}) + lengthText("A"), "kkkkkkkkkt", "1 1 1 1 1 1 1 1 1 [A] "},
        {"a string cut at its zero byte consumes all its bytes", nullptr,
         lengthText("Al") + lengthText(std::string("ab\0cd", 5)) + "\x09", "ttpb", "[Al] [ab] 15 9 "},
        {"stored lengths 2000 and -1 read as empty and consume only the length", nullptr,
         int32LE(2000) + int32LE(-1) + "z", "tptpb", "[] 4 [] 8 122 "},
        {"a string cut short", nullptr, int32LE(10) + "ab", "te", "[] 1 "},
        {"skip(-4) moves back onto the integer just read; size keeps the position", nullptr,
         int32LE(1) + int32LE(2) + "\x07", "i<pi=izpb", "1 1 0 1 1 2 9 8 7 "},
        {"a truncated int32 reads 0 and sets atEnd; seek clears it", nullptr, byteString({5, 6}), "ie0eh-",
         "0 1 1 0 1541 0 "},
        {"bits past the end read false and set atEnd", nullptr, byteString({1}), "kkkkkkkkeke",
         "1 0 0 0 0 0 0 0 0 0 1 "},
        {"empty data", nullptr, "", "zte", "0 [] 1 "},
    };
    TempDir dir;
    std::vector<std::string> paths;
    for (const auto &c : cases) {
        paths.push_back(dir.file("case" + std::to_string(paths.size())));
        DataFile out;
        ASSERT_TRUE(out.openForWrite(paths.back())) << c.name;
        c.write ? c.write(out) : (void)out.writeBytes(c.bytes.data(), c.bytes.size());
        EXPECT_TRUE(out.close()) << c.name;
        const std::string got = readFile(paths.back());
        EXPECT_EQ(c.bytes.empty() ? got : c.bytes, got) << c.name;  // no golden bytes: a round trip only
    }
    ASSERT_TRUE(buildArchive(paths, dir.file("cases.qfa"), ARCHIVE_KEY));
    ProjectArchive *archive = openArchive(dir.file("cases.qfa"), ARCHIVE_KEY);
    for (int fromArchive = 0; fromArchive < 2; fromArchive++) {
        setCurrentArchive(fromArchive ? archive : nullptr);
        for (size_t i = 0; i < paths.size(); i++) {
            DataFile in;
            ASSERT_TRUE(in.openForRead(paths[i])) << cases[i].name;
            const std::string got = readAll(in, cases[i].reads);
            EXPECT_EQ(cases[i].expected, got) << cases[i].name << (fromArchive ? " (archive entry)" : " (loose file)");
        }
    }
    setCurrentArchive(nullptr);
    closeArchive(archive);
}

}  // namespace
