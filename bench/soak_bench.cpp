// soak_bench - the real engine plays a self-driving soak game for N minutes (default 10) under X
// while this program clicks and types into it through XTEST (xdotool). The game has six rooms;
// each room lists 14 images (five formats, overlapping with its neighbours), one of two fonts,
// one of two skeletal models with its walk, and music; it draws them with 50 walking characters,
// plays a dozen sounds a second, and every three seconds includes the next room in a new resource
// list, waits for it, saves and loads a slot and switches, so resources load and unload all the
// time. Music streams in two slots all along: slot 0 a 220 Hz playlist on the left channel that
// never changes, slot 1 a 330 Hz playlist on the right that each room replaces while it plays (a
// playing slot goes on with its new playlist at its next buffer fill, without a gap). The engine's
// audio goes to OpenAL Soft's wave-file backend; we read the capture as it grows and count
// underruns: runs of blocks where a slot's tone is missing (the sounds play at 3 kHz, apart).
// Every minute we print the engine's resident memory, the frames it stepped (against the clock's
// count) and drew, what the game counted, the underruns and any stderr line. Goals: resident
// memory flat after the first minute (growth under 1 MiB over the last eight), no stderr line at
// all (the game asks for none), every frame stepped, no underrun.
// Usage: soak_bench [--minutes N] [--keep]   (needs DISPLAY; bench/soak.sh starts a private Xvfb)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

static const int ROOMS = 6;
static const int IMAGES = 36;           // room k lists images 6k .. 6k+13 (mod 36)
static const int IMAGES_PER_ROOM = 14;
static const int FRAMERATE = 60;
static const int CHARACTERS = 50;

static std::string toolPath(const char *name)
{
    const std::string engine = QF_ENGINE_PATH;
    return engine.substr(0, engine.rfind('/') + 1) + name;
}

static bool run(const std::string &command)
{
    if (system(command.c_str()) == 0) return true;
    fprintf(stderr, "soak_bench: failed: %s\n", command.c_str());
    return false;
}

static void writeText(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

static std::string readText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Image i: a size and a format that change with i, drawn by ImageMagick.
static std::string imageName(int i)
{
    static const char *const kinds[] = {"png", "bmp", "tga", "jpg", "gif"};
    return "img" + std::to_string(i) + "." + kinds[i % 5];
}

static bool makeImage(const std::string &folder, int i)
{
    const int width = 16 + (i * 37) % 240, height = 16 + (i * 53) % 200;
    const std::string name = imageName(i);
    std::string format;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0) format = "BMP3:";
    const std::string orient = name.find(".tga") != std::string::npos ? " -orient TopLeft" : "";
    return run("convert -size " + std::to_string(width) + "x" + std::to_string(height) + " plasma:fractal -seed " +
               std::to_string(i) + orient + " '" + format + folder + "/" + name + "'");
}

