// Scripts of user actions for `zvhost page`, one action a line:
//
//   type CONTROL TEXT      replace an edit's text as typed (one change per key)
//   blur CONTROL           the control loses the keyboard focus
//   click CONTROL          a button, check box or radio button
//   select CONTROL ITEM    an item of a list, by index or by its text
//   slide CONTROL POS      move a slider there and let go
//   apply | reload | activate | deactivate
//   show                   every control's state
//   play SECONDS           the client's current mode runs on the station
//   out DIR                pictures of the current mode's displays
//   picture FILE           a PNG picture of the page as it looks now
//
// CONTROL is an identifier or a label (the control's own text, or the text
// before it; quote it when it has blanks: "Output Interval"). TEXT is the
// rest of the line, or a quoted text ("" for none, " -150" to keep blanks;
// \" and \\ inside quotes). Empty lines and lines starting with # are
// skipped.
#ifndef ZVHOST_PAGE_SCRIPT_HPP
#define ZVHOST_PAGE_SCRIPT_HPP

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "host_loop.hpp"

namespace zvhost {

struct ScriptLine {
    int number = 0;
    std::string verb;
    std::string control;   // as written
    std::string argument;  // TEXT, ITEM, POS, SECONDS, DIR or FILE
    bool hasArgument = false;
};

// Parses a script: false with `*error` naming the line for an unknown
// action, a missing or extra argument, an unterminated quote, or a line or
// script too long (1 MiB, 100,000 lines).
bool ParseScript(std::istream& in, std::vector<ScriptLine>* lines, std::string* error);

// Runs the lines on the loop's open page. False with `*error` naming the
// line when a line names no control of the page or an item the list lacks,
// or a number is malformed; what ran before stays done.
bool RunScript(HostLoop& loop, const std::vector<ScriptLine>& lines, std::string* error);

}  // namespace zvhost

#endif
