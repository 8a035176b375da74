// `quillfen-pack bundle`: the sample game as a player gets it, moved to another place and started
// through its launcher from another working directory, on an X server of the test's own. Every
// shared library the engine process maps must come from the bundle, or be one of the base
// libraries every desktop has, or have been loaded by such a system library for itself (the GL
// driver's own dependencies, the sound system's). The dynamic loader says who loaded what.
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "e2e_project.h"

namespace fs = std::filesystem;

namespace {

// The libraries a player's system provides (by name up to ".so"): the C library, the C++
// runtime, OpenGL (glvnd and the driver), X11 clients, the sound system's clients, compression.
std::string stemOf(const std::string &path)  // "/usr/lib/libGL.so.1.7.0" -> "libGL"
{
    const std::string name = fs::path(path).filename().string();
    return name.substr(0, name.find(".so"));
}

bool isBaseLibrary(const std::string &path)
{
    static const std::set<std::string> base = {
        "ld-linux-x86-64", "libc", "libm", "libpthread", "libdl", "librt", "libresolv", "libstdc++", "libgcc_s",
        "libGL", "libGLX", "libGLX_mesa", "libGLdispatch", "libOpenGL", "libglapi", "libEGL", "libdrm",
        "libX11", "libX11-xcb", "libxcb", "libXau", "libXdmcp", "libXext", "libXrender", "libXfixes", "libXcursor",
        "libXxf86vm", "libXrandr", "libXi", "libasound", "libpulse", "libpulse-simple", "libjack", "libpipewire-0.3",
        "libsndio", "libz", "libzstd", "liblzma"};
    return base.count(stemOf(path));
}

// Catches a library the bundle lacks (the engine would fail on a desktop without developer
// packages), a launcher that depends on the working directory or the bundle's old place, and a
// bundle that does not play.
TEST(Bundle, TheSamplePlaysFromAMovedCopyWithItsOwnLibraries)
{
    REQUIRE_X_DISPLAY();
    TempDir folder;
    const ProcessResult bundled =
        runPackTool({"bundle", "--tar", std::string(QF_SOURCE_DIR) + "/samples/demo", folder.file("game")});
    ASSERT_EQ(0, bundled.exitCode) << bundled.out << bundled.err;
    for (const char *file : {"play", "Quillfen.ini", "demo.qfa", "lib/quillfen", "lib/alsoft.conf", "lib/libSDL-1.2.so.0"})
        EXPECT_TRUE(fs::exists(folder.file("game/") + file)) << file;
    EXPECT_FALSE(fs::exists(folder.file("game/Projects"))) << "the archive holds the project";
    EXPECT_NE(std::string::npos, readFile(folder.file("game/lib/alsoft.conf")).find("sources"));
    EXPECT_EQ(0, system(("tar -tzf '" + folder.file("game.tar.gz") + "' | grep -qx 'game/lib/quillfen'").c_str()));

    fs::create_directories(folder.file("elsewhere"));
    fs::copy(folder.file("game"), folder.file("elsewhere/moved"), fs::copy_options::recursive);
    fs::remove_all(folder.file("game"));
    const std::string bundle = folder.file("elsewhere/moved/");
    ChildProcess engine;
    ASSERT_TRUE(engine.start({bundle + "play"}, "/",
                             {ENGINE_ENV[0], ENGINE_ENV[1], "LD_LIBRARY_PATH", "LD_DEBUG=files",
                              "LD_DEBUG_OUTPUT=" + folder.file("loader")}));
    for (int i = 0; i < 3000 && engine.out().find("entered the title room") == std::string::npos; i++) usleep(10 * 1000);
    ASSERT_NE(std::string::npos, engine.out().find("demo: entered the title room")) << engine.out() << engine.err();
    usleep(500 * 1000);  // audio, fonts and the driver are all in by now
    std::set<std::string> mapped;
    std::ifstream maps("/proc/" + std::to_string(engine.pid()) + "/maps");
    for (std::string line; std::getline(maps, line);) {
        const size_t path = line.find('/');
        if (path != std::string::npos && line.find(".so", path) != std::string::npos) mapped.insert(line.substr(path));
    }
    engine.signal(SIGTERM);
    ASSERT_TRUE(engine.waitExit(60000));
    EXPECT_EQ(0, engine.exitCode());
    EXPECT_EQ("", engine.err());

    // Who loaded each library first: "file=NAME [0];  needed by PARENT [0]" or "file=PATH [0];
    // dynamically loaded by PARENT [0]", in the log of the engine's process.
    std::map<std::string, std::string> loadedBy;  // file name as asked for -> the parent's path
    std::set<std::string> dlopened;               // ... of those opened by dlopen
    const bool sanitized = getenv("TSAN_OPTIONS") || getenv("ASAN_OPTIONS");
    std::string log = readFile(folder.file("loader") + "." + std::to_string(engine.pid()));
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const size_t file = line.find("file="), by = line.find(" by ");
        if (file == std::string::npos || by == std::string::npos) continue;
        const std::string name = fs::path(line.substr(file + 5, line.find(' ', file) - file - 5)).filename().string();
        if (loadedBy.count(name)) continue;
        loadedBy[name] = line.substr(by + 4, line.find(' ', by + 4) - by - 4);
        if (line.find("dynamically loaded by") != std::string::npos) dlopened.insert(name);
    }
    ASSERT_FALSE(loadedBy.empty()) << "no loader log";
    // The name a mapped file was asked for by: libelf.so.1 for /usr/lib/.../libelf-0.188.so.
    auto askedAs = [&](const std::string &path) {
        std::error_code error;
        for (const auto &entry : loadedBy)
            if (fs::equivalent(fs::path(path).parent_path() / entry.first, path, error)) return entry.first;
        return fs::path(path).filename().string();
    };
    // A library is the system's business when it is base, or its loader is outside the bundle and itself the system's.
    std::function<bool(const std::string &, int)> systemOwn = [&](const std::string &path, int depth) {
        if (path.compare(0, bundle.size(), bundle) == 0 || depth > 20) return false;
        const std::string name = askedAs(path);
        if (isBaseLibrary(name)) return true;
        // A sanitized engine's runtime intercepts dlopen: the loader log names it (or the program)
        // instead of the library that asked. Its dlopened libraries are the GL driver's and the
        // sound system's; the engine itself opens none.
        if (sanitized && dlopened.count(name)) return true;
        // The ASan job preloads the GL driver (LD_PRELOAD) so its leak check can name it.
        std::error_code error;
        std::istringstream preloads(getenv("LD_PRELOAD") ? getenv("LD_PRELOAD") : "");
        for (std::string preload; std::getline(preloads, preload, ':');)
            if (fs::equivalent(preload, path, error)) return true;
        auto parent = loadedBy.find(name);
        return parent != loadedBy.end() && systemOwn(parent->second, depth + 1);
    };
    int inBundle = 0;
    for (const std::string &path : mapped) {
        if (path.compare(0, bundle.size(), bundle) == 0) {
            inBundle++;
        } else {
            EXPECT_TRUE(systemOwn(path, 0)) << path << " comes from the system for the bundle (loaded by "
                                            << loadedBy[askedAs(path)] << ")";
        }
    }
    EXPECT_GE(inBundle, 5) << "SDL, Lua, DevIL, GLEW, GLU at least";
}

}  // namespace
