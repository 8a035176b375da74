// save/save.h - save slots: the globals a project declares, written to and read from one disk
// file per slot (savePath + codename + slotName + "Save.qfs"; never the archive).
// The file is eight sections in a fixed order, each holding one value per declared name in
// declaration order: booleans (bits), integers, floats (reals), strings, then arrays of
// booleans, integers, floats and strings (int32 count, then the elements). No header, no names.
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct lua_State;

// The type codes a project file gives with each declared global.
enum SaveType : uint8_t {
    SAVE_AUTO = 0,  // refused
    SAVE_INTEGER = 1,
    SAVE_FLOAT = 2,
    SAVE_STRING = 3,
    SAVE_BOOLEAN = 4,
    SAVE_INTEGER_ARRAY = 5,
    SAVE_FLOAT_ARRAY = 6,
    SAVE_STRING_ARRAY = 7,
    SAVE_BOOLEAN_ARRAY = 8
};

// --- declarations (the project loader)
// Code 0: "ERROR: Auto type for '<name>' not supported yet." and false. Codes 1..8: appended
// to that type's list, true. Other codes: "ERROR: No type given for '<name>'", not registered, true.
bool registerSavedVariable(uint8_t typeCode, const std::string &name);
const std::vector<std::string> &savedVariables(SaveType type);  // declaration order; empty for 0 or >8
void clearSavedVariables();  // tests; the engine never forgets a declaration

// --- where saves go
void setUpSavePath();  // "project:savepath" (default "."), with a "/" appended when missing
const std::string &savePath();
std::string saveFileName(const std::string &slotName);  // savePath + codename + slotName + "Save.qfs"

// --- the values of one save, one entry per declared name of each list, in list order
struct SaveValues
{
    std::vector<bool> booleans;
    std::vector<int32_t> integers;
    std::vector<float> floats;
    std::vector<std::string> strings;
    std::vector<std::vector<bool>> booleanArrays;
    std::vector<std::vector<int32_t>> integerArrays;
    std::vector<std::vector<float>> floatArrays;
    std::vector<std::vector<std::string>> stringArrays;
};

// Writes a temporary file beside `path` and renames it over `path` only once every byte is on
// disk: false (and the old file untouched) when anything fails.
bool writeSaveFile(const std::string &path, const SaveValues &values);
// Reads one value per declared name (the counts come from the lists' sizes in `declared`).
// Values past the end read as 0 / false / ""; an array stops at the end with what it read.
// False when the file cannot be opened (values untouched) or a read ran past its end.
struct SaveLayout
{
    size_t booleans = 0, integers = 0, floats = 0, strings = 0;
    size_t booleanArrays = 0, integerArrays = 0, floatArrays = 0, stringArrays = 0;
};
SaveLayout declaredSaveLayout();  // the sizes of the eight lists
bool readSaveFile(const std::string &path, const SaveLayout &layout, SaveValues &values, bool *opened = nullptr);

// --- script functions saveGame and loadGame (save_script.cpp); also sets the save path up
bool registerSaveFunctions(lua_State *L);
