// tools/pack/import_command.cpp - quillfen-pack import-skeleton EXPORT.json ATLAS.atlas SOURCE
// [--fps N] [--name NAME]: an editor's skeleton export into a project source (skeleton_import.h,
// docs/skeleton-import.md).
// Threads: one.
#include <cctype>
#include <filesystem>

#include "pack_commands.h"
#include "skeleton_import.h"

int importSkeletonCommand(const Arguments &args)
{
    const std::string command = "import-skeleton";
    std::vector<std::string> paths;
    ImportOptions options;
    bool named = false;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &arg = args[i];
        if (arg == "--fps" || arg == "--name") {
            if (i + 1 == args.size()) return usageError(command, arg + " needs a value");
            const std::string value = args[++i];
            if (arg == "--name") {
                options.name = value, named = true;
                continue;
            }
            int32_t fps = 0;
            if (!parseInt32(value, fps) || fps < 1 || fps > 1000) return usageError(command, "--fps takes 1 to 1000 frames a second");
            options.fps = fps;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError(command, "unknown option '" + arg + "'");
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 3) return usageError(command, "expected the export, its atlas and the project source");
    if (!named) options.name = std::filesystem::path(paths[0]).stem().string();
    bool plain = !options.name.empty() && options.name[0] != '.';
    for (char c : options.name) plain = plain && (isalnum((unsigned char)c) || c == '-' || c == '_' || c == '.');
    if (!plain) {
        return usageError(command, "the name '" + options.name + "' names files: letters, digits, '-', '_' and '.' only" +
                                       (named ? "" : " (give one with --name)"));
    }
    SourceReport report;
    return importSkeleton(paths[0], paths[1], paths[2], options, report) ? EXIT_DONE : EXIT_FAILED;
}
