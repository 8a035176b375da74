// animation/pose.cpp - model poses: creation and rest pose, playback of animations (events,
// markers, wrapping, running tracks), repositioning of changed bones, and drawing.
//
// How it stays cheap:
// - A pose counts its bones with running tracks; with none, an advance only looks at the next
//   event and marker and moves the clock.
// - Only dirty bones and what hangs below them are recomputed; each recomputed bone keeps the
//   sine and cosine of its world angle for the bones hanging on it.
// - Frame clocks are brought up to date where the scrap is locked anyway (see pose.h).
// - Bones are drawn through the renderer's image batch with their transform applied on the CPU,
//   so the bones of one picture in a row go to GL as one batch, and the matrix is never touched.
//   The vertices are those of the matrix calls up to float rounding: unturned bones land on the
//   same pixels; turned ones cover the same pixels, and a filtered texel may take a neighbouring
//   shade.
//
// Threads: main thread only. Models and animations are read without locks (held, immutable);
// scrap records are locked around every use, and drawScrapFrame locks the image records.
#include "animation/pose.h"

#include <cmath>
#include <cstdio>
#include <new>

#include "animation/scrap.h"
#include "resources/registry.h"

static const uint8_t CURVE_BITS = (1 << CURVE_TRACKS) - 1;
static const uint8_t COLOR_BIT = 1 << TRACK_COLOR;

static void printPoseMessage(const char *line) { fputs(line, stderr); }

ModelPose *createPose(Model *model)
{
    ModelPose *pose = new (std::nothrow) ModelPose();
    if (pose == nullptr) return nullptr;
    if (model == nullptr) {
        printPoseMessage("ModelPose failed: model is NULL.\n");
        return pose;
    }
    try {
        size_t joints = 0;
        for (const Bone &bone : model->bones) joints += bone.joints.size();
        pose->bones.resize(model->bones.size());
        pose->joints.resize(joints);
        for (const Bone &bone : model->bones) {
            if (bone.parentIndex < 0) pose->roots.push_back((int32_t)(&bone - model->bones.data()));
        }
    } catch (const std::bad_alloc &) {
        pose->bones.clear(), pose->joints.clear(), pose->roots.clear();
        printPoseMessage("ModelPose failed: no memory for skeleton.\n");
        return pose;
    }
    int32_t firstJoint = 0;
    for (size_t i = 0; i < model->bones.size(); i++) {
        BoneState &state = pose->bones[i];
        state.bone = &model->bones[i];
        state.firstJoint = firstJoint;
        state.jointCount = (int32_t)state.bone->joints.size();
        firstJoint += state.jointCount;
    }
    pose->boneCount = (int32_t)pose->bones.size();
    pose->model = holdModel(model);
    applyDefaultPose(pose);
    return pose;
}

static void letGoOfAnimations(ModelPose &pose)
{
    for (Animation *animation : pose.held) letGoOfAnimation(animation);
    pose.held.clear();
}

void destroyPose(ModelPose *pose)
{
    if (pose == nullptr) return;
    letGoOfAnimations(*pose);
    letGoOfModel(pose->model);
    delete pose;
}

// The world angle's sine and cosine for the bones hanging on this one: double precision from
// the angle in radians as the engine forms it (degrees x 0.017453292 in single precision).
static void keepAngle(BoneState &state)
{
    sincos((double)(state.worldAngle * 0.017453292f), &state.sinAngle, &state.cosAngle);
}

void applyDefaultPose(ModelPose *pose)
{
    if (pose == nullptr) return;
    freezeTracks(pose);
    letGoOfAnimations(*pose);  // no track or picture of theirs is left
    for (BoneState &state : pose->bones) {
        const Bone &bone = *state.bone;
        state.imageX = (float)bone.x, state.imageY = (float)bone.y;
        state.worldAngle = (float)bone.angle;
        state.scaleX = state.scaleY = 1;
        state.red = state.green = state.blue = 1;
        state.frameIndex = 0, state.frameClock = 0, state.clockTaken = 0;
        state.scrap = bone.scrap;
        for (int32_t j = 0; j < state.jointCount; j++) {
            const Joint &joint = bone.joints[j];
            pose->joints[state.firstJoint + j] = {joint.child, (float)joint.x, (float)joint.y};
        }
        if (bone.parentIndex < 0) {
            state.translationX = state.originX = (float)bone.x;
            state.translationY = state.originY = (float)bone.y;
        } else {
            state.rotation = (float)((int64_t)bone.angle - bone.parent->angle);
            state.originX = (float)bone.parentJoint->x, state.originY = (float)bone.parentJoint->y;
        }
        keepAngle(state);
    }
    pose->pendingClock = 0;
    pose->nextEvent = 0, pose->nextMarker = 0, pose->time = 0;
}

