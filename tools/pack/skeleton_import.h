// tools/pack/skeleton_import.h - `quillfen-pack import-skeleton`: an editor's skeleton export and
// its atlas (skeleton_export.h) turned into the project's own text sources, so the engine plays
// them and an author can still edit them (docs/skeleton-import.md gives the whole mapping):
//   images/NAME.png ...        the atlas pages, and upright copies of regions stored turned,
//                              transparency as the engine's colour key
//   scraps/NAME-*.scrap        one per attachment the setup or an animation shows
//   models/NAME.model          a root, one bone per skeleton bone, one per slot (its picture),
//                              the slots' bones in drawing order
//   anims/NAME-ANIMATION.anim  curve, colour and texture-change events and markers per animation
// Keys become events at whole frames (--fps, default 60); every curve is followed within half a
// pixel and a tenth of a degree, a key's segment split where one cubic cannot follow it.
// Threads: one (a command-line tool).
// Failure: refusals are "ERROR: " lines through the SourceReport and nothing is written; what the
// engine cannot show is one "WARNING: " per kind (ImportNotes) and the import goes on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "animation/model.h"
#include "animation/scrap.h"
#include "skeleton_export.h"

struct ImportOptions
{
    int fps = 60;      // frames a second: key times become whole frames at this rate
    std::string name;  // names the model and prefixes every file; default: the export's file name
};

// A picture in memory: RGBA bytes, top row first.
struct PictureFile
{
    std::string name;  // under images/ (written pictures); the page file (atlas pages)
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

// What an import writes, as the compiler's file data.
struct ImportedSkeleton
{
    ModelFileData model;
    std::vector<std::pair<std::string, ScrapFileData>> scraps;          // scrap name, contents
    std::vector<std::pair<std::string, AnimationFileData>> animations;  // built name (NAME-ANIMATION)
    std::vector<PictureFile> pictures;  // RGB written; transparent pixels are the colour key (255, 128, 255)
};

// --- the mapping (skeleton_import.cpp, with the curves in skeleton_bake.cpp)
// `pages` are the atlas pages decoded, in atlas order. False after its errors (names too long for
// the engine, regions missing from the atlas or off their page, counts beyond the engine's limits).
struct ImportFiles  // what messages name
{
    std::string skeleton, atlas;
};
bool buildImport(const SkeletonExport &skeleton, const TextureAtlas &atlas, const std::vector<PictureFile> &pages,
                 const ImportOptions &options, const ImportFiles &files, ImportedSkeleton &out, SourceReport &report,
                 ImportNotes &notes);
// The text sources of an import, as (path under the source, text), each checked the way compile
// reads it: false when one would not compile (an importer fault).
bool importedSources(const ImportedSkeleton &imported, const std::string &name, const std::string &exportFile,
                     std::vector<std::pair<std::string, std::string>> &files);
// The whole command: reads the export, the atlas and its pages (beside the atlas), prints the
// warnings, and writes into the project source `source` (made when missing) only when nothing
// was refused.
bool importSkeleton(const std::string &exportPath, const std::string &atlasPath, const std::string &source,
                    const ImportOptions &options, SourceReport &report);

// --- PNG files (libpng)
bool readPng(const std::string &bytes, PictureFile &out, std::string &problem);  // any PNG, as RGBA
bool writePng(const std::string &path, const PictureFile &picture);             // as RGB; false when not written
