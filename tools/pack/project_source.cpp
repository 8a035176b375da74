// tools/pack/project_source.cpp - the text formats of a project's source (project.qf and the
// .room descriptions) and the binary project file.
//
// Both text formats are line based: blanks around a line are ignored, blank lines and lines
// starting with "#" are comments, "[name]" opens a section, and every other line is one entry
// of the current section. A name is the rest of its line, or a double-quoted text with escapes
// when it would not survive that (leading "#", "[" or blank, control bytes, empty).
// Parsers report every problem they find, with file and line, and never stop early; writers
// produce the one canonical text that parses back to the same values.
// Threads: one (a command-line tool).
#include "project_source.h"

#include <fstream>
#include <sstream>

#include <cstdio>
#include <map>
#include <set>

#include "core/log.h"
#include "resources/data_file.h"

const AssetFolder ASSET_FOLDERS[ASSET_FOLDER_COUNT] = {
    {"images", "Images"}, {"fonts", "Fonts"}, {"audio", "Audio"},
    {"models", "Models"}, {"anims", "Anims"}, {"scraps", "Scraps"},
};

const char *const ROOM_LIST_NAMES[ROOM_LIST_COUNT] = {"sounds", "music",   "fonts",  "images",
                                                      "objects", "scripts", "models", "animations"};

int assetFolderOfList(int list)
{
    switch (list) {
    case ROOM_SOUNDS:
    case ROOM_MUSIC: return 2;  // audio
    case ROOM_FONTS: return 1;
    case ROOM_IMAGES: return 0;
    case ROOM_MODELS: return 3;
    case ROOM_ANIMATIONS: return 4;
    default: return -1;
    }
}

static const char *const SAVE_TYPE_NAMES[9] = {nullptr,         "integer",     "float",        "string",       "boolean",
                                               "integer-array", "float-array", "string-array", "boolean-array"};

const char *saveTypeName(uint8_t code) { return code >= 1 && code <= 8 ? SAVE_TYPE_NAMES[code] : nullptr; }

bool saveTypeFromName(const std::string &name, uint8_t &code)
{
    for (uint8_t i = 1; i <= 8; i++) {
        if (name == SAVE_TYPE_NAMES[i]) {
            code = i;
            return true;
        }
    }
    return false;
}

static std::string whereText(const std::string &file, int line)
{
    return line > 0 ? file + ":" + std::to_string(line) + ": " : file + ": ";
}

void SourceReport::error(const std::string &file, int line, const std::string &message)
{
    errorCount++;
    if (!quiet) logReport(stderr, LOG_ERROR, {whereText(file, line) + message});
}

void SourceReport::warning(const std::string &file, int line, const std::string &message)
{
    warningCount++;
    if (!quiet) logReport(stderr, LOG_WARNING, {whereText(file, line) + message});
}

void SourceReport::warningLine(const std::string &text)
{
    warningCount++;
    if (!quiet) logReport(stderr, LOG_WARNING, {text});
}

// ---------------------------------------------------------------- lines and names

static bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(const std::string &text)
{
    size_t first = 0, last = text.size();
    while (first < last && isBlank(text[first])) first++;
    while (last > first && isBlank(text[last - 1])) last--;
    return text.substr(first, last - first);
}

// Splits on "\n" (a "\r" before it goes too), drops a UTF-8 byte-order mark, blanks and comments.
std::vector<SourceLine> meaningfulLines(const std::string &text)
{
    std::vector<SourceLine> lines;
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        number++;
        start = end + 1;
        line = trimmed(line);
        if (!line.empty() && line[0] != '#') lines.push_back({number, line});
    }
    return lines;
}

static int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A bare name is the text itself; a quoted one is unescaped. False with `problem` set.
bool parseName(const std::string &text, std::string &name, std::string &problem)
{
    name.clear();
    if (text.empty() || text[0] != '"') {
        name = text;
        return true;
    }
    size_t i = 1;
    for (; i < text.size() && text[i] != '"'; i++) {
        if (text[i] != '\\') {
            name += text[i];
            continue;
        }
        if (++i == text.size()) break;
        switch (text[i]) {
        case '\\': name += '\\'; break;
        case '"': name += '"'; break;
        case 'n': name += '\n'; break;
        case 'r': name += '\r'; break;
        case 't': name += '\t'; break;
        case 'x': {
            const int high = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? hexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                problem = "\\x needs two hexadecimal digits";
                return false;
            }
            name += (char)(high * 16 + low);
            i += 2;
            break;
        }
        default:
            problem = std::string("unknown escape '\\") + text[i] + "' (use \\\\ \\\" \\n \\r \\t or \\xHH)";
            return false;
        }
    }
    if (i >= text.size()) {
        problem = "the quoted name has no closing '\"'";
        return false;
    }
    if (i + 1 != text.size()) {
        problem = "nothing may follow a quoted name on its line";
        return false;
    }
    return true;
}