void freezeTracks(ModelPose *pose)
{
    if (pose == nullptr) return;
    for (BoneState &state : pose->bones) state.activeTracks = 0;
    pose->runningBones = 0;
}

// ---------------------------------------------------------------- frame clocks

// The frame clock's share of the time advanced since it last took one: speed x that time, then
// whole frames. Nothing moves without a loaded scrap that has frames. `scrap` is locked.
static void takeClockShare(ModelPose &pose, BoneState &state, const Scrap *scrap)
{
    const double share = pose.pendingClock - state.clockTaken;
    state.clockTaken = pose.pendingClock;
    if (scrap == nullptr || scrap->frameCount <= 0) return;
    if (share != 0) state.frameClock += state.frameClockSpeed * (float)share;
    settleFrameClock(scrap, state.frameIndex, state.frameClock);
}

// Brings one bone's frame clock up to date, before an event changes its clock, speed or scrap.
static void catchUpFrameClock(ModelPose &pose, BoneState &state)
{
    if (state.scrap == nullptr) return;
    takeClockShare(pose, state, static_cast<const Scrap *>(lockResource(state.scrap)));
    unlockResource(state.scrap);
}

// Every bone's clock up to date, `use` called on each with its scrap locked (nullptr when not
// loaded); the pose's pending time then starts again from 0.
template <typename Use>
static void settleEveryBone(ModelPose &pose, Use use)
{
    for (BoneState &state : pose.bones) {
        ResourceRecord *record = state.scrap;
        if (record == nullptr) {
            state.clockTaken = 0;
            continue;
        }
        const Scrap *scrap = static_cast<const Scrap *>(lockResource(record));
        takeClockShare(pose, state, scrap);
        state.clockTaken = 0;
        use(state, scrap);
        unlockResource(record);
    }
    pose.pendingClock = 0;
}

void settleFrameClocks(ModelPose *pose)
{
    if (pose != nullptr) settleEveryBone(*pose, [](BoneState &, const Scrap *) {});
}

// ---------------------------------------------------------------- playback

// A time cut to a whole frame as a 16-bit number: truncated toward zero to 32 bits (saturating;
// NaN gives 0), then its low 16 bits.
static int16_t fadeFrame(float time)
{
    int32_t whole = 0;
    if (time >= 2147483648.0f) {
        whole = INT32_MAX;
    } else if (time <= -2147483648.0f) {
        whole = INT32_MIN;
    } else if (time == time) {
        whole = (int32_t)time;
    }
    return (int16_t)whole;
}

static void startTrack(ModelPose &pose, BoneState &state, int track)
{
    if (state.activeTracks == 0) pose.runningBones++;
    state.activeTracks |= (uint8_t)(1 << track);
}

static void applyEvent(ModelPose &pose, const AnimationEvent &event)
{
    if (event.target < 0 || event.target >= pose.boneCount) return;
    BoneState &state = pose.bones[event.target];
    switch (event.type) {
    case UPDATE_ROTATION:
    case UPDATE_X_TRANSLATION:
    case UPDATE_Y_TRANSLATION:
    case UPDATE_X_SCALING:
    case UPDATE_Y_SCALING:
        state.curves[event.type] = &event.curve;
        startTrack(pose, state, event.type);
        break;
    case UPDATE_COLOR:
        state.fadeStartFrame = fadeFrame(event.time);
        state.fadeEndFrame = fadeFrame(event.color.endTime);
        for (int c = 0; c < 3; c++) {
            state.fadeStart[c] = event.color.colors[2 * c];
            state.fadeEnd[c] = event.color.colors[2 * c + 1];
        }
        startTrack(pose, state, TRACK_COLOR);
        break;
    case UPDATE_TEXTURE_TIME:
        catchUpFrameClock(pose, state);
        state.frameClock = event.textureTime;
        break;
    case UPDATE_TEXTURE_SPEED:
        catchUpFrameClock(pose, state);
        state.frameClockSpeed = event.textureSpeed[2];
        break;
    case UPDATE_TEXTURE_CHANGE:
        catchUpFrameClock(pose, state);  // on the scrap it showed until now
        state.scrap = event.scrap;
        break;
    default:
        break;  // stored, no effect
    }
}

