// core/input.h - keyboard and mouse state as the scripts see it.
// The event pump records raw events; once per frame takeSnapshot turns them into the frame's
// down / pressed / released flags, so every script of one frame sees the same state.
// Threads: main thread only.
#pragma once

#include <cstdint>

enum { KEY_SLOTS = 49, BUTTON_SLOTS = 3 };  // engine codes 0..48 and 0..2; anything else is dropped

int translateKey(int sdlKey);        // SDLK_* -> engine key code, 49 when it has no slot
int translateButton(int sdlButton);  // 1 left -> 0, 3 right -> 1, 2 middle -> 2; else 3

void resetInput();                           // every flag of every slot false; pointer untouched
void keyEvent(int code, bool isDown);        // codes outside the slots do nothing
void buttonEvent(int code, bool isDown);
void pointerMoved(int x, int y);             // SDL window coordinates; y is flipped to point up
void takeSnapshot();                         // start of each frame, before the modules step

// The frame's snapshot (script functions read these). Out-of-range codes read false.
bool keyDown(int code);
bool keyPressed(int code);
bool keyReleased(int code);
bool mouseDown(int button);
bool mousePressed(int button);
bool mouseReleased(int button);
int mouseX();
int mouseY();

bool registerInputFunctions(struct lua_State *L);  // key and button constants, then the functions