static bool needsQuotes(const std::string &name)
{
    if (name.empty() || name[0] == '#' || name[0] == '[' || name[0] == '"') return true;
    if (isBlank(name.front()) || isBlank(name.back())) return true;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

std::string formatName(const std::string &name)
{
    if (!needsQuotes(name)) return name;
    std::string text = "\"";
    for (unsigned char c : name) {
        switch (c) {
        case '\\': text += "\\\\"; break;
        case '"': text += "\\\""; break;
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[5];
                snprintf(escape, sizeof escape, "\\x%02X", c);
                text += escape;
            } else {
                text += (char)c;
            }
        }
    }
    return text + "\"";
}

// "[name]" lines; false for an entry line. A "[" without its "]" is reported and skipped.
bool isSectionLine(const SourceLine &line, std::string &section, const std::string &file, SourceReport &report)
{
    if (line.text[0] != '[') return false;
    if (line.text.back() != ']') {
        report.error(file, line.number, "a section header needs a closing ']' (a name starting with '[' goes in quotes)");
        section = "";
        return true;
    }
    section = trimmed(line.text.substr(1, line.text.size() - 2));
    return true;
}

bool nameFits(const std::string &name, const std::string &what, const std::string &file, int line,
                     SourceReport &report)
{
    if (name.find('\0') != std::string::npos) {
        report.error(file, line, what + " holds a zero byte; the engine's names end at the first one");
        return false;
    }
    if (name.size() <= MAX_NAME_BYTES) return true;
    report.error(file, line, what + " is " + std::to_string(name.size()) + " bytes long; the engine stores at most " +
                                 std::to_string(MAX_NAME_BYTES));
    return false;
}

// ---------------------------------------------------------------- checks

bool isLuaIdentifier(const std::string &name)
{
    static const std::set<std::string> keywords = {"and",   "break", "do",   "else", "elseif", "end",    "false",
                                                   "for",   "function", "if", "in",  "local",  "nil",    "not",
                                                   "or",    "repeat", "return", "then", "true", "until", "while"};
    if (name.empty() || keywords.count(name)) return false;
    for (size_t i = 0; i < name.size(); i++) {
        const char c = name[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !(digit && i > 0)) return false;
    }
    return true;
}

bool isPlainCodename(const std::string &name)
{
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        if (!plain) return false;
    }
    return true;
}

