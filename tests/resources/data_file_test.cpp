// DataFile: golden bytes of every typed write, and the same reads from a loose file and from
// an archive entry (the two back ends must agree byte for byte and position for position).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "resources/archive.h"
#include "resources/data_file.h"
#include "test_support.h"

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

std::string hex(const std::string &data)
{
    std::string out;
    char cell[4];
    for (size_t i = 0; i < data.size() && i < 48; i++) {
        snprintf(cell, sizeof cell, "%02X ", static_cast<unsigned char>(data[i]));
        out += cell;
    }
    if (data.size() > 48) out += "... (" + std::to_string(data.size()) + " bytes)";
    return out;
}

struct WriteCase
{
    const char *name;
    std::function<void(DataFile &)> write;
    std::string expected;
};

TEST(DataFileWrite, TypedWritesGiveTheseBytes)
{
    const std::string text1024(1024, 'x');
    const std::string text1025(1025, 'y');
    const std::vector<WriteCase> cases = {
        {"int32 -2", [](DataFile &f) { f.writeInt32(-2); }, bytes({0xFE, 0xFF, 0xFF, 0xFF})},
        {"int32 0x01020304", [](DataFile &f) { f.writeInt32(0x01020304); }, bytes({4, 3, 2, 1})},
        {"int16 -2", [](DataFile &f) { f.writeInt16(-2); }, bytes({0xFE, 0xFF})},
        {"byte 0xAB", [](DataFile &f) { f.writeByte(0xAB); }, bytes({0xAB})},
        {"real -0.25", [](DataFile &f) { f.writeReal(-0.25f); }, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x17, 0xB4, 0x2C})},
        {"real 2.5", [](DataFile &f) { f.writeReal(2.5f); }, bytes({2, 0, 0, 0, 0x00, 0x65, 0xCD, 0x1D})},
        {"real -2.5", [](DataFile &f) { f.writeReal(-2.5f); }, bytes({0xFD, 0xFF, 0xFF, 0xFF, 0x00, 0x65, 0xCD, 0x1D})},
        {"real 0", [](DataFile &f) { f.writeReal(0.0f); }, bytes({0, 0, 0, 0, 0, 0, 0, 0})},
        {"real NaN stores 0", [](DataFile &f) { f.writeReal(NAN); }, bytes({0, 0, 0, 0, 0, 0, 0, 0})},
        {"real 1e20 clamps", [](DataFile &f) { f.writeReal(1e20f); }, bytes({0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0})},
        {"real -inf clamps", [](DataFile &f) { f.writeReal(-INFINITY); }, bytes({0, 0, 0, 0x80, 0, 0, 0, 0})},
        {"string Al", [](DataFile &f) { f.writeString("Al"); }, bytes({2, 0, 0, 0, 0x41, 0x6C})},
        {"empty string", [](DataFile &f) { f.writeString(""); }, bytes({0, 0, 0, 0})},
        {"1024-byte string", [&](DataFile &f) { f.writeString(text1024); }, bytes({0, 4, 0, 0}) + text1024},
        {"1025-byte string: length only", [&](DataFile &f) { f.writeString(text1025); }, bytes({1, 4, 0, 0})},
        {"eleven bits then an int32",
         [](DataFile &f) {
             for (int bit : {1, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0}) f.writeBit(bit);
             f.writeInt32(0x01020304);
         },
         bytes({0x8D, 0x03, 4, 3, 2, 1})},
        {"nine booleans: the ninth is bit 0 of byte 2",
         [](DataFile &f) {
             for (int i = 0; i < 8; i++) f.writeBit(false);
             f.writeBit(true);
         },
         bytes({0x00, 0x01})},
        {"eight bits make exactly one byte",
         [](DataFile &f) {
             for (int i = 0; i < 8; i++) f.writeBit(true);
             f.writeByte(7);
         },
         bytes({0xFF, 7})},
        {"a bit byte is finished by a string", [](DataFile &f) { f.writeBit(true); f.writeString("A"); },
         bytes({1, 1, 0, 0, 0, 0x41})},
        {"the save-file example",
         [](DataFile &f) {
             f.writeBit(true);
             f.writeBit(false);
             f.writeInt32(-2);
             f.writeString("Al");
         },
         bytes({0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x41, 0x6C})},
        {"reads on a write-mode file do nothing",
         [](DataFile &f) {
             EXPECT_EQ(0, f.readInt32());
             EXPECT_EQ("", f.readString());
             EXPECT_FALSE(f.readBit());
             EXPECT_EQ(0.0f, f.readReal());
             f.writeByte(9);
         },
         bytes({9})},
    };
    TempDir dir;
    for (const WriteCase &c : cases) {
        const std::string path = dir.file("out.bin");
        DataFile out;
        ASSERT_TRUE(out.openForWrite(path)) << c.name;
        c.write(out);
        EXPECT_TRUE(out.close()) << c.name;
        const std::string got = readFile(path);
        EXPECT_EQ(c.expected, got) << c.name << ": expected " << hex(c.expected) << ", got " << hex(got);
    }
}

