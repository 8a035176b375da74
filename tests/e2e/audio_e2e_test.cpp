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

// Catches a missing device stopping or crashing the game, messages other than the two lines, and
// plays without a device that raise errors or claim to play.
TEST(AudioEndToEnd, WithoutADeviceTheGameRunsSilent)
{
    REQUIRE_X_DISPLAY();
    SourceProject project;
    buildChimeGame(project, audiotest::stereoSamples(4410));
    const ProcessResult run = play(project.game(), {ENGINE_ENV[1], "ALSOFT_DRIVERS=nothing-here"}, 100);
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ("ERROR: Could not open the audio device.\n       There will be no sound.\na:Init\t0\tfalse\n", run.out);
    EXPECT_EQ("", run.err);
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
