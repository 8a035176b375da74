// tools/pack/archive_commands.cpp - pack, list, extract and verify: the archive commands of
// quillfen-pack, built on the engine's own archive reader and writer so a packed game reads
// exactly as the engine will read it.
// Threads: one (a command-line tool).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "pack_commands.h"
#include "resources/archive.h"
#include "resources/data_file.h"

namespace fs = std::filesystem;

// Splits off a leading "-C DIR". False (with a usage message printed) when -C has no folder.
static bool takeFolderOption(const std::string &command, Arguments &args, std::string &folder, int &exitCode)
{
    folder = ".";
    if (!args.empty() && args[0] == "-C") {
        if (args.size() < 2) {
            exitCode = usageError(command, "-C needs a folder");
            return false;
        }
        folder = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    return true;
}

// Entry names are relative, "/"-separated paths the engine builds: no leading "/", no "."
// or ".." parts (a leading "./" and trailing "/" are dropped first).
static bool entryNameFromPath(std::string path, std::string &name)
{
    while (path.compare(0, 2, "./") == 0) path.erase(0, 2);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || path == "." || path[0] == '/') return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "." || part == "..") return false;
        start = end + 1;
    }
    name = path;
    return true;
}

// Every regular file under `folder` (following links to files), sorted, as entry names.
static bool walkFolder(const std::string &folder, std::vector<std::string> &names)
{
    std::error_code error;
    std::vector<std::string> found;
    fs::recursive_directory_iterator it(folder, fs::directory_options::follow_directory_symlink, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        const std::string relative = it->path().lexically_relative(folder).generic_string();
        found.push_back(folder + "/" + relative);
    }
    if (error) return false;
    std::sort(found.begin(), found.end());
    names.insert(names.end(), found.begin(), found.end());
    return true;
}

int packCommand(const Arguments &given)
{
    Arguments args = given;
    std::string folder;
    int exitCode = EXIT_USAGE;
    if (!takeFolderOption("pack", args, folder, exitCode)) return exitCode;
    if (args.size() < 2) return usageError("pack", "an archive and at least one file or folder are needed");

    std::error_code error;
    const fs::path archive = fs::absolute(args[0], error);
    if (error) return failure("Archive '" + args[0] + "' could not be opened.");
    if (folder != "." && chdir(folder.c_str()) != 0) return failure("Folder '" + folder + "' could not be entered.");

    std::vector<std::string> names;
    for (size_t i = 1; i < args.size(); i++) {
        std::string name;
        if (!entryNameFromPath(args[i], name)) {
            return failure("'" + args[i] + "' is not a relative path inside the game folder (see -C).");
        }
        if (fs::is_directory(name, error)) {
            if (!walkFolder(name, names)) return failure("Folder '" + name + "' could not be read.");
        } else if (fs::is_regular_file(name, error)) {
            names.push_back(name);
        } else {
            return failure("File '" + name + "' could not be opened.");
        }
    }
    // Never pack the archive (or its temporary) into itself; keep the first of repeated names.
    std::vector<std::string> files;
    std::set<std::string> seen;
    const std::string archiveText = archive.lexically_normal().string();
    for (const std::string &name : names) {
        const std::string absolute = fs::absolute(name, error).lexically_normal().string();
        if (absolute == archiveText || absolute == archiveText + ".partial") continue;
        if (seen.insert(name).second) files.push_back(name);
    }
    if (files.empty()) return failure("Nothing to pack: no files were found.");
    if (!buildArchive(files, archive.string(), ARCHIVE_KEY)) return EXIT_FAILED;
    printf("Packed %zu files into '%s'.\n", files.size(), args[0].c_str());
    return EXIT_DONE;
}

// Opens `path` from disk and reads its index in file order.
static int readIndex(const std::string &path, DataFile &file, std::vector<ArchiveIndexEntry> &entries)
{
    if (!file.openForReadFromDisk(path)) return failure("'" + path + "' could not be opened.");
    std::string problem;
    if (!readArchiveIndex(file, entries, problem)) return failure("Archive '" + path + "' has a broken index: " + problem + ".");
    return EXIT_DONE;
}

