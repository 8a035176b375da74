// tools/pack/skeleton_export.h - reading what a 2D skeletal-animation editor exports: the skeleton
// as JSON and the text atlas of its pictures (docs/skeleton-import.md). A small JSON reader of our
// own, then the editor's 3.x layouts (before 3.8 and from 3.8) and of 4.x what is known for
// certain; plain data, no pixels. import-skeleton (skeleton_import.h) and the fuzz target use it.
// Threads: one (a command-line tool).
// Failure: a refusal is an "ERROR: file:line: ..." through the SourceReport, and the readers go on
// to report every one; what is read but cannot be shown by the engine is collected in
// ImportNotes and printed as one warning per kind, naming everything it concerns.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "project_source.h"

// ---------------------------------------------------------------- JSON

struct JsonValue
{
    enum Kind { NUL, BOOLEAN, NUMBER, STRING, ARRAY, OBJECT };
    Kind kind = NUL;
    bool boolean = false;
    double number = 0;              // always finite
    std::string text;               // STRING
    std::vector<JsonValue> items;   // ARRAY elements; OBJECT values, in file order
    std::vector<std::string> keys;  // OBJECT keys, parallel to items
    int line = 0;                   // where the value starts (1-based)
    const JsonValue *find(const std::string &key) const;  // the first value of `key`; nullptr when absent
};

struct JsonProblem
{
    std::string message;
    int line = 0;
    bool unquotedKey = false;  // the editor's "JavaScript" or "Minimal" format rather than JSON
};
// Standard JSON (RFC 8259) after an optional UTF-8 byte-order mark, nested at most 100 deep.
bool parseJson(const std::string &text, JsonValue &out, JsonProblem &problem);

// ---------------------------------------------------------------- notes

// What an import reads but the engine cannot show: one warning per kind with every name it
// concerns, printed in the order the kinds were first met.
class ImportNotes
{
public:
    void add(const std::string &kind, const std::string &name);  // a name is listed once per kind
    void print(const std::string &file, SourceReport &report) const;
    bool has(const std::string &kind) const;
    std::vector<std::string> kinds() const;

private:
    std::vector<std::pair<std::string, std::vector<std::string>>> entries;
};
extern const char *const SHEAR_NOTE;  // noted by the reader (keys, setup) and the baker (a parent's uneven scale)

// ---------------------------------------------------------------- the skeleton

// How the export's version reads: skins as an object and curves as arrays of four before 3.8;
// skins as an array and the curve number with c2, c3, c4 from 3.8; 4.x, where only what is known
// for certain is read and everything else refused by name.
enum ExportLayout { LAYOUT_3_EARLY, LAYOUT_3_8, LAYOUT_4 };

enum CurveKind { CURVE_LINEAR, CURVE_STEPPED, CURVE_BEZIER };

struct ExportKey
{
    double time = 0;                 // seconds
    double values[4] = {0, 0, 0, 0};  // angle; x, y; red, green, blue, alpha (0..1)
    CurveKind curve = CURVE_LINEAR;  // of the segment from this key to the next
    double bezier[4] = {0, 0, 1, 1};  // cx1, cy1, cx2, cy2 as fractions of the segment (handles clamped into it)
    std::string attachment;          // attachment keys: the key of the attachment shown
    bool empty = false;              // attachment keys: null, the slot shows nothing
    int line = 0;
};
using ExportTimeline = std::vector<ExportKey>;  // ascending times

struct ExportBone
{
    std::string name;
    int parent = -1;  // index of an earlier bone; -1 for a root
    double x = 0, y = 0, rotation = 0, scaleX = 1, scaleY = 1;
    int line = 0;
};

struct ExportAttachment
{
    std::string key;     // the name the slot and attachment keys use
    std::string region;  // atlas region: `path`, else `name`, else the key
    bool isRegion = false;  // only region attachments are pictures; others are noted and show nothing
    double x = 0, y = 0, rotation = 0, scaleX = 1, scaleY = 1, width = 0, height = 0;
    double color[4] = {1, 1, 1, 1};
    int line = 0;
};

struct ExportSlot
{
    std::string name;
    int bone = 0;
    double color[4] = {1, 1, 1, 1};
    std::string attachment;  // the setup attachment's key; "" for none
    std::vector<ExportAttachment> attachments;  // the imported skin's, in file order
    int line = 0;
};

struct ExportEvent  // an event key
{
    double time = 0;
    int event = 0;  // index into SkeletonExport::events
    double intValue = 0, floatValue = 0;
};

struct BoneTimelines
{
    ExportTimeline rotate, translate, scale;  // deltas added to the setup; scale factors multiply it
};

struct SlotTimelines
{
    ExportTimeline attachment, color;
};

struct ExportAnimation
{
    std::string name;
    std::map<int, BoneTimelines> bones;  // by bone index
    std::map<int, SlotTimelines> slots;  // by slot index
    std::vector<ExportEvent> events;     // ascending times
    int line = 0;
};

struct SkeletonExport
{
    std::string version;  // "3.8.99"; "" when the file has none
    ExportLayout layout = LAYOUT_3_8;
    std::vector<ExportBone> bones;  // parents first
    std::vector<ExportSlot> slots;  // drawing order, back to front
    std::vector<std::string> events;  // event names, in file order
    std::vector<ExportAnimation> animations;  // file order
};

// Reads a parsed export. False (after its errors) for anything that is not a skeleton export, a
// version this reader does not know, a 4.x construct it cannot read for certain, or a broken
// reference (unknown parent, bone, slot, attachment or event).
bool readSkeletonExport(const JsonValue &root, const std::string &file, SkeletonExport &out, SourceReport &report,
                        ImportNotes &notes);

// ---------------------------------------------------------------- the atlas

struct AtlasPage
{
    std::string file;  // the page image, relative to the atlas's folder
    int width = 0, height = 0;  // `size`; 0 when not given
    bool premultiplied = false;  // `pma`
    int line = 0;
};

struct AtlasRegion
{
    std::string name;
    int page = 0;
    int x = 0, y = 0;           // top-left corner on the page image (rows counted downward)
    int width = 0, height = 0;  // the picture as it stands upright, after any stripped border
    bool rotated = false;       // stored turned a quarter turn: the page rectangle is height wide, width tall
    int offsetX = 0, offsetY = 0;  // border stripped at the left and at the bottom of the original picture
    int originalWidth = 0, originalHeight = 0;  // the picture before stripping
    int index = -1;             // place in a numbered series
    int line = 0;
};

struct TextureAtlas
{
    std::vector<AtlasPage> pages;
    std::vector<AtlasRegion> regions;  // file order
    const AtlasRegion *find(const std::string &name) const;  // the lowest index of that name
};

// Both the newer syntax (bounds, offsets) and the older one (xy, size, orig, offset).
bool readAtlas(const std::string &text, const std::string &file, TextureAtlas &out, SourceReport &report,
               ImportNotes &notes);
