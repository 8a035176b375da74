// animation/animation.cpp - animation files, the animation resource type (6), curves and the
// marker text map.
//
// An animation loads in two steps: readAnimationFile checks the whole file into plain data,
// makeAnimation computes the curves and only then takes the scrap references of texture-change
// events, so an animation that fails has taken nothing and freeing it is one delete.
//
// Threads: the resource operations run on the loader thread (unload also at shutdown).
#include "animation/animation.h"

#include <cstdio>
#include <new>

#include "animation/hold.h"
#include "animation/scrap.h"
#include "resources/data_file.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"

static const char *const UPDATE_TYPE_NAMES[UPDATE_TYPE_COUNT] = {
    "Rotation", "X Translation", "Y Translation", "X Scaling", "Y Scaling",
    "Color",    "Texture Time",  "Texture Speed", "Texture Change"};

const char *updateTypeName(int type) { return type >= 0 && type < UPDATE_TYPE_COUNT ? UPDATE_TYPE_NAMES[type] : nullptr; }

int eventRealCount(int type)
{
    static const int counts[UPDATE_TYPE_COUNT] = {5, 5, 5, 5, 5, 7, 1, 3, 0};
    return type >= 0 && type < UPDATE_TYPE_COUNT ? counts[type] : -1;
}

float StoredReal::value() const { return realFromParts(whole, fraction); }

static StoredReal readStoredReal(DataFile &file)
{
    StoredReal real;
    real.whole = file.readInt32();
    real.fraction = (uint32_t)file.readInt32();
    return real;
}

static bool writeStoredReal(DataFile &file, const StoredReal &real)
{
    return file.writeInt32(real.whole) && file.writeInt32((int32_t)real.fraction);
}

// A time truncated toward zero to a whole frame, saturating outside the 32-bit range.
static int64_t wholeFrame(float time)
{
    if (time >= 2147483648.0f) return INT32_MAX;
    if (time <= -2147483648.0f) return INT32_MIN;
    return (int32_t)time;
}

static bool isCurve(int type) { return type >= UPDATE_ROTATION && type <= UPDATE_Y_SCALING; }

// One event record; false when the data ends inside it or its curve spans more than 32 bits.
static bool readEvent(DataFile &file, EventData &event, std::vector<std::string> &scraps)
{
    event.time = readStoredReal(file);
    event.type = (int8_t)file.readByte();
    const int reals = eventRealCount(event.type);
    if (reals >= 0) event.target = file.readInt32();
    for (int i = 0; i < reals; i++) event.reals[i] = readStoredReal(file);
    if (isCurve(event.type)) {
        event.unused[0] = file.readByte();
        event.unused[1] = file.readByte();
        const int64_t span = wholeFrame(event.reals[0].value()) - wholeFrame(event.time.value());
        if (span > INT32_MAX || span < INT32_MIN) return false;
    } else if (event.type == UPDATE_TEXTURE_CHANGE) {
        event.scrap = (int32_t)scraps.size();
        scraps.push_back(file.readString());
    }
    return !file.atEnd();
}

// Resizes `list` to `count`; false with `message` set when memory runs out.
template <typename T>
static bool makeRoom(std::vector<T> &list, int32_t count, const char *problem, std::string &message)
{
    try {
        list.resize(count);
        return true;
    } catch (const std::bad_alloc &) {
        message = problem;
        return false;
    }
}

