// Configuration parsing: one table of file lines and what the getters then answer.
#include <gtest/gtest.h>

#include "core/config.h"
#include "test_support.h"

namespace {

struct ConfigCase
{
    const char *file;     // whole file text
    const char *key;      // full key looked up
    const char *expected; // getConfigString with default "<default>"
};

TEST(Config, LinesAndValues)
{
    const ConfigCase cases[] = {
        {"[display]\nframerate=30\n", "display:framerate", "30"},
        {"[display]\nframerate = 30 ;; // comment\n", "display:framerate", "30"},
        {"[display]\ncaption = \"My Game\"\n", "display:caption", "My Game"},
        {"[display]\ncaption = \"\"\n", "display:caption", ""},
        {"[display]\ncaption =\n", "display:caption", ""},
        {"[a]\nname = a // b\n", "a:name", "a"},
        {"key = before any section\n", ":key", "before any section"},
        {"[display]\n[]\nframerate=5\n", "display:framerate", "5"},  // [] is too short to be a header
        {"[display]\n=5\n", "display:", "<default>"},                  // line starting with '=' skipped
        {"[x]\nk=1\nk=2\n", "x:k", "2"},                               // later value wins
        {"[x]\r\nk = v\r\n", "x:k", "v"},                              // CR LF line ends
        {"[ spaced ]\nk=v", "[ spaced ]:k", "<default>"},
        {"[ spaced ]\nk=v", " spaced :k", "v"},                        // blanks inside brackets stay
        {"[x]\nk = say \"hi\" there\"\n", "x:k", "say \"hi\" there"},  // inner quotes stay
        {"[x]\n  k  \t= \t v;;;\n", "x:k", "v"},
        {"[x]\nnoequals\nk=1\n", "x:k", "1"},
        {"[Display]\nCaption=Big\n", "display:caption", "<default>"},  // case matters
        {"[x]\nk=a;b\n", "x:k", "a;b"},                                // only trailing ';' go
        {"[x]\n;;;\nk=1", "x:k", "1"},
    };
    TempDir dir;
    for (const ConfigCase &c : cases) {
        clearConfig();
        writeFile(dir.file("q.ini"), c.file);
        ASSERT_TRUE(loadConfig(dir.file("q.ini")));
        EXPECT_EQ(c.expected, getConfigString(c.key, "<default>")) << "file: " << c.file;
    }
    clearConfig();
}

TEST(Config, TypedGetters)
{
    TempDir dir;
    writeFile(dir.file("q.ini"),
              "[audio]\nt1 = true\nt2 = TRUE\nt3 = 1\nf1 = True\nf2 = yes\nf3 = FALSE\nf4 = 0\nn = 7\n"
              "[display]\nframerate = 65596\nneg = -12abc\nword = abc\nblank = \n");
    clearConfig();
    ASSERT_TRUE(loadConfig(dir.file("q.ini")));
    for (const char *key : {"audio:t1", "audio:t2", "audio:t3", "audio:n"}) EXPECT_TRUE(getConfigBool(key, false)) << key;
    for (const char *key : {"audio:f1", "audio:f2", "audio:f3", "audio:f4"}) EXPECT_FALSE(getConfigBool(key, true)) << key;
    EXPECT_TRUE(getConfigBool("audio:absent", true));
    EXPECT_EQ(65596, getConfigInt("display:framerate", 60));
    EXPECT_EQ(-12, getConfigInt("display:neg", 0));
    EXPECT_EQ(0, getConfigInt("display:word", 5));
    EXPECT_EQ(0, getConfigInt("display:blank", 5));
    EXPECT_EQ(42, getConfigInt("display:absent", 42));
    clearConfig();
}

TEST(Config, MissingFileKeepsDefaults)
{
    clearConfig();
    EXPECT_FALSE(loadConfig("/nonexistent/Quillfen.ini"));
    EXPECT_EQ("Quillfen Engine 3.0 by Pellory", getConfigString("display:caption", "Quillfen Engine 3.0 by Pellory"));
    EXPECT_EQ(16, getConfigInt("display:bitsPerPixel", 16));
    EXPECT_TRUE(getConfigBool("audio:enabled", true));
}

}  // namespace
