// The project archive: the builder's exact layout, entry copies, the current-archive rules
// (loose files ignored, saves on disk), damaged indexes and entries, and reads from two threads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

#include "resources/archive.h"
#include "resources/data_file.h"
#include "test_support.h"

namespace {

std::string le32(int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string scrambled(const std::string &plain)
{
    std::string out = plain;
    for (char &c : out) c = static_cast<char>(c ^ ARCHIVE_KEY);
    return out;
}

// One index record as the format stores it.
std::string record(const std::string &name, int32_t offset, int32_t size)
{
    return le32(static_cast<int32_t>(name.size())) + name + le32(offset) + le32(size);
}

std::string entryText(ProjectArchive *archive, const std::string &name)
{
    std::unique_ptr<MemoryStream> entry = readEntry(archive, name);
    if (!entry) return "<none>";
    return std::string(reinterpret_cast<const char *>(entry->bytes.get()), entry->length);
}

// Runs the test in a fresh folder with no current archive, and puts both back afterwards.
class ArchiveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
        ASSERT_EQ(0, chdir(dir.path().c_str()));
        setCurrentArchive(nullptr);
    }
    void TearDown() override
    {
        setCurrentArchive(nullptr);
        if (chdir(previous) != 0) ADD_FAILURE() << "could not return to " << previous;
    }
    TempDir dir;
    char previous[4096] = {};
};

TEST_F(ArchiveTest, BuilderWritesIndexThenScrambledDataBackToBack)
{
    writeFile("a", "xy");
    writeFile("bc", "");
    writeFile("d", "hello");
    ASSERT_TRUE(buildArchive({"a", "bc", "d"}, "out.qfa", ARCHIVE_KEY));
    const int32_t dataStart = 4 + (1 + 12) + (2 + 12) + (1 + 12);
    const std::string expected = le32(3) + record("a", dataStart, 2) + record("bc", dataStart + 2, 0) +
                                 record("d", dataStart + 2, 5) + scrambled("xy") + scrambled("hello");
    EXPECT_EQ(expected, readFile("out.qfa"));
    EXPECT_FALSE(fileExists("out.qfa.partial")) << "the temporary was left behind";
}