static bool readBody(DataFile &file, AnimationFileData &out, std::string &message)
{
    const int32_t eventCount = file.readInt32();
    if (eventCount < 0 || eventCount > MAX_ANIMATION_EVENTS) {
        message = "Animation cannot load: bad event count.";
        return false;
    }
    if (!makeRoom(out.events, eventCount, "Animation cannot load: no timeline memory.", message)) return false;
    for (EventData &event : out.events) {
        if (!readEvent(file, event, out.scraps)) {
            message = "Animation cannot load: event read error.";
            return false;
        }
    }
    const int32_t textCount = file.readInt32();
    if (textCount < 0 || textCount > MAX_MARKER_TEXTS) {
        message = "Animation cannot load: bad marker text count.";
        return false;
    }
    if (!makeRoom(out.texts, textCount, "Animation cannot load: no marker text memory.", message)) return false;
    for (std::string &text : out.texts) text = file.readString();
    const int32_t markerCount = file.readInt32();
    if (markerCount < 0 || markerCount > MAX_MARKERS) {
        message = "Animation cannot load: bad marker count.";
        return false;
    }
    if (!makeRoom(out.markers, markerCount, "Animation cannot load: no marker memory.", message)) return false;
    for (MarkerData &marker : out.markers) {
        marker.time = readStoredReal(file);
        marker.x = readStoredReal(file);
        marker.y = readStoredReal(file);
        marker.textIndex = file.readInt32();
        if (marker.textIndex < 0 || marker.textIndex >= textCount) {
            message = "Animation cannot load: marker read error.";
            return false;
        }
    }
    if (file.atEnd()) {
        message = "Animation cannot load: read error (eof reached).";
        return false;
    }
    if (!(out.length.value() > 0)) {
        message = "Animation cannot load: length is 0 or below.";
        return false;
    }
    return true;
}

bool readAnimationFile(DataFile &file, AnimationFileData &out, std::string &message)
{
    out = AnimationFileData();
    message.clear();
    for (const char expected : {'Q', 'F', 'M', 'A'}) {
        if (file.readByte() != (uint8_t)expected || file.atEnd()) {
            message = "Animation cannot load: bad header.";
            return false;
        }
    }
    const int16_t version = file.readInt16();
    if (version > 5 || version < 0) {
        message = "Animation cannot load: bad version.";
        return false;
    }
    if (version < 5) {
        message = "Animation cannot load: no backwards compatibility yet.";
        return false;
    }
    out.length = readStoredReal(file);
    out.flag = file.readBit();
    if (readBody(file, out, message)) return true;
    out = AnimationFileData();
    return false;
}

const std::string &scrapName(const AnimationFileData &data, const EventData &event)
{
    static const std::string none;
    return event.scrap >= 0 && (size_t)event.scrap < data.scraps.size() ? data.scraps[event.scrap] : none;
}

bool writeAnimationFile(const std::string &path, const AnimationFileData &data)
{
    DataFile file;
    if (!file.openForWrite(path)) return false;
    bool ok = file.writeBytes("QFMA", 4) && file.writeInt16(5) && writeStoredReal(file, data.length) &&
              file.writeBit(data.flag) && file.writeInt32((int32_t)data.events.size());
    for (const EventData &event : data.events) {
        const int reals = eventRealCount(event.type);
        ok = ok && writeStoredReal(file, event.time) && file.writeByte((uint8_t)event.type);
        if (reals >= 0) ok = ok && file.writeInt32(event.target);
        for (int i = 0; i < reals; i++) ok = ok && writeStoredReal(file, event.reals[i]);
        if (isCurve(event.type)) ok = ok && file.writeByte(event.unused[0]) && file.writeByte(event.unused[1]);
        if (event.type == UPDATE_TEXTURE_CHANGE) ok = ok && file.writeString(scrapName(data, event));
    }
    ok = ok && file.writeInt32((int32_t)data.texts.size());
    for (const std::string &text : data.texts) ok = ok && file.writeString(text);
    ok = ok && file.writeInt32((int32_t)data.markers.size());
    for (const MarkerData &marker : data.markers) {
        ok = ok && writeStoredReal(file, marker.time) && writeStoredReal(file, marker.x) &&
             writeStoredReal(file, marker.y) && file.writeInt32(marker.textIndex);
    }
    return file.close() && ok;
}

// ---------------------------------------------------------------- the loaded animation

Curve makeCurve(float time, float endTime, float startValue, float endValue, float startSlope, float endSlope)
{
    Curve curve;
    const int64_t start = wholeFrame(time);
    const int64_t length = wholeFrame(endTime) - start;  // the reader refused spans beyond 32 bits
    curve.startFrame = (int32_t)start;
    curve.length = (int32_t)length;
    curve.s0 = startSlope;
    curve.ds = endSlope - startSlope;
    curve.p0 = startValue;
    curve.dp = endValue - startValue;
    if (length == 0) return curve;
    // L cubed, L squared and 2L as exact integers (64 bits; double beyond), then single precision
    const float L = (float)length;
    const float L3 = (float)((double)length * (double)length * (double)length);
    const float L2 = (float)(length * length);
    const float twoL = (float)(2 * length);
    curve.c3 = (curve.ds * L + 2.0f * (curve.s0 * L - curve.dp)) / L3;
    curve.c2 = (curve.ds - 3.0f * curve.c3 * L2) / twoL;
    return curve;
}

