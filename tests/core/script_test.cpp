// The script glue on a real Lua state: usage errors, error reports, a Step error in the room module.
#include <gtest/gtest.h>

#include <sstream>

#include "core/room_module.h"
#include "core/engine.h"
#include "core/script.h"
#include "test_support.h"

namespace {

// Catches a wrong message, a "chunk:1:" position added, or a wrong count accepted (one more, fewer, none).
TEST(ScriptGlue, EveryWrongArgumentCountRaisesItsExactMessage)
{
    const struct { const char *names; int count; const char *message; } cases[] = {
        {"setBackgroundColor", 3, "3 args needed: red, green, blue"},
        {"setRenderColor", 4, "4 args needed: red, green, blue, alpha"},
        {"pushMatrix popMatrix", 0, "0 args needed"}, {"rotateRender", 1, "1 arg needed"},
        {"scaleRender", 2, "2 args needed"}, {"translateRender", 3, "3 args needed"},
        {"drawCircle", 4, "4 args needed: x, y, radius, filled"},
        {"drawRectangle", 5, "5 args needed: x1, y1, x2, y2, filled"},
        {"drawLine", 4, "4 args needed: x1, y1, x2, y2"},
        {"drawRectangleExt", 8, "8 args needed: x1, y1, x2, y2, filled, rotation, pivotX, pivotY"},
        {"drawImagePart", 7, "7 args needed: image, x, y, imgX1, imgY1, imgX2, imgY2"},
        {"drawImagePartExt", 12,
         "12 args needed: image, x, y, imgX1, imgY1, imgX2, imgY2, rot, scaleX, scaleY, rotateX, rotateY"},
        {"drawImage", 3, "3 args needed: image, x, y"}, {"drawImageExt", 5, "5 args needed: image, x, y, rot, scale"},
        {"keyDown keyPressed keyReleased", 1, "1 arg needed: key"},
        {"mouseDown mousePressed mouseReleased", 1, "1 arg needed: button"},
        {"forceNewRoom", 1, "1 arg needed: roomName"},
        {"beginResourceList endResourceList getNumAudioEnvs stopAllMusic", 0, "0 args expected"},
        {"includeRoom", 2, "2 args needed: roomName, priority"}, {"saveGame loadGame", 1, "1 arg needed: slotName"},
        {"drawText", 6, "6 args needed: font, text, x, y, rotation, scale"}, {"getTextWidth", 2, "2 arg needed: font, text"},
        {"getSoundHandle getMusicHandle getFontHandle getImageHandle getScriptHandle getModelHandle getAnimHandle", 1,
         "1 arg needed: resourceName"},
        {"presetAudioEnv", 3, "3 args expected: envID, transitionTime, presetEnv"},
        {"playSound", 3, "3 args expected: sound, loop, priority"}, {"stopSoundSrc", 1, "1 arg expected: sourceID"},
        {"soundVolume", 2, "2 args expected: sound, volume"}, {"soundPitch", 2, "2 args expected: sound, pitch"},
        {"soundSrcVolume", 2, "2 args expected: sourceID, volume"}, {"soundSrcPitch", 2, "2 args expected: sourceID, pitch"},
        {"isSoundSrcPlaying", 1, "1 arg expected"}, {"soundType", 2, "2 args expected: sound, posType"},
        {"soundPos", 3, "3 args expected: sound, x, y"}, {"soundPan", 2, "2 args expected: sound, pan"},
        {"soundObj", 2, "2 args expected: sound, objectID"}, {"soundSrcType", 2, "2 args expected: sourceID, posType"},
        {"soundSrcPos", 3, "3 args expected: sourceID, x, y"}, {"soundSrcPan", 2, "2 args expected: sourceID, pan"},
        {"soundSrcObj", 2, "2 args expected: sourceID, objectID"},
        {"soundFilter", 2, "2 args expected: sound, filterOnOrOff"}, {"soundGain", 2, "2 args expected: sound, gain"},
        {"soundGainHF", 2, "2 args expected: sound, gainHF"}, {"soundEnv", 2, "2 args expected: sound, env"},
        {"soundSrcFilter", 2, "2 args expected: sourceID, filterOnOrOff"},
        {"soundSrcGain", 2, "2 args expected: sourceID, filterGain"},
        {"soundSrcGainHF", 2, "2 args expected: sourceID, filterGainHF"},
        {"soundSrcEnv", 2, "2 args expected: sourceID, envID"}, {"setNumMusicSlots", 1, "1 arg expected: newSlotNum"},
        {"assignMusicToSlot appendMusicToSlot", 2, "2 args expected: slot, music"},
        {"playMusicSlot", 3, "3 args expected: slot, startTime, loop"},
        {"pauseMusicSlot stopMusicSlot isMusicPlaying getMusicSource", 1, "1 arg expected: slot"},
        {"getModelPose", 1, "1 arg expected: model"},
        {"_FREEMODELPOSE getActiveMarkers renderPose freezePose setDefaultPose", 1, "1 arg expected: pose"},
        {"animatePose", 3, "3 args expected: pose, animation, duration"},
        {"getMarkerIndex", 2, "2 args expected: animation, markerName"},
    };
    // Names that are not text get the same messages; numbers are text.
    const struct { const char *call, *message; } calls[] = {
        {"includeRoom({}, 1)", "2 args needed: roomName, priority"}, {"forceNewRoom(true)", "1 arg needed: roomName"},
        {"getAnimHandle(nil)", "1 arg needed: resourceName"}, {"includeRoom(12, 1) getModelHandle(5)", ""},
    };
    lua_State *L = luaL_newstate();  // the libraries as start-up registers them
    registerScriptFunctions(L);
    for (const auto &c : cases) {
        std::istringstream names(c.names);
        for (std::string name; names >> name;) {
            for (int count : {c.count + 1, c.count == 0 ? 3 : 0, c.count > 1 ? c.count - 1 : c.count + 1}) {
                std::string call = name + "(";
                for (int i = 1; i <= count; i++) call += std::to_string(i) + (i < count ? ", " : "");
                EXPECT_EQ(c.message, runLua(L, call + ")")) << call << ")";
            }
        }
    }
    for (const auto &c : calls) EXPECT_EQ(c.message, runLua(L, c.call)) << c.call;
    lua_close(L);
}

// Catches the reporter printing no newline, printing non-strings, or leaving the value on the stack.
TEST(ScriptGlue, ReportScriptErrorPrintsTextAndNewline)
{
    lua_State *L = luaL_newstate();
    const struct { const char *value; std::string printed; } cases[] = {
        {"'1 arg needed: key'", "1 arg needed: key\n"}, {"42", "42\n"}, {"1.5", "1.5\n"},
        {"'a\\0b'", std::string("a\0b\n", 4)}, {"nil", "\n"}, {"{}", "\n"}, {"true", "\n"},
    };
    for (const auto &c : cases) {
        lua_pushstring(L, "below");
        luaL_loadstring(L, (std::string("return ") + c.value).c_str());
        lua_call(L, 0, 1);
        EXPECT_EQ(c.printed, captureStderr([&] { reportScriptError(L); })) << c.value;
        EXPECT_EQ(1, lua_gettop(L)) << c.value << ": the value was not popped";
        lua_settop(L, 0);
    }
    lua_close(L);
}

// Catches a Step error that does not end that frame's _STEP, stops later frames, or prints twice.
TEST(ScriptGlue, ErrorInAnInstanceStepStopsOnlyThatFramesStep)
{
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    setScriptState(L);
    ASSERT_TRUE(runChunk(L,
                         "LOG = {}\n"
                         "local function instance(name, fails)\n"
                         "  return {Render = function() end, Step = function(self) LOG[#LOG + 1] = name\n"
                         "    if fails and not FAILED then FAILED = true error('broken ' .. name, 0) end end}\n"
                         "end\n"
                         "instTable = {instance('a'), instance('b', true), instance('c')}\n"
                         "function Step() LOG[#LOG + 1] = 'room' end function Render() end",
                         ""));
    QFRoomModule module;  // the frame loop's module that runs _STEP
    module.init();
    EXPECT_EQ("broken b\n", captureStderr([&] { for (int frame = 0; frame < 3; frame++) module.step(); }));
    EXPECT_EQ("a b a b c room a b c room", luaValue(L, "table.concat(LOG, ' ')"));  // frame 1 ends at b
    module.shutDown();
    setScriptState(nullptr);
    lua_close(L);
}

}  // namespace
