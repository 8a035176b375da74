// tools/pack/asset_source.cpp - text sources of scraps, models and animations.
//
// All three are sequences of sections in the line format of project.qf: "[kind]" opens a
// section, "key = value" lines fill it (each key at most once), and the lists ([texts],
// [markers]) take one entry per line. Numbers are decimal; reals are exact decimals with at most
// nine places, the precision of the engine's stored reals, so a value comes back from the binary
// file unchanged. Everything the engine would refuse, or that would play wrongly, is an error
// with its line; what the engine copes with at run time is a warning.
// Threads: one.
#include "asset_source.h"

#include <cinttypes>
#include <cstdio>
#include <map>
#include <set>

const AssetSourceType ASSET_SOURCE_TYPES[SOURCE_KIND_COUNT] = {
    {"scraps", ".scrap", "QFPA"}, {"models", ".model", "QFEM"}, {"anims", ".anim", "QFMA"}};

int assetSourceKindOfFolder(const std::string &folder)
{
    for (int i = 0; i < SOURCE_KIND_COUNT; i++) {
        if (folder == ASSET_SOURCE_TYPES[i].folder) return i;
    }
    return -1;
}

namespace {

// ---------------------------------------------------------------- sections and values

struct Entry
{
    int line;
    std::string text;        // the whole line
    std::string key, value;  // split at the first "=" (key "" when there is none)
};

struct Section
{
    int line;
    std::string kind;
    std::vector<Entry> entries;
};

std::vector<Section> readSections(const std::string &text, const std::string &file, SourceReport &report,
                                  const char *firstSection)
{
    std::vector<Section> sections;
    for (const SourceLine &line : meaningfulLines(text)) {
        std::string kind;
        if (isSectionLine(line, kind, file, report)) {
            sections.push_back({line.number, kind, {}});
            continue;
        }
        if (sections.empty()) {
            report.error(file, line.number, std::string("expected a section such as ") + firstSection + " before this line");
            sections.push_back({line.number, "", {}});  // "": reported already, entries ignored
        }
        Entry entry{line.number, line.text, "", ""};
        const size_t equals = line.text.find('=');
        if (equals != std::string::npos) {
            entry.key = trimmed(line.text.substr(0, equals));
            entry.value = trimmed(line.text.substr(equals + 1));
        }
        sections.back().entries.push_back(entry);
    }
    return sections;
}

std::vector<std::string> words(const std::string &text)
{
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
        size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t') end++;
        if (end > i) parts.push_back(text.substr(i, end - i));
        i = end;
    }
    return parts;
}

// The first `count` words of `text` and the rest of the line after them (trimmed).
bool splitWords(const std::string &text, size_t count, std::vector<std::string> &first, std::string &rest)
{
    first.clear();
    size_t i = 0;
    while (first.size() < count) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
        size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t') end++;
        if (end == i) return false;
        first.push_back(text.substr(i, end - i));
        i = end;
    }
    rest = trimmed(text.substr(i));
    return true;
}

std::string joinedKeys(std::initializer_list<const char *> keys)
{
    std::string text;
    for (const char *key : keys) text += std::string(text.empty() ? "" : ", ") + key;
    return text;
}