float curveValue(const Curve &curve, float time)
{
    const float u = time - (float)curve.startFrame;
    return ((curve.c3 * u + curve.c2) * u + curve.s0) * u + curve.p0;
}

static void printAnimationMessage(const std::string &message)
{
    const std::string line = message + "\n";
    fwrite(line.data(), 1, line.size(), stderr);
}

Animation *makeAnimation(const AnimationFileData &data)
{
    Animation *animation = new (std::nothrow) Animation();
    if (animation == nullptr) {
        printAnimationMessage("Animation cannot load: not enough memory.");
        return nullptr;
    }
    animation->length = data.length.value();
    animation->flag = data.flag;
    animation->eventCount = (int32_t)data.events.size();
    animation->events.resize(data.events.size());
    for (size_t i = 0; i < data.events.size(); i++) {
        const EventData &from = data.events[i];
        AnimationEvent &event = animation->events[i];
        event.time = from.time.value();
        event.type = from.type;
        event.target = from.target;
        float r[7];
        const int reals = eventRealCount(from.type);
        for (int k = 0; k < reals; k++) r[k] = from.reals[k].value();
        if (isCurve(from.type)) {
            event.curve = makeCurve(event.time, r[0], r[1], r[2], r[3], r[4]);
            event.unused[0] = (int8_t)from.unused[0];
            event.unused[1] = (int8_t)from.unused[1];
        } else if (from.type == UPDATE_COLOR) {
            event.color.endTime = r[0];
            for (int k = 0; k < 6; k++) event.color.colors[k] = r[k + 1];
        } else if (from.type == UPDATE_TEXTURE_TIME) {
            event.textureTime = r[0];
        } else if (from.type == UPDATE_TEXTURE_SPEED) {
            for (int k = 0; k < 3; k++) event.textureSpeed[k] = r[k];
        }
    }
    animation->markerTexts = data.texts;
    for (size_t i = 0; i < data.texts.size(); i++) animation->markerIndices[data.texts[i]] = (int32_t)i;
    animation->markerCount = (int32_t)data.markers.size();
    animation->markers.resize(data.markers.size());
    for (size_t i = 0; i < data.markers.size(); i++) {
        const MarkerData &from = data.markers[i];
        animation->markers[i] = {from.time.value(), from.x.value(), from.y.value(), from.textIndex};
    }
    for (size_t i = 0; i < data.events.size(); i++) {
        if (data.events[i].type == UPDATE_TEXTURE_CHANGE) {
            animation->events[i].scrap = acquireDependency(RESOURCE_SCRAP, scrapName(data, data.events[i]));
        }
    }
    return animation;
}

void freeAnimation(Animation *animation)
{
    if (animation == nullptr) return;
    for (AnimationEvent &event : animation->events) {
        if (event.scrap != nullptr && registryRunning()) releaseResource(event.scrap);
    }
    delete animation;
}

Animation *holdAnimation(Animation *animation) { return holdShared(animation); }

void letGoOfAnimation(Animation *animation)
{
    if (letGoShared(animation)) freeAnimation(animation);
}

int32_t markerIndex(const Animation *animation, const std::string &text)
{
    if (animation == nullptr) return -1;
    auto found = animation->markerIndices.find(text);
    return found == animation->markerIndices.end() ? -1 : found->second;
}

static void *loadAnimationResource(const ResourceKey &key)
{
    DataFile file;
    if (!file.openForRead(key.directory + key.name)) return nullptr;
    AnimationFileData data;
    std::string message;
    const bool read = readAnimationFile(file, data, message);
    file.close();
    if (!read) {
        printAnimationMessage(message);
        return nullptr;
    }
    return makeAnimation(data);
}

static int unloadAnimationResource(void **object)
{
    letGoOfAnimation(static_cast<Animation *>(*object));
    *object = nullptr;
    return 0;
}

bool registerAnimationResource()
{
    return registerResourceType(RESOURCE_ANIMATION, {loadAnimationResource, unloadAnimationResource, nullptr});
}
