// Scrap, model and animation files: golden bytes of the writers, the readers' worked examples,
// every failure message with nothing left held, and the loaded records' references end to end
// on the real loader thread.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "animation/animation.h"
#include "animation/model.h"
#include "animation/scrap.h"
#include "graphics/display.h"
#include "graphics/image.h"
#include "graphics/renderer.h"
#include "resources/data_file.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"
#include "loading.h"
#include "test_support.h"

namespace {

std::string int16LE(int v) { return byteString({v & 255, (v >> 8) & 255}); }
std::string real(int32_t whole, uint32_t fraction) { return int32LE(whole) + int32LE((int32_t)fraction); }

// Catches a writer that drifts from the layout the readers take (field order, widths, bits,
// strings, frame version 2 offsets, per-type event payloads) and a reader that misplaces a field.
TEST(AnimationFiles, WritersGiveTheGoldenBytesAndReadersTakeThemBack)
{
    TempDir dir;
    ScrapFileData scrap;
    scrap.frames.resize(2);
    scrap.frames[0].image = "a.png", scrap.frames[0].offsetX = -3, scrap.frames[0].duration = -1;  // 65535
    scrap.frames[1].lead = 1;  // no offsets
    ASSERT_TRUE(writeScrapFile(dir.file("s"), scrap));
    EXPECT_EQ("QFPA" + int32LE(1) + int32LE(2) + int32LE(2) + lengthText("a.png") + int16LE(0) + int16LE(0) +
                  int16LE(32) + int16LE(32) + int16LE(-3) + int16LE(0) + int16LE(-1) + int32LE(1) + lengthText("") +
                  int16LE(0) + int16LE(0) + int16LE(32) + int16LE(32) + int16LE(1),
              readFile(dir.file("s")));

    ModelFileData model;
    model.bones = {{"root", true, "body", 1, 2, 90, {{1, 10, 0}}}, {"arm", false, "", 100, 0, 0, {}}};
    ASSERT_TRUE(writeModelFile(dir.file("m"), model));
    EXPECT_EQ("QFEM" + int32LE(1) + int32LE(2) + lengthText("root") + byteString({1}) + lengthText("body") +
                  int32LE(1) + int32LE(2) + int32LE(90) + int32LE(1) + int32LE(1) + int32LE(10) + int32LE(0) +
                  lengthText("arm") + byteString({0}) + lengthText("") + int32LE(100) + int32LE(0) + int32LE(0) +
                  int32LE(0),
              readFile(dir.file("m")));

    AnimationFileData animation;
    animation.length = {60, 500000000};
    animation.flag = true;
    animation.events.resize(3);
    animation.events[0].time = {10, 700000000}, animation.events[0].target = 1;
    animation.events[0].reals[0] = {20, 200000000}, animation.events[0].reals[2] = {10, 0};
    animation.events[0].unused[1] = 7;
    animation.events[1].type = UPDATE_TEXTURE_CHANGE, animation.events[1].scrap = 0, animation.scraps = {"red"};
    animation.events[2].type = 42;  // no target, no payload
    animation.texts = {"step", "hit"};
    animation.markers = {{{5, 0}, {-1, 750000000}, {0, 0}, 1}};
    ASSERT_TRUE(writeAnimationFile(dir.file("a"), animation));
    EXPECT_EQ("QFMA" + int16LE(5) + real(60, 500000000) + byteString({1}) + int32LE(3) + real(10, 700000000) +
                  byteString({0}) + int32LE(1) + real(20, 200000000) + real(0, 0) + real(10, 0) + real(0, 0) +
                  real(0, 0) + byteString({0, 7}) + real(0, 0) + byteString({8}) + int32LE(0) + lengthText("red") +
                  real(0, 0) + byteString({42}) + int32LE(2) + lengthText("step") + lengthText("hit") + int32LE(1) +
                  real(5, 0) + real(-1, 750000000) + real(0, 0) + int32LE(1),
              readFile(dir.file("a")));

    DataFile file;
    ScrapFileData scrapBack;
    ModelFileData modelBack;
    AnimationFileData animationBack;
    std::string message;
    ASSERT_TRUE(file.openForReadFromDisk(dir.file("s")) && readScrapFile(file, scrapBack));
    EXPECT_EQ(-3, scrapBack.frames[0].offsetX);
    EXPECT_EQ("a.png", scrapBack.frames[0].image);
    ASSERT_TRUE(file.openForReadFromDisk(dir.file("m")) && readModelFile(file, modelBack, message));
    EXPECT_TRUE(modelBack.bones[0].flag && !modelBack.bones[1].flag);
    EXPECT_EQ(100, modelBack.bones[1].x);
    ASSERT_TRUE(file.openForReadFromDisk(dir.file("a")) && readAnimationFile(file, animationBack, message)) << message;
    EXPECT_EQ(60.5f, animationBack.length.value());
    EXPECT_EQ(-0.25f, animationBack.markers[0].x.value());
    EXPECT_EQ("red", scrapName(animationBack, animationBack.events[1]));
    EXPECT_EQ(42, animationBack.events[2].type);
    file.close();
}

// The worked examples of the joint geometry (single precision, truncation toward zero) and of
// the tree linking.
TEST(ModelGeometry, AnchorsAndJointsOfTheWorkedExamples)
{
    Loading loading;
    ModelFileData data;
    // bone 0: root at (0, 0), angle 90, joints at (10, 0) (bone 1) and at (0, 0) (bone 2)
    data.bones = {{"root", false, "s", 0, 0, 90, {{1, 10, 0}, {2, 0, 0}}},
                  {"flat", false, "s", 100, 0, 0, {}},
                  {"up", false, "s", 100, 0, 90, {}},
                  {"far", false, "s", 7, 7, 45, {}}};  // a second root
    Model *model = makeModel(data);
    ASSERT_NE(nullptr, model);
    const Bone *b = model->bones.data();
    EXPECT_EQ(0.0f, b[0].joints[0].along);
    EXPECT_EQ(-10.0f, b[0].joints[0].across);
    EXPECT_EQ(90, b[1].anchorAlong);  // (100, 0) from the joint at (10, 0), angle 0
    EXPECT_EQ(0, b[1].anchorAcross);
    EXPECT_EQ(0, b[2].anchorAlong);
    EXPECT_EQ(-100, b[2].anchorAcross);
    EXPECT_EQ(&b[0], b[1].parent);
    EXPECT_EQ(&b[0].joints[1], b[2].parentJoint);
    EXPECT_EQ(1, b[2].jointSlot);
    EXPECT_EQ(-1, b[3].parentIndex);
    EXPECT_EQ(0, b[3].anchorAlong);
    EXPECT_EQ(4, Loading::record(RESOURCE_SCRAP, "s")->refCount.load()) << "one reference per bone";
    freeModel(model);
    EXPECT_EQ(0, Loading::record(RESOURCE_SCRAP, "s")->refCount.load());
    // The examples as stated: a bone at (100, 0) hanging at a joint at (0, 0).
    EXPECT_EQ(100, (int32_t)jointOffset(100, 0, 0, 0, 0 - 90));
    EXPECT_EQ(0, (int32_t)jointOffset(100, 0, 0, 0, 0));
    EXPECT_EQ(0, (int32_t)jointOffset(100, 0, 0, 0, 90 - 90));
    EXPECT_EQ(-100, (int32_t)jointOffset(100, 0, 0, 0, 90));
}

// The curve examples: frames from truncated times, the coefficients, the middle value, L = 0 as
// a line, and a curve past 1290 frames (whose L cubed overflows 32 bits) still ending where it should.
TEST(AnimationCurves, CoefficientsOfTheWorkedExamples)
{
    const Curve c = makeCurve(10.7f, 20.2f, 0, 10, 0, 0);
    EXPECT_EQ(10, c.startFrame);
    EXPECT_EQ(10, c.length);
    EXPECT_FLOAT_EQ(-0.02f, c.c3);
    EXPECT_FLOAT_EQ(0.3f, c.c2);
    EXPECT_FLOAT_EQ(5.0f, curveValue(c, 15));
    EXPECT_FLOAT_EQ(10.0f, curveValue(c, 20));
    EXPECT_NEAR(-40.0f, curveValue(c, 30), 1e-4f) << "not clamped: the cubic goes on";
    const Curve line = makeCurve(5, 5.5f, 2, 9, 3, 8);
    EXPECT_EQ(0.0f, line.c3);
    EXPECT_EQ(0.0f, line.c2);
    EXPECT_FLOAT_EQ(2 + 3 * 4.0f, curveValue(line, 9));
    for (int length : {1290, 2000, 100000}) {
        const Curve longCurve = makeCurve(0, (float)length, 0, 360, 0, 0);
        EXPECT_NEAR(360.0f, curveValue(longCurve, (float)length), 0.01f) << length;
        EXPECT_NEAR(180.0f, curveValue(longCurve, length / 2.0f), 0.01f) << length;
    }
}

// Frame records of both versions, the default frame, frameAt outside the scrap, and the frame
// clock (durations 2, 3, 5 show 0 1 1 1 2 2 2 2 2 0; frames of duration 0 never hang it).
TEST(Scraps, FramesAndTheFrameClock)
{
    Loading loading;
    const std::string v0 = "QFPA" + int32LE(0) + int32LE(3);
    std::string file = v0;
    for (int i = 0; i < 3; i++) file += int32LE(99) + lengthText(i ? "" : "i.png") + int16LE(1) + int16LE(2) + int16LE(5) + int16LE(9) + int16LE(i == 2 ? 5 : 2 + i);
    writeFile(loading.path(RESOURCE_SCRAP, "v0"), file);
    writeFile(loading.path(RESOURCE_SCRAP, "v1"), "QFPA" + int32LE(1) + int32LE(2) + int32LE(1) + lengthText("") +
                                                      int16LE(0) + int16LE(0) + int16LE(4) + int16LE(4) + int16LE(7) +
                                                      int32LE(2) + lengthText("") + int16LE(0) + int16LE(0) +
                                                      int16LE(4) + int16LE(4) + int16LE(-5) + int16LE(6) + int16LE(0));
    Scrap *old = (Scrap *)loading.load(RESOURCE_SCRAP, "v0");
    Scrap *fresh = (Scrap *)loading.load(RESOURCE_SCRAP, "v1");
    ASSERT_TRUE(old && fresh);
    EXPECT_EQ(3, old->frameCount);
    EXPECT_EQ(0, old->frames[2].offsetX);
    EXPECT_EQ(4, old->frames[0].width);
    EXPECT_EQ(7, old->frames[0].height);
    EXPECT_EQ(Loading::record(RESOURCE_IMAGE, "i.png"), old->frames[0].image);
    EXPECT_EQ(nullptr, old->frames[1].image) << "an empty image name holds no record";
    EXPECT_EQ(1, Loading::record(RESOURCE_IMAGE, "i.png")->refCount.load());
    EXPECT_EQ(&old->frames[0], frameAt(old, 7));
    EXPECT_EQ(&old->frames[2], frameAt(old, 2));
    EXPECT_EQ(7, fresh->frames[0].duration);
    EXPECT_EQ(0, fresh->frames[0].offsetX) << "frame version 1 stores no offsets";
    EXPECT_EQ(-5, fresh->frames[1].offsetX);
    EXPECT_EQ(6, fresh->frames[1].offsetY);

    std::string shown;
    int32_t index = 0;
    float clock = 0;
    for (int i = 0; i < 10; i++) {
        clock += 1;
        settleFrameClock(old, index, clock);
        shown += std::to_string(index);
    }
    EXPECT_EQ("0111222220", shown);
    index = 1, clock = 1e6f + 3.5f;  // 100000 turns of 10 and 3.5 more from frame 1: 3 there, 0.5 into frame 2
    settleFrameClock(old, index, clock);
    EXPECT_EQ(2, index);
    EXPECT_EQ(0.5f, clock);
    index = 0, clock = -1;
    settleFrameClock(old, index, clock);
    EXPECT_EQ(2, index);
    EXPECT_EQ(1.0f, clock);
    ScrapFileData stuck;
    stuck.frames.resize(2);
    stuck.frames[0].duration = stuck.frames[1].duration = 0;
    Scrap *still = makeScrap(stuck);
    index = 1, clock = 5;
    settleFrameClock(still, index, clock);
    EXPECT_EQ(1, index) << "no frame lasts: the clock stands";
    EXPECT_EQ(5.0f, clock);
    freeScrap(still), freeScrap(old), freeScrap(fresh);
    EXPECT_EQ(0, Loading::record(RESOURCE_IMAGE, "i.png")->refCount.load());
}

// Everything a damaged file can give: the message of each check (none for scraps and for a
// model's bad magic), a load that fails holding no reference, and the limits themselves loading.
TEST(DamagedFiles, EveryMessageAndNoReferenceKept)
{
    Loading loading;
    const std::string bone = lengthText("b") + byteString({0}) + lengthText("s") + int32LE(0) + int32LE(0) + int32LE(0);
    auto model = [&](int count, const std::string &bones) { return "QFEM" + int32LE(1) + int32LE(count) + bones; };
    auto bones = [&](int count) {
        std::string text;
        for (int i = 0; i < count; i++) text += bone + int32LE(0);
        return text;
    };
    auto joints = [&](std::initializer_list<int> children) {
        std::string text = bone + int32LE((int)children.size());
        for (int child : children) text += int32LE(child) + int32LE(0) + int32LE(0);
        return text;
    };
    const std::string change = real(0, 0) + byteString({8}) + int32LE(0) + lengthText("s");
    auto anim = [&](int version, const std::string &length, const std::string &events, const std::string &rest) {
        return "QFMA" + int16LE(version) + length + byteString({0}) + events + rest;
    };
    const std::string sixty = real(60, 0), oneChange = int32LE(1) + change;
    const std::string texts = int32LE(2) + lengthText("a") + lengthText("b");
    const std::string marker = real(5, 0) + real(1, 0) + real(2, 0);
    auto manyEvents = [&](int count) {
        std::string text = int32LE(count);
        for (int i = 0; i < count; i++) text += real(i, 0) + byteString({99});
        return text;
    };
    auto scrap = [&](int version, int count, const std::string &frames) {
        return "QFPA" + int32LE(version) + int32LE(count) + frames;
    };
    const std::string frame = lengthText("i.png") + int16LE(0) + int16LE(0) + int16LE(1) + int16LE(1) + int16LE(1);
    const std::string M = "Model cannot load: ", A = "Animation cannot load: ";
    // type, file bytes, expected stderr, whether it loads
    const std::vector<std::tuple<int, std::string, std::string, bool>> cases = {
        {RESOURCE_MODEL, "QFEN" + int32LE(1) + int32LE(0), "", false},
        {RESOURCE_MODEL, "QFEM" + int32LE(2) + int32LE(0), M + "bad version.\n", false},
        {RESOURCE_MODEL, model(501, ""), M + "invalid skeleton size.\n", false},
        {RESOURCE_MODEL, model(-1, ""), M + "invalid skeleton size.\n", false},
        {RESOURCE_MODEL, model(500, bones(500)), "", true},
        {RESOURCE_MODEL, model(0, ""), "", true},
        {RESOURCE_MODEL, model(2, bone + int32LE(51) + bones(1)), M + "bone read error.\n", false},
        {RESOURCE_MODEL, model(2, bone + int32LE(-1) + bones(1)), M + "bone read error.\n", false},
        {RESOURCE_MODEL, model(2, joints({2}) + bones(1)), M + "bone read error.\n", false},  // outside the model
        {RESOURCE_MODEL, model(2, joints({-1}) + bones(1)), M + "bone read error.\n", false},
        {RESOURCE_MODEL, model(3, joints({1}) + joints({1}) + bones(1)), M + "cycle detected in skeleton.\n", false},
        {RESOURCE_MODEL, model(2, joints({1, 1}) + bones(1)), M + "cycle detected in skeleton.\n", false},
        {RESOURCE_MODEL, model(2, joints({1}) + joints({1})), M + "cycle detected in skeleton.\n", false},
        {RESOURCE_ANIMATION, "QFMB" + int16LE(5), A + "bad header.\n", false},
        {RESOURCE_ANIMATION, anim(4, sixty, oneChange, texts), A + "no backwards compatibility yet.\n", false},
        {RESOURCE_ANIMATION, anim(6, sixty, oneChange, texts), A + "bad version.\n", false},
        {RESOURCE_ANIMATION, anim(-1, sixty, oneChange, texts), A + "bad version.\n", false},
        {RESOURCE_ANIMATION, anim(5, sixty, int32LE(50000), ""), A + "bad event count.\n", false},
        {RESOURCE_ANIMATION, anim(5, sixty, int32LE(-1), ""), A + "bad event count.\n", false},
        {RESOURCE_ANIMATION, anim(5, sixty, manyEvents(49999), int32LE(0) + int32LE(0)), "", true},
        {RESOURCE_ANIMATION, anim(5, sixty, int32LE(2) + change + real(1, 0) + byteString({0}) + int32LE(0), ""),
         A + "event read error.\n", false},
        {RESOURCE_ANIMATION, anim(5, sixty, oneChange + int32LE(3000), ""), A + "bad marker text count.\n", false},
        {RESOURCE_ANIMATION, anim(5, sixty, oneChange + texts + int32LE(3000), ""), A + "bad marker count.\n", false},
        {RESOURCE_ANIMATION, anim(5, sixty, oneChange + texts + int32LE(1) + marker + int32LE(2), ""),
         A + "marker read error.\n", false},
        {RESOURCE_ANIMATION, anim(5, sixty, oneChange + texts + int32LE(1) + marker + int32LE(-1), ""),
         A + "marker read error.\n", false},
        {RESOURCE_ANIMATION, anim(5, sixty, oneChange + texts + int32LE(2) + marker + int32LE(1) + marker.substr(0, 23), ""),
         A + "read error (eof reached).\n", false},
        {RESOURCE_ANIMATION, anim(5, sixty, oneChange + texts + int32LE(2) + marker + int32LE(1) + marker + int32LE(0), ""),
         "", true},
        {RESOURCE_ANIMATION, anim(5, real(0, 0), oneChange + texts + int32LE(0), ""), A + "length is 0 or below.\n", false},
        {RESOURCE_ANIMATION, anim(5, real(-1, 999999999), oneChange + texts + int32LE(0), ""),
         A + "length is 0 or below.\n", false},
        {RESOURCE_SCRAP, "QFPB" + int32LE(1) + int32LE(0), "", false},
        {RESOURCE_SCRAP, scrap(2, 0, ""), "", false},
        {RESOURCE_SCRAP, scrap(-1, 0, ""), "", false},
        {RESOURCE_SCRAP, scrap(1, 101, ""), "", false},
        {RESOURCE_SCRAP, scrap(1, 0, ""), "", true},
        {RESOURCE_SCRAP, scrap(1, 2, int32LE(0) + frame + int32LE(3) + frame), "", false},
        {RESOURCE_SCRAP, scrap(1, 2, int32LE(0) + frame + int32LE(0) + frame.substr(0, 12)), "", false},
        {RESOURCE_SCRAP, scrap(1, 2, int32LE(0) + frame + int32LE(0) + frame), "", true},
    };
    for (const auto &[type, bytes, message, loads] : cases) {
        SCOPED_TRACE(std::to_string(type) + ": " + message + " after " + std::to_string(bytes.size()) + " bytes");
        writeFile(loading.path(type, "x"), bytes);
        void *object = nullptr;
        const int kind = type;  // a structured binding cannot be captured before C++20
        EXPECT_EQ(message, captureStderr([&] { object = loading.load(kind, "x"); }));
        EXPECT_EQ(loads, object != nullptr);
        const int held = Loading::record(RESOURCE_SCRAP, "s")->refCount + Loading::record(RESOURCE_IMAGE, "i.png")->refCount;
        if (!loads) {
            EXPECT_EQ(0, held) << "a failed load holds nothing";
        }
        if (type == RESOURCE_MODEL) freeModel((Model *)object);
        if (type == RESOURCE_ANIMATION) freeAnimation((Animation *)object);
        if (type == RESOURCE_SCRAP) freeScrap((Scrap *)object);
        EXPECT_EQ(0, Loading::record(RESOURCE_SCRAP, "s")->refCount + Loading::record(RESOURCE_IMAGE, "i.png")->refCount);
    }
    waitForLoaderThread();
}

// Marker texts: a repeated text maps to its later index; events keep their payloads.
TEST(AnimationFiles, MarkerTextsAndEventPayloads)
{
    Loading loading;
    AnimationFileData data;
    data.length = {60, 0};
    data.texts = {"step", "hit", "step"};
    data.events.resize(3);
    data.events[0].type = UPDATE_COLOR, data.events[0].reals[0] = {20, 0}, data.events[0].reals[2] = {1, 0};
    data.events[1].type = UPDATE_TEXTURE_SPEED, data.events[1].reals[2] = {2, 500000000};
    data.events[2].type = UPDATE_TEXTURE_CHANGE, data.events[2].scrap = 0, data.scraps = {"s"};
    ASSERT_TRUE(writeAnimationFile(loading.path(RESOURCE_ANIMATION, "a"), data));
    Animation *animation = (Animation *)loading.load(RESOURCE_ANIMATION, "a");
    ASSERT_NE(nullptr, animation);
    EXPECT_EQ(2, markerIndex(animation, "step"));
    EXPECT_EQ(1, markerIndex(animation, "hit"));
    EXPECT_EQ(-1, markerIndex(animation, "jump"));
    EXPECT_EQ(20.0f, animation->events[0].color.endTime);
    EXPECT_EQ(1.0f, animation->events[0].color.colors[1]) << "red end";
    EXPECT_EQ(2.5f, animation->events[1].textureSpeed[2]);
    EXPECT_EQ(Loading::record(RESOURCE_SCRAP, "s"), animation->events[2].scrap);
    EXPECT_STREQ("Texture Change", updateTypeName(animation->events[2].type));
    freeAnimation(animation);
    EXPECT_EQ(0, Loading::record(RESOURCE_SCRAP, "s")->refCount.load());
    waitForLoaderThread();
}

// On the real loader thread with the display's loader context: a model acquired loads its scraps
// and their images (textures) in the same burst, an animation its texture-change scrap; releasing
// both unloads every one of them.
TEST(ModelResources, DependenciesLoadInOneBurstAndUnloadWithTheirUsers)
{
    REQUIRE_DISPLAY();
    Loading loading(true);
    ASSERT_EQ(0, system(("convert -size 4x4 xc:red '" + loading.path(RESOURCE_IMAGE, "red.png") + "'").c_str()));
    ScrapFileData body;
    body.frames.resize(1);
    body.frames[0].image = "red.png";
    ASSERT_TRUE(writeScrapFile(loading.path(RESOURCE_SCRAP, "body"), body));
    ASSERT_TRUE(writeScrapFile(loading.path(RESOURCE_SCRAP, "other"), body));
    ModelFileData hero;
    hero.bones = {{"torso", false, "body", 0, 0, 90, {{1, 0, 10}}}, {"head", false, "body", 0, 20, 90, {}}};
    ASSERT_TRUE(writeModelFile(loading.path(RESOURCE_MODEL, "hero"), hero));
    AnimationFileData walk;
    walk.length = {60, 0};
    walk.events.resize(1);
    walk.events[0].type = UPDATE_TEXTURE_CHANGE, walk.events[0].scrap = 0, walk.scraps = {"other"};
    ASSERT_TRUE(writeAnimationFile(loading.path(RESOURCE_ANIMATION, "walk"), walk));

    ResourceRecord *model = Loading::record(RESOURCE_MODEL, "hero"), *anim = Loading::record(RESOURCE_ANIMATION, "walk");
    ResourceRecord *records[] = {model, anim, Loading::record(RESOURCE_SCRAP, "body"),
                                 Loading::record(RESOURCE_SCRAP, "other"), Loading::record(RESOURCE_IMAGE, "red.png")};
    acquireResource(model, 1), acquireResource(anim, 1);
    waitForLoaderThread();
    for (ResourceRecord *record : records) EXPECT_TRUE(isResourceReady(record)) << record->key.name;
    EXPECT_EQ(2, records[2]->refCount.load()) << "one per bone";
    EXPECT_EQ(2, records[4]->refCount.load()) << "one per scrap frame";
    const Image *image = (const Image *)lockResource(records[4]);
    const GLuint texture = image->texture;
    unlockResource(records[4]);
    EXPECT_NE(0u, texture);
    releaseResource(model), releaseResource(anim);
    waitForLoaderThread();
    for (ResourceRecord *record : records) {
        EXPECT_FALSE(isResourceReady(record)) << record->key.name;
        EXPECT_EQ(0, record->refCount.load()) << record->key.name;
    }
    EXPECT_FALSE(glIsTexture(texture));
}

// A scrap frame drawn through the batch, plain or transformed, lands on the pixels of the matrix
// calls a pose drawing would otherwise make (push, translate, rotate, scale, pop).
TEST(ScrapDrawing, BatchedFramesMatchTheMatrixPath)
{
    REQUIRE_DISPLAY();
    TempDir dir;
    ASSERT_EQ(0, system(("convert -size 8x4 xc:blue -fill yellow -draw 'point 0,0' '" + dir.file("p.png") + "'").c_str()));
    Image image;
    initImageLibrary();
    resetImageLoadSettings();
    ASSERT_TRUE(loadImageFile(dir.file("p.png"), image));
    ResourceRecord record;
    record.data = &image;
    ScrapFrame frame;
    frame.x1 = 0, frame.y1 = 0, frame.x2 = 8, frame.y2 = 4, frame.offsetX = 3, frame.offsetY = -2, frame.image = &record;
    const struct { float x, y, angle, sx, sy; } poses[] = {{20, 20, 0, 1, 1}, {30, 30, 90, 2, 1}, {32, 20, 30, 1, 3},
                                                           {20, 40, -135, 1.5f, 0.5f}};
    for (const auto &p : poses) {
        SCOPED_TRACE(std::to_string(p.angle));
        beginFrame();
        glPushMatrix();
        glTranslatef(p.x, p.y, 0);
        glRotatef(p.angle, 0, 0, 1);
        glScalef(p.sx, p.sy, 0);
        glTranslatef(frame.offsetX, frame.offsetY, 0);
        renderImagePart(&image, 0, 0, 0, 0, 8, 4);
        flushRenderer();
        glPopMatrix();
        const std::vector<uint8_t> byMatrix = readPixels(0, 0, 64, 64);
        endFrame();
        beginFrame();
        const QuadTransform transform = quadTransform(p.x, p.y, p.angle, p.sx, p.sy);
        drawScrapFrame(&frame, &transform);
        drawScrapFrame(&frame, &transform);  // the same texture: one batch
        flushRenderer();
        const std::vector<uint8_t> byBatch = readPixels(0, 0, 64, 64);
        endFrame();
        size_t differing = 0;
        size_t shaded = 0;  // drawn by both, in another shade
        for (size_t i = 0; i < byMatrix.size(); i += 4) {
            const bool drawnByMatrix = byMatrix[i] || byMatrix[i + 1] || byMatrix[i + 2];
            const bool drawnByBatch = byBatch[i] || byBatch[i + 1] || byBatch[i + 2];
            differing += drawnByMatrix != drawnByBatch;
            shaded += drawnByMatrix && drawnByBatch && memcmp(&byMatrix[i], &byBatch[i], 3) != 0;
        }
        // Unturned, the vertices are the same numbers. Turned, GL's combined matrix rounds a
        // little differently: the shape is the same, filtered texels may take another shade.
        EXPECT_EQ(0u, differing);
        EXPECT_EQ(0u, p.angle == 0 ? shaded : 0u);
        EXPECT_LE(differing, p.angle == 0 ? 0u : 16u);
    }
    deleteTexture(image.texture);
}

}  // namespace
