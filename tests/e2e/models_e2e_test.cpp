// Skeletal models end to end: a model, its scraps and an animation written as text sources, built
// by `quillfen-pack compile --archive` and played by the real engine. The pictures of their
// images on screen show what is loaded: a room lists only the model and the animation, so the
// images load only through the model's scraps and the animation's texture change, and leave
// with them when the next room lists neither.
#include "e2e_project.h"

namespace {

// Bottom-left pixel (x, y) of a 640 x 480 window image (top row first), as 0xRRGGBB.
uint32_t shown(const std::vector<uint32_t> &image, int x, int y) { return image[(479 - y) * 640 + x]; }

// Catches a dependency not acquired (an image never appears), acquired on the wrong thread or too
// late for the room (the loading screen switches first), or never released (an image stays after
// the room that named its model is left), and a source the compiler builds wrongly.
TEST(ModelsEndToEnd, AModelsScrapsAndImagesLoadWithTheRoomAndLeaveWithIt)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    project.image("red.png", "-size 8x8 xc:'rgb(220,20,30)'");
    project.image("green.png", "-size 8x8 xc:'rgb(20,200,40)'");
    project.file("scraps/body.scrap", "[frame]\nimage = red.png\nrect = 0 0 8 8\nduration = 4\n");
    project.file("scraps/glow.scrap", "[frame]\nimage = green.png\nrect = 0 0 8 8\n");
    project.file("models/hero.model", "[bone]\nname = torso\nscrap = body\nangle = 90\njoint = 0 10 head\n"
                                      "[bone]\nname = head\nscrap = body\nposition = 0 12\nangle = 90\n");
    project.file("anims/hero-glow.anim", "[animation]\nmodel = hero\nlength = 30\n[texts]\nflash\n[markers]\n5 0 0 flash\n"
                                         "[rotation]\nbone = torso\ntime = 0\nend = 30\nfrom = 90\nto = 450\n"
                                         "[texture-change]\nbone = head\ntime = 10\nscrap = glow\n");
    const std::string draw = "function Render() drawImage(getImageHandle('red.png'), 0, 0);"
                             " drawImage(getImageHandle('green.png'), 20, 0) end\n";
    project.room("a", "[models]\nhero\n[animations]\nhero-glow\n",
                 "io.stdout:setvbuf('no')\nfunction Init() print('a:Init') end\n" + draw +
                     "function Step() if io.open('go') and not asked then asked = true; beginResourceList();"
                     " includeRoom('b', 1); endResourceList() end\n"
                     "  if asked and resourcesAreLoaded() then forceNewRoom('b') end end\n");
    project.room("b", "", "function Init() print('b:Init') end\n" + draw);
    const ProcessResult built = project.compile(true);
    ASSERT_EQ(0, built.exitCode) << built.err;
    EXPECT_EQ("", built.err) << "a clean source";
    std::filesystem::remove_all(project.game() + "/Projects");  // only the archive has the game now

    ChildProcess engine;
    ASSERT_TRUE(engine.start({QF_ENGINE_PATH}, project.game(), ENGINE_ENV));
    const unsigned long window = waitForGameWindow(engine.pid());
    ASSERT_NE(0u, window) << "no 640 x 480 window";
    auto waitFor = [&](const std::function<bool()> &done) {
        for (int i = 0; i < 2000 && !done(); i++) usleep(10 * 1000);
        return done();
    };
    char seen[64] = "";
    auto pictures = [&](uint32_t red, uint32_t green) {
        const std::vector<uint32_t> image = windowImage(window, 640, 480);
        if (image.size() != 640u * 480u) return false;
        snprintf(seen, sizeof seen, "#%06X and #%06X", shown(image, 4, 4), shown(image, 24, 4));
        return shown(image, 4, 4) == red && shown(image, 24, 4) == green;
    };
    ASSERT_TRUE(waitFor([&] { return engine.out() == AUDIO_START + "a:Init\n"; })) << engine.out() << engine.err();
    EXPECT_TRUE(waitFor([&] { return pictures(0xDC141E, 0x14C828); }))
        << "the model's and the animation's images in room a, seen: " << seen;
    writeFile(project.game() + "/go", "");
    ASSERT_TRUE(waitFor([&] { return engine.out() == AUDIO_START + "a:Init\nb:Init\n"; })) << engine.out() << engine.err();
    EXPECT_TRUE(waitFor([&] { return pictures(0, 0); })) << "both images unloaded after leaving room a, seen: " << seen;
    EXPECT_TRUE(requestWindowClose(window));
    ASSERT_TRUE(engine.waitExit(60000));
    EXPECT_EQ(0, engine.exitCode());
    EXPECT_EQ("", engine.err());
}

}  // namespace