// The key = value entries of one section, checked against the keys it may hold.
class Keys
{
public:
    // `repeated` keys may come any number of times; their lines are left to the caller.
    Keys(const Section &section, const std::string &file, SourceReport &report,
         std::initializer_list<const char *> allowed, const char *repeated = "")
        : file(file), report(report)
    {
        for (const Entry &entry : section.entries) {
            if (!entry.key.empty() && entry.key == repeated) continue;
            bool known = false;
            for (const char *key : allowed) known = known || entry.key == key;
            if (entry.key.empty()) {
                report.error(file, entry.line, "expected 'key = value' (keys: " + joinedKeys(allowed) + ")");
            } else if (!known) {
                report.error(file, entry.line, "unknown key '" + entry.key + "' (keys: " + joinedKeys(allowed) + ")");
            } else if (found.count(entry.key)) {
                report.error(file, entry.line, "'" + entry.key + "' is set twice (first on line " +
                                                   std::to_string(found[entry.key]->line) + ")");
            } else {
                found[entry.key] = &entry;
            }
        }
    }
    const Entry *get(const std::string &key) const
    {
        auto it = found.find(key);
        return it == found.end() ? nullptr : it->second;
    }
    // `count` whole numbers in lo..hi; false (reported) for anything else, true when absent.
    bool integers(const std::string &key, size_t count, int64_t lo, int64_t hi, int64_t *out) const
    {
        const Entry *entry = get(key);
        if (entry == nullptr) return true;
        const std::vector<std::string> parts = words(entry->value);
        bool ok = parts.size() == count;
        for (size_t i = 0; ok && i < count; i++) {
            int32_t number = 0;
            ok = parseInt32(parts[i], number) && number >= lo && number <= hi;
            out[i] = number;
        }
        if (!ok) {
            report.error(file, entry->line, "bad value '" + entry->value + "' for " + key + ": expected " +
                                                std::to_string(count) + " whole number" + (count > 1 ? "s" : "") +
                                                " from " + std::to_string(lo) + " to " + std::to_string(hi));
        }
        return ok;
    }
    bool reals(const std::string &key, size_t count, StoredReal *out) const
    {
        const Entry *entry = get(key);
        if (entry == nullptr) return true;
        const std::vector<std::string> parts = words(entry->value);
        bool ok = parts.size() == count;
        for (size_t i = 0; ok && i < count; i++) ok = parseStoredReal(parts[i], out[i]);
        if (!ok) {
            report.error(file, entry->line, "bad value '" + entry->value + "' for " + key + ": expected " +
                                                std::to_string(count) + " number" + (count > 1 ? "s" : "") +
                                                " with at most nine decimals");
        }
        return ok;
    }
    bool name(const std::string &key, std::string &out) const
    {
        const Entry *entry = get(key);
        if (entry == nullptr) return true;
        std::string problem;
        if (!parseName(entry->value, out, problem)) {
            report.error(file, entry->line, problem);
            return false;
        }
        return nameFits(out, "the " + key, file, entry->line, report);
    }
    bool flag(const std::string &key, bool &out) const
    {
        const Entry *entry = get(key);
        if (entry == nullptr) return true;
        if (entry->value == "true" || entry->value == "false") {
            out = entry->value == "true";
            return true;
        }
        report.error(file, entry->line, "bad value '" + entry->value + "' for " + key + ": expected true or false");
        return false;
    }
    bool require(const std::string &key, int sectionLine, const std::string &section) const
    {
        if (get(key)) return true;
        report.error(file, sectionLine, "[" + section + "] needs '" + key + " = ...'");
        return false;
    }

private:
    const std::string &file;
    SourceReport &report;
    std::map<std::string, const Entry *> found;
};

void unknownSection(const Section &section, const std::string &file, SourceReport &report, const char *sections)
{
    if (section.kind.empty()) return;  // a broken header, reported already
    report.error(file, section.line, "unknown section '[" + section.kind + "]' (sections: " + sections + ")");
}

void countLimit(size_t count, size_t limit, const std::string &what, const std::string &file, int line,
                SourceReport &report)
{
    if (count == limit + 1) report.error(file, line, "more than " + std::to_string(limit) + " " + what);
}

std::string numbers(std::initializer_list<int64_t> values)
{
    std::string text;
    for (int64_t value : values) text += (text.empty() ? "" : " ") + std::to_string(value);
    return text;
}

}  // namespace

// ---------------------------------------------------------------- reals

