// Command lines: splitting a Windows command line into its words, and
// quoting a word for a Windows command line or for the POSIX shell.
#ifndef WINSVC_COMMAND_LINE_HPP
#define WINSVC_COMMAND_LINE_HPP

#include <string>
#include <string_view>
#include <vector>

namespace winsvc {

// The words of a Windows command line, as a program's start-up code splits
// it: the program name ends at the closing quote or the first blank, with
// no escapes; in later words double quotes group blanks, 2n backslashes
// before a quote give n backslashes, 2n+1 give n and a literal quote, and
// other backslashes stand for themselves.
std::vector<std::string> SplitWindowsCommandLine(std::string_view commandLine);

// `word` as a later word of a Windows command line that splits back into
// exactly `word`: unchanged unless it is empty or holds blanks or quotes.
std::string QuoteWindowsArgument(std::string_view word);

// `word` as one word for /bin/sh: unchanged when it holds only letters,
// digits and "_@%+=:,./-", otherwise in single quotes (a quote inside as
// '\''), so that no character acts as shell syntax.
std::string QuoteShellWord(std::string_view word);

}  // namespace winsvc

#endif
