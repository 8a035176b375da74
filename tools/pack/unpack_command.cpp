// tools/pack/unpack_command.cpp - `quillfen-pack unpack`: a built game (an archive, or the
// loose Projects/<codename>/ folder) back into the readable source that `compile` reads, so an
// existing project can be edited.
//
// How it works: the game is read the way the engine reads it (the archive when the folder has
// one, else the loose files, through DataFile), every file under the project directory is
// sorted by its type directory, and the source is written in the canonical text form: compiling
// that source gives the same binary files again. Files the engine would never read by type are
// reported and left out.
// Threads: one (a command-line tool).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "asset_source.h"
#include "core/config.h"
#include "pack_commands.h"
#include "project_source.h"
#include "resources/archive.h"
#include "resources/data_file.h"
#include "save/save.h"

namespace fs = std::filesystem;

namespace {

bool failed(const std::string &line)  // failure() for helpers that answer bool
{
    failure(line);
    return false;
}

// Where the game's files come from: an archive made current, or a folder on disk.
struct GameFiles
{
    std::string prefix;  // prepended to P-relative names: P for an archive, <folder>/P on disk
    std::vector<std::string> names;  // relative to P, sorted, no repeats
    ProjectArchive *archive = nullptr;
};

bool readGameFile(const GameFiles &game, const std::string &name, std::string &bytes)
{
    DataFile file;
    if (!file.openForRead(game.prefix + name)) return false;
    const int64_t size = file.size();
    bytes.assign(size > 0 ? (size_t)size : 0, '\0');
    const bool complete = bytes.empty() || file.readBytes(&bytes[0], bytes.size());
    file.close();
    return complete;
}

bool openGame(const std::string &archivePath, const std::string &looseFolder, const std::string &directory,
              GameFiles &game)
{
    if (!archivePath.empty()) {
        DataFile file;
        std::vector<ArchiveIndexEntry> entries;
        std::string problem;
        if (!file.openForReadFromDisk(archivePath)) return failed("'" + archivePath + "' could not be opened.");
        if (!readArchiveIndex(file, entries, problem)) {
            return failed("Archive '" + archivePath + "' has a broken index: " + problem + ".");
        }
        file.close();
        std::set<std::string> names;
        for (const ArchiveIndexEntry &entry : entries) {
            if (entry.name.compare(0, directory.size(), directory) == 0) {
                names.insert(entry.name.substr(directory.size()));
            } else {
                fprintf(stderr, "WARNING: Entry '%s' lies outside '%s'; left out.\n", entry.name.c_str(),
                        directory.c_str());
            }
        }
        game.names.assign(names.begin(), names.end());
        game.archive = openArchive(archivePath, ARCHIVE_KEY);
        if (!game.archive) return false;
        setCurrentArchive(game.archive);
        game.prefix = directory;
        return true;
    }
    const std::string root = (fs::path(looseFolder) / directory).generic_string();
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        return failed("Neither an archive nor the folder '" + root + "' was found.");
    }
    if (!listFilesUnder(root, game.names)) return failed("Folder '" + root + "' could not be read.");
    game.prefix = root;
    return true;
}

void closeGame(GameFiles &game)
{
    setCurrentArchive(nullptr);
    closeArchive(game.archive);
    game.archive = nullptr;
}

struct SourceWriter
{
    std::string root;
    int failed = 0;
    size_t written = 0;

    void write(const std::string &name, const std::string &bytes)
    {
        const fs::path path = fs::path(root) / name;
        std::error_code error;
        fs::create_directories(path.parent_path(), error);
        if (error || !writeWholeFile(path.string(), bytes)) {
            fprintf(stderr, "ERROR: File '%s' could not be written.\n", path.c_str());
            failed++;
        } else {
            written++;
        }
    }
};

// Type directory of a P-relative name: the asset folder index, or -1.
int assetFolderOf(const std::string &name, std::string &rest)
{
    for (int i = 0; i < ASSET_FOLDER_COUNT; i++) {
        const std::string prefix = std::string(ASSET_FOLDERS[i].engine) + "/";
        if (name.compare(0, prefix.size(), prefix) == 0) {
            rest = name.substr(prefix.size());
            return i;
        }
    }
    return -1;
}

