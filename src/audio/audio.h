// audio/audio.h - the audio device. Without a device every audio call does nothing.
// Threads: main thread (start-up and shutdown).
#pragma once

#include <string>

struct lua_State;

std::string defaultAudioDeviceName();        // "" when the system names none
bool initAudio(const std::string &device);   // false: the game runs silent
void shutdownAudio();                        // safe whether or not initAudio succeeded
bool registerAudioFunctions(lua_State *L);
