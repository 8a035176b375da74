// docs/scripting.md against the engine: every global the engine gives scripts is documented, every
// documented name exists, each function's documented wrong-count message is the one it raises
// (or it says it takes any count), and each constant's documented value is its value.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "core/engine.h"
#include "core/frame_loop.h"
#include "core/script.h"
#include "test_support.h"

namespace {

std::set<std::string> globalNames(lua_State *L)
{
    std::set<std::string> names;
    lua_pushnil(L);
    while (lua_next(L, LUA_GLOBALSINDEX) != 0) {
        if (lua_type(L, -2) == LUA_TSTRING) names.insert(lua_tostring(L, -2));
        lua_pop(L, 1);
    }
    return names;
}

uint32_t noTicks() { return 0; }
void noDelay(uint32_t) {}
void quitAtOnce() { requestQuit(); }
void noCallback() {}

// Catches a function or constant added to the engine without a reference entry, an entry for a
// name the engine does not have, a documented message or constant value that differs.
TEST(ScriptingReference, NamesEveryGlobalTheEngineGivesScripts)
{
    WorkDir work;  // no project: the game start asks for a room with an empty name
    useConfig("");
    lua_State *plain = luaL_newstate();
    luaL_openlibs(plain);
    const std::set<std::string> standard = globalNames(plain);
    lua_close(plain);

    lua_State *L = luaL_newstate();  // as start-up makes it, then the game start and one frame
    registerScriptFunctions(L);
    ASSERT_TRUE(startGame(L));
    setFramePlatform({noTicks, noDelay, quitAtOnce, noCallback, noCallback, noCallback});
    runFrameLoop();  // the room module defines _STEP and _RENDER
    std::set<std::string> engine;
    for (const std::string &name : globalNames(L))
        if (!standard.count(name)) engine.insert(name);

    // Up to "## The game model": "### name(args)" or "### name" headings, each followed by its
    // text up to the next heading; constants are table cells "| `NAME` | value |".
    std::ifstream file(std::string(QF_SOURCE_DIR) + "/docs/scripting.md");
    ASSERT_TRUE(file.good());
    std::map<std::string, std::string> sections;
    std::map<std::string, long> constants;
    const std::regex heading(R"(^### ([A-Za-z_][A-Za-z0-9_]*)(\(.*\))?\s*$)"), cell(R"(\| `([A-Z][A-Z0-9_]*)` \| (-?\d+) )");
    std::string current, line;
    while (std::getline(file, line) && line != "## The game model") {
        std::smatch m;
        if (std::regex_match(line, m, heading)) {
            current = m[1];
            EXPECT_FALSE(sections.count(current)) << current << " is documented twice";
            sections[current] = "";
            continue;
        }
        if (line.rfind("#", 0) == 0) current.clear();
        if (!current.empty()) sections[current] += line + " ";
        for (auto it = std::sregex_iterator(line.begin(), line.end(), cell); it != std::sregex_iterator(); ++it)
            EXPECT_TRUE(constants.emplace((*it)[1], std::stol((*it)[2])).second) << (*it)[1] << " is listed twice";
    }
    std::set<std::string> documented;
    for (const auto &s : sections) documented.insert(s.first);
    for (const auto &c : constants) documented.insert(c.first);
    for (const std::string &name : engine) EXPECT_TRUE(documented.count(name)) << name << " is not in docs/scripting.md";
    for (const std::string &name : documented) EXPECT_TRUE(engine.count(name)) << name << " is documented but not a global";

    for (const auto &c : constants) EXPECT_EQ(c.second, atol(luaValue(L, c.first).c_str())) << c.first;
    for (const auto &s : sections) {
        lua_getglobal(L, s.first.c_str());
        const bool function = lua_iscfunction(L, -1);
        lua_pop(L, 1);
        if (!function) continue;
        // One argument more than any engine function takes: raises its message, or is accepted.
        const std::string error = runLua(L, s.first + "(nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil)");
        std::string text = std::regex_replace(s.second, std::regex(R"(\s+)"), " ");
        const std::string said = error.empty() ? "Any argument count." : "Wrong count: \"" + error + "\"";
        const std::string saidOnError = "Wrong count (or a name that is not text): \"" + error + "\"";
        EXPECT_TRUE(text.find(said) != std::string::npos || (!error.empty() && text.find(saidOnError) != std::string::npos))
            << s.first << ": expected the text to say " << said;
    }
    lua_close(L);
}

}  // namespace