// The project file, with declarations the engine would not register left out (and reported).
bool unpackProjectFile(const GameFiles &game, const std::string &codename, ProjectDescription &project)
{
    const std::string name = codename + ".dat";
    DataFile file;
    if (!file.openForRead(game.prefix + name)) return failed("The project file '" + game.prefix + name + "' is missing.");
    std::string problem;
    ProjectDescription read;
    const bool complete = readProjectFile(file, read, problem);
    file.close();
    if (!complete) return failed("The project file '" + game.prefix + name + "' is damaged: " + problem + ".");
    project.codename = codename;
    project.width = read.width;
    project.height = read.height;
    project.firstRoom = read.firstRoom;
    for (const SavedGlobal &global : read.saved) {
        if (saveTypeName(global.type)) {
            project.saved.push_back(global);
        } else {
            fprintf(stderr, "WARNING: Saved global '%s' has type code %d, which %s; left out.\n", global.name.c_str(),
                    global.type, global.type == SAVE_AUTO ? "stops the engine's project load" : "the engine skips");
        }
    }
    return true;
}

bool unpackRoom(const GameFiles &game, const std::string &room, SourceWriter &out)
{
    DataFile file;
    if (!file.openForRead(game.prefix + "Rooms/" + room)) {
        fprintf(stderr, "ERROR: Room file '%sRooms/%s' could not be read.\n", game.prefix.c_str(), room.c_str());
        return false;
    }
    RoomNameLists lists;
    readRoomNameLists(file, lists);
    if (file.atEnd()) {
        fprintf(stderr, "WARNING: Room '%s' ends inside its name lists; the names read before the end are kept.\n",
                room.c_str());
    }
    const std::string script = readRoomScript(file);
    file.close();
    const std::string base = std::string(ROOMS_FOLDER) + "/" + room;
    out.write(base + ROOM_DESCRIPTION_SUFFIX, formatRoomDescription(lists));
    out.write(base + SCRIPT_SUFFIX, script);
    return true;
}

// The bytes `write` puts in a file (through a temporary one).
bool encodedBytes(const std::function<bool(const std::string &)> &write, std::string &bytes)
{
    char path[] = "/tmp/quillfen-pack-XXXXXX";
    const int descriptor = mkstemp(path);
    if (descriptor < 0) return false;
    close(descriptor);
    const bool ok = write(path) && readWholeFile(path, bytes);
    unlink(path);
    return ok;
}

// The models of the game that read as the engine reads them, with unique bone names (so events
// can name their bones), by built name.
using GameModels = std::map<std::string, ModelFileData>;

bool hasUniqueBoneNames(const ModelFileData &model)
{
    std::set<std::string> names;
    for (const BoneData &bone : model.bones) {
        if (!names.insert(bone.name).second) return false;
    }
    return true;
}

// The model whose bones an animation's events name: the one whose name starts the animation's
// name (the longest), else the only one with enough bones; "" for none (bone numbers).
std::string modelOfAnimation(const std::string &name, const AnimationFileData &data, const GameModels &models)
{
    int32_t highest = -1;
    for (const EventData &event : data.events) {
        if (eventRealCount(event.type) < 0) continue;
        if (event.target < 0) return "";
        highest = std::max(highest, event.target);
    }
    if (highest < 0) return "";
    std::string best;
    int fitting = 0;
    for (const auto &model : models) {
        if ((size_t)highest >= model.second.bones.size()) continue;
        fitting++;
        if (name.compare(0, model.first.size(), model.first) == 0 && model.first.size() > best.size()) best = model.first;
    }
    if (best.empty() && fitting == 1) {
        for (const auto &model : models) {
            if ((size_t)highest < model.second.bones.size()) best = model.first;
        }
    }
    return best;
}

