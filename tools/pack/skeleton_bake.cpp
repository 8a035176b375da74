// tools/pack/skeleton_bake.cpp - the editor's pose at any time, and its animations baked into
// the engine's events.
//
// The editor composes each bone's world transform from its parent's: origin + M (x, y) and
// M R(rotation) S(scaleX, scaleY). The engine gives a bone a world angle (its parent's plus its
// own rotation), its own scale, and an offset (translation) from its joint on the parent in the
// parent's turned frame. So for every rig bone and time the baker computes the editor's world
// transform and reads the engine's track values off it: the turn relative to the parent (kept
// continuous: the key's own angle when the parent's scale is uniform, as it is unless shear is
// noted), the scale the bone has in the world once that turn is taken out, and the offset that
// puts its origin where the editor has it, given where the engine puts its joint.
//
// Each track is then followed by cubic curve events between whole frames: key times become
// frames at the chosen rate (a key between frames moves to the nearest, noted); between two
// frames where any key of the bone or its ancestors lies the value is smooth, and one cubic is
// tried (the Hermite segment with the true values and slopes at its ends, and the cubic through
// four points of it); where neither stays within tolerance on a grid of four samples a frame,
// the segment is split in half, down to single frames. Stepped keys give holds; the value at a
// key's frame is its value after the key, the end of the segment before it the value before.
// Colours fade linearly in the engine: the same splitting with straight pieces.
// Threads: one.
#include "skeleton_bake.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>

namespace {

const int GRID = 4;  // samples a frame
const double ROTATION_TOLERANCE = 0.05;  // degrees: half of what is promised, leaving room for the parents
const double PIXEL_TOLERANCE = 0.25;     // px: translations, and scales times the bone's reach
const double COLOR_TOLERANCE = 1.0 / 255;
const double SLOPE_STEP = 1e-3;          // frames, for one-sided derivatives
const double DEGREES = 3.14159265358979323846 / 180;

const char *const NOTE_OFF_GRID = "key times between frames were moved to the nearest frame";
const char *const NOTE_LOOSE = "curves followed less closely than half a pixel and a tenth of a degree at this frame rate";

// ---------------------------------------------------------------- the editor's curves

double bezierAxis(double s, double p1, double p2)  // 0 at s = 0, 1 at s = 1
{
    const double r = 1 - s;
    return 3 * r * r * s * p1 + 3 * r * s * s * p2 + s * s * s;
}

// The value fraction of a normalised bezier segment at the time fraction f: solves x(s) = f
// (monotonic: the handles' times lie in 0..1) by Newton steps kept inside a bisection bracket.
double bezierFraction(const double b[4], double f)
{
    double lo = 0, hi = 1, s = f;
    for (int i = 0; i < 100; i++) {
        const double x = bezierAxis(s, b[0], b[2]) - f;
        if (std::fabs(x) < 1e-15) break;
        if (x > 0) hi = s;
        else lo = s;
        const double r = 1 - s;
        const double slope = 3 * r * r * b[0] + 6 * r * s * (b[2] - b[0]) + 3 * s * s * (1 - b[2]);
        const double next = slope > 1e-12 ? s - x / slope : -1;
        s = next > lo && next < hi ? next : (lo + hi) / 2;
        if (hi - lo < 1e-16) break;
    }
    return bezierAxis(s, b[1], b[3]);
}

// How many keys of `keys` are reached at t: those before it, and those at it unless side < 0.
size_t keysReached(const ExportTimeline &keys, double t, int side)
{
    auto at = side < 0 ? std::lower_bound(keys.begin(), keys.end(), t, [](const ExportKey &k, double v) { return k.time < v; })
                       : std::upper_bound(keys.begin(), keys.end(), t, [](double v, const ExportKey &k) { return v < k.time; });
    return (size_t)(at - keys.begin());
}

// The timeline's `count` values at t; false before its first key (the setup pose holds there).
bool sampleTimeline(const ExportTimeline &keys, double t, int side, int count, double out[4])
{
    const size_t reached = keysReached(keys, t, side);
    if (reached == 0) return false;
    const ExportKey &a = keys[reached - 1];
    if (reached == keys.size() || a.curve == CURVE_STEPPED) {
        std::copy(a.values, a.values + count, out);
        return true;
    }
    const ExportKey &b = keys[reached];
    const double f = (t - a.time) / (b.time - a.time);
    const double y = a.curve == CURVE_BEZIER ? bezierFraction(a.bezier, f) : f;
    for (int i = 0; i < count; i++) out[i] = a.values[i] + (b.values[i] - a.values[i]) * y;
    return true;
}

int attachmentIndex(const ExportSlot &slot, const std::string &key)
{
    for (size_t i = 0; i < slot.attachments.size(); i++) {
        if (slot.attachments[i].key == key) return (int)i;
    }
    return -1;
}

// The attachment a slot shows at t: an index into its attachments, -1 for none.
int shownAttachment(const ExportSlot &slot, const SlotTimelines *timelines, double t, int side)
{
    if (timelines && !timelines->attachment.empty()) {
        const size_t reached = keysReached(timelines->attachment, t, side);
        if (reached > 0) {
            const ExportKey &key = timelines->attachment[reached - 1];
            return key.empty ? -1 : attachmentIndex(slot, key.attachment);
        }
    }
    return slot.attachment.empty() ? -1 : attachmentIndex(slot, slot.attachment);
}

template <typename Map>
const typename Map::mapped_type *timelinesOf(const ExportAnimation *animation, const Map ExportAnimation::*member, int index)
{
    if (animation == nullptr) return nullptr;
    auto found = (animation->*member).find(index);
    return found == (animation->*member).end() ? nullptr : &found->second;
}

// ---------------------------------------------------------------- world frames

void multiply(const double a[4], const double b[4], double out[4])
{
    const double r[4] = {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2],
                         a[2] * b[1] + a[3] * b[3]};
    std::copy(r, r + 4, out);
}

