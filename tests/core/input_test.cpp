// Input through real SDL events: events are pushed into SDL's queue, the engine's own event pump
// drains it at the start of each frame of a real frame loop, and Lua reads the frame's state
// through the script functions.
#include <gtest/gtest.h>

#include <SDL.h>

#include <functional>
#include <string>
#include <vector>

#include "core/frame_loop.h"
#include "core/input.h"
#include "core/script.h"
#include "graphics/display.h"
#include "test_support.h"

namespace {

static SDL_Event keyEventOf(int type, SDLKey key)
{
    SDL_Event event = {};
    event.type = (Uint8)type;
    event.key.type = (Uint8)type;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = key;
    return event;
}
static SDL_Event keyDownEvent(SDLKey key) { return keyEventOf(SDL_KEYDOWN, key); }
static SDL_Event keyUpEvent(SDLKey key) { return keyEventOf(SDL_KEYUP, key); }

static SDL_Event buttonEventOf(int type, int button)
{
    SDL_Event event = {};
    event.type = (Uint8)type;
    event.button.type = (Uint8)type;
    event.button.button = (Uint8)button;
    event.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.button.x = 5;
    event.button.y = 5;
    return event;
}
static SDL_Event buttonDownEvent(int button) { return buttonEventOf(SDL_MOUSEBUTTONDOWN, button); }
static SDL_Event buttonUpEvent(int button) { return buttonEventOf(SDL_MOUSEBUTTONUP, button); }

static SDL_Event motionEvent(int x, int y)
{
    SDL_Event event = {};
    event.type = SDL_MOUSEMOTION;
    event.motion.type = SDL_MOUSEMOTION;
    event.motion.x = (Uint16)x;
    event.motion.y = (Uint16)y;
    return event;
}

// One frame of the script: the events that arrive before it, and Lua expressions with the
// values they must have during that frame's step.
struct Frame
{
    std::vector<SDL_Event> events;
    std::vector<std::pair<std::string, std::string>> expect;  // expression -> tostring(value)
};

// The world the loop runs in: a fake clock, SDL's event pump, no drawing.
struct InputRun
{
    lua_State *L = nullptr;
    const std::vector<Frame> *frames = nullptr;
    size_t frame = 0;
    std::vector<std::string> failures;
};
static InputRun run;

static uint32_t now = 0;
static uint32_t fakeTicks() { return now; }
static void fakeDelay(uint32_t ms) { now += ms; }
static void nothing() {}

static std::string evaluate(lua_State *L, const std::string &expression)
{
    if (luaL_dostring(L, ("return tostring(" + expression + ")").c_str()) != 0) {
        std::string error = lua_tostring(L, -1);
        lua_settop(L, 0);
        return "error: " + error;
    }
    std::string value = lua_tostring(L, -1);
    lua_settop(L, 0);
    return value;
}

static void pushEvents(const std::vector<SDL_Event> &events)
{
    for (SDL_Event event : events) SDL_PushEvent(&event);
}

// Checks this frame's expectations, then queues the events of the next frame: SDL delivers them
// to the engine's pump at the start of the next loop iteration.
class ScriptedInput : public QFFrameModule
{
public:
    void step() override
    {
        const Frame &frame = (*run.frames)[run.frame];
        for (const auto &check : frame.expect) {
            const std::string got = evaluate(run.L, check.first);
            if (got != check.second)
                run.failures.push_back("frame " + std::to_string(run.frame) + ": " + check.first + " expected " +
                                       check.second + ", got " + got);
        }
        if (++run.frame == run.frames->size()) {
            requestQuit();
            return;
        }
        pushEvents((*run.frames)[run.frame].events);
    }
};

TEST(Input, SdlEventsBecomeEachFramesState)
{
    REQUIRE_DISPLAY();
    const std::string top = std::to_string(displayHeight());
    const std::vector<Frame> frames = {
        // 0: pressed and released between two frames: both flags, not down.
        {{keyDownEvent(SDLK_a), keyUpEvent(SDLK_a)},
         {{"keyPressed(KEY_A)", "true"}, {"keyReleased(KEY_A)", "true"}, {"keyDown(KEY_A)", "false"},
          {"keyPressed(KEY_B)", "false"}}},
        // 1: nothing new: the flags are gone.
        {{}, {{"keyPressed(KEY_A)", "false"}, {"keyReleased(KEY_A)", "false"}, {"keyDown(KEY_A)", "false"}}},
        // 2-4: held over several frames: pressed only in the first.
        {{keyDownEvent(SDLK_z)}, {{"keyDown(KEY_Z)", "true"}, {"keyPressed(KEY_Z)", "true"}, {"keyDown(29)", "true"}}},
        {{}, {{"keyDown(KEY_Z)", "true"}, {"keyPressed(KEY_Z)", "false"}}},
        {{keyUpEvent(SDLK_z)}, {{"keyDown(KEY_Z)", "false"}, {"keyReleased(KEY_Z)", "true"}}},
        // 5-8: both Shift keys are one key; releasing either clears it.
        {{keyDownEvent(SDLK_LSHIFT)}, {{"keyDown(KEY_SHIFT)", "true"}, {"keyPressed(KEY_SHIFT)", "true"}}},
        {{keyDownEvent(SDLK_RSHIFT)}, {{"keyDown(KEY_SHIFT)", "true"}, {"keyPressed(KEY_SHIFT)", "true"}}},
        {{keyUpEvent(SDLK_LSHIFT)},
         {{"keyDown(KEY_SHIFT)", "false"}, {"keyReleased(KEY_SHIFT)", "true"}, {"keyPressed(KEY_SHIFT)", "false"}}},
        {{keyUpEvent(SDLK_RSHIFT)}, {{"keyDown(KEY_SHIFT)", "false"}, {"keyReleased(KEY_SHIFT)", "true"}}},
        // 9: Delete has code 47 and no constant; keys without a slot change nothing.
        {{keyDownEvent(SDLK_DELETE), keyDownEvent(SDLK_F1), keyDownEvent(SDLK_RCTRL), keyDownEvent(SDLK_9),
          keyDownEvent(SDLK_BACKSPACE), keyDownEvent(SDLK_RALT), keyDownEvent(SDLK_RETURN)},
         {{"keyDown(47)", "true"}, {"KEY_DELETE", "nil"}, {"keyDown(49)", "false"}, {"keyDown(-1)", "false"},
          {"keyDown(KEY_CONTROL)", "true"}, {"keyDown(KEY_9)", "true"}, {"keyDown(KEY_8)", "false"},
          {"keyDown(KEY_BACKSPACE)", "true"}, {"keyDown(KEY_ALT)", "true"}, {"keyDown(KEY_ENTER)", "true"},
          {"keyDown(48.9)", "true"}, {"keyDown('x')", "false"}}},
        // 10: buttons; the wheel (4 and 5) changes nothing.
        {{buttonDownEvent(SDL_BUTTON_WHEELUP), buttonUpEvent(SDL_BUTTON_WHEELUP), buttonDownEvent(SDL_BUTTON_WHEELDOWN),
          buttonDownEvent(SDL_BUTTON_RIGHT)},
         {{"mouseDown(BUTTON_LEFT)", "false"}, {"mousePressed(BUTTON_LEFT)", "false"},
          {"mouseDown(BUTTON_MIDDLE)", "false"}, {"mouseDown(BUTTON_RIGHT)", "true"},
          {"mousePressed(BUTTON_RIGHT)", "true"}, {"mouseDown(3)", "false"}, {"mouseReleased(3)", "false"}}},
        // 11: middle pressed and released, right released.
        {{buttonDownEvent(SDL_BUTTON_MIDDLE), buttonUpEvent(SDL_BUTTON_MIDDLE), buttonUpEvent(SDL_BUTTON_RIGHT)},
         {{"mousePressed(BUTTON_MIDDLE)", "true"}, {"mouseReleased(BUTTON_MIDDLE)", "true"},
          {"mouseDown(BUTTON_MIDDLE)", "false"}, {"mouseReleased(BUTTON_RIGHT)", "true"},
          {"mouseDown(BUTTON_RIGHT)", "false"}, {"mouseDown(BUTTON_LEFT)", "false"}}},
        // 12-13: the pointer in drawing coordinates: the top edge reads the window height.
        {{motionEvent(10, 0)}, {{"mouseX()", "10"}, {"mouseY()", top}}},
        {{motionEvent(3, displayHeight() - 1), buttonDownEvent(SDL_BUTTON_LEFT)},
         {{"mouseX()", "3"}, {"mouseY()", "1"}, {"mouseDown(BUTTON_LEFT)", "true"}}},
        // 14: the last motion of a frame wins.
        {{motionEvent(20, 30), motionEvent(21, 31)}, {{"mouseX()", "21"}, {"mouseY()", std::to_string(displayHeight() - 31)}}},
    };

    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    ASSERT_TRUE(registerInputFunctions(L));
    EXPECT_EQ("4 48 33 46 35 44 2 1 0",
              evaluate(L, "KEY_A .. ' ' .. KEY_BACKSPACE .. ' ' .. KEY_SHIFT .. ' ' .. KEY_ALT .. ' ' .. KEY_0 .. "
                          "' ' .. KEY_9 .. ' ' .. BUTTON_MIDDLE .. ' ' .. BUTTON_RIGHT .. ' ' .. BUTTON_LEFT"));

    SDL_Event stale;
    while (SDL_PollEvent(&stale)) {
    }
    run = InputRun();
    run.L = L;
    run.frames = &frames;
    pushEvents(frames[0].events);
    FramePlatform platform = sdlFramePlatform();
    platform.ticks = fakeTicks;
    platform.delay = fakeDelay;
    platform.beginFrame = platform.endFrame = platform.swapBuffers = nothing;
    setFramePlatform(platform);
    startTimer();
    addFrameModule(new ScriptedInput());
    EXPECT_EQ(1, runFrameLoop());
    EXPECT_EQ(frames.size(), run.frame);
    for (const std::string &failure : run.failures) ADD_FAILURE() << failure;
    lua_close(L);
}

// The loop starts from a clean slate: a key held before it starts reads as not down.
TEST(Input, LoopStartClearsEveryFlag)
{
    keyEvent(4, true);
    buttonEvent(0, true);
    takeSnapshot();
    ASSERT_TRUE(keyDown(4));
    resetInput();
    takeSnapshot();
    EXPECT_FALSE(keyDown(4));
    EXPECT_FALSE(mouseDown(0));
    keyEvent(49, true);  // no slot: ignored
    buttonEvent(3, true);
    keyEvent(-1, true);
    takeSnapshot();
    for (int code = -1; code <= 50; code++) EXPECT_FALSE(keyDown(code)) << code;
    for (int button = -1; button <= 4; button++) EXPECT_FALSE(mousePressed(button)) << button;
}

}  // namespace
