// save/save.cpp - declared saved globals, the save path, and the save file's eight sections.
//
// How a save stays safe: the file is written to savePath + name + ".tmp" in the same directory,
// flushed and fsynced, and renamed over the slot's file only when every write succeeded, so a
// failed or interrupted save leaves the previous save of that slot as it was.
// Reading never allocates ahead of the data: array counts come from the file, so elements are
// appended one by one and reading stops at the end of the file.
//
// Threads: main thread only (declarations while the project loads, saves from script calls).
#include "save/save.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "core/config.h"
#include "core/log.h"
#include "resources/data_file.h"

struct SaveState
{
    std::vector<std::string> names[9];  // per type code 1..8 (0 unused); declaration order
    std::string path = "./";            // directory prefix of save files, "" or ending in "/"
};
static SaveState saves;

bool registerSavedVariable(uint8_t typeCode, const std::string &name)
{
    if (typeCode == SAVE_AUTO) return logError("Auto type for '" + name + "' not supported yet.");
    if (typeCode > SAVE_BOOLEAN_ARRAY) {
        logError("No type given for '" + name + "'");
        return true;
    }
    saves.names[typeCode].push_back(name);
    return true;
}

const std::vector<std::string> &savedVariables(SaveType type)
{
    static const std::vector<std::string> none;
    if (type == SAVE_AUTO || type > SAVE_BOOLEAN_ARRAY) return none;
    return saves.names[type];
}

void clearSavedVariables()
{
    for (std::vector<std::string> &list : saves.names) std::vector<std::string>().swap(list);  // frees too
}

void setUpSavePath()
{
    saves.path = getConfigString("project:savepath", ".");
    if (!saves.path.empty() && saves.path.back() != '/') saves.path += '/';
}

const std::string &savePath() { return saves.path; }

std::string saveFileName(const std::string &slotName)
{
    return saves.path + getConfigString("project:codename", "") + slotName + "Save.qfs";
}

SaveLayout declaredSaveLayout()
{
    SaveLayout layout;
    layout.booleans = saves.names[SAVE_BOOLEAN].size();
    layout.integers = saves.names[SAVE_INTEGER].size();
    layout.floats = saves.names[SAVE_FLOAT].size();
    layout.strings = saves.names[SAVE_STRING].size();
    layout.booleanArrays = saves.names[SAVE_BOOLEAN_ARRAY].size();
    layout.integerArrays = saves.names[SAVE_INTEGER_ARRAY].size();
    layout.floatArrays = saves.names[SAVE_FLOAT_ARRAY].size();
    layout.stringArrays = saves.names[SAVE_STRING_ARRAY].size();
    return layout;
}

// ---- writing

static int32_t arrayCount(size_t size) { return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size); }

// The eight sections in their fixed order. False on the first failed write.
static bool writeSections(DataFile &file, const SaveValues &values)
{
    bool ok = true;
    for (bool value : values.booleans) ok = ok && file.writeBit(value);
    for (int32_t value : values.integers) ok = ok && file.writeInt32(value);
    for (float value : values.floats) ok = ok && file.writeReal(value);
    for (const std::string &value : values.strings) ok = ok && file.writeString(value);
    for (const std::vector<bool> &array : values.booleanArrays) {
        const int32_t count = arrayCount(array.size());
        ok = ok && file.writeInt32(count);
        for (int32_t i = 0; i < count && ok; i++) ok = file.writeBit(array[i]);
    }
    for (const std::vector<int32_t> &array : values.integerArrays) {
        const int32_t count = arrayCount(array.size());
        ok = ok && file.writeInt32(count);
        for (int32_t i = 0; i < count && ok; i++) ok = file.writeInt32(array[i]);
    }
    for (const std::vector<float> &array : values.floatArrays) {
        const int32_t count = arrayCount(array.size());
        ok = ok && file.writeInt32(count);
        for (int32_t i = 0; i < count && ok; i++) ok = file.writeReal(array[i]);
    }
    for (const std::vector<std::string> &array : values.stringArrays) {
        const int32_t count = arrayCount(array.size());
        ok = ok && file.writeInt32(count);
        for (int32_t i = 0; i < count && ok; i++) ok = file.writeString(array[i]);
    }
    return ok;
}

// The directory part of `path` ("." when it has none), for fsyncing the rename.
static std::string directoryOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool writeSaveFile(const std::string &path, const SaveValues &values)
{
    const std::string temporary = path + ".tmp";
    DataFile file;
    if (!file.openForWrite(temporary)) return false;
    const bool written = writeSections(file, values) && file.syncToDisk();
    if (!file.close() || !written || rename(temporary.c_str(), path.c_str()) != 0) {
        remove(temporary.c_str());
        return false;
    }
    // Make the rename itself durable; a failure here cannot undo the save, so it is ignored.
    const int directory = open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (directory >= 0) {
        fsync(directory);
        ::close(directory);
    }
    return true;
}

// ---- reading

bool readSaveFile(const std::string &path, const SaveLayout &layout, SaveValues &values, bool *opened)
{
    DataFile file;
    if (opened != nullptr) *opened = false;
    if (!file.openForReadFromDisk(path)) return false;
    if (opened != nullptr) *opened = true;
    values = SaveValues();

    for (size_t i = 0; i < layout.booleans; i++) values.booleans.push_back(file.readBit());
    for (size_t i = 0; i < layout.integers; i++) values.integers.push_back(file.readInt32());
    for (size_t i = 0; i < layout.floats; i++) values.floats.push_back(file.readReal());
    for (size_t i = 0; i < layout.strings; i++) values.strings.push_back(file.readString());
    // Arrays: the count is the file's word, so nothing is reserved; reading stops at the end.
    for (size_t i = 0; i < layout.booleanArrays; i++) {
        values.booleanArrays.emplace_back();
        const int32_t count = file.readInt32();
        for (int32_t k = 0; k < count && !file.atEnd(); k++) values.booleanArrays.back().push_back(file.readBit());
    }
    for (size_t i = 0; i < layout.integerArrays; i++) {
        values.integerArrays.emplace_back();
        const int32_t count = file.readInt32();
        for (int32_t k = 0; k < count && !file.atEnd(); k++) values.integerArrays.back().push_back(file.readInt32());
    }
    for (size_t i = 0; i < layout.floatArrays; i++) {
        values.floatArrays.emplace_back();
        const int32_t count = file.readInt32();
        for (int32_t k = 0; k < count && !file.atEnd(); k++) values.floatArrays.back().push_back(file.readReal());
    }
    for (size_t i = 0; i < layout.stringArrays; i++) {
        values.stringArrays.emplace_back();
        const int32_t count = file.readInt32();
        for (int32_t k = 0; k < count && !file.atEnd(); k++) values.stringArrays.back().push_back(file.readString());
    }
    const bool complete = !file.atEnd();
    file.close();
    return complete;
}