// The child's turn relative to its parent. With a uniform parent scale (the case the engine
// shows) it is the key's own angle, negated under a mirrored parent; otherwise the direction of
// the child's x axis, taken the same way round.
double relativeTurn(const double parentK[4], const double n[4], double rotation, double scaleX)
{
    const double a = parentK[0], d = parentK[3];
    const double size = std::max({std::fabs(a), std::fabs(d), 1e-12});
    const double sign = a * d < 0 ? -1 : 1;
    if (std::fabs(std::fabs(a) - std::fabs(d)) <= 1e-9 * size && std::fabs(parentK[1]) <= 1e-9 * size &&
        std::fabs(parentK[2]) <= 1e-9 * size)
        return sign * rotation;
    const double direction = std::atan2(n[2], n[0]) / DEGREES;
    const double near = sign * rotation + (a * scaleX < 0 ? 180 : 0);
    return direction + 360 * std::round((near - direction) / 360);
}

WorldFrame childFrame(const WorldFrame &parent, double x, double y, double rotation, double scaleX, double scaleY)
{
    WorldFrame child;
    const double c = std::cos(rotation * DEGREES), s = std::sin(rotation * DEGREES);
    const double local[4] = {c * scaleX, -s * scaleY, s * scaleX, c * scaleY};
    multiply(parent.m, local, child.m);
    child.x = parent.x + parent.m[0] * x + parent.m[1] * y;
    child.y = parent.y + parent.m[2] * x + parent.m[3] * y;
    double n[4];
    multiply(parent.k, local, n);
    const double turn = relativeTurn(parent.k, n, rotation, scaleX);
    child.angle = parent.angle + turn;
    const double tc = std::cos(turn * DEGREES), ts = std::sin(turn * DEGREES);
    const double back[4] = {tc, ts, -ts, tc};
    multiply(back, n, child.k);
    return child;
}

// Poses rig bones one at a time (each after its parent).
struct Posing
{
    const SkeletonExport &skeleton;
    const Rig &rig;
    const ExportAnimation *framed;

