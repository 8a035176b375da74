// Configuration: one table of files, a key, and what the three getters then answer.
#include <gtest/gtest.h>

#include "core/config.h"
#include "test_support.h"

namespace {

// Catches parser rules (sections, comments, quotes, blanks, CR LF, repeats) and getter rules.
TEST(Config, ParserRulesAndTheThreeGetters)
{
    // String default "<default>", int default 42; bool: 't'/'f' whatever the default, 'd' the default.
    const struct { const char *file, *key, *text; int number; char flag; } cases[] = {
        {"[display]\nframerate = 30 ;; // comment\n", "display:framerate", "30", 30, 't'},
        {"[display]\ncaption = \"My Game\"\n", "display:caption", "My Game", 0, 'f'},
        {"[display]\ncaption = \"\"\n", "display:caption", "", 0, 'f'},
        {"[display]\ncaption =\n", "display:caption", "", 0, 'f'},
        {"key = before any section\n", ":key", "before any section", 0, 'f'},
        {"[display]\n[]\nframerate=5\n", "display:framerate", "5", 5, 't'},  // [] is too short to be a header
        {"[display]\n=5\n", "display:", "<default>", 42, 'd'},              // a line starting with '=' is skipped
        {"[x]\nk=1\nk=2\n", "x:k", "2", 2, 't'},                             // the later value wins
        {"[x]\r\nk = TRUE\r\n", "x:k", "TRUE", 0, 't'},
        {"[ spaced ]\nk=v", "[ spaced ]:k", "<default>", 42, 'd'},
        {"[ spaced ]\nk=true", " spaced :k", "true", 0, 't'},              // blanks inside brackets stay
        {"[x]\nk = say \"hi\" there\"\n", "x:k", "say \"hi\" there", 0, 'f'},  // inner quotes stay
        {"[x]\n  k  \t= \t v;;;\n", "x:k", "v", 0, 'f'},
        {"[x]\nnoequals\n;;;\nk=1", "x:k", "1", 1, 't'},
        {"[Display]\nCaption=Big\n", "display:caption", "<default>", 42, 'd'},  // case matters
        {"[x]\nk=a;b\n", "x:k", "a;b", 0, 'f'},                                // only trailing ';' go
        {"[x]\nk = True\n", "x:k", "True", 0, 'f'},
        {"[x]\nk = -12abc\n", "x:k", "-12abc", -12, 't'},
        {nullptr, "audio:enabled", "<default>", 42, 'd'},  // no file: every default
    };
    TempDir dir;
    for (const auto &c : cases) {
        const std::string name = c.file ? c.file : "(missing file)";
        clearConfig();
        if (c.file) writeFile(dir.file("q.ini"), c.file);
        EXPECT_EQ(c.file != nullptr, loadConfig(dir.file(c.file ? "q.ini" : "absent.ini"))) << name;
        EXPECT_EQ(c.text, getConfigString(c.key, "<default>")) << name;
        EXPECT_EQ(c.number, getConfigInt(c.key, 42)) << name;
        const std::string flag = {getConfigBool(c.key, false) ? 't' : 'f', getConfigBool(c.key, true) ? 't' : 'f'};
        EXPECT_EQ(c.flag == 'd' ? "ft" : std::string(2, c.flag), flag) << name << " (getConfigBool with false, true)";
    }
    clearConfig();
}

}  // namespace
