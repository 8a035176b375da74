// tests/fuzz/fuzz_targets.h - what each fuzz target does with one input, shared by the
// libFuzzer programs (*_fuzz.cpp) and by the regression test that replays the seed corpus
// and every input that ever crashed (tests/resources/fuzz_regression_test.cpp).
// Every function must return without crashing, hanging or allocating beyond the input's size.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/project.h"
#include "core/room_file.h"
#include "core/script.h"
#include "graphics/font.h"
#include "resources/archive.h"
#include "resources/data_file.h"
#include "resources/resource_list.h"
#include "save/save.h"

namespace fuzz {

// A private working folder, made the working directory once, with a configuration naming
// the codename "fz" and the save path "saves".
inline const std::string &workFolder()
{
    static std::string folder;
    if (folder.empty()) {
        // Memory-backed when possible: every input is written to a file, and saves fsync.
        char shm[] = "/dev/shm/qf-fuzz-XXXXXX";
        char tmp[] = "/tmp/qf-fuzz-XXXXXX";
        const char *made = mkdtemp(shm);
        if (made == nullptr) made = mkdtemp(tmp);
        if (made == nullptr) abort();
        folder = made;
        atexit([] {
            const std::string command = "rm -rf '" + workFolder() + "'";
            if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", workFolder().c_str());
        });
        if (chdir(folder.c_str()) != 0) abort();
        if (system("mkdir -p Projects/fz saves") != 0) abort();
        FILE *ini = fopen("Quillfen.ini", "wb");
        fputs("[project]\ncodename = fz\nsavepath = saves\n", ini);
        fclose(ini);
        loadConfig("Quillfen.ini");
    }
    return folder;
}

inline void writeInput(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) abort();
    if (size > 0) fwrite(data, 1, size, file);
    fclose(file);
}

// The input is an archive file: open it, then read every entry of its index through
// DataFile with typed reads, as the engine's loaders would.
inline void archiveIndex(const uint8_t *data, size_t size)
{
    workFolder();
    writeInput("input.qfa", data, size);
    ProjectArchive *archive = openArchive("input.qfa", ARCHIVE_KEY);
    if (archive == nullptr) return;
    DataFile index;
    std::vector<ArchiveIndexEntry> entries;
    std::string problem;
    index.openForReadFromDisk("input.qfa");
    readArchiveIndex(index, entries, problem);
    index.close();
    setCurrentArchive(archive);
    for (size_t i = 0; i < entries.size() && i < 64; i++) {
        DataFile file;
        fileExists(entries[i].name);
        if (!file.openForRead(entries[i].name)) continue;
        char buffer[64];
        file.readInt32();
        file.readBit();
        file.readBit();
        file.readString();
        file.readReal();
        file.skip(-4);
        file.readInt16();
        file.readBytes(buffer, sizeof buffer);
        file.readBytesAt(file.size() / 2, buffer, 8);
        file.seek(file.size() + 3);
        file.readByte();
        file.close();
    }
    setCurrentArchive(nullptr);
    closeArchive(archive);
}

// The input is the project file of the project "fz".
inline void projectFile(const uint8_t *data, size_t size)
{
    workFolder();
    writeInput("Projects/fz/fz.dat", data, size);
    resetProject();
    clearSavedVariables();
    loadProject();
    projectDisplayWidth();
    clearSavedVariables();
}

// The first 4 bytes give how many globals of each save type are declared (eight 4-bit
// counts, types 1..8); the rest is the save file of slot "1", loaded through loadGame.
inline void saveFile(const uint8_t *data, size_t size)
{
    workFolder();
    if (size < 4) return;
    // A fresh state per input: whatever one input allocates, it frees (libFuzzer's leak check
    // stays quiet and fast).
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    registerSaveFunctions(L);
    clearSavedVariables();
    for (int type = 1; type <= 8; type++) {
        const int count = (data[(type - 1) / 2] >> ((type - 1) % 2 * 4)) & 15;
        for (int i = 0; i < count; i++) {
            registerSavedVariable(static_cast<uint8_t>(type), "v" + std::to_string(type) + "_" + std::to_string(i));
        }
    }
    writeInput(saveFileName("1"), data + 4, size - 4);
    lua_getfield(L, LUA_GLOBALSINDEX, "loadGame");
    lua_pushstring(L, "1");
    if (lua_pcall(L, 1, 1, 0) != 0) abort();  // loadGame never raises with one argument
    lua_settop(L, 0);
    // Whatever was loaded saves again (to another slot) without trouble.
    lua_getfield(L, LUA_GLOBALSINDEX, "saveGame");
    lua_pushstring(L, "2");
    if (lua_pcall(L, 1, 1, 0) != 0 || !lua_toboolean(L, -1)) abort();
    lua_close(L);
    clearSavedVariables();
}