bool parseStoredReal(const std::string &text, StoredReal &real)
{
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
    int64_t whole = 0, fraction = 0;
    size_t digits = 0, decimals = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++, digits++) {
        whole = whole * 10 + (text[i] - '0');
        if (whole > 2147483648LL) return false;
    }
    if (i < text.size() && text[i] == '.') {
        for (i++; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++, decimals++) {
            if (decimals == 9) return false;
            fraction = fraction * 10 + (text[i] - '0');
        }
    }
    if (i != text.size() || digits + decimals == 0) return false;
    for (size_t d = decimals; d < 9; d++) fraction *= 10;
    if (negative && fraction > 0) {  // -(w + f) = -(w + 1) + (1 - f)
        whole = -whole - 1;
        fraction = 1000000000 - fraction;
    } else if (negative) {
        whole = -whole;
    }
    if (whole > INT32_MAX || whole < INT32_MIN) return false;
    real.whole = (int32_t)whole;
    real.fraction = (uint32_t)fraction;
    return true;
}

std::string formatStoredReal(const StoredReal &real)
{
    if (real.fraction >= 1000000000u) return "";
    int64_t whole = real.whole, fraction = real.fraction;
    std::string sign;
    if (whole < 0 && fraction > 0) {
        sign = "-";
        whole = -whole - 1;
        fraction = 1000000000 - fraction;
    } else if (whole < 0) {
        sign = "-";
        whole = -whole;
    }
    std::string text = sign + std::to_string(whole);
    if (fraction > 0) {
        char digits[16];
        snprintf(digits, sizeof digits, "%09" PRId64, fraction);
        std::string decimals = digits;
        while (decimals.back() == '0') decimals.pop_back();
        text += "." + decimals;
    }
    return text;
}

static std::string reals(std::initializer_list<StoredReal> values)
{
    std::string text;
    for (const StoredReal &value : values) text += (text.empty() ? "" : " ") + formatStoredReal(value);
    return text;
}

// ---------------------------------------------------------------- scraps

void parseScrapSource(const std::string &text, const std::string &file, ScrapFileData &out, SourceReport &report,
                      std::vector<NamedUse> *images)
{
    out = ScrapFileData();
    bool seenHeader = false;
    uint32_t totalDuration = 0;
    std::vector<int> frameLines;
    for (const Section &section : readSections(text, file, report, "[scrap] or [frame]")) {
        if (section.kind == "scrap") {
            if (seenHeader || !out.frames.empty()) report.error(file, section.line, "[scrap] comes once, before the frames");
            seenHeader = true;
            Keys keys(section, file, report, {"version"});
            int64_t version = 1;
            keys.integers("version", 1, 0, 1, &version);
            out.version = (int32_t)version;
        } else if (section.kind == "frame") {
            Keys keys(section, file, report, {"image", "rect", "offset", "duration", "frame-version"});
            ScrapFrameData frame;
            frame.lead = out.version == 1 ? 2 : 0;
            int64_t lead = frame.lead, rect[4] = {0, 0, 32, 32}, offset[2] = {0, 0}, duration = 1;
            if (out.version == 0 && keys.get("frame-version")) {
                report.error(file, keys.get("frame-version")->line, "frames of a version 0 scrap have no frame version");
            }
            keys.integers("frame-version", 1, INT32_MIN, 2, &lead);
            frame.lead = (int32_t)lead;
            if (keys.get("offset") && frame.lead < 2) {
                report.error(file, keys.get("offset")->line, out.version == 0 ? "frames of a version 0 scrap have no offset"
                                                                               : "only frame version 2 stores an offset");
            }
            keys.name("image", frame.image);
            keys.integers("rect", 4, INT16_MIN, INT16_MAX, rect);
            keys.integers("offset", 2, INT16_MIN, INT16_MAX, offset);
            keys.integers("duration", 1, 0, UINT16_MAX, &duration);
            frame.x1 = (int16_t)rect[0], frame.y1 = (int16_t)rect[1], frame.x2 = (int16_t)rect[2], frame.y2 = (int16_t)rect[3];
            frame.offsetX = (int16_t)offset[0], frame.offsetY = (int16_t)offset[1];
            frame.duration = (int16_t)(uint16_t)duration;
            totalDuration += (uint32_t)duration;
            if (duration == 0) report.warning(file, keys.get("duration")->line, "a frame of duration 0 is never shown");
            if (images && !frame.image.empty()) images->push_back({frame.image, keys.get("image")->line});
            out.frames.push_back(frame);
            frameLines.push_back(section.line);
            countLimit(out.frames.size(), MAX_SCRAP_FRAMES, "frames (the engine loads at most 100)", file, section.line,
                       report);
        } else {
            unknownSection(section, file, report, "[scrap], [frame]");
        }
    }
    if (!out.frames.empty() && totalDuration == 0) {
        report.error(file, frameLines[0], "every frame has duration 0: the flip-book could never move on");
    }
}