// The text form of a scrap, model or animation file, when compiling it gives `bytes` again.
bool textForm(int kind, const std::string &path, const std::string &name, const std::string &bytes,
              const GameModels &models, std::string &text)
{
    DataFile file;
    if (!file.openForRead(path)) return false;
    std::string message, again;
    SourceReport quiet;
    quiet.quiet = true;
    bool read = false;
    std::function<bool(const std::string &)> write;
    ScrapFileData scrap;
    ModelFileData model;
    AnimationFileData animation;
    if (kind == SOURCE_SCRAP && (read = readScrapFile(file, scrap))) {
        text = formatScrapSource(scrap);
        parseScrapSource(text, name, scrap, quiet);
        write = [&](const std::string &to) { return writeScrapFile(to, scrap); };
    } else if (kind == SOURCE_MODEL && (read = readModelFile(file, model, message))) {
        text = formatModelSource(model);
        parseModelSource(text, name, model, quiet);
        write = [&](const std::string &to) { return writeModelFile(to, model); };
    } else if (kind == SOURCE_ANIMATION && (read = readAnimationFile(file, animation, message))) {
        const std::string modelName = modelOfAnimation(name, animation, models);
        std::vector<std::string> bones;
        if (!modelName.empty()) {
            for (const BoneData &bone : models.at(modelName).bones) bones.push_back(bone.name);
        }
        text = formatAnimationSource(animation, modelName, bones);
        auto lookup = [&](const std::string &wanted, std::vector<std::string> &names) {
            names = bones;
            return wanted == modelName;
        };
        parseAnimationSource(text, name, animation, lookup, quiet);
        write = [&](const std::string &to) { return writeAnimationFile(to, animation); };
    }
    file.close();
    return read && quiet.errors() == 0 && encodedBytes(write, again) && again == bytes;
}

}  // namespace

