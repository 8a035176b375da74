// tools/pack/bundle_command.cpp - `quillfen-pack bundle [--tar] SOURCE OUT`: a game as one folder
// a player runs on a common Linux desktop, with no developer package installed.
//
//   OUT/play               the launcher: enters OUT and starts lib/quillfen with lib/ searched first
//   OUT/Quillfen.ini       the game's settings
//   OUT/<codename>.qfa     the game, packed
//   OUT/lib/quillfen       the engine built beside this tool
//   OUT/lib/alsoft.conf    the audio settings beside the engine (OpenAL Soft reads them there)
//   OUT/lib/*.so.*         every shared library the engine needs that a desktop may lack
//
// How the libraries are chosen: the engine's dependency tree is walked through the DT_NEEDED
// entries of each ELF file, names resolved as the dynamic loader resolves them here (ldd). A
// library on the base list below is left to the player's system and its own dependencies are not
// followed (they are the system's business); every other one is copied, and followed. The base
// list is what every desktop has and what must match the player's machine: the C library, the
// C++ runtime, the GL driver and its dispatch libraries, the X11 client libraries, the sound
// system's client libraries, and the compression libraries that the GL driver itself loads (an
// older bundled copy would be forced on the player's driver). docs/projects.md lists it too.
// Threads: one (a command-line tool).
#include <elf.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "pack_commands.h"
#include "project_source.h"

namespace fs = std::filesystem;