static std::string roomScript(int room)
{
    std::string images = "{";
    for (int k = 0; k < IMAGES_PER_ROOM; k++) images += "'" + imageName((room * 6 + k) % IMAGES) + "',";
    images += "}";
    const std::string next = "r" + std::to_string((room + 1) % ROOMS);
    const std::string font = room % 2 ? "big.fnt" : "small.fnt", kind = std::to_string(room % 2);
    return "local IMAGES = " + images + "\n"
           "function Init()\n"
           "  soakRooms = soakRooms + 1; roomSteps = 0; asked = false\n"
           "  for i, name in ipairs(IMAGES) do local s = Sprite:new(); s.image = getImageHandle(name); s.n = i; instTable[i] = s end\n"
           "  local label = Label:new(); label.font = getFontHandle('" + font + "'); instTable.label = label\n"
           "  local model, walk = getModelHandle('walker" + kind + "'), getAnimHandle('walker" + kind + "-walk')\n"
           "  for i = 1, " + std::to_string(CHARACTERS) + " do local c = Walker:new(); c.pose = getModelPose(model); c.walk = walk;"
           " c.x = (i * 53) % 600 + 20; c.y = (i * 29) % 400 + 40; instTable['walker' .. i] = c end\n"
           "  assignMusicToSlot(1, getMusicHandle('right" + kind + ".ogg'));"
           " appendMusicToSlot(1, getMusicHandle('right" + std::to_string(1 - room % 2) + ".ogg')); playMusicSlot(1, 0, LOOP_ALL)\n"
           "end\n"
           "function Step()\n"
           "  soakSteps = soakSteps + 1; roomSteps = roomSteps + 1\n"
           "  if soakSteps % 5 == 0 then soundPan(click, (soakSteps % 7 - 3) / 3); playSound(click, false, 2) end\n"
           "  if keyPressed(KEY_A) then soakKeys = soakKeys + 1 end\n"
           "  if mousePressed(BUTTON_LEFT) then soakClicks = soakClicks + 1 end\n"
           "  if soakSteps % 60 == 0 then\n"
           "    print(string.format('soak steps %d drawn %d rooms %d keys %d clicks %d saves %d markers %d', soakSteps,"
           " soakDrawn, soakRooms, soakKeys, soakClicks, soakSaves, soakMarkers))\n"
           "  end\n"
           "  if roomSteps == 120 then beginResourceList(); includeRoom('r" + std::to_string(room) + "', 1);"
           " includeRoom('" + next + "', 2); endResourceList(); asked = true end\n"
           "  if asked and roomSteps >= 180 and resourcesAreLoaded() then\n"
           "    score = soakSteps; label = 'room " + std::to_string(room) + "'; flags = {true, false, soakSteps % 2 == 0}\n"
           "    history = {soakSteps, soakDrawn, soakRooms}\n"
           "    if saveGame('1') and loadGame('1') and score == soakSteps then soakSaves = soakSaves + 1 end\n"
           "    beginResourceList(); includeRoom('" + next + "', 1); endResourceList()\n"
           "    forceNewRoom('" + next + "')\n"
           "  end\n"
           "end\n"
           "function Render() soakDrawn = soakDrawn + 1 end\n";
}