    const RigPicture *pictureAt(int slot, double t, int side) const
    {
        const int shown = shownAttachment(skeleton.slots[slot], timelinesOf(framed, &ExportAnimation::slots, slot), t, side);
        const int index = shown >= 0 && rig.pictures[slot][shown].scrap >= 0 ? shown : rig.home[slot];
        return index >= 0 ? &rig.pictures[slot][index] : nullptr;
    }
    void frame(int i, double t, int side, std::vector<WorldFrame> &frames) const
    {
        const RigBone &bone = rig.bones[i];
        if (bone.parent < 0) {
            frames[i] = WorldFrame();
            return;
        }
        if (bone.bone >= 0) {
            const ExportBone &setup = skeleton.bones[bone.bone];
            const BoneTimelines *keys = timelinesOf(framed, &ExportAnimation::bones, bone.bone);
            double turn[4] = {0}, move[4] = {0, 0}, scale[4] = {1, 1};
            if (keys) {
                sampleTimeline(keys->rotate, t, side, 1, turn);
                sampleTimeline(keys->translate, t, side, 2, move);
                sampleTimeline(keys->scale, t, side, 2, scale);
            }
            frames[i] = childFrame(frames[bone.parent], setup.x + move[0], setup.y + move[1], setup.rotation + turn[0],
                                   setup.scaleX * scale[0], setup.scaleY * scale[1]);
            return;
        }
        const RigPicture *picture = pictureAt(bone.slot, t, side);
        const RigPicture none;
        const RigPicture &p = picture ? *picture : none;
        frames[i] = childFrame(frames[bone.parent], p.x, p.y, p.rotation, p.scaleX, p.scaleY);
    }
};

// ---------------------------------------------------------------- fitting

// Values of one rig bone at one time: the five curve tracks, then red, green and blue.
using TrackValues = std::array<double, TRACK_COUNT + 3>;

double hermite(const CurvePiece &piece, double u)  // as the engine evaluates a curve event
{
    const double length = piece.end - piece.start, dp = piece.to - piece.from, ds = piece.endSlope - piece.startSlope;
    const double c3 = (ds * length + 2 * (piece.startSlope * length - dp)) / (length * length * length);
    const double c2 = (ds - 3 * c3 * length * length) / (2 * length);
    return ((c3 * u + c2) * u + piece.startSlope) * u + piece.from;
}

struct BoneBaker
{
    const Posing &posing;
    const std::vector<int> &chain;  // the bone's ancestors from the root, then the bone
    int bone;
    std::vector<TrackValues> grid;          // at frame k / GRID, the value after any key there
    std::map<int32_t, TrackValues> before;  // at the cut frames: the value before their keys
    double worst = 0;                       // the largest error over the tolerance kept (single frames)
    double shear = 0;                       // the largest shear residual met
    std::vector<WorldFrame> frames;         // scratch, one per rig bone (only the chain's are used)

