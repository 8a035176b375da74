// tools/pack/compile_command.cpp - `quillfen-pack compile`: a project's readable source folder
// in, the files the engine reads out.
//
// How it works: the whole source is read and checked first (project.qf, every declared room's
// .room description and .lua script, the object scripts, the asset folders); every problem is
// printed with its file and line, and with any error nothing is written. Then the output's
// Projects/<codename>/ is rebuilt from scratch (project file, room files, object scripts, assets
// copied verbatim), Quillfen.ini is written beside it and, with --archive, everything is packed
// into <codename>.qfa by the engine's own archive builder. Warnings (a class without a script, a
// resource the room names but the source lacks, a Lua syntax error) never stop the build: the
// engine copes with all of them at run time, and the end-to-end tests rely on that.
// Threads: one (a command-line tool).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "asset_source.h"
#include "core/config.h"
#include "pack_commands.h"
#include "project_source.h"
#include "resources/archive.h"
#include "resources/data_file.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------- file helpers (also for unpack)

bool listFilesUnder(const std::string &folder, std::vector<std::string> &names)
{
    std::error_code error;
    names.clear();
    if (!fs::is_directory(folder, error)) return !fs::exists(folder, error);
    fs::recursive_directory_iterator it(folder, fs::directory_options::follow_directory_symlink, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string relative = it->path().lexically_relative(folder).generic_string();
        const bool hidden = relative[0] == '.' || relative.find("/.") != std::string::npos;
        if (hidden) {
            if (it->is_directory(error)) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(error)) names.push_back(relative);
    }
    std::sort(names.begin(), names.end());
    return !error;
}

