// animation/model.cpp - model files, the model resource type (3), tree linking and the joint
// geometry that poses use.
//
// A model loads in two steps: readModelFile checks the file into plain data, makeModel links the
// bones, computes the geometry and only then takes the scrap references, so a model that fails
// anywhere has taken nothing.
//
// Threads: the resource operations run on the loader thread (unload also at shutdown).
#include "animation/model.h"

#include <cmath>
#include <cstdio>
#include <new>

#include "animation/hold.h"
#include "animation/scrap.h"
#include "resources/data_file.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"

bool readModelFile(DataFile &file, ModelFileData &out, std::string &message)
{
    out = ModelFileData();
    message.clear();
    for (const char expected : {'Q', 'F', 'E', 'M'}) {
        if (file.readByte() != (uint8_t)expected || file.atEnd()) return false;
    }
    if (file.readInt32() != 1) {
        message = "Model cannot load: bad version.";
        return false;
    }
    const int32_t count = file.readInt32();
    if (count < 0 || count > MAX_MODEL_BONES) {
        message = "Model cannot load: invalid skeleton size.";
        return false;
    }
    out.bones.resize(count);
    for (BoneData &bone : out.bones) {
        bone.name = file.readString();
        bone.flag = file.readBit();
        bone.scrap = file.readString();
        bone.x = file.readInt32();
        bone.y = file.readInt32();
        bone.angle = file.readInt32();
        const int32_t joints = file.readInt32();
        bool fits = joints >= 0 && joints <= MAX_BONE_JOINTS;
        if (fits) bone.joints.resize(joints);
        for (JointData &joint : bone.joints) {
            joint.child = file.readInt32();
            joint.x = file.readInt32();
            joint.y = file.readInt32();
            fits = fits && joint.child >= 0 && joint.child < count;  // a child outside the model
        }
        if (!fits) {
            out.bones.clear();
            message = "Model cannot load: bone read error.";
            return false;
        }
    }
    return true;
}

bool writeModelFile(const std::string &path, const ModelFileData &data)
{
    DataFile file;
    if (!file.openForWrite(path)) return false;
    bool ok = file.writeBytes("QFEM", 4) && file.writeInt32(1) && file.writeInt32((int32_t)data.bones.size());
    for (const BoneData &bone : data.bones) {
        ok = ok && file.writeString(bone.name) && file.writeBit(bone.flag) && file.writeString(bone.scrap) &&
             file.writeInt32(bone.x) && file.writeInt32(bone.y) && file.writeInt32(bone.angle) &&
             file.writeInt32((int32_t)bone.joints.size());
        for (const JointData &joint : bone.joints) {
            ok = ok && file.writeInt32(joint.child) && file.writeInt32(joint.x) && file.writeInt32(joint.y);
        }
    }
    return file.close() && ok;
}

// ---------------------------------------------------------------- the loaded model

float jointOffset(int64_t px, int64_t py, int64_t ox, int64_t oy, int64_t degrees)
{
    const float a = (float)degrees * 0.017453292f;
    return cosf(a) * (float)(py - oy) - sinf(a) * (float)(px - ox);
}

// Truncation toward zero, saturating where the value leaves the 32-bit range.
static int32_t truncated(float value)
{
    if (value >= 2147483648.0f) return INT32_MAX;
    if (value <= -2147483648.0f) return INT32_MIN;
    return (int32_t)value;
}

static void printModelMessage(const std::string &message)
{
    if (message.empty()) return;
    const std::string line = message + "\n";
    fwrite(line.data(), 1, line.size(), stderr);
}

// Hangs every bone on the joint that names it; false when a bone is named twice.
static bool linkBones(Model &model)
{
    for (int32_t i = 0; i < model.boneCount; i++) {
        Bone &bone = model.bones[i];
        for (size_t slot = 0; slot < bone.joints.size(); slot++) {
            Bone &child = model.bones[bone.joints[slot].child];
            if (child.parent != nullptr) return false;
            child.parent = &bone;
            child.parentJoint = &bone.joints[slot];
            child.parentIndex = i;
            child.jointSlot = (int32_t)slot;
        }
    }
    return true;
}

// Joints from each bone's origin in its rotated frame; anchors from the joint a bone hangs at.
static void computeGeometry(Model &model)
{
    for (Bone &bone : model.bones) {
        const int32_t ox = bone.parentJoint ? bone.parentJoint->x : bone.x;
        const int32_t oy = bone.parentJoint ? bone.parentJoint->y : bone.y;
        for (Joint &joint : bone.joints) {
            joint.along = jointOffset(joint.x, joint.y, ox, oy, (int64_t)bone.angle - 90);
            joint.across = jointOffset(joint.x, joint.y, ox, oy, bone.angle);
            Bone &child = model.bones[joint.child];
            child.anchorAlong = truncated(jointOffset(child.x, child.y, joint.x, joint.y, (int64_t)child.angle - 90));
            child.anchorAcross = truncated(jointOffset(child.x, child.y, joint.x, joint.y, child.angle));
        }
    }
}

Model *makeModel(const ModelFileData &data)
{
    Model *model = new (std::nothrow) Model();
    if (model == nullptr) {
        printModelMessage("Model cannot load: not enough memory.");
        return nullptr;
    }
    model->boneCount = (int32_t)data.bones.size();
    model->bones.resize(data.bones.size());
    for (size_t i = 0; i < data.bones.size(); i++) {
        const BoneData &from = data.bones[i];
        Bone &bone = model->bones[i];
        bone.name = from.name;
        bone.x = from.x, bone.y = from.y, bone.angle = from.angle;
        bone.joints.resize(from.joints.size());
        for (size_t j = 0; j < from.joints.size(); j++) {
            bone.joints[j].child = from.joints[j].child;
            bone.joints[j].x = from.joints[j].x;
            bone.joints[j].y = from.joints[j].y;
        }
    }
    if (!linkBones(*model)) {
        delete model;
        printModelMessage("Model cannot load: cycle detected in skeleton.");
        return nullptr;
    }
    computeGeometry(*model);
    for (size_t i = 0; i < data.bones.size(); i++) {
        model->bones[i].scrap = acquireDependency(RESOURCE_SCRAP, data.bones[i].scrap);
    }
    return model;
}

void freeModel(Model *model)
{
    if (model == nullptr) return;
    if (registryRunning()) {
        for (Bone &bone : model->bones) releaseResource(bone.scrap);
    }
    delete model;
}

Model *holdModel(Model *model) { return holdShared(model); }

void letGoOfModel(Model *model)
{
    if (letGoShared(model)) freeModel(model);
}

static void *loadModelResource(const ResourceKey &key)
{
    DataFile file;
    if (!file.openForRead(key.directory + key.name)) return nullptr;
    ModelFileData data;
    std::string message;
    const bool read = readModelFile(file, data, message);
    file.close();
    if (!read) {
        printModelMessage(message);
        return nullptr;
    }
    return makeModel(data);
}

static int unloadModelResource(void **object)
{
    letGoOfModel(static_cast<Model *>(*object));
    *object = nullptr;
    return 0;
}

bool registerModelResource()
{
    return registerResourceType(RESOURCE_MODEL, {loadModelResource, unloadModelResource, nullptr});
}
