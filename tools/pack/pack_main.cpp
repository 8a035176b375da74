// tools/pack/pack_main.cpp - quillfen-pack: the command table, help and dispatch.
// Usage: quillfen-pack <command> [arguments]; `quillfen-pack help` lists the commands.
// Threads: one (a command-line tool).
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/log.h"
#include "pack_commands.h"

static const PackCommand commands[] = {
    {"new", "NAME [FOLDER]",
     "write a minimal project source to start a game from (a room, an object class, a picture\n"
     "                and a font) into FOLDER (default NAME), and say how to build and play it",
     newCommand},
    {"pack", "[-C DIR] ARCHIVE PATH...",
     "pack files and folders (walked recursively) into ARCHIVE; entry names are the paths as\n"
     "                given, relative to DIR (default: the current folder), e.g. Projects/demo",
     packCommand},
    {"list", "ARCHIVE", "print the index in file order: offset, size and name of every entry", listCommand},
    {"extract", "[-C DIR] ARCHIVE [NAME...]", "write entries (all, or the NAMEs) back as loose files under DIR",
     extractCommand},
    {"verify", "ARCHIVE", "check the index and that every entry lies inside the file", verifyCommand},
    {"compile", "[--archive | --watch] SOURCE OUTPUT",
     "build a game from a project source folder (docs/projects.md): OUTPUT gets Quillfen.ini\n"
     "                and Projects/<codename>/; --archive also packs OUTPUT/<codename>.qfa;\n"
     "                --watch builds again whenever SOURCE changes, for a game playing in\n"
     "                OUTPUT with [debug] reload = true (turned on in OUTPUT's Quillfen.ini)",
     compileCommand},
    {"bundle", "[--tar] SOURCE OUT",
     "compile SOURCE into a folder a player runs with OUT/play on any common Linux desktop:\n"
     "                the engine, the libraries it needs, the archive; --tar also writes OUT.tar.gz",
     bundleCommand},
    {"unpack", "[--codename NAME] GAME SOURCE",
     "turn a built game (a folder with an archive or Projects/, or one .qfa file) back into a\n"
     "                project source folder; SOURCE must be new or empty",
     unpackCommand},
    {"import-skeleton", "EXPORT.json ATLAS.atlas SOURCE [--fps N] [--name NAME]",
     "turn a skeleton exported by a 2D animation editor (JSON and its texture atlas) into images,\n"
     "                scraps, a model and animations of the project source SOURCE (docs/skeleton-import.md);\n"
     "                keys become frames at N a second (60), files are named NAME (the export's name)",
     importSkeletonCommand},
};

static void printHelp(FILE *stream)
{
    fprintf(stream, "Usage: quillfen-pack COMMAND [ARGUMENTS]\n\nCommands:\n");
    for (const PackCommand &command : commands) {
        fprintf(stream, "  %s %s\n                %s\n", command.name, command.usage, command.summary);
    }
    fprintf(stream, "  help\n                show this text\n");
}

int usageError(const std::string &command, const std::string &problem)
{
    for (const PackCommand &entry : commands) {
        if (command == entry.name) {
            fprintf(stderr, "quillfen-pack %s: %s\nUsage: quillfen-pack %s %s\n", entry.name, problem.c_str(),
                    entry.name, entry.usage);
            return EXIT_USAGE;
        }
    }
    fprintf(stderr, "quillfen-pack: %s\n", problem.c_str());
    return EXIT_USAGE;
}

int failure(const std::string &line)
{
    logError(line);
    return EXIT_FAILED;
}

std::string toolFolder()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        printHelp(stderr);
        return EXIT_USAGE;
    }
    const std::string name = argv[1];
    if (name == "help" || name == "--help" || name == "-h") {
        printHelp(stdout);
        return EXIT_DONE;
    }
    const Arguments args(argv + 2, argv + argc);
    for (const PackCommand &command : commands) {
        if (name == command.name) return command.run(args);
    }
    fprintf(stderr, "quillfen-pack: unknown command '%s'\n", name.c_str());
    printHelp(stderr);
    return EXIT_USAGE;
}
