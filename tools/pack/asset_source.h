// tools/pack/asset_source.h - the text sources of scraps, models and animations
// (scraps/NAME.scrap, models/NAME.model, anims/NAME.anim, built as Scraps/NAME, Models/NAME and
// Anims/NAME): parsing with file:line messages into the engine's file data, and the canonical
// text that `unpack` writes. Bones, joints, scraps and marker texts are named, not numbered.
// docs/projects.md describes the formats for game authors.
// Threads: one (a command-line tool; the fuzz targets call the parsers too).
// Failure: parsers report through a SourceReport and keep going; the data they fill is only
// meant to be written when the report counts no error.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "animation/model.h"
#include "animation/scrap.h"
#include "project_source.h"

// The three kinds of text source, by asset folder.
enum AssetSourceKind { SOURCE_SCRAP, SOURCE_MODEL, SOURCE_ANIMATION, SOURCE_KIND_COUNT };
struct AssetSourceType
{
    const char *folder;  // "scraps": the asset folder of the source (see ASSET_FOLDERS)
    const char *suffix;  // ".scrap": a file of the folder ending in it is a text source
    const char *magic;   // "QFPA": a file starting with it is already binary and copied as it is
};
extern const AssetSourceType ASSET_SOURCE_TYPES[SOURCE_KIND_COUNT];
// The kind whose folder is `folder` ("scraps", "models", "anims"), or -1.
int assetSourceKindOfFolder(const std::string &folder);

// A name a source uses, where it stands (for warnings about files the source lacks).
struct NamedUse
{
    std::string name;
    int line;
};

// Scrap source: [scrap] version, then one [frame] per frame (image, rect, offset, duration,
// frame-version). `images` receives the image names used.
void parseScrapSource(const std::string &text, const std::string &file, ScrapFileData &out, SourceReport &report,
                      std::vector<NamedUse> *images = nullptr);
std::string formatScrapSource(const ScrapFileData &data);

// Model source: one [bone] per bone (name, scrap, position, angle, flag, joint = X Y CHILD).
// `scraps` receives the scrap names used.
void parseModelSource(const std::string &text, const std::string &file, ModelFileData &out, SourceReport &report,
                      std::vector<NamedUse> *scraps = nullptr);
std::string formatModelSource(const ModelFileData &data);

// The bone names of a model the project has (by built name); false when it has none of that name.
using BoneNameLookup = std::function<bool(const std::string &model, std::vector<std::string> &bones)>;
// Animation source: [animation] (model, length, flag), [texts], [markers] (TIME X Y TEXT) and one
// section per event ([rotation], [x-translation], [y-translation], [x-scaling], [y-scaling],
// [color], [texture-time], [texture-speed], [texture-change], [event] for other codes). Events
// name bones of the model named under [animation]; without a model they give bone numbers.
// `scraps` receives the scrap names of texture changes.
void parseAnimationSource(const std::string &text, const std::string &file, AnimationFileData &out,
                          const BoneNameLookup &bones, SourceReport &report, std::vector<NamedUse> *scraps = nullptr);
// `model` names the bones (empty: bone numbers); `bones` are its bone names.
std::string formatAnimationSource(const AnimationFileData &data, const std::string &model,
                                  const std::vector<std::string> &bones);

// A real as the text holds it: exact decimal of whole + fraction / 1e9, at most nine decimals.
bool parseStoredReal(const std::string &text, StoredReal &real);
std::string formatStoredReal(const StoredReal &real);  // "" for a fraction of 1e9 or more (no text form)
