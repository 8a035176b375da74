// Replays every seed of the archive, project-file, save-file, room-file, configuration and
// font fuzz targets, and every input that once made one of them fail (tests/fuzz/regressions/<target>/), through the same code
// the fuzzers run, so an old crash can never come back unnoticed. The inputs are damaged on
// purpose: the engine's messages about them are swallowed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "../fuzz/fuzz_targets.h"
#include "test_support.h"

namespace {

using Target = void (*)(const uint8_t *, size_t);

std::vector<std::string> inputsOf(const std::string &target)
{
    std::vector<std::string> paths;
    for (const char *kind : {"corpus", "regressions"}) {
        const std::filesystem::path folder = std::filesystem::path(QF_SOURCE_DIR) / "tests/fuzz" / kind / target;
        std::error_code error;
        for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
            if (entry.is_regular_file()) paths.push_back(entry.path().string());
        }
    }
    return paths;
}

TEST(FuzzRegressions, EverySeedAndOldCrashRunsClean)
{
    const struct
    {
        const char *name;
        Target run;
        size_t minimumSeeds;
    } targets[] = {
        {"archive_index", fuzz::archiveIndex, 3},
        {"project_file", fuzz::projectFile, 3},
        {"save_file", fuzz::saveFile, 3},
        {"room_file", fuzz::roomFile, 5},
        {"config", fuzz::configText, 3},
        {"font", fuzz::fontDescriptor, 3},
    };
    char previous[4096];
    ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
    for (const auto &target : targets) {
        const std::vector<std::string> inputs = inputsOf(target.name);
        EXPECT_GE(inputs.size(), target.minimumSeeds) << target.name << ": seed corpus missing";
        for (const std::string &path : inputs) {
            SCOPED_TRACE(path);
            std::ifstream in(path, std::ios::binary);
            const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            // The fuzz code works in its own folder with its own configuration; put both back.
            ASSERT_EQ(0, chdir(fuzz::workFolder().c_str()));
            ASSERT_TRUE(loadConfig("Quillfen.ini"));
            captureStderr([&] { target.run(reinterpret_cast<const uint8_t *>(data.data()), data.size()); });
            resetProject();
            clearSavedVariables();
            clearConfig();
            ASSERT_EQ(0, chdir(previous));
        }
    }
}

}  // namespace
