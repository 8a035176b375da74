// core/input.cpp - per-frame key, button and pointer state.
// Raw events set downEvent/upEvent/held; the snapshot copies them into down/pressed/released
// and clears the events, so a press and release between two frames read as both pressed and
// released (and not down) in the next frame.
// Threads: main thread only.
#include "core/input.h"

#include <SDL.h>

#include "graphics/display.h"

struct InputSlot
{
    bool downEvent, upEvent;  // since the last snapshot
    bool held;                // live state
    bool down, pressed, released;  // this frame's snapshot
};

struct InputState
{
    InputSlot keys[KEY_SLOTS];
    InputSlot buttons[BUTTON_SLOTS];
    uint16_t liveX = 0;  // pixels from the left edge
    int liveY = 0;       // pixels from the bottom edge (display height - SDL y)
    int frameX = 0, frameY = 0;
};
static InputState input;

int translateKey(int sdlKey)
{
    if (sdlKey >= SDLK_a && sdlKey <= SDLK_z) return 4 + (sdlKey - SDLK_a);
    if (sdlKey >= SDLK_0 && sdlKey <= SDLK_9) return 35 + (sdlKey - SDLK_0);
    switch (sdlKey) {
    case SDLK_LEFT: return 0;
    case SDLK_RIGHT: return 1;
    case SDLK_UP: return 2;
    case SDLK_DOWN: return 3;
    case SDLK_SPACE: return 30;
    case SDLK_RETURN: return 31;
    case SDLK_ESCAPE: return 32;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return 33;
    case SDLK_LCTRL: case SDLK_RCTRL: return 34;
    case SDLK_TAB: return 45;
    case SDLK_LALT: case SDLK_RALT: return 46;
    case SDLK_DELETE: return 47;
    case SDLK_BACKSPACE: return 48;
    default: return KEY_SLOTS;
    }
}

int translateButton(int sdlButton)
{
    switch (sdlButton) {
    case SDL_BUTTON_LEFT: return 0;
    case SDL_BUTTON_RIGHT: return 1;
    case SDL_BUTTON_MIDDLE: return 2;
    default: return BUTTON_SLOTS;
    }
}

void resetInput()
{
    for (InputSlot &slot : input.keys) slot = InputSlot();
    for (InputSlot &slot : input.buttons) slot = InputSlot();
}

static void recordEvent(InputSlot &slot, bool isDown)
{
    if (isDown) slot.downEvent = true;
    else slot.upEvent = true;
    slot.held = isDown;
}

void keyEvent(int code, bool isDown)
{
    if (code >= 0 && code < KEY_SLOTS) recordEvent(input.keys[code], isDown);
}

void buttonEvent(int code, bool isDown)
{
    if (code >= 0 && code < BUTTON_SLOTS) recordEvent(input.buttons[code], isDown);
}

void pointerMoved(int x, int y)
{
    input.liveX = (uint16_t)x;
    input.liveY = displayHeight() - y;
}

static void snapshotSlot(InputSlot &slot)
{
    slot.down = slot.held;
    slot.released = slot.upEvent;
    slot.pressed = slot.downEvent;
    slot.downEvent = slot.upEvent = false;
}

void takeSnapshot()
{
    for (InputSlot &slot : input.keys) snapshotSlot(slot);
    for (InputSlot &slot : input.buttons) snapshotSlot(slot);
    input.frameX = input.liveX;
    input.frameY = input.liveY;
}

static const InputSlot *keySlot(int code) { return code >= 0 && code < KEY_SLOTS ? &input.keys[code] : nullptr; }
static const InputSlot *buttonSlot(int code)
{
    return code >= 0 && code < BUTTON_SLOTS ? &input.buttons[code] : nullptr;
}

bool keyDown(int code) { const InputSlot *s = keySlot(code); return s && s->down; }
bool keyPressed(int code) { const InputSlot *s = keySlot(code); return s && s->pressed; }
bool keyReleased(int code) { const InputSlot *s = keySlot(code); return s && s->released; }
bool mouseDown(int button) { const InputSlot *s = buttonSlot(button); return s && s->down; }
bool mousePressed(int button) { const InputSlot *s = buttonSlot(button); return s && s->pressed; }
bool mouseReleased(int button) { const InputSlot *s = buttonSlot(button); return s && s->released; }
int mouseX() { return input.frameX; }
int mouseY() { return input.frameY; }
