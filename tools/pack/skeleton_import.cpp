// tools/pack/skeleton_import.cpp - import-skeleton: the rig, pictures, scraps, model and
// animations made from an export, and the files written.
//
// The model: a root bone at the origin (so no bone of the export is an engine root, whose angle
// follows other rules once it moves), one bone per skeleton bone hanging at a joint of its
// parent's, and one bone per slot hanging at its skeleton bone, after all of those and in slot
// order, since the engine draws bones in order. A slot's bone carries the picture: its origin is
// the pivot of the attachment shown (near the picture's middle), turned and scaled as the
// attachment is, so its picture is the scrap of that attachment drawn from its offset. Rest
// positions and angles are whole numbers (the model file's); every animation therefore sets, from
// its first frame, each track whose value differs from that rest anywhere in any animation, and
// the bones follow the editor to within half a pixel while it plays.
//
// Pictures: the engine's images have no alpha channel, only the colour key (255, 128, 255), so
// pages are written with pixels under half alpha as the key (premultiplied pages made straight
// first). A region stored turned on its page is written upright as a picture of its own.
// Threads: one.
#include "skeleton_import.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "asset_source.h"
#include "graphics/image.h"
#include "skeleton_bake.h"

namespace fs = std::filesystem;

namespace {

const char *const NOTE_SOFT_EDGES = "partly transparent pixels show opaque or clear (cut at half alpha)";
const char *const NOTE_PAGE_SIZE = "atlas page sizes differ from their images (the images' own are used)";

// A file-name part: letters, digits, '-', '_' and '.' kept, anything else '-', no leading '.'.
std::string fileSafe(const std::string &name)
{
    std::string safe = name.empty() ? "-" : name;
    for (char &c : safe) {
        if (!isalnum((unsigned char)c) && c != '-' && c != '_' && c != '.') c = '-';
    }
    if (safe[0] == '.') safe[0] = '-';
    return safe;
}

// `base`, or base + separator + 2, 3, ... when `taken` has it; the result is then taken.
std::string unique(const std::string &base, std::set<std::string> &taken, const std::string &separator = "-",
                   const std::string &suffix = "")
{
    std::string name = base;
    for (int n = 2; taken.count(name + suffix); n++) name = base + separator + std::to_string(n);
    taken.insert(name + suffix);
    return name;
}

bool toStoredReal(double value, StoredReal &out)
{
    if (!(std::fabs(value) < 2147483647.0)) return false;
    double whole = std::floor(value);
    long long fraction = std::llround((value - whole) * 1e9);
    if (fraction >= 1000000000) whole += 1, fraction = 0;
    out.whole = (int32_t)whole;
    out.fraction = (uint32_t)fraction;
    return true;
}

struct Builder
{
    const SkeletonExport &skeleton;
    const TextureAtlas &atlas;
    const std::vector<PictureFile> &pages;
    const ImportOptions &options;
    const ImportFiles &files;
    ImportedSkeleton &out;
    SourceReport &report;
    ImportNotes &notes;
    Rig rig;
    std::set<std::string> scrapNames, pictureNames;
    std::vector<int> pagePicture;  // per page: its index in out.pictures, -1 while not written
    int emptyScrap = -1;           // the scrap of no frames (a slot showing nothing), once needed

    bool refuse(int line, const std::string &message, bool atlasLine = false)
    {
        report.error(atlasLine ? files.atlas : files.skeleton, line, message);
        return false;
    }
    std::string scrapName(int index) const { return index >= 0 ? out.scraps[index].first : ""; }
    int lineOf(const RigBone &bone) const  // where the bone or slot it stands for is written; 0 for the root
    {
        return bone.bone >= 0 ? skeleton.bones[bone.bone].line : bone.slot >= 0 ? skeleton.slots[bone.slot].line : 0;
    }

    // The attachments each slot shows: its setup one and those its animations key.
    std::vector<std::set<int>> shownAttachments() const
    {
        std::vector<std::set<int>> shown(skeleton.slots.size());
        auto add = [&](int slot, const std::string &key) {
            const std::vector<ExportAttachment> &list = skeleton.slots[slot].attachments;
            for (size_t i = 0; i < list.size(); i++) {
                if (list[i].key == key && list[i].isRegion) shown[slot].insert((int)i);
            }
        };
        for (size_t s = 0; s < skeleton.slots.size(); s++) add((int)s, skeleton.slots[s].attachment);
        for (const ExportAnimation &animation : skeleton.animations) {
            for (const auto &slot : animation.slots) {
                for (const ExportKey &key : slot.second.attachment) {
                    if (!key.empty) add(slot.first, key.attachment);
                }
            }
        }
        return shown;
    }

