// The development mode's parts in-process: error texts taken apart for the panel, panel lines,
// classes rebuilt in place, and the folder watch. The whole loop (engine, compile --watch,
// pixels) is tests/e2e/dev_mode_e2e_test.cpp.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "core/dev_mode.h"
#include "core/file_watch.h"
#include "core/project.h"
#include "core/script.h"
#include "graphics/debug_text.h"
#include "test_support.h"

namespace {

std::string joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines) text += line + "|";
    return text;
}

// Catches a panel naming the wrong file or line, or losing the message, for each way Lua words an error.
TEST(DevelopmentMode, ErrorTextsAndPanelLines)
{
    const struct { const char *text, *file; int line; const char *message; } cases[] = {
        {"[string \"Projects/g/Objects/Box\"]:12: 'end' expected near 'oops'", "Projects/g/Objects/Box", 12,
         "'end' expected near 'oops'"},
        {"[string \"\"]:3: attempt to call global 'nope' (a nil value)", "", 3, "attempt to call global 'nope' (a nil value)"},
        {"rooms/a.lua:7: boom: 2:3: inside", "rooms/a.lua", 7, "boom: 2:3: inside"},
        {"1 arg needed: key", "", 0, "1 arg needed: key"},
        {"C:\\x: no line here", "", 0, "C:\\x: no line here"},
        {"[string \"cut", "", 0, "[string \"cut"},
        {"", "", 0, ""},
    };
    for (const auto &c : cases) {
        const ScriptErrorText error = parseScriptError(c.text);
        EXPECT_EQ(std::string(c.file) + ":" + std::to_string(c.line) + ": " + c.message,
                  error.file + ":" + std::to_string(error.line) + ": " + error.message)
            << c.text;
    }
    EXPECT_EQ("SCRIPT ERROR in Projects/g/Objects/Box, line 12|'end' expected near 'oops'|"
              "The game goes on. Save a fix to reload it.|",
              joined(errorPanelLines(parseScriptError(cases[0].text), 80)));
    EXPECT_EQ("SCRIPT ERROR in an engine chunk, line 3|", joined(errorPanelLines(parseScriptError(cases[1].text), 80)).substr(0, 40));
    EXPECT_EQ("SCRIPT ERROR|1 arg needed: key|", joined(errorPanelLines(parseScriptError(cases[3].text), 80)).substr(0, 31));
    // Wrapping: at spaces, a long word cut, line feeds kept, empty lines kept.
    EXPECT_EQ("aaa bbb|ccc|", joined(wrapDebugText("aaa bbb ccc", 7)));
    EXPECT_EQ("abcdefg|hij|", joined(wrapDebugText("abcdefghij", 7)));
    EXPECT_EQ("one||two|", joined(wrapDebugText("one\n\ntwo", 7)));
    EXPECT_EQ("|", joined(wrapDebugText("", 7)));
}

// Catches live instances left on the old methods, their fields lost, or a broken script wiping a
// working class.
TEST(DevelopmentMode, ClassesAreRebuiltInPlace)
{
    WorkDir dir;
    useConfig("g");
    loadProject();
    std::filesystem::create_directories("Projects/g/Objects");
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    setScriptState(L);
    writeFile("Projects/g/Objects/Box", "function Box:Init() self.n = 5 end function Box:get() return 'old' .. self.n end");
    EXPECT_FALSE(reloadClass(L, "Box")) << "a class no room has built is left for the room switch";
    EXPECT_EQ("nil", luaValue(L, "Box"));
    runChunk(L, "Box={};Box.__index=Box;function Box:new() local b={};setmetatable(b,Box);b:Init();return b;end", "");
    ASSERT_EQ("", runLua(L, "dofile('Projects/g/Objects/Box') live = Box:new() live.n = 7 oldBox = Box"));
    const struct { const char *script, *expected, *printed; } steps[] = {
        {"function Box:Init() self.n = 1 end function Box:get() return 'new' .. self.n end", "new7 new1 true", ""},
        {"function Box:get( oops", "new7 new1 true", "[string \"Projects/g/Objects/Box\"]:1: ')' expected near '<eof>'\n"},
        {"function Box:get() return 'half' end error('stop')", "new7 new1 true",
         "[string \"Projects/g/Objects/Box\"]:1: stop\n"},
        {"function Box:Init() end", "nil nil true", ""},  // a method gone from the script is gone
    };
    for (const auto &step : steps) {
        writeFile("Projects/g/Objects/Box", step.script);
        bool reloaded = false;
        EXPECT_EQ(step.printed, captureStderr([&] { reloaded = reloadClass(L, "Box"); })) << step.script;
        EXPECT_TRUE(reloaded);
        EXPECT_EQ(step.expected, luaValue(L, "tostring(live.get and live:get()) .. ' ' .. tostring(Box:new().get and "
                                             "Box:new():get()) .. ' ' .. tostring(Box == oldBox and Box.__index == Box)"))
            << step.script;
    }
    setScriptState(nullptr);
    lua_close(L);
    resetProject();
}

// Catches a change the watch misses (a write, a rename into place, a file in a folder made after
// the start, a removal) and reports of hidden files.
TEST(FileWatch, ReportsChangesBelowTheFolder)
{
    TempDir dir;
    EXPECT_EQ(nullptr, startFileWatch(dir.file("missing")));
    std::filesystem::create_directories(dir.file("Images"));
    writeFile(dir.file("Images/a.png"), "a");
    FileWatch *watch = startFileWatch(dir.path());
    ASSERT_NE(nullptr, watch);
    std::vector<std::string> changed;
    EXPECT_FALSE(takeFileChanges(watch, changed, 0));
    writeFile(dir.file("Images/a.png"), "b");
    writeFile(dir.file("Images/.b.png.part"), "c");
    std::rename(dir.file("Images/.b.png.part").c_str(), dir.file("Images/b.png").c_str());
    std::filesystem::create_directories(dir.file("Objects/deep"));
    writeFile(dir.file("Objects/deep/Box"), "x");
    writeFile(dir.file(".hidden"), "x");
    usleep(50 * 1000);
    ASSERT_TRUE(takeFileChanges(watch, changed, 1000));
    std::string all;
    for (const std::string &path : changed) all += path + " ";
    EXPECT_EQ("Images/a.png Images/b.png Objects/deep/Box ", all);
    std::filesystem::remove(dir.file("Images/a.png"));
    writeFile(dir.file("Objects/deep/Box"), "y");  // the new folder is watched too
    ASSERT_TRUE(takeFileChanges(watch, changed, 1000));
    usleep(50 * 1000);
    std::vector<std::string> more;
    takeFileChanges(watch, more, 0);
    changed.insert(changed.end(), more.begin(), more.end());
    all.clear();
    for (const std::string &path : changed) all += path + " ";
    EXPECT_EQ("Images/a.png Objects/deep/Box ", all);
    stopFileWatch(watch);
}

}  // namespace
