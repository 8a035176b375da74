// quillfen-pack's commands, run one after another in one folder. Catches a wrong listing, extract or
// message, an archive that packs itself, an old archive left to hide a loose build, and bad input or
// a usage mistake (pack, list, verify, extract, compile, unpack) without a message and non-zero exit.
#include <tuple>

#include "e2e_project.h"

namespace {

TEST(PackTool, CommandsAnswerWithTheirMessagesAndExitCodes)
{
    TempDir dir;
    std::string big(70000, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i * 7);
    // Archives made by hand: one entry "a" of 3 bytes at 17, cut inside its index, or claiming 100 bytes.
    const std::string index = int32LE(1) + lengthText("a") + int32LE(17);
    writeTree(dir.path(), {{"a", "abc"}, {"sub/b", big}, {"sub/c", "c"}, {"short.qfa", index.substr(0, 10)},
                           {"past.qfa", index + int32LE(100) + "abc"},
                           {"evil.qfa", int32LE(1) + lengthText("../escaped") + int32LE(4 + 4 + 10 + 8) + int32LE(0)},
                           {"src/project.qf", "[project]\ncodename = e\nfirst-room = a\n[rooms]\na\n"},
                           {"src/rooms/a.room", ""}, {"src/rooms/a.lua", ""}, {"cut/Quillfen.ini", "[project]\ncodename = d\n"},
                           {"cut/Projects/d/d.dat", int32LE(640) + int32LE(480) + lengthText("r")}});  // ends before the saved globals
    // The command's words, its exit code and a piece of what it prints.
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
        // Folders are walked in byte order; the data follows the index back to back.
        {{"pack", "good.qfa", "a", "./sub/"}, 0, "Packed 3 files into 'good.qfa'.\n"},
        {{"list", "good.qfa"}, 0,
         "    offset       size  name\n        51          3  a\n        54      70000  sub/b\n     70054          1  sub/c\n"},
        {{"verify", "good.qfa"}, 0, "3 entries, all inside the file"},
        {{"extract", "-C", "copy", "good.qfa"}, 0, "Extracted 3 of 3 entries into 'copy'.\n"},
        {{"extract", "-C", "one", "good.qfa", "sub/b"}, 0, "Extracted 1 of 1 entries into 'one'.\n"},
        // An archive inside the folder it packs never packs itself, new or already there.
        {{"pack", "-C", ".", "sub/inner.qfa", "sub"}, 0, "Packed 2 files"},
        {{"pack", "-C", ".", "sub/inner.qfa", "sub"}, 0, "Packed 2 files"},
        {{"pack", "-C", ".", "self.qfa", "."}, 1, "ERROR: '.' is not a relative path inside the game folder"},
        {{}, 2, "Usage: quillfen-pack COMMAND"},
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {{"pack", "x.qfa"}, 2, "Usage: quillfen-pack pack [-C DIR] ARCHIVE PATH..."},
        {{"pack", "-C"}, 2, "-C needs a folder"},
        {{"pack", "x.qfa", "missing"}, 1, "ERROR: File 'missing' could not be opened.\n"},
        {{"pack", "x.qfa", "/etc/hostname"}, 1, "is not a relative path inside the game folder"},
        {{"pack", "x.qfa", "../a"}, 1, "is not a relative path inside the game folder"},
        {{"pack", "-C", "nowhere", "x.qfa", "a"}, 1, "ERROR: Folder 'nowhere' could not be entered.\n"},
        {{"list"}, 2, "exactly one archive is needed"},
        {{"list", "none.qfa"}, 1, "ERROR: 'none.qfa' could not be opened.\n"},
        {{"list", "short.qfa"}, 1, "ERROR: Archive 'short.qfa' has a broken index: it ends inside record 1 of 1.\n"},
        {{"verify", "short.qfa"}, 1, "has a broken index"},
        {{"verify", "past.qfa"}, 1, "ERROR: Entry 'a' (offset 17, size 100) does not lie inside the file (20 bytes).\n"},
        {{"extract", "-C", "out", "past.qfa"}, 1, "ERROR: Entry 'a' lies outside the archive 'past.qfa'.\n"},
        {{"extract", "-C", "out", "good.qfa", "b"}, 1, "ERROR: Entry 'b' is not in the archive.\n"},
        {{"extract", "-C", "out", "evil.qfa"}, 1, "ERROR: Entry '../escaped' is not a safe relative path"},
        {{"compile", "--archive", "src", "game"}, 0, "Compiled 'e': 1 room"},
        {{"compile", "src", "game"}, 0, "Removed the old archive"},  // it would hide the new loose files
        {{"compile", "src"}, 2, "Usage: quillfen-pack compile [--archive | --watch] SOURCE OUTPUT"},
        {{"compile", "--watch", "--archive", "src", "game2"}, 2, "--watch builds loose files for the development mode"},
        {{"bundle", "src"}, 2, "Usage: quillfen-pack bundle [--tar] SOURCE OUT"},
        {{"bundle", "src", "src"}, 1, "ERROR: Folder 'src' is neither empty nor a bundle: choose another.\n"},
        {{"compile", "--zip", "src", "game2"}, 2, "unknown option '--zip'"},
        {{"compile", "src", "src"}, 1, "ERROR: The output folder must not be the source folder 'src'.\n"},
        {{"compile", "nothing", "game2"}, 1, "ERROR: Source folder 'nothing' could not be opened.\n"},
        {{"unpack", "game"}, 2, "Usage: quillfen-pack unpack [--codename NAME] GAME SOURCE"},
        {{"unpack", "game", "src"}, 1, "ERROR: Source folder 'src' is not empty"},
        {{"unpack", "nothing", "out"}, 1, "ERROR: Game 'nothing' could not be opened.\n"},
        {{"unpack", "cut", "out"}, 1, "is damaged: it ends before the count of saved globals"},
    };
    for (const auto &[args, exitCode, message] : cases) {
        const ProcessResult r = runPackTool(args, dir.path());
        std::string command = "quillfen-pack";
        for (const std::string &word : args) command += " " + word;
        EXPECT_EQ(exitCode, r.exitCode) << command << ": " << r.err;
        EXPECT_NE(std::string::npos, (r.out + r.err).find(message))
            << command << ": expected \"" << message << "\", got: " << r.out << r.err;
    }
    EXPECT_EQ(big, readFile(dir.file("copy/sub/b")));
    EXPECT_EQ(big, readFile(dir.file("one/sub/b")));
    for (const char *absent : {"x.qfa", "../escaped", "game2", "out", "one/a", "game/e.qfa"})
        EXPECT_FALSE(std::filesystem::exists(dir.file(absent))) << absent << " was written";
}

}  // namespace
