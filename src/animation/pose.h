// animation/pose.h - model poses: one animated instance of a model. Per bone, the values that
// animations change (rotation, translation, scale, colour, the picture and its frame clock) and
// the positions that follow from them; advanced through an animation by a duration, drawn bone
// by bone.
//
// Playback is incremental: an event sets a track of its bone when the pose's clock reaches it,
// running tracks drive their values at every advance, and only bones whose values changed are
// repositioned, with everything that hangs on them. A pose whose tracks are all stopped costs
// next to nothing to advance.
//
// Lifetimes: a pose holds its model (holdModel) and every animation whose events it applied
// (holdAnimation) until applyDefaultPose or destroyPose, so a model or animation unloaded while
// poses still use it (a room left before its poses are collected) stays in memory, with the
// scraps it references, until the last pose lets go. Scraps are records, locked at every use.
//
// Frame clocks are brought up to date lazily: an advance adds its duration to the pose's pending
// time, and a bone's clock takes its share (speed x time since it was last brought up to date,
// then whole frames) where its scrap is locked anyway: when the pose is drawn, or just before an
// event changes that bone's clock, speed or scrap. The frames shown are those of stepping at
// every advance; only float rounding at a frame boundary can differ when several advances are
// taken at once, and a scrap that was not loaded then stays where it was for all of them.
//
// Threads: main thread only (scrap and image records are locked while read; see registry.h).
#pragma once

#include <cstdint>
#include <vector>

#include "animation/animation.h"
#include "animation/model.h"
#include "graphics/renderer.h"

struct ResourceRecord;

// The five curve tracks by UpdateType code, then the colour track; a bit each in activeTracks.
enum PoseTrack {
    TRACK_ROTATION = UPDATE_ROTATION,
    TRACK_X_TRANSLATION = UPDATE_X_TRANSLATION,
    TRACK_Y_TRANSLATION = UPDATE_Y_TRANSLATION,
    TRACK_X_SCALE = UPDATE_X_SCALING,
    TRACK_Y_SCALE = UPDATE_Y_SCALING,
    TRACK_COLOR = UPDATE_COLOR,
    CURVE_TRACKS = 5
};

struct JointState
{
    int32_t child = 0;  // the bone hanging here
    float x = 0, y = 0;  // where the joint is now
};

struct BoneState
{
    const Bone *bone = nullptr;
    int32_t firstJoint = 0, jointCount = 0;  // the bone's joints in ModelPose::joints
    float imageX = 0, imageY = 0;            // where the picture's anchor is now
    float scaleX = 1, scaleY = 1;
    float translationX = 0, translationY = 0;  // a root's position; else an offset from its joint, parent's frame
    float originX = 0, originY = 0;            // the bone's joint (or a root's position) now
    float rotation = 0;    // degrees: from the parent (a root's own angle once recomputed)
    float worldAngle = 0;  // degrees
    float red = 1, green = 1, blue = 1;
    float fadeStart[3] = {1, 1, 1}, fadeEnd[3] = {1, 1, 1};
    int16_t fadeStartFrame = 0, fadeEndFrame = 1;
    const Curve *curves[CURVE_TRACKS] = {};  // inside events of a held animation
    uint8_t activeTracks = 0;                // bit (1 << PoseTrack) per running track
    bool dirty = false;                      // values changed: positions to recompute
    ResourceRecord *scrap = nullptr;         // the picture shown now
    int32_t frameIndex = 0;
    float frameClock = 0, frameClockSpeed = 1;
    double clockTaken = 0;           // the part of the pose's pendingClock this frame clock has taken
    double cosAngle = 1, sinAngle = 0;  // of the world angle (for the bones hanging here)
    float drawnAngle = 0;               // the world angle drawRotation was made for
    QuadRotation drawRotation;          // what glRotatef(world angle) would use
};

struct ModelPose
{
    int32_t nextEvent = 0;   // first event of the animation not yet applied
    int32_t nextMarker = 0;  // first marker not yet passed
    float time = 0;          // the pose's clock, in the animation's time units
    std::vector<Marker> activeMarkers;  // passed during the last advance, in order
    std::vector<BoneState> bones;       // one per bone of the model, same order
    int32_t boneCount = 0;
    Model *model = nullptr;             // held; nullptr for an empty pose

    std::vector<JointState> joints;     // every bone's joints, bone by bone
    std::vector<int32_t> roots;         // bones without a parent, in order
    std::vector<Animation *> held;      // animations whose events were applied (held once each)
    int32_t runningBones = 0;           // bones with a running track
    bool anyDirty = false;              // some bone is dirty
    double pendingClock = 0;            // time advanced since every frame clock was last brought up to date
};

// A new pose of `model`, which the caller keeps alive during the call (its record locked). For
// nullptr: "ModelPose failed: model is NULL." on stderr and an empty pose for good; no memory for
// the bones: "ModelPose failed: no memory for skeleton." and an empty pose. nullptr only when
// not even the pose itself fits in memory.
ModelPose *createPose(Model *model);
void destroyPose(ModelPose *pose);  // lets go of the model and the animations; nullptr does nothing
// Every bone at its rest pose, tracks stopped, clock rewound to 0; lets go of the animations.
void applyDefaultPose(ModelPose *pose);
void freezeTracks(ModelPose *pose);  // stops every curve and colour track; values stay

// Moves the clock by `duration` through `animation` (which the caller keeps alive during the
// call: its record locked): applies the events and collects the markers reached, in list order,
// wrapping at the length; then drives the running tracks and repositions what changed. True when
// the clock wrapped; also for a nullptr animation or pose (nothing changes then).
// NOTE: an advance spanning more than two turns of the animation plays the first two turns and
// the last part; the whole turns between are skipped (they would apply the same events again and
// list the same markers again), so any duration ends in bounded time.
bool advancePose(Animation *animation, ModelPose *pose, float duration);

// Draws every bone (through the renderer's image batch), then sets the current colour to opaque
// white. A white bone takes the current colour; a coloured one is opaque in its own. The
// model-view matrix and its stack are left as they were. nullptr draws nothing but the colour.
void drawPose(ModelPose *pose);

// Brings every frame clock up to date (drawPose does this as it draws).
void settleFrameClocks(ModelPose *pose);