std::string formatScrapSource(const ScrapFileData &data)
{
    std::string text = "# Quillfen scrap (format: docs/projects.md)\n[scrap]\nversion = " + std::to_string(data.version) + "\n";
    for (const ScrapFrameData &frame : data.frames) {
        text += "\n[frame]\n";
        if (data.version == 1 && frame.lead != 2) text += "frame-version = " + std::to_string(frame.lead) + "\n";
        if (!frame.image.empty()) text += "image = " + formatName(frame.image) + "\n";
        text += "rect = " + numbers({frame.x1, frame.y1, frame.x2, frame.y2}) + "\n";
        if (data.version == 1 && frame.lead > 1) text += "offset = " + numbers({frame.offsetX, frame.offsetY}) + "\n";
        text += "duration = " + std::to_string((uint16_t)frame.duration) + "\n";
    }
    return text;
}

// ---------------------------------------------------------------- models

namespace {

struct PendingJoint
{
    size_t bone;
    std::string child;
    int line;
};

// Every bone must be reachable from a root, or it is never placed nor drawn.
void checkTree(const ModelFileData &model, const std::vector<int> &boneLines, const std::string &file,
               SourceReport &report)
{
    std::vector<int> parent(model.bones.size(), -1);
    for (size_t i = 0; i < model.bones.size(); i++) {
        for (const JointData &joint : model.bones[i].joints) {
            if (parent[joint.child] < 0) parent[joint.child] = (int)i;
        }
    }
    for (size_t i = 0; i < model.bones.size(); i++) {
        size_t at = i, steps = 0;
        while (parent[at] >= 0 && steps <= model.bones.size()) at = (size_t)parent[at], steps++;
        if (steps > model.bones.size()) {
            report.error(file, boneLines[i], "bone '" + model.bones[i].name +
                                                 "' hangs in a loop of bones that no root holds: it would never be drawn");
        }
    }
}

}  // namespace

