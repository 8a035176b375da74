// The project file: sizes, first room, saved globals, damaged files, the empty-codename path.
#include <gtest/gtest.h>

#include "core/config.h"
#include "core/project.h"
#include "resources/archive.h"
#include "save/save.h"
#include "test_support.h"

namespace {

std::string project(int32_t width, int32_t height, const std::string &room, int32_t count, const std::string &records = "")
{
    return int32LE(width) + int32LE(height) + lengthText(room) + int32LE(count) + records;
}
std::string declaration(char type, const std::string &name) { return type + lengthText(name); }

// Catches fields kept or lost when the file is cut short, the record limit, type messages, reloads.
TEST(ProjectFile, LoadResultsMessagesAndDeclarations)
{
    WorkDir dir;
    useConfig("demo");
    EXPECT_EQ("", captureStderr([] { EXPECT_FALSE(loadProject()); })) << "a missing file is silent";
    EXPECT_EQ("640x480", std::to_string(projectDisplayWidth()) + "x" + std::to_string(projectDisplayHeight()));
    ASSERT_EQ(0, system("mkdir -p Projects/demo"));
    std::string records5000;
    for (int i = 0; i < 5000; i++) records5000 += declaration(SAVE_FLOAT, "v" + std::to_string(i));
    const std::string two = declaration(SAVE_INTEGER, "score") + declaration(SAVE_BOOLEAN, "seen");
    // The file; whether it loads; then "width height room" and the declarations as type and name.
    const struct { const char *name; std::string bytes; bool loads; const char *fields, *message, *declared; } cases[] = {
        {"800x600 title count 0", project(800, 600, "title", 0), true, "800 600 title", "", ""},
        {"declarations by type, in order; trailing bytes ignored",
         project(320, 200, "r", 3, two + declaration(SAVE_INTEGER, "lives")) + "trailing", true, "320 200 r", "",
         "1score 1lives 4seen "},
        {"5000 records accepted", project(320, 200, "r", 5000, records5000), true, "320 200 r", "", nullptr},
        {"5001 fails after size and room", project(321, 201, "r", 5001, records5000 + declaration(2, "v")), false,
         "321 201 r", "", ""},
        {"negative count: no records", project(100, 90, "r", -3), true, "100 90 r", "", ""},
        {"type 0 stops the load; records before it stay",
         project(800, 600, "t", 3, declaration(SAVE_STRING, "name") + declaration(0, "magic") + two), false, "800 600 t",
         "ERROR: Auto type for 'magic' not supported yet.\n", "3name "},
        {"unknown type is skipped", project(800, 600, "t", 3, declaration(9, "odd") + two), true, "800 600 t",
         "ERROR: No type given for 'odd'\n", "1score 4seen "},
        {"ends before the count", project(800, 600, "title", 0).substr(0, 17), false, "800 600 title", "", ""},
        {"ends inside the room name", project(800, 600, "title", 0).substr(0, 14), false, "800 600 ", "", ""},
        {"ends inside a record", project(800, 600, "t", 1, two).substr(0, 21), false, "800 600 t", "", ""},
        {"empty file", "", false, "0 0 ", "", ""},
    };
    for (const auto &c : cases) {
        useConfig("demo");
        writeFile("Projects/demo/demo.dat", c.bytes);
        bool loaded = false;
        EXPECT_EQ(c.message, captureStderr([&] { loaded = loadProject(); })) << c.name;
        EXPECT_EQ(c.loads, loaded) << c.name;
        for (int pass = 0; pass < 2; pass++) {
            std::string declared;
            for (int type = 1; type <= 8; type++)
                for (const std::string &name : savedVariables((SaveType)type)) declared += std::to_string(type) + name + " ";
            EXPECT_EQ(c.fields, std::to_string(projectDisplayWidth()) + " " + std::to_string(projectDisplayHeight()) +
                                    " " + projectFirstRoom()) << c.name;
            EXPECT_EQ(c.declared ? c.declared : declared, declared) << c.name;
            if (!loaded || pass) break;
            writeFile("Projects/demo/demo.dat", project(1, 1, "other", 1, declaration(SAVE_STRING, "again")));
            EXPECT_TRUE(loadProject()) << c.name << ": a second load must read nothing";
        }
    }
}

// Catches a path built without the empty codename ("Projects//.dat" is the exact archive name).
TEST(ProjectFile, EmptyCodenameLooksForProjectsSlashSlashDotDat)
{
    WorkDir dir;
    useConfig("");
    ASSERT_EQ(0, system("mkdir -p Projects"));
    writeFile("Projects/.dat", project(123, 45, "e", 0));
    for (const std::string name : {"Projects//.dat", "Projects/.dat"}) {
        resetProject();
        ASSERT_TRUE(buildArchive({name}, "a.qfa", ARCHIVE_KEY));
        ProjectArchive *archive = openArchive("a.qfa", ARCHIVE_KEY);
        setCurrentArchive(archive);
        EXPECT_EQ(name == "Projects//.dat", loadProject()) << name;
        EXPECT_EQ("Projects//", projectDirectory());
        setCurrentArchive(nullptr);
        closeArchive(archive);
    }
    clearConfig();
}

}  // namespace
