// tools/pack/pack_commands.h - the commands of quillfen-pack.
// Each takes the words after its name and returns the exit code: 0 done, 1 bad input or a
// failed write (after a message on stderr), 2 wrong usage. To add a command, write its
// function in a file of its own and add one row to the table in pack_main.cpp.
#pragma once

#include <string>
#include <vector>

using Arguments = std::vector<std::string>;

static const int EXIT_DONE = 0;
static const int EXIT_FAILED = 1;
static const int EXIT_USAGE = 2;

struct PackCommand
{
    const char *name;
    const char *usage;    // the words after the name
    const char *summary;  // one line for the help text
    int (*run)(const Arguments &args);
};

int packCommand(const Arguments &args);     // archive_commands.cpp
int listCommand(const Arguments &args);
int extractCommand(const Arguments &args);
int verifyCommand(const Arguments &args);
int compileCommand(const Arguments &args);  // compile_command.cpp
int bundleCommand(const Arguments &args);   // bundle_command.cpp
int unpackCommand(const Arguments &args);   // unpack_command.cpp
int newCommand(const Arguments &args);      // new_command.cpp
int importSkeletonCommand(const Arguments &args);  // import_command.cpp

// Shared helpers (pack_main.cpp)
int usageError(const std::string &command, const std::string &problem);  // prints, returns EXIT_USAGE
int failure(const std::string &line);                                     // "ERROR: " line, EXIT_FAILED
std::string toolFolder();  // where this program lives, the engine built and installed beside it ("" when unknown)

// compile_command.cpp: one build of SOURCE into OUTPUT. inPlace (--watch): the files are built in
// OUTPUT/STAGE_FOLDER first and only those that differ replace OUTPUT's, each by a rename, so a
// game running from OUTPUT never reads a half-written or missing file; Quillfen.ini turns the
// development mode on. Returns the exit code.
int compileProject(const std::string &source, const std::string &output, bool archive, bool inPlace);
// watch_command.cpp
static const char *const STAGE_FOLDER = ".quillfen-stage";
int watchAndCompile(const std::string &source, const std::string &output);  // until SIGINT/SIGTERM
std::string withReloadOn(const std::string &settings);  // adds [debug] reload = true unless it says
// Moves every file of `entries` from stage to output where the bytes differ (or it is new) and
// removes the files under output/projectDirectory that `entries` no longer holds.
bool replaceChangedFiles(const std::string &stage, const std::string &output, const std::string &projectDirectory,
                         const std::vector<std::string> &entries);