bool isSafeRelativeName(const std::string &name)
{
    if (name.empty() || name.front() == '/' || name.back() == '/') return false;
    if (name.find('\0') != std::string::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

// ---------------------------------------------------------------- project.qf

static const char *const SAVE_TYPES_TEXT =
    "integer, float, string, boolean, integer-array, float-array, string-array, boolean-array";

// A whole int32 in decimal, optional sign; false for anything else.
bool parseInt32(const std::string &text, int32_t &value)
{
    size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i == text.size()) return false;
    long long number = 0;
    for (; i < text.size(); i++) {
        if (text[i] < '0' || text[i] > '9') return false;
        number = number * 10 + (text[i] - '0');
        if (number > 2147483648LL) return false;
    }
    if (text[0] == '-') number = -number;
    if (number > 2147483647LL || number < -2147483648LL) return false;
    value = (int32_t)number;
    return true;
}

static void parseProjectKey(const SourceLine &line, const std::string &file, ProjectDescription &out,
                            std::map<std::string, int> &seenKeys, SourceReport &report)
{
    const size_t equals = line.text.find('=');
    if (equals == std::string::npos) {
        report.error(file, line.number, "expected 'key = value' (keys: codename, width, height, first-room)");
        return;
    }
    const std::string key = trimmed(line.text.substr(0, equals));
    const std::string value = trimmed(line.text.substr(equals + 1));
    if (key != "codename" && key != "width" && key != "height" && key != "first-room") {
        report.error(file, line.number, "unknown key '" + key + "' (keys: codename, width, height, first-room)");
        return;
    }
    auto seen = seenKeys.find(key);
    if (seen != seenKeys.end()) {
        report.error(file, line.number, "'" + key + "' is set twice (first on line " + std::to_string(seen->second) + ")");
        return;
    }
    seenKeys[key] = line.number;

    if (key == "width" || key == "height") {
        int32_t number = 0;
        if (!parseInt32(value, number)) {
            report.error(file, line.number, "bad number '" + value + "' for " + key + ": expected a whole number of pixels");
            return;
        }
        const int32_t limit = key == "width" ? 2000 : 1600;
        if (number < 10 || number > limit) {
            report.warning(file, line.number, "the display clamps the " + key + " to 10.." + std::to_string(limit));
        }
        (key == "width" ? out.width : out.height) = number;
        return;
    }
    std::string name, problem;
    if (!parseName(value, name, problem)) {
        report.error(file, line.number, problem);
        return;
    }
    if (!nameFits(name, "the " + key, file, line.number, report)) return;
    if (key == "codename") {
        if (!isPlainCodename(name)) {
            report.error(file, line.number, "codename '" + name + "' names files and folders: use letters, digits, '-', '_' or '.'");
        }
        out.codename = name;
    } else {
        if (name.find_first_of("\"\\\n\r") != std::string::npos) {
            report.warning(file, line.number, "the engine's boot script cannot name a first room holding '\"', '\\' or a line break");
        }
        out.firstRoom = name;
    }
}

void parseProjectDescription(const std::string &text, const std::string &file, ProjectDescription &out,
                             SourceReport &report)
{
    out = ProjectDescription();
    std::string section;
    bool inSection = false;
    std::map<std::string, int> seenKeys;
    std::map<std::string, int> roomLines;
    std::map<std::pair<uint8_t, std::string>, int> savedLines;
    for (const SourceLine &line : meaningfulLines(text)) {
        if (isSectionLine(line, section, file, report)) {
            inSection = true;
            if (section != "project" && section != "rooms" && section != "saved" && !section.empty()) {
                report.error(file, line.number, "unknown section '[" + section + "]' (sections: [project], [rooms], [saved])");
            }
            continue;
        }
        if (!inSection) {
            report.error(file, line.number, "expected a section such as [project] before this line");
            inSection = true;
            section = "";
            continue;
        }
        if (section == "project") {
            parseProjectKey(line, file, out, seenKeys, report);
        } else if (section == "rooms") {
            std::string name, problem;
            if (!parseName(line.text, name, problem)) {
                report.error(file, line.number, problem);
                continue;
            }
            if (!nameFits(name, "the room name", file, line.number, report)) continue;
            if (!isSafeRelativeName(name)) {
                report.error(file, line.number, "room name '" + name + "' cannot be a file name under rooms/");
                continue;
            }
            auto first = roomLines.find(name);
            if (first != roomLines.end()) {
                report.error(file, line.number, "duplicate room '" + name + "' (first on line " +
                                                    std::to_string(first->second) + ")");
                continue;
            }
            roomLines[name] = line.number;
            out.rooms.push_back(name);
        } else if (section == "saved") {
            size_t split = 0;
            while (split < line.text.size() && !isBlank(line.text[split])) split++;
            const std::string typeName = line.text.substr(0, split);
            std::string name, problem;
            uint8_t type = 0;
            if (!saveTypeFromName(typeName, type)) {
                report.error(file, line.number, "unknown save type '" + typeName + "' (types: " + SAVE_TYPES_TEXT + ")");
                continue;
            }
            if (!parseName(trimmed(line.text.substr(split)), name, problem)) {
                report.error(file, line.number, problem);
                continue;
            }
            if (name.empty()) {
                report.error(file, line.number, "expected 'TYPE NAME': the global's name is missing");
                continue;
            }
            if (!nameFits(name, "the global's name", file, line.number, report)) continue;
            auto first = savedLines.find({type, name});
            if (first != savedLines.end()) {
                report.warning(file, line.number, "'" + name + "' is declared twice as " + typeName + " (first on line " +
                                                      std::to_string(first->second) + "); it is saved twice");
            } else {
                savedLines[{type, name}] = line.number;
            }
            if (out.saved.size() == MAX_SAVED_GLOBALS) {
                report.error(file, line.number, "more than 5000 saved globals; the engine refuses the project");
            }
            out.saved.push_back({type, name});
        }
    }
    if (!seenKeys.count("codename")) report.error(file, 0, "no codename: add 'codename = NAME' under [project]");
    if (!seenKeys.count("first-room")) {
        report.error(file, 0, "no first room: add 'first-room = ROOM' under [project]");
    } else if (!roomLines.count(out.firstRoom)) {
        report.error(file, seenKeys["first-room"],
                     "first room '" + out.firstRoom + "' is not among the rooms listed under [rooms]");
    }
}

std::string formatProjectDescription(const ProjectDescription &project)
{
    std::string text = "# Quillfen project (format: docs/projects.md)\n[project]\n";
    text += "codename = " + formatName(project.codename) + "\n";
    text += "width = " + std::to_string(project.width) + "\n";
    text += "height = " + std::to_string(project.height) + "\n";
    text += "first-room = " + formatName(project.firstRoom) + "\n";
    if (!project.rooms.empty()) {
        text += "\n[rooms]\n";
        for (const std::string &room : project.rooms) text += formatName(room) + "\n";
    }
    if (!project.saved.empty()) {
        text += "\n[saved]\n";
        for (const SavedGlobal &global : project.saved) {
            const char *type = saveTypeName(global.type);
            text += std::string(type ? type : "?") + " " + formatName(global.name) + "\n";
        }
    }
    return text;
}

// ---------------------------------------------------------------- .room descriptions

static std::string listNamesText()
{
    std::string text;
    for (int i = 0; i < ROOM_LIST_COUNT; i++) text += std::string(i ? ", " : "") + ROOM_LIST_NAMES[i];
    return text;
}

void parseRoomDescription(const std::string &text, const std::string &file, RoomNameLists &out, SourceReport &report,
                          std::vector<int> (*lines)[ROOM_LIST_COUNT])
{
    out = RoomNameLists();
    if (lines) {
        for (std::vector<int> &list : *lines) list.clear();
    }
    int list = -1;        // current list; -1 before any (or after a bad) section header
    bool inSection = false;
    std::map<std::string, int> seen[ROOM_LIST_COUNT];
    for (const SourceLine &line : meaningfulLines(text)) {
        std::string section;
        if (isSectionLine(line, section, file, report)) {
            inSection = true;
            list = -1;
            for (int i = 0; i < ROOM_LIST_COUNT; i++) {
                if (section == ROOM_LIST_NAMES[i]) list = i;
            }
            if (list < 0 && !section.empty()) {
                report.error(file, line.number, "unknown list '[" + section + "]' (lists: " + listNamesText() + ")");
            }
            continue;
        }
        if (!inSection) {
            report.error(file, line.number, "a name before any list: start with a list such as [objects]");
            inSection = true;
            continue;
        }
        if (list < 0) continue;  // under a bad header: reported once already
        std::string name, problem;
        if (!parseName(line.text, name, problem)) {
            report.error(file, line.number, problem);
            continue;
        }
        if (!nameFits(name, "the name", file, line.number, report)) continue;
        std::vector<std::string> &names = out.names[list];
        if (names.size() == MAX_LIST_NAMES) {
            report.error(file, line.number, std::string("more than 32767 names in [") + ROOM_LIST_NAMES[list] + "]");
        }
        auto first = seen[list].find(name);
        if (first != seen[list].end()) {
            const std::string effect = list == ROOM_CLASSES ? "the room switch builds the class twice"
                                                            : "it is loaded once";
            report.warning(file, line.number, "'" + name + "' is listed twice in [" + ROOM_LIST_NAMES[list] +
                                                  "] (first on line " + std::to_string(first->second) + "); " + effect);
        } else {
            seen[list][name] = line.number;
        }
        names.push_back(name);
        if (lines) (*lines)[list].push_back(line.number);
    }
}

std::string formatRoomDescription(const RoomNameLists &lists)
{
    std::string text;
    for (int i = 0; i < ROOM_LIST_COUNT; i++) {
        if (lists.names[i].empty()) continue;
        if (!text.empty()) text += "\n";
        text += std::string("[") + ROOM_LIST_NAMES[i] + "]\n";
        for (const std::string &name : lists.names[i]) text += formatName(name) + "\n";
    }
    return text;
}

// ---------------------------------------------------------------- the binary project file

bool writeProjectFile(const std::string &path, const ProjectDescription &project)
{
    DataFile file;
    if (!file.openForWrite(path)) return false;
    bool written = file.writeInt32(project.width) && file.writeInt32(project.height) &&
                   file.writeString(project.firstRoom) && file.writeInt32((int32_t)project.saved.size());
    for (const SavedGlobal &global : project.saved) {
        written = written && file.writeByte(global.type) && file.writeString(global.name);
    }
    return file.close() && written;
}

bool readProjectFile(DataFile &file, ProjectDescription &project, std::string &problem)
{
    project.width = file.readInt32();
    project.height = file.readInt32();
    project.firstRoom = file.readString();
    const int32_t count = file.readInt32();
    if (file.atEnd()) {
        problem = "it ends before the count of saved globals";
        return false;
    }
    if (count > (int32_t)MAX_SAVED_GLOBALS) {
        problem = "it declares " + std::to_string(count) + " saved globals (at most 5000)";
        return false;
    }
    project.saved.clear();
    for (int32_t i = 0; i < count; i++) {
        SavedGlobal global;
        global.type = file.readByte();
        global.name = file.readString();
        if (file.atEnd()) {
            problem = "it ends inside saved global " + std::to_string(i + 1) + " of " + std::to_string(count);
            return false;
        }
        project.saved.push_back(global);
    }
    return true;
}

// ---------------------------------------------------------------- whole files

bool readWholeFile(const std::string &path, std::string &bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) return false;
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    return !in.bad();
}

bool writeWholeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return false;
    out.write(bytes.data(), (std::streamsize)bytes.size());
    out.close();
    return !out.fail();
}
