// resources/archive.h - the project archive and the process-wide current archive.
// Format: int32 entry count N; N index records (int32 name length 0..1024, the name's bytes,
// int32 absolute offset, int32 size); then the data area, every byte XORed with the key.
// All integers little-endian.
// Threads: readEntry and hasEntry from any thread (the archive lock covers the lookup and the
// copy out of the file); everything else on the main thread, at start-up or shutdown, or in tools.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "resources/data_file.h"

struct ProjectArchive;  // opaque: index, key, file and lock live in archive.cpp

static const uint8_t ARCHIVE_KEY = 0xE5;  // the key start-up opens the project archive with
static const int32_t MAX_ENTRY_NAME = 1024;

// --- the archive a game reads from
// nullptr after one "ERROR: " line on stderr when the file cannot be opened. An index cut short
// keeps the records before the cut, a name length outside 0..1024 gives that record the name
// "" (one "WARNING: ... has a damaged index" line either way).
ProjectArchive *openArchive(const std::string &path, uint8_t key);
void closeArchive(ProjectArchive *archive);  // nullptr: does nothing
// A new stream at position 0 holding the unscrambled entry, or nullptr when `name` (exact
// bytes, "/" separators) is not in the index (prints nothing). An entry whose bytes do not lie
// inside the archive file is refused with one "ERROR: " line. One copy in memory per call.
std::unique_ptr<MemoryStream> readEntry(ProjectArchive *archive, const std::string &name);
bool hasEntry(ProjectArchive *archive, const std::string &name);  // in the index and readable
void setCurrentArchive(ProjectArchive *archive);  // nullptr = read loose files
ProjectArchive *currentArchive();

// --- writing and inspecting archives (tools; the game never builds one)
// Entry names are exactly the given paths, data laid out back to back after the index. The
// archive is written beside `archivePath` and renamed over it only when complete.
// False after one "ERROR: " line on stderr.
bool buildArchive(const std::vector<std::string> &files, const std::string &archivePath, uint8_t key);

struct ArchiveIndexEntry
{
    std::string name;
    int32_t offset = 0;  // absolute position of the first data byte
    int32_t size = 0;    // bytes
};
// Reads the index from position 0 in file order, duplicates included, stopping at the end of
// the file. False (with `problem` set to the first fault) when it is cut short or a name length
// lies outside 0..1024; `entries` then holds every whole record read.
bool readArchiveIndex(DataFile &file, std::vector<ArchiveIndexEntry> &entries, std::string &problem);
// True when offset and size are not negative and offset + size <= fileLength.
bool entryInsideFile(const ArchiveIndexEntry &entry, int64_t fileLength);
