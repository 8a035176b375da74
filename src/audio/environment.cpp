// audio/environment.cpp - reverb environments.
// TODO: not built yet. Until then there is no environment: initEfx reports them unusable without
// a message, the count is 0, presets and transitions do nothing and every sound plays dry.
#include "audio/environment.h"

bool initEfx() { return false; }
void destroyEnvironments() {}
int32_t environmentCount() { return 0; }
void presetEnvironment(int32_t env, int32_t transitionTicks, int32_t preset)
{
    (void)env, (void)transitionTicks, (void)preset;
}
void updateEnvironments() {}
ALuint environmentEffectSlot(int32_t env)
{
    (void)env;
    return 0;
}
