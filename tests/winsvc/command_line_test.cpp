#include "winsvc/command_line.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

TEST(SplitWindowsCommandLine, FollowsTheStartUpRules) {
    struct Case {
        const char* line;
        Words words;
    };
    const Case cases[] = {
        {"", {}},
        {"   ", {}},
        {"ewfmgr C: -commit", {"ewfmgr", "C:", "-commit"}},
        {"\"C:\\Program Files\\zvX64Launcher.exe\" ewfmgr C: -commit",
         {"C:\\Program Files\\zvX64Launcher.exe", "ewfmgr", "C:", "-commit"}},
        // The program name takes backslashes literally, even before a quote.
        {"C:\\a\\\"b c", {"C:\\a\\\"b", "c"}},
        {"p \"a b\" c", {"p", "a b", "c"}},
        {"p a\\\\b", {"p", "a\\\\b"}},
        {"p a\\\"b", {"p", "a\"b"}},
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},
        {"p \"\"", {"p", ""}},
        {"p \"unterminated arg", {"p", "unterminated arg"}},
        {"\tp\t x ", {"p", "x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(winsvc::SplitWindowsCommandLine(c.line), c.words);
    }
}

TEST(QuoteWindowsArgument, SplitsBackIntoTheSameWord) {
    const char* words[] = {"C:",   "",          "a b",   "a\"b", "trailing\\", "with space\\", "\\\\server\\share",
                           "\\\"", "tab\there", "q\"\"q"};
    for (const char* word : words) {
        SCOPED_TRACE(word);
        std::string line = "program " + winsvc::QuoteWindowsArgument(word) + " next";
        EXPECT_EQ(winsvc::SplitWindowsCommandLine(line), (Words{"program", word, "next"}));
    }
    EXPECT_EQ(winsvc::QuoteWindowsArgument("C:"), "C:");
}

// What /bin/sh makes of a quoted word: printed back by printf.
std::string ThroughShell(const std::string& quoted) {
    std::string command = "printf '%s|' " + quoted;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return "(no shell)";
    std::string out;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

TEST(QuoteShellWord, NoCharacterActsAsSyntax) {
    const char* words[] = {"C:",    "\\Station\\file.txt",
                           "a b",   "x;touch /tmp/never",
                           "$(id)", "`id`",
                           "it's",  "''",
                           "\"",    "*",
                           "~root", "a\nb",
                           "-n",    "%s",
                           "&&",    "|",
                           "$HOME"};
    for (const char* word : words) {
        SCOPED_TRACE(word);
        EXPECT_EQ(ThroughShell(winsvc::QuoteShellWord(word)), std::string(word) + "|");
    }
    EXPECT_EQ(winsvc::QuoteShellWord("C:"), "C:");
    EXPECT_EQ(winsvc::QuoteShellWord("/x/y.z"), "/x/y.z");
    EXPECT_EQ(winsvc::QuoteShellWord(""), "''");
}

}  // namespace
