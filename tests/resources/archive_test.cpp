// The project archive: builder layout, current-archive rules, damaged indexes and entries, two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "resources/archive.h"
#include "resources/data_file.h"
#include "test_support.h"

namespace {

std::string scrambled(std::string plain)
{
    for (char &c : plain) c = (char)(c ^ ARCHIVE_KEY);
    return plain;
}

// One index record as the format stores it.
std::string record(const std::string &name, int32_t offset, int32_t size)
{
    return lengthText(name) + int32LE(offset) + int32LE(size);
}

std::string entryText(ProjectArchive *archive, const std::string &name)
{
    std::unique_ptr<MemoryStream> entry = readEntry(archive, name);
    return entry ? std::string((const char *)entry->bytes.get(), entry->length) : "<none>";
}

// A fresh working directory and no current archive, before and after.
struct ArchiveTest : ::testing::Test
{
    void SetUp() override { setCurrentArchive(nullptr); }
    void TearDown() override { setCurrentArchive(nullptr); }
    WorkDir dir;
};

// Catches bad builder layout, loose files read past a current archive, saves sent to it, loose names.
TEST_F(ArchiveTest, TheCurrentArchiveDecidesWhatReadsSee)
{
    ASSERT_EQ(0, system("mkdir -p Projects/demo"));
    writeFile("Projects/demo/packed", "from the archive");
    ASSERT_TRUE(buildArchive({"Projects/demo/packed"}, "demo.qfa", ARCHIVE_KEY));
    EXPECT_EQ(int32LE(1) + record("Projects/demo/packed", 36, 16) + scrambled("from the archive"), readFile("demo.qfa"));
    EXPECT_FALSE(fileExists("demo.qfa.partial")) << "the temporary was left behind";
    writeFile("Projects/demo/packed", "loose copy");
    writeFile("Projects/demo/loose-only", "on disk");
    writeFile("demo1Save.qfs", "save");
    ProjectArchive *archive = openArchive("demo.qfa", ARCHIVE_KEY);
    setCurrentArchive(archive);
    DataFile f;
    ASSERT_TRUE(f.openForRead("Projects/demo/packed"));
    char buffer[32] = {};
    EXPECT_TRUE(f.readBytes(buffer, (size_t)f.size()));
    EXPECT_EQ("from the archive", std::string(buffer)) << "the loose file of the same path must be ignored";
    EXPECT_FALSE(f.openForRead("Projects/demo/loose-only")) << "a file missing from the archive is missing";
    EXPECT_FALSE(fileExists("Projects/demo/loose-only"));
    EXPECT_EQ("<none>", entryText(archive, "projects/demo/packed")) << "names are case-sensitive";
    EXPECT_EQ("<none>", entryText(archive, "Projects/demo//packed")) << "names are not normalised";
    ASSERT_TRUE(f.openForReadFromDisk("demo1Save.qfs")) << "saves are read from disk whatever the archive";
    EXPECT_EQ(4, f.size());
    ASSERT_TRUE(f.openForWrite("written")) << "writes always go to disk";
    f.writeByte('w');
    f.close();
    EXPECT_EQ("w", readFile("written"));
    setCurrentArchive(nullptr);
    closeArchive(archive);
    EXPECT_TRUE(fileExists("Projects/demo/loose-only")) << "without an archive loose files are read";
}

// Catches a damaged index that refuses the archive, keeps a partial record, or warns wrongly.
TEST_F(ArchiveTest, DamagedIndexesOpenWithTheWholeRecordsTheyHold)
{
    const std::string damaged = "WARNING: Archive 'bad.qfa' has a damaged index: ";
    const struct { const char *name; std::string file, warning; std::vector<std::string> names; } cases[] = {
        {"negative count: an empty archive", int32LE(-5), "", {}},
        {"count 0 with trailing bytes", int32LE(0) + "junk", "", {}},
        {"empty file", "", damaged + "the entry count is missing.\n", {}},
        {"huge count, one record", int32LE(0x7FFFFFFF) + record("a", 0, 0),
         damaged + "it ends inside record 2 of 2147483647.\n", {"a"}},
        {"name length 1025 stores no name", int32LE(2) + int32LE(1025) + int32LE(0) + int32LE(0) + record("b", 0, 0),
         damaged + "record 1 has a name length of 1025.\n", {"", "b"}},
        {"negative name length", int32LE(1) + int32LE(-1) + int32LE(0) + int32LE(0),
         damaged + "record 1 has a name length of -1.\n", {""}},
        {"record cut inside its size", int32LE(2) + record("z", 0, 0) + lengthText("a") + int32LE(0) + "\x01",
         damaged + "it ends inside record 2 of 2.\n", {"z"}},
        {"name of exactly 1024 bytes", int32LE(1) + record(std::string(1024, 'k'), 0, 4), "", {std::string(1024, 'k')}},
    };
    for (const auto &c : cases) {
        writeFile("bad.qfa", c.file);
        ProjectArchive *archive = nullptr;
        const std::string err = captureStderr([&] { archive = openArchive("bad.qfa", ARCHIVE_KEY); });
        ASSERT_NE(nullptr, archive) << c.name << ": expected it to open, got: " << err;
        EXPECT_EQ(c.warning, err) << c.name;
        for (const std::string &name : c.names) EXPECT_TRUE(hasEntry(archive, name)) << c.name << ": " << name;
        EXPECT_FALSE(hasEntry(archive, "missing")) << c.name;
        closeArchive(archive);
    }
    const std::string err = captureStderr([] { EXPECT_EQ(nullptr, openArchive("absent.qfa", ARCHIVE_KEY)); });
    EXPECT_EQ("ERROR: 'absent.qfa' could not be opened.\n", err);
}

// Catches entries read out of bounds, refusals that break later reads, the earlier of two names winning.
TEST_F(ArchiveTest, EntriesOutsideTheFileAreRefusedAndLaterReadsStillWork)
{
    const int32_t start = 4 + 8 * (4 + 12);
    writeFile("edge.qfa", int32LE(8) + record("good", start, 4) + record("late", start + 2, 10) +
                              record("past", 1000000, 1) + record("negs", start, -1) + record("nego", -4, 2) +
                              record("wrap", 0x7FFFFFF0, 0x7FFFFFF0) + record("file", start + 4, 3) +
                              record("file", start + 7, 4) + scrambled("dataoldnews"));
    ProjectArchive *archive = openArchive("edge.qfa", ARCHIVE_KEY);
    setCurrentArchive(archive);
    for (const std::string name : {"late", "past", "negs", "nego", "wrap", "missing"}) {
        std::string got;
        const std::string err = captureStderr([&] { got = entryText(archive, name); });
        EXPECT_EQ("<none>", got) << name;
        EXPECT_EQ(name == "missing" ? "" : "ERROR: Entry '" + name + "' lies outside the archive 'edge.qfa'.\n", err);
        EXPECT_FALSE(fileExists(name)) << name;
        EXPECT_EQ("data", entryText(archive, "good")) << "after " << name;
    }
    EXPECT_EQ("news", entryText(archive, "file")) << "the later record of a name wins";
    setCurrentArchive(nullptr);
    closeArchive(archive);
}

// Catches reads on two threads that mix up their positions or their copies.
TEST_F(ArchiveTest, TwoThreadsMissingAndReadingKeepGettingTheRightBytes)
{
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i * 31 + 7);
    writeFile("one", big);
    writeFile("two", "second entry");
    ASSERT_TRUE(buildArchive({"one", "two"}, "t.qfa", ARCHIVE_KEY));
    ProjectArchive *archive = openArchive("t.qfa", ARCHIVE_KEY);
    std::atomic<int> wrong{0};
    auto reader = [&](const std::string &name, const std::string &expected) {
        for (int i = 0; i < 200; i++)
            wrong += (readEntry(archive, "not/there") != nullptr) + (entryText(archive, name) != expected);
    };
    std::thread first(reader, "one", big), second(reader, "two", "second entry");
    first.join();
    second.join();
    EXPECT_EQ(0, wrong.load()) << "reads that came back wrong";
    closeArchive(archive);
}

}  // namespace