    TrackValues values(double t, int side)
    {
        frames.resize(posing.rig.bones.size());
        for (int i : chain) posing.frame(i, t, side, frames);
        const RigBone &rig = posing.rig.bones[bone];
        const WorldFrame &self = frames[bone], &parent = frames[rig.parent];
        TrackValues v{};
        const double c = std::cos(parent.angle * DEGREES), s = std::sin(parent.angle * DEGREES);
        const double dx = self.x - parent.x, dy = self.y - parent.y;
        v[TRACK_ROTATION] = self.angle - parent.angle;
        v[TRACK_X] = c * dx + s * dy - parent.k[0] * rig.along;
        v[TRACK_Y] = -s * dx + c * dy - parent.k[3] * rig.across;
        v[TRACK_SCALE_X] = self.k[0];
        v[TRACK_SCALE_Y] = self.k[3];
        shear = std::max({shear, std::fabs(self.k[1]), std::fabs(self.k[2])});
        v[TRACK_COUNT] = v[TRACK_COUNT + 1] = v[TRACK_COUNT + 2] = 1;
        if (rig.slot >= 0) {
            const ExportSlot &slot = posing.skeleton.slots[rig.slot];
            double tint[4];
            std::copy(slot.color, slot.color + 4, tint);
            const SlotTimelines *keys = timelinesOf(posing.framed, &ExportAnimation::slots, rig.slot);
            if (keys) sampleTimeline(keys->color, t, side, 4, tint);
            const RigPicture *picture = posing.pictureAt(rig.slot, t, side);
            for (int channel = 0; channel < 3; channel++)
                v[TRACK_COUNT + channel] = tint[channel] * (picture ? picture->color[channel] : 1);
        }
        return v;
    }
    double at(int32_t frame, int side, int track) const  // a whole frame: after (side > 0) or before its keys
    {
        auto found = side < 0 ? before.find(frame) : before.end();
        return found != before.end() ? found->second[track] : grid[(size_t)frame * GRID][track];
    }
    // Largest difference between `curve` (value at u frames from a) and the grid inside a..b.
    template <typename Curve>
    double error(int32_t a, int32_t b, int track, Curve curve) const
    {
        double largest = 0;
        for (size_t k = (size_t)a * GRID + 1; k < (size_t)b * GRID; k++)
            largest = std::max(largest, std::fabs(curve((double)k / GRID - a) - grid[k][track]));
        return largest;
    }
    void fitCurve(int track, int32_t a, int32_t b, double tolerance, std::vector<CurvePiece> &out)
    {
        const double from = at(a, 1, track), to = at(b, -1, track);
        CurvePiece hold{a, b, from, from, 0, 0};
        if (std::fabs(to - from) <= 1e-9 && error(a, b, track, [&](double) { return from; }) <= 1e-9) {
            out.push_back(hold);
            return;
        }
        const double length = b - a, h = SLOPE_STEP;
        // The Hermite segment with the true slopes at the ends.
        CurvePiece exact{a, b, from, to, 0, 0};
        exact.startSlope = (-3 * from + 4 * values(a + h, 1)[track] - values(a + 2 * h, 1)[track]) / (2 * h);
        exact.endSlope = (3 * to - 4 * values(b - h, 1)[track] + values(b - 2 * h, 1)[track]) / (2 * h);
        // The cubic through the ends and the thirds (better where a slope is steep at an end).
        const double f1 = values(a + length / 3, 1)[track], f2 = values(a + 2 * length / 3, 1)[track];
        const double third = length / 3;
        CurvePiece through{a, b, from, to, (-11 * from + 18 * f1 - 9 * f2 + 2 * to) / (6 * third),
                           (-2 * from + 9 * f1 - 18 * f2 + 11 * to) / (6 * third)};
        const double exactError = error(a, b, track, [&](double u) { return hermite(exact, u); });
        const double throughError = error(a, b, track, [&](double u) { return hermite(through, u); });
        const CurvePiece &best = exactError <= throughError ? exact : through;
        const double bestError = std::min(exactError, throughError);
        if (bestError <= tolerance || b - a == 1) {
            if (bestError > tolerance) worst = std::max(worst, bestError / tolerance);
            out.push_back(best);
            return;
        }
        const int32_t middle = a + (b - a) / 2;
        fitCurve(track, a, middle, tolerance, out);
        fitCurve(track, middle, b, tolerance, out);
    }
    void fitColor(int32_t a, int32_t b, std::vector<ColorPiece> &out)
    {
        ColorPiece piece{a, b, {}, {}};
        double largest = 0;
        for (int channel = 0; channel < 3; channel++) {
            const int track = TRACK_COUNT + channel;
            piece.from[channel] = at(a, 1, track);
            piece.to[channel] = at(b, -1, track);
            const double from = piece.from[channel], step = (piece.to[channel] - from) / (b - a);
            largest = std::max(largest, error(a, b, track, [&](double u) { return from + step * u; }));
        }
        if (largest <= COLOR_TOLERANCE || b - a == 1) {
            if (largest > COLOR_TOLERANCE) worst = std::max(worst, largest / COLOR_TOLERANCE);
            out.push_back(piece);
            return;
        }
        const int32_t middle = a + (b - a) / 2;
        fitColor(a, middle, out);
        fitColor(middle, b, out);
    }
};

