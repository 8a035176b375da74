// Skeletons from an animation editor's export, end to end: two exports written here by hand (a
// two-bone arm in the 3.8 layout; a small character in the older 3.7 layout with three
// animations covering rotate, translate, scale, colour and attachment keys, events, stepped and
// bezier curves, a region stored turned on its page and one with its border stripped) are
// imported with `quillfen-pack import-skeleton`, compiled and played by the real engine. Every
// part of every picture has a colour of its own; at chosen times the centre of each on screen
// must be where a forward-kinematics calculation of this file, done from the same numbers the
// JSON holds, puts it.
#include <cmath>
#include <functional>
#include <map>
#include <sstream>

#include "e2e_project.h"

namespace {

// ---------------------------------------------------------------- an export, as numbers

struct Curve
{
    char kind = 'l';  // 'l' linear, 's' stepped, 'b' bezier (cx1, cy1, cx2, cy2 as fractions)
    double b[4] = {0, 0, 1, 1};
};
struct Key
{
    double time;
    std::vector<double> values;  // angle; x y; r g b a. Attachment keys: none
    Curve curve = {};
    std::string attachment = "";  // attachment keys: "" is null
};
struct Timeline
{
    std::string target, kind;  // bone + rotate/translate/scale; slot + attachment/color
    std::vector<Key> keys;
};
struct Part  // a rectangle of a picture's own pixels (from its bottom-left) in one colour
{
    int x0, y0, x1, y1;
    uint32_t color;
};
struct Region
{
    std::string name;
    int width, height;  // the picture
    int pageX, pageY;   // where its stored rectangle starts on the page (from the top-left)
    bool rotated = false;
    int trim[4] = {0, 0, 0, 0};  // stripped border: left, bottom, and the stored size (0 0: none)
    std::vector<Part> parts;
};
struct Bone
{
    std::string name, parent;
    double x, y, rotation, scaleX = 1, scaleY = 1;
};
struct Attachment
{
    std::string slot, name, region;
    double x, y, rotation, width, height;
};
struct Slot
{
    std::string name, bone, attachment;
};
struct Event
{
    double time;
    std::string name;
    int intValue;
    double floatValue;
};
struct Animation
{
    std::string name;
    std::vector<Timeline> timelines;
    std::vector<Event> events;
};
struct Export
{
    std::string name, version;  // "3.8.99": skins as a list, curve numbers; "3.7.94": skins as an object, curve arrays
    int fps;
    std::vector<Bone> bones;
    std::vector<Slot> slots;
    std::vector<Attachment> attachments;
    std::vector<Region> regions;
    std::vector<std::string> events;
    std::vector<Animation> animations;
    int pageWidth, pageHeight;
    int boxLeft;  // where its pictures may lie, from the origin on screen: boxLeft .. boxLeft + 160
};

template <typename T>
const T &named(const std::vector<T> &items, const std::string &name)  // a bone, region or animation
{
    for (const T &item : items)
        if (item.name == name) return item;
    throw std::runtime_error("nothing named " + name);
}

// ---------------------------------------------------------------- the files

std::string number(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}
std::string hexColor(const std::vector<double> &rgba)
{
    char text[16];
    snprintf(text, sizeof text, "%02x%02x%02x%02x", (int)std::lround(rgba[0] * 255), (int)std::lround(rgba[1] * 255),
             (int)std::lround(rgba[2] * 255), (int)std::lround(rgba[3] * 255));
    return text;
}

std::string keyJson(const Export &e, const Timeline &timeline, const Key &key)
{
    std::string json = "{ \"time\": " + number(key.time);
    const std::string &kind = timeline.kind;
    if (kind == "rotate") json += ", \"angle\": " + number(key.values[0]);
    if (kind == "translate" || kind == "scale") json += ", \"x\": " + number(key.values[0]) + ", \"y\": " + number(key.values[1]);
    if (kind == "color") json += ", \"color\": \"" + hexColor(key.values) + "\"";
    if (kind == "attachment") json += ", \"name\": " + (key.attachment.empty() ? "null" : "\"" + key.attachment + "\"");
    if (key.curve.kind == 's') json += ", \"curve\": \"stepped\"";
    const double *b = key.curve.b;
    if (key.curve.kind == 'b' && e.version[2] == '8')
        json += ", \"curve\": " + number(b[0]) + ", \"c2\": " + number(b[1]) + ", \"c3\": " + number(b[2]) + ", \"c4\": " + number(b[3]);
    if (key.curve.kind == 'b' && e.version[2] != '8')
        json += ", \"curve\": [" + number(b[0]) + ", " + number(b[1]) + ", " + number(b[2]) + ", " + number(b[3]) + "]";
    return json + " }";
}

std::string exportJson(const Export &e)
{
    std::string json = "{\n\"skeleton\": { \"spine\": \"" + e.version + "\", \"fps\": " + std::to_string(e.fps) + " },\n\"bones\": [\n";
    for (size_t i = 0; i < e.bones.size(); i++) {
        const Bone &b = e.bones[i];
        json += std::string(i ? ",\n" : "") + "  { \"name\": \"" + b.name + "\"" + (b.parent.empty() ? "" : ", \"parent\": \"" + b.parent + "\"") +
                ", \"x\": " + number(b.x) + ", \"y\": " + number(b.y) + ", \"rotation\": " + number(b.rotation) +
                ", \"scaleX\": " + number(b.scaleX) + ", \"scaleY\": " + number(b.scaleY) + " }";
    }
    json += "\n],\n\"slots\": [\n";
    for (size_t i = 0; i < e.slots.size(); i++)
        json += std::string(i ? ",\n" : "") + "  { \"name\": \"" + e.slots[i].name + "\", \"bone\": \"" + e.slots[i].bone +
                "\", \"attachment\": \"" + e.slots[i].attachment + "\" }";
    std::string skin;
    for (const Slot &slot : e.slots) {
        std::string attachments;
        for (const Attachment &a : e.attachments) {
            if (a.slot != slot.name) continue;
            attachments += std::string(attachments.empty() ? "" : ", ") + "\"" + a.name + "\": { \"path\": \"" + a.region +
                           "\", \"x\": " + number(a.x) + ", \"y\": " + number(a.y) + ", \"rotation\": " + number(a.rotation) +
                           ", \"width\": " + number(a.width) + ", \"height\": " + number(a.height) + " }";
        }
        skin += std::string(skin.empty() ? "" : ",\n") + "    \"" + slot.name + "\": { " + attachments + " }";
    }
    json += e.version[2] == '8' ? "\n],\n\"skins\": [ { \"name\": \"default\", \"attachments\": {\n" + skin + "\n} } ],\n"
                                : "\n],\n\"skins\": { \"default\": {\n" + skin + "\n} },\n";
    json += "\"events\": {";
    for (size_t i = 0; i < e.events.size(); i++) json += std::string(i ? ", " : " ") + "\"" + e.events[i] + "\": {}";
    json += " },\n\"animations\": {\n";
    for (size_t a = 0; a < e.animations.size(); a++) {
        const Animation &animation = e.animations[a];
        std::map<std::string, std::string> bones, slots;
        for (const Timeline &timeline : animation.timelines) {
            std::string keys;
            for (const Key &key : timeline.keys) keys += std::string(keys.empty() ? "" : ", ") + keyJson(e, timeline, key);
            const bool slot = timeline.kind == "color" || timeline.kind == "attachment";
            std::string &into = (slot ? slots : bones)[timeline.target];
            into += std::string(into.empty() ? "" : ", ") + "\"" + timeline.kind + "\": [ " + keys + " ]";
        }
        std::string sections;
        for (auto *group : {&bones, &slots}) {
            std::string list;
            for (const auto &target : *group) list += std::string(list.empty() ? "" : ", ") + "\"" + target.first + "\": { " + target.second + " }";
            if (!list.empty()) sections += std::string(sections.empty() ? "" : ",\n") + "    \"" + (group == &bones ? "bones" : "slots") + "\": { " + list + " }";
        }
        std::string events;
        for (const Event &event : animation.events)
            events += std::string(events.empty() ? "" : ", ") + "{ \"time\": " + number(event.time) + ", \"name\": \"" + event.name +
                      "\", \"int\": " + std::to_string(event.intValue) + ", \"float\": " + number(event.floatValue) + " }";
        if (!events.empty()) sections += ",\n    \"events\": [ " + events + " ]";
        json += std::string(a ? ",\n" : "") + "  \"" + animation.name + "\": {\n" + sections + "\n  }";
    }
    return json + "\n}\n}\n";
}

// The atlas (newer syntax for the 3.8 export, older for the 3.7 one) and ImageMagick's arguments
// drawing its page: each part where its region stores it (turned a quarter turn counter-clockwise
// when rotated: the picture's top at the left).
std::string atlasText(const Export &e, std::string &draw)
{
    const bool newer = e.version[2] == '8';
    std::string atlas = e.name + ".png\nsize: " + std::to_string(e.pageWidth) + ", " + std::to_string(e.pageHeight) + "\nfilter: Linear, Linear\n";
    for (const Region &r : e.regions) {
        const bool trimmed = r.trim[2] > 0;
        const int w = trimmed ? r.trim[2] : r.width, h = trimmed ? r.trim[3] : r.height;
        const std::string x = std::to_string(r.pageX), y = std::to_string(r.pageY), rotate = r.rotated ? "true" : "false";
        atlas += r.name + "\n";
        if (newer) atlas += "  bounds: " + x + ", " + y + ", " + std::to_string(w) + ", " + std::to_string(h) + "\n";
        else atlas += "  rotate: " + rotate + "\n  xy: " + x + ", " + y + "\n  size: " + std::to_string(w) + ", " + std::to_string(h) + "\n";
        if (trimmed && newer)
            atlas += "  offsets: " + std::to_string(r.trim[0]) + ", " + std::to_string(r.trim[1]) + ", " + std::to_string(r.width) + ", " + std::to_string(r.height) + "\n";
        if (trimmed && !newer)
            atlas += "  orig: " + std::to_string(r.width) + ", " + std::to_string(r.height) + "\n  offset: " + std::to_string(r.trim[0]) + ", " + std::to_string(r.trim[1]) + "\n";
        if (newer && r.rotated) atlas += "  rotate: 90\n";
        if (!newer) atlas += "  index: -1\n";
        for (const Part &p : r.parts) {
            int left, top, right, bottom;  // page pixels, inclusive
            if (r.rotated) {
                left = r.pageX + r.height - p.y1, right = r.pageX + r.height - p.y0 - 1;
                top = r.pageY + r.width - p.x1, bottom = r.pageY + r.width - 1 - p.x0;
            } else {
                left = r.pageX + p.x0 - r.trim[0], right = r.pageX + p.x1 - r.trim[0] - 1;
                top = r.pageY + h - (p.y1 - r.trim[1]), bottom = r.pageY + h - (p.y0 - r.trim[1]) - 1;
            }
            char colour[16];
            snprintf(colour, sizeof colour, "#%06X", p.color);
            draw += " -fill '" + std::string(colour) + "' -draw 'rectangle " + std::to_string(left) + "," + std::to_string(top) +
                    " " + std::to_string(right) + "," + std::to_string(bottom) + "'";
        }
    }
    return atlas;
}

// ---------------------------------------------------------------- forward kinematics

double bezier(double s, double p1, double p2) { return 3 * (1 - s) * (1 - s) * s * p1 + 3 * (1 - s) * s * s * p2 + s * s * s; }

// The timeline's values at `time` seconds; `setup` before its first key.
std::vector<double> valuesAt(const Timeline *timeline, double time, const std::vector<double> &setup)
{
    if (timeline == nullptr || timeline->keys.empty() || time < timeline->keys[0].time) return setup;
    size_t i = 0;
    while (i + 1 < timeline->keys.size() && timeline->keys[i + 1].time <= time) i++;
    const Key &a = timeline->keys[i];
    if (i + 1 == timeline->keys.size() || a.curve.kind == 's') return a.values;
    const Key &b = timeline->keys[i + 1];
    double f = (time - a.time) / (b.time - a.time);
    if (a.curve.kind == 'b') {
        double lo = 0, hi = 1;
        for (int n = 0; n < 200; n++) (bezier((lo + hi) / 2, a.curve.b[0], a.curve.b[2]) < f ? lo : hi) = (lo + hi) / 2;
        f = bezier((lo + hi) / 2, a.curve.b[1], a.curve.b[3]);
    }
    std::vector<double> out;
    for (size_t k = 0; k < a.values.size(); k++) out.push_back(a.values[k] + (b.values[k] - a.values[k]) * f);
    return out;
}

const Timeline *timelineOf(const Animation &animation, const std::string &target, const std::string &kind)
{
    for (const Timeline &timeline : animation.timelines)
        if (timeline.target == target && timeline.kind == kind) return &timeline;
    return nullptr;
}

struct Affine  // x' = a x + b y + tx, y' = c x + d y + ty
{
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    Affine then(const Affine &o) const  // this after o: this * o
    {
        return {a * o.a + b * o.c, a * o.b + b * o.d, c * o.a + d * o.c, c * o.b + d * o.d, a * o.tx + b * o.ty + tx, c * o.tx + d * o.ty + ty};
    }
};
Affine local(double x, double y, double degrees, double sx, double sy)
{
    const double r = degrees * M_PI / 180;
    return {cos(r) * sx, -sin(r) * sy, sin(r) * sx, cos(r) * sy, x, y};
}

// A bone's world transform at `time` seconds: parent * T(x, y) R(rotation) S(scale), with the
// rotate and translate keys added to the setup and the scale keys multiplying it.
Affine world(const Export &e, const Animation &animation, const std::string &name, double time)
{
    const Bone &bone = named(e.bones, name);
    const double turn = valuesAt(timelineOf(animation, name, "rotate"), time, {0})[0];
    const std::vector<double> move = valuesAt(timelineOf(animation, name, "translate"), time, {0, 0});
    const std::vector<double> scale = valuesAt(timelineOf(animation, name, "scale"), time, {1, 1});
    const Affine own = local(bone.x + move[0], bone.y + move[1], bone.rotation + turn, bone.scaleX * scale[0], bone.scaleY * scale[1]);
    return bone.parent.empty() ? own : world(e, animation, bone.parent, time).then(own);
}

struct Expected
{
    uint32_t color;
    double x, y;  // the centre, model pixels
    double area;  // model pixels covered
    bool shown;
};

// Every part of every slot's picture at `time`: colour (times the slot's colour), centre, area.
std::vector<Expected> expectedParts(const Export &e, const Animation &animation, double time)
{
    std::vector<Expected> parts;
    for (const Slot &slot : e.slots) {
        std::string shown = slot.attachment;
        if (const Timeline *keys = timelineOf(animation, slot.name, "attachment")) {
            for (const Key &key : keys->keys)
                if (key.time <= time) shown = key.attachment;
        }
        const std::vector<double> tint = valuesAt(timelineOf(animation, slot.name, "color"), time, {1, 1, 1, 1});
        for (const Attachment &a : e.attachments) {
            if (a.slot != slot.name) continue;
            const Region &region = named(e.regions, a.region);
            // The picture's pixel (u, v) from its bottom-left sits at (u - w/2, v - h/2) of the quad's centre.
            const Affine place = world(e, animation, slot.bone, time)
                                     .then(local(a.x, a.y, a.rotation, a.width / region.width, a.height / region.height))
                                     .then(local(-region.width / 2.0, -region.height / 2.0, 0, 1, 1));
            const double scale = std::fabs(place.a * place.d - place.b * place.c);
            for (const Part &p : region.parts) {
                const double u = (p.x0 + p.x1) / 2.0, v = (p.y0 + p.y1) / 2.0;
                uint32_t color = 0;
                for (int channel = 0; channel < 3; channel++) {
                    const double value = (p.color >> (16 - 8 * channel) & 0xFF) * tint[channel];
                    color |= uint32_t(std::lround(value)) << (16 - 8 * channel);
                }
                parts.push_back({color, place.a * u + place.b * v + place.tx, place.c * u + place.d * v + place.ty,
                                 (p.x1 - p.x0) * (p.y1 - p.y0) * scale, a.name == shown});
            }
        }
    }
    return parts;
}

// ---------------------------------------------------------------- the two exports

Key at(double time, std::vector<double> values, Curve curve = {}) { return {time, values, curve}; }
Key showing(double time, const std::string &attachment) { return {time, {}, {}, attachment}; }

Export twoBoneArm()
{
    Export e{"arm", "3.8.99", 60, {}, {}, {}, {}, {}, {}, 96, 32, -40};
    e.bones = {{"root", "", 0, 0, 0}, {"upper", "root", 0, 0, 20}, {"lower", "upper", 70, 0, 30}};
    e.slots = {{"upper", "upper", "upper"}, {"lower", "lower", "lower"}};
    e.attachments = {{"upper", "upper", "upper", 35, 0, 0, 50, 12}, {"lower", "lower", "lower", 30, 0, 0, 40, 10}};
    e.regions = {{"upper", 50, 12, 0, 0, false, {}, {{0, 0, 50, 12, 0xFF2020}}},
                 {"lower", 40, 10, 52, 0, false, {}, {{0, 0, 40, 10, 0x20C020}}}};
    // The upper arm eases up with an uneven bezier; the forearm bends linearly, then holds (stepped).
    Curve ease{'b', {0.5, 0, 0.9, 1}};
    e.animations = {{"lift",
                     {{"upper", "rotate", {at(0, {0}, ease), at(1, {70})}},
                      {"lower", "rotate", {at(0, {0}), at(0.5, {-40}, {'s'}), at(1, {10})}}},
                     {}}};
    return e;
}

Export smallCharacter()
{
    Export e{"hero", "3.7.94", 30, {}, {}, {}, {}, {"step", "blink"}, {}, 128, 64, -80};
    e.bones = {{"root", "", 0, 0, 0},        {"hip", "root", 0, 0, 0},      {"torso", "hip", 0, 8, 90, 1.1, 1.1},
               {"head", "torso", 60, 0, 0}, {"arm", "torso", 45, 0, -100}, {"leg", "hip", 0, 0, -90}};
    e.slots = {{"leg", "leg", "leg"}, {"torso", "torso", "torso"}, {"head", "head", "head"}, {"arm", "arm", "arm"}};
    e.attachments = {{"leg", "leg", "leg", 25, 0, 0, 40, 10},        {"torso", "torso", "torso", 28, 0, 0, 40, 16},
                     {"head", "head", "head", 16, 0, 0, 20, 20},     {"head", "head2", "visor", 16, 2, 90, 30, 20},
                     {"arm", "arm", "arm", 25, 0, 0, 24, 8}};
    Region torso{"torso", 40, 16, 0, 0, true, {}, {{0, 0, 20, 16, 0xFFFF00}, {20, 0, 40, 16, 0xA000FF}}};
    Region visor{"visor", 30, 20, 20, 0, false, {4, 2, 20, 12}, {{4, 2, 24, 14, 0xFF8C00}}};
    e.regions = {{"leg", 40, 10, 44, 0, false, {}, {{0, 0, 40, 10, 0x007800}}}, torso, visor,
                 {"head", 20, 20, 86, 0, false, {}, {{0, 0, 20, 20, 0x00FFFF}}},
                 {"arm", 24, 8, 44, 14, false, {}, {{0, 0, 24, 8, 0xFFFFFF}}}};
    Curve ease{'b', {0.25, 0, 0.75, 1}}, late{'b', {0.6, 0.1, 0.9, 0.4}};
    e.animations = {
        {"walk",
         {{"hip", "translate", {at(0, {0, 0}, ease), at(0.5, {20, 5}), at(1, {0, 0})}},
          {"leg", "rotate", {at(0, {0}, {'s'}), at(0.4, {30}, {'s'}), at(0.8, {-20})}}},
         {{0, "step", 7, 1.5}, {0.5, "step", 8, -2}}},
        {"grow",
         {{"torso", "scale", {at(0, {1, 1}, late), at(1, {1.5, 1.5})}}, {"arm", "scale", {at(0, {1, 1}), at(1, {1.3, 1})}},
          {"arm", "rotate", {at(0, {0}, ease), at(1, {30})}}},
         {}},
        {"flash",
         {{"arm", "color", {at(0, {1, 1, 1, 1}), at(0.5, {1, 0, 0, 1}, {'s'}), at(0.8, {0, 0, 1, 1}), at(1, {0, 0, 1, 1})}},
          {"head", "attachment", {showing(0.3, "head2"), showing(0.6, ""), showing(0.9, "head")}}},
         {{0.3, "blink", 1, 0.25}}},
    };
    return e;
}

// ---------------------------------------------------------------- on screen

struct Look  // one pose on screen: an export's animation advanced to `frames`, its origin at (x, y)
{
    const Export *e;
    std::string animation;
    double frames;
    int page, x, y;
};

// Pixels of `color` (each channel within 40) in a rectangle of the window: count and centre.
struct Found
{
    int count = 0;
    double x = 0, y = 0;
};
Found find(const std::vector<uint32_t> &image, uint32_t color, int left, int bottom, int width, int height)
{
    Found found;
    for (int y = bottom; y < bottom + height; y++) {
        for (int x = left; x < left + width; x++) {
            const uint32_t pixel = image[(479 - y) * 640 + x];
            bool near = true;
            for (int shift : {16, 8, 0}) near = near && std::abs(int(pixel >> shift & 0xFF) - int(color >> shift & 0xFF)) <= 40;
            if (!near) continue;
            found.count++, found.x += x + 0.5, found.y += y + 0.5;
        }
    }
    if (found.count) found.x /= found.count, found.y /= found.count;
    return found;
}

// Catches a bone placed or turned wrongly (setup pose, joints, inherited scale), a curve not
// followed (bezier of either layout, linear, stepped held past its key), a translate or scale key
// taken as absolute, a region cut from the wrong place, not turned upright or turned the wrong
// way, a stripped border not put back, a colour or attachment key not reaching the picture, and
// events lost, mistimed or without their int and float.
TEST(SkeletonImport, PicturesLandWhereTheEditorsSkeletonPutsThem)
{
    // On an X server of its own: windows other tests open on the shared one cover the game's.
    PrivateXServer x;
    if (!x.start()) GTEST_SKIP() << x.problem;
    setenv("DISPLAY", x.display.c_str(), 1);  // for the window helpers and the engine this test starts
    REQUIRE_X_DISPLAY();
    SourceProject project;
    const Export arm = twoBoneArm(), hero = smallCharacter();
    for (const Export *e : {&arm, &hero}) {
        std::string draw;
        const std::string folder = project.path("export-" + e->name);
        writeTree(folder, {{e->name + ".json", exportJson(*e)}, {e->name + ".atlas", atlasText(*e, draw)}});
        ASSERT_EQ(0, system(("convert -size " + std::to_string(e->pageWidth) + "x" + std::to_string(e->pageHeight) + " xc:none" + draw +
                             " PNG32:'" + folder + "/" + e->name + ".png'").c_str()));
        std::vector<std::string> args = {"import-skeleton", folder + "/" + e->name + ".json", folder + "/" + e->name + ".atlas",
                                         project.source()};
        if (e == &hero) args.insert(args.end(), {"--fps", "30"});
        const ProcessResult imported = runPackTool(args);
        ASSERT_EQ(0, imported.exitCode) << imported.err;
        EXPECT_EQ("", imported.err) << "nothing the engine cannot show";
    }
    // Up to eight looks a page, each in a 160 x 240 cell: the arm at 60 frames a second, the character at 30.
    const std::vector<Look> looks = {
        {&arm, "lift", 0, 1, 40, 60},      {&arm, "lift", 21, 1, 200, 60},   {&arm, "lift", 30, 1, 360, 60},
        {&arm, "lift", 59, 1, 520, 60},    {&arm, "lift", 9.5, 1, 40, 300},  {&hero, "walk", 0, 1, 240, 300},
        {&hero, "walk", 7, 1, 400, 300},   {&hero, "walk", 11, 1, 560, 300}, {&hero, "walk", 12, 2, 80, 60},
        {&hero, "walk", 20, 2, 240, 60},   {&hero, "walk", 29, 2, 400, 60},  {&hero, "grow", 10, 2, 560, 60},
        {&hero, "grow", 22, 2, 80, 300},   {&hero, "flash", 4, 2, 240, 300}, {&hero, "flash", 16, 2, 400, 300},
        {&hero, "flash", 25, 2, 560, 300}, {&hero, "flash", 12, 3, 80, 60},  {&hero, "flash", 20, 3, 240, 60},
        {&hero, "walk", 15, 3, 400, 60},   {&hero, "grow", 29, 3, 560, 60},
    };
    std::string plan = "PLAN = {\n", marked = "MARKED = {\n";
    for (const Look &look : looks)
        plan += "  {model = '" + look.e->name + "', anim = '" + look.e->name + "-" + look.animation + "', frames = " + number(look.frames) +
                ", page = " + std::to_string(look.page) + ", x = " + std::to_string(look.x) + ", y = " + std::to_string(look.y) + "},\n";
    std::string expectedMarkers;
    for (const Animation &animation : hero.animations) {
        marked += "  {model = 'hero', anim = 'hero-" + animation.name + "', length = 30},\n";
        for (const Event &event : animation.events) {
            int index = 0;
            while (hero.events[index] != event.name) index++;
            char line[128];
            snprintf(line, sizeof line, "marker hero-%s %g %d %d %g\n", animation.name.c_str(), event.time * hero.fps, index,
                     event.intValue, event.floatValue);
            expectedMarkers += line;
        }
    }
    project.room("a", "[models]\narm\nhero\n[animations]\narm-lift\nhero-walk\nhero-grow\nhero-flash\n",
                 "io.stdout:setvbuf('no')\n" + plan + "}\n" + marked + "}\n" + R"(
local poses, page, drawn = {}, 1, 0
function Init()
  for _, p in ipairs(PLAN) do
    local pose = getModelPose(getModelHandle(p.model))
    animatePose(pose, getAnimHandle(p.anim), p.frames)
    table.insert(poses, {pose = pose, page = p.page, x = p.x, y = p.y})
  end
  for _, m in ipairs(MARKED) do  -- a loop frame by frame, up to the wrap
    local pose, anim = getModelPose(getModelHandle(m.model)), getAnimHandle(m.anim)
    for f = 1, m.length - 1 do
      animatePose(pose, anim, 1)
      for _, k in ipairs(getActiveMarkers(pose)) do
        print(string.format('marker %s %g %d %g %g', m.anim, k.time, k.textIndex, k.x, k.y))
      end
    end
  end
end
function Step() if io.open('page' .. (page + 1)) then page, drawn = page + 1, 0 end end
function Render()
  for _, p in ipairs(poses) do
    if p.page == page then pushMatrix() translateRender(p.x, p.y, 0) renderPose(p.pose) popMatrix() end
  end
  drawn = drawn + 1
  if drawn == 3 then print('page ' .. page) end
end
)");
    const ProcessResult built = project.compile();
    ASSERT_EQ(0, built.exitCode) << built.err;

    ChildProcess engine;
    ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, project.game(), ENGINE_ENV));
    const unsigned long window = waitForGameWindow(engine.pid());
    ASSERT_NE(0u, window) << "no 640 x 480 window";
    for (int page = 1; page <= 3; page++) {
        if (page > 1) writeFile(project.game() + "/page" + std::to_string(page), "");
        const std::string shown = "page " + std::to_string(page) + "\n";
        for (int i = 0; i < 2000 && engine.out().find(shown) == std::string::npos; i++) usleep(10 * 1000);
        ASSERT_NE(std::string::npos, engine.out().find(shown)) << engine.out() << engine.err();
        usleep(200 * 1000);
        const std::vector<uint32_t> image = windowImage(window, 640, 480);
        ASSERT_EQ(640u * 480u, image.size());
        for (const Look &look : looks) {
            if (look.page != page) continue;
            const Animation &animation = named(look.e->animations, look.animation);
            for (const Expected &part : expectedParts(*look.e, animation, look.frames / look.e->fps)) {
                SCOPED_TRACE(look.e->name + "-" + look.animation + " at frame " + number(look.frames) + ", colour " + number(part.color));
                const Found found = find(image, part.color, look.x + look.e->boxLeft, look.y - 50, 160, 230);
                if (!part.shown) {
                    EXPECT_LT(found.count, 3) << "a picture not shown at this time";
                    continue;
                }
                EXPECT_NEAR(part.area, found.count, part.area * 0.25 + 8) << "its size";
                EXPECT_LE(std::hypot(found.x - look.x - part.x, found.y - look.y - part.y), 1.0)
                    << "expected its centre at (" << look.x + part.x << ", " << look.y + part.y << "), found (" << found.x
                    << ", " << found.y << ")";
            }
        }
    }
    EXPECT_TRUE(requestWindowClose(window));
    ASSERT_TRUE(engine.waitExit(60000));
    std::string markers;
    std::istringstream lines(engine.out());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("marker ", 0) == 0) markers += line + "\n";
    EXPECT_EQ(expectedMarkers, markers);
    EXPECT_EQ(noArchiveLine(), engine.err());
}

}  // namespace