// The soak game's source, compiled into folder/game with its archive.
static bool makeGame(const std::string &folder)
{
    const std::string source = folder + "/source";
    if (!run("mkdir -p '" + source + "/rooms' '" + source + "/objects' '" + source + "/images' '" + source + "/fonts' '" +
             source + "/scraps' '" + source + "/models' '" + source + "/anims' '" + source + "/audio'"))
        return false;
    std::string project = "[project]\ncodename = soak\nwidth = 640\nheight = 480\nfirst-room = first\n\n[rooms]\nfirst\n";
    for (int r = 0; r < ROOMS; r++) project += "r" + std::to_string(r) + "\n";
    project += "\n[saved]\ninteger score\nstring label\nboolean-array flags\ninteger-array history\n";
    writeText(source + "/project.qf", project);
    writeText(source + "/Quillfen.ini", "[project]\ncodename = soak\n[display]\ncaption = Quillfen soak\nframerate = 60\n");
    // The first room only starts the counters and moves on to r0.
    writeText(source + "/rooms/first.room", "[sounds]\nclick.wav\n[music]\nleft0.ogg\nleft1.ogg\n");
    writeText(source + "/rooms/first.lua",
              "io.stdout:setvbuf('line')\n"
              "soakSteps, soakDrawn, soakRooms, soakKeys, soakClicks, soakSaves, soakMarkers = 0, 0, 0, 0, 0, 0, 0\n"
              "function Init() print('soak begin'); beginResourceList(); includeRoom('r0', 1); endResourceList() end\n"
              "function Step() soakSteps = soakSteps + 1; if not resourcesAreLoaded() then return end\n"
              "  click = getSoundHandle('click.wav')\n"
              "  assignMusicToSlot(0, getMusicHandle('left0.ogg')); appendMusicToSlot(0, getMusicHandle('left1.ogg'))\n"
              "  playMusicSlot(0, 0, LOOP_ALL); forceNewRoom('r0') end\n"
              "function Render() soakDrawn = soakDrawn + 1 end\n");
    writeText(source + "/objects/Sprite.lua",
              "function Sprite:Init() self.t = 0 end\n"
              "function Sprite:Step() self.t = self.t + 1 end\n"
              "function Sprite:Render()\n"
              "  local x = 40 + (self.n * 97 + self.t * 2) % 560; local y = 40 + (self.n * 61 + self.t) % 400\n"
              "  setRenderColor(255, 255, 255, 255)\n"
              "  drawImage(self.image, x, y)\n"
              "  drawImageExt(self.image, 640 - x, 480 - y, self.t % 360, 0.5)\n"
              "end\n"
              "function Sprite:ShutDown() end\n");
    writeText(source + "/objects/Label.lua",
              "function Label:Init() end\n"
              "function Label:Step() end\n"
              "function Label:Render()\n"
              "  setRenderColor(255, 255, 0, 255)\n"
              "  drawText(self.font, 'Soak ' .. soakSteps .. ' width ' .. getTextWidth(self.font, 'Soak'), 10, 460, 0, 1)\n"
              "  drawRectangle(5, 5, 100, 20, false); drawCircle(600, 40, 20, true); drawLine(0, 0, 640, 480)\n"
              "end\n"
              "function Label:ShutDown() end\n");
    writeText(source + "/objects/Walker.lua",
              "function Walker:Init() end\n"
              "function Walker:Step() animatePose(self.pose, self.walk, 1)\n"
              "  for _, marker in ipairs(getActiveMarkers(self.pose)) do soakMarkers = soakMarkers + 1 end end\n"
              "function Walker:Render() pushMatrix(); translateRender(self.x, self.y, 0); renderPose(self.pose); popMatrix() end\n"
              "function Walker:ShutDown() end\n");
    for (int kind = 0; kind < 2; kind++) {
        const std::string name = "walker" + std::to_string(kind), legs = kind ? "30" : "20";
        writeText(source + "/scraps/" + name + ".scrap", "[frame]\nimage = " + imageName(kind) + "\nrect = 0 0 12 " + legs +
                                                             "\nduration = 8\n[frame]\nimage = " + imageName(kind) +
                                                             "\nrect = 4 0 12 " + legs + "\nduration = 8\n");
        writeText(source + "/models/" + name + ".model",
                  "[bone]\nname = body\nscrap = " + name + "\njoint = 0 " + legs + " left\njoint = 0 " + legs + " right\n"
                  "[bone]\nname = left\nscrap = " + name + "\nposition = 0 " + legs + "\n"
                  "[bone]\nname = right\nscrap = " + name + "\nposition = 0 " + legs + "\n");
        writeText(source + "/anims/" + name + "-walk.anim",
                  "[animation]\nmodel = " + name + "\nlength = 40\n[texts]\nstep\n[markers]\n0 0 0 step\n20 0 0 step\n"
                  "[rotation]\nbone = left\ntime = 0\nend = 20\nfrom = -30\nto = 30\n"
                  "[rotation]\nbone = right\ntime = 0\nend = 20\nfrom = 30\nto = -30\n"
                  "[rotation]\nbone = left\ntime = 20\nend = 40\nfrom = 30\nto = -30\n"
                  "[rotation]\nbone = right\ntime = 20\nend = 40\nfrom = -30\nto = 30\n");
    }
    // Music: 220 Hz on the left (slot 0), 330 Hz on the right (slot 1), tracks of 2 and 3 s.
    for (int k = 0; k < 2; k++) {
        const std::string seconds = std::to_string(2 + k) + " ";
        if (!run("sox -n -r 44100 -c 2 '" + source + "/audio/left" + std::to_string(k) + ".ogg' synth " + seconds +
                 "sine 220 vol 0.3 remix 1 0") ||
            !run("sox -n -r 44100 -c 2 '" + source + "/audio/right" + std::to_string(k) + ".ogg' synth " + seconds +
                 "sine 330 vol 0.3 remix 0 1"))
            return false;
    }
    if (!run("sox -n -r 22050 -c 1 -b 16 '" + source + "/audio/click.wav' synth 0.05 sine 3000 fade 0 0.05 0.04 vol 0.3"))
        return false;
    for (int r = 0; r < ROOMS; r++) {
        std::string lists = "[images]\n";
        for (int k = 0; k < IMAGES_PER_ROOM; k++) lists += imageName((r * 6 + k) % IMAGES) + "\n";
        lists += std::string("[fonts]\n") + (r % 2 ? "big.fnt" : "small.fnt") + "\n[objects]\nSprite\nLabel\nWalker\n";
        lists += "[models]\nwalker" + std::to_string(r % 2) + "\n[animations]\nwalker" + std::to_string(r % 2) + "-walk\n";
        lists += "[sounds]\nclick.wav\n[music]\nleft0.ogg\nleft1.ogg\nright0.ogg\nright1.ogg\n";
        writeText(source + "/rooms/r" + std::to_string(r) + ".room", lists);
        writeText(source + "/rooms/r" + std::to_string(r) + ".lua", roomScript(r));
    }
    for (int i = 0; i < IMAGES; i++)
        if (!makeImage(source + "/images", i)) return false;
    if (!run("'" + toolPath("quillfen-font") + "' -q -s 12 '" + source + "/fonts/small.fnt'")) return false;
    if (!run("'" + toolPath("quillfen-font") + "' -q -s 28 '" + source + "/fonts/big.fnt'")) return false;
    return run("'" + toolPath("quillfen-pack") + "' compile --archive '" + source + "' '" + folder + "/game' >/dev/null") &&
           run("rm -r '" + folder + "/game/Projects'");
}

