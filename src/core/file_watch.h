// core/file_watch.h - which files under a folder were written, created, moved or removed:
// the development mode's reload and `quillfen-pack compile --watch` both ask this.
// One inotify instance per watch, with a watch on the folder and on every folder below it
// (folders made later are added as they appear, and the files already in them reported).
// Threads: whichever thread started the watch; a watch is not shared.
// Failure: startFileWatch returns nullptr (nothing is printed) when the folder does not exist or
// inotify is not available; a folder below it that cannot be watched is skipped silently.
#pragma once

#include <string>
#include <vector>

struct FileWatch;  // opaque: the inotify descriptor and the folder of each watch

FileWatch *startFileWatch(const std::string &folder);
void stopFileWatch(FileWatch *watch);  // nullptr does nothing

// Waits up to `timeoutMs` (0: not at all, -1: for ever) for the first change, then takes every
// change already queued. `changed` gets the paths relative to the folder, "/"-separated, sorted,
// each once; names with a part that starts with "." (editors' swap files, half-written files
// about to be renamed into place) are left out. False when nothing changed.
bool takeFileChanges(FileWatch *watch, std::vector<std::string> &changed, int timeoutMs);
