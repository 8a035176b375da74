// core/config.cpp - the configuration file parser and its getters.
// Lines are cut at "//", trimmed (trailing ';' go with trailing blanks), then read as
// "[section]" or "key = value"; values lose leading blanks/quotes and trailing quotes.
// State: one process-wide map, filled on the main thread at start-up and read-only after.
#include "core/config.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

static std::map<std::string, std::string> configValues;  // "section:key" -> value, byte order

static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Applies one line of the file to the map; `section` carries over between lines.
static void parseConfigLine(std::string line, std::string &section)
{
    size_t comment = line.find("//");
    if (comment != std::string::npos) line.erase(comment);

    size_t first = 0;
    while (first < line.size() && isBlank(line[first])) first++;
    if (first == line.size()) return;
    size_t last = line.size();
    while (last > 0 && (isBlank(line[last - 1]) || line[last - 1] == ';')) last--;
    if (last == 0) return;
    line = line.substr(first, last - first);

    if (line.size() >= 3 && line.front() == '[' && line.back() == ']') {
        section = line.substr(1, line.size() - 2);
        return;
    }

    size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) return;
    size_t keyEnd = equals;
    while (keyEnd > 0 && isBlank(line[keyEnd - 1])) keyEnd--;
    std::string key = line.substr(0, keyEnd);

    std::string value;
    size_t valueStart = equals + 1;
    while (valueStart < line.size() && (isBlank(line[valueStart]) || line[valueStart] == '"')) valueStart++;
    size_t valueEnd = line.size();  // one past the last character that is not a quote
    while (valueEnd > 0 && line[valueEnd - 1] == '"') valueEnd--;
    if (valueStart < line.size() && valueStart < valueEnd) value = line.substr(valueStart, valueEnd - valueStart);

    configValues[section + ":" + key] = value;
}

// Applies every line of `in`; a last line without a newline counts too. The section starts empty.
static void parseConfigStream(std::istream &in)
{
    std::string section, line;
    while (std::getline(in, line)) parseConfigLine(line, section);
}

// NOTE: a read error before the end of the file keeps the lines read so far and returns false.
bool loadConfig(const std::string &path)
{
    std::ifstream file(path);
    if (!file.is_open()) return false;
    parseConfigStream(file);
    return !file.bad();
}

void loadConfigText(const std::string &text)
{
    std::istringstream in(text);
    parseConfigStream(in);
}

void clearConfig() { configValues.clear(); }

std::string getConfigString(const std::string &fullKey, const std::string &defaultValue)
{
    auto it = configValues.find(fullKey);
    return it == configValues.end() ? defaultValue : it->second;
}

bool getConfigBool(const std::string &fullKey, bool defaultValue)
{
    auto it = configValues.find(fullKey);
    if (it == configValues.end()) return defaultValue;
    const std::string &value = it->second;
    if (value == "true" || value == "TRUE") return true;
    if (value == "false" || value == "FALSE") return false;
    return atoi(value.c_str()) != 0;
}

int getConfigInt(const std::string &fullKey, int defaultValue)
{
    auto it = configValues.find(fullKey);
    return it == configValues.end() ? defaultValue : atoi(it->second.c_str());
}