TEST(DataFileWrite, WritesOnAReadModeFileFail)
{
    TempDir dir;
    writeFile(dir.file("in.bin"), bytes({1, 2, 3, 4}));
    DataFile in;
    ASSERT_TRUE(in.openForReadFromDisk(dir.file("in.bin")));
    EXPECT_FALSE(in.writeInt32(5));
    EXPECT_FALSE(in.writeBit(true));
    EXPECT_FALSE(in.writeString("x"));
    EXPECT_FALSE(in.writeReal(1.0f));
    EXPECT_EQ(0x04030201, in.readInt32());
    in.close();
    EXPECT_EQ(bytes({1, 2, 3, 4}), readFile(dir.file("in.bin")));
}

// ---- reading: every case runs on a loose file and on the same bytes as an archive entry

struct ReadCase
{
    const char *name;
    std::string data;
    std::function<void(DataFile &, const std::string &where)> check;
};

void runReadCases(const std::vector<ReadCase> &cases)
{
    TempDir dir;
    std::vector<std::string> paths;
    for (size_t i = 0; i < cases.size(); i++) {
        paths.push_back(dir.file("case" + std::to_string(i)));
        writeFile(paths.back(), cases[i].data);
    }
    ASSERT_TRUE(buildArchive(paths, dir.file("cases.qfa"), ARCHIVE_KEY));
    for (size_t i = 0; i < cases.size(); i++) {
        DataFile loose;
        ASSERT_TRUE(loose.openForReadFromDisk(paths[i])) << cases[i].name;
        cases[i].check(loose, std::string(cases[i].name) + " (loose file)");
        loose.close();
    }
    ProjectArchive *archive = openArchive(dir.file("cases.qfa"), ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    setCurrentArchive(archive);
    for (size_t i = 0; i < cases.size(); i++) {
        DataFile entry;
        EXPECT_TRUE(entry.openForRead(paths[i])) << cases[i].name;
        if (entry.isOpen()) cases[i].check(entry, std::string(cases[i].name) + " (archive entry)");
        entry.close();
    }
    setCurrentArchive(nullptr);
    closeArchive(archive);
}

TEST(DataFileRead, TypedReadsFromLooseFilesAndArchiveEntries)
{
    std::string string1025 = bytes({1, 4, 0, 0}) + bytes({7, 0, 0, 0});
    std::string bits = bytes({0x8D, 0x03, 4, 3, 2, 1});
    const std::vector<ReadCase> cases = {
        {"int32, int16, byte", bytes({0xFE, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xAB}),
         [](DataFile &f, const std::string &where) {
             EXPECT_EQ(-2, f.readInt32()) << where;
             EXPECT_EQ(-2, f.readInt16()) << where;
             EXPECT_EQ(0xAB, f.readByte()) << where;
             EXPECT_FALSE(f.atEnd()) << where;
             EXPECT_EQ(0, f.readByte()) << where << ": a failed read gives 0";
             EXPECT_TRUE(f.atEnd()) << where << ": one read past the data sets atEnd";
         }},
        {"reals -0.25, 2.5, -2.5",
         bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x17, 0xB4, 0x2C, 2, 0, 0, 0, 0x00, 0x65, 0xCD, 0x1D, 0xFD, 0xFF, 0xFF,
                0xFF, 0x00, 0x65, 0xCD, 0x1D}),
         [](DataFile &f, const std::string &where) {
             EXPECT_EQ(-0.25f, f.readReal()) << where;
             EXPECT_EQ(2.5f, f.readReal()) << where;
             EXPECT_EQ(-2.5f, f.readReal()) << where;
         }},
        {"fraction read as unsigned: 0xFFFFFFFF / 1e9 = 4.294967295",
         bytes({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}),
         [](DataFile &f, const std::string &where) { EXPECT_EQ(4.294967295f, f.readReal()) << where; }},
        {"eleven bits then an int32", bits,
         [](DataFile &f, const std::string &where) {
             const int expected[11] = {1, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0};
             for (int i = 0; i < 11; i++) EXPECT_EQ(expected[i] != 0, f.readBit()) << where << " bit " << i;
             EXPECT_EQ(1, f.tell()) << where << ": the position stays on the byte being unpacked";
             EXPECT_EQ(0x01020304, f.readInt32()) << where;
             EXPECT_FALSE(f.atEnd()) << where;
         }},
        {"string 'Al', then a string cut at its zero byte",
         bytes({2, 0, 0, 0, 'A', 'l', 5, 0, 0, 0, 'a', 'b', 0, 'c', 'd', 9}),
         [](DataFile &f, const std::string &where) {
             EXPECT_EQ("Al", f.readString()) << where;
             EXPECT_EQ("ab", f.readString()) << where;
             EXPECT_EQ(15, f.tell()) << where << ": all five stored bytes are consumed";
             EXPECT_EQ(9, f.readByte()) << where;
         }},
        {"stored length 2000 reads as empty and consumes only the length",
         bytes({0xD0, 0x07, 0, 0, 'z'}),
         [](DataFile &f, const std::string &where) {
             EXPECT_EQ("", f.readString()) << where;
             EXPECT_EQ(4, f.tell()) << where;
             EXPECT_EQ('z', f.readByte()) << where;
         }},
        {"stored length -1 reads as empty", bytes({0xFF, 0xFF, 0xFF, 0xFF, 'z'}),
         [](DataFile &f, const std::string &where) {
             EXPECT_EQ("", f.readString()) << where;
             EXPECT_EQ(4, f.tell()) << where;
         }},
        {"a 1025-byte string stored as its length alone", string1025,
         [](DataFile &f, const std::string &where) {
             EXPECT_EQ("", f.readString()) << where;
             EXPECT_EQ(7, f.readInt32()) << where << ": the next value follows the length";
         }},
        {"a string cut short", bytes({10, 0, 0, 0, 'a', 'b'}),
         [](DataFile &f, const std::string &where) {
             EXPECT_EQ("", f.readString()) << where;
             EXPECT_TRUE(f.atEnd()) << where;
         }},
        {"skip(-4) moves back onto the integer just read", bytes({1, 0, 0, 0, 2, 0, 0, 0}),
         [](DataFile &f, const std::string &where) {
             EXPECT_EQ(1, f.readInt32()) << where;
             EXPECT_TRUE(f.skip(-4)) << where;
             EXPECT_EQ(0, f.tell()) << where;
             EXPECT_EQ(1, f.readInt32()) << where;
             EXPECT_TRUE(f.skip(0)) << where;
             EXPECT_EQ(2, f.readInt32()) << where;
         }},
        {"size keeps the position", bytes({1, 2, 3, 4, 5, 6, 7}),
         [](DataFile &f, const std::string &where) {
             f.readInt16();
             EXPECT_EQ(7, f.size()) << where;
             EXPECT_EQ(2, f.tell()) << where;
             EXPECT_EQ(3, f.readByte()) << where;
         }},
        {"a truncated int32 reads 0 and sets atEnd; seek clears it", bytes({5, 6}),
         [](DataFile &f, const std::string &where) {
             EXPECT_EQ(0, f.readInt32()) << where;
             EXPECT_TRUE(f.atEnd()) << where;
             EXPECT_TRUE(f.seek(0)) << where;
             EXPECT_FALSE(f.atEnd()) << where;
             EXPECT_EQ(0x0605, f.readInt16()) << where;
             EXPECT_FALSE(f.seek(-1)) << where << ": negative positions are refused";
         }},
        {"readBytes gives raw bytes; a short read says so", bytes({'a', 'b', 'c'}),
         [](DataFile &f, const std::string &where) {
             char buffer[8] = {};
             EXPECT_TRUE(f.readBytes(buffer, 2)) << where;
             EXPECT_EQ(std::string("ab"), std::string(buffer, 2)) << where;
             EXPECT_FALSE(f.readBytes(buffer, 5)) << where;
             EXPECT_TRUE(f.atEnd()) << where;
         }},
        {"readBytesAt leaves the position and atEnd alone", std::string("abcdef"),
         [](DataFile &f, const std::string &where) {
             char buffer[4] = {};
             EXPECT_EQ('a', f.readByte()) << where;
             EXPECT_TRUE(f.readBytesAt(3, buffer, 3)) << where;
             EXPECT_EQ(std::string("def"), std::string(buffer, 3)) << where;
             EXPECT_FALSE(f.readBytesAt(5, buffer, 2)) << where << ": runs past the end";
             EXPECT_FALSE(f.readBytesAt(-1, buffer, 1)) << where;
             EXPECT_EQ(1, f.tell()) << where;
             EXPECT_FALSE(f.atEnd()) << where;
             EXPECT_EQ('b', f.readByte()) << where;
         }},
        {"bits past the end read false and set atEnd", bytes({0x01}),
         [](DataFile &f, const std::string &where) {
             for (int i = 0; i < 8; i++) EXPECT_EQ(i == 0, f.readBit()) << where << " bit " << i;
             EXPECT_FALSE(f.atEnd()) << where;
             EXPECT_FALSE(f.readBit()) << where;
             EXPECT_TRUE(f.atEnd()) << where;
         }},
        {"empty data", std::string(),
         [](DataFile &f, const std::string &where) {
             EXPECT_EQ(0, f.size()) << where;
             EXPECT_EQ("", f.readString()) << where;
             EXPECT_TRUE(f.atEnd()) << where;
         }},
    };
    runReadCases(cases);
}