    bool makeRig();
    bool makePicture(int slot, int index, RigPicture &picture);
    const PictureFile *regionPicture(const AtlasRegion &region, bool &written);
    bool makeModel();
    bool makeAnimations();
};

// The written picture of a page (converted once) or of a turned region (upright).
const PictureFile *Builder::regionPicture(const AtlasRegion &region, bool &written)
{
    const PictureFile &page = pages[region.page];
    const AtlasPage &info = atlas.pages[region.page];
    const int wide = region.rotated ? region.height : region.width, tall = region.rotated ? region.width : region.height;
    if ((int64_t)region.x + wide > page.width || (int64_t)region.y + tall > page.height) {
        refuse(region.line, "region '" + region.name + "' lies outside its page '" + info.file + "' (" +
                                std::to_string(page.width) + " x " + std::to_string(page.height) + ")", true);
        return nullptr;
    }
    for (int y = region.y; y < region.y + tall; y++) {
        for (int x = region.x; x < region.x + wide; x++) {
            const uint8_t alpha = page.rgba[((size_t)y * page.width + x) * 4 + 3];
            if (alpha > 0 && alpha < 255) {
                notes.add(NOTE_SOFT_EDGES, region.name);
                y = region.y + tall;
                break;
            }
        }
    }
    // Straight colour, the key for what is under half alpha, and no picture pixel taken for the key.
    auto keyed = [&](const uint8_t *pixel, uint8_t *into) {
        if (pixel[3] < 128) {
            into[0] = 255, into[1] = 128, into[2] = 255;
        } else {
            for (int c = 0; c < 3; c++)
                into[c] = info.premultiplied ? (uint8_t)std::min(255, pixel[c] * 255 / pixel[3]) : pixel[c];
            if (into[0] == 255 && into[1] == 128 && into[2] == 255) into[1] = 127;
        }
        into[3] = 255;
    };
    const std::string base = options.name + (region.rotated ? "-" + fileSafe(region.name) : "");
    if (!region.rotated) {
        int &index = pagePicture[region.page];
        if (index < 0) {
            PictureFile picture{unique(region.page == 0 ? base : base + "-" + std::to_string(region.page + 1), pictureNames, "-", ".png") + ".png",
                                page.width, page.height, std::vector<uint8_t>(page.rgba.size())};
            for (size_t i = 0; i < page.rgba.size(); i += 4) keyed(&page.rgba[i], &picture.rgba[i]);
            index = (int)out.pictures.size();
            out.pictures.push_back(picture);
        }
        written = false;
        return &out.pictures[index];
    }
    // Stored a quarter turn counter-clockwise (the picture's top towards the page's left): the
    // upright pixel (u, v), v counted from the top, is the page's (x + v, y + width - 1 - u).
    PictureFile picture{unique(base, pictureNames, "-", ".png") + ".png", (uint32_t)region.width, (uint32_t)region.height,
                        std::vector<uint8_t>((size_t)region.width * region.height * 4)};
    for (int v = 0; v < region.height; v++) {
        for (int u = 0; u < region.width; u++) {
            const size_t from = ((size_t)(region.y + region.width - 1 - u) * page.width + region.x + v) * 4;
            keyed(&page.rgba[from], &picture.rgba[((size_t)v * region.width + u) * 4]);
        }
    }
    out.pictures.push_back(picture);
    written = true;
    return &out.pictures.back();
}

// The scrap and place of one shown region attachment.
bool Builder::makePicture(int slot, int index, RigPicture &picture)
{
    const ExportSlot &owner = skeleton.slots[slot];
    const ExportAttachment &attachment = owner.attachments[index];
    const AtlasRegion *region = atlas.find(attachment.region);
    if (region == nullptr)
        return refuse(attachment.line, "attachment '" + attachment.key + "' of slot '" + owner.name + "': region '" +
                                           attachment.region + "' is not in the atlas");
    bool turned = false;
    const PictureFile *image = regionPicture(*region, turned);
    if (image == nullptr) return false;
    const int originalWidth = region->originalWidth, originalHeight = region->originalHeight;
    const int pivotX = originalWidth / 2, pivotY = originalHeight / 2;
    const double scaleX = attachment.scaleX * attachment.width / originalWidth;
    const double scaleY = attachment.scaleY * attachment.height / originalHeight;
    const double c = std::cos(attachment.rotation * M_PI / 180), s = std::sin(attachment.rotation * M_PI / 180);
    const double px = (pivotX - originalWidth / 2.0) * scaleX, py = (pivotY - originalHeight / 2.0) * scaleY;
    picture.x = attachment.x + c * px - s * py;
    picture.y = attachment.y + s * px + c * py;
    picture.rotation = attachment.rotation;
    picture.scaleX = scaleX, picture.scaleY = scaleY;
    std::copy(attachment.color, attachment.color + 4, picture.color);
    ScrapFrameData frame;
    frame.image = image->name;
    const int top = turned ? 0 : (int)image->height - region->y - region->height;
    frame.x1 = (int16_t)(turned ? 0 : region->x), frame.y1 = (int16_t)top;
    frame.x2 = (int16_t)(frame.x1 + region->width), frame.y2 = (int16_t)(top + region->height);
    frame.offsetX = (int16_t)(region->offsetX - pivotX), frame.offsetY = (int16_t)(region->offsetY - pivotY);
    for (int corner = 0; corner < 4; corner++) {
        const double x = frame.offsetX + (corner & 1 ? region->width : 0), y = frame.offsetY + (corner & 2 ? region->height : 0);
        picture.extent = std::max(picture.extent, std::hypot(x, y));
    }
    ScrapFileData scrap;
    scrap.frames.push_back(frame);
    picture.scrap = (int)out.scraps.size();
    out.scraps.push_back({"", scrap});
    return true;
}

bool Builder::makeRig()
{
    std::set<std::string> boneNames;
    for (const ExportBone &bone : skeleton.bones) boneNames.insert(bone.name);
    rig.bones.push_back({unique("skeleton", boneNames, "~"), -1, -1, -1});
    for (size_t b = 0; b < skeleton.bones.size(); b++)
        rig.bones.push_back({skeleton.bones[b].name, skeleton.bones[b].parent + 1, (int)b, -1});
    for (size_t s = 0; s < skeleton.slots.size(); s++)
        rig.bones.push_back({unique("slot:" + skeleton.slots[s].name, boneNames, "~"), skeleton.slots[s].bone + 1, -1, (int)s});
    if (rig.bones.size() > (size_t)MAX_MODEL_BONES)
        return refuse(0, "the skeleton makes " + std::to_string(rig.bones.size()) + " bones (a root, " +
                             std::to_string(skeleton.bones.size()) + " bones and " + std::to_string(skeleton.slots.size()) +
                             " slots); the engine loads at most 500");
    // Scrap names: NAME-ATTACHMENT, or NAME-SLOT-ATTACHMENT where two slots show attachments of one name.
    const std::vector<std::set<int>> shown = shownAttachments();
    std::map<std::string, int> keyUses;
    for (size_t s = 0; s < shown.size(); s++) {
        for (int a : shown[s]) keyUses[skeleton.slots[s].attachments[a].key]++;
    }
    rig.pictures.resize(skeleton.slots.size());
    rig.home.assign(skeleton.slots.size(), -1);
    bool ok = true;
    for (size_t s = 0; s < skeleton.slots.size(); s++) {
        const ExportSlot &slot = skeleton.slots[s];
        rig.pictures[s].resize(slot.attachments.size());
        for (int a : shown[s]) {
            if (!makePicture((int)s, a, rig.pictures[s][a])) {
                ok = false;
                continue;
            }
            const std::string &key = slot.attachments[a].key;
            const std::string base = options.name + "-" + (keyUses[key] > 1 ? fileSafe(slot.name) + "-" : "") + fileSafe(key);
            out.scraps[rig.pictures[s][a].scrap].first = unique(base, scrapNames);
            if (rig.home[s] < 0 || slot.attachments[a].key == slot.attachment) rig.home[s] = a;
        }
    }
    return ok;
}

bool Builder::makeModel()
{
    std::vector<WorldFrame> rest;
    poseRig(skeleton, rig, nullptr, 0, 1, rest);
    for (size_t i = 1; i < rig.bones.size(); i++) {
        const WorldFrame &frame = rest[i];
        if (!(std::fabs(frame.x) < 1e9 && std::fabs(frame.y) < 1e9 && std::fabs(frame.angle) < 1e9))
            return refuse(lineOf(rig.bones[i]), "bone '" + rig.bones[i].name + "' lies beyond what the model's whole numbers hold");
        rig.bones[i].x = (int32_t)std::lround(frame.x);
        rig.bones[i].y = (int32_t)std::lround(frame.y);
        rig.bones[i].angle = (int32_t)std::lround(frame.angle);
    }
    out.model.bones.resize(rig.bones.size());
    for (size_t i = 0; i < rig.bones.size(); i++) {
        RigBone &bone = rig.bones[i];
        BoneData &data = out.model.bones[i];
        data.name = bone.name;
        data.x = bone.x, data.y = bone.y, data.angle = bone.angle;
        if (bone.slot >= 0) {
            const int home = rig.home[bone.slot];
            const ExportSlot &slot = skeleton.slots[bone.slot];
            if (home >= 0 && slot.attachments[home].key == slot.attachment) data.scrap = scrapName(rig.pictures[bone.slot][home].scrap);
            bone.extent = home >= 0 ? rig.pictures[bone.slot][home].extent : 1;
        }
        if (bone.parent < 0) continue;
        RigBone &parent = rig.bones[bone.parent];
        BoneData &holder = out.model.bones[bone.parent];
        if (holder.joints.size() == (size_t)MAX_BONE_JOINTS)
            return refuse(lineOf(parent), "bone '" + parent.name + "' holds more than 50 bones and slots; the engine's bones have at most 50 joints");
        holder.joints.push_back({(int32_t)i, bone.x, bone.y});
        bone.along = jointOffset(bone.x, bone.y, parent.x, parent.y, (int64_t)parent.angle - 90);
        bone.across = jointOffset(bone.x, bone.y, parent.x, parent.y, parent.angle);
        if (parent.slot < 0) parent.extent = std::max(parent.extent, std::hypot(bone.along, bone.across));
    }
    return true;
}

bool Builder::makeAnimations()
{
    std::vector<BakedAnimation> baked(skeleton.animations.size());
    for (size_t a = 0; a < skeleton.animations.size(); a++) {
        if (!bakeAnimation(skeleton, rig, skeleton.animations[a], options.fps, baked[a], notes))
            return refuse(skeleton.animations[a].line, "animation '" + skeleton.animations[a].name + "' lasts more than " +
                                                           std::to_string(MAX_BAKED_FRAMES) + " frames at " +
                                                           std::to_string(options.fps) + " a second (the engine's longest)");
    }
    // A track any animation moves from the model's rest is set by every animation: a pose keeps
    // a translation across setDefaultPose, and a game switching animations expects each whole.
    std::vector<std::array<bool, TRACK_COUNT + 1>> moved(rig.bones.size());
    for (const BakedAnimation &animation : baked) {
        for (size_t i = 1; i < rig.bones.size(); i++) {
            for (int track = 0; track < TRACK_COUNT; track++) moved[i][track] = moved[i][track] || !animation.bones[i].curveAtRest[track];
            moved[i][TRACK_COUNT] = moved[i][TRACK_COUNT] || !animation.bones[i].colorAtRest;
        }
    }
    std::set<std::string> animationNames;
    std::vector<std::string> boneNames;
    for (const RigBone &bone : rig.bones) boneNames.push_back(bone.name);
    for (size_t a = 0; a < baked.size(); a++) {
        const BakedAnimation &animation = baked[a];
        const std::string &name = skeleton.animations[a].name;
        AnimationFileData data;
        bool fits = toStoredReal(animation.length, data.length);
        data.texts = skeleton.events;
        for (const BakedMarker &marker : animation.markers) {
            MarkerData stored;
            fits = toStoredReal(marker.frame, stored.time) && toStoredReal(marker.x, stored.x) &&
                   toStoredReal(marker.y, stored.y) && fits;
            stored.textIndex = marker.event;
            data.markers.push_back(stored);
        }
        for (size_t i = 1; i < rig.bones.size(); i++) {
            const BakedBone &bone = animation.bones[i];
            for (int track = 0; track < TRACK_COUNT; track++) {
                if (!moved[i][track]) continue;
                for (const CurvePiece &piece : bone.curves[track]) {
                    EventData event;
                    event.type = (int8_t)track;
                    event.target = (int32_t)i;
                    const double reals[5] = {(double)piece.end, piece.from, piece.to, piece.startSlope, piece.endSlope};
                    fits = toStoredReal(piece.start, event.time) && fits;
                    for (int r = 0; r < 5; r++) fits = toStoredReal(reals[r], event.reals[r]) && fits;
                    data.events.push_back(event);
                }
            }
            for (const ColorPiece &piece : moved[i][TRACK_COUNT] ? bone.color : std::vector<ColorPiece>()) {
                EventData event;
                event.type = UPDATE_COLOR;
                event.target = (int32_t)i;
                fits = toStoredReal(piece.start, event.time) && toStoredReal(piece.end, event.reals[0]) && fits;
                for (int c = 0; c < 3; c++) {
                    fits = toStoredReal(piece.from[c], event.reals[1 + 2 * c]) && toStoredReal(piece.to[c], event.reals[2 + 2 * c]) && fits;
                }
                data.events.push_back(event);
            }
            for (const TextureChange &change : bone.textures) {
                if (change.scrap < 0 && emptyScrap < 0) {
                    emptyScrap = (int)out.scraps.size();
                    out.scraps.push_back({unique(options.name + "-none", scrapNames), ScrapFileData()});
                }
                EventData event;
                event.type = UPDATE_TEXTURE_CHANGE;
                event.target = (int32_t)i;
                toStoredReal(change.frame, event.time);
                event.scrap = (int32_t)data.scraps.size();
                data.scraps.push_back(scrapName(change.scrap >= 0 ? change.scrap : emptyScrap));
                data.events.push_back(event);
            }
        }
        std::stable_sort(data.events.begin(), data.events.end(),
                         [](const EventData &x, const EventData &y) { return x.time.whole < y.time.whole; });
        if (!fits) return refuse(skeleton.animations[a].line, "animation '" + name + "' has values beyond the engine's stored numbers");
        if (data.events.size() > (size_t)MAX_ANIMATION_EVENTS || data.texts.size() > (size_t)MAX_MARKER_TEXTS ||
            data.markers.size() > (size_t)MAX_MARKERS)
            return refuse(skeleton.animations[a].line, "animation '" + name + "' makes " + std::to_string(data.events.size()) +
                                                           " events, " + std::to_string(data.markers.size()) +
                                                           " markers and " + std::to_string(data.texts.size()) +
                                                           " texts; the engine loads at most 49999, 2999 and 2999");
        out.animations.push_back({unique(options.name + "-" + fileSafe(name), animationNames), data});
    }
    return true;
}

}  // namespace

