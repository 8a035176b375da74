// tools/pack/skeleton_export.cpp - reading a skeleton export (parsed JSON) into SkeletonExport.
//
// The layout follows the editor's version: skins are an object before 3.8 and an array from
// 3.8, bezier curves are four fractions of the segment (an array before 3.8, a number with c2,
// c3 and c4 from 3.8). Of 4.x exports only what is known for certain is read (bones, slots, skins
// as in 3.8, translate and scale keys without bezier curves, attachment and colour keys, events);
// rotate keys, bezier curves, the single-axis and the rgba/rgb timelines and frame sequences of
// 4.x are refused by name, since reading them would be guessing. What the engine cannot show
// (meshes, constraints, shear, inherit modes, alpha, draw order changes, other skins) is read past
// and noted. Names of bones, slots and events must be unique and every reference must resolve.
// Threads: one.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "skeleton_export.h"

const char *const SHEAR_NOTE = "shear is not shown";

namespace {

// What is noted, one warning each (docs/skeleton-import.md lists them with what the engine does).
const char *const NOTE_CONSTRAINTS = "inverse kinematics and other constraints are not applied (the bones they would "
                                     "move stay where their own keys put them)";
const char *const NOTE_INHERIT = "inherit modes other than normal are taken as normal";
const char *const NOTE_ALPHA = "alpha (transparency) of slots is not shown: they draw opaque";
const char *const NOTE_DARK = "two-colour tinting is not shown: the dark colour is left out";
const char *const NOTE_BLEND = "blend modes other than normal draw as normal";
const char *const NOTE_DRAW_ORDER = "draw order changes are not shown: slots keep their setup order";
const char *const NOTE_DEFORM = "mesh deformation keys are not imported";
const char *const NOTE_SKINS = "only one skin is imported ('default', else the first); left out";
const char *const NOTE_SKIN_BONES = "bones of a skin are imported as ordinary bones";
const char *const NOTE_EVENT_PAYLOAD = "event strings and sounds are not kept (markers keep the int as x and the "
                                       "float as y)";
const char *const NOTE_UNKNOWN = "unknown keys and timelines are left out";
const char *const NOTE_SORTED = "keys out of time order were sorted";
const char *const NOTE_CLAMPED = "curve handles outside their segment were moved into it";
const char *const NOTE_MISSING = "attachments the imported skin does not have show nothing";
const char *const NOTE_LONG_TURN = "rotate keys more than 180 degrees apart turn the way the numbers go";
const char *const NOTE_NO_VERSION = "the export names no editor version (skeleton.spine); read as";

// Timelines of 4.x whose layout is not confirmed: reading them would be guessing.
const char *const UNCONFIRMED_4X[] = {"translatex", "translatey", "scalex", "scaley",
                                      "rgba",       "rgb",        "rgba2",  "rgb2", "sequence"};

bool isUnconfirmed4x(const std::string &timeline)
{
    for (const char *name : UNCONFIRMED_4X) {
        if (timeline == name) return true;
    }
    return false;
}

// RRGGBBAA or RRGGBB (alpha FF) into 0..1 channels.
bool parseColor(const std::string &text, double color[4])
{
    if (text.size() != 8 && text.size() != 6) return false;
    for (size_t i = 0; i < 4; i++) {
        if (i * 2 >= text.size()) {
            color[i] = 1;
            continue;
        }
        unsigned value = 0;
        for (size_t d = i * 2; d < i * 2 + 2; d++) {
            const char c = text[d];
            if (!isxdigit((unsigned char)c)) return false;
            value = value * 16 + (unsigned)(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        color[i] = value / 255.0;
    }
    return true;
}

std::string quoted(const std::string &name) { return "'" + name + "'"; }

struct ExportReader
{
    const std::string &file;
    SourceReport &report;
    ImportNotes &notes;
    SkeletonExport &out;
    std::map<std::string, int> bones, slots, events;

    bool refuse(const JsonValue &at, const std::string &message)
    {
        report.error(file, at.line, message);
        return false;
    }
    // Optional typed fields: absent keeps the default; a value of another type is refused.
    bool number(const JsonValue &object, const char *key, double &value, const std::string &what)
    {
        const JsonValue *found = object.find(key);
        if (found == nullptr || found->kind == JsonValue::NUL) return true;
        if (found->kind != JsonValue::NUMBER) return refuse(*found, what + ": '" + key + "' is not a number");
        value = found->number;
        return true;
    }
    bool text(const JsonValue &object, const char *key, std::string &value, const std::string &what)
    {
        const JsonValue *found = object.find(key);
        if (found == nullptr || found->kind == JsonValue::NUL) return true;
        if (found->kind != JsonValue::STRING) return refuse(*found, what + ": '" + key + "' is not a string");
        value = found->text;
        return true;
    }
    bool color(const JsonValue &object, const char *key, double color[4], const std::string &what)
    {
        std::string hex;
        if (!text(object, key, hex, what)) return false;
        if (!object.find(key) || object.find(key)->kind == JsonValue::NUL) return true;
        if (!parseColor(hex, color)) return refuse(*object.find(key), what + ": colour '" + hex + "' is not RRGGBBAA");
        return true;
    }
    // A name: a non-empty string without a zero byte (the engine's names end at one).
    bool name(const JsonValue &object, const char *key, std::string &value, const std::string &what)
    {
        const JsonValue *found = object.find(key);
        if (found == nullptr || found->kind != JsonValue::STRING || found->text.empty())
            return refuse(found ? *found : object, what + " needs a '" + key + "' string");
        if (found->text.find('\0') != std::string::npos) return refuse(*found, what + ": a name with a zero byte");
        value = found->text;
        return true;
    }
    // A section that may be missing: nullptr when absent or null, refused when of another kind.
    const JsonValue *section(const JsonValue &object, const char *key, JsonValue::Kind kind, const std::string &what)
    {
        const JsonValue *found = object.find(key);
        if (found == nullptr || found->kind == JsonValue::NUL) return nullptr;
        if (found->kind != kind) {
            refuse(*found, what + ": '" + key + "' is not " + (kind == JsonValue::ARRAY ? "a list" : "an object"));
            return nullptr;
        }
        return found;
    }

    void readVersion(const JsonValue &root);
    bool readBones(const JsonValue &root);
    bool readSlots(const JsonValue &root);
    bool readSkins(const JsonValue &root);
    bool readAttachment(const JsonValue &value, const std::string &key, ExportSlot &slot);
    bool readEvents(const JsonValue &root);
    bool readAnimation(const std::string &animationName, const JsonValue &value);
    bool readTimelineOf(ExportAnimation &animation, bool isBone, int index, const std::string &timeline,
                        const JsonValue &keys);
    bool readEventKeys(ExportAnimation &animation, const JsonValue &keys);
    bool readCurve(const JsonValue &key, ExportKey &out, const std::string &where);
    template <typename Values>
    bool readTimeline(const JsonValue &keys, ExportTimeline &out, bool curves, const std::string &where, Values values);
};

// ---------------------------------------------------------------- version and setup pose

// Decides the layout from skeleton.spine ("3.8.99"), or from the data when the export has none.
void ExportReader::readVersion(const JsonValue &root)
{
    const JsonValue *skeleton = root.find("skeleton");
    const JsonValue *spine = skeleton && skeleton->kind == JsonValue::OBJECT ? skeleton->find("spine") : nullptr;
    if (spine && spine->kind == JsonValue::STRING && !spine->text.empty()) {
        out.version = spine->text;
        char *end = nullptr;
        const long major = strtol(spine->text.c_str(), &end, 10);
        const long minor = *end == '.' && isdigit((unsigned char)end[1]) ? strtol(end + 1, nullptr, 10) : -1;
        if (!isdigit((unsigned char)spine->text[0]) || minor < 0 || major > 4) {
            refuse(*spine, "editor version '" + spine->text + "' is not one this importer reads (it reads 3.x and 4.x exports)");
        } else if (major < 3) {
            refuse(*spine, "editor version '" + spine->text + "': exports older than 3.0 are not read");
        }
        out.layout = major >= 4 ? LAYOUT_4 : minor >= 8 ? LAYOUT_3_8 : LAYOUT_3_EARLY;
        return;
    }
    // No version: 4.x curves are longer than four numbers and 4.x rotate keys say "value";
    // skins are an object only before 3.8.
    bool looks4x = false;
    std::vector<const JsonValue *> stack = {&root};
    while (!stack.empty() && !looks4x) {
        const JsonValue *value = stack.back();
        stack.pop_back();
        const JsonValue *curve = value->kind == JsonValue::OBJECT ? value->find("curve") : nullptr;
        looks4x = curve && curve->kind == JsonValue::ARRAY && curve->items.size() != 4;
        for (const JsonValue &item : value->items) stack.push_back(&item);
    }
    const JsonValue *skins = root.find("skins");
    out.layout = looks4x ? LAYOUT_4 : skins && skins->kind == JsonValue::OBJECT ? LAYOUT_3_EARLY : LAYOUT_3_8;
    notes.add(NOTE_NO_VERSION, looks4x ? "4.x" : out.layout == LAYOUT_3_EARLY ? "3.0 to 3.7" : "3.8");
}

bool ExportReader::readBones(const JsonValue &root)
{
    const JsonValue *list = section(root, "bones", JsonValue::ARRAY, "the skeleton");
    if (list == nullptr || list->items.empty()) {
        if (root.find("bones") == nullptr || list) refuse(root, "not a skeleton export: it has no \"bones\" list");
        return false;
    }
    bool ok = true;
    for (const JsonValue &value : list->items) {
        if (value.kind != JsonValue::OBJECT) {
            ok = refuse(value, "a bone is not an object");
            continue;
        }
        ExportBone bone;
        bone.line = value.line;
        if (!name(value, "name", bone.name, "a bone")) {
            ok = false;
            continue;
        }
        const std::string what = "bone " + quoted(bone.name);
        if (bones.count(bone.name)) ok = refuse(value, what + " is listed twice");
        std::string parent, inherit = "normal";
        ok = text(value, "parent", parent, what) && ok;
        if (!parent.empty()) {
            auto found = bones.find(parent);
            if (found == bones.end()) ok = refuse(value, what + ": its parent " + quoted(parent) + " is not listed before it");
            else bone.parent = found->second;
        }
        double shearX = 0, shearY = 0;
        ok = number(value, "x", bone.x, what) && number(value, "y", bone.y, what) &&
             number(value, "rotation", bone.rotation, what) && number(value, "scaleX", bone.scaleX, what) &&
             number(value, "scaleY", bone.scaleY, what) && number(value, "shearX", shearX, what) &&
             number(value, "shearY", shearY, what) && ok;
        ok = text(value, value.find("transform") ? "transform" : "inherit", inherit, what) && ok;
        if (shearX != 0 || shearY != 0) notes.add(SHEAR_NOTE, bone.name);
        if (inherit != "normal") notes.add(NOTE_INHERIT, bone.name + " (" + inherit + ")");
        const JsonValue *skinOnly = value.find("skin");
        if (skinOnly && skinOnly->kind == JsonValue::BOOLEAN && skinOnly->boolean) notes.add(NOTE_SKIN_BONES, bone.name);
        bones[bone.name] = (int)out.bones.size();
        out.bones.push_back(bone);
    }
    return ok;
}

bool ExportReader::readSlots(const JsonValue &root)
{
    const JsonValue *list = section(root, "slots", JsonValue::ARRAY, "the skeleton");
    if (list == nullptr) return !root.find("slots") || root.find("slots")->kind == JsonValue::NUL;
    bool ok = true;
    for (const JsonValue &value : list->items) {
        ExportSlot slot;
        slot.line = value.line;
        if (value.kind != JsonValue::OBJECT || !name(value, "name", slot.name, "a slot")) {
            ok = value.kind == JsonValue::OBJECT ? false : refuse(value, "a slot is not an object");
            continue;
        }
        const std::string what = "slot " + quoted(slot.name);
        if (slots.count(slot.name)) ok = refuse(value, what + " is listed twice");
        std::string bone, blend = "normal", dark;
        if (name(value, "bone", bone, what)) {
            if (!bones.count(bone)) ok = refuse(value, what + ": bone " + quoted(bone) + " is not in the skeleton");
            else slot.bone = bones[bone];
        } else {
            ok = false;
        }
        ok = color(value, "color", slot.color, what) && text(value, "attachment", slot.attachment, what) &&
             text(value, "blend", blend, what) && text(value, "dark", dark, what) && ok;
        if (slot.color[3] < 1) notes.add(NOTE_ALPHA, slot.name);
        if (!dark.empty()) notes.add(NOTE_DARK, slot.name);
        if (blend != "normal") notes.add(NOTE_BLEND, slot.name + " (" + blend + ")");
        slots[slot.name] = (int)out.slots.size();
        out.slots.push_back(slot);
    }
    return ok;
}

bool ExportReader::readAttachment(const JsonValue &value, const std::string &key, ExportSlot &slot)
{
    const std::string what = "attachment " + quoted(key) + " of slot " + quoted(slot.name);
    if (value.kind != JsonValue::OBJECT) return refuse(value, what + " is not an object");
    ExportAttachment attachment;
    attachment.key = key;
    attachment.line = value.line;
    std::string type = "region", name = key, path;
    if (!text(value, "type", type, what) || !text(value, "name", name, what) || !text(value, "path", path, what)) return false;
    if (value.find("sequence")) return refuse(value, what + ": frame sequences (4.x) are not read: their layout is not confirmed");
    attachment.region = path.empty() ? name : path;
    attachment.isRegion = type == "region";
    if (!attachment.isRegion) {
        static const char *const known[] = {"mesh", "linkedmesh", "boundingbox", "path", "point", "clipping"};
        bool listed = false;
        for (const char *kind : known) listed = listed || type == kind;
        notes.add(listed ? "'" + type + "' attachments are not shown (only region attachments are pictures)"
                         : "attachments of unknown types are not shown",
                  slot.name + "/" + key + (listed ? "" : " (" + type + ")"));
        slot.attachments.push_back(attachment);
        return true;
    }
    if (!number(value, "x", attachment.x, what) || !number(value, "y", attachment.y, what) ||
        !number(value, "rotation", attachment.rotation, what) || !number(value, "scaleX", attachment.scaleX, what) ||
        !number(value, "scaleY", attachment.scaleY, what) || !color(value, "color", attachment.color, what))
        return false;
    const JsonValue *width = value.find("width"), *height = value.find("height");
    if (!width || !height || width->kind != JsonValue::NUMBER || height->kind != JsonValue::NUMBER ||
        !(width->number > 0) || !(height->number > 0))
        return refuse(value, what + " needs its 'width' and 'height' (numbers above 0)");
    attachment.width = width->number, attachment.height = height->number;
    if (attachment.color[3] < 1) notes.add(NOTE_ALPHA, slot.name);
    slot.attachments.push_back(attachment);
    return true;
}

// The skin imported: "default", else the first; its attachments go to their slots.
bool ExportReader::readSkins(const JsonValue &root)
{
    const JsonValue *skins = root.find("skins");
    if (skins == nullptr || skins->kind == JsonValue::NUL) return true;
    std::vector<std::pair<std::string, const JsonValue *>> list;  // name, slot -> attachments
    if (skins->kind == JsonValue::OBJECT) {
        for (size_t i = 0; i < skins->keys.size(); i++) list.push_back({skins->keys[i], &skins->items[i]});
    } else if (skins->kind == JsonValue::ARRAY) {
        for (const JsonValue &skin : skins->items) {
            std::string skinName;
            if (skin.kind != JsonValue::OBJECT || !name(skin, "name", skinName, "a skin")) return false;
            list.push_back({skinName, skin.find("attachments")});  // nullptr: a skin without attachments
        }
    } else {
        return refuse(*skins, "'skins' is neither a list nor an object");
    }
    size_t chosen = 0;
    for (size_t i = 0; i < list.size(); i++) {
        if (list[i].first == "default") chosen = i;
    }
    bool ok = true;
    for (size_t i = 0; i < list.size(); i++) {
        if (i != chosen) {
            notes.add(NOTE_SKINS, list[i].first);
            continue;
        }
        const JsonValue *bySlot = list[i].second;
        if (bySlot == nullptr || bySlot->kind == JsonValue::NUL) continue;
        if (bySlot->kind != JsonValue::OBJECT) return refuse(*bySlot, "skin " + quoted(list[i].first) + " is not an object");
        for (size_t s = 0; s < bySlot->keys.size(); s++) {
            auto slot = slots.find(bySlot->keys[s]);
            if (slot == slots.end()) {
                ok = refuse(bySlot->items[s], "skin " + quoted(list[i].first) + " names slot " + quoted(bySlot->keys[s]) +
                                                  ", which is not in the skeleton");
                continue;
            }
            const JsonValue &attachments = bySlot->items[s];
            if (attachments.kind != JsonValue::OBJECT) {
                ok = refuse(attachments, "the attachments of slot " + quoted(bySlot->keys[s]) + " are not an object");
                continue;
            }
            for (size_t a = 0; a < attachments.keys.size(); a++)
                ok = readAttachment(attachments.items[a], attachments.keys[a], out.slots[slot->second]) && ok;
        }
    }
    return ok;
}

bool ExportReader::readEvents(const JsonValue &root)
{
    const JsonValue *list = section(root, "events", JsonValue::OBJECT, "the skeleton");
    if (list == nullptr) return !root.find("events") || root.find("events")->kind == JsonValue::NUL;
    for (size_t i = 0; i < list->keys.size(); i++) {
        const JsonValue &value = list->items[i];
        if (list->keys[i].empty() || list->keys[i].find('\0') != std::string::npos)
            return refuse(value, "an event needs a name without a zero byte");
        if (value.kind != JsonValue::OBJECT) return refuse(value, "event " + quoted(list->keys[i]) + " is not an object");
        const JsonValue *text = value.find("string"), *audio = value.find("audio");
        if ((text && text->kind == JsonValue::STRING && !text->text.empty()) || (audio && audio->kind == JsonValue::STRING))
            notes.add(NOTE_EVENT_PAYLOAD, list->keys[i]);
        events[list->keys[i]] = (int)out.events.size();
        out.events.push_back(list->keys[i]);
    }
    return true;
}

// ---------------------------------------------------------------- animations

bool ExportReader::readCurve(const JsonValue &key, ExportKey &out, const std::string &where)
{
    const JsonValue *curve = key.find("curve");
    if (curve == nullptr || curve->kind == JsonValue::NUL) return true;
    if (curve->kind == JsonValue::STRING) {  // "stepped" (any word means stepped)
        out.curve = CURVE_STEPPED;
        return true;
    }
    if (this->out.layout == LAYOUT_4 && (curve->kind == JsonValue::NUMBER || curve->kind == JsonValue::ARRAY))
        return refuse(*curve, where + ": bezier curves of a 4.x export are not read (the order of their values "
                                      "is not confirmed)");
    double *b = out.bezier;
    if (curve->kind == JsonValue::NUMBER) {  // 3.8: cx1, then c2 = cy1, c3 = cx2, c4 = cy2
        b[0] = curve->number;
        if (!number(key, "c2", b[1], where) || !number(key, "c3", b[2], where) || !number(key, "c4", b[3], where)) return false;
    } else if (curve->kind == JsonValue::ARRAY && curve->items.size() == 4) {
        for (int i = 0; i < 4; i++) {
            if (curve->items[i].kind != JsonValue::NUMBER) return refuse(*curve, where + ": a curve of something other than numbers");
            b[i] = curve->items[i].number;
        }
    } else {
        return refuse(*curve, where + ": 'curve' is not \"stepped\", a number or four numbers");
    }
    out.curve = CURVE_BEZIER;
    for (int i : {0, 2}) {
        if (b[i] < 0 || b[i] > 1) notes.add(NOTE_CLAMPED, where);
        b[i] = std::min(1.0, std::max(0.0, b[i]));
    }
    return true;
}

// Reads a timeline's keys: times (seconds, from 0), `values` fills each key's values, `curves`
// reads their curves. Keys out of order are sorted (a note).
template <typename Values>
bool ExportReader::readTimeline(const JsonValue &keys, ExportTimeline &out, bool curves, const std::string &where,
                                Values values)
{
    if (keys.kind != JsonValue::ARRAY) return refuse(keys, where + ": the keys are not a list");
    for (const JsonValue &value : keys.items) {
        ExportKey key;
        key.line = value.line;
        if (value.kind != JsonValue::OBJECT) return refuse(value, where + ": a key is not an object");
        if (!number(value, "time", key.time, where)) return false;
        if (!(key.time >= 0)) return refuse(value, where + ": a key before time 0");
        if (!values(value, key) || (curves && !readCurve(value, key, where))) return false;
        out.push_back(key);
    }
    auto earlier = [](const ExportKey &a, const ExportKey &b) { return a.time < b.time; };
    if (!std::is_sorted(out.begin(), out.end(), earlier)) {
        notes.add(NOTE_SORTED, where);
        std::stable_sort(out.begin(), out.end(), earlier);
    }
    return true;
}

// One bone or slot timeline of an animation.
bool ExportReader::readTimelineOf(ExportAnimation &animation, bool isBone, int index, const std::string &timeline,
                                  const JsonValue &keys)
{
    const std::string target = isBone ? out.bones[index].name : out.slots[index].name;
    const std::string where = "animation " + quoted(animation.name) + ", " + (isBone ? "bone " : "slot ") +
                              quoted(target) + ", " + timeline;
    if (out.layout == LAYOUT_4 && (isUnconfirmed4x(timeline) || (isBone && timeline == "rotate" && !keys.items.empty())))
        return refuse(keys, where + ": " + (timeline == "rotate" ? "rotate keys" : "'" + timeline + "' timelines") +
                                " of a 4.x export are not read (their layout is not confirmed)");
    auto numbers = [&](std::initializer_list<const char *> names, double fallback) {
        return [this, names, fallback, where](const JsonValue &value, ExportKey &key) {
            int i = 0;
            for (const char *name : names) {
                key.values[i] = fallback;
                if (!number(value, name, key.values[i++], where)) return false;
            }
            return true;
        };
    };
    auto colour = [this, where](const char *field) {
        return [this, where, field](const JsonValue &value, ExportKey &key) {
            for (double &channel : key.values) channel = 1;
            if (!color(value, field, key.values, where)) return false;
            return true;
        };
    };
    if (isBone) {
        BoneTimelines &bone = animation.bones[index];
        if (timeline == "rotate") {
            if (!readTimeline(keys, bone.rotate, true, where, numbers({"angle"}, 0))) return false;
            for (size_t k = 1; k < bone.rotate.size(); k++) {
                const ExportKey &from = bone.rotate[k - 1];
                if (from.curve != CURVE_STEPPED && std::fabs(bone.rotate[k].values[0] - from.values[0]) > 180)
                    notes.add(NOTE_LONG_TURN, animation.name + "/" + target);
            }
            return true;
        }
        if (timeline == "translate") return readTimeline(keys, bone.translate, true, where, numbers({"x", "y"}, 0));
        if (timeline == "scale") return readTimeline(keys, bone.scale, true, where, numbers({"x", "y"}, 1));
        if (timeline == "shear" || timeline == "shearx" || timeline == "sheary") {
            if (!keys.items.empty()) notes.add(SHEAR_NOTE, target);
            return true;
        }
        if (timeline == "inherit") {
            notes.add(NOTE_INHERIT, target + " (keyed)");
            return true;
        }
    } else {
        SlotTimelines &slot = animation.slots[index];
        ExportSlot &setup = out.slots[index];
        if (timeline == "attachment") {
            return readTimeline(keys, slot.attachment, false, where, [&](const JsonValue &value, ExportKey &key) {
                const JsonValue *name = value.find("name");
                key.empty = name == nullptr || name->kind == JsonValue::NUL;
                if (key.empty) return true;
                if (name->kind != JsonValue::STRING) return refuse(*name, where + ": 'name' is not a string or null");
                key.attachment = name->text;
                bool known = false;
                for (const ExportAttachment &attachment : setup.attachments) known = known || attachment.key == key.attachment;
                if (!known) notes.add(NOTE_MISSING, setup.name + "/" + key.attachment);
                return true;
            });
        }
        if (timeline == "color" || timeline == "twoColor") {
            const bool two = timeline == "twoColor";
            if (!readTimeline(keys, slot.color, true, where, colour(two ? "light" : "color"))) return false;
            for (const ExportKey &key : slot.color) {
                if (key.values[3] < 1) notes.add(NOTE_ALPHA, setup.name);
            }
            if (two && !slot.color.empty()) notes.add(NOTE_DARK, setup.name);
            return true;
        }
        if (timeline == "alpha") {
            notes.add(NOTE_ALPHA, setup.name);
            return true;
        }
    }
    notes.add(NOTE_UNKNOWN, "animations/" + animation.name + "/" + target + "/" + timeline);
    return true;
}

bool ExportReader::readEventKeys(ExportAnimation &animation, const JsonValue &keys)
{
    const std::string where = "animation " + quoted(animation.name) + ", events";
    ExportTimeline times;
    std::vector<ExportEvent> found;
    const bool ok = readTimeline(keys, times, false, where, [&](const JsonValue &value, ExportKey &key) {
        ExportEvent event;
        std::string name;
        if (!this->name(value, "name", name, where)) return false;
        auto known = events.find(name);
        if (known == events.end()) return refuse(value, where + ": event " + quoted(name) + " is not in the skeleton's events");
        event.event = known->second;
        if (!number(value, "int", event.intValue, where) || !number(value, "float", event.floatValue, where)) return false;
        const JsonValue *text = value.find("string");
        if (text && text->kind == JsonValue::STRING && !text->text.empty()) notes.add(NOTE_EVENT_PAYLOAD, name);
        key.values[0] = (double)found.size();  // which event this key is, through the sort
        found.push_back(event);
        return true;
    });
    for (const ExportKey &key : times) {
        animation.events.push_back(found[(size_t)key.values[0]]);
        animation.events.back().time = key.time;
    }
    return ok;
}

bool ExportReader::readAnimation(const std::string &animationName, const JsonValue &value)
{
    ExportAnimation animation;
    animation.name = animationName;
    animation.line = value.line;
    const std::string what = "animation " + quoted(animationName);
    if (animationName.find('\0') != std::string::npos) return refuse(value, "an animation name with a zero byte");
    if (value.kind != JsonValue::OBJECT) return refuse(value, what + " is not an object");
    bool ok = true;
    for (size_t s = 0; s < value.keys.size(); s++) {
        const std::string &section = value.keys[s];
        const JsonValue &content = value.items[s];
        const bool isBones = section == "bones", isSlots = section == "slots";
        if (isBones || isSlots) {
            if (content.kind != JsonValue::OBJECT) return refuse(content, what + ": '" + section + "' is not an object");
            const std::map<std::string, int> &names = isBones ? bones : slots;
            for (size_t i = 0; i < content.keys.size(); i++) {
                const std::string &target = content.keys[i];
                const JsonValue &timelines = content.items[i];
                auto found = names.find(target);
                if (found == names.end()) {
                    ok = refuse(timelines, what + " keys " + (isBones ? "bone " : "slot ") + quoted(target) +
                                               ", which is not in the skeleton");
                    continue;
                }
                if (timelines.kind != JsonValue::OBJECT) return refuse(timelines, what + ": the timelines of " + quoted(target) + " are not an object");
                for (size_t t = 0; t < timelines.keys.size(); t++)
                    ok = readTimelineOf(animation, isBones, found->second, timelines.keys[t], timelines.items[t]) && ok;
            }
        } else if (section == "events") {
            ok = readEventKeys(animation, content) && ok;
        } else if (section == "draworder" || section == "drawOrder") {
            if (!content.items.empty()) notes.add(NOTE_DRAW_ORDER, animationName);
        } else if (section == "deform") {
            if (!content.items.empty()) notes.add(NOTE_DEFORM, animationName);
        } else if (section == "ik" || section == "transform" || section == "path" || section == "physics") {
            for (const std::string &constraint : content.keys) notes.add(NOTE_CONSTRAINTS, section + " " + constraint);
        } else {
            notes.add(NOTE_UNKNOWN, "animations/" + animationName + "/" + section);
        }
    }
    out.animations.push_back(animation);
    return ok;
}

}  // namespace

bool readSkeletonExport(const JsonValue &root, const std::string &file, SkeletonExport &out, SourceReport &report,
                        ImportNotes &notes)
{
    out = SkeletonExport();
    ExportReader reader{file, report, notes, out, {}, {}, {}};
    if (root.kind != JsonValue::OBJECT) return reader.refuse(root, "not a skeleton export: the data is not an object");
    const int errorsBefore = report.errors();
    if (!reader.readBones(root)) return false;
    reader.readVersion(root);
    if (report.errors() != errorsBefore) return false;
    reader.readSlots(root) && reader.readSkins(root) && reader.readEvents(root);
    for (const char *kind : {"ik", "transform", "path", "physics"}) {
        const JsonValue *list = root.find(kind);
        if (list == nullptr) continue;
        for (const JsonValue &constraint : list->items) {
            const JsonValue *name = constraint.kind == JsonValue::OBJECT ? constraint.find("name") : nullptr;
            notes.add(NOTE_CONSTRAINTS, std::string(kind) + " " + (name && name->kind == JsonValue::STRING ? name->text : "?"));
        }
    }
    const JsonValue *animations = reader.section(root, "animations", JsonValue::OBJECT, "the skeleton");
    for (size_t i = 0; animations && report.errors() == errorsBefore && i < animations->keys.size(); i++)
        reader.readAnimation(animations->keys[i], animations->items[i]);
    static const char *const known[] = {"skeleton", "bones", "slots", "skins", "events", "animations",
                                        "ik", "transform", "path", "physics"};
    for (const std::string &key : root.keys) {
        bool listed = false;
        for (const char *name : known) listed = listed || key == name;
        if (!listed) notes.add(NOTE_UNKNOWN, key);
    }
    for (const ExportSlot &slot : out.slots) {
        bool known = slot.attachment.empty();
        for (const ExportAttachment &attachment : slot.attachments) known = known || attachment.key == slot.attachment;
        if (!known) notes.add(NOTE_MISSING, slot.name + "/" + slot.attachment);
    }
    return report.errors() == errorsBefore;
}
