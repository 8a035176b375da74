// tests/fuzz/fuzz_targets.h - one input per fuzz target, also replayed by fuzz_regression_test.cpp.
// Each returns without crashing, hanging or allocating beyond the input's size; a broken invariant aborts.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/music.h"
#include "audio/sound.h"
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

inline void writeInput(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr || (size > 0 && fwrite(data, 1, size, file) != size)) abort();
    fclose(file);
}

// The working directory, made once (memory-backed when possible: inputs are files, saves fsync),
// with a configuration naming the codename "fz" and the save path "saves".
inline const std::string &workFolder()
{
    static std::string folder;
    if (!folder.empty()) return folder;
    char shm[] = "/dev/shm/qf-fuzz-XXXXXX", tmp[] = "/tmp/qf-fuzz-XXXXXX";
    const char *made = mkdtemp(shm) ? shm : mkdtemp(tmp);
    if (made == nullptr || chdir(made) != 0 || system("mkdir -p Projects/fz saves") != 0) abort();
    folder = made;
    atexit([] { std::error_code error; std::filesystem::remove_all(workFolder(), error); });
    const std::string ini = "[project]\ncodename = fz\nsavepath = saves\n";
    writeInput("Quillfen.ini", (const uint8_t *)ini.data(), ini.size());
    loadConfig("Quillfen.ini");
    return folder;
}

// The input is an archive file: open it, then read every entry of its index through DataFile
// with typed reads, as the engine's loaders would.
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
        file.readInt32(), file.readBit(), file.readBit(), file.readString(), file.readReal();
        file.skip(-4), file.readInt16(), file.readBytes(buffer, sizeof buffer);
        file.readBytesAt(file.size() / 2, buffer, 8), file.seek(file.size() + 3), file.readByte();
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
    resetProject(), clearSavedVariables();
    loadProject(), projectDisplayWidth();
    clearSavedVariables();
}

// The first 4 bytes give how many globals of each save type are declared (eight 4-bit counts,
// types 1..8); the rest is the save file of slot "1", loaded, then saved again to slot "2". A
// fresh Lua state per input keeps libFuzzer's leak check quiet and fast.
inline void saveFile(const uint8_t *data, size_t size)
{
    workFolder();
    if (size < 4) return;
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    registerSaveFunctions(L);
    clearSavedVariables();
    for (int type = 1; type <= 8; type++)
        for (int i = 0; i < ((data[(type - 1) / 2] >> ((type - 1) % 2 * 4)) & 15); i++)
            registerSavedVariable((uint8_t)type, "v" + std::to_string(type) + "_" + std::to_string(i));
    writeInput(saveFileName("1"), data + 4, size - 4);
    if (luaL_dostring(L, "loadGame('1') assert(saveGame('2'))") != 0) abort();  // neither raises; the save works
    lua_close(L);
    clearSavedVariables();
}

// The input is the room file "r". Its resource lists (as endResourceList reads them) must name
// what the room switch reads, in file order; the script is what follows the lists; writing both
// back out and reading that again gives both unchanged.
inline void roomFile(const uint8_t *data, size_t size)
{
    workFolder();
    const std::string folder = projectDirectory() + "Rooms";
    mkdir(folder.c_str(), 0755);  // exists after the first input
    writeInput(folder + "/r", data, size);
    RoomNameLists lists, again;
    std::string script, againScript;
    if (!readRoomFile(folder + "/r", lists, script) || script.size() > size) abort();
    const ResourceList resources = readRoomResourceList("r", 3);
    size_t entry = 0;
    for (int i = 0; i < ROOM_LIST_COUNT; i++)
        for (const std::string &name : lists.names[i])
            if (entry >= resources.entries.size() || resources.entries[entry++].name != name) abort();
    for (const auto &priority : resources.priorities)
        if (priority.second != 3) abort();
    if (entry != resources.entries.size() || !writeRoomFile(folder + "/copy", lists, script) ||
        !readRoomFile(folder + "/copy", again, againScript) || againScript != script)
        abort();
    for (int i = 0; i < ROOM_LIST_COUNT; i++)
        if (lists.names[i] != again.names[i]) abort();
}

// What the three getters answer for every key a game reads and two odd ones. Aborts when a stored
// value keeps the blanks, quotes or comment the parser strips.
inline std::vector<std::string> configAnswers()
{
    std::vector<std::string> answers;
    for (const char *key : {"project:codename", "project:savepath", "audio:enabled", "audio:device", ":", "[]:",
                            "display:fullscreenMethod", "display:bitsPerPixel", "display:fullscreen",
                            "display:caption", "display:framerate"}) {
        const std::string value = getConfigString(key, "");
        if (!value.empty() && (std::string(" \t\r\"").find(value.front()) != std::string::npos || value.back() == '"' ||
                               value.find("//") != std::string::npos || value.find('\n') != std::string::npos))
            abort();
        answers.push_back(getConfigString(key, "\001absent") + "|" + std::to_string(getConfigInt(key, -7)) + "|" +
                          std::to_string(getConfigBool(key, true)));
    }
    return answers;
}

