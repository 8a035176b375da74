// tools/pack/skeleton_bake.h - the inside of import-skeleton (skeleton_import.h): the bones an
// import makes (the rig), the editor's pose of them at any time, and animations baked into the
// engine's curve, colour and texture-change events.
// Threads: one. Failure: none here; what cannot be followed closely enough is noted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "skeleton_export.h"

// An attachment's picture in its bone's space: the pivot (the picture's pixel (w/2, h/2) of its
// original, whole frame) at (x, y), turned and scaled about it.
struct RigPicture
{
    double x = 0, y = 0, rotation = 0, scaleX = 1, scaleY = 1;
    double color[4] = {1, 1, 1, 1};
    double extent = 1;   // px: the farthest corner from the pivot, unscaled
    int scrap = -1;      // index into the import's scraps; -1 when the attachment is not a shown picture
};

// One bone of the model the import writes: the root (index 0), a skeleton bone, or a slot.
struct RigBone
{
    std::string name;
    int parent = -1;  // rig index; -1 for the root
    int bone = -1;    // skeleton bone it stands for, or -1
    int slot = -1;    // slot it stands for, or -1
    int32_t x = 0, y = 0, angle = 0;  // rest pose in the model (whole pixels and degrees)
    double along = 0, across = 0;     // its joint on the parent, in the parent's frame, as the engine computes it
    double extent = 1;                // px: how far its joints or picture reach from its origin
};

struct Rig
{
    std::vector<RigBone> bones;
    std::vector<std::vector<RigPicture>> pictures;  // per slot, parallel to its attachments
    std::vector<int> home;  // per slot: the attachment whose place the slot's bone keeps while none shows (-1: none)
};

// Where a rig bone is: its origin, its world linear map, the engine's angle for it (continuous
// through time: parent's angle plus its own turn) and that map with the angle taken out, whose
// diagonal is the engine's scale and whose other entries are shear the engine cannot show.
struct WorldFrame
{
    double m[4] = {1, 0, 0, 1};  // row-major 2 x 2
    double x = 0, y = 0;
    double angle = 0;  // degrees
    double k[4] = {1, 0, 0, 1};
};

// The world frame of every rig bone at time `t` (frames) of `framed` (key times in frames;
// nullptr: the setup pose). side < 0 takes a key at exactly `t` as not reached yet.
void poseRig(const SkeletonExport &skeleton, const Rig &rig, const ExportAnimation *framed, double t, int side,
             std::vector<WorldFrame> &out);

// An engine curve event: from `from` at frame `start` to `to` at `end`, slopes per frame.
struct CurvePiece
{
    int32_t start = 0, end = 0;
    double from = 0, to = 0, startSlope = 0, endSlope = 0;
};
struct ColorPiece  // a linear fade
{
    int32_t start = 0, end = 0;
    double from[3] = {1, 1, 1}, to[3] = {1, 1, 1};
};
struct TextureChange
{
    int32_t frame = 0;
    int scrap = -1;  // -1: the slot shows nothing
};

// The engine's tracks, in the order of their event types.
enum RigTrack { TRACK_ROTATION, TRACK_X, TRACK_Y, TRACK_SCALE_X, TRACK_SCALE_Y, TRACK_COUNT };

struct BakedBone
{
    std::vector<CurvePiece> curves[TRACK_COUNT];  // cover 0..length, holds merged
    bool curveAtRest[TRACK_COUNT] = {true, true, true, true, true};  // one hold at the model's rest value
    std::vector<ColorPiece> color;  // slots only
    bool colorAtRest = true;
    std::vector<TextureChange> textures;  // slots with attachment keys
};

struct BakedMarker
{
    int32_t frame = 0;
    int event = 0;  // index into SkeletonExport::events
    double x = 0, y = 0;
};

struct BakedAnimation
{
    int32_t length = 1;  // frames
    std::vector<BakedBone> bones;  // per rig bone
    std::vector<BakedMarker> markers;  // ascending frames
};

// Longest animation: colour fades count frames in 16 bits.
static const int32_t MAX_BAKED_FRAMES = 32767;

// Bakes `animation` (key times in seconds) at `fps`. False when it lasts more than
// MAX_BAKED_FRAMES (nothing baked).
bool bakeAnimation(const SkeletonExport &skeleton, const Rig &rig, const ExportAnimation &animation, int fps,
                   BakedAnimation &out, ImportNotes &notes);