void parseModelSource(const std::string &text, const std::string &file, ModelFileData &out, SourceReport &report,
                      std::vector<NamedUse> *scraps)
{
    out = ModelFileData();
    const int errorsBefore = report.errors();
    std::map<std::string, size_t> boneIndex;
    std::vector<int> boneLines;
    std::vector<PendingJoint> joints;
    for (const Section &section : readSections(text, file, report, "[bone]")) {
        if (section.kind != "bone") {
            unknownSection(section, file, report, "[bone]");
            continue;
        }
        BoneData bone;
        const Keys keys(section, file, report, {"name", "scrap", "position", "angle", "flag", "joint"}, "joint");
        int64_t position[2] = {0, 0}, angle = 0;
        keys.require("name", section.line, "bone");
        keys.name("name", bone.name);
        keys.name("scrap", bone.scrap);
        keys.integers("position", 2, INT32_MIN, INT32_MAX, position);
        keys.integers("angle", 1, INT32_MIN, INT32_MAX, &angle);
        keys.flag("flag", bone.flag);
        bone.x = (int32_t)position[0], bone.y = (int32_t)position[1], bone.angle = (int32_t)angle;
        if (keys.get("name")) {
            auto first = boneIndex.find(bone.name);
            if (first != boneIndex.end()) {
                report.error(file, keys.get("name")->line, "duplicate bone '" + bone.name + "' (first on line " +
                                                               std::to_string(boneLines[first->second]) + ")");
            } else {
                boneIndex[bone.name] = out.bones.size();
            }
        }
        if (scraps) scraps->push_back({bone.scrap, keys.get("scrap") ? keys.get("scrap")->line : section.line});
        for (const Entry &entry : section.entries) {
            if (entry.key != "joint") continue;
            std::vector<std::string> xy;
            std::string rest, child, problem;
            int32_t x = 0, y = 0;
            if (!splitWords(entry.value, 2, xy, rest) || !parseInt32(xy[0], x) || !parseInt32(xy[1], y) || rest.empty()) {
                report.error(file, entry.line, "expected 'joint = X Y BONE': the joint's position and the bone hanging there");
                continue;
            }
            if (!parseName(rest, child, problem)) {
                report.error(file, entry.line, problem);
                continue;
            }
            bone.joints.push_back({0, x, y});
            joints.push_back({out.bones.size(), child, entry.line});
            if (bone.joints.size() == (size_t)MAX_BONE_JOINTS + 1) {
                report.error(file, entry.line, "more than 50 joints on one bone");
            }
        }
        out.bones.push_back(bone);
        boneLines.push_back(section.line);
        countLimit(out.bones.size(), MAX_MODEL_BONES, "bones (the engine loads at most 500)", file, section.line, report);
    }
    // Joints name their bones; each bone hangs at one joint at most.
    std::vector<int> hungAt(out.bones.size(), 0);
    std::vector<size_t> jointOfBone(out.bones.size(), 0);
    for (PendingJoint &pending : joints) {
        std::vector<JointData> &list = out.bones[pending.bone].joints;
        JointData &joint = list[jointOfBone[pending.bone]++];
        auto child = boneIndex.find(pending.child);
        if (child == boneIndex.end()) {
            report.error(file, pending.line, "unknown bone '" + pending.child + "'");
            continue;
        }
        joint.child = (int32_t)child->second;
        if (hungAt[child->second]) {
            report.error(file, pending.line, "bone '" + pending.child + "' already hangs at a joint (line " +
                                                 std::to_string(hungAt[child->second]) + "); a bone hangs at one joint only");
            continue;
        }
        hungAt[child->second] = pending.line;
    }
    if (report.errors() == errorsBefore) checkTree(out, boneLines, file, report);
}

std::string formatModelSource(const ModelFileData &data)
{
    std::string text = "# Quillfen model (format: docs/projects.md)\n";
    for (const BoneData &bone : data.bones) {
        text += "\n[bone]\nname = " + formatName(bone.name) + "\n";
        if (!bone.scrap.empty()) text += "scrap = " + formatName(bone.scrap) + "\n";
        text += "position = " + numbers({bone.x, bone.y}) + "\nangle = " + std::to_string(bone.angle) + "\n";
        if (bone.flag) text += "flag = true\n";
        for (const JointData &joint : bone.joints) {
            text += "joint = " + numbers({joint.x, joint.y}) + " " + formatName(data.bones[joint.child].name) + "\n";
        }
    }
    return text;
}

// ---------------------------------------------------------------- animations

