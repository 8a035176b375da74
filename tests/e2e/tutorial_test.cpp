// The tutorial (docs/tutorial.md) as a reader follows it, and quillfen-pack new: every step's files
// and commands applied in order, compiled with quillfen-pack and played by the real engine, with
// nothing on the compiler's or the engine's stderr. A step whose first room is not "main" is also
// played from "main", so every room script of every step runs.
#include <fstream>
#include <regex>
#include <sstream>

#include "e2e_project.h"

namespace {

struct Block
{
    std::string info, text;  // the fence's info string ("lua file=rooms/main.lua", "sh assets") and its lines
};
using Step = std::vector<Block>;

std::vector<Step> tutorialSteps()
{
    std::ifstream file(std::string(QF_SOURCE_DIR) + "/docs/tutorial.md");
    std::vector<Step> steps;
    std::string line;
    Block *block = nullptr;
    while (std::getline(file, line)) {
        if (block) {
            if (line == "```") block = nullptr;
            else block->text += line + "\n";
        } else if (line.rfind("## Step ", 0) == 0) {
            steps.emplace_back();
        } else if (line.rfind("```", 0) == 0 && !steps.empty()) {
            steps.back().push_back({line.substr(3), ""});
            block = &steps.back().back();
        }
    }
    return steps;
}

ProcessResult shell(const std::string &script, const std::string &folder)  // with the tools on PATH
{
    const std::string tools = std::filesystem::path(QF_ENGINE_PATH).parent_path().string();
    return runProgram({"/bin/sh", "-c", script}, folder, 60, {"PATH=" + tools + ":" + getenv("PATH")});
}

// Builds `source` into `game` and plays it for a moment: "" when all went well, else what went wrong.
std::string buildAndPlay(const std::string &source, const std::string &game)
{
    std::filesystem::remove_all(game);
    const ProcessResult built = runPackTool({"compile", "--archive", source, game});
    if (built.exitCode != 0 || !built.err.empty()) return "compile: exit " + std::to_string(built.exitCode) + "\n" + built.err;
    ChildProcess engine;
    if (!engine.start({QF_ENGINE_PATH}, game, ENGINE_ENV)) return "the engine did not start";
    usleep(1500 * 1000);
    if (engine.waitExit(0)) return "the engine ended by itself with " + std::to_string(engine.exitCode()) + "\n" + engine.err();
    engine.signal(SIGTERM);
    if (!engine.waitExit(60000) || engine.exitCode() != 0) return "no clean exit after SIGTERM\n" + engine.err();
    return engine.err();
}

// Catches a tutorial step that does not compile, plays with an error, or refers to a file or
// function that does not exist; and a `new` project that does not play cleanly.
TEST(Tutorial, EveryStepCompilesAndPlaysWithoutAnError)
{
    REQUIRE_X_DISPLAY();
    TempDir work;
    const std::string source = work.file("starfall");
    const std::vector<Step> steps = tutorialSteps();
    ASSERT_EQ(7u, steps.size()) << "the tutorial's steps";
    for (size_t n = 0; n < steps.size(); n++) {
        const std::string step = "step " + std::to_string(n + 1);
        for (const Block &block : steps[n]) {
            std::smatch file;
            if (std::regex_search(block.info, file, std::regex(R"(\bfile=(\S+))"))) {
                writeTree(source, {{file[1], block.text}});
            } else if (block.info == "sh new" || block.info == "sh assets") {
                const ProcessResult ran = shell(block.text, block.info == "sh new" ? work.path() : source);
                ASSERT_EQ(0, ran.exitCode) << step << ": " << block.text << ran.err;
            }
        }
        EXPECT_EQ("", buildAndPlay(source, work.file("game"))) << step;
        const std::string project = readFile(source + "/project.qf");
        if (project.find("first-room = main\n") == std::string::npos) {  // its other room too
            const std::string copy = work.file("from-main");
            std::filesystem::remove_all(copy);
            std::filesystem::copy(source, copy, std::filesystem::copy_options::recursive);
            writeFile(copy + "/project.qf", std::regex_replace(project, std::regex("first-room = \\w+"), "first-room = main"));
            EXPECT_EQ("", buildAndPlay(copy, work.file("game"))) << step << ", started in the main room";
        }
    }
}

}  // namespace
