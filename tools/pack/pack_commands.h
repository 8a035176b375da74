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
int unpackCommand(const Arguments &args);   // unpack_command.cpp

// Shared helpers (pack_main.cpp)
int usageError(const std::string &command, const std::string &problem);  // prints, returns EXIT_USAGE
int failure(const std::string &line);                                     // "ERROR: " line, EXIT_FAILED
