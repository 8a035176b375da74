// audio/audio.cpp - the audio device.
// TODO: sounds and music are not built yet; the engine runs silent and registers no audio
// functions.
#include "audio/audio.h"

std::string defaultAudioDeviceName() { return std::string(); }
bool initAudio(const std::string &device)
{
    (void)device;
    return false;
}
void shutdownAudio() {}
bool registerAudioFunctions(lua_State *L)
{
    (void)L;
    return true;
}
