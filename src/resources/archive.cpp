// resources/archive.cpp - the project archive: index, scrambled entries, the current archive,
// and the archive builder used by the tools.
//
// How it works: openArchive reads the whole index into two maps (name -> offset, name -> size;
// a later record of a name replaces the earlier one) and keeps the archive file open for the
// archive's life. readEntry copies one entry into a new buffer of exactly its size, straight
// from the file in blocks, removing the scrambling of each block in place (eight bytes at a
// time) while the block is still in the cache. An
// entry that does not lie inside the file is refused rather than copied short, so nothing
// allocates more than the file holds and a damaged entry never half-loads. A damaged index
// (cut short, or names longer than 1024 bytes) keeps the whole records it holds.
//
// Threads: the main thread opens and closes archives. readEntry and hasEntry run on any thread
// (main, resource loader, audio); the archive lock covers the index lookup, the seek, the
// copy out of the shared file and its unscrambling.
#include "resources/archive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "core/log.h"

struct ProjectArchive
{
    std::map<std::string, int32_t> offsets;  // entry name -> absolute data position; guarded by lock
    std::map<std::string, int32_t> sizes;    // entry name -> length in bytes; guarded by lock
    uint8_t key = 0;                         // every data byte is XORed with it
    DataFile file;                           // opened from disk at open, one shared position; guarded by lock
    int64_t fileLength = 0;                  // archive file size at open; entries must lie inside it
    std::string path;                        // for messages
    std::mutex lock;                         // serialises every use of file and the maps after opening
};

static ProjectArchive *current = nullptr;  // set at start-up on the main thread, read by any thread

// XOR with the key in place: eight bytes per step, the tail byte by byte.
static void unscramble(uint8_t *data, size_t count, uint8_t key)
{
    const uint64_t wide = 0x0101010101010101ull * key;
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t word;
        memcpy(&word, data + i, 8);
        word ^= wide;
        memcpy(data + i, &word, 8);
    }
    for (; i < count; i++) data[i] ^= key;
}

bool entryInsideFile(const ArchiveIndexEntry &entry, int64_t fileLength)
{
    return entry.offset >= 0 && entry.size >= 0 &&
           static_cast<int64_t>(entry.offset) + entry.size <= fileLength;
}

bool readArchiveIndex(DataFile &file, std::vector<ArchiveIndexEntry> &entries, std::string &problem)
{
    entries.clear();
    file.seek(0);
    const int32_t count = file.readInt32();
    if (file.atEnd()) {
        problem = "the entry count is missing";
        return false;
    }
    // The loop ends at the end of the file whatever the count says: each record takes at
    // least 12 bytes, so the index never holds more than the file can. A name length outside
    // 0..1024 stores no name bytes (the string encoding), so that record's name is "".
    for (int32_t i = 0; i < count; i++) {
        ArchiveIndexEntry entry;
        const int32_t nameLength = file.readInt32();
        if (file.atEnd()) {
            problem = "it ends inside record " + std::to_string(i + 1) + " of " + std::to_string(count);
            return false;
        }
        if (nameLength >= 0 && nameLength <= MAX_ENTRY_NAME) {
            char name[MAX_ENTRY_NAME];
            file.readBytes(name, static_cast<size_t>(nameLength));
            entry.name.assign(name, strnlen(name, static_cast<size_t>(nameLength)));
        } else if (problem.empty()) {
            problem = "record " + std::to_string(i + 1) + " has a name length of " + std::to_string(nameLength);
        }
        entry.offset = file.readInt32();
        entry.size = file.readInt32();
        if (file.atEnd()) {
            problem = "it ends inside record " + std::to_string(i + 1) + " of " + std::to_string(count);
            return false;
        }
        entries.push_back(std::move(entry));
    }
    return problem.empty();
}

ProjectArchive *openArchive(const std::string &path, uint8_t key)
{
    ProjectArchive *archive = new (std::nothrow) ProjectArchive;
    if (archive == nullptr) {
        logError("Not enough memory to read an archive.");
        return nullptr;
    }
    if (!archive->file.openForReadFromDisk(path)) {
        logError("'" + path + "' could not be opened.");
        delete archive;
        return nullptr;
    }
    std::vector<ArchiveIndexEntry> entries;
    std::string problem;
    // A damaged index still opens with the records it holds, as the game has always read it;
    // the warning tells the author why entries may be missing.
    if (!readArchiveIndex(archive->file, entries, problem))
        logReport(stderr, LOG_WARNING, {"Archive '" + path + "' has a damaged index: " + problem + "."});
    for (const ArchiveIndexEntry &entry : entries) {
        archive->offsets[entry.name] = entry.offset;
        archive->sizes[entry.name] = entry.size;
    }
    archive->fileLength = archive->file.size();
    archive->key = key;
    archive->path = path;
    return archive;
}

void closeArchive(ProjectArchive *archive)
{
    if (archive == nullptr) return;
    archive->file.close();
    delete archive;
}

// Caller holds archive->lock. The entry's record, or false when absent.
static bool findEntryLocked(ProjectArchive *archive, const std::string &name, ArchiveIndexEntry &entry)
{
    const auto offset = archive->offsets.find(name);
    if (offset == archive->offsets.end()) return false;
    entry.name = name;
    entry.offset = offset->second;
    entry.size = archive->sizes[name];
    return true;
}