bool buildImport(const SkeletonExport &skeleton, const TextureAtlas &atlas, const std::vector<PictureFile> &pages,
                 const ImportOptions &options, const ImportFiles &files, ImportedSkeleton &out, SourceReport &report,
                 ImportNotes &notes)
{
    out = ImportedSkeleton();
    Builder builder{skeleton, atlas, pages, options, files, out, report, notes, {}, {}, {}, std::vector<int>(pages.size(), -1)};
    return builder.makeRig() && builder.makeModel() && builder.makeAnimations();
}

// ---------------------------------------------------------------- PNG

bool readPng(const std::string &bytes, PictureFile &out, std::string &problem)
{
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        problem = image.message;
        return false;
    }
    if (image.width > MAX_IMAGE_SIDE || image.height > MAX_IMAGE_SIDE) {
        png_image_free(&image);
        problem = "larger than " + std::to_string(MAX_IMAGE_SIDE) + " pixels a side";
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    out.width = image.width, out.height = image.height;
    out.rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) {
        problem = image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

bool writePng(const std::string &path, const PictureFile &picture)
{
    std::vector<uint8_t> rgb((size_t)picture.width * picture.height * 3);
    for (size_t i = 0, j = 0; j < rgb.size(); i += 4, j += 3) std::copy(&picture.rgba[i], &picture.rgba[i] + 3, &rgb[j]);
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = picture.width, image.height = picture.height;
    image.format = PNG_FORMAT_RGB;
    image.flags = PNG_IMAGE_FLAG_COLORSPACE_NOT_sRGB;  // no colour-space chunk: the decoder takes the bytes as they are
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

// ---------------------------------------------------------------- the texts

bool importedSources(const ImportedSkeleton &imported, const std::string &name, const std::string &exportFile,
                     std::vector<std::pair<std::string, std::string>> &files)
{
    files.clear();
    SourceReport check;
    check.quiet = true;
    for (const auto &scrap : imported.scraps) {
        files.push_back({"scraps/" + scrap.first + ".scrap", "# imported by quillfen-pack import-skeleton\n" + formatScrapSource(scrap.second)});
        ScrapFileData again;
        parseScrapSource(files.back().second, files.back().first, again, check);
    }
    std::vector<std::string> boneNames;
    for (const BoneData &bone : imported.model.bones) boneNames.push_back(bone.name);
    files.push_back({"models/" + name + ".model",
                     "# imported from " + exportFile + " by quillfen-pack import-skeleton\n" +
                         formatModelSource(imported.model)});
    ModelFileData model;
    parseModelSource(files.back().second, files.back().first, model, check);
    for (const auto &animation : imported.animations) {
        files.push_back({"anims/" + animation.first + ".anim", "# imported by quillfen-pack import-skeleton\n" +
                                                                   formatAnimationSource(animation.second, name, boneNames)});
        AnimationFileData again;
        parseAnimationSource(files.back().second, files.back().first, again,
                             [&](const std::string &, std::vector<std::string> &names) { return names = boneNames, true; }, check);
    }
    return check.errors() == 0;
}

// ---------------------------------------------------------------- the command

bool importSkeleton(const std::string &exportPath, const std::string &atlasPath, const std::string &source,
                    const ImportOptions &options, SourceReport &report)
{
    std::string text, atlasText;
    if (!readWholeFile(exportPath, text)) return report.error(exportPath, 0, "cannot be read"), false;
    if (!readWholeFile(atlasPath, atlasText)) return report.error(atlasPath, 0, "cannot be read"), false;
    JsonValue root;
    JsonProblem problem;
    if (!parseJson(text, root, problem)) {
        report.error(exportPath, problem.line,
                     problem.unquotedKey ? "not standard JSON (a key without quotes): export the skeleton again with the "
                                           "format JSON; the JavaScript and Minimal formats are not read"
                                         : "not a skeleton export: not JSON (" + problem.message + ")");
        return false;
    }
    ImportNotes notes, atlasNotes;
    SkeletonExport skeleton;
    TextureAtlas atlas;
    const bool readBoth = readSkeletonExport(root, exportPath, skeleton, report, notes) &
                          readAtlas(atlasText, atlasPath, atlas, report, atlasNotes);
    std::vector<PictureFile> pages;
    const fs::path folder = fs::path(atlasPath).parent_path();
    for (const AtlasPage &page : readBoth ? atlas.pages : std::vector<AtlasPage>()) {
        const std::string path = (folder / page.file).string();
        std::string bytes, why;
        pages.emplace_back();
        pages.back().name = page.file;
        if (!readWholeFile(path, bytes) || !readPng(bytes, pages.back(), why)) {
            report.error(atlasPath, page.line, "page '" + page.file + "' " + (why.empty() ? "cannot be read" : "is not a PNG image this importer reads (" + why + ")"));
            continue;
        }
        if ((page.width || page.height) && ((uint32_t)page.width != pages.back().width || (uint32_t)page.height != pages.back().height))
            atlasNotes.add(NOTE_PAGE_SIZE, page.file);
    }
    ImportedSkeleton imported;
    const bool built = readBoth && report.errors() == 0 && buildImport(skeleton, atlas, pages, options, {exportPath, atlasPath}, imported, report, notes);
    if (!built) return false;
    notes.print(exportPath, report);
    atlasNotes.print(atlasPath, report);
    std::vector<std::pair<std::string, std::string>> files;
    if (!importedSources(imported, options.name, fs::path(exportPath).filename().string(), files))
        return report.error(exportPath, 0, "the sources made from it do not compile (an importer fault)"), false;
    std::error_code error;
    for (const char *sub : {"images", "scraps", "models", "anims"}) fs::create_directories(fs::path(source) / sub, error);
    bool written = true;
    for (const PictureFile &picture : imported.pictures) {
        if (!writePng((fs::path(source) / "images" / picture.name).string(), picture)) {
            report.error(source + "/images/" + picture.name, 0, "cannot be written");
            written = false;
        }
    }
    for (const auto &entry : files) {
        if (!writeWholeFile((fs::path(source) / entry.first).string(), entry.second)) {
            report.error(source + "/" + entry.first, 0, "cannot be written");
            written = false;
        }
    }
    if (written) {
        printf("import-skeleton: %s: models/%s.model, %zu scraps, %zu animations and %zu pictures\n", source.c_str(),
               options.name.c_str(), imported.scraps.size(), imported.animations.size(), imported.pictures.size());
    }
    return written;
}