namespace {

// Library name prefixes (up to ".so") that stay with the player's system.
const char *const BASE_LIBRARIES[] = {
    // the C library and the dynamic loader
    "linux-vdso", "ld-linux-x86-64", "ld-linux-aarch64", "libc", "libm", "libpthread", "libdl", "librt", "libresolv", "libutil",
    // the C++ runtime (the GL driver needs the system's own)
    "libstdc++", "libgcc_s",
    // OpenGL: glvnd and the driver
    "libGL", "libGLX", "libGLdispatch", "libOpenGL", "libEGL", "libglapi", "libdrm", "libgbm",
    // X11 clients
    "libX11", "libX11-xcb", "libxcb", "libXau", "libXdmcp", "libXext", "libXrender", "libXrandr", "libXfixes",
    "libXi", "libXcursor", "libXinerama", "libXxf86vm", "libxshmfence",
    // the sound system's clients (they speak to the player's sound server)
    "libasound", "libpulse", "libpulse-simple", "libjack", "libpipewire-0.3", "libsndio",
    // compression, loaded by the GL driver too
    "libz", "libzstd", "liblzma",
};

// "libGL.so.1" -> "libGL"
std::string libraryStem(const std::string &name)
{
    const size_t so = name.find(".so");
    return so == std::string::npos ? name : name.substr(0, so);
}

bool isBaseLibrary(const std::string &name)
{
    const std::string stem = libraryStem(name);
    for (const char *base : BASE_LIBRARIES)
        if (stem == base) return true;
    return false;
}

// The DT_NEEDED names of a 64-bit little-endian ELF file; false when it is not one.
bool neededLibraries(const std::string &path, std::vector<std::string> &needed)
{
    std::string bytes;
    needed.clear();
    if (!readWholeFile(path, bytes) || bytes.size() < sizeof(Elf64_Ehdr)) return false;
    const char *data = bytes.data();
    Elf64_Ehdr header;
    memcpy(&header, data, sizeof header);
    if (memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) return false;
    std::vector<Elf64_Phdr> segments(header.e_phnum);
    if (header.e_phoff + segments.size() * sizeof(Elf64_Phdr) > bytes.size()) return false;
    memcpy(segments.data(), data + header.e_phoff, segments.size() * sizeof(Elf64_Phdr));
    auto fileOffset = [&](uint64_t address) -> uint64_t {  // virtual address -> file offset
        for (const Elf64_Phdr &segment : segments) {
            if (segment.p_type == PT_LOAD && address >= segment.p_vaddr && address < segment.p_vaddr + segment.p_filesz)
                return address - segment.p_vaddr + segment.p_offset;
        }
        return UINT64_MAX;
    };
    for (const Elf64_Phdr &segment : segments) {
        if (segment.p_type != PT_DYNAMIC || segment.p_offset + segment.p_filesz > bytes.size()) continue;
        std::vector<uint64_t> names;
        uint64_t strings = UINT64_MAX;
        for (uint64_t at = segment.p_offset; at + sizeof(Elf64_Dyn) <= segment.p_offset + segment.p_filesz;
             at += sizeof(Elf64_Dyn)) {
            Elf64_Dyn entry;
            memcpy(&entry, data + at, sizeof entry);
            if (entry.d_tag == DT_NULL) break;
            if (entry.d_tag == DT_NEEDED) names.push_back(entry.d_un.d_val);
            if (entry.d_tag == DT_STRTAB) strings = fileOffset(entry.d_un.d_ptr);
        }
        if (strings >= bytes.size()) return false;
        for (uint64_t name : names) {
            if (strings + name >= bytes.size()) return false;
            needed.push_back(std::string(data + strings + name, strnlen(data + strings + name, bytes.size() - strings - name)));
        }
    }
    return true;
}

// Runs argv; its standard output goes to `out` when given. The exit code, or -1.
int runTool(const std::vector<std::string> &argv, std::string *out)
{
    int pipeEnds[2];
    if (out && pipe(pipeEnds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        if (out) {
            dup2(pipeEnds[1], STDOUT_FILENO);
            close(pipeEnds[0]);
            close(pipeEnds[1]);
        }
        std::vector<char *> words;
        for (const std::string &word : argv) words.push_back(const_cast<char *>(word.c_str()));
        words.push_back(nullptr);
        execvp(words[0], words.data());
        _exit(127);
    }
    if (out) {
        close(pipeEnds[1]);
        char buffer[4096];
        ssize_t got;
        while (child > 0 && (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) out->append(buffer, (size_t)got);
        close(pipeEnds[0]);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Where the dynamic loader finds each library of the engine's tree: "name => /path (0x...)".
bool resolveLibraries(const std::string &engine, std::map<std::string, std::string> &paths)
{
    std::string listing;
    if (runTool({"ldd", engine}, &listing) != 0) return failure("'ldd " + engine + "' failed: is it a dynamic executable?");
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        const std::string line = listing.substr(start, end - start);
        start = end + 1;
        const size_t arrow = line.find(" => ");
        if (arrow == std::string::npos) continue;
        const std::string name = line.substr(line.find_first_not_of(" \t"), arrow - line.find_first_not_of(" \t"));
        const std::string target = line.substr(arrow + 4, line.find(" (", arrow + 4) - arrow - 4);
        if (target != "not found") paths[name] = target;
    }
    return true;
}

bool copyLibraries(const std::string &engine, const fs::path &lib)
{
    std::map<std::string, std::string> paths;
    if (!resolveLibraries(engine, paths)) return false;
    std::vector<std::string> pending = {engine}, needed;
    std::set<std::string> copied;
    while (!pending.empty()) {
        const std::string file = pending.back();
        pending.pop_back();
        if (!neededLibraries(file, needed)) return failure("'" + file + "' is not a 64-bit ELF file.");
        for (const std::string &name : needed) {
            if (isBaseLibrary(name) || copied.count(name)) continue;
            auto found = paths.find(name);
            if (found == paths.end()) return failure("The engine needs '" + name + "', which is not installed here.");
            std::error_code error;
            fs::copy_file(found->second, lib / name, fs::copy_options::overwrite_existing, error);
            if (error) return failure("'" + found->second + "' could not be copied into the bundle.");
            copied.insert(name);
            pending.push_back(found->second);
        }
    }
    printf("Bundled %zu libraries; left to the system: the base libraries (docs/projects.md).\n", copied.size());
    return true;
}

const char *const LAUNCHER =
    "#!/bin/sh\n"
    "# Plays the game in this folder: the engine and the libraries it needs are in lib/, the game\n"
    "# (Quillfen.ini and its archive) here, where saves are written too. Works from anywhere.\n"
    "here=$(dirname \"$(readlink -f \"$0\" 2>/dev/null || echo \"$0\")\")\n"
    "cd \"$here\" || exit 1\n"
    "LD_LIBRARY_PATH=\"$PWD/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}\"\n"
    "export LD_LIBRARY_PATH\n"
    "exec \"$PWD/lib/quillfen\" \"$@\"\n";

}  // namespace

int bundleCommand(const Arguments &given)
{
    bool tar = false;
    Arguments args;
    for (const std::string &word : given) {
        if (word == "--tar") {
            tar = true;
        } else if (word.size() > 1 && word[0] == '-') {
            return usageError("bundle", "unknown option '" + word + "'");
        } else {
            args.push_back(word);
        }
    }
    if (args.size() != 2) return usageError("bundle", "a source folder and an output folder are needed");
    fs::path out = fs::path(args[1]).lexically_normal();
    if (out.filename().empty()) out = out.parent_path();  // "OUT/"
    const fs::path engine = fs::path(toolFolder()) / "quillfen", lib = out / "lib";
    std::error_code error;
    if (!fs::is_regular_file(engine, error)) return failure("No engine at '" + engine.string() + "' to bundle.");
    // Only an empty folder or an earlier bundle is replaced.
    if (fs::exists(out, error) && !fs::is_empty(out, error) && !fs::exists(out / "lib" / "quillfen", error)) {
        return failure("Folder '" + out.string() + "' is neither empty nor a bundle: choose another.");
    }
    fs::remove_all(out, error);
    const int compiled = compileProject(args[0], out.string(), true, false);
    if (compiled != EXIT_DONE) return compiled;
    fs::remove_all(out / "Projects", error);  // the archive holds them

    fs::create_directories(lib, error);
    fs::copy_file(engine, lib / "quillfen", fs::copy_options::overwrite_existing, error);
    if (error) return failure("The engine could not be copied into '" + lib.string() + "'.");
    // Without the engine's own audio settings, the ones the engine is built with: 1000 sources.
    const fs::path audioSettings = fs::path(toolFolder()) / "alsoft.conf";
    if (fs::exists(audioSettings, error)) {
        fs::copy_file(audioSettings, lib / "alsoft.conf", fs::copy_options::overwrite_existing, error);
    } else if (!writeWholeFile((lib / "alsoft.conf").string(), "[general]\nsources = 1000\n")) {
        error = std::make_error_code(std::errc::io_error);
    }
    if (error) return failure("File '" + (lib / "alsoft.conf").string() + "' could not be written.");
    if (!copyLibraries(engine.string(), lib)) return EXIT_FAILED;
    if (!writeWholeFile((out / "play").string(), LAUNCHER)) return failure("The launcher could not be written.");
    fs::permissions(out / "play", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec, error);

    if (tar) {
        const std::string archive = out.string() + ".tar.gz";
        const fs::path parent = out.has_parent_path() ? out.parent_path() : fs::path(".");
        if (runTool({"tar", "-C", parent.string(), "-czf", archive, out.filename().string()}, nullptr) != 0) {
            return failure("'" + archive + "' could not be written (tar failed).");
        }
        printf("Wrote '%s'.\n", archive.c_str());
    }
    printf("Bundled the game into '%s': run '%s/play'.\n", out.c_str(), out.c_str());
    return EXIT_DONE;
}