// The input is a configuration text, read from memory and from a file: both must store the same
// values. The fuzz configuration is loaded again afterwards.
inline void configText(const uint8_t *data, size_t size)
{
    workFolder();
    clearConfig();
    loadConfigText(std::string((const char *)data, size));
    const std::vector<std::string> fromText = configAnswers();
    writeInput("input.ini", data, size);
    clearConfig();
    if (!loadConfig("input.ini") || configAnswers() != fromText) abort();
    clearConfig(), loadConfig("Quillfen.ini");
}

// The input is a font descriptor; an accepted font is measured, which walks its glyph and kerning
// maps as the text pen does. No GL is involved.
inline void fontDescriptor(const uint8_t *data, size_t size)
{
    workFolder();
    writeInput("input.fnt", data, size);
    DataFile file;
    Font font;
    std::vector<std::string> pageNames;
    if (!file.openForReadFromDisk("input.fnt")) abort();
    if (parseFontDescriptor(file, &font, &pageNames)) {  // at most 10000 chars, 10000 made by kerning pairs, id 0
        if (pageNames.size() != font.pageCount || font.glyphs.size() > 20001) abort();
        textWidth(&font, "AV To\nWAVE\xe9\x80 0123");
    }
    file.close();
}

// The input is a WAV file, read by the strict reader as a sound load reads it (no device needed):
// whole frames only, and never more than twice the file (the rest of a short data chunk is silence).
inline void wavFile(const uint8_t *data, size_t size)
{
    workFolder();
    writeInput("input.wav", data, size);
    WavData wav;
    if (!readWav("input.wav", wav)) return;
    const uint64_t frame = std::max<uint64_t>(1, (uint64_t)wav.channels * wav.bitsPerSample / 8);
    if (wav.bytes.size() % frame != 0 || wav.bytes.size() > 2 * size) abort();
    unsigned sum = 0;  // touch the whole buffer, as OpenAL's copy would
    for (size_t i = 0; i < wav.bytes.size(); i += 61) sum += wav.bytes[i];
    if (sum == 0xFFFFFFFFu) abort();
    wavFormat(wav.bitsPerSample, wav.channels);
}

// The input is an Ogg Vorbis file packed as an entry of an archive, opened as the engine opens
// music (vorbisfile reading the entry's copy through the engine's callbacks) and decoded: up to 1 MiB
// of samples from the start, some from a seek to the middle, then freed.
inline void musicEntry(const uint8_t *data, size_t size)
{
    workFolder();
    const std::string entry = "Projects/fz/Audio/input.ogg";
    std::filesystem::create_directories("Projects/fz/Audio");
    writeInput(entry, data, size);
    if (!buildArchive({entry}, "music.qfa", ARCHIVE_KEY)) abort();
    ProjectArchive *archive = openArchive("music.qfa", ARCHIVE_KEY);
    if (archive == nullptr) abort();
    setCurrentArchive(archive);
    if (Music *music = openMusic(entry)) {
        if (music->info == nullptr || music->info->channels < 1 || music->fileSize != (int64_t)size) abort();
        if ((music->format == AL_FORMAT_MONO16) != (music->info->channels == 1)) abort();
        static char samples[4096];
        long decoded = 0, n = 0;
        int section = 0, holes = 0;
        while (decoded < (1 << 20) && ((n = ov_read(&music->decoder, samples, sizeof samples, 0, 2, 1, &section)) > 0 ||
                                       (n == OV_HOLE && ++holes < 8)))
            decoded += n > 0 ? n : 0;
        const ogg_int64_t total = ov_pcm_total(&music->decoder, -1);
        if (total > 0 && ov_pcm_seek(&music->decoder, total / 2) == 0)
            ov_read(&music->decoder, samples, sizeof samples, 0, 2, 1, &section);
        freeMusic(music);
    }
    setCurrentArchive(nullptr);
    closeArchive(archive);
}

}  // namespace fuzz

// The libFuzzer entry point of a *_fuzz.cpp program: one of the functions above.
#define QF_FUZZ_TARGET(function)                                            \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) \
    {                                                                       \
        fuzz::function(data, size);                                         \
        return 0;                                                           \
    }
