// The project file: display size, first room and declared saved globals, from loose files and
// from an archive, with every way the file can be cut short or go wrong.
#include <gtest/gtest.h>

#include <unistd.h>

#include "core/config.h"
#include "core/project.h"
#include "resources/archive.h"
#include "save/save.h"
#include "test_support.h"

namespace {

std::string le32(int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string text(const std::string &s) { return le32(static_cast<int32_t>(s.size())) + s; }

std::string projectBytes(int32_t width, int32_t height, const std::string &room, int32_t count,
                         const std::string &records = "")
{
    return le32(width) + le32(height) + text(room) + le32(count) + records;
}

std::string declaration(uint8_t type, const std::string &name) { return std::string(1, char(type)) + text(name); }

// A fresh folder as the working directory, "Quillfen.ini" naming the codename, nothing loaded.
class ProjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
        ASSERT_EQ(0, chdir(dir.path().c_str()));
        useCodename("demo");
    }
    void TearDown() override
    {
        setCurrentArchive(nullptr);
        resetProject();
        clearSavedVariables();
        clearConfig();
        if (chdir(previous) != 0) ADD_FAILURE() << "could not return to " << previous;
    }
    void useCodename(const std::string &codename)
    {
        clearConfig();
        writeFile("Quillfen.ini", "[project]\ncodename = " + codename + "\n");
        ASSERT_TRUE(loadConfig("Quillfen.ini"));
        resetProject();
        clearSavedVariables();
    }
    void writeProject(const std::string &bytes)
    {
        ASSERT_EQ(0, system("mkdir -p Projects/demo"));
        writeFile("Projects/demo/demo.dat", bytes);
    }
    TempDir dir;
    char previous[4096] = {};
};

TEST_F(ProjectTest, ReadsSizeFirstRoomAndDeclarations)
{
    writeProject(projectBytes(800, 600, "title", 3,
                              declaration(SAVE_INTEGER, "score") + declaration(SAVE_BOOLEAN, "seen") +
                                  declaration(SAVE_INTEGER, "lives")) +
                 "trailing bytes are ignored");
    EXPECT_EQ(640, projectDisplayWidth());
    EXPECT_EQ(480, projectDisplayHeight());
    ASSERT_TRUE(loadProject());
    EXPECT_EQ(800, projectDisplayWidth());
    EXPECT_EQ(600, projectDisplayHeight());
    EXPECT_EQ("title", projectFirstRoom());
    EXPECT_EQ("demo", projectCodename());
    EXPECT_EQ("Projects/demo/", projectDirectory());
    EXPECT_EQ((std::vector<std::string>{"score", "lives"}), savedVariables(SAVE_INTEGER));
    EXPECT_EQ((std::vector<std::string>{"seen"}), savedVariables(SAVE_BOOLEAN));
    // Loaded once: a second call reads nothing (the declarations are not doubled).
    writeProject(projectBytes(1, 1, "other", 0));
    EXPECT_TRUE(loadProject());
    EXPECT_EQ(800, projectDisplayWidth());
    EXPECT_EQ(2u, savedVariables(SAVE_INTEGER).size());
}

struct LoadCase
{
    const char *name;
    std::string bytes;
    bool loads;
    int width, height;
    const char *room;
    const char *message;  // exact stderr
};

