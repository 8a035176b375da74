// Save games through a real Lua state: the eight sections byte for byte, the type messages,
// loading (complete, short and missing files), the save path, and that a failed save never
// destroys the previous save of its slot.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "core/config.h"
#include "core/script.h"
#include "resources/data_file.h"
#include "save/save.h"
#include "test_support.h"

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

std::string le32(int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string hex(const std::string &data)
{
    std::string out;
    char cell[4];
    for (size_t i = 0; i < data.size() && i < 40; i++) {
        snprintf(cell, sizeof cell, "%02X ", static_cast<unsigned char>(data[i]));
        out += cell;
    }
    if (data.size() > 40) out += "... (" + std::to_string(data.size()) + " bytes)";
    return out;
}

struct Declaration
{
    SaveType type;
    const char *name;
};

// A fresh folder as working directory, codename demo, a Lua state with saveGame/loadGame.
class SaveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
        ASSERT_EQ(0, chdir(dir.path().c_str()));
        configure("");
    }
    void TearDown() override
    {
        if (L != nullptr) lua_close(L);
        clearSavedVariables();
        clearConfig();
        if (chdir(previous) != 0) ADD_FAILURE() << "could not return to " << previous;
    }
    // extraConfig: more lines of the [project] section
    void configure(const std::string &extraConfig, const std::vector<Declaration> &declarations = {})
    {
        if (L != nullptr) lua_close(L);
        clearConfig();
        clearSavedVariables();
        writeFile("Quillfen.ini", "[project]\ncodename = demo\n" + extraConfig);
        ASSERT_TRUE(loadConfig("Quillfen.ini"));
        for (const Declaration &d : declarations) registerSavedVariable(d.type, d.name);
        L = luaL_newstate();
        luaL_openlibs(L);
        registerSaveFunctions(L);
    }
    // Runs `code`; returns its error text, or "" when it ran clean.
    std::string run(const std::string &code)
    {
        if (luaL_loadstring(L, code.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
            std::string error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
            lua_pop(L, 1);
            return error;
        }
        return "";
    }
    // The value of a Lua expression as text (tostring), for comparisons.
    std::string value(const std::string &expression)
    {
        const std::string error = run("_result = tostring(" + expression + ")");
        if (!error.empty()) return "error: " + error;
        lua_getfield(L, LUA_GLOBALSINDEX, "_result");
        std::string text = lua_tostring(L, -1);
        lua_pop(L, 1);
        return text;
    }
    TempDir dir;
    char previous[4096] = {};
    lua_State *L = nullptr;
};

TEST_F(SaveTest, TheExampleSaveIsTenBytes)
{
    configure("", {{SAVE_BOOLEAN, "a"}, {SAVE_BOOLEAN, "b"}, {SAVE_INTEGER, "score"}, {SAVE_STRING, "name"}});
    EXPECT_EQ("", run("a = true; b = false; score = -2; name = 'Al'; assert(saveGame(1) == true)"));
    const std::string expected = bytes({0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x41, 0x6C});
    const std::string got = readFile("demo1Save.qfs");
    EXPECT_EQ(expected, got) << "expected " << hex(expected) << ", got " << hex(got);
    EXPECT_FALSE(fileExists("demo1Save.qfs.tmp")) << "the temporary file was left behind";
}

struct SaveCase
{
    const char *name;
    std::vector<Declaration> declarations;
    const char *script;  // sets the globals
    std::string expected;
    const char *messages;  // exact stderr of the save
};