namespace {

// Event sections by type code; "event" takes any other code from its `type` key.
const char *const EVENT_SECTIONS[UPDATE_TYPE_COUNT] = {"rotation", "x-translation", "y-translation",
                                                       "x-scaling", "y-scaling",     "color",
                                                       "texture-time", "texture-speed", "texture-change"};
const char *const ANIMATION_SECTIONS = "[animation], [texts], [markers], [rotation], [x-translation], "
                                       "[y-translation], [x-scaling], [y-scaling], [color], [texture-time], "
                                       "[texture-speed], [texture-change], [event]";

int eventSectionType(const std::string &kind)
{
    for (int i = 0; i < UPDATE_TYPE_COUNT; i++) {
        if (kind == EVENT_SECTIONS[i]) return i;
    }
    return kind == "event" ? UPDATE_TYPE_COUNT : -1;
}

struct AnimationParse
{
    AnimationParse(const std::string &file, SourceReport &report) : file(file), report(report) {}
    const std::string &file;
    SourceReport &report;
    bool haveModel = false;
    std::map<std::string, int32_t> bones;  // of the model, name -> index
    std::map<std::string, int32_t> texts;  // text -> its last index
    std::vector<std::pair<std::string, int>> markerTexts;  // marker text names and lines, resolved at the end
    float lastEventTime = -3.4e38f;
    float lastMarkerTime = -3.4e38f;
};

int64_t wholeFrame(float time)  // as the engine truncates event times, saturating
{
    if (time >= 2147483648.0f) return INT32_MAX;
    if (time <= -2147483648.0f) return INT32_MIN;
    return (int32_t)time;
}

bool parseTarget(const Keys &keys, const Section &section, AnimationParse &parse, int32_t &target)
{
    if (!keys.require("bone", section.line, section.kind)) return false;
    const Entry *entry = keys.get("bone");
    std::string name;
    if (!keys.name("bone", name)) return false;
    if (!parse.haveModel) {
        if (parseInt32(name, target)) return true;
        parse.report.error(parse.file, entry->line, "bone '" + name + "' needs a model: name one under [animation] "
                                                     "(without one, bones are given by number)");
        return false;
    }
    auto found = parse.bones.find(name);
    if (found == parse.bones.end()) {
        parse.report.error(parse.file, entry->line, "unknown bone '" + name + "' (not in the model)");
        return false;
    }
    target = found->second;
    return true;
}

void parseEvent(const Section &section, int type, AnimationParse &parse, AnimationFileData &out,
                std::vector<NamedUse> *scraps)
{
    static const std::initializer_list<const char *> curveKeys = {"bone", "time", "end", "from", "to", "slopes", "unused"};
    static const std::initializer_list<const char *> keySets[UPDATE_TYPE_COUNT + 1] = {
        curveKeys, curveKeys, curveKeys, curveKeys, curveKeys,
        {"bone", "time", "end", "red", "green", "blue"},
        {"bone", "time", "value"},
        {"bone", "time", "speed", "unused"},
        {"bone", "time", "scrap"},
        {"type", "time"}};
    const Keys keys(section, parse.file, parse.report, keySets[type]);
    EventData event;
    keys.require("time", section.line, section.kind);
    keys.reals("time", 1, &event.time);
    if (type == UPDATE_TYPE_COUNT) {
        int64_t code = 9;
        keys.require("type", section.line, section.kind);
        if (keys.integers("type", 1, INT8_MIN, INT8_MAX, &code) && code >= 0 && code < UPDATE_TYPE_COUNT) {
            parse.report.error(parse.file, keys.get("type")->line, std::string("type ") + std::to_string(code) +
                                                                       " is written [" + EVENT_SECTIONS[code] + "]");
        }
        event.type = (int8_t)code;
    } else {
        event.type = (int8_t)type;
        parseTarget(keys, section, parse, event.target);
    }
    StoredReal *r = event.reals;
    if (type <= UPDATE_Y_SCALING) {
        keys.require("end", section.line, section.kind);
        keys.reals("end", 1, &r[0]);
        keys.reals("from", 1, &r[1]);
        keys.reals("to", 1, &r[2]);
        keys.reals("slopes", 2, &r[3]);
        int64_t unused[2] = {0, 0};
        keys.integers("unused", 2, 0, 255, unused);
        event.unused[0] = (uint8_t)unused[0], event.unused[1] = (uint8_t)unused[1];
        const int64_t span = wholeFrame(r[0].value()) - wholeFrame(event.time.value());
        if (span > INT32_MAX || span < INT32_MIN) {
            parse.report.error(parse.file, section.line, "the curve is longer than the engine can count in frames");
        }
    } else if (type == UPDATE_COLOR) {
        keys.require("end", section.line, section.kind);
        keys.reals("end", 1, &r[0]);
        keys.reals("red", 2, &r[1]);
        keys.reals("green", 2, &r[3]);
        keys.reals("blue", 2, &r[5]);
    } else if (type == UPDATE_TEXTURE_TIME) {
        keys.reals("value", 1, &r[0]);
    } else if (type == UPDATE_TEXTURE_SPEED) {
        keys.reals("unused", 2, &r[0]);
        keys.reals("speed", 1, &r[2]);
    } else if (type == UPDATE_TEXTURE_CHANGE) {
        keys.require("scrap", section.line, section.kind);
        std::string scrap;
        keys.name("scrap", scrap);
        event.scrap = (int32_t)out.scraps.size();
        out.scraps.push_back(scrap);
        if (scraps && keys.get("scrap")) scraps->push_back({scrap, keys.get("scrap")->line});
    }
    const float time = event.time.value();
    if (time < parse.lastEventTime) {
        parse.report.warning(parse.file, section.line, "this event comes before the one above it in time: playback "
                                                       "takes events in order, so it waits for that one");
    }
    parse.lastEventTime = time;
    out.events.push_back(event);
    countLimit(out.events.size(), MAX_ANIMATION_EVENTS, "events (the engine loads at most 49999)", parse.file,
               section.line, parse.report);
}

void parseMarker(const Entry &entry, AnimationParse &parse, AnimationFileData &out)
{
    std::vector<std::string> first;
    std::string rest, text, problem;
    MarkerData marker;
    if (!splitWords(entry.text, 3, first, rest) || rest.empty() || !parseStoredReal(first[0], marker.time) ||
        !parseStoredReal(first[1], marker.x) || !parseStoredReal(first[2], marker.y)) {
        parse.report.error(parse.file, entry.line, "expected 'TIME X Y TEXT': three numbers and a marker text");
        return;
    }
    if (!parseName(rest, text, problem)) {
        parse.report.error(parse.file, entry.line, problem);
        return;
    }
    if (marker.time.value() < parse.lastMarkerTime) {
        parse.report.warning(parse.file, entry.line, "this marker comes before the one above it in time: playback "
                                                     "takes markers in order, so it waits for that one");
    }
    parse.lastMarkerTime = marker.time.value();
    parse.markerTexts.push_back({text, entry.line});
    out.markers.push_back(marker);
    countLimit(out.markers.size(), MAX_MARKERS, "markers (the engine loads at most 2999)", parse.file, entry.line,
               parse.report);
}

}  // namespace

