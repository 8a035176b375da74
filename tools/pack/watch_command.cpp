// tools/pack/watch_command.cpp - `quillfen-pack compile --watch SOURCE OUTPUT`: the save-and-see
// loop's half on the source side. It compiles once, then again each time a file under SOURCE
// changes, until SIGINT or SIGTERM; a build with errors changes nothing in OUTPUT and the watch
// goes on. Each build is made in a staging folder inside OUTPUT and only the files whose bytes
// changed are moved over, one rename each, so the engine's development mode (watching OUTPUT's
// project directory) reloads just what changed and never reads a half-written file.
// Threads: one (a command-line tool); the signal handler only sets a flag.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "core/config.h"
#include "core/file_watch.h"
#include "pack_commands.h"
#include "project_source.h"

namespace fs = std::filesystem;

static volatile sig_atomic_t stopWatching = 0;
static void onStopSignal(int) { stopWatching = 1; }

std::string withReloadOn(const std::string &settings)
{
    clearConfig();
    loadConfigText(settings);
    const bool says = getConfigString("debug:reload", std::string(1, '\0')) != std::string(1, '\0');
    clearConfig();
    if (says) return settings;
    return settings + (settings.empty() || settings.back() == '\n' ? "" : "\n") + "\n[debug]\nreload = true\n";
}

// Same bytes in both files (a missing file is never the same).
static bool sameFile(const std::string &a, const std::string &b)
{
    std::string first, second;
    return readWholeFile(a, first) && readWholeFile(b, second) && first == second;
}

bool replaceChangedFiles(const std::string &stage, const std::string &output, const std::string &projectDirectory,
                         const std::vector<std::string> &entries)
{
    std::error_code error;
    std::set<std::string> kept(entries.begin(), entries.end());
    kept.insert(SETTINGS_FILE);
    for (const std::string &entry : kept) {
        const fs::path from = fs::path(stage) / entry, to = fs::path(output) / entry;
        if (sameFile(from.string(), to.string())) continue;
        fs::create_directories(to.parent_path(), error);
        fs::rename(from, to, error);  // both inside OUTPUT: one file system
        if (error) return failure("File '" + to.string() + "' could not be written.");
    }
    std::vector<std::string> present;
    listFilesUnder((fs::path(output) / projectDirectory).string(), present);
    for (const std::string &name : present) {
        if (!kept.count(projectDirectory + name)) fs::remove(fs::path(output) / projectDirectory / name, error);
    }
    return true;
}

// Where OUTPUT lies inside SOURCE ("" when it does not): its own changes must not start builds.
static std::string outputInsideSource(const std::string &source, const std::string &output)
{
    std::error_code error;
    const fs::path relative = fs::weakly_canonical(output, error).lexically_relative(fs::weakly_canonical(source, error));
    const std::string text = relative.generic_string();
    return text.empty() || text.compare(0, 2, "..") == 0 ? "" : text + "/";
}

int watchAndCompile(const std::string &source, const std::string &output)
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    FileWatch *watch = startFileWatch(source);
    if (!watch) return failure("Source folder '" + source + "' cannot be watched.");
    const std::string skipped = outputInsideSource(source, output);
    compileProject(source, output, false, true);
    printf("Watching '%s' for changes; Ctrl+C stops.\n", source.c_str());
    fflush(stdout);
    std::vector<std::string> changed, more;
    while (!stopWatching) {
        if (!takeFileChanges(watch, changed, 500)) continue;  // wakes twice a second to see a stop
        while (!stopWatching && takeFileChanges(watch, more, 100)) changed.insert(changed.end(), more.begin(), more.end());
        bool relevant = false;
        for (const std::string &path : changed) relevant = relevant || skipped.empty() || path.compare(0, skipped.size(), skipped) != 0;
        if (!relevant || stopWatching) continue;
        printf("Changed: %s%s\n", changed[0].c_str(), changed.size() > 1 ? " and more" : "");
        compileProject(source, output, false, true);
        fflush(stdout);
        fflush(stderr);
    }
    stopFileWatch(watch);
    printf("Stopped watching '%s'.\n", source.c_str());
    return EXIT_DONE;
}
