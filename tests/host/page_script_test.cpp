// Parsing `zvhost page` scripts: the texts as written, and refusals that name
// the line.
#include "page_script.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

struct Parsed {
    bool ok = false;
    std::vector<zvhost::ScriptLine> lines;
    std::string error;
};

Parsed Parse(const std::string& text) {
    std::istringstream in(text);
    Parsed p;
    p.ok = zvhost::ParseScript(in, &p.lines, &p.error);
    return p;
}

TEST(PageScript, LinesKeepTheirControlsAndTextsAsWritten) {
    const Parsed p = Parse("# a comment\n\ntype \"Output Interval\" \" -150\"\r\nselect 1021 2\nclick 1013\nplay 1.5");
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.lines.size(), 4u);
    EXPECT_EQ(p.lines[0].number, 3);
    EXPECT_EQ(p.lines[0].verb, "type");
    EXPECT_EQ(p.lines[0].control, "Output Interval");
    EXPECT_EQ(p.lines[0].argument, " -150");
    EXPECT_EQ(p.lines[1].control, "1021");
    EXPECT_EQ(p.lines[1].argument, "2");
    EXPECT_FALSE(p.lines[2].hasArgument);
    EXPECT_EQ(p.lines[3].argument, "1.5");
}

// A stream without newlines is refused at its first MiB, not read whole.
TEST(PageScript, LongLinesAndBadLinesAreRefusedByNumber) {
    for (const auto& [text, message] :
         {std::pair{std::string(3 << 20, 'x'), "line 1: the line is longer than 1 MiB"},
          std::pair{"click 1\n" + std::string((1 << 20) + 1, ' ') + "\n", "line 2: the line is longer than 1 MiB"},
          std::pair{std::string("wiggle 1013\n"), "line 1: no such action \"wiggle\""},
          std::pair{std::string("show\ntype \"Sensors: 4\n"), "line 2: a quote is not closed"},
          std::pair{std::string("select 1021\n"), "line 1: select needs an item"},
          // What a line holds reaches the page and the JSON events as text.
          std::pair{std::string("# caf\xE9\nshow\ntype 1025 \"\xFF\"\n"), "line 3: byte 12 is not UTF-8 text"},
          std::pair{std::string("select 1021 \xC3\n"), "line 1: byte 13 is not UTF-8 text"},
          std::pair{std::string("apply now\n"), "line 1: unexpected \"now\" after apply"}}) {
        SCOPED_TRACE(message);
        const Parsed p = Parse(text);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error.rfind(message, 0), 0u) << p.error;
    }
    EXPECT_TRUE(Parse("type 1025 \"caf\xC3\xA9\"\n").ok);
    // Messages quote a line's words shortly, 64 characters at most with a
    // byte shown as \xHH counting four, and no raw byte.
    const Parsed p = Parse(std::string("\x01wiggle") + std::string(5000, 'e') + "\n");
    EXPECT_EQ(p.error.rfind("line 1: no such action \"\\x01wiggle" + std::string(54, 'e') + "...\" (", 0), 0u)
        << p.error;
}

}  // namespace
