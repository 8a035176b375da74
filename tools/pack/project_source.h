// tools/pack/project_source.h - a game project between its readable source folder and the
// binary files the engine reads: the text formats of project.qf and the .room descriptions
// (parsing with file:line messages, and the canonical text `unpack` writes), and the binary
// project file. The folder walking and file copying live in compile_command.cpp and
// unpack_command.cpp; docs/projects.md describes the formats for game authors.
// Threads: one (a command-line tool).
// Failure: parsers print "ERROR: file:line: ..." / "WARNING: file:line: ..." lines on stderr
// through a SourceReport and keep going so one run shows every problem; callers look at the
// report's error count before writing anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/room_file.h"

class DataFile;

// --- the source folder's fixed names
static const char *const PROJECT_DESCRIPTION_FILE = "project.qf";
static const char *const SETTINGS_FILE = "Quillfen.ini";
static const char *const ROOMS_FOLDER = "rooms";      // <room>.room + <room>.lua
static const char *const OBJECTS_FOLDER = "objects";  // <Class>.lua
static const char *const ROOM_DESCRIPTION_SUFFIX = ".room";
static const char *const SCRIPT_SUFFIX = ".lua";

// Asset folders of the source and the engine's type directory each is copied to, verbatim.
struct AssetFolder
{
    const char *source;  // "images"
    const char *engine;  // "Images"
};
static const int ASSET_FOLDER_COUNT = 6;
extern const AssetFolder ASSET_FOLDERS[ASSET_FOLDER_COUNT];

// The room lists' section names, in room-file order: sounds, music, fonts, images, objects,
// scripts, models, animations.
extern const char *const ROOM_LIST_NAMES[ROOM_LIST_COUNT];
// The asset folder (index into ASSET_FOLDERS) that holds the files a list names; -1 for the
// lists whose names are not files (objects are checked against objects/, scripts not at all).
int assetFolderOfList(int list);

// --- limits the engine's formats impose
static const size_t MAX_NAME_BYTES = 1024;      // a DataFile string
static const size_t MAX_LIST_NAMES = 32767;     // an int16 list count
static const size_t MAX_SAVED_GLOBALS = 5000;   // the project loader refuses more

// --- what a project is made of
struct SavedGlobal
{
    uint8_t type = 0;  // save type code 1..8 (save/save.h)
    std::string name;
};

struct ProjectDescription
{
    std::string codename;
    int32_t width = 640;   // the engine's defaults without a project file
    int32_t height = 480;
    std::string firstRoom;
    std::vector<std::string> rooms;  // declaration order
    std::vector<SavedGlobal> saved;  // declaration order (save files depend on it)
};

// Save types by their readable names ("integer", "float", "string", "boolean",
// "integer-array", ...); nullptr / false for anything else (code 0, "auto", is refused).
const char *saveTypeName(uint8_t code);
bool saveTypeFromName(const std::string &name, uint8_t &code);

// --- messages with file and line; counts what it printed
class SourceReport
{
public:
    bool quiet = false;  // counts without printing (unpack trying a text form)
    void error(const std::string &file, int line, const std::string &message);    // line 0: no line
    void warning(const std::string &file, int line, const std::string &message);
    void warningLine(const std::string &text);  // already says where (Lua's "file:line: ...")
    int errors() const { return errorCount; }
    int warnings() const { return warningCount; }

private:
    int errorCount = 0;
    int warningCount = 0;
};

// --- the line format shared by every text source
struct SourceLine
{
    int number;        // 1-based
    std::string text;  // without surrounding blanks; never empty, never a comment
};
std::string trimmed(const std::string &text);  // without blanks (spaces, tabs) around it
// Splits on "\n" (a "\r" before it goes too), drops a UTF-8 byte-order mark, blanks and comments.
std::vector<SourceLine> meaningfulLines(const std::string &text);
// A bare name is the text itself; a quoted one is unescaped. False with `problem` set.
bool parseName(const std::string &text, std::string &name, std::string &problem);
// "[name]" lines (section = the trimmed name); false for an entry line. A "[" without its "]"
// is reported and gives the section "".
bool isSectionLine(const SourceLine &line, std::string &section, const std::string &file, SourceReport &report);
// False (and an error naming `what`) for a name over MAX_NAME_BYTES or holding a zero byte.
bool nameFits(const std::string &name, const std::string &what, const std::string &file, int line,
              SourceReport &report);
bool parseInt32(const std::string &text, int32_t &value);  // a whole int32 in decimal, optional sign

// --- text formats (`file` names the source in messages)
// Reads project.qf. Missing keys keep their defaults; a missing codename or first room, or an
// undeclared first room, is an error here too.
void parseProjectDescription(const std::string &text, const std::string &file, ProjectDescription &out,
                             SourceReport &report);
// Reads a .room description: sections named by ROOM_LIST_NAMES, one name per line.
// `lines` (optional) receives the line of every name, list by list, for later messages.
void parseRoomDescription(const std::string &text, const std::string &file, RoomNameLists &out,
                          SourceReport &report, std::vector<int> (*lines)[ROOM_LIST_COUNT] = nullptr);
// The canonical texts: what unpack writes and what parses back to the same values.
std::string formatProjectDescription(const ProjectDescription &project);
std::string formatRoomDescription(const RoomNameLists &lists);
// A name as one line holds it: bare when it reads back unchanged, else in double quotes with
// \\ \" \n \r \t \xHH escapes.
std::string formatName(const std::string &name);

// --- checks shared by compile and unpack
bool isLuaIdentifier(const std::string &name);  // what the generated class code needs
bool isPlainCodename(const std::string &name);  // letters, digits, '-', '_', '.'; not "." or ".."
// A name that can be a relative path under a type directory: not empty, no empty, "." or ".."
// parts, no leading or trailing "/", no zero byte. (The engine itself accepts any bytes, but
// the source keeps every file under its own name.)
bool isSafeRelativeName(const std::string &name);

// --- whole files on disk (readWholeFile and writeWholeFile here, the rest in compile_command.cpp)
bool readWholeFile(const std::string &path, std::string &bytes);
bool writeWholeFile(const std::string &path, const std::string &bytes);  // creates or truncates
// Regular files under `folder`, relative "/"-separated names, sorted; names with a part starting
// with "." are left out. A missing folder gives none (true); false when it cannot be read.
bool listFilesUnder(const std::string &folder, std::vector<std::string> &names);
struct AssetSourceType;
// A file of a scrap, model or animation folder that is a text source: its name ends in the
// type's suffix and it does not start with the type's binary magic.
bool isTextSource(const std::string &path, const AssetSourceType &type);

// --- the binary project file: P + codename + ".dat"
bool writeProjectFile(const std::string &path, const ProjectDescription &project);  // false when a write failed
// Reads width, height, first room and the saved globals as the engine does (any type code is
// kept; callers decide). False with `problem` set when the file is cut short or holds more
// than 5000 records.
bool readProjectFile(DataFile &file, ProjectDescription &project, std::string &problem);
