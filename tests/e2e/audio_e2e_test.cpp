// Audio end to end: the real engine plays a game whose first room plays a WAV from the archive,
// heard in OpenAL Soft's wave-file capture; and the same game with no audio device runs silent.
#include "../audio/audio_test_support.h"
#include "e2e_project.h"

namespace {

// The game: its first room lists chime.wav and plays it once in Init. Packed, loose files removed.
void buildChimeGame(SourceProject &project, const std::vector<int16_t> &chime)
{
    project.file("audio/chime.wav", audiotest::wavBytes(2, 44100, 16, audiotest::samples16(chime)));
    project.room("a", "[sounds]\nchime.wav\n",
                 "io.stdout:setvbuf('no')\nfunction Init() local id = playSound(getSoundHandle('chime.wav'), false, 1)\n"
                 "  print('a:Init', id, isSoundSrcPlaying(id)) end\n");
    const ProcessResult built = project.compile(true);
    ASSERT_EQ(0, built.exitCode) << built.err;
    std::filesystem::remove_all(project.game() + "/Projects");
}

// Runs the game until its room has printed, lets it play `ms` more, ends it with SIGTERM.
ProcessResult play(const std::string &game, const std::vector<std::string> &env, int ms)
{
    ChildProcess engine;
    ProcessResult result;
    if (!engine.start({QF_ENGINE_PATH}, game, env)) return result;
    for (int i = 0; i < 6000 && engine.out().find("a:Init") == std::string::npos && !engine.waitExit(0); i++) usleep(10000);
    usleep(ms * 1000);
    engine.signal(SIGTERM);
    if (engine.waitExit(60000)) result.exitCode = engine.exitCode();
    result.out = engine.out();
    result.err = engine.err();
    return result;
}

// Catches a sound that does not load from the archive or is not heard as written, the start-up or
// shutdown lines (and the slot count from the alsoft.conf built beside the engine) changed, and
// a first play whose ID is not the first after the music slots'.
TEST(AudioEndToEnd, AWavFromTheArchiveIsHeard)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    const std::vector<int16_t> chime = audiotest::stereoSamples(13230);  // 0.3 s
    buildChimeGame(project, chime);
    const std::string capture = project.path("capture.wav");
    writeFile(project.path("alsoft.conf"), audiotest::waveConfig(capture, 0));
    const ProcessResult run =
        play(project.game(), {ENGINE_ENV[1], "ALSOFT_DRIVERS=wave", "ALSOFT_CONF=" + project.path("alsoft.conf")}, 800);
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(AUDIO_START + "a:Init\t2\ttrue\n" + AUDIO_STOP, run.out) << "IDs 0 and 1 went to the music slots";
    EXPECT_EQ("", run.err);
    const audiotest::Capture heard = audiotest::readCapture(capture);
    const auto runs = audiotest::loudRuns(heard.left);
    ASSERT_EQ(1u, runs.size()) << "the chime, once";
    EXPECT_LE(audiotest::strayFromStereo(heard, runs[0].first, chime), 2) << "the chime as written";
}

// The same script in every audio configuration: it calls every audio and pose function once its
// room's resources have loaded and prints what each answers, then ends the game.
void buildEveryFunctionGame(SourceProject &project)
{
    project.file("audio/chime.wav", audiotest::wavBytes(1, 22050, 16, audiotest::samples16(std::vector<int16_t>(2205, 3000))));
    project.file("audio/tune.ogg", "");
    ASSERT_EQ(0, system(("sox -n -r 22050 -c 1 '" + project.source() + "/audio/tune.ogg' synth 0.5 sine 440").c_str()));
    project.image("red.png", "-size 8x8 xc:red");
    project.file("scraps/body.scrap", "[frame]\nimage = red.png\nrect = 0 0 8 8\n");
    project.file("models/hero.model", "[bone]\nname = torso\nscrap = body\n");
    project.file("anims/hero-wave.anim", "[animation]\nmodel = hero\nlength = 30\n[texts]\nhi\n[markers]\n5 1 2 hi\n"
                                         "[rotation]\nbone = torso\ntime = 0\nend = 30\nfrom = 0\nto = 90\n");
    project.room("a", "[sounds]\nchime.wav\n[music]\ntune.ogg\n[models]\nhero\n[animations]\nhero-wave\n",
                 "io.stdout:setvbuf('no')\n"
                 "function Step() if not resourcesAreLoaded() then return end\n"
                 "  local s, m = getSoundHandle('chime.wav'), getMusicHandle('tune.ogg')\n"
                 "  local id = playSound(s, true, 1)\n"
                 "  print('sound', id, isSoundSrcPlaying(id))\n"
                 "  soundVolume(s, 0.5); soundPitch(s, 1.5); soundType(s, FROM_POINT); soundPos(s, 1, 2); soundPan(s, -1)\n"
                 "  soundObj(s, 3); soundFilter(s, true); soundGain(s, 0.5); soundGainHF(s, 0.5); soundEnv(s, 1)\n"
                 "  soundSrcVolume(id, 0.5); soundSrcPitch(id, 2); soundSrcType(id, FROM_OBJECT); soundSrcPos(id, 1, 2)\n"
                 "  soundSrcPan(id, 1); soundSrcObj(id, 4); soundSrcFilter(id, true); soundSrcGain(id, 0.1)\n"
                 "  soundSrcGainHF(id, 0.1); soundSrcEnv(id, 1); stopSoundSrc(id)\n"
                 "  print('stopped', isSoundSrcPlaying(id), getNumAudioEnvs(), presetAudioEnv(1, 10, PRESET_CAVE))\n"
                 "  print('music', setNumMusicSlots(3), assignMusicToSlot(2, m), appendMusicToSlot(2, m))\n"
                 "  playMusicSlot(2, 0.25, LOOP_ALL); print('playing', isMusicPlaying(2), getMusicSource(2))\n"
                 "  pauseMusicSlot(2); print('paused', isMusicPlaying(2)); stopMusicSlot(2); stopAllMusic()\n"
                 "  print('slots', setNumMusicSlots(1), setNumMusicSlots(2000), isMusicPlaying(2), assignMusicToSlot(1, m))\n"
                 "  local pose, anim = getModelPose(getModelHandle('hero')), getAnimHandle('hero-wave')\n"
                 "  print('pose', animatePose(pose, anim, 10), animatePose(pose, anim, 30), getMarkerIndex(anim, 'hi'))\n"
                 "  local marker = getActiveMarkers(pose)[1]\n"
                 "  print('marker', marker.x, marker.y, marker.time, marker.textIndex)\n"
                 "  renderPose(pose); freezePose(pose); setDefaultPose(pose); _FREEMODELPOSE(pose); renderPose(pose)\n"
                 "  print('pose freed', animatePose(pose, anim, 1), #getActiveMarkers(pose), animatePose(5, anim, 1))\n"
                 "  os.exit(0) end\n");
    const ProcessResult built = project.compile(true);
    ASSERT_EQ(0, built.exitCode) << built.err;
    std::filesystem::remove_all(project.game() + "/Projects");
}

