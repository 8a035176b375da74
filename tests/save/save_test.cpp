// Save games through a real Lua state: sections byte for byte, type messages, loads, failed saves.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <sstream>

#include "core/config.h"
#include "core/script.h"
#include "resources/data_file.h"
#include "save/save.h"
#include "test_support.h"

namespace {

// A fresh working directory, codename demo, a Lua state with saveGame/loadGame.
struct SaveTest : ::testing::Test
{
    void TearDown() override
    {
        lua_close(L);
        clearSavedVariables();
        clearConfig();
    }
    // extraConfig: more lines of the [project] section; declarations: words of a type code and a
    // name ("4a" declares the boolean a: 1 integer, 2 float, 3 string, 4 boolean, 5..8 their arrays)
    void configure(const std::string &extraConfig, const std::string &declarations = "")
    {
        if (L != nullptr) lua_close(L);
        useConfig("demo", extraConfig);
        std::istringstream words(declarations);
        for (std::string w; words >> w;) registerSavedVariable((uint8_t)(w[0] - '0'), w.substr(1));
        L = luaL_newstate();
        luaL_openlibs(L);
        registerSaveFunctions(L);
    }
    std::string value(const std::string &expression) { return luaValue(L, expression); }
    WorkDir dir;
    lua_State *L = nullptr;
};

// Catches sections out of order, bad bits, long strings, holes, wrong types without default or message.
TEST_F(SaveTest, SectionsAndTypeRulesByteForByte)
{
    const std::string error = "ERROR: Invalid type being saved. Expected ";
    const struct { const char *name, *declarations, *script; std::string expected, messages; } cases[] = {
        {"the ten-byte example", "4a 4b 1score 3name", "a = true b = false score = -2 name = 'Al'",
         byteString({0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x41, 0x6C}), ""},
        {"no declarations: an empty file", "", "", "", ""},
        {"sections in their fixed order whatever the declaration order", "7sa 6fa 5ia 8ba 3s 2f 1i 4b",
         "sa = {'q'} fa = {0.5} ia = {9} ba = {true, false, true} s = 'z' f = 2.5 i = 3 b = true",
         "\x01" + int32LE(3) + int32LE(2) + int32LE(500000000) + lengthText("z") + int32LE(3) + "\x05" + int32LE(1) +
             int32LE(9) + int32LE(1) + int32LE(0) + int32LE(500000000) + int32LE(1) + lengthText("q"), ""},
        {"a zero byte ends a string", "3z", "z = 'a\\0b'", lengthText("a"), ""},
        {"integers from text and truncated toward zero; nil saves 0", "1t 1missing 1p 1n", "t = '12' p = 2.7 n = -2.7",
         int32LE(12) + int32LE(0) + int32LE(2) + int32LE(-2), error + "integer.\n"},
        {"floats from numeric text", "2f 6fa", "f = '2.5' fa = {'-0.25'}",
         int32LE(2) + int32LE(500000000) + int32LE(1) + int32LE(-1) + int32LE(750000000), ""},
        {"arrays: a hole ends one, a global that is not a table saves count 0", "5holes 6fa 7sa",
         "holes = {1, 2, nil, 4} fa = 5", int32LE(2) + int32LE(1) + int32LE(2) + int32LE(0) + int32LE(0), ""},
        {"wrong types: defaults and one message each", "4b 2f 3s 3n 8ba 5ia",
         "b = 1 f = {} s = true n = 42 ba = {true, 'yes'} ia = {1, 'x', '3'}",
         byteString({0}) + int32LE(0) + int32LE(0) + int32LE(0) + lengthText("42") + int32LE(2) + "\x01" + int32LE(3) +
             int32LE(1) + int32LE(0) + int32LE(3),
         error + "boolean.\n" + error + "float.\n" + error + "string.\n" + error + "boolean.\n" + error + "integer.\n"},
    };
    for (const auto &c : cases) {
        configure("", c.declarations);
        EXPECT_EQ("", runLua(L, c.script)) << c.name;
        std::string result;
        EXPECT_EQ(c.messages, captureStderr([&] { result = value("saveGame('slot')"); })) << c.name;
        EXPECT_EQ("true", result) << c.name;
        EXPECT_EQ(c.expected, readFile("demoslotSave.qfs")) << c.name;
    }
}

// Catches values not loaded back, undeclared globals set, short files that stop early, a bad save path.
TEST_F(SaveTest, LoadSetsEveryDeclaredGlobalFromWholeShortAndMissingFiles)
{
    ASSERT_EQ(0, system("mkdir saves"));
    configure("savepath = saves\n");  // "/" is appended
    EXPECT_EQ("truetrue", value("tostring(saveGame('e'))..tostring(loadGame('e'))")) << "nothing declared";
    EXPECT_EQ("saves/demoeSave.qfs", saveFileName("e"));
    EXPECT_TRUE(fileExists("saves/demoeSave.qfs"));
    configure("", "4b 1i 2f 3s 8ba 5ia 6fa 7sa");
    EXPECT_EQ("", runLua(L, "b = true i = -42 f = -0.25 s = 'hello' ba = {false, true, true} ia = {1, -2, 3} "
                            "fa = {2.5, -7.75} sa = {'x', '', 'zz'} assert(saveGame('A'))"));
    EXPECT_EQ("", runLua(L, "b, i, f, s, ba, ia, fa, sa = nil untouched = 'kept'"));
    EXPECT_EQ("true", value("loadGame('A')"));
    const std::string all = "tostring(b)..i..f..s..tostring(ba[1])..tostring(ba[2])..#ba..table.concat(ia, ',')..'|'.."
                            "table.concat(fa, ',')..'|'..table.concat(sa, ',')..untouched";
    EXPECT_EQ("true-42-0.25hellofalsetrue31,-2,3|2.5,-7.75|x,,zzkept", value(all));

    configure("", "3s 1n 5ia");
    const struct { const char *slot; std::string bytes; const char *loaded, *values; } cases[] = {
        // A huge array count stops at the end of the file with what it read.
        {"2", int32LE(8) + lengthText("q") + int32LE(0x7FFFFFFF) + int32LE(5), "false", "[q] 8 5,0"},
        {"3", int32LE(4) + lengthText("r"), "false", "[r] 4 "},  // cut short: every global still set
        {"missing", "", "false", "[r] 4 "},                        // no file: nothing changes
    };
    for (const auto &c : cases) {
        if (!c.bytes.empty()) writeFile(std::string("demo") + c.slot + "Save.qfs", c.bytes);
        EXPECT_EQ(c.loaded, value(std::string("loadGame('") + c.slot + "')")) << c.slot;
        EXPECT_EQ(c.values, value("'['..s..'] '..n..' '..table.concat(ia, ',')")) << c.slot;
    }
}

// Catches a save written in place (a full disk or failed rename destroys the old one), temporaries left.
TEST_F(SaveTest, AFailedSaveLeavesThePreviousSaveIntact)
{
    configure("", "7log");
    EXPECT_EQ("", runLua(L, "log = {'first save'} assert(saveGame(1))"));
    const std::string before = readFile("demo1Save.qfs");
    ASSERT_EQ(int32LE(1) + lengthText("first save"), before);
    EXPECT_FALSE(fileExists("demo1Save.qfs.tmp")) << "the temporary file was left behind";

    // The disk refuses the write part way (a file size limit stands in for a full disk).
    EXPECT_EQ("", runLua(L, "log = {} for i = 1, 1000 do log[i] = string.rep('y', 100) end"));
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const std::string result = value("saveGame(1)");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ("false", result);
    EXPECT_EQ(before, readFile("demo1Save.qfs")) << "the old save was damaged";
    EXPECT_FALSE(fileExists("demo1Save.qfs.tmp")) << "the temporary file was left behind";

    // A save folder that does not exist; a slot file that is a folder (the rename fails).
    configure("savepath = gone/away\n", "1n");
    EXPECT_EQ("false", value("(function() n = 1 return saveGame(1) end)()"));
    configure("", "1n");
    ASSERT_EQ(0, system("mkdir -p demo9Save.qfs/inside"));
    EXPECT_EQ("false", value("(function() n = 1 return saveGame(9) end)()"));
    EXPECT_FALSE(fileExists("demo9Save.qfs.tmp"));
    EXPECT_EQ(0, system("test -d demo9Save.qfs/inside"));
}

}  // namespace
