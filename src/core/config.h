// core/config.h - "Quillfen.ini": sections of key = value lines, read once at start-up.
// Every setting is looked up by "section:key" through a typed getter with the caller's default,
// so a missing file or key is never an error.
// Threads: loadConfig on the main thread at start-up; the getters from any thread afterwards
// (the map is only read once loaded).
#pragma once

#include <string>

bool loadConfig(const std::string &path);  // false when the file cannot be opened (map unchanged)
void loadConfigText(const std::string &text);  // the same rules on a file's contents already in memory
void clearConfig();                         // empties the map (tests; the engine never unloads it)

// The stored value when the key is present, even an empty one; else the default.
std::string getConfigString(const std::string &fullKey, const std::string &defaultValue);
// "true"/"TRUE" -> true, "false"/"FALSE" -> false, anything else atoi(value) != 0.
bool getConfigBool(const std::string &fullKey, bool defaultValue);
// atoi(value): leading blanks, optional sign, digits; no digits gives 0.
int getConfigInt(const std::string &fullKey, int defaultValue);