int listCommand(const Arguments &args)
{
    if (args.size() != 1) return usageError("list", "exactly one archive is needed");
    DataFile file;
    std::vector<ArchiveIndexEntry> entries;
    const int result = readIndex(args[0], file, entries);
    if (result != EXIT_DONE) return result;
    printf("%10s %10s  %s\n", "offset", "size", "name");
    for (const ArchiveIndexEntry &entry : entries) {
        printf("%10d %10d  %s\n", entry.offset, entry.size, entry.name.c_str());
    }
    return EXIT_DONE;
}

int verifyCommand(const Arguments &args)
{
    if (args.size() != 1) return usageError("verify", "exactly one archive is needed");
    DataFile file;
    std::vector<ArchiveIndexEntry> entries;
    const int result = readIndex(args[0], file, entries);
    if (result != EXIT_DONE) return result;
    const int64_t length = file.size();
    int bad = 0;
    std::set<std::string> seen;
    for (const ArchiveIndexEntry &entry : entries) {
        if (!entryInsideFile(entry, length)) {
            fprintf(stderr, "ERROR: Entry '%s' (offset %d, size %d) does not lie inside the file (%lld bytes).\n",
                    entry.name.c_str(), entry.offset, entry.size, static_cast<long long>(length));
            bad++;
        }
        if (!seen.insert(entry.name).second) {
            fprintf(stderr, "WARNING: Entry '%s' appears more than once; the engine uses the last one.\n",
                    entry.name.c_str());
        }
    }
    if (bad > 0) {
        fprintf(stderr, "'%s': %d of %zu entries are damaged.\n", args[0].c_str(), bad, entries.size());
        return EXIT_FAILED;
    }
    printf("'%s': %zu entries, all inside the file (%lld bytes).\n", args[0].c_str(), entries.size(),
           static_cast<long long>(length));
    return EXIT_DONE;
}

// Writes one entry's bytes to folder/name, creating the folders on the way.
static bool writeLooseFile(const std::string &folder, const std::string &name, const MemoryStream &entry)
{
    const fs::path target = fs::path(folder) / name;
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    DataFile out;
    if (!out.openForWrite(target.string())) return false;
    const bool written = out.writeBytes(entry.bytes.get(), entry.length);
    return out.close() && written;
}

int extractCommand(const Arguments &given)
{
    Arguments args = given;
    std::string folder;
    int exitCode = EXIT_USAGE;
    if (!takeFolderOption("extract", args, folder, exitCode)) return exitCode;
    if (args.empty()) return usageError("extract", "an archive is needed");

    DataFile file;
    std::vector<ArchiveIndexEntry> entries;
    const int result = readIndex(args[0], file, entries);
    if (result != EXIT_DONE) return result;
    file.close();
    std::set<std::string> indexed;
    std::vector<std::string> names(args.begin() + 1, args.end());
    for (const ArchiveIndexEntry &entry : entries) {
        if (indexed.insert(entry.name).second && args.size() == 1) names.push_back(entry.name);
    }
    ProjectArchive *archive = openArchive(args[0], ARCHIVE_KEY);
    if (archive == nullptr) return EXIT_FAILED;
    int failed = 0;
    size_t written = 0;
    for (const std::string &name : names) {
        std::string checked;
        if (!entryNameFromPath(name, checked) || checked != name) {
            fprintf(stderr, "ERROR: Entry '%s' is not a safe relative path; it was not extracted.\n", name.c_str());
            failed++;
            continue;
        }
        std::unique_ptr<MemoryStream> entry = readEntry(archive, name);
        if (!entry) {
            // readEntry has already explained an entry that is in the index but damaged.
            if (indexed.count(name) == 0) fprintf(stderr, "ERROR: Entry '%s' is not in the archive.\n", name.c_str());
            failed++;
            continue;
        }
        if (!writeLooseFile(folder, name, *entry)) {
            fprintf(stderr, "ERROR: File '%s' could not be written.\n", (fs::path(folder) / name).c_str());
            failed++;
            continue;
        }
        written++;
    }
    closeArchive(archive);
    printf("Extracted %zu of %zu entries into '%s'.\n", written, names.size(), folder.c_str());
    return failed > 0 ? EXIT_FAILED : EXIT_DONE;
}
