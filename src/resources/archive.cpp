// resources/archive.cpp - the project archive.
#include "resources/archive.h"

#include "core/log.h"

static ProjectArchive *current = nullptr;  // set at start-up on the main thread

// TODO: the archive reader arrives with the data file.
ProjectArchive *openArchive(const std::string &path, uint8_t key)
{
    (void)key;
    logError("'" + path + "' could not be opened.");
    return nullptr;
}

void closeArchive(ProjectArchive *archive) { (void)archive; }
void setCurrentArchive(ProjectArchive *archive) { current = archive; }
ProjectArchive *currentArchive() { return current; }
