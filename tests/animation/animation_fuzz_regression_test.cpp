// Replays every seed and old finding of the animation fuzz targets (tests/fuzz/corpus, regressions).
#include <gtest/gtest.h>

#include <filesystem>

#include "../fuzz/animation_fuzz_targets.h"
#include "test_support.h"

namespace {

// Catches an old crash or broken invariant of the three readers, their source parsers and the
// skeleton import's readers coming back, and a seed corpus gone missing.
TEST(AnimationFuzzRegressions, EverySeedAndOldCrashRunsClean)
{
    const struct { const char *name; void (*run)(const uint8_t *, size_t); } targets[] = {
        {"scrap_file", fuzz::scrapFile},       {"model_file", fuzz::modelFile},     {"animation_file", fuzz::animationFile},
        {"scrap_source", fuzz::scrapSource}, {"model_source", fuzz::modelSource}, {"animation_source", fuzz::animationSource},
        {"skeleton_import", fuzz::skeletonImport},
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
                captureStderr([&] { target.run((const uint8_t *)data.data(), data.size()); });
            }
        }
        EXPECT_GE(seeds, 3u) << target.name << ": seed corpus missing";
    }
    clearConfig();
}

}  // namespace
