// animation/model.h - skeletal models (resource type 3, files under "Models/"): a flat list of
// bones, each with a rest position and angle and a scrap as its picture, where bones hang at
// the joints of other bones.
//
// readModelFile checks a file into plain data (scrap names; any thread, no registry); makeModel
// links the tree, precomputes the joint and anchor geometry and takes one reference on each
// bone's scrap at nextLoadPriority. A model with a joint naming a bone outside the model is
// refused with the bone read error (it would point outside the bone list).
//
// Threads: loading on the loader thread; a loaded Model is read-only and poses read it on the
// main thread without a lock (it must stay loaded while they use it).
// Failure: the model messages ("Model cannot load: ...") on stderr; a bad magic or a missing
// file is silent.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class DataFile;
struct ResourceRecord;

static const int32_t MAX_MODEL_BONES = 500;
static const int32_t MAX_BONE_JOINTS = 50;

// --- a model file's contents, as stored
struct JointData
{
    int32_t child = 0;  // index of the bone hanging here
    int32_t x = 0, y = 0;
};

struct BoneData
{
    std::string name;
    bool flag = false;  // stored, not used
    std::string scrap;  // file name under "Scraps/"
    int32_t x = 0, y = 0, angle = 0;
    std::vector<JointData> joints;
};

struct ModelFileData
{
    std::vector<BoneData> bones;
};

// "QFEM", version 1, 0..500 bones of 0..50 joints whose children lie inside the model. The end
// of the data is not tested. False with `message` set to the engine's line (without "\n"), or
// to "" for a bad magic.
bool readModelFile(DataFile &file, ModelFileData &out, std::string &message);
bool writeModelFile(const std::string &path, const ModelFileData &data);  // false when a write failed

// --- the loaded model
struct Joint
{
    int32_t child = 0;           // index of the bone that hangs here
    int32_t x = 0, y = 0;        // rest position in model coordinates
    float along = 0, across = 0;  // position from the bone's origin in the bone's rotated frame
};

struct Bone
{
    int32_t x = 0, y = 0;                        // rest position of the picture's anchor
    int32_t anchorAlong = 0, anchorAcross = 0;   // anchor from the parent joint, bone's frame (0 for a root)
    std::vector<Joint> joints;
    int32_t angle = 0;                           // rest angle, degrees
    const Bone *parent = nullptr;                // nullptr for a root
    const Joint *parentJoint = nullptr;
    int32_t parentIndex = -1;
    int32_t jointSlot = -1;                      // position of parentJoint in the parent's joints
    std::string name;
    ResourceRecord *scrap = nullptr;             // one reference held
};

struct Model
{
    std::vector<Bone> bones;  // a bone's index is its number everywhere
    int32_t boneCount = 0;
    std::atomic<int32_t> holders{1};  // its record's load, plus one per pose made from it
};

// Builds the model from checked data: links the tree ("Model cannot load: cycle detected in
// skeleton." for a bone hung twice; nullptr, nothing acquired), computes the geometry, then takes
// the scrap references (nextLoadPriority; an empty scrap name too).
Model *makeModel(const ModelFileData &data);
// Releases every scrap reference (only while the registry runs: after its shutdown the records
// are gone) and deletes the model; nullptr does nothing.
void freeModel(Model *model);
bool registerModelResource();  // type 3; main thread, start-up

// A loaded model is shared by its record and by the poses made from it, so unloading it while
// poses use it is safe: the unload lets go of the record's hold, and whoever lets go last frees
// it. holdModel needs the model alive during the call (its record locked, or a hold of one's own).
// Any thread.
Model *holdModel(Model *model);    // nullptr gives nullptr
void letGoOfModel(Model *model);   // nullptr does nothing

// The loader's geometry: cos(a) (py - oy) - sin(a) (px - ox), a = degrees * 0.017453292, all in
// single precision. jointOffset(p, o, A - 90) is the component of p - o along the direction
// (cos A, sin A) of a bone of angle A; jointOffset(p, o, A) the component across it.
float jointOffset(int64_t px, int64_t py, int64_t ox, int64_t oy, int64_t degrees);