// Consecutive holds of the same value become one.
template <typename Piece, typename Same>
void mergeHolds(std::vector<Piece> &pieces, Same joins)
{
    std::vector<Piece> merged;
    for (const Piece &piece : pieces) {
        if (!merged.empty() && joins(merged.back(), piece)) merged.back().end = piece.end;
        else merged.push_back(piece);
    }
    pieces.swap(merged);
}

bool isHold(const CurvePiece &p) { return p.from == p.to && p.startSlope == 0 && p.endSlope == 0; }
bool isHold(const ColorPiece &p) { return std::equal(p.from, p.from + 3, p.to); }
bool same(double a, double b, double within) { return std::fabs(a - b) <= within * std::max(1.0, std::fabs(a)); }

// Key times into whole frames (noting those that were between frames).
void frameTimes(ExportTimeline &keys, int fps, bool &offGrid)
{
    for (ExportKey &key : keys) {
        const double frames = key.time * fps;
        key.time = std::round(frames);
        offGrid = offGrid || std::fabs(frames - key.time) > 0.001;
    }
}

void addCuts(const ExportTimeline &keys, int32_t length, std::set<int32_t> &cuts)
{
    for (const ExportKey &key : keys) cuts.insert((int32_t)std::min<double>(key.time, length));
}

}  // namespace

void poseRig(const SkeletonExport &skeleton, const Rig &rig, const ExportAnimation *framed, double t, int side,
             std::vector<WorldFrame> &out)
{
    out.assign(rig.bones.size(), WorldFrame());
    const Posing posing{skeleton, rig, framed};
    for (size_t i = 0; i < rig.bones.size(); i++) posing.frame((int)i, t, side, out);
}

