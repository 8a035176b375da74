// animation/pose_script.h - the pose script functions: getModelPose, _FREEMODELPOSE, animatePose,
// getMarkerIndex, getActiveMarkers, renderPose, freezePose, setDefaultPose, and the global
// _MODELPOSEMT whose __gc frees a pose value when Lua collects it.
// Threads: main thread only.
#pragma once

struct lua_State;

// Registers the eight functions in that order, then runs the chunk that makes _MODELPOSEMT
// (an error in it is reported on stderr). True.
bool registerPoseFunctions(lua_State *L);