// Resident set of a process in KiB (VmRSS), or -1.
static long residentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return atol(line.c_str() + 6);
    return -1;
}

static pid_t startEngine(const std::string &folder)
{
    const pid_t child = fork();
    if (child == 0) {
        if (chdir((folder + "/game").c_str()) != 0) _exit(127);
        if (!freopen((folder + "/out.txt").c_str(), "w", stdout) || !freopen((folder + "/err.txt").c_str(), "w", stderr))
            _exit(127);
        unsetenv("ALSOFT_DRIVERS");
        setenv("ALSOFT_CONF", (folder + "/alsoft.conf").c_str(), 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        execl(QF_ENGINE_PATH, QF_ENGINE_PATH, (char *)nullptr);
        _exit(127);
    }
    return child;
}

// Reads the engine's audio capture as it grows. In each block of 1/20 s, Goertzel's filter gives
// the level of slot 0's tone on the left and slot 1's on the right, as the root mean square of its
// amplitude over five parts of 10 ms (a playlist change splices the tone at another phase, which
// cancels it in a whole block's filter but in one part at most); a block where a slot's level is
// under a quarter of the highest it reached is missing, and a run of missing blocks after the
// slot was first heard is one underrun.
class MusicWatch
{
public:
    explicit MusicWatch(std::string path) : path(std::move(path)) {}

    void readMore()
    {
        FILE *file = fopen(path.c_str(), "rb");
        if (file == nullptr) return;
        if (dataStart < 0) findData(file);
        if (dataStart >= 0 && fseek(file, dataStart + consumed, SEEK_SET) == 0) {
            std::vector<int16_t> chunk(1 << 16);
            size_t got;
            while ((got = fread(chunk.data(), 2, chunk.size(), file)) > 0) {
                consumed += long(got) * 2;
                pending.insert(pending.end(), chunk.begin(), chunk.begin() + got);
                takeBlocks();
            }
        }
        fclose(file);
    }
    long underruns(int slot) const { return runs[slot]; }
    double missingSeconds(int slot) const { return missingBlocks[slot] / 20.0; }
    double heardSeconds() const { return blocks / 20.0; }

private:
    void findData(FILE *file)  // the wave backend leaves the sizes of RIFF and data unset until it closes
    {
        unsigned char header[12], chunk[8], format[16];
        if (fread(header, 1, 12, file) != 12 || memcmp(header, "RIFF", 4) || memcmp(header + 8, "WAVE", 4)) return;
        for (long at = 12; fseek(file, at, SEEK_SET) == 0 && fread(chunk, 1, 8, file) == 8;) {
            const long size = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | long(chunk[7]) << 24;
            if (memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && fread(format, 1, 16, file) == 16) {
                channels = format[2] | format[3] << 8;
                rate = format[4] | format[5] << 8 | format[6] << 16;
                bits = format[14] | format[15] << 8;
            } else if (memcmp(chunk, "data", 4) == 0) {
                if (channels == 2 && bits == 16 && rate > 0) dataStart = at + 8;
                return;
            }
            at += 8 + size;
        }
    }
    static double level(const int16_t *frames, size_t count, int channel, double frequency, int rate)
    {
        const double coefficient = 2 * cos(2 * M_PI * frequency / rate);
        double s1 = 0, s2 = 0;
        for (size_t i = 0; i < count; i++) {
            const double s0 = frames[2 * i + channel] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        return sqrt(s1 * s1 + s2 * s2 - coefficient * s1 * s2) * 2 / count;  // the tone's amplitude
    }
    void takeBlocks()
    {
        const size_t frames = rate / 20;
        size_t used = 0;
        for (; pending.size() - used >= frames * 2; used += frames * 2, blocks++) {
            for (int slot = 0; slot < 2; slot++) {
                double power = 0;
                for (int part = 0; part < 5; part++) {
                    const double amplitude =
                        level(pending.data() + used + part * frames / 5 * 2, frames / 5, slot, slot ? 330 : 220, rate);
                    power += amplitude * amplitude / 5;
                }
                const double heard = sqrt(power);
                highest[slot] = std::max(highest[slot], heard);
                if (highest[slot] < 500) continue;  // not started yet
                const bool missing = heard < highest[slot] / 4;
                missingBlocks[slot] += missing;
                runs[slot] += missing && !wasMissing[slot];
                wasMissing[slot] = missing;
            }
        }
        pending.erase(pending.begin(), pending.begin() + used);
    }

    std::string path;
    long dataStart = -1, consumed = 0, blocks = 0;
    int channels = 0, rate = 0, bits = 0;
    std::vector<int16_t> pending;
    double highest[2] = {0, 0};
    bool wasMissing[2] = {false, false};
    long runs[2] = {0, 0}, missingBlocks[2] = {0, 0};
};

// The game's last "soak steps ..." line.
struct GameCounts
{
    long steps = 0, drawn = 0, rooms = 0, keys = 0, clicks = 0, saves = 0, markers = 0;
};

static GameCounts lastCounts(const std::string &out)
{
    GameCounts counts;
    const size_t at = out.rfind("soak steps ");
    if (at != std::string::npos)
        sscanf(out.c_str() + at, "soak steps %ld drawn %ld rooms %ld keys %ld clicks %ld saves %ld markers %ld",
               &counts.steps, &counts.drawn, &counts.rooms, &counts.keys, &counts.clicks, &counts.saves, &counts.markers);
    return counts;
}

static int lineCount(const std::string &text)
{
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

int main(int argc, char **argv)
{
    int minutes = 10;
    bool keep = false;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) minutes = atoi(argv[++i]);
        else if (strcmp(argv[i], "--keep") == 0) keep = true;
        else {
            fprintf(stderr, "usage: soak_bench [--minutes N] [--keep]\n");
            return 2;
        }
    }
    if (minutes < 1 || !getenv("DISPLAY")) {
        fprintf(stderr, "soak_bench: needs DISPLAY and --minutes of at least 1\n");
        return 2;
    }
    char folderName[] = "/tmp/quillfen-soak-XXXXXX";
    if (!mkdtemp(folderName)) return 1;
    const std::string folder = folderName;
    printf("soak game in %s: %d rooms, %d images, 2 fonts, 2 models, %d characters, 4 music tracks, 1 sound\n",
           folder.c_str(), ROOMS, IMAGES, CHARACTERS);
    fflush(stdout);
    if (!makeGame(folder)) return 1;
    writeText(folder + "/alsoft.conf", "[general]\ndrivers = wave\nchannels = stereo\nfrequency = 44100\nsample-type = int16\n"
                                       "[wave]\nfile = " + folder + "/capture.wav\n");
    MusicWatch music(folder + "/capture.wav");

    const pid_t engine = startEngine(folder);
    // The clock starts when the first room prints "soak begin": its first step is step 1.
    Clock::time_point begin;
    for (int waited = 0;; waited += 50) {
        if (readText(folder + "/out.txt").find("soak begin") != std::string::npos) {
            begin = Clock::now();
            break;
        }
        if (waited > 60000 || waitpid(engine, nullptr, WNOHANG) == engine) {
            fprintf(stderr, "soak_bench: the game did not start; stderr:\n%s", readText(folder + "/err.txt").c_str());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    std::vector<long> rss = {residentKb(engine)};  // index m: after m minutes
    printf("minute  resident MiB  steps (clock)    drawn   rooms  keys  clicks  saves  markers  underruns L R  stderr lines\n");
    printf("%6d  %12.2f\n", 0, rss[0] / 1024.0);
    fflush(stdout);
    int reportedErrLines = 0;
    for (int minute = 1; minute <= minutes; minute++) {
        const Clock::time_point end = begin + std::chrono::minutes(minute);
        while (Clock::now() < end) {
            // A click and a key every two seconds, at the window's middle (no window manager:
            // the window sits at 0,0 and keys go to the window under the pointer).
            run("xdotool mousemove 320 240 click 1 key a");
            std::this_thread::sleep_until(std::min(end, Clock::now() + std::chrono::seconds(2)));
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
        rss.push_back(residentKb(engine));
        const GameCounts counts = lastCounts(readText(folder + "/out.txt"));
        const std::string err = readText(folder + "/err.txt");
        music.readMore();
        printf("%6d  %12.2f  %6ld (%6.0f)  %6ld  %6ld  %4ld  %6ld  %5ld  %7ld  %9ld %ld  %d\n", minute, rss.back() / 1024.0,
               counts.steps, elapsed * FRAMERATE, counts.drawn, counts.rooms, counts.keys, counts.clicks, counts.saves,
               counts.markers, music.underruns(0), music.underruns(1), lineCount(err));
        // Any stderr line is printed once, as it appears.
        std::istringstream lines(err);
        std::string line;
        for (int n = 0; std::getline(lines, line); n++)
            if (n >= reportedErrLines) printf("  stderr: %s\n", line.c_str());
        reportedErrLines = lineCount(err);
        fflush(stdout);
        if (rss.back() < 0) {
            fprintf(stderr, "soak_bench: the engine ended early\n");
            break;
        }
    }

    music.readMore();       // what was heard before the music ends with the game
    kill(engine, SIGTERM);  // SDL turns it into a quit event: a clean shutdown
    int status = 0;
    waitpid(engine, &status, 0);
    const std::string out = readText(folder + "/out.txt"), err = readText(folder + "/err.txt");
    const GameCounts counts = lastCounts(out);
    const size_t last = rss.size() - 1, from = last >= 3 ? 2 : 1;
    printf("summary: %d minutes; resident %.2f MiB after minute 1, %.2f MiB at the end; growth over minutes %zu..%zu: "
           "%+.2f MiB (goal < 1)\n",
           minutes, rss[std::min<size_t>(1, last)] / 1024.0, rss[last] / 1024.0, from, last,
           (rss[last] - rss[from]) / 1024.0);
    printf("summary: steps %ld (as last printed, every 60th), drawn %ld (%.1f%%), %ld room switches, %ld saves, %ld keys and "
           "%ld clicks seen; stderr lines %d (goal 0); exit %s %d\n",
           counts.steps, counts.drawn, counts.steps ? 100.0 * counts.drawn / counts.steps : 0.0, counts.rooms - 1,
           counts.saves, counts.keys, counts.clicks, lineCount(err), WIFEXITED(status) ? "code" : "signal",
           WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    printf("summary: %.0f s of audio captured; music underruns %ld in slot 0 and %ld in slot 1 (goal 0), %.2f s and %.2f s "
           "missing; %ld markers passed by the characters\n",
           music.heardSeconds(), music.underruns(0), music.underruns(1), music.missingSeconds(0), music.missingSeconds(1),
           counts.markers);
    if (!keep) run("rm -rf '" + folder + "'");
    return 0;
}
