// Resource lists through the script functions, real room files and the real loader thread.
#include <gtest/gtest.h>

#include "core/project.h"
#include "core/room_file.h"
#include "core/script.h"
#include "loader_probe.h"
#include "resources/resource_list.h"
#include "resources/resource_script.h"
#include "test_support.h"

namespace {

// Catches wrong merged or 16-bit priorities, counts, unloads of shared or before new loads, early answers.
TEST(ResourceLists, ListCyclesMergeAcquireAndRelease)
{
    WorkDir dir;
    useConfig("");
    loadProject();  // no codename: the project directory is "Projects//"
    ASSERT_EQ(0, system("mkdir -p Projects/Rooms"));
    // Rooms list images (F also a font of the same name).
    for (const auto &room : std::vector<std::vector<std::string>>{
             {"A", "x", "a"}, {"B", "x", "b"}, {"F", "y"}, {"C", "c1", "shared", "c2"}, {"D", "d1", "shared"}}) {
        RoomNameLists lists;
        lists.names[ROOM_IMAGES].assign(room.begin() + 1, room.end());
        if (room[0] == "F") lists.names[ROOM_FONTS] = {"y"};
        ASSERT_TRUE(writeRoomFile("Projects//Rooms/" + room[0], lists, ""));
    }
    // The includes; the list's priorities; its entries; nextResourcePriority and resourcesAreLoaded
    // before the (held) loader runs; what it then loads and unloads.
    const struct { const char *lua, *priorities; size_t entries; const char *pending, *events; } cases[] = {
        {"includeRoom('A',1) includeRoom('B',5)", "a:1 b:5 x:5 ", 3, "5 false", "load:x load:b load:a"},
        {"includeRoom('B',5) includeRoom('A',1)", "a:1 b:5 x:5 ", 3, "-1 true", ""},
        {"includeRoom('A',1) includeRoom('A',9)", "a:9 x:9 ", 2, "-1 true", "unload:b"},  // the later priority
        {"includeRoom('F',3)", "y:3 ", 2, "3 false", "load:y load:y unload:x unload:a"},  // image and font
        {"includeRoom('A',40000)", "a:-25536 x:-25536 ", 2, "-25536 false", "load:x load:a unload:y unload:y"},
        {"includeRoom('A',-1) includeRoom('missing',4)", "a:-1 x:-1 ", 2, "-1 true", ""},
        {"includeRoom('C',1)", "c1:1 c2:1 shared:1 ", 3, "1 false", "load:c1 load:shared load:c2 unload:x unload:a"},
        {"includeRoom('C',1) includeRoom('D',1)", "c1:1 c2:1 d1:1 shared:1 ", 4, "1 false", "load:d1"},
        {"includeRoom('C',1)", "c1:1 c2:1 shared:1 ", 3, "-1 true", "unload:d1"},
        {"includeRoom('D',1)", "d1:1 shared:1 ", 2, "1 false", "load:d1 unload:c1 unload:c2"},
        {"", "", 0, "-1 true", "unload:d1 unload:shared"},
    };
    ProbedManager manager({RESOURCE_IMAGE, RESOURCE_FONT});
    resetResourceLists();
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    registerResourceListFunctions(L);
    for (const auto &c : cases) {
        const int threadsBefore = probe->threadsBegun;
        probe->hold("begin");
        const std::string lua = std::string("beginResourceList() ") + c.lua + " endResourceList() ";
        ASSERT_EQ("", runLua(L, lua + "pending = nextResourcePriority() .. ' ' .. tostring(resourcesAreLoaded())"));
        std::string priorities;
        for (const auto &p : currentResourceList().priorities) priorities += p.first + ":" + std::to_string(p.second) + " ";
        EXPECT_EQ(c.priorities, priorities) << c.lua;
        EXPECT_EQ(c.entries, currentResourceList().entries.size()) << c.lua;
        EXPECT_EQ(c.pending, luaValue(L, "pending")) << c.lua;
        manager.releaseLoaderAndWait();
        EXPECT_EQ(c.events, probe->takeEvents()) << c.lua;
        EXPECT_EQ(*c.events != 0, probe->threadsBegun > threadsBefore) << c.lua << ": a loader thread for nothing to do";
        for (const std::string name : {"x", "a", "b", "y", "c1", "c2", "d1", "shared"}) {
            ResourceRecord *image = findOrCreateResource({name, resourceDirectory(RESOURCE_IMAGE), RESOURCE_IMAGE});
            const int expected = currentResourceList().priorities.count(name) ? 1 : 0;
            EXPECT_EQ(expected, image->refCount.load()) << c.lua << ": count of image " << name;
            EXPECT_EQ(expected == 1, isResourceReady(image)) << c.lua << ": image " << name;
        }
    }
    lua_close(L);
    resetResourceLists();
    resetProject();
}

}  // namespace
