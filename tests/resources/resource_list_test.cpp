// Resource lists through the real script functions: room files written to disk, a real Lua state,
// the real resource manager and loader thread with probe handlers instead of asset loaders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "core/config.h"
#include "core/project.h"
#include "core/room_file.h"
#include "core/script.h"
#include "loader_probe.h"
#include "resources/resource_list.h"
#include "resources/resource_script.h"
#include "test_support.h"

namespace {

class ResourceLists : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char buffer[4096];
        ASSERT_NE(nullptr, getcwd(buffer, sizeof buffer));
        previousDirectory = buffer;
        ASSERT_EQ(0, chdir(folder.path().c_str()));
        writeFile("Quillfen.ini", "[project]\ncodename = lists\n");
        clearConfig();
        loadConfig("Quillfen.ini");
        resetProject();
        loadProject();  // no project file: only the directory "Projects/lists/" is set
        std::filesystem::create_directories("Projects/lists/Rooms");
        const char *directories[] = {"Images/", "Audio/", "Audio/", "Models/", "Scraps/", "", "Anims/", "", "Fonts/"};
        for (int type = 0; type <= RESOURCE_FONT; type++) setResourceDirectory(type, directories[type][0] ? projectDirectory() + directories[type] : "");

        probe = new LoaderProbe();
        setLoaderThreadHooks({probeBeginHook, probeEndHook});
        ASSERT_TRUE(startResourceManager());
        for (int type : {RESOURCE_IMAGE, RESOURCE_SOUND, RESOURCE_MUSIC, RESOURCE_MODEL, RESOURCE_SCRAP, RESOURCE_ANIMATION, RESOURCE_FONT})
            ASSERT_TRUE(registerResourceType(type, PROBE_HANDLERS));
        resetResourceLists();
        L = luaL_newstate();
        luaL_openlibs(L);
        registerResourceListFunctions(L);
    }
    void TearDown() override
    {
        lua_close(L);
        resetResourceLists();
        probe->checkpoints.openAll();
        shutdownResourceManager();
        setLoaderThreadHooks(defaultLoaderThreadHooks());
        delete probe;
        probe = nullptr;
        for (int type = 0; type < RESOURCE_TYPE_COUNT; type++) setResourceDirectory(type, "");
        resetProject();
        clearConfig();
        EXPECT_EQ(0, chdir(previousDirectory.c_str()));
    }
    // A room whose image list is `images` (and font list `fonts`).
    void writeRoom(const std::string &name, const std::vector<std::string> &images, const std::vector<std::string> &fonts = {})
    {
        RoomNameLists lists;
        lists.names[ROOM_IMAGES] = images;
        lists.names[ROOM_FONTS] = fonts;
        ASSERT_TRUE(writeRoomFile(projectDirectory() + "Rooms/" + name, lists, "-- room " + name));
    }
    // Runs Lua; returns the error text, or "" when it ran clean.
    std::string run(const std::string &code)
    {
        if (luaL_loadbuffer(L, code.data(), code.size(), "") != 0 || lua_pcall(L, 0, 0, 0) != 0) {
            std::string error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(no text)";
            lua_pop(L, 1);
            return error;
        }
        return "";
    }
    void holdLoaderAtStart() { probe->checkpoints.hold("begin"); }
    void releaseLoaderAndWait()
    {
        probe->checkpoints.openAll();
        waitForLoaderThread();
    }
    static ResourceRecord *image(const std::string &name) { return findOrCreateResource({name, resourceDirectory(RESOURCE_IMAGE), RESOURCE_IMAGE}); }
    static int priorityOf(const std::string &name) { return currentResourceList().priorities.at(name); }

    TempDir folder;
    std::string previousDirectory;
    lua_State *L = nullptr;
};

TEST_F(ResourceLists, RoomFileListsBecomeKeysOfTheirTypesInTableOrder)
{
    RoomNameLists lists;
    const char *names[ROOM_LIST_COUNT] = {"s", "m", "f", "i", "c", "sc", "mo", "a"};
    for (int i = 0; i < ROOM_LIST_COUNT; i++) lists.names[i] = {names[i]};
    lists.names[ROOM_IMAGES].push_back("i");  // listed twice: two entries here, joined by a merge
    ASSERT_TRUE(writeRoomFile(projectDirectory() + "Rooms/all", lists, "x=1"));

    const ResourceList list = readRoomResourceList("all", 7);
    const struct { const char *name; int type; const char *directory; } expected[] = {
        {"s", 1, "Projects/lists/Audio/"}, {"m", 2, "Projects/lists/Audio/"}, {"f", 8, "Projects/lists/Fonts/"},
        {"i", 0, "Projects/lists/Images/"}, {"i", 0, "Projects/lists/Images/"}, {"c", 9, ""}, {"sc", 7, ""},
        {"mo", 3, "Projects/lists/Models/"}, {"a", 6, "Projects/lists/Anims/"}};
    ASSERT_EQ(std::size(expected), list.entries.size());
    for (size_t i = 0; i < list.entries.size(); i++) {
        EXPECT_EQ(expected[i].name, list.entries[i].name) << "entry " << i;
        EXPECT_EQ(expected[i].type, list.entries[i].type) << "entry " << i;
        EXPECT_EQ(expected[i].directory, list.entries[i].directory) << "entry " << i;
        EXPECT_EQ(7, list.priorities.at(list.entries[i].name));
    }
    ResourceList merged;
    mergeResourceList(merged, list);
    EXPECT_EQ(list.entries.size() - 1, merged.entries.size()) << "the repeated image is joined";

    std::string err = captureStderr([&] { EXPECT_TRUE(readRoomResourceList("missing", 1).entries.empty()); });
    EXPECT_EQ("", err) << "a missing room contributes nothing, silently";
}

