// import-skeleton's refusals and warnings, every one, on small exports written here: a clean
// export changed one way per row, imported into a fresh project source. A refusal writes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "skeleton_import.h"
#include "test_support.h"

namespace {

// A clean export, one section a line (messages give lines): two bones, a slot showing one
// region, an event and an animation.
struct Export
{
    std::string skeleton = R"("skeleton": { "spine": "3.8.99" },)";
    std::string bones = R"("bones": [ { "name": "root" }, { "name": "arm", "parent": "root", "x": 10, "rotation": 30 } ],)";
    std::string slots = R"("slots": [ { "name": "arm", "bone": "arm", "attachment": "arm" } ],)";
    std::string skins = R"("skins": [ { "name": "default", "attachments": { "arm": { "arm": { "x": 4, "width": 8, "height": 4 } } } } ],)";
    std::string events = R"("events": { "hit": {} },)";
    std::string animations = R"("animations": { "wave": { "bones": { "arm": { "rotate": [ { "angle": 0, "curve": 0.25, "c3": 0.75 }, { "time": 0.5, "angle": 40 } ] } }, "events": [ { "time": 0.25, "name": "hit" } ] } })";
    std::string atlas = "page.png\nsize: 16, 16\narm\n  bounds: 0, 0, 8, 4\n";
    std::string page = "-size 16x16 xc:none -fill red -draw 'rectangle 0,0 7,3' PNG32:";  // ImageMagick, then page.png
    std::string text() const { return "{\n" + skeleton + "\n" + bones + "\n" + slots + "\n" + skins + "\n" + events + "\n" + animations + "\n}\n"; }
};

std::string bonesUnderRoot(int more)  // root, arm and `more` bones, all held by the root
{
    std::string bones = R"("bones": [ { "name": "root" }, { "name": "arm", "parent": "root" })";
    for (int i = 0; i < more; i++) bones += R"(, { "name": "b)" + std::to_string(i) + R"(", "parent": "root" })";
    return bones + " ],";
}

// Catches an input the importer takes silently when it must refuse it (not a skeleton, a version
// it does not know, a 4.x construct it would have to guess, broken references, atlas problems,
// the engine's limits), a refusal that still writes files, and a warning missing, repeated, or
// not naming what it concerns.
TEST(SkeletonImport, EveryRefusalAndWarning)
{
    const std::string J = "ERROR: skeleton.json:", W = "WARNING: skeleton.json: ", A = "skeleton.atlas";
    const struct Row
    {
        const char *name;
        std::function<void(Export &)> change;
        std::string err;  // exactly what is printed
    } rows[] = {
        {"a clean export", [](Export &) {}, ""},
        // Refused: not an export of a kind or version this importer reads.
        {"not JSON", [](Export &e) { e.skeleton = R"("skeleton": [ 1,, 2 ],)"; }, J + "2: not a skeleton export: not JSON (unexpected ',' (expected a value))\n"},
        {"the JavaScript or Minimal format", [](Export &e) { e.skeleton = R"(skeleton: { "spine": "3.8.99" },)"; },
         J + "2: not standard JSON (a key without quotes): export the skeleton again with the format JSON; the JavaScript and Minimal formats are not read\n"},
        {"JSON of something else", [](Export &e) { e.bones = R"("name": "x",)"; }, J + "1: not a skeleton export: it has no \"bones\" list\n"},
        {"before 3.0", [](Export &e) { e.skeleton = R"("skeleton": { "spine": "2.1.27" },)"; },
         J + "2: editor version '2.1.27': exports older than 3.0 are not read\n"},
        {"after 4.x", [](Export &e) { e.skeleton = R"("skeleton": { "spine": "5.0.1" },)"; },
         J + "2: editor version '5.0.1' is not one this importer reads (it reads 3.x and 4.x exports)\n"},
        // Refused: 4.x constructs whose layout is not confirmed.
        {"4.x rotate keys", [](Export &e) { e.skeleton = R"("skeleton": { "spine": "4.1.20" },)"; },
         J + "7: animation 'wave', bone 'arm', rotate: rotate keys of a 4.x export are not read (their layout is not confirmed)\n"},
        {"4.x bezier curves",
         [](Export &e) {
             e.skeleton = R"("skeleton": { "spine": "4.0.64" },)";
             e.animations = R"("animations": { "a": { "bones": { "arm": { "translate": [ { "curve": [ 0, 0, 0.1, 5, 0, 0, 0.1, 5 ] }, { "time": 1, "x": 5 } ] } } } })";
         },
         J + "7: animation 'a', bone 'arm', translate: bezier curves of a 4.x export are not read (the order of their values is not confirmed)\n"},
        {"4.x single-axis and rgba timelines",
         [](Export &e) {
             e.skeleton = R"("skeleton": { "spine": "4.2.22" },)";
             e.animations = R"("animations": { "a": { "bones": { "arm": { "translatex": [ { "value": 3 } ] } }, "slots": { "arm": { "rgba": [ { "color": "ff0000ff" } ] } } } })";
         },
         J + "7: animation 'a', bone 'arm', translatex: 'translatex' timelines of a 4.x export are not read (their layout is not confirmed)\n" +
             J + "7: animation 'a', slot 'arm', rgba: 'rgba' timelines of a 4.x export are not read (their layout is not confirmed)\n"},
        {"4.x frame sequences", [](Export &e) { e.skins = R"("skins": [ { "name": "default", "attachments": { "arm": { "arm": { "width": 8, "height": 4, "sequence": { "count": 3 } } } } } ],)"; },
         J + "5: attachment 'arm' of slot 'arm': frame sequences (4.x) are not read: their layout is not confirmed\n"},
        // Refused: references that do not resolve.
        {"a parent listed after its child", [](Export &e) { e.bones = R"("bones": [ { "name": "arm", "parent": "root" }, { "name": "root" } ],)"; },
         J + "3: bone 'arm': its parent 'root' is not listed before it\n"},
        {"a bone listed twice", [](Export &e) { e.bones = R"("bones": [ { "name": "root" }, { "name": "arm" }, { "name": "arm" } ],)"; },
         J + "3: bone 'arm' is listed twice\n"},
        {"a slot on no bone", [](Export &e) { e.slots = R"("slots": [ { "name": "arm", "bone": "hand" } ],)"; },
         J + "4: slot 'arm': bone 'hand' is not in the skeleton\n"},
        {"keys for no bone", [](Export &e) { e.animations = R"("animations": { "a": { "bones": { "hand": { "rotate": [ {} ] } } } })"; },
         J + "7: animation 'a' keys bone 'hand', which is not in the skeleton\n"},
        {"an unknown event", [](Export &e) { e.animations = R"("animations": { "a": { "events": [ { "name": "kick" } ] } })"; },
         J + "7: animation 'a', events: event 'kick' is not in the skeleton's events\n"},
        {"a region without a size", [](Export &e) { e.skins = R"("skins": [ { "name": "default", "attachments": { "arm": { "arm": { "x": 4 } } } } ],)"; },
         J + "5: attachment 'arm' of slot 'arm' needs its 'width' and 'height' (numbers above 0)\n"},
        {"a region missing from the atlas", [](Export &e) { e.atlas = "page.png\nhand\n  bounds: 0, 0, 8, 4\n"; },
         J + "5: attachment 'arm' of slot 'arm': region 'arm' is not in the atlas\n"},
        {"a key before time 0", [](Export &e) { e.animations = R"("animations": { "a": { "bones": { "arm": { "rotate": [ { "time": -1 } ] } } } })"; },
         J + "7: animation 'a', bone 'arm', rotate: a key before time 0\n"},
        {"a curve of another shape", [](Export &e) { e.animations = R"("animations": { "a": { "bones": { "arm": { "rotate": [ { "curve": true }, { "time": 1 } ] } } } })"; },
         J + "7: animation 'a', bone 'arm', rotate: 'curve' is not \"stepped\", a number or four numbers\n"},
        {"a number written as text", [](Export &e) { e.bones = R"("bones": [ { "name": "root" }, { "name": "arm", "parent": "root", "x": "ten" } ],)"; },
         J + "3: bone 'arm': 'x' is not a number\n"},
        {"a colour that is not hex", [](Export &e) { e.slots = R"("slots": [ { "name": "arm", "bone": "arm", "color": "red" } ],)"; },
         J + "4: slot 'arm': colour 'red' is not RRGGBBAA\n"},
        {"skins of another kind", [](Export &e) { e.skins = R"("skins": 3,)"; }, J + "5: 'skins' is neither a list nor an object\n"},
        {"a skin naming no slot", [](Export &e) { e.skins = R"("skins": [ { "name": "default", "attachments": { "leg": { "leg": { "width": 8, "height": 4 } } } } ],)"; },
         J + "5: skin 'default' names slot 'leg', which is not in the skeleton\n"},
        // Refused: the atlas.
        {"an atlas without a page", [](Export &e) { e.atlas = "\n"; }, "ERROR: " + A + ": not an atlas: it names no page image\n"},
        {"a region without a rectangle", [](Export &e) { e.atlas = "page.png\narm\n  rotate: false\n"; },
         "ERROR: " + A + ":2: region 'arm' has no rectangle (bounds, or xy and size)\n"},
        {"a page that is missing", [](Export &e) { e.atlas = "gone.png\narm\n  bounds: 0, 0, 8, 4\n"; },
         "ERROR: " + A + ":1: page 'gone.png' cannot be read\n"},
        {"a turn the atlas does not confirm", [](Export &e) { e.atlas += "  rotate: 180\n"; },
         "ERROR: " + A + ":5: 'rotate: 180': only a quarter turn (true or 90) is read; other turns are not confirmed\n"},
        {"a region name holding ':'", [](Export &e) { e.atlas += "arm/left: 2\n"; },
         "ERROR: " + A + ":5: 'arm/left: 2' is neither 'key: value' nor a name (a region name with ':' cannot be told from a key)\n"},
        {"a region off its page", [](Export &e) { e.atlas = "page.png\narm\n  bounds: 12, 0, 8, 4\n"; },
         "ERROR: skeleton.atlas:2: region 'arm' lies outside its page 'page.png' (16 x 16)\n"},
        {"a page that is not a PNG", [](Export &e) { e.page = "-size 16x16 xc:red BMP3:"; },
         "ERROR: " + A + ":1: page 'page.png' is not a PNG image this importer reads (Not a PNG file)\n"},
        // Refused: beyond the engine.
        {"an animation too long", [](Export &e) { e.animations = R"("animations": { "long": { "events": [ { "time": 600, "name": "hit" } ] } })"; },
         J + "7: animation 'long' lasts more than 32767 frames at 60 a second (the engine's longest)\n"},
        {"a bone holding more than 50", [](Export &e) { e.bones = bonesUnderRoot(50); },
         J + "3: bone 'root' holds more than 50 bones and slots; the engine's bones have at most 50 joints\n"},
        {"more bones than a model holds", [](Export &e) { e.bones = bonesUnderRoot(498); },
         "ERROR: skeleton.json: the skeleton makes 502 bones (a root, 500 bones and 1 slots); the engine loads at most 500\n"},
        {"a bone beyond whole numbers", [](Export &e) { e.bones = R"("bones": [ { "name": "root", "x": 1e12 }, { "name": "arm", "parent": "root" } ],)"; },
         J + "3: bone 'root' lies beyond what the model's whole numbers hold\n"},
        {"keys beyond the stored numbers", [](Export &e) { e.animations = R"("animations": { "far": { "bones": { "arm": { "translate": [ { "x": 1e10 } ] } } } })"; },
         J + "7: animation 'far' has values beyond the engine's stored numbers\n"},
        // Warned, one line per kind naming everything it concerns; the import goes on.
        {"attachments that are not pictures",
         [](Export &e) {
             e.slots = R"("slots": [ { "name": "arm", "bone": "arm", "attachment": "arm" }, { "name": "cape", "bone": "arm", "attachment": "cloth" }, { "name": "cut", "bone": "root" } ],)";
             e.skins = R"("skins": [ { "name": "default", "attachments": { "arm": { "arm": { "width": 8, "height": 4 }, "tip": { "type": "point" } }, "cape": { "cloth": { "type": "mesh" } }, "cut": { "mask": { "type": "clipping" } } } }, { "name": "red" } ],)";
         },
         W + "'point' attachments are not shown (only region attachments are pictures): arm/tip\n" + W +
             "'mesh' attachments are not shown (only region attachments are pictures): cape/cloth\n" + W +
             "'clipping' attachments are not shown (only region attachments are pictures): cut/mask\n" + W +
             "only one skin is imported ('default', else the first); left out: red\n"},
        {"what the bones do that the engine cannot show",
         [](Export &e) {
             e.bones = R"("bones": [ { "name": "root", "scaleX": 2 }, { "name": "arm", "parent": "root", "rotation": 45, "shearX": 10 }, { "name": "leg", "parent": "root", "transform": "noScale" }, { "name": "cape", "parent": "root", "skin": true } ], "ik": [ { "name": "reach" } ],)";
             e.animations = R"("animations": { "a": { "bones": { "arm": { "shear": [ {} ], "flip": [ {} ] } }, "ik": { "reach": [ {} ] }, "drawOrder": [ {} ], "deform": { "x": {} } } })";
         },
         W + "shear is not shown: arm, slot:arm\n" + W +
             "inherit modes other than normal are taken as normal: leg (noScale)\n" + W +
             "bones of a skin are imported as ordinary bones: cape\n" + W +
             "inverse kinematics and other constraints are not applied (the bones they would move stay where their own keys put them): ik reach\n" +
             W + "unknown keys and timelines are left out: animations/a/arm/flip\n" + W +
             "draw order changes are not shown: slots keep their setup order: a\n" + W + "mesh deformation keys are not imported: a\n"},
        {"what the slots do that the engine cannot show",
         [](Export &e) {
             e.slots = R"("slots": [ { "name": "arm", "bone": "arm", "attachment": "arm", "color": "ffffff80", "dark": "000000", "blend": "additive" }, { "name": "glove", "bone": "arm", "attachment": "hand" } ],)";
             e.events = R"("events": { "hit": { "string": "ouch", "audio": "hit.wav" } },)";
         },
         W + "alpha (transparency) of slots is not shown: they draw opaque: arm\n" + W +
             "two-colour tinting is not shown: the dark colour is left out: arm\n" + W +
             "blend modes other than normal draw as normal: arm (additive)\n" + W +
             "event strings and sounds are not kept (markers keep the int as x and the float as y): hit\n" + W +
             "attachments the imported skin does not have show nothing: glove/hand\n"},
        {"keys that are not as the engine plays them",
         [](Export &e) {
             e.skeleton = "";
             e.animations = R"("animations": { "a": { "bones": { "arm": { "rotate": [ { "time": 0.5, "angle": 270 }, { "time": 0.01 }, { "time": 0.02, "curve": 1.5 } ] } } } })";
         },
         W + "the export names no editor version (skeleton.spine); read as: 3.8\n" + W +
             "curve handles outside their segment were moved into it: animation 'a', bone 'arm', rotate\n" + W +
             "keys out of time order were sorted: animation 'a', bone 'arm', rotate\n" + W +
             "rotate keys more than 180 degrees apart turn the way the numbers go: a/arm\n" + W +
             "key times between frames were moved to the nearest frame: a (at 60 a second)\n" + W +
             "curves followed less closely than half a pixel and a tenth of a degree at this frame rate: a/arm\n"},
        {"an atlas the engine shows differently",
         [](Export &e) {
             e.atlas = "page.png\nsize: 32, 16\nfancy: yes\narm\n  bounds: 0, 0, 8, 4\n  tint: blue\n";
             e.page = "-size 16x16 xc:none -fill 'rgba(255,0,0,0.5)' -draw 'rectangle 0,0 7,3' PNG32:";
         },
         W + "partly transparent pixels show opaque or clear (cut at half alpha): arm\nWARNING: " + A +
             ": unknown atlas keys are left out: fancy, tint\nWARNING: " + A + ": atlas page sizes differ from their images (the images' own are used): page.png\n"},
    };
    std::map<std::string, std::string> pages;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        WorkDir work;
        Export e;
        row.change(e);
        writeFile("skeleton.json", e.text());
        writeFile("skeleton.atlas", e.atlas);
        std::string &page = pages[e.page];  // drawn once per kind: ImageMagick is most of the test's time
        if (page.empty()) {
            ASSERT_EQ(0, system(("convert " + e.page + "page.png").c_str()));
            page = readFile("page.png");
        }
        writeFile("page.png", page);
        ImportOptions options;
        options.name = "hero";
        bool imported = false;
        const std::string err = captureStderr([&] {
            SourceReport report;
            captureStdout([&] { imported = importSkeleton("skeleton.json", "skeleton.atlas", "source", options, report); });
        });
        EXPECT_EQ(row.err, err);
        EXPECT_EQ(row.err.find("ERROR") == std::string::npos, imported);
        EXPECT_EQ(imported, std::filesystem::exists("source/models/hero.model")) << "a refusal writes nothing";
    }
}

// Catches the sample's runner drifting from what importing its export makes (an importer change
// that moves or renames what the sample's committed files hold, or a hand edit of them): its
// make script imports samples/demo/runner.json, and every file that writes must be the one committed.
TEST(SkeletonImport, TheSampleRunnerIsItsImport)
{
    WorkDir work;
    const std::string sample = std::string(QF_SOURCE_DIR) + "/samples/demo/";
    ImportOptions options;
    options.name = "runner";
    SourceReport report;
    const std::string err = captureStderr([&] {
        captureStdout([&] { ASSERT_TRUE(importSkeleton(sample + "runner.json", sample + "runner.atlas", "source", options, report)); });
    });
    EXPECT_EQ("", err);
    size_t files = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator("source")) {
        if (!entry.is_regular_file()) continue;
        const std::string name = std::filesystem::relative(entry.path(), "source").string();
        EXPECT_EQ(readFile(sample + name), readFile(entry.path().string())) << name;
        files++;
    }
    EXPECT_EQ(17u, files);  // the page, 13 scraps, the model, 2 animations
}

}  // namespace
