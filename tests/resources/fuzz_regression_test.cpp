// Replays every fuzz seed and old finding (tests/fuzz/corpus, regressions) through the fuzz code.
#include <gtest/gtest.h>

#include <filesystem>

#include "../fuzz/fuzz_targets.h"
#include "test_support.h"

namespace {

// Catches an old crash, hang or broken invariant coming back, and a seed corpus gone missing.
TEST(FuzzRegressions, EverySeedAndOldCrashRunsClean)
{
    const struct { const char *name; void (*run)(const uint8_t *, size_t); } targets[] = {
        {"archive_index", fuzz::archiveIndex}, {"project_file", fuzz::projectFile}, {"save_file", fuzz::saveFile},
        {"room_file", fuzz::roomFile}, {"config", fuzz::configText}, {"font", fuzz::fontDescriptor},
        {"wav", fuzz::wavFile}, {"music", fuzz::musicEntry},
    };
    WorkDir back;  // the fuzz code changes the working directory and the configuration: put both back
    for (const auto &target : targets) {
        size_t seeds = 0;
        for (const std::string kind : {"corpus", "regressions"}) {
            std::error_code error;
            for (const auto &entry : std::filesystem::directory_iterator(
                     std::string(QF_SOURCE_DIR) + "/tests/fuzz/" + kind + "/" + target.name, error)) {
                SCOPED_TRACE(entry.path().string());
                const std::string data = readFile(entry.path().string());
                seeds += kind == "corpus";
                ASSERT_TRUE(loadConfig(fuzz::workFolder() + "/Quillfen.ini"));
                captureStderr([&] { target.run((const uint8_t *)data.data(), data.size()); });
                resetProject();
                clearSavedVariables();
                clearConfig();
            }
        }
        EXPECT_GE(seeds, 3u) << target.name << ": seed corpus missing";
    }
}

}  // namespace