bool isTextSource(const std::string &path, const AssetSourceType &type)
{
    const std::string suffix = type.suffix;
    if (path.size() <= suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    char start[4] = {};
    in.read(start, 4);
    return std::string(start, (size_t)in.gcount()) != type.magic;  // an already binary file is copied
}

namespace {

struct RoomPlan
{
    std::string name;
    std::string descriptionPath;  // source paths, as messages show them
    std::string scriptPath;
    RoomNameLists lists;
    std::vector<int> lines[ROOM_LIST_COUNT];  // line of each name, for warnings
    std::string script;
};

struct CopyPlan
{
    std::string from;  // source file
    std::string to;    // entry name under the output folder: Projects/<codename>/...
};

// A text source of a scrap, model or animation, and what it compiles to.
struct AssetSourcePlan
{
    int kind;          // AssetSourceKind
    std::string from;  // source file
    std::string to;    // entry name under the output folder
    std::string name;  // the built name (models, events and scripts use it)
    ScrapFileData scrap;
    ModelFileData model;
    AnimationFileData animation;
};

struct CompilePlan
{
    ProjectDescription project;
    std::vector<RoomPlan> rooms;
    std::map<std::string, std::string> objects;  // class name -> source path
    std::set<std::string> assets[ASSET_FOLDER_COUNT];  // names under each asset folder
    std::vector<CopyPlan> copies;                // objects and assets
    std::vector<AssetSourcePlan> sources;        // scraps, models and animations from text
    std::string settings;                        // Quillfen.ini as it will be written
};

std::string joined(const std::string &folder, const std::string &name)
{
    return folder == "." ? name : (fs::path(folder) / name).generic_string();
}

// A Lua syntax error (not run, only compiled) is a warning: the engine reports it at run time.
void checkLuaSyntax(lua_State *L, const std::string &source, const std::string &file, SourceReport &report)
{
    if (luaL_loadbuffer(L, source.data(), source.size(), ("@" + file).c_str()) != 0) {
        const char *message = lua_tostring(L, -1);
        report.warningLine(std::string(message ? message : file + ": does not compile") +
                           " (the engine reports this error when it runs the script)");
    }
    lua_settop(L, 0);
}

void readRooms(const std::string &source, CompilePlan &plan, SourceReport &report)
{
    const std::string folder = joined(source, ROOMS_FOLDER);
    std::set<std::string> declared;
    for (const std::string &name : plan.project.rooms) {
        RoomPlan room;
        room.name = name;
        room.descriptionPath = joined(folder, name + ROOM_DESCRIPTION_SUFFIX);
        room.scriptPath = joined(folder, name + SCRIPT_SUFFIX);
        std::string description;
        if (!readWholeFile(room.descriptionPath, description)) {
            report.error(room.descriptionPath, 0, "missing room description for room '" + name + "' (declared in " +
                                                      PROJECT_DESCRIPTION_FILE + ")");
        } else {
            parseRoomDescription(description, room.descriptionPath, room.lists, report, &room.lines);
        }
        if (!readWholeFile(room.scriptPath, room.script)) {
            report.error(room.scriptPath, 0, "missing room script for room '" + name + "' (an empty file will do)");
        }
        declared.insert(name + ROOM_DESCRIPTION_SUFFIX);
        declared.insert(name + SCRIPT_SUFFIX);
        plan.rooms.push_back(std::move(room));
    }
    std::vector<std::string> files;
    listFilesUnder(folder, files);
    for (const std::string &file : files) {
        if (!declared.count(file)) {
            report.warning(joined(folder, file), 0, std::string("not a file of a room listed under [rooms] in ") +
                                                        PROJECT_DESCRIPTION_FILE + "; skipped");
        }
    }
}

void readObjectsAndAssets(const std::string &source, CompilePlan &plan, SourceReport &report)
{
    const std::string directory = "Projects/" + plan.project.codename + "/";
    const std::string objectsFolder = joined(source, OBJECTS_FOLDER);
    std::vector<std::string> files;
    if (!listFilesUnder(objectsFolder, files)) report.error(objectsFolder, 0, "the folder could not be read");
    const size_t suffix = std::string(SCRIPT_SUFFIX).size();
    for (const std::string &file : files) {
        if (file.size() <= suffix || file.compare(file.size() - suffix, suffix, SCRIPT_SUFFIX) != 0) {
            report.warning(joined(objectsFolder, file), 0, "object scripts end in .lua; skipped");
            continue;
        }
        const std::string className = file.substr(0, file.size() - suffix);
        plan.objects[className] = joined(objectsFolder, file);
        plan.copies.push_back({joined(objectsFolder, file), directory + "Objects/" + className});
    }
    for (int i = 0; i < ASSET_FOLDER_COUNT; i++) {
        const std::string folder = joined(source, ASSET_FOLDERS[i].source);
        if (!listFilesUnder(folder, files)) report.error(folder, 0, "the folder could not be read");
        const int kind = assetSourceKindOfFolder(ASSET_FOLDERS[i].source);
        std::map<std::string, std::string> builtFrom;  // built name -> the file it comes from
        for (const std::string &file : files) {
            std::string name = file;
            const bool text = kind >= 0 && isTextSource(joined(folder, file), ASSET_SOURCE_TYPES[kind]);
            if (text) name = file.substr(0, file.size() - std::string(ASSET_SOURCE_TYPES[kind].suffix).size());
            if (builtFrom.count(name)) {
                report.error(joined(folder, file), 0, "builds the same file as " + builtFrom[name] + " (" +
                                                          ASSET_FOLDERS[i].engine + "/" + name + ")");
                continue;
            }
            builtFrom[name] = file;
            plan.assets[i].insert(name);
            const std::string to = directory + ASSET_FOLDERS[i].engine + "/" + name;
            if (text) {
                plan.sources.push_back({kind, joined(folder, file), to, name, {}, {}, {}});
            } else {
                plan.copies.push_back({joined(folder, file), to});
            }
        }
    }
}

// The asset folder (index into ASSET_FOLDERS) named `folder`.
int assetFolderIndex(const std::string &folder)
{
    for (int i = 0; i < ASSET_FOLDER_COUNT; i++) {
        if (folder == ASSET_FOLDERS[i].source) return i;
    }
    return -1;
}

// Warnings for names of images or scraps that the source does not have.
void warnAboutMissing(const CompilePlan &plan, const std::vector<NamedUse> &uses, const char *folder,
                      const std::string &file, const std::string &effect, SourceReport &report)
{
    const std::set<std::string> &have = plan.assets[assetFolderIndex(folder)];
    for (const NamedUse &use : uses) {
        if (use.name.empty() || have.count(use.name)) continue;
        report.warning(file, use.line, "'" + use.name + "' is not in " + folder + "/: " + effect);
    }
}

// Parses every scrap, model and animation source (models before the animations that name
// their bones) and checks what they name.
void parseAssetSources(CompilePlan &plan, const std::string &source, SourceReport &report)
{
    std::map<std::string, const ModelFileData *> textModels;
    for (int kind = 0; kind < SOURCE_KIND_COUNT; kind++) {
        for (AssetSourcePlan &asset : plan.sources) {
            if (asset.kind != kind) continue;
            std::string text;
            if (!readWholeFile(asset.from, text)) {
                report.error(asset.from, 0, "could not be read");
                continue;
            }
            std::vector<NamedUse> uses;
            if (kind == SOURCE_SCRAP) {
                parseScrapSource(text, asset.from, asset.scrap, report, &uses);
                warnAboutMissing(plan, uses, "images", asset.from, "the frame will show nothing", report);
            } else if (kind == SOURCE_MODEL) {
                parseModelSource(text, asset.from, asset.model, report, &uses);
                warnAboutMissing(plan, uses, "scraps", asset.from, "the bone will show nothing", report);
                textModels[asset.name] = &asset.model;
            } else {
                // A model from text, or one already binary (read as the engine reads it).
                auto bones = [&](const std::string &model, std::vector<std::string> &names) {
                    const ModelFileData *data = textModels.count(model) ? textModels[model] : nullptr;
                    ModelFileData binary;
                    if (data == nullptr && plan.assets[assetFolderIndex("models")].count(model)) {
                        DataFile file;
                        std::string message;
                        if (file.openForReadFromDisk(joined(joined(source, "models"), model)) &&
                            readModelFile(file, binary, message)) {
                            data = &binary;
                        }
                        file.close();
                    }
                    if (data == nullptr) return false;
                    for (const BoneData &bone : data->bones) names.push_back(bone.name);
                    return true;
                };
                parseAnimationSource(text, asset.from, asset.animation, bones, report, &uses);
                warnAboutMissing(plan, uses, "scraps", asset.from, "the bone will show nothing after this change",
                                 report);
            }
        }
    }
}

// Folders at the top of the source that the compiler does not know are probably mistakes.
void warnAboutStrayFolders(const std::string &source, SourceReport &report)
{
    std::set<std::string> known = {ROOMS_FOLDER, OBJECTS_FOLDER};
    for (const AssetFolder &folder : ASSET_FOLDERS) known.insert(folder.source);
    std::error_code error;
    for (fs::directory_iterator it(source, error); !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name[0] == '.' || !it->is_directory(error) || known.count(name)) continue;
        report.warning(joined(source, name), 0, "not a folder of a project source (rooms, objects, images, fonts, "
                                                "audio, models, anims, scraps); ignored");
    }
}

// What the rooms name against what the source holds.
void checkRoomContents(const CompilePlan &plan, lua_State *L, SourceReport &report)
{
    for (const RoomPlan &room : plan.rooms) {
        const std::vector<std::string> &classes = room.lists.names[ROOM_CLASSES];
        for (size_t i = 0; i < classes.size(); i++) {
            const int line = room.lines[ROOM_CLASSES][i];
            if (!isLuaIdentifier(classes[i])) {
                report.warning(room.descriptionPath, line, "class name '" + classes[i] +
                                                               "' is not a Lua identifier: its generated class code "
                                                               "will not compile");
            }
            if (!plan.objects.count(classes[i])) {
                report.warning(room.descriptionPath, line, "no " + std::string(OBJECTS_FOLDER) + "/" + classes[i] +
                                                               SCRIPT_SUFFIX + ": the class will have no methods");
            }
        }
        for (int list = 0; list < ROOM_LIST_COUNT; list++) {
            const int folder = assetFolderOfList(list);
            if (folder < 0) continue;
            for (size_t i = 0; i < room.lists.names[list].size(); i++) {
                const std::string &name = room.lists.names[list][i];
                if (plan.assets[folder].count(name)) continue;
                report.warning(room.descriptionPath, room.lines[list][i],
                               "'" + name + "' is not in " + ASSET_FOLDERS[folder].source + "/: it will not load");
            }
        }
        checkLuaSyntax(L, room.script, room.scriptPath, report);
    }
    for (const auto &object : plan.objects) {
        std::string source;
        if (!readWholeFile(object.second, source)) {
            report.error(object.second, 0, "could not be read");
            continue;
        }
        checkLuaSyntax(L, source, object.second, report);
    }
}

// Quillfen.ini: the source's own when it has one (it must agree on the codename; one that sets
// none gets the codename added), else a minimal one.
void planSettings(const std::string &source, CompilePlan &plan, SourceReport &report)
{
    const std::string path = joined(source, SETTINGS_FILE);
    const std::string codename = plan.project.codename;
    const std::string line = "[project]\ncodename = " + codename + "\n";
    std::error_code error;
    if (!fs::exists(path, error)) {
        plan.settings = line;
        return;
    }
    if (!readWholeFile(path, plan.settings)) {
        report.error(path, 0, "could not be read");
        return;
    }
    clearConfig();
    loadConfig(path);
    const std::string named = getConfigString("project:codename", std::string(1, '\0'));
    clearConfig();
    if (named == std::string(1, '\0')) {
        if (!plan.settings.empty() && plan.settings.back() != '\n') plan.settings += "\n";
        plan.settings += line;
    } else if (named != codename) {
        report.error(path, 0, "sets codename '" + named + "' but " + PROJECT_DESCRIPTION_FILE + " says '" + codename + "'");
    }
}

bool makeParentFolders(const fs::path &file)
{
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    return !error;
}

// Writes everything under `output`; the entry names written go to `entries` (sorted).
bool writeOutput(const CompilePlan &plan, const std::string &output, std::vector<std::string> &entries)
{
    const std::string directory = "Projects/" + plan.project.codename + "/";
    const fs::path root(output);
    std::error_code error;
    fs::remove_all(root / directory, error);
    if (error) {
        failure("Folder '" + (root / directory).string() + "' could not be emptied.");
        return false;
    }

    auto written = [&](const std::string &entry, bool ok) {
        if (!ok) fprintf(stderr, "ERROR: File '%s' could not be written.\n", (root / entry).c_str());
        entries.push_back(entry);
        return ok;
    };
    const std::string projectEntry = directory + plan.project.codename + ".dat";
    if (!written(projectEntry, makeParentFolders(root / projectEntry) &&
                                   writeProjectFile((root / projectEntry).string(), plan.project))) {
        return false;
    }
    for (const RoomPlan &room : plan.rooms) {
        const std::string entry = directory + "Rooms/" + room.name;
        if (!written(entry, makeParentFolders(root / entry) &&
                                writeRoomFile((root / entry).string(), room.lists, room.script))) {
            return false;
        }
    }
    for (const CopyPlan &copy : plan.copies) {
        const bool copied = makeParentFolders(root / copy.to) &&
                            fs::copy_file(copy.from, root / copy.to, fs::copy_options::overwrite_existing, error);
        if (!written(copy.to, copied)) return false;
    }
    for (const AssetSourcePlan &asset : plan.sources) {
        const std::string path = (root / asset.to).string();
        bool built = makeParentFolders(root / asset.to);
        if (asset.kind == SOURCE_SCRAP) built = built && writeScrapFile(path, asset.scrap);
        if (asset.kind == SOURCE_MODEL) built = built && writeModelFile(path, asset.model);
        if (asset.kind == SOURCE_ANIMATION) built = built && writeAnimationFile(path, asset.animation);
        if (!written(asset.to, built)) return false;
    }
    if (!writeWholeFile((root / SETTINGS_FILE).string(), plan.settings)) {
        failure("File '" + (root / SETTINGS_FILE).string() + "' could not be written.");
        return false;
    }
    std::sort(entries.begin(), entries.end());
    return true;
}

}  // namespace

