// animation/pose_script.cpp - script functions for model poses.
// TODO: skeletal models are not built yet; nothing is registered.
#include "animation/pose_script.h"

bool registerPoseFunctions(lua_State *L)
{
    (void)L;
    return true;
}