TEST_F(ProjectTest, LoadResultsAndMessages)
{
    std::string records5000;
    for (int i = 0; i < 5000; i++) records5000 += declaration(SAVE_FLOAT, "v" + std::to_string(i));
    const std::vector<LoadCase> cases = {
        {"800x600 title count 0", projectBytes(800, 600, "title", 0), true, 800, 600, "title", ""},
        {"5000 records accepted", projectBytes(320, 200, "r", 5000, records5000), true, 320, 200, "r", ""},
        {"5001 fails after size and room", projectBytes(321, 201, "r", 5001, records5000), false, 321, 201, "r", ""},
        {"negative count: no records", projectBytes(100, 90, "r", -3), true, 100, 90, "r", ""},
        {"type 0 stops the load", projectBytes(800, 600, "t", 2, declaration(0, "magic") + declaration(1, "x")),
         false, 800, 600, "t", "ERROR: Auto type for 'magic' not supported yet.\n"},
        {"unknown type is skipped", projectBytes(800, 600, "t", 1, declaration(9, "odd")), true, 800, 600, "t",
         "ERROR: No type given for 'odd'\n"},
        {"ends before the count", projectBytes(800, 600, "title", 0).substr(0, 17), false, 800, 600, "title", ""},
        {"ends inside the room name", projectBytes(800, 600, "title", 0).substr(0, 14), false, 800, 600, "", ""},
        {"ends inside a record", projectBytes(800, 600, "t", 1, declaration(1, "score")).substr(0, 21), false, 800,
         600, "t", ""},
        {"room name length 2000 reads as empty", le32(800) + le32(600) + le32(2000) + le32(0), true, 800, 600, "", ""},
        {"empty file", "", false, 0, 0, "", ""},
    };
    for (const LoadCase &c : cases) {
        useCodename("demo");
        writeProject(c.bytes);
        bool loaded = false;
        const std::string err = captureStderr([&] { loaded = loadProject(); });
        EXPECT_EQ(c.loads, loaded) << c.name;
        EXPECT_EQ(c.width, projectDisplayWidth()) << c.name;
        EXPECT_EQ(c.height, projectDisplayHeight()) << c.name;
        EXPECT_EQ(c.room, projectFirstRoom()) << c.name;
        EXPECT_EQ(c.message, err) << c.name;
    }
}

TEST_F(ProjectTest, RecordsBeforeAFailureStayRegistered)
{
    writeProject(projectBytes(800, 600, "t", 3,
                              declaration(SAVE_STRING, "name") + declaration(0, "auto") + declaration(1, "never")));
    captureStderr([] { EXPECT_FALSE(loadProject()); });
    EXPECT_EQ((std::vector<std::string>{"name"}), savedVariables(SAVE_STRING));
    EXPECT_TRUE(savedVariables(SAVE_INTEGER).empty());
}

TEST_F(ProjectTest, MissingFileKeepsTheDefaults)
{
    const std::string err = captureStderr([] { EXPECT_FALSE(loadProject()); });
    EXPECT_EQ("", err);
    EXPECT_EQ(640, projectDisplayWidth());
    EXPECT_EQ(480, projectDisplayHeight());
    EXPECT_EQ("", projectFirstRoom());
}

TEST_F(ProjectTest, EmptyCodenameLooksForProjectsSlashSlashDotDat)
{
    useCodename("");
    // In an archive the name must be exactly "Projects//.dat".
    ASSERT_EQ(0, system("mkdir -p Projects"));
    writeFile("Projects/.dat", projectBytes(123, 45, "e", 0));
    ASSERT_TRUE(buildArchive({"Projects//.dat"}, "empty.qfa", ARCHIVE_KEY));
    ProjectArchive *archive = openArchive("empty.qfa", ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    setCurrentArchive(archive);
    EXPECT_TRUE(loadProject());
    EXPECT_EQ("Projects//", projectDirectory());
    EXPECT_EQ(123, projectDisplayWidth());
    setCurrentArchive(nullptr);
    closeArchive(archive);

    // A lookup of "Projects/.dat" in an archive would miss.
    resetProject();
    ASSERT_TRUE(buildArchive({"Projects/.dat"}, "single.qfa", ARCHIVE_KEY));
    archive = openArchive("single.qfa", ARCHIVE_KEY);
    setCurrentArchive(archive);
    EXPECT_FALSE(loadProject());
    setCurrentArchive(nullptr);
    closeArchive(archive);
}

TEST_F(ProjectTest, TheArchiveCopyWinsOverTheLooseFile)
{
    writeProject(projectBytes(400, 300, "packed", 1, declaration(SAVE_BOOLEAN, "flag")));
    ASSERT_TRUE(buildArchive({"Projects/demo/demo.dat"}, "demo.qfa", ARCHIVE_KEY));
    writeProject(projectBytes(999, 999, "loose", 0));
    ProjectArchive *archive = openArchive("demo.qfa", ARCHIVE_KEY);
    ASSERT_NE(nullptr, archive);
    setCurrentArchive(archive);
    EXPECT_TRUE(loadProject());
    EXPECT_EQ(400, projectDisplayWidth());
    EXPECT_EQ("packed", projectFirstRoom());
    EXPECT_EQ((std::vector<std::string>{"flag"}), savedVariables(SAVE_BOOLEAN));
    setCurrentArchive(nullptr);
    closeArchive(archive);
}

}  // namespace