void parseAnimationSource(const std::string &text, const std::string &file, AnimationFileData &out,
                          const BoneNameLookup &bones, SourceReport &report, std::vector<NamedUse> *scraps)
{
    out = AnimationFileData();
    AnimationParse parse(file, report);
    std::map<std::string, int> textLines;
    bool seenHeader = false;
    const std::vector<Section> sections = readSections(text, file, report, "[animation]");
    for (const Section &section : sections) {
        if (section.kind == "animation") {
            if (seenHeader) report.error(file, section.line, "[animation] comes once");
            seenHeader = true;
            const Keys keys(section, file, report, {"model", "length", "flag"});
            keys.require("length", section.line, "animation");
            keys.reals("length", 1, &out.length);
            keys.flag("flag", out.flag);
            if (keys.get("length") && !(out.length.value() > 0)) {
                report.error(file, keys.get("length")->line, "the length must be above 0 (playback wraps at it)");
            }
            std::string model;
            if (keys.get("model") && keys.name("model", model)) {
                std::vector<std::string> names;
                if (!bones(model, names)) {
                    report.error(file, keys.get("model")->line, "model '" + model + "' is not in models/");
                }
                parse.haveModel = true;
                for (size_t i = 0; i < names.size(); i++) parse.bones[names[i]] = (int32_t)i;
            }
        } else if (!seenHeader && !section.kind.empty()) {
            report.error(file, section.line, "[animation] (length, model) comes first");
            seenHeader = true;
        }
        if (section.kind == "animation" || section.kind.empty()) continue;
        if (section.kind == "texts") {
            for (const Entry &entry : section.entries) {
                std::string name, problem;
                if (!parseName(entry.text, name, problem)) {
                    report.error(file, entry.line, problem);
                    continue;
                }
                if (!nameFits(name, "the text", file, entry.line, report)) continue;
                if (textLines.count(name)) {
                    report.warning(file, entry.line, "text '" + name + "' is listed twice (first on line " +
                                                         std::to_string(textLines[name]) + "); markers naming it get this one");
                }
                textLines[name] = entry.line;
                parse.texts[name] = (int32_t)out.texts.size();
                out.texts.push_back(name);
                countLimit(out.texts.size(), MAX_MARKER_TEXTS, "texts (the engine loads at most 2999)", file, entry.line,
                           report);
            }
        } else if (section.kind == "markers") {
            for (const Entry &entry : section.entries) parseMarker(entry, parse, out);
        } else if (eventSectionType(section.kind) >= 0) {
            parseEvent(section, eventSectionType(section.kind), parse, out, scraps);
        } else {
            unknownSection(section, file, report, ANIMATION_SECTIONS);
        }
    }
    if (!seenHeader) report.error(file, 0, "no [animation] section with the length");
    for (size_t i = 0; i < out.markers.size(); i++) {
        auto found = parse.texts.find(parse.markerTexts[i].first);
        if (found == parse.texts.end()) {
            report.error(file, parse.markerTexts[i].second,
                         "marker text '" + parse.markerTexts[i].first + "' is not listed under [texts]");
        } else {
            out.markers[i].textIndex = found->second;
        }
    }
}