// Catches an audio or pose function that fails, raises an error or answers otherwise than it
// should when the audio is off, its device name does not exist (the default device opens) or no
// device opens at all; and messages other than the start-up lines or the two lines of a missing device.
TEST(AudioEndToEnd, EveryFunctionAnswersWithAndWithoutADevice)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    buildEveryFunctionGame(project);
    if (HasFatalFailure()) return;
    const std::string pose = "pose\tfalse\ttrue\t0\nmarker\t1\t2\t5\t0\npose freed\ttrue\t0\ttrue\n";
    // Without audio, a play and a source query each give a fresh ID that names no slot.
    const std::string silent = "sound\t0\tfalse\nstopped\tfalse\t0\nmusic\tfalse\tfalse\tfalse\n"
                               "playing\tfalse\t1\npaused\tfalse\nslots\tfalse\tfalse\tfalse\tfalse\n" + pose;
    const std::string heard = "sound\t2\ttrue\nstopped\tfalse\t2\nmusic\ttrue\ttrue\ttrue\n"
                              "playing\ttrue\t3\npaused\tfalse\nslots\ttrue\tfalse\tfalse\tfalse\n" + pose;
    const struct
    {
        const char *name, *settings, *drivers;
        std::string out;
    } runs[] = {
        {"audio off", "[audio]\nenabled = false\n", "null", silent},
        {"a device that does not exist", "[audio]\ndevice = \"No Such Device\"\n", "null", AUDIO_START + heard},
        {"no device at all", "", "nothing-here",
         "ERROR: Could not open the audio device.\n       There will be no sound.\n" + silent},
    };
    for (const auto &run : runs) {
        writeFile(project.game() + "/Quillfen.ini", std::string("[project]\ncodename = e2e\n") + run.settings);
        const ProcessResult played = runProgram({QF_ENGINE_PATH}, project.game(), 60,
                                                {ENGINE_ENV[1], std::string("ALSOFT_DRIVERS=") + run.drivers});
        EXPECT_EQ(0, played.exitCode) << run.name;
        EXPECT_EQ(run.out, played.out) << run.name;
        EXPECT_EQ("", played.err) << run.name;
    }
}

// Catches a device without auxiliary sends or with a single source stopping the start, and the
// messages that say what is missing changed: sounds then play dry (no environments), or there is
// no music system (setNumMusicSlots answers false).
TEST(AudioEndToEnd, StartUpSaysWhatTheDeviceLacks)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    project.room("a", "", "function Init() print('a:Init', getNumAudioEnvs(), setNumMusicSlots(1)) os.exit(0) end\n");
    const ProcessResult built = project.compile(true);
    ASSERT_EQ(0, built.exitCode) << built.err;
    const std::string started = "Initialized OpenAL device and context.\n", efx = "The EFX extension is available.\n";
    const struct { const char *config; std::string out; } rows[] = {
        {"sends = 0", started + efx + "ERROR: Not enough auxiliary effect slots for EFX to function.\n"
                      "ERROR: Failed to initialize EFX extension.\n       Sounds will have no environmental effects.\n"
                      "Number of audio source slots: 1000\nQuillfen Audio has loaded successfully.\na:Init\t0\ttrue\n"},
        {"sources = 1", started + efx + "DEBUG SLOT 0: Aux, effect, reverb, attach.\nDEBUG SLOT 1: Aux, effect, reverb, attach.\n"
                        "Number of auxiliary effect slots: 2\nNumber of audio source slots: 1\n"
                        "ERROR: Music system did not initialize.\n       Game will have no music.\n"
                        "Quillfen Audio has loaded successfully.\na:Init\t2\tfalse\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.config);
        writeFile(project.path("alsoft.conf"), std::string("[general]\n") + row.config + "\n");
        const ProcessResult run = runProgram({QF_ENGINE_PATH}, project.game(),
                                             60, {ENGINE_ENV[0], ENGINE_ENV[1], "ALSOFT_CONF=" + project.path("alsoft.conf")});
        EXPECT_EQ(0, run.exitCode);
        EXPECT_EQ(row.out, run.out);
        EXPECT_EQ("", run.err);
    }
}

}  // namespace