bool bakeAnimation(const SkeletonExport &skeleton, const Rig &rig, const ExportAnimation &animation, int fps,
                   BakedAnimation &out, ImportNotes &notes)
{
    ExportAnimation framed = animation;
    bool offGrid = false;
    double last = 0;
    for (auto &bone : framed.bones) {
        for (ExportTimeline *keys : {&bone.second.rotate, &bone.second.translate, &bone.second.scale}) {
            frameTimes(*keys, fps, offGrid);
            if (!keys->empty()) last = std::max(last, keys->back().time);
        }
    }
    for (auto &slot : framed.slots) {
        for (ExportTimeline *keys : {&slot.second.attachment, &slot.second.color}) {
            frameTimes(*keys, fps, offGrid);
            if (!keys->empty()) last = std::max(last, keys->back().time);
        }
    }
    for (ExportEvent &event : framed.events) {
        const double frames = event.time * fps;
        event.time = std::round(frames);
        offGrid = offGrid || std::fabs(frames - event.time) > 0.001;
        last = std::max(last, event.time);
    }
    if (offGrid) notes.add(NOTE_OFF_GRID, animation.name + " (at " + std::to_string(fps) + " a second)");
    if (last > MAX_BAKED_FRAMES) return false;
    out = BakedAnimation();
    out.length = std::max<int32_t>(1, (int32_t)last);
    out.bones.resize(rig.bones.size());
    const Posing posing{skeleton, rig, &framed};
    for (size_t i = 1; i < rig.bones.size(); i++) {
        const RigBone &bone = rig.bones[i];
        std::vector<int> chain;
        for (int at = (int)i; at > 0; at = rig.bones[at].parent) chain.insert(chain.begin(), at);
        // Frames where the value may break: keys of the bone (or its slot) and the scale keys of
        // its ancestors; their rotate keys too where some ancestor's scale is uneven (shear).
        std::set<int32_t> cuts = {0, out.length};
        bool uneven = false;
        for (int at : chain) {
            const RigBone &link = rig.bones[at];
            const BoneTimelines *keys = timelinesOf(&framed, &ExportAnimation::bones, link.bone);
            if (at != (int)i && link.bone >= 0) {
                const ExportBone &setup = skeleton.bones[link.bone];
                uneven = uneven || std::fabs(setup.scaleX) != std::fabs(setup.scaleY) || (keys && !keys->scale.empty());
            }
        }
        for (int at : chain) {
            const RigBone &link = rig.bones[at];
            if (const BoneTimelines *keys = timelinesOf(&framed, &ExportAnimation::bones, link.bone)) {
                addCuts(keys->scale, out.length, cuts);
                if (at == (int)i || uneven) addCuts(keys->rotate, out.length, cuts);
                if (at == (int)i) addCuts(keys->translate, out.length, cuts);
            }
            if (const SlotTimelines *keys = timelinesOf(&framed, &ExportAnimation::slots, link.slot)) {
                addCuts(keys->attachment, out.length, cuts);
                addCuts(keys->color, out.length, cuts);
            }
        }
        BoneBaker baker{posing, chain, (int)i, {}, {}, 0, 0, {}};
        baker.grid.resize((size_t)out.length * GRID + 1);
        for (size_t k = 0; k < baker.grid.size(); k++) baker.grid[k] = baker.values((double)k / GRID, 1);
        for (int32_t cut : cuts) {
            if (cut > 0) baker.before[cut] = baker.values(cut, -1);
        }
        BakedBone &baked = out.bones[i];
        const double rest[TRACK_COUNT] = {double(bone.angle - rig.bones[bone.parent].angle), 0, 0, 1, 1};
        for (int track = 0; track < TRACK_COUNT; track++) {
            const double tolerance =
                track == TRACK_ROTATION ? ROTATION_TOLERANCE
                                        : PIXEL_TOLERANCE / (track >= TRACK_SCALE_X ? std::max(1.0, bone.extent) : 1.0);
            std::vector<CurvePiece> &pieces = baked.curves[track];
            for (auto cut = cuts.begin(); std::next(cut) != cuts.end(); ++cut)
                baker.fitCurve(track, *cut, *std::next(cut), tolerance, pieces);
            mergeHolds(pieces, [](const CurvePiece &a, const CurvePiece &b) { return isHold(a) && isHold(b) && same(a.from, b.from, 1e-9); });
            // At rest within what the engine's single precision holds anyway.
            baked.curveAtRest[track] = pieces.size() == 1 && isHold(pieces[0]) && same(pieces[0].from, rest[track], 1e-5);
        }
        if (bone.slot >= 0) {
            for (auto cut = cuts.begin(); std::next(cut) != cuts.end(); ++cut) baker.fitColor(*cut, *std::next(cut), baked.color);
            mergeHolds(baked.color, [](const ColorPiece &a, const ColorPiece &b) {
                return isHold(a) && isHold(b) && same(a.from[0], b.from[0], 1e-9) && same(a.from[1], b.from[1], 1e-9) &&
                       same(a.from[2], b.from[2], 1e-9);
            });
            baked.colorAtRest = baked.color.size() == 1 && isHold(baked.color[0]) &&
                                std::all_of(baked.color[0].from, baked.color[0].from + 3, [](double c) { return same(c, 1, 1e-5); });
            const SlotTimelines *keys = timelinesOf(&framed, &ExportAnimation::slots, bone.slot);
            if (keys && !keys->attachment.empty()) {
                std::set<int32_t> switches = {0};
                addCuts(keys->attachment, out.length, switches);
                for (int32_t frame : switches) {
                    const ExportSlot &slot = skeleton.slots[bone.slot];
                    const int shown = shownAttachment(slot, keys, frame, 1), was = shownAttachment(slot, keys, frame, -1);
                    if (frame < out.length && (frame == 0 || shown != was))
                        baked.textures.push_back({frame, shown >= 0 ? rig.pictures[bone.slot][shown].scrap : -1});
                }
            }
        }
        if (baker.worst > 1) notes.add(NOTE_LOOSE, animation.name + "/" + bone.name);
        if (baker.shear * bone.extent > PIXEL_TOLERANCE * 2) notes.add(SHEAR_NOTE, bone.name);  // through a parent's uneven scale
    }
    for (const ExportEvent &event : framed.events)
        out.markers.push_back({(int32_t)event.time, event.event, event.intValue, event.floatValue});
    return true;
}