std::string formatAnimationSource(const AnimationFileData &data, const std::string &model,
                                  const std::vector<std::string> &bones)
{
    std::string text = "# Quillfen animation (format: docs/projects.md)\n[animation]\n";
    if (!model.empty()) text += "model = " + formatName(model) + "\n";
    text += "length = " + formatStoredReal(data.length) + "\n";
    if (data.flag) text += "flag = true\n";
    if (!data.texts.empty()) {
        text += "\n[texts]\n";
        for (const std::string &name : data.texts) text += formatName(name) + "\n";
    }
    if (!data.markers.empty()) {
        text += "\n[markers]\n# TIME X Y TEXT\n";
        for (const MarkerData &marker : data.markers) {
            const bool valid = marker.textIndex >= 0 && (size_t)marker.textIndex < data.texts.size();
            text += reals({marker.time, marker.x, marker.y}) + " " +
                    formatName(valid ? data.texts[marker.textIndex] : "") + "\n";
        }
    }
    for (const EventData &event : data.events) {
        const bool known = event.type >= 0 && event.type < UPDATE_TYPE_COUNT;
        text += std::string("\n[") + (known ? EVENT_SECTIONS[event.type] : "event") + "]\n";
        if (!known) {
            text += "type = " + std::to_string(event.type) + "\ntime = " + formatStoredReal(event.time) + "\n";
            continue;
        }
        const bool named = !model.empty() && event.target >= 0 && (size_t)event.target < bones.size();
        text += "bone = " + (named ? formatName(bones[event.target]) : std::to_string(event.target)) + "\n";
        text += "time = " + formatStoredReal(event.time) + "\n";
        const StoredReal *r = event.reals;
        if (event.type <= UPDATE_Y_SCALING) {
            text += "end = " + formatStoredReal(r[0]) + "\nfrom = " + formatStoredReal(r[1]) + "\nto = " +
                    formatStoredReal(r[2]) + "\nslopes = " + reals({r[3], r[4]}) + "\n";
            if (event.unused[0] || event.unused[1]) text += "unused = " + numbers({event.unused[0], event.unused[1]}) + "\n";
        } else if (event.type == UPDATE_COLOR) {
            text += "end = " + formatStoredReal(r[0]) + "\nred = " + reals({r[1], r[2]}) + "\ngreen = " +
                    reals({r[3], r[4]}) + "\nblue = " + reals({r[5], r[6]}) + "\n";
        } else if (event.type == UPDATE_TEXTURE_TIME) {
            text += "value = " + formatStoredReal(r[0]) + "\n";
        } else if (event.type == UPDATE_TEXTURE_SPEED) {
            text += "speed = " + formatStoredReal(r[2]) + "\n";
            if (r[0].whole || r[0].fraction || r[1].whole || r[1].fraction) text += "unused = " + reals({r[0], r[1]}) + "\n";
        } else {
            text += "scrap = " + formatName(scrapName(data, event)) + "\n";
        }
    }
    return text;
}
