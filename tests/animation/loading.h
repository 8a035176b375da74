// tests/animation/loading.h - the registry and loader thread with the animation resource types,
// reading loose files under a temporary folder, for the animation tests (main thread).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "animation/model.h"
#include "animation/scrap.h"
#include "asset_source.h"
#include "graphics/image.h"
#include "resources/registry.h"
#include "resources/resource_manager.h"
#include "test_support.h"

// The registry and loader with the three animation types, reading loose files under a temporary
// folder; `display` adds images on the display's loader context, else the loader needs no GL.
struct Loading
{
    TempDir dir;
    explicit Loading(bool display = false)
    {
        if (!display) setLoaderThreadHooks({[] {}, [] {}});
        startResourceManager();
        if (display) initImageLibrary(), registerImageResource();
        registerModelResource(), registerScrapResource(), registerAnimationResource();
        for (int type : {RESOURCE_IMAGE, RESOURCE_MODEL, RESOURCE_SCRAP, RESOURCE_ANIMATION}) {
            setResourceDirectory(type, dir.path() + "/" + std::to_string(type) + "/");
            std::filesystem::create_directories(resourceDirectory(type));
        }
    }
    ~Loading()
    {
        shutdownResourceManager();
        setLoaderThreadHooks(defaultLoaderThreadHooks());
        for (int type : {RESOURCE_IMAGE, RESOURCE_MODEL, RESOURCE_SCRAP, RESOURCE_ANIMATION}) setResourceDirectory(type, "");
    }
    static ResourceRecord *record(int type, const std::string &name)
    {
        return findOrCreateResource({name, resourceDirectory(type), type});
    }
    std::string path(int type, const std::string &name) { return resourceDirectory(type) + name; }
    void *load(int type, const std::string &name) { return loadResource({name, resourceDirectory(type), type}); }

    // Text sources (docs/projects.md) compiled as quillfen-pack does and written where the loader
    // reads them; an animation names the bones of a model written before. False on any error.
    bool scrap(const std::string &name, const std::string &text)
    {
        SourceReport report;
        ScrapFileData data;
        parseScrapSource(text, name, data, report);
        return report.errors() == 0 && writeScrapFile(path(RESOURCE_SCRAP, name), data);
    }
    bool model(const std::string &name, const std::string &text)
    {
        SourceReport report;
        ModelFileData data;
        parseModelSource(text, name, data, report);
        for (const BoneData &bone : data.bones) boneNames[name].push_back(bone.name);
        return report.errors() == 0 && writeModelFile(path(RESOURCE_MODEL, name), data);
    }
    bool animation(const std::string &name, const std::string &text)
    {
        SourceReport report;
        AnimationFileData data;
        auto bones = [this](const std::string &model, std::vector<std::string> &names) {
            if (!boneNames.count(model)) return false;
            names = boneNames[model];
            return true;
        };
        parseAnimationSource(text, name, data, bones, report);
        return report.errors() == 0 && writeAnimationFile(path(RESOURCE_ANIMATION, name), data);
    }
    std::map<std::string, std::vector<std::string>> boneNames;  // by model
};