// The pose keeps the animation while its tracks or pictures may come from it.
static void holdOnce(ModelPose &pose, Animation *animation)
{
    for (const Animation *held : pose.held) {
        if (held == animation) return;
    }
    pose.held.push_back(holdAnimation(animation));
}

// Into 0..360 as "subtract 360 while above 360, add 360 while below 0" leaves an angle (360
// stays 360), in one step: fmod is exact, and equals those subtractions wherever they are exact.
static float normalizedAngle(float angle)
{
    if (angle > 360.0f) {
        angle = fmodf(angle, 360.0f);
        return angle == 0.0f ? 360.0f : angle;
    }
    if (angle < 0.0f) {
        angle = fmodf(angle, 360.0f);
        return angle < 0.0f ? angle + 360.0f : 0.0f;
    }
    return angle;
}

// Positions the bone from its values and its parent's, then every bone hanging on it.
static void recomputeBone(ModelPose &pose, int32_t index)
{
    BoneState &state = pose.bones[index];
    const Bone &bone = *state.bone;
    state.dirty = false;
    if (bone.parentIndex < 0) {
        state.worldAngle = state.rotation;
        state.originX = state.translationX, state.originY = state.translationY;
    } else {
        const BoneState &parent = pose.bones[bone.parentIndex];
        const JointState &joint = pose.joints[parent.firstJoint + bone.jointSlot];
        state.worldAngle = parent.worldAngle + state.rotation;
        state.originX = (float)(joint.x + parent.cosAngle * state.translationX - parent.sinAngle * state.translationY);
        state.originY = (float)(joint.y + parent.sinAngle * state.translationX + parent.cosAngle * state.translationY);
    }
    state.worldAngle = normalizedAngle(state.worldAngle);
    keepAngle(state);
    const double c = state.cosAngle, s = state.sinAngle, sx = state.scaleX, sy = state.scaleY;
    state.imageX = (float)(state.originX + c * bone.anchorAlong * sx - s * bone.anchorAcross * sy);
    state.imageY = (float)(state.originY + s * bone.anchorAlong * sx + c * bone.anchorAcross * sy);
    for (int32_t j = 0; j < state.jointCount; j++) {
        const Joint &rest = bone.joints[j];
        JointState &joint = pose.joints[state.firstJoint + j];
        joint.x = (float)(state.originX + c * rest.along * sx - s * rest.across * sy);
        joint.y = (float)(state.originY + s * rest.along * sx + c * rest.across * sy);
    }
    for (int32_t j = 0; j < state.jointCount; j++) recomputeBone(pose, pose.joints[state.firstJoint + j].child);
}

// A dirty bone is recomputed with its subtree; a clean one is searched further down.
static void updateBone(ModelPose &pose, int32_t index)
{
    const BoneState &state = pose.bones[index];
    if (state.dirty) {
        recomputeBone(pose, index);
        return;
    }
    for (int32_t j = 0; j < state.jointCount; j++) updateBone(pose, pose.joints[state.firstJoint + j].child);
}

static void updateBoneTransforms(ModelPose &pose)
{
    if (!pose.anyDirty) return;
    pose.anyDirty = false;  // bones no root reaches stay dirty and are never recomputed
    for (int32_t root : pose.roots) updateBone(pose, root);
}