int unpackCommand(const Arguments &given)
{
    std::string codename;
    Arguments args;
    for (size_t i = 0; i < given.size(); i++) {
        if (given[i] == "--codename") {
            if (i + 1 == given.size()) return usageError("unpack", "--codename needs a name");
            codename = given[++i];
        } else if (given[i].size() > 1 && given[i][0] == '-') {
            return usageError("unpack", "unknown option '" + given[i] + "'");
        } else {
            args.push_back(given[i]);
        }
    }
    if (args.size() != 2) return usageError("unpack", "a game (folder or .qfa archive) and a source folder are needed");
    const std::string gamePath = args[0], sourcePath = args[1];
    std::error_code error;

    // The game: a folder as the engine sees it (Quillfen.ini, <codename>.qfa or Projects/), or
    // one archive file whose name gives the codename.
    std::string archivePath, folder = gamePath, settingsPath;
    if (fs::is_regular_file(gamePath, error)) {
        archivePath = gamePath;
        if (codename.empty()) codename = fs::path(gamePath).stem().string();
    } else if (fs::is_directory(gamePath, error)) {
        settingsPath = (fs::path(gamePath) / SETTINGS_FILE).string();
        if (!fs::exists(settingsPath, error)) settingsPath.clear();
        if (codename.empty() && !settingsPath.empty()) {
            clearConfig();
            loadConfig(settingsPath);
            codename = getConfigString("project:codename", "");
            clearConfig();
        }
        if (!codename.empty() && fs::is_regular_file(fs::path(gamePath) / (codename + ".qfa"), error)) {
            archivePath = (fs::path(gamePath) / (codename + ".qfa")).string();
        }
    } else {
        return failure("Game '" + gamePath + "' could not be opened.");
    }
    if (codename.empty()) return failure("No codename: '" + gamePath + "' has no Quillfen.ini naming one; use --codename.");
    if (!isPlainCodename(codename)) return failure("Codename '" + codename + "' is not a plain file name.");
    if (fs::exists(sourcePath, error) && !(fs::is_directory(sourcePath, error) && fs::is_empty(sourcePath, error))) {
        return failure("Source folder '" + sourcePath + "' is not empty: unpack writes only into a new or empty folder.");
    }

    const std::string directory = "Projects/" + codename + "/";
    GameFiles game;
    if (!openGame(archivePath, folder, directory, game)) return EXIT_FAILED;
    ProjectDescription project;
    if (!unpackProjectFile(game, codename, project)) {
        closeGame(game);
        return EXIT_FAILED;
    }

    SourceWriter out;
    out.root = sourcePath;
    int skipped = 0;
    GameModels models;
    for (const std::string &name : game.names) {
        DataFile file;
        ModelFileData model;
        std::string message;
        if (name.compare(0, 7, "Models/") != 0 || !file.openForRead(game.prefix + name)) continue;
        if (readModelFile(file, model, message) && hasUniqueBoneNames(model)) models[name.substr(7)] = model;
        file.close();
    }
    for (const std::string &name : game.names) {
        std::string rest;
        const int asset = assetFolderOf(name, rest);
        if (name == codename + ".dat") continue;
        if (name.compare(0, 6, "Rooms/") == 0 && isSafeRelativeName(name.substr(6))) {
            if (unpackRoom(game, name.substr(6), out)) {
                project.rooms.push_back(name.substr(6));
            } else {
                out.failed++;
            }
        } else if (name.compare(0, 8, "Objects/") == 0 && isSafeRelativeName(name.substr(8))) {
            std::string bytes;
            if (readGameFile(game, name, bytes)) {
                out.write(std::string(OBJECTS_FOLDER) + "/" + name.substr(8) + SCRIPT_SUFFIX, bytes);
            } else {
                fprintf(stderr, "ERROR: '%s%s' could not be read.\n", game.prefix.c_str(), name.c_str());
                out.failed++;
            }
        } else if (asset >= 0 && isSafeRelativeName(rest)) {
            std::string bytes, text;
            const std::string folder = ASSET_FOLDERS[asset].source;
            const int kind = assetSourceKindOfFolder(folder);
            if (readGameFile(game, name, bytes)) {
                const std::string suffix = kind >= 0 ? ASSET_SOURCE_TYPES[kind].suffix : "";
                const bool taken = kind >= 0 && std::binary_search(game.names.begin(), game.names.end(), name + suffix);
                if (kind >= 0 && !taken && textForm(kind, game.prefix + name, rest, bytes, models, text)) {
                    out.write(folder + "/" + rest + suffix, text);
                    continue;
                }
                const bool looksLikeText = kind >= 0 && rest.size() > suffix.size() &&
                                           rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                                           bytes.compare(0, 4, ASSET_SOURCE_TYPES[kind].magic) != 0;
                if (looksLikeText) {
                    fprintf(stderr, "WARNING: '%s%s' does not start as its kind of file does; compile will read it as a "
                                    "text source.\n", game.prefix.c_str(), name.c_str());
                }
                out.write(folder + "/" + rest, bytes);
            } else {
                fprintf(stderr, "ERROR: '%s%s' could not be read.\n", game.prefix.c_str(), name.c_str());
                out.failed++;
            }
        } else {
            fprintf(stderr, "WARNING: '%s%s' is not a file the engine reads by type; left out.\n", game.prefix.c_str(),
                    name.c_str());
            skipped++;
        }
    }
    closeGame(game);

    std::sort(project.rooms.begin(), project.rooms.end());
    if (!std::binary_search(project.rooms.begin(), project.rooms.end(), project.firstRoom)) {
        fprintf(stderr, "WARNING: The first room '%s' has no room file; the source will not compile until it has one.\n",
                project.firstRoom.c_str());
    }
    out.write(PROJECT_DESCRIPTION_FILE, formatProjectDescription(project));
    std::string settings;
    if (!settingsPath.empty()) {
        if (readWholeFile(settingsPath, settings)) {
            out.write(SETTINGS_FILE, settings);
        } else {
            fprintf(stderr, "ERROR: '%s' could not be read.\n", settingsPath.c_str());
            out.failed++;
        }
    }
    printf("Unpacked '%s' from %s: %zu room%s, %zu files written into '%s'%s.\n", codename.c_str(),
           archivePath.empty() ? "loose files" : ("'" + archivePath + "'").c_str(), project.rooms.size(),
           project.rooms.size() == 1 ? "" : "s", out.written, sourcePath.c_str(),
           skipped ? (", " + std::to_string(skipped) + " left out").c_str() : "");
    return out.failed > 0 ? EXIT_FAILED : EXIT_DONE;
}