int compileCommand(const Arguments &given)
{
    bool archive = false, watch = false;
    Arguments args;
    for (const std::string &word : given) {
        if (word == "--archive") {
            archive = true;
        } else if (word == "--watch") {
            watch = true;
        } else if (word.size() > 1 && word[0] == '-') {
            return usageError("compile", "unknown option '" + word + "'");
        } else {
            args.push_back(word);
        }
    }
    if (args.size() != 2) return usageError("compile", "a source folder and an output folder are needed");
    if (watch && archive) return usageError("compile", "--watch builds loose files for the development mode; leave out --archive");
    const std::string source = args[0], output = args[1];
    std::error_code error;
    if (!fs::is_directory(source, error)) return failure("Source folder '" + source + "' could not be opened.");
    if (fs::exists(output, error) && fs::equivalent(source, output, error)) {
        return failure("The output folder must not be the source folder '" + source + "'.");
    }
    return watch ? watchAndCompile(source, output) : compileProject(source, output, archive, false);
}

int compileProject(const std::string &source, const std::string &output, bool archive, bool inPlace)
{
    std::error_code error;
    SourceReport report;
    CompilePlan plan;
    const std::string descriptionPath = joined(source, PROJECT_DESCRIPTION_FILE);
    std::string description;
    if (!readWholeFile(descriptionPath, description)) {
        return failure(descriptionPath + ": missing project description (see docs/projects.md)");
    }
    // Everything is checked even after an error, so one run lists every problem.
    parseProjectDescription(description, descriptionPath, plan.project, report);
    readRooms(source, plan, report);
    readObjectsAndAssets(source, plan, report);
    parseAssetSources(plan, source, report);
    warnAboutStrayFolders(source, report);
    if (isPlainCodename(plan.project.codename)) planSettings(source, plan, report);
    if (inPlace) plan.settings = withReloadOn(plan.settings);
    lua_State *L = luaL_newstate();
    checkRoomContents(plan, L, report);
    lua_close(L);
    if (archive) {
        // Every path the archive index will hold must fit the engine's 1024-byte names.
        for (const CopyPlan &copy : plan.copies) {
            if (copy.to.size() > MAX_NAME_BYTES) {
                report.error(copy.from, 0, "its archive entry name is longer than 1024 bytes");
            }
        }
        for (const AssetSourcePlan &asset : plan.sources) {
            if (asset.to.size() > MAX_NAME_BYTES) {
                report.error(asset.from, 0, "its archive entry name is longer than 1024 bytes");
            }
        }
    }
    if (report.errors() > 0) {
        fprintf(stderr, "quillfen-pack compile: %d error%s in '%s'; nothing was written.\n", report.errors(),
                report.errors() == 1 ? "" : "s", source.c_str());
        return EXIT_FAILED;
    }

    std::vector<std::string> entries;
    if (inPlace) {
        // A game may be running from OUTPUT: build beside it, then change only what differs.
        const std::string stage = (fs::path(output) / STAGE_FOLDER).string();
        fs::remove_all(stage, error);
        const bool built = writeOutput(plan, stage, entries) &&
                           replaceChangedFiles(stage, output, "Projects/" + plan.project.codename + "/", entries);
        fs::remove_all(stage, error);
        if (!built) return EXIT_FAILED;
    } else if (!writeOutput(plan, output, entries)) {
        return EXIT_FAILED;
    }
    const std::string codename = plan.project.codename;
    const std::string archiveName = codename + ".qfa";
    const fs::path archivePath = fs::path(output) / archiveName;
    if (archive) {
        char *previous = getcwd(nullptr, 0);
        if (chdir(output.c_str()) != 0) {
            free(previous);
            return failure("Folder '" + output + "' could not be entered.");
        }
        const bool built = buildArchive(entries, archiveName, ARCHIVE_KEY);
        const bool back = previous && chdir(previous) == 0;
        free(previous);
        if (!built || !back) return EXIT_FAILED;
    } else if (fs::exists(archivePath, error)) {
        // The engine prefers an archive to loose files: an old one would hide this build.
        fs::remove(archivePath, error);
        printf("Removed the old archive '%s': it would hide the new loose files.\n", archivePath.c_str());
    }
    printf("Compiled '%s': %zu room%s, %zu object script%s, %zu files in all, into '%s'%s.\n", codename.c_str(),
           plan.rooms.size(), plan.rooms.size() == 1 ? "" : "s", plan.objects.size(),
           plan.objects.size() == 1 ? "" : "s", entries.size(), output.c_str(),
           archive ? (" and packed into '" + archivePath.string() + "'").c_str() : "");
    if (report.warnings() > 0) {
        printf("%d warning%s (see above).\n", report.warnings(), report.warnings() == 1 ? "" : "s");
    }
    return EXIT_DONE;
}
