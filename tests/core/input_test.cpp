// Input through real SDL events, drained by the engine's pump in a real frame loop, read from Lua.
#include <gtest/gtest.h>

#include <SDL.h>

#include <sstream>

#include "core/frame_loop.h"
#include "core/input.h"
#include "core/script.h"
#include "graphics/display.h"
#include "test_support.h"

namespace {

// A key (code: the SDLKey), mouse button or motion event.
SDL_Event event(int type, int code, int x = 0, int y = 0)
{
    SDL_Event e = {};
    e.type = (Uint8)type;
    if (type == SDL_KEYDOWN || type == SDL_KEYUP) e.key.keysym.sym = (SDLKey)code;
    else if (type == SDL_MOUSEMOTION) e.motion.x = (Uint16)x, e.motion.y = (Uint16)y;
    else e.button.button = (Uint8)code;
    return e;
}
SDL_Event down(int key) { return event(SDL_KEYDOWN, key); }
SDL_Event up(int key) { return event(SDL_KEYUP, key); }
SDL_Event press(int button) { return event(SDL_MOUSEBUTTONDOWN, button); }
SDL_Event lift(int button) { return event(SDL_MOUSEBUTTONUP, button); }
SDL_Event move(int x, int y) { return event(SDL_MOUSEMOTION, 0, x, y); }

// The events that arrive before one frame, and "expression=value" words checked during its step.
struct Frame
{
    std::vector<SDL_Event> events;
    std::string expect;
};
const std::vector<Frame> *frames = nullptr;
size_t frameIndex = 0;
lua_State *state = nullptr;
void nothingHappens() {}
void pushEvents(std::vector<SDL_Event> events)
{
    for (SDL_Event &e : events) SDL_PushEvent(&e);
}

// Checks this frame's words, then queues the next frame's events for the engine's pump.
struct ScriptedInput : QFFrameModule
{
    void step() override
    {
        std::istringstream words((*frames)[frameIndex].expect);
        for (std::string word; words >> word;) {
            const size_t at = word.rfind('=');
            EXPECT_EQ(word.substr(at + 1), luaValue(state, word.substr(0, at))) << "frame " << frameIndex << ": " << word;
        }
        if (++frameIndex == frames->size()) return requestQuit();
        pushEvents((*frames)[frameIndex].events);
    }
};

// Catches lost flags, two Shift keys, wrong slots, the wheel read as buttons, mouseY not upward.
TEST(Input, SdlEventsBecomeEachFramesState)
{
    REQUIRE_DISPLAY();
    const int h = displayHeight();
    const std::vector<Frame> script = {
        // Pressed and released between two frames: both flags, not down, gone a frame later; a
        // key held before the loop started is forgotten.
        {{down(SDLK_a), up(SDLK_a)}, "keyPressed(KEY_A)=true keyReleased(KEY_A)=true keyDown(KEY_A)=false "
                                     "keyPressed(KEY_B)=false keyDown(KEY_Z)=false"},
        {{}, "keyPressed(KEY_A)=false keyReleased(KEY_A)=false"},
        {{down(SDLK_z)}, "keyDown(KEY_Z)=true keyPressed(KEY_Z)=true keyDown(29)=true"},  // held: pressed once
        {{}, "keyDown(KEY_Z)=true keyPressed(KEY_Z)=false"},
        // Both Shift keys are one key; releasing either clears it.
        {{down(SDLK_LSHIFT)}, "keyDown(KEY_SHIFT)=true keyPressed(KEY_SHIFT)=true"},
        {{down(SDLK_RSHIFT)}, "keyDown(KEY_SHIFT)=true keyPressed(KEY_SHIFT)=true"},
        {{up(SDLK_LSHIFT)}, "keyDown(KEY_SHIFT)=false keyReleased(KEY_SHIFT)=true keyPressed(KEY_SHIFT)=false"},
        // Delete has code 47 and no constant; keys without a slot change nothing.
        {{down(SDLK_DELETE), down(SDLK_F1), down(SDLK_RCTRL), down(SDLK_9), down(SDLK_RALT), down(SDLK_RETURN)},
         "keyDown(47)=true KEY_DELETE=nil keyDown(49)=false keyDown(-1)=false keyDown(KEY_CONTROL)=true "
         "keyDown(KEY_9)=true keyDown(KEY_8)=false keyDown(KEY_ALT)=true keyDown(KEY_ENTER)=true keyDown(44.9)=true"},
        // The wheel (buttons 4 and 5) changes nothing.
        {{press(SDL_BUTTON_WHEELUP), lift(SDL_BUTTON_WHEELUP), press(SDL_BUTTON_WHEELDOWN), press(SDL_BUTTON_RIGHT)},
         "mouseDown(BUTTON_LEFT)=false mousePressed(BUTTON_LEFT)=false mouseDown(BUTTON_MIDDLE)=false "
         "mouseDown(BUTTON_RIGHT)=true mousePressed(BUTTON_RIGHT)=true mouseDown(3)=false mouseReleased(3)=false"},
        {{press(SDL_BUTTON_MIDDLE), lift(SDL_BUTTON_MIDDLE), lift(SDL_BUTTON_RIGHT)},
         "mousePressed(BUTTON_MIDDLE)=true mouseReleased(BUTTON_MIDDLE)=true mouseReleased(BUTTON_RIGHT)=true"},
        // The pointer in drawing coordinates: the last motion of a frame wins, y counts up from the bottom.
        {{move(20, 30), move(10, 0)}, "mouseX()=10 mouseY()=" + std::to_string(h)},
        {{move(3, h - 1), press(SDL_BUTTON_LEFT)}, "mouseX()=3 mouseY()=1 mouseDown(BUTTON_LEFT)=true"},
    };
    state = luaL_newstate();
    luaL_openlibs(state);
    ASSERT_TRUE(registerInputFunctions(state));
    for (SDL_Event stale; SDL_PollEvent(&stale);) {
    }
    keyEvent(29, true);  // held before the loop starts
    takeSnapshot();
    frames = &script;
    pushEvents(script[0].events);
    FramePlatform platform = sdlFramePlatform();  // SDL's clock and event pump, no drawing
    platform.beginFrame = platform.endFrame = platform.swapBuffers = nothingHappens;
    setFramePlatform(platform);
    startTimer();
    addFrameModule(new ScriptedInput());
    EXPECT_EQ(1, runFrameLoop());
    EXPECT_EQ(script.size(), frameIndex);
    lua_close(state);
}

}  // namespace