TEST(DataFileRead, RealsSurviveARoundTrip)
{
    const float values[] = {-0.25f, 2.5f, -2.5f, 0.1f, 123.456f, -7.75f, 1000000.5f, 0.0f, -1.0f};
    TempDir dir;
    DataFile out;
    ASSERT_TRUE(out.openForWrite(dir.file("reals")));
    for (float v : values) out.writeReal(v);
    ASSERT_TRUE(out.close());
    DataFile in;
    ASSERT_TRUE(in.openForReadFromDisk(dir.file("reals")));
    for (float v : values) {
        const float got = in.readReal();
        EXPECT_EQ(v, got) << "expected " << v << ", got " << got;
    }
    in.close();
}

TEST(DataFileRead, OpeningAndClosingRules)
{
    TempDir dir;
    DataFile f;
    EXPECT_FALSE(f.openForReadFromDisk(dir.file("missing")));
    EXPECT_FALSE(f.openForWrite(dir.file("no-such-folder/file")));
    EXPECT_EQ(0, f.readInt32());
    EXPECT_TRUE(f.atEnd()) << "a closed file has no data";
    EXPECT_FALSE(fileExists(dir.file("missing")));
    writeFile(dir.file("here"), "x");
    EXPECT_TRUE(fileExists(dir.file("here")));
    // One object opened again after close, in the other mode.
    ASSERT_TRUE(f.openForWrite(dir.file("again")));
    f.writeBit(true);  // a pending bit byte is written by close
    EXPECT_TRUE(f.close());
    ASSERT_TRUE(f.openForReadFromDisk(dir.file("again")));
    EXPECT_TRUE(f.readBit());
    EXPECT_EQ(1, f.size());
    f.close();
}

}  // namespace