TEST_F(SaveTest, SectionsAndTypeRulesByteForByte)
{
    const std::string x1025(1025, 'x');
    const std::vector<SaveCase> cases = {
        {"no declarations: an empty file", {}, "", "", ""},
        {"nine booleans: the ninth is bit 0 of byte 2",
         {{SAVE_BOOLEAN, "b1"}, {SAVE_BOOLEAN, "b2"}, {SAVE_BOOLEAN, "b3"}, {SAVE_BOOLEAN, "b4"}, {SAVE_BOOLEAN, "b5"},
          {SAVE_BOOLEAN, "b6"}, {SAVE_BOOLEAN, "b7"}, {SAVE_BOOLEAN, "b8"}, {SAVE_BOOLEAN, "b9"}},
         "b1 = false b2 = false b3 = false b4 = false b5 = false b6 = false b7 = false b8 = false b9 = true",
         bytes({0x00, 0x01}), ""},
        {"sections in their fixed order whatever the declaration order",
         {{SAVE_STRING_ARRAY, "sa"}, {SAVE_FLOAT_ARRAY, "fa"}, {SAVE_INTEGER_ARRAY, "ia"}, {SAVE_BOOLEAN_ARRAY, "ba"},
          {SAVE_STRING, "s"}, {SAVE_FLOAT, "f"}, {SAVE_INTEGER, "i"}, {SAVE_BOOLEAN, "b"}},
         "sa = {'q'} fa = {0.5} ia = {9} ba = {true} s = 'z' f = 2.5 i = 3 b = true",
         bytes({0x01}) + le32(3) + le32(2) + le32(500000000) + le32(1) + "z" + le32(1) + bytes({0x01}) + le32(1) +
             le32(9) + le32(1) + le32(0) + le32(500000000) + le32(1) + le32(1) + "q",
         ""},
        {"boolean array of 3, then an integer array", {{SAVE_BOOLEAN_ARRAY, "ba"}, {SAVE_INTEGER_ARRAY, "ia"}},
         "ba = {true, false, true} ia = {5}", le32(3) + bytes({0x05}) + le32(1) + le32(5), ""},
        {"floats 2.5 and -2.5", {{SAVE_FLOAT, "p"}, {SAVE_FLOAT, "n"}}, "p = 2.5 n = -2.5",
         bytes({2, 0, 0, 0, 0x00, 0x65, 0xCD, 0x1D, 0xFD, 0xFF, 0xFF, 0xFF, 0x00, 0x65, 0xCD, 0x1D}), ""},
        {"1025-byte string stored as its length", {{SAVE_STRING, "s"}, {SAVE_INTEGER, "n"}},
         "s = string.rep('x', 1025) n = 7", le32(7) + le32(1025), ""},
        {"integer from the text 12; nil saves 0 with a message", {{SAVE_INTEGER, "t"}, {SAVE_INTEGER, "missing"}},
         "t = '12'", le32(12) + le32(0), "ERROR: Invalid type being saved. Expected integer.\n"},
        {"integers truncate toward zero", {{SAVE_INTEGER, "p"}, {SAVE_INTEGER, "n"}}, "p = 2.7 n = -2.7",
         le32(2) + le32(-2), ""},
        {"array with a hole saves the run before it", {{SAVE_INTEGER_ARRAY, "holes"}}, "holes = {1, 2, nil, 4}",
         le32(2) + le32(1) + le32(2), ""},
        {"an array global that is not a table saves count 0", {{SAVE_FLOAT_ARRAY, "fa"}, {SAVE_STRING_ARRAY, "sa"}},
         "fa = 5", le32(0) + le32(0), ""},
        {"wrong scalar types: defaults and one message each",
         {{SAVE_BOOLEAN, "b"}, {SAVE_FLOAT, "f"}, {SAVE_STRING, "s"}, {SAVE_STRING, "n"}},
         "b = 1 f = {} s = true n = 42",
         bytes({0x00}) + le32(0) + le32(0) + le32(0) + le32(2) + "42",
         "ERROR: Invalid type being saved. Expected boolean.\n"
         "ERROR: Invalid type being saved. Expected float.\n"
         "ERROR: Invalid type being saved. Expected string.\n"},
        {"wrong array elements", {{SAVE_BOOLEAN_ARRAY, "ba"}, {SAVE_INTEGER_ARRAY, "ia"}},
         "ba = {true, 'yes'} ia = {1, 'x', '3'}",
         le32(2) + bytes({0x01}) + le32(3) + le32(1) + le32(0) + le32(3),
         "ERROR: Invalid type being saved. Expected boolean.\n"
         "ERROR: Invalid type being saved. Expected integer.\n"},
        {"a string ends at its first zero byte", {{SAVE_STRING, "s"}}, "s = 'a\\0b'", le32(1) + "a", ""},
        {"an unknown type code registers nothing", {{static_cast<SaveType>(12), "odd"}}, "odd = 1", "", ""},
    };
    for (const SaveCase &c : cases) {
        std::string setupMessages = captureStderr([&] { configure("", c.declarations); });
        EXPECT_EQ("", run(c.script)) << c.name;
        std::string error;
        const std::string messages = captureStderr([&] { error = run("assert(saveGame('slot') == true)"); });
        EXPECT_EQ("", error) << c.name;
        EXPECT_EQ(c.messages, messages) << c.name;
        const std::string got = readFile("demoslotSave.qfs");
        EXPECT_EQ(c.expected, got) << c.name << ": expected " << hex(c.expected) << ", got " << hex(got);
    }
}

