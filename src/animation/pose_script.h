// animation/pose_script.h - script functions for model poses.
#pragma once

struct lua_State;

bool registerPoseFunctions(lua_State *L);