// Which priority each resource is acquired with, and how often, for several includes.
TEST_F(ResourceLists, MergedPrioritiesAndCounts)
{
    writeRoom("A", {"x", "a"});
    writeRoom("B", {"x", "b"});
    writeRoom("F", {"y"}, {"y"});
    struct Case
    {
        const char *lua;
        std::vector<std::pair<std::string, int>> priorities;  // name -> priority in the list
        size_t entries;
    };
    const Case cases[] = {
        {"includeRoom('A',1) includeRoom('B',5)", {{"x", 5}, {"a", 1}, {"b", 5}}, 3},
        {"includeRoom('B',5) includeRoom('A',1)", {{"x", 5}, {"a", 1}, {"b", 5}}, 3},
        {"includeRoom('A',1) includeRoom('A',9)", {{"x", 9}, {"a", 9}}, 2},  // the later priority replaces
        {"includeRoom('F',3)", {{"y", 3}}, 2},                               // font y and image y share one
        {"includeRoom('A',40000)", {{"x", -25536}, {"a", -25536}}, 2},      // 16-bit wrap
        {"includeRoom('A',-1) includeRoom('missing',4)", {{"x", -1}, {"a", -1}}, 2},
        {"", {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.lua);
        ASSERT_EQ("", run(std::string("beginResourceList() ") + c.lua + " endResourceList()"));
        EXPECT_EQ(c.entries, currentResourceList().entries.size());
        for (auto &p : c.priorities) EXPECT_EQ(p.second, priorityOf(p.first)) << p.first;
        waitForLoaderThread();
        for (const char *name : {"x", "a", "b", "y"}) {
            const int expected = currentResourceList().priorities.count(name) ? 1 : 0;
            EXPECT_EQ(expected, image(name)->refCount.load()) << "count of image " << name;
            EXPECT_EQ(expected == 1, isResourceReady(image(name))) << "image " << name;
        }
    }
}

TEST_F(ResourceLists, QueuedPriorityIsTheSixteenBitValue)
{
    writeRoom("A", {"x"});
    holdLoaderAtStart();
    ASSERT_EQ("", run("beginResourceList() includeRoom('A', 40000) endResourceList() p = nextResourcePriority() done = resourcesAreLoaded()"));
    lua_getglobal(L, "p");
    EXPECT_EQ(-25536, lua_tointeger(L, -1));
    lua_getglobal(L, "done");
    EXPECT_FALSE(lua_toboolean(L, -1));
    lua_pop(L, 2);
    ASSERT_EQ("", run("beginResourceList() includeRoom('A', -30000) endResourceList() p = nextResourcePriority()"));
    lua_getglobal(L, "p");
    EXPECT_EQ(-25536, lua_tointeger(L, -1)) << "a lower priority for a queued resource changes nothing";
    lua_pop(L, 1);
    releaseLoaderAndWait();
    ASSERT_EQ("", run("p = nextResourcePriority() done = resourcesAreLoaded(1, 2)"));
    lua_getglobal(L, "p");
    EXPECT_EQ(-1, lua_tointeger(L, -1));
    lua_getglobal(L, "done");
    EXPECT_TRUE(lua_toboolean(L, -1));
    lua_pop(L, 2);

    writeRoom("U", {"u"});
    holdLoaderAtStart();
    ASSERT_EQ("", run("beginResourceList() includeRoom('U', -1) endResourceList() p = nextResourcePriority()"));
    lua_getglobal(L, "p");
    EXPECT_EQ(INT_MAX, lua_tointeger(L, -1)) << "an urgent front entry reads 2147483647";
    lua_pop(L, 1);
    releaseLoaderAndWait();
}

TEST_F(ResourceLists, SwitchingListsLoadsNewResourcesBeforeUnloadingOldOnes)
{
    writeRoom("A", {"a1", "shared", "a2"});
    writeRoom("B", {"b1", "shared"});
    ASSERT_EQ("", run("beginResourceList() includeRoom('A',1) endResourceList()"));
    waitForLoaderThread();
    EXPECT_EQ("load:a1 load:shared load:a2", probe->takeEvents());
    void *sharedObject = lockResource(image("shared"));
    unlockResource(image("shared"));

    // {A} -> {A, B}: only B's new image is queued.
    ASSERT_EQ("", run("beginResourceList() includeRoom('A',1) includeRoom('B',1) endResourceList()"));
    waitForLoaderThread();
    EXPECT_EQ("load:b1", probe->takeEvents());

    // {A, B} -> {B}: A's own images go, after B's loads; shared is neither loaded nor unloaded.
    ASSERT_EQ("", run("beginResourceList() includeRoom('A',1) endResourceList()"));  // back to {A}
    waitForLoaderThread();
    EXPECT_EQ("unload:b1", probe->takeEvents());
    holdLoaderAtStart();
    ASSERT_EQ("", run("beginResourceList() includeRoom('B',1) endResourceList() done = resourcesAreLoaded()"));
    releaseLoaderAndWait();
    EXPECT_EQ("load:b1 unload:a1 unload:a2", probe->takeEvents());
    EXPECT_TRUE(isResourceReady(image("shared")));
    EXPECT_EQ(sharedObject, lockResource(image("shared")));
    unlockResource(image("shared"));
    EXPECT_FALSE(isResourceReady(image("a1")));

    // Everything already loaded: resourcesAreLoaded is true right after endResourceList.
    ASSERT_EQ("", run("beginResourceList() includeRoom('B',1) endResourceList() done = resourcesAreLoaded()"));
    lua_getglobal(L, "done");
    EXPECT_TRUE(lua_toboolean(L, -1));
    lua_pop(L, 1);

    // No room included: the previous list is released.
    ASSERT_EQ("", run("beginResourceList() endResourceList()"));
    waitForLoaderThread();
    EXPECT_EQ("unload:b1 unload:shared", probe->takeEvents());
}

TEST_F(ResourceLists, HandlesExistBeforeTheirListsAndKeepTheirIdentity)
{
    writeRoom("A", {"later"});
    ASSERT_EQ("", run("h1 = getImageHandle('later') h2 = getImageHandle('later') f = getFontHandle('later') s = getScriptHandle('later')"
                      " same = (h1 == h2) differ = (h1 ~= f)"));
    lua_getglobal(L, "same");
    lua_getglobal(L, "differ");
    EXPECT_TRUE(lua_toboolean(L, -2));
    EXPECT_TRUE(lua_toboolean(L, -1));
    lua_getglobal(L, "h1");
    ResourceRecord *handle = (ResourceRecord *)lua_touserdata(L, -1);
    lua_pop(L, 3);
    ASSERT_EQ(image("later"), handle);
    EXPECT_EQ("Projects/lists/Images/", handle->key.directory);
    EXPECT_FALSE(isResourceReady(handle));

    RoomNameLists lists;
    lists.names[ROOM_SCRIPTS] = {"later"};
    lists.names[ROOM_IMAGES] = {"later"};
    ASSERT_TRUE(writeRoomFile(projectDirectory() + "Rooms/S", lists, ""));
    ASSERT_EQ("", run("beginResourceList() includeRoom('S',1) endResourceList()"));
    waitForLoaderThread();
    EXPECT_TRUE(isResourceReady(handle));
    ResourceRecord *script = findOrCreateResource({"later", "", RESOURCE_SCRIPT});
    EXPECT_EQ(1, script->refCount.load());
    EXPECT_FALSE(isResourceReady(script)) << "script handles never become ready";
}

TEST_F(ResourceLists, WrongArgumentsRaiseTheUsageMessage)
{
    const struct { const char *call, *message; } cases[] = {
        {"beginResourceList(1)", "0 args expected"},
        {"endResourceList(nil)", "0 args expected"},
        {"includeRoom('A')", "2 args needed: roomName, priority"},
        {"includeRoom('A', 1, 2)", "2 args needed: roomName, priority"},
        {"includeRoom(nil, 1)", "2 args needed: roomName, priority"},   // not text: our choice
        {"includeRoom({}, 1)", "2 args needed: roomName, priority"},
        {"forceNewRoom()", "1 arg needed: roomName"},
        {"forceNewRoom(true)", "1 arg needed: roomName"},
        {"getImageHandle()", "1 arg needed: resourceName"},
        {"getImageHandle('a', 'b')", "1 arg needed: resourceName"},
        {"getSoundHandle({})", "1 arg needed: resourceName"},
        {"getAnimHandle(nil)", "1 arg needed: resourceName"},
    };
    for (auto c : cases) EXPECT_EQ(c.message, run(c.call)) << c.call;
    EXPECT_EQ("", run("includeRoom(12, 1) getModelHandle(5)")) << "numbers convert to text";
    EXPECT_TRUE(currentResourceList().entries.empty());
}

}  // namespace