TEST_F(SaveTest, LoadSetsEveryDeclaredGlobal)
{
    configure("", {{SAVE_BOOLEAN, "b"}, {SAVE_INTEGER, "i"}, {SAVE_FLOAT, "f"}, {SAVE_STRING, "s"},
                   {SAVE_BOOLEAN_ARRAY, "ba"}, {SAVE_INTEGER_ARRAY, "ia"}, {SAVE_FLOAT_ARRAY, "fa"},
                   {SAVE_STRING_ARRAY, "sa"}});
    EXPECT_EQ("", run("b = true i = -42 f = -0.25 s = 'hello' ba = {false, true, true} ia = {1, -2, 3} "
                      "fa = {2.5, -7.75} sa = {'x', '', 'zz'} untouched = 'kept' assert(saveGame('A'))"));
    EXPECT_EQ("", run("b, i, f, s, ba, ia, fa, sa = nil untouched = 'kept'"));
    EXPECT_EQ("true", value("loadGame('A')"));
    EXPECT_EQ("true", value("b"));
    EXPECT_EQ("-42", value("i"));
    EXPECT_EQ("-0.25", value("f"));
    EXPECT_EQ("hello", value("s"));
    EXPECT_EQ("false true true 3", value("tostring(ba[1])..' '..tostring(ba[2])..' '..tostring(ba[3])..' '..#ba"));
    EXPECT_EQ("1 -2 3 3", value("ia[1]..' '..ia[2]..' '..ia[3]..' '..#ia"));
    EXPECT_EQ("2.5 -7.75", value("fa[1]..' '..fa[2]"));
    EXPECT_EQ("x||zz", value("table.concat(sa, '|')"));
    EXPECT_EQ("kept", value("untouched"));
}

TEST_F(SaveTest, ShortMissingAndOddFiles)
{
    configure("", {{SAVE_STRING, "s"}, {SAVE_INTEGER, "n"}, {SAVE_INTEGER_ARRAY, "ia"}});
    // Integers come before strings. A stored length of 1025 loads as "", and the next value
    // comes right after the length.
    writeFile("demo1Save.qfs", le32(7) + le32(1025) + le32(2) + le32(10) + le32(20));
    EXPECT_EQ("true", value("loadGame(1)"));
    EXPECT_EQ("", value("s"));
    EXPECT_EQ("7", value("n"));
    EXPECT_EQ("10 20", value("ia[1]..' '..ia[2]"));

    // A huge array count stops at the end of the file with what it read.
    writeFile("demo2Save.qfs", le32(8) + le32(1) + "q" + le32(0x7FFFFFFF) + le32(5));
    EXPECT_EQ("false", value("loadGame(2)"));
    EXPECT_EQ("q 8", value("s..' '..n"));
    EXPECT_EQ("5", value("ia[1]"));
    EXPECT_EQ("true", value("#ia <= 2"));

    // Cut short: every global is still set, the result is false.
    writeFile("demo3Save.qfs", le32(4) + le32(1) + "r");
    EXPECT_EQ("false", value("loadGame(3)"));
    EXPECT_EQ("r 4 0", value("s..' '..n..' '..#ia"));

    // Missing: false and nothing changes.
    EXPECT_EQ("", run("s = 'before'"));
    EXPECT_EQ("false", value("loadGame('nothing')"));
    EXPECT_EQ("before", value("s"));

    // No declarations: an empty file saves and loads.
    configure("");
    EXPECT_EQ("true", value("saveGame('e')"));
    EXPECT_EQ("", readFile("demoeSave.qfs"));
    EXPECT_EQ("true", value("loadGame('e')"));
}