// The input is the room file "r" of the current project directory ("Rooms/r" while no project
// is loaded). Its resource lists, as endResourceList reads them, must name what the room
// switch's split reads; the script is what follows the lists; and writing the lists and script
// back out and reading that file again must give both unchanged.
inline bool sameRoomLists(const RoomNameLists &a, const RoomNameLists &b)
{
    for (int i = 0; i < ROOM_LIST_COUNT; i++)
        if (a.names[i] != b.names[i]) return false;
    return true;
}

inline void roomFile(const uint8_t *data, size_t size)
{
    workFolder();
    const std::string folder = projectDirectory() + "Rooms";
    mkdir(folder.c_str(), 0755);  // exists after the first input
    writeInput(folder + "/r", data, size);

    RoomNameLists lists;
    std::string script;
    if (!readRoomFile(folder + "/r", lists, script)) abort();
    if (script.size() > size) abort();
    const ResourceList resources = readRoomResourceList("r", 3);
    // Resource lists come out in the order sounds, music, fonts, images, classes, scripts,
    // models, animations: the file's order.
    size_t entry = 0;
    for (int i = 0; i < ROOM_LIST_COUNT; i++) {
        for (const std::string &name : lists.names[i]) {
            if (entry >= resources.entries.size() || resources.entries[entry].name != name) abort();
            entry++;
        }
    }
    if (entry != resources.entries.size()) abort();
    for (const auto &priority : resources.priorities)
        if (priority.second != 3) abort();

    if (!writeRoomFile(folder + "/copy", lists, script)) abort();
    RoomNameLists again;
    std::string againScript;
    if (!readRoomFile(folder + "/copy", again, againScript)) abort();
    if (!sameRoomLists(lists, again) || againScript != script) abort();
}

// The input is the text of a configuration file, read both from memory and from a file: the
// two must store the same values, and no stored value keeps the blanks, quotes or comment the
// parser strips. The fuzz configuration is put back afterwards.
inline void configText(const uint8_t *data, size_t size)
{
    workFolder();
    static const char *const keys[] = {
        "project:codename", "project:savepath", "audio:enabled", "audio:device", "display:fullscreenMethod",
        "display:bitsPerPixel", "display:fullscreen", "display:caption", "display:framerate", ":", "[]:"};
    const std::string text(reinterpret_cast<const char *>(data), size);
    clearConfig();
    loadConfigText(text);
    std::vector<std::string> fromText;
    for (const char *key : keys) {
        const std::string value = getConfigString(key, "\001absent");
        fromText.push_back(value + "|" + std::to_string(getConfigInt(key, -7)) + "|" +
                           std::to_string(getConfigBool(key, true)));
        if (value == "\001absent" || value.empty()) continue;
        const char first = value.front(), last = value.back();
        if (first == ' ' || first == '\t' || first == '\r' || first == '"' || last == '"') abort();
        if (value.find("//") != std::string::npos || value.find('\n') != std::string::npos) abort();
    }
    writeInput("input.ini", data, size);
    clearConfig();
    if (!loadConfig("input.ini")) abort();
    for (size_t i = 0; i < sizeof keys / sizeof keys[0]; i++) {
        const std::string value = getConfigString(keys[i], "\001absent");
        if (fromText[i] != value + "|" + std::to_string(getConfigInt(keys[i], -7)) + "|" +
                               std::to_string(getConfigBool(keys[i], true)))
            abort();
    }
    clearConfig();
    loadConfig("Quillfen.ini");
}

// The input is a font descriptor. The reader must refuse or accept it without crashing, reading
// out of bounds or allocating without bound; an accepted font is then measured, which walks its
// glyph and kerning maps as the text pen does. No GL is involved.
inline void fontDescriptor(const uint8_t *data, size_t size)
{
    workFolder();
    writeInput("input.fnt", data, size);
    DataFile file;
    if (!file.openForReadFromDisk("input.fnt")) abort();
    Font font;
    std::vector<std::string> pageNames;
    if (parseFontDescriptor(file, &font, &pageNames)) {
        if (pageNames.size() != font.pageCount) abort();
        if (font.glyphs.size() > 20001) abort();  // 10000 chars + 10000 made by kerning pairs + id 0
        static const char sample[] = "AV To\nWAVE\xe9\x80 0123";
        textWidth(&font, sample);
    }
    file.close();
}

}  // namespace fuzz