// Caller holds archive->lock. Reads the entry straight into `into` a block at a time and
// unscrambles each block while it is still in the cache: one pass over the entry's memory.
static bool copyEntryLocked(ProjectArchive *archive, const ArchiveIndexEntry &entry, uint8_t *into)
{
    static const size_t BLOCK = 256 << 10;
    const size_t size = static_cast<size_t>(entry.size);
    for (size_t done = 0; done < size; done += BLOCK) {
        const size_t count = std::min(BLOCK, size - done);
        if (!archive->file.readBytesAt(entry.offset + static_cast<int64_t>(done), into + done, count)) return false;
        unscramble(into + done, count, archive->key);
    }
    return true;
}

std::unique_ptr<MemoryStream> readEntry(ProjectArchive *archive, const std::string &name)
{
    if (archive == nullptr) return nullptr;
    std::unique_ptr<MemoryStream> stream;
    {
        std::lock_guard<std::mutex> guard(archive->lock);
        ArchiveIndexEntry entry;
        if (!findEntryLocked(archive, name, entry)) return nullptr;
        if (!entryInsideFile(entry, archive->fileLength)) {
            logError("Entry '" + name + "' lies outside the archive '" + archive->path + "'.");
            return nullptr;
        }
        stream.reset(new (std::nothrow) MemoryStream);
        if (!stream || !allocateEntryBytes(*stream, static_cast<size_t>(entry.size))) {
            logError("Not enough memory to read '" + name + "' from the archive.");
            return nullptr;
        }
        if (!copyEntryLocked(archive, entry, stream->bytes.get())) {
            logError("Entry '" + name + "' could not be read from the archive '" + archive->path + "'.");
            return nullptr;
        }
    }
    return stream;
}

bool hasEntry(ProjectArchive *archive, const std::string &name)
{
    if (archive == nullptr) return false;
    std::lock_guard<std::mutex> guard(archive->lock);
    ArchiveIndexEntry entry;
    return findEntryLocked(archive, name, entry) && entryInsideFile(entry, archive->fileLength);
}

void setCurrentArchive(ProjectArchive *archive) { current = archive; }
ProjectArchive *currentArchive() { return current; }

// ---- building

enum class CopyResult { Done, SourceChanged, WriteFailed };

// Copies one file into the archive, scrambled, in blocks. SourceChanged when it did not give
// exactly `expected` bytes (it changed between the index pass and the copy).
static CopyResult copyScrambled(DataFile &from, DataFile &to, int64_t expected, uint8_t key)
{
    static const size_t BLOCK = 1 << 16;
    std::unique_ptr<uint8_t[]> block(new uint8_t[BLOCK]);
    int64_t copied = 0;
    while (copied < expected) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(BLOCK, expected - copied));
        if (!from.readBytes(block.get(), want)) return CopyResult::SourceChanged;
        unscramble(block.get(), want, key);  // the XOR scrambles as well as it unscrambles
        if (!to.writeBytes(block.get(), want)) return CopyResult::WriteFailed;
        copied += static_cast<int64_t>(want);
    }
    from.readByte();
    return from.atEnd() ? CopyResult::Done : CopyResult::SourceChanged;  // nothing left over
}

bool buildArchive(const std::vector<std::string> &files, const std::string &archivePath, uint8_t key)
{
    std::vector<int64_t> lengths;
    int64_t indexSize = 4;
    int64_t dataSize = 0;
    for (const std::string &path : files) {
        if (path.size() > static_cast<size_t>(MAX_ENTRY_NAME))
            return logError("File name '" + path + "' is longer than 1024 bytes.");
        DataFile file;
        if (!file.openForReadFromDisk(path)) return logError("File '" + path + "' could not be opened.");
        lengths.push_back(file.size());
        file.close();
        indexSize += static_cast<int64_t>(path.size()) + 12;
        dataSize += lengths.back();
    }
    if (files.size() > static_cast<size_t>(INT32_MAX) || indexSize + dataSize > INT32_MAX)
        return logError("Archive '" + archivePath + "' would be larger than 2 GiB.");

    const std::string temporary = archivePath + ".partial";
    DataFile archive;
    if (!archive.openForWrite(temporary)) return logError("Archive '" + archivePath + "' could not be opened.");
    archive.writeInt32(static_cast<int32_t>(files.size()));
    int64_t offset = indexSize;
    for (size_t i = 0; i < files.size(); i++) {
        archive.writeString(files[i]);
        archive.writeInt32(static_cast<int32_t>(offset));
        archive.writeInt32(static_cast<int32_t>(lengths[i]));
        offset += lengths[i];
    }
    for (size_t i = 0; i < files.size(); i++) {
        DataFile file;
        if (!file.openForReadFromDisk(files[i])) {
            archive.close();
            remove(temporary.c_str());
            return logError("File '" + files[i] + "' failed to open twice.");
        }
        const CopyResult copied = copyScrambled(file, archive, lengths[i], key);
        if (copied != CopyResult::Done) {
            archive.close();
            remove(temporary.c_str());
            if (copied == CopyResult::WriteFailed) return logError("Archive '" + archivePath + "' could not be written.");
            return logError("File '" + files[i] + "' changed while it was being packed.");
        }
        file.close();
    }
    if (!archive.syncToDisk() || !archive.close() || rename(temporary.c_str(), archivePath.c_str()) != 0) {
        archive.close();
        remove(temporary.c_str());
        return logError("Archive '" + archivePath + "' could not be written.");
    }
    return true;
}
