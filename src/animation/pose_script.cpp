// animation/pose_script.cpp - the eight pose script functions and _MODELPOSEMT.
//
// A pose value is a full userdata of one pointer holding a ModelPose, or nullptr once
// _FREEMODELPOSE has freed it; the collector frees it through _MODELPOSEMT's __gc. Each pose
// value also gets the engine's own environment table, which a script cannot give another
// userdata without the debug library: so nil, a number, a table, a file handle or any other
// userdata where a pose goes is told apart and taken as a value holding no pose (nothing drawn,
// animatePose true, an empty marker table). Anything but a handle of the right type counts as a
// resource that is not loaded (renderer convention).
//
// No record lock is held across a Lua call that can allocate: a collection then may run __gc
// (script code), and an error would leave the lock taken. Userdata, strings and tables are made
// before a lock is taken or after it is released.
// Threads: main thread only.
#include "animation/pose_script.h"

#include <string>

#include "animation/pose.h"
#include "core/script.h"
#include "resources/registry.h"
#include "resources/resource_script.h"

// Its address is the registry key of the pose values' environment table.
static const char POSE_ENVIRONMENT = 0;

static void pushPoseEnvironment(lua_State *L)  // -> environment table
{
    lua_pushlightuserdata(L, (void *)&POSE_ENVIRONMENT);
    lua_rawget(L, LUA_REGISTRYINDEX);
}

// The slot of the pose value at `index`; nullptr for anything that is not a pose value.
static ModelPose **poseSlot(lua_State *L, int index)
{
    if (lua_type(L, index) != LUA_TUSERDATA || lua_objlen(L, index) != sizeof(ModelPose *)) return nullptr;
    lua_getfenv(L, index);
    pushPoseEnvironment(L);
    const bool ours = lua_rawequal(L, -1, -2) != 0;
    lua_pop(L, 2);
    return ours ? static_cast<ModelPose **>(lua_touserdata(L, index)) : nullptr;
}

static ModelPose *poseArgument(lua_State *L, int index)  // nullptr: no pose held, or not a pose value
{
    ModelPose **slot = poseSlot(L, index);
    return slot != nullptr ? *slot : nullptr;
}

// getModelPose(model) -> a new pose value; an empty one (and a message) when the model is not loaded
static int getModelPose(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: model");
    ResourceRecord *record = handleArgument(L, 1, RESOURCE_MODEL);
    ModelPose **slot = static_cast<ModelPose **>(lua_newuserdata(L, sizeof(ModelPose *)));  // may collect: no lock yet
    *slot = nullptr;
    pushPoseEnvironment(L);
    lua_setfenv(L, -2);
    Model *model = record != nullptr ? static_cast<Model *>(lockResource(record)) : nullptr;
    *slot = createPose(model);  // holds the model: it stays when the record unloads it
    if (record != nullptr) unlockResource(record);
    lua_getfield(L, LUA_GLOBALSINDEX, "_MODELPOSEMT");
    if (lua_istable(L, -1)) {
        lua_setmetatable(L, -2);
    } else {
        lua_pop(L, 1);  // replaced by a script: the value is never collected through __gc
    }
    return 1;
}

// _FREEMODELPOSE(pose): frees the pose held; the value then holds none (the collector's call too)
static int freeModelPose(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: pose");
    ModelPose **slot = poseSlot(L, 1);
    if (slot != nullptr && *slot != nullptr) {
        destroyPose(*slot);
        *slot = nullptr;
    }
    return 0;
}

// animatePose(pose, animation, duration) -> wrapped past the end; true as well when either is missing
static int animatePose(lua_State *L)
{
    if (lua_gettop(L) != 3) return raiseUsage(L, "3 args expected: pose, animation, duration");
    ModelPose *pose = poseArgument(L, 1);
    ResourceRecord *record = handleArgument(L, 2, RESOURCE_ANIMATION);
    const float duration = (float)lua_tonumber(L, 3);
    bool wrapped = true;
    if (record != nullptr) {
        wrapped = advancePose(static_cast<Animation *>(lockResource(record)), pose, duration);
        unlockResource(record);
    }
    lua_pushboolean(L, wrapped);
    return 1;
}

// getMarkerIndex(animation, markerName) -> index of the marker text, -1 when none or not loaded
static int getMarkerIndex(lua_State *L)
{
    if (lua_gettop(L) != 2) return raiseUsage(L, "2 args expected: animation, markerName");
    ResourceRecord *record = handleArgument(L, 1, RESOURCE_ANIMATION);
    size_t length = 0;
    const char *name = lua_tolstring(L, 2, &length);  // numbers become text here: before the lock
    int32_t index = -1;
    if (record != nullptr && name != nullptr) {
        const std::string text(name, length);
        index = markerIndex(static_cast<const Animation *>(lockResource(record)), text);
        unlockResource(record);
    }
    lua_pushinteger(L, index);
    return 1;
}

// getActiveMarkers(pose) -> {{x =, y =, time =, textIndex =}, ...} passed by the last animatePose;
// an empty table for a value holding no pose
static int getActiveMarkers(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: pose");
    const ModelPose *pose = poseArgument(L, 1);
    lua_createtable(L, pose != nullptr ? (int)pose->activeMarkers.size() : 0, 0);
    for (size_t i = 0;; i++) {
        pose = poseArgument(L, 1);  // a collection below may have run a script's __gc
        if (pose == nullptr || i >= pose->activeMarkers.size()) break;
        const Marker marker = pose->activeMarkers[i];
        lua_createtable(L, 0, 4);
        lua_pushnumber(L, marker.x);
        lua_setfield(L, -2, "x");
        lua_pushnumber(L, marker.y);
        lua_setfield(L, -2, "y");
        lua_pushnumber(L, marker.time);
        lua_setfield(L, -2, "time");
        lua_pushinteger(L, marker.textIndex);
        lua_setfield(L, -2, "textIndex");
        lua_rawseti(L, -2, (int)i + 1);
    }
    return 1;
}

// renderPose(pose): draws every bone; the current colour is opaque white afterwards
static int renderPose(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: pose");
    drawPose(poseArgument(L, 1));
    return 0;
}

// freezePose(pose): stops every curve and colour track, keeping the values
static int freezePose(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: pose");
    freezeTracks(poseArgument(L, 1));
    return 0;
}

// setDefaultPose(pose): back to the model's rest pose, clock at 0
static int setDefaultPose(lua_State *L)
{
    if (lua_gettop(L) != 1) return raiseUsage(L, "1 arg expected: pose");
    applyDefaultPose(poseArgument(L, 1));
    return 0;
}

static const luaL_Reg poseFunctions[] = {
    {"getModelPose", getModelPose},
    {"_FREEMODELPOSE", freeModelPose},
    {"animatePose", animatePose},
    {"getMarkerIndex", getMarkerIndex},
    {"getActiveMarkers", getActiveMarkers},
    {"renderPose", renderPose},
    {"freezePose", freezePose},
    {"setDefaultPose", setDefaultPose},
    {nullptr, nullptr}};

bool registerPoseFunctions(lua_State *L)
{
    registerFunctions(L, poseFunctions);
    lua_pushlightuserdata(L, (void *)&POSE_ENVIRONMENT);
    lua_newtable(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
    runChunk(L, "_MODELPOSEMT = {__gc = function(pose) _FREEMODELPOSE(pose) end} ", "");
    return true;
}