// Drives the running tracks at the pose's time, then repositions what changed. The frame
// clocks take `duration` later (takeClockShare).
static void evaluatePose(ModelPose &pose, float duration)
{
    pose.pendingClock += duration;
    if (pose.runningBones == 0) return;
    const float time = pose.time;
    for (BoneState &state : pose.bones) {
        const uint8_t tracks = state.activeTracks;
        if (tracks == 0) continue;
        if (tracks & (1 << TRACK_ROTATION)) state.rotation = curveValue(*state.curves[TRACK_ROTATION], time);
        if (tracks & (1 << TRACK_X_TRANSLATION)) state.translationX = curveValue(*state.curves[TRACK_X_TRANSLATION], time);
        if (tracks & (1 << TRACK_Y_TRANSLATION)) state.translationY = curveValue(*state.curves[TRACK_Y_TRANSLATION], time);
        if (tracks & (1 << TRACK_X_SCALE)) state.scaleX = curveValue(*state.curves[TRACK_X_SCALE], time);
        if (tracks & (1 << TRACK_Y_SCALE)) state.scaleY = curveValue(*state.curves[TRACK_Y_SCALE], time);
        if (tracks & CURVE_BITS) state.dirty = pose.anyDirty = true;
        if (tracks & COLOR_BIT) {
            const int32_t span = (int32_t)state.fadeEndFrame - state.fadeStartFrame;
            const float f = span == 0 ? 0.0f : (time - (float)state.fadeStartFrame) / (float)span;  // not clamped
            state.red = state.fadeStart[0] * (1 - f) + state.fadeEnd[0] * f;
            state.green = state.fadeStart[1] * (1 - f) + state.fadeEnd[1] * f;
            state.blue = state.fadeStart[2] * (1 - f) + state.fadeEnd[2] * f;
        }
    }
    updateBoneTransforms(pose);
}

bool advancePose(Animation *animation, ModelPose *pose, float duration)
{
    if (animation == nullptr || pose == nullptr) return true;
    pose->activeMarkers.clear();
    const float start = pose->time;
    float end = start + duration;
    bool wrapped = false, held = false;
    int wraps = 0;
    try {
        while (end >= pose->time) {
            while (pose->nextEvent < animation->eventCount && animation->events[pose->nextEvent].time <= end) {
                if (!held) holdOnce(*pose, animation), held = true;
                applyEvent(*pose, animation->events[pose->nextEvent]);
                pose->nextEvent++;
            }
            while (pose->nextMarker < animation->markerCount && animation->markers[pose->nextMarker].time <= end) {
                pose->activeMarkers.push_back(animation->markers[pose->nextMarker]);
                pose->nextMarker++;
            }
            end -= animation->length;
            if (end >= 0) {
                pose->nextEvent = 0, pose->nextMarker = 0, pose->time = 0;
                wrapped = true;
                // Whole turns beyond the second would repeat the second: skip to the last part.
                // (A length too small to subtract from `end` would never get there otherwise.)
                if (++wraps >= 2 && end >= animation->length) end = (float)fmod((double)end, (double)animation->length);
            }
        }
    } catch (const std::bad_alloc &) {
        // no room for one more marker or held animation: the advance stops where it was
    }
    const double moved = (double)start + (double)duration;
    const double length = animation->length;
    pose->time = (float)(moved >= 0 && moved < length ? moved : fmod(moved, length));
    evaluatePose(*pose, duration);
    return wrapped;
}

// ---------------------------------------------------------------- drawing

static void drawBone(BoneState &state, const ScrapFrame *frame)
{
    const bool coloured = state.red != 1.0f || state.green != 1.0f || state.blue != 1.0f;
    if (coloured) renderColor(state.red, state.green, state.blue, 1);
    if (!(state.drawnAngle == state.worldAngle)) {
        state.drawRotation = quadRotation(state.worldAngle);
        state.drawnAngle = state.worldAngle;
    }
    const QuadTransform transform = quadTransform(state.imageX, state.imageY, state.drawRotation, state.scaleX, state.scaleY);
    drawScrapFrame(frame, &transform);
    if (coloured) renderColor(1, 1, 1, 1);
}

void drawPose(ModelPose *pose)
{
    if (pose != nullptr) {
        settleEveryBone(*pose, [](BoneState &state, const Scrap *scrap) {
            const ScrapFrame *frame = frameAt(scrap, state.frameIndex);
            if (frame != nullptr) drawBone(state, frame);
        });
    }
    renderColor(1, 1, 1, 1);
}
