// animation/animation.h - animations (resource type 6, files under "Anims/"): a timeline of
// events that change one bone each (a curve of rotation, translation or scale, a colour fade,
// the frame clock or the picture of the bone) and of markers that scripts react to.
//
// readAnimationFile checks a file into plain data (stored reals, scrap names; any thread, no
// registry); makeAnimation computes the curve coefficients, maps the marker texts and takes one
// reference on the scrap of each texture-change event at nextLoadPriority.
//
// Hazards the files could hold, and what the engine does with them:
// - a length of 0 or below would make playback wrap forever: refused with "Animation cannot
//   load: length is 0 or below.";
// - a curve longer than 1290 frames (L cubed overflows 32 bits): L squared and cubed are formed
//   in 64 bits, which gives the same coefficients for shorter curves and the true cubic for
//   longer ones; a span that does not fit 32 bits at all is an event read error.
//
// Threads: loading on the loader thread; a loaded Animation is read-only and poses read it on
// the main thread (it must stay loaded while they play it).
// Failure: one "Animation cannot load: ..." line on stderr per failed load; a missing file is
// silent.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class DataFile;
struct ResourceRecord;

static const int32_t MAX_ANIMATION_EVENTS = 49999;
static const int32_t MAX_MARKER_TEXTS = 2999;
static const int32_t MAX_MARKERS = 2999;

enum UpdateType {
    UPDATE_ROTATION = 0,
    UPDATE_X_TRANSLATION = 1,
    UPDATE_Y_TRANSLATION = 2,
    UPDATE_X_SCALING = 3,
    UPDATE_Y_SCALING = 4,
    UPDATE_COLOR = 5,
    UPDATE_TEXTURE_TIME = 6,
    UPDATE_TEXTURE_SPEED = 7,
    UPDATE_TEXTURE_CHANGE = 8,
    UPDATE_TYPE_COUNT = 9  // other codes are stored with no payload and no effect
};
const char *updateTypeName(int type);  // "Rotation" ... "Texture Change"; nullptr for other codes
static const char *const ALL_UPDATE_TYPES = "All Update Types";

// How many reals an event of `type` stores after its target (curves 5, colour 7, texture time
// 1, texture speed 3, texture change 0); -1 when the type stores no target either.
int eventRealCount(int type);

// --- an animation file's contents, as stored
struct StoredReal  // DataFile's real: whole part, then the fraction in billionths
{
    int32_t whole = 0;
    uint32_t fraction = 0;
    float value() const;  // as readReal gives it
};

struct EventData
{
    StoredReal time;
    int8_t type = 0;
    uint8_t unused[2] = {};  // curves: the two bytes after the slopes
    int32_t target = 0;     // bone index; not stored for types outside 0..8
    int32_t scrap = -1;     // texture change: index of its name in AnimationFileData::scraps
    StoredReal reals[7];    // eventRealCount(type) of them, in file order
};

struct MarkerData
{
    StoredReal time, x, y;
    int32_t textIndex = 0;
};

struct AnimationFileData
{
    StoredReal length;
    bool flag = false;
    std::vector<EventData> events;
    std::vector<std::string> scraps;  // names of the texture changes' scraps, in event order
    std::vector<std::string> texts;
    std::vector<MarkerData> markers;
};

// "QFMA", version 5, every count and marker index checked, the end of the data tested once at
// the end, then the length. False with `message` set to the engine's line (without "\n").
bool readAnimationFile(DataFile &file, AnimationFileData &out, std::string &message);
bool writeAnimationFile(const std::string &path, const AnimationFileData &data);  // false when a write failed
const std::string &scrapName(const AnimationFileData &data, const EventData &event);  // "" when it names none

// --- the loaded animation
// A cubic over whole frames from p0 with slope s0 at the start frame to p0 + dp with slope s1
// at start + L; not clamped outside.
struct Curve
{
    float s0 = 0, ds = 0;  // start slope, slope change s1 - s0
    int32_t startFrame = 0, length = 0;
    float p0 = 0, dp = 0;
    float c3 = 0, c2 = 0;
};
// The coefficients from an event's times, values and slopes (single precision).
Curve makeCurve(float time, float endTime, float startValue, float endValue, float startSlope, float endSlope);
float curveValue(const Curve &curve, float time);  // ((c3 u + c2) u + s0) u + p0, u = time - start frame

struct ColorFade
{
    float endTime;
    float colors[6];  // red start, red end, green start, green end, blue start, blue end
};

// Events are many (up to 49999) and each uses one payload: they share their room.
struct AnimationEvent
{
    float time = 0;
    int8_t type = 0;
    int8_t unused[2] = {};  // types 0..4, not used by playback
    int32_t target = 0;
    union
    {
        Curve curve{};          // types 0..4
        ColorFade color;        // colour
        float textureTime;      // texture time
        float textureSpeed[3];  // texture speed: playback uses the third
    };
    ResourceRecord *scrap = nullptr;  // texture change: one reference held
};

struct Marker
{
    float time = 0, x = 0, y = 0;
    int32_t textIndex = 0;  // into markerTexts
};

struct Animation
{
    std::vector<AnimationEvent> events;  // file order; playback stops at the first one later than its clock
    int32_t eventCount = 0;
    std::vector<Marker> markers;
    int32_t markerCount = 0;
    std::vector<std::string> markerTexts;
    std::unordered_map<std::string, int32_t> markerIndices;  // text -> index; a repeated text maps to its later index
    float length = 0;  // the period, above 0
    bool flag = false;
    std::atomic<int32_t> holders{1};  // its record's load, plus one per pose playing it
};

Animation *makeAnimation(const AnimationFileData &data);  // nullptr (and a message) when memory runs out
// Releases every scrap reference (only while the registry runs: after its shutdown the records
// are gone) and deletes the animation; nullptr does nothing.
void freeAnimation(Animation *animation);
bool registerAnimationResource();          // type 6; main thread, start-up
// Shared like models (see holdModel): poses hold the animations whose curves and scraps they use.
Animation *holdAnimation(Animation *animation);  // nullptr gives nullptr
void letGoOfAnimation(Animation *animation);     // nullptr does nothing
int32_t markerIndex(const Animation *animation, const std::string &text);  // -1 when not a marker text
