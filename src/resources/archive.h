// resources/archive.h - the project archive and the process-wide current archive.
// Threads: readEntry from any thread (holds the archive lock for the whole copy);
// everything else on the main thread, at start-up or shutdown.
#pragma once

#include <cstdint>
#include <string>

struct ProjectArchive;  // opaque: index, key, file and lock live in archive.cpp

ProjectArchive *openArchive(const std::string &path, uint8_t key);  // nullptr after one "ERROR: " line
void closeArchive(ProjectArchive *archive);                          // nullptr: does nothing
void setCurrentArchive(ProjectArchive *archive);                     // nullptr = read loose files
ProjectArchive *currentArchive();

static const uint8_t ARCHIVE_KEY = 0xE5;  // the key start-up opens the project archive with
