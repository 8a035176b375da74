// tests/fuzz/animation_fuzz_targets.h - fuzz inputs for the scrap, model and animation readers, for
// their text sources and for import-skeleton's readers; also replayed by tests/animation/animation_fuzz_regression_test.cpp.
// Each returns without crashing, hanging or leaking; a broken invariant aborts:
// - a file the reader takes is loaded (references taken and given back), and what it read is
//   written and read again unchanged;
// - a source the compiler takes builds a file the engine's reader takes, and its canonical text
//   builds the same bytes again.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "animation/animation.h"
#include "animation/model.h"
#include "animation/pose.h"
#include "animation/scrap.h"
#include "asset_source.h"
#include "fuzz_targets.h"
#include "skeleton_import.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"

namespace fuzz {

// The resource manager without GL and without registered types: dependencies queue and "load"
// to nothing on a real loader thread, and every reference must be given back by the end.
struct DependencyLoader
{
    DependencyLoader()
    {
        workFolder();
        setLoaderThreadHooks({[] {}, [] {}});
        startResourceManager();
    }
    ~DependencyLoader()
    {
        waitForLoaderThread();
        for (int type : {RESOURCE_SCRAP, RESOURCE_IMAGE})
            for (const char *name : {"", "s", "i"})
                if (findOrCreateResource({name, resourceDirectory(type), type})->refCount != 0) abort();
        shutdownResourceManager();
        setLoaderThreadHooks(defaultLoaderThreadHooks());
    }
};

inline std::string fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads `input` with `read`. What it takes, written and read again, must be taken again and
// written to the same bytes (the reader keeps everything the writer writes).
template <typename Data, typename Read, typename Write>
inline bool readAndWriteBack(const uint8_t *data, size_t size, Data &out, Read read, Write write)
{
    writeInput("input.bin", data, size);
    DataFile file;
    Data again;
    if (!file.openForReadFromDisk("input.bin")) abort();
    const bool taken = read(file, out);
    file.close();
    if (!taken) return false;
    if (!write("again.bin", out) || !file.openForReadFromDisk("again.bin") || !read(file, again)) abort();
    file.close();
    if (!write("again2.bin", again) || fileBytes("again.bin") != fileBytes("again2.bin")) abort();
    return true;
}

inline void scrapFile(const uint8_t *data, size_t size)
{
    DependencyLoader loader;
    ScrapFileData scrap;
    ScrapFrameData frame;
    if (readAndWriteBack(data, size, scrap, readScrapFile, writeScrapFile)) {
        Scrap *made = makeScrap(scrap);
        int32_t index = 0;
        float clock = 1e7f;
        settleFrameClock(made, index, clock);
        if (made->frameCount > 0 && (index < 0 || index >= made->frameCount || frameAt(made, 200) != &made->frames[0]))
            abort();
        freeScrap(made);
    }
    readAndWriteBack(data, size, frame, readScrapFrameFile, writeScrapFrameFile);
}

inline void modelFile(const uint8_t *data, size_t size)
{
    DependencyLoader loader;
    ModelFileData model;
    std::string message;
    auto read = [&](DataFile &file, ModelFileData &out) { return readModelFile(file, out, message); };
    if (!readAndWriteBack(data, size, model, read, writeModelFile)) return;
    Model *made = makeModel(model);
    if (made != nullptr) {
        for (const Bone &bone : made->bones)
            if (bone.parent && bone.parent->joints[bone.jointSlot].child != &bone - made->bones.data()) abort();
    }
    freeModel(made);
}

// Plays `animation` on a pose of six bones (a chain of three with a branch, and two roots) with
// durations that wrap it many times over, run backwards or are not numbers: every advance must
// end, events aimed anywhere touch only the pose's bones, and the pose lets go of everything.
inline void playOnAPose(Animation *animation)
{
    ModelFileData data;
    data.bones = {{"a", false, "s", 0, 0, 90, {{1, 0, 10}, {3, 0, 10}}}, {"b", false, "s", 0, 10, 0, {{2, 10, 10}}},
                  {"c", false, "", 10, 10, -45, {}}, {"d", false, "s", 0, 10, 180, {}}, {"e", false, "", 5, 5, 30, {}},
                  {"f", false, "s", 0, 0, 0, {{5, 1, 1}}}};
    data.bones[5].joints[0].child = 4;  // f holds e, both reached from root f
    Model *model = makeModel(data);
    ModelPose *pose = createPose(model);
    letGoOfModel(model);  // the pose holds it now
    const float durations[] = {0, 1, 0.5f, animation->length * 2.5f, 130, -1, 1e30f, std::numeric_limits<float>::quiet_NaN(), 1};
    for (float duration : durations) {
        advancePose(animation, pose, duration);
        if (pose->activeMarkers.size() > 3 * (size_t)animation->markerCount) abort();  // two turns and the last part at most
        drawPose(pose);  // no GL context: the frame clocks move, nothing is drawn
    }
    freezeTracks(pose);
    applyDefaultPose(pose);
    if (!pose->held.empty() || pose->runningBones != 0 || pose->time != 0) abort();
    advancePose(animation, pose, 3);
    destroyPose(pose);
}

inline void animationFile(const uint8_t *data, size_t size)
{
    DependencyLoader loader;
    AnimationFileData animation;
    std::string message;
    auto read = [&](DataFile &file, AnimationFileData &out) { return readAnimationFile(file, out, message); };
    if (!readAndWriteBack(data, size, animation, read, writeAnimationFile)) return;
    Animation *made = makeAnimation(animation);
    for (const AnimationEvent &event : made->events) curveValue(event.curve, event.time + 1);
    for (const Marker &marker : made->markers)
        if (markerIndex(made, made->markerTexts[marker.textIndex]) < marker.textIndex) abort();
    if (!(made->length > 0)) abort();
    playOnAPose(made);
    letGoOfAnimation(made);  // the pose let go of its hold: this frees it
}

// A source the compiler takes must build a file the engine takes, and its canonical text the same bytes.
template <typename Data, typename Parse, typename Write, typename Read, typename Format>
inline void sourceRoundTrip(const uint8_t *data, size_t size, Parse parse, Write write, Read read, Format format)
{
    workFolder();
    SourceReport report;
    report.quiet = true;
    Data parsed, back, again;
    parse(std::string((const char *)data, size), report, parsed);
    if (report.errors() > 0) return;
    DataFile file;
    if (!write("built.bin", parsed) || !file.openForReadFromDisk("built.bin") || !read(file, back)) abort();
    file.close();
    parse(format(back), report, again);
    if (report.errors() > 0 || !write("again.bin", again) || fileBytes("built.bin") != fileBytes("again.bin")) abort();
}

inline void scrapSource(const uint8_t *data, size_t size)
{
    sourceRoundTrip<ScrapFileData>(
        data, size, [](const std::string &text, SourceReport &report, ScrapFileData &out) { parseScrapSource(text, "s", out, report); },
        writeScrapFile, readScrapFile, formatScrapSource);
}

inline void modelSource(const uint8_t *data, size_t size)
{
    std::string message;
    sourceRoundTrip<ModelFileData>(
        data, size, [](const std::string &text, SourceReport &report, ModelFileData &out) { parseModelSource(text, "m", out, report); },
        writeModelFile, [&](DataFile &file, ModelFileData &out) { return readModelFile(file, out, message); },
        formatModelSource);
}

// Events name the bones of the model "m" (bones a, b and c), or give numbers without a model.
inline void animationSource(const uint8_t *data, size_t size)
{
    static const std::vector<std::string> bones = {"a", "b", "c"};
    auto lookup = [](const std::string &model, std::vector<std::string> &names) {
        names = bones;
        return model == "m";
    };
    std::string message;
    sourceRoundTrip<AnimationFileData>(
        data, size,
        [&](const std::string &text, SourceReport &report, AnimationFileData &out) {
            parseAnimationSource(text, "a", out, lookup, report);
        },
        writeAnimationFile, [&](DataFile &file, AnimationFileData &out) { return readAnimationFile(file, out, message); },
        [&](const AnimationFileData &out) {
            bool named = true;  // bones of "m" when every target is one, else numbers
            for (const EventData &event : out.events)
                named = named && (eventRealCount(event.type) < 0 || (event.target >= 0 && event.target < 3));
            return formatAnimationSource(out, named ? "m" : "", bones);
        });
}

// The input is a skeleton export and its atlas, split at the first line "---atlas---" (without
// one, both readers get the whole input). When both are read without a refusal and the skeleton
// is small enough to bake quickly, it is built on made-up pages of the atlas's sizes, and every
// text source the import makes must compile.
inline void skeletonImport(const uint8_t *data, size_t size)
{
    const std::string input((const char *)data, size), split = "\n---atlas---\n";
    const size_t at = input.find(split);
    SourceReport report;
    report.quiet = true;
    ImportNotes notes, atlasNotes;
    JsonValue root;
    JsonProblem problem;
    SkeletonExport skeleton;
    TextureAtlas atlas;
    const bool read = parseJson(input.substr(0, at), root, problem) && readSkeletonExport(root, "s.json", skeleton, report, notes);
    const bool readAtlasToo = readAtlas(at == std::string::npos ? input : input.substr(at + split.size()), "s.atlas", atlas, report, atlasNotes);
    notes.print("s.json", report);
    atlasNotes.print("s.atlas", report);
    if (!read || !readAtlasToo || report.errors() > 0 || skeleton.bones.size() + skeleton.slots.size() > 100) return;
    double last = 0;  // baking works frame by frame: long animations are the tests' business
    auto reach = [&](const ExportTimeline &keys) { last = std::max(last, keys.empty() ? 0.0 : keys.back().time); };
    for (const ExportAnimation &animation : skeleton.animations) {
        for (const auto &bone : animation.bones) reach(bone.second.rotate), reach(bone.second.translate), reach(bone.second.scale);
        for (const auto &slot : animation.slots) reach(slot.second.attachment), reach(slot.second.color);
        for (const ExportEvent &event : animation.events) last = std::max(last, event.time);
    }
    if (last > 4 || skeleton.animations.size() > 8) return;
    std::vector<PictureFile> pages(atlas.pages.size());
    for (size_t p = 0; p < pages.size(); p++) {
        pages[p].name = atlas.pages[p].file;
        pages[p].width = (uint32_t)std::clamp(atlas.pages[p].width, 1, 64);
        pages[p].height = (uint32_t)std::clamp(atlas.pages[p].height, 1, 64);
        pages[p].rgba.resize((size_t)pages[p].width * pages[p].height * 4);
        for (size_t i = 0; i < pages[p].rgba.size(); i++) pages[p].rgba[i] = (uint8_t)(i * 37 + p);  // alpha of every kind
    }
    ImportOptions options;
    options.name = "f";
    ImportedSkeleton imported;
    std::vector<std::pair<std::string, std::string>> files;
    if (buildImport(skeleton, atlas, pages, options, {"s.json", "s.atlas"}, imported, report, notes) &&
        !importedSources(imported, options.name, "s.json", files))
        abort();
}

}  // namespace fuzz
