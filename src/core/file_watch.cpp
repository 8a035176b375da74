// core/file_watch.cpp - recursive folder watching on inotify.
// inotify watches one folder, not the tree below it: every folder gets a watch of its own,
// mapped back to its path relative to the root. A folder created (or moved in) later gets its
// watch when its event arrives, and since files may have landed in it before that, everything
// already inside is reported as changed too. Reported events: a file closed after writing, moved
// in, removed or moved away (a new file counts when it is closed after writing); the watch of a removed folder goes with it.
// Threads: the thread that owns the watch (the main thread in the engine).
#include "core/file_watch.h"

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

struct FileWatch
{
    int descriptor = -1;                // the inotify instance, non-blocking
    std::string root;                   // the watched folder as given
    std::map<int, std::string> folders; // watch descriptor -> folder relative to root ("" = root)
};

static const uint32_t WATCHED_EVENTS =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF;

static std::string joinRelative(const std::string &folder, const std::string &name)
{
    return folder.empty() ? name : folder + "/" + name;
}

static bool isHiddenPath(const std::string &relative)
{
    return relative.empty() || relative[0] == '.' || relative.find("/.") != std::string::npos;
}

// Watches `relative` and every folder below it; the files found inside go to `found` when given.
static void watchTree(FileWatch *watch, const std::string &relative, std::set<std::string> *found)
{
    const std::string path = relative.empty() ? watch->root : watch->root + "/" + relative;
    const int wd = inotify_add_watch(watch->descriptor, path.c_str(), WATCHED_EVENTS | IN_ONLYDIR);
    if (wd < 0) return;
    watch->folders[wd] = relative;
    DIR *folder = opendir(path.c_str());
    if (!folder) return;
    while (dirent *entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string child = joinRelative(relative, name);
        struct stat info;
        if (stat((watch->root + "/" + child).c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            watchTree(watch, child, found);
        } else if (found && !isHiddenPath(child)) {
            found->insert(child);
        }
    }
    closedir(folder);
}

FileWatch *startFileWatch(const std::string &folder)
{
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return nullptr;
    FileWatch *watch = new FileWatch;
    watch->descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    watch->root = folder;
    if (watch->descriptor >= 0) watchTree(watch, "", nullptr);
    if (watch->folders.empty()) {
        stopFileWatch(watch);
        return nullptr;
    }
    return watch;
}

void stopFileWatch(FileWatch *watch)
{
    if (!watch) return;
    if (watch->descriptor >= 0) close(watch->descriptor);  // drops every watch with it
    delete watch;
}

// Reads what is queued now (the descriptor is non-blocking); false when nothing was.
static bool readEvents(FileWatch *watch, std::set<std::string> &changed)
{
    alignas(inotify_event) char buffer[16384];
    bool any = false;
    for (;;) {
        const ssize_t length = read(watch->descriptor, buffer, sizeof buffer);
        if (length <= 0) return any;
        any = true;
        for (ssize_t at = 0; at < length;) {
            const inotify_event *event = (const inotify_event *)(buffer + at);
            at += (ssize_t)(sizeof(inotify_event) + event->len);
            auto folder = watch->folders.find(event->wd);
            if (folder == watch->folders.end()) continue;
            if (event->mask & (IN_DELETE_SELF | IN_IGNORED)) {
                if (event->mask & IN_IGNORED) watch->folders.erase(folder);
                continue;
            }
            if (event->len == 0) continue;
            const std::string path = joinRelative(folder->second, event->name);
            if (event->mask & IN_ISDIR) {
                if (event->mask & (IN_CREATE | IN_MOVED_TO)) watchTree(watch, path, &changed);
            } else if (!isHiddenPath(path) && !(event->mask & IN_CREATE)) {
                changed.insert(path);  // a new file counts once written (IN_CLOSE_WRITE), not while empty
            }
        }
    }
}

bool takeFileChanges(FileWatch *watch, std::vector<std::string> &changed, int timeoutMs)
{
    changed.clear();
    if (!watch) return false;
    std::set<std::string> paths;
    if (!readEvents(watch, paths) && timeoutMs != 0) {
        pollfd waiting = {watch->descriptor, POLLIN, 0};
        if (poll(&waiting, 1, timeoutMs) > 0) readEvents(watch, paths);
    }
    changed.assign(paths.begin(), paths.end());
    return !changed.empty();
}