TEST_F(ArchiveTest, EntriesComeBackByteForByte)
{
    std::mt19937 random(7);
    std::vector<std::string> names;
    std::vector<std::string> contents;
    for (size_t size : {0, 1, 7, 8, 9, 15, 16, 17, 4096, 100003}) {
        std::string data(size, '\0');
        for (char &c : data) c = static_cast<char>(random());
        names.push_back("Projects/demo/Images/file" + std::to_string(size));
        contents.push_back(data);
    }
    ASSERT_EQ(0, system("mkdir -p Projects/demo/Images"));
    for (size_t i = 0; i < names.size(); i++) writeFile(names[i], contents[i]);
    ASSERT_TRUE(buildArchive(names, "demo.qfa", ARCHIVE_KEY));
    ProjectArchive *archive = openArchive("demo.qfa", ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    for (size_t i = 0; i < names.size(); i++) {
        const std::string got = entryText(archive, names[i]);
        EXPECT_EQ(contents[i].size(), got.size()) << names[i];
        EXPECT_TRUE(contents[i] == got) << names[i] << ": bytes differ";
    }
    EXPECT_EQ("<none>", entryText(archive, "projects/demo/Images/file0")) << "names are case-sensitive";
    EXPECT_EQ("<none>", entryText(archive, "Projects/demo//Images/file0")) << "names are not normalised";
    closeArchive(archive);
    closeArchive(nullptr);
}

TEST_F(ArchiveTest, TheCurrentArchiveDecidesWhatReadsSee)
{
    ASSERT_EQ(0, system("mkdir -p Projects/demo"));
    writeFile("Projects/demo/packed", "from the archive");
    ASSERT_TRUE(buildArchive({"Projects/demo/packed"}, "demo.qfa", ARCHIVE_KEY));
    writeFile("Projects/demo/packed", "loose copy");
    writeFile("Projects/demo/loose-only", "on disk");
    writeFile("demo1Save.qfs", "save");
    ProjectArchive *archive = openArchive("demo.qfa", ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    setCurrentArchive(archive);

    DataFile f;
    ASSERT_TRUE(f.openForRead("Projects/demo/packed"));
    char buffer[32] = {};
    EXPECT_TRUE(f.readBytes(buffer, static_cast<size_t>(f.size())));
    EXPECT_EQ("from the archive", std::string(buffer)) << "the loose file of the same path must be ignored";
    f.close();
    EXPECT_FALSE(f.openForRead("Projects/demo/loose-only")) << "a file missing from the archive is missing";
    EXPECT_FALSE(fileExists("Projects/demo/loose-only"));
    EXPECT_TRUE(fileExists("Projects/demo/packed"));
    ASSERT_TRUE(f.openForReadFromDisk("demo1Save.qfs")) << "saves are read from disk whatever the archive";
    EXPECT_EQ(4, f.size());
    f.close();
    ASSERT_TRUE(f.openForWrite("written")) << "writes always go to disk";
    f.writeByte('w');
    f.close();
    EXPECT_EQ("w", readFile("written"));

    setCurrentArchive(nullptr);
    closeArchive(archive);
    ASSERT_TRUE(f.openForRead("Projects/demo/loose-only")) << "without an archive loose files are read";
    f.close();
}

TEST_F(ArchiveTest, ALaterRecordOfTheSameNameWins)
{
    const int32_t start = 4 + 2 * (4 + 12);
    writeFile("dup.qfa", le32(2) + record("file", start, 3) + record("file", start + 3, 4) + scrambled("oldnews"));
    ProjectArchive *archive = openArchive("dup.qfa", ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    EXPECT_EQ("news", entryText(archive, "file"));
    closeArchive(archive);
}

struct DamagedIndex
{
    const char *name;
    std::string file;
    const char *warning;          // "" when it opens silently
    std::vector<std::string> names;  // the index it ends up with
};

TEST_F(ArchiveTest, DamagedIndexesOpenWithTheWholeRecordsTheyHold)
{
    const std::vector<DamagedIndex> cases = {
        {"negative count: an empty archive", le32(-5), "", {}},
        {"count 0 with trailing bytes", le32(0) + "junk", "", {}},
        {"empty file", "", "WARNING: Archive 'bad.qfa' has a damaged index: the entry count is missing.\n", {}},
        {"huge count, one record", le32(0x7FFFFFFF) + record("a", 0, 0),
         "WARNING: Archive 'bad.qfa' has a damaged index: it ends inside record 2 of 2147483647.\n", {"a"}},
        {"name length 1025 stores no name", le32(2) + le32(1025) + le32(0) + le32(0) + record("b", 0, 0),
         "WARNING: Archive 'bad.qfa' has a damaged index: record 1 has a name length of 1025.\n", {"", "b"}},
        {"negative name length", le32(1) + le32(-1) + le32(0) + le32(0),
         "WARNING: Archive 'bad.qfa' has a damaged index: record 1 has a name length of -1.\n", {""}},
        {"record cut inside its size", le32(2) + record("z", 0, 0) + le32(1) + "a" + le32(0) + "\x01",
         "WARNING: Archive 'bad.qfa' has a damaged index: it ends inside record 2 of 2.\n", {"z"}},
        {"name of exactly 1024 bytes", le32(1) + record(std::string(1024, 'k'), 0, 4), "", {std::string(1024, 'k')}},
    };
    for (const DamagedIndex &c : cases) {
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

TEST_F(ArchiveTest, EntriesOutsideTheFileAreRefusedAndLaterReadsStillWork)
{
    const int32_t start = 4 + 6 * (4 + 12);
    const std::string index = le32(6) + record("good", start, 4) + record("late", start + 2, 10) +
                              record("past", 1000000, 1) + record("negs", start, -1) +
                              record("nego", -4, 2) + record("wrap", 0x7FFFFFF0, 0x7FFFFFF0);
    writeFile("edge.qfa", index + scrambled("data"));
    ProjectArchive *archive = openArchive("edge.qfa", ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    setCurrentArchive(archive);
    for (const char *name : {"late", "past", "negs", "nego", "wrap"}) {
        std::string got;
        const std::string err = captureStderr([&] { got = entryText(archive, name); });
        EXPECT_EQ("<none>", got) << name;
        EXPECT_EQ("ERROR: Entry '" + std::string(name) + "' lies outside the archive 'edge.qfa'.\n", err) << name;
        EXPECT_FALSE(fileExists(name)) << name;
        EXPECT_EQ("data", entryText(archive, "good")) << "after " << name;
    }
    const std::string err = captureStderr([&] { EXPECT_EQ("<none>", entryText(archive, "missing")); });
    EXPECT_EQ("", err) << "a name that is not in the index prints nothing";
    EXPECT_EQ("data", entryText(archive, "good"));
    setCurrentArchive(nullptr);
    closeArchive(archive);
}

TEST_F(ArchiveTest, TwoThreadsMissingAndReadingKeepGettingTheRightBytes)
{
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>(i * 31 + 7);
    writeFile("one", big);
    writeFile("two", "second entry");
    ASSERT_TRUE(buildArchive({"one", "two"}, "t.qfa", ARCHIVE_KEY));
    ProjectArchive *archive = openArchive("t.qfa", ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    std::atomic<int> wrong{0};
    auto reader = [&](const std::string &name, const std::string &expected) {
        for (int i = 0; i < 200; i++) {
            if (readEntry(archive, "not/there") != nullptr) wrong++;
            if (entryText(archive, name) != expected) wrong++;
        }
    };
    std::thread first(reader, "one", big);
    std::thread second(reader, "two", "second entry");
    first.join();
    second.join();
    EXPECT_EQ(0, wrong.load()) << "reads that came back wrong";
    closeArchive(archive);
}

TEST_F(ArchiveTest, BuilderReportsWhatItCannotDo)
{
    writeFile("a", "x");
    writeFile("keep.qfa", "old archive");
    struct Case
    {
        const char *name;
        std::vector<std::string> files;
        std::string archive;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"missing input", {"a", "nope"}, "keep.qfa", "ERROR: File 'nope' could not be opened.\n"},
        {"archive folder missing", {"a"}, "no/such/x.qfa", "ERROR: Archive 'no/such/x.qfa' could not be opened.\n"},
        {"name over 1024 bytes", {std::string(1025, 'n')}, "keep.qfa",
         "ERROR: File name '" + std::string(1025, 'n') + "' is longer than 1024 bytes.\n"},
    };
    for (const Case &c : cases) {
        bool built = true;
        const std::string err = captureStderr([&] { built = buildArchive(c.files, c.archive, ARCHIVE_KEY); });
        EXPECT_FALSE(built) << c.name;
        EXPECT_EQ(c.message, err) << c.name;
    }
    EXPECT_EQ("old archive", readFile("keep.qfa")) << "a failed build must not touch the old archive";
}

}  // namespace