TEST_F(SaveTest, ScriptCallsNeedExactlyOneArgument)
{
    for (const char *call : {"saveGame()", "saveGame(1, 2)", "loadGame()", "loadGame('a', 'b')"}) {
        const std::string probe = std::string("(function() local ok, e = pcall(function() return ") + call +
                                  " end) return tostring(ok) .. ' ' .. tostring(e) end)()";
        EXPECT_EQ("false 1 arg needed: slotName", value(probe)) << call;
    }
}

TEST_F(SaveTest, SavePathComesFromTheConfiguration)
{
    struct Case
    {
        const char *config;
        const char *path;
        const char *file;
    };
    ASSERT_EQ(0, system("mkdir -p saves"));
    const std::vector<Case> cases = {
        {"", "./", "./demo1Save.qfs"},
        {"savepath = saves\n", "saves/", "saves/demo1Save.qfs"},
        {"savepath = saves/\n", "saves/", "saves/demo1Save.qfs"},
        {"savepath =\n", "", "demo1Save.qfs"},
    };
    for (const Case &c : cases) {
        configure(c.config, {{SAVE_INTEGER, "n"}});
        EXPECT_EQ(c.path, savePath()) << c.config;
        EXPECT_EQ(c.file, saveFileName("1")) << c.config;
        remove(c.file);
        EXPECT_EQ("", run("n = 5 assert(saveGame(1))")) << c.config;
        EXPECT_EQ(le32(5), readFile(c.file)) << c.config;
    }
}

TEST_F(SaveTest, AFailedSaveLeavesThePreviousSaveIntact)
{
    configure("", {{SAVE_STRING_ARRAY, "log"}});
    EXPECT_EQ("", run("log = {'first save'} assert(saveGame(1))"));
    const std::string before = readFile("demo1Save.qfs");
    ASSERT_EQ(le32(1) + le32(10) + "first save", before);

    // The disk refuses the write part way (a file size limit stands in for a full disk).
    EXPECT_EQ("", run("log = {} for i = 1, 1000 do log[i] = string.rep('y', 100) end"));
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

    // A save folder that does not exist.
    configure("savepath = gone/away\n", {{SAVE_INTEGER, "n"}});
    EXPECT_EQ("false", value("(function() n = 1 return saveGame(1) end)()"));

    // The slot file is a folder: the rename fails, the folder stays.
    configure("", {{SAVE_INTEGER, "n"}});
    ASSERT_EQ(0, system("mkdir -p demo9Save.qfs/inside"));
    EXPECT_EQ("false", value("(function() n = 1 return saveGame(9) end)()"));
    EXPECT_FALSE(fileExists("demo9Save.qfs.tmp"));
    EXPECT_EQ(0, system("test -d demo9Save.qfs/inside"));
    configure("", {{SAVE_STRING_ARRAY, "log"}});
    EXPECT_EQ("true", value("loadGame(1)"));
    EXPECT_EQ("first save", value("log[1]"));
}

}  // namespace
