#include "page_script.hpp"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <system_error>

#include "events.hpp"
#include "output_files.hpp"
#include "page_picture.hpp"
#include "text.hpp"

namespace zvhost {

namespace {

constexpr size_t kMaxLine = 1 << 20;
constexpr int kMaxLines = 100000;

// The verbs and what follows them.
enum class Shape { Nothing, Control, ControlAndArgument, Argument };

bool ShapeOf(const std::string& verb, Shape* shape) {
    if (verb == "type" || verb == "select" || verb == "slide") {
        *shape = Shape::ControlAndArgument;
    } else if (verb == "blur" || verb == "click") {
        *shape = Shape::Control;
    } else if (verb == "apply" || verb == "reload" || verb == "activate" || verb == "deactivate" || verb == "show") {
        *shape = Shape::Nothing;
    } else if (verb == "play" || verb == "out" || verb == "picture") {
        *shape = Shape::Argument;
    } else {
        return false;
    }
    return true;
}

// A word, or a quoted text, from `text` at `*at`; false for an unterminated
// quote.
bool NextToken(const std::string& text, size_t* at, std::string* token, bool* quoted) {
    token->clear();
    *quoted = false;
    size_t i = *at;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && text[i] == '"') {
        *quoted = true;
        for (++i; i < text.size(); ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                token->push_back(text[++i]);
            } else if (text[i] == '"') {
                *at = i + 1;
                return true;
            } else {
                token->push_back(text[i]);
            }
        }
        return false;
    }
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') token->push_back(text[i++]);
    *at = i;
    return true;
}

std::string Where(int number) { return "line " + std::to_string(number) + ": "; }

bool ParseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(*value);
}

// The open page's picture into `path`, making its folder.
bool WritePicture(HostLoop& loop, const std::string& path, std::string* error) {
    wf::DialogState state;
    if (!loop.PageState(&state)) {
        *error = "no page is open to draw";
        return false;
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) {
        *error = "cannot create " + folder.string() + ": " + ec.message();
        return false;
    }
    return WritePagePicture(state, path, error);
}

// The next line without its newline; false at the end. A line longer than
// `limit` is cut after limit + 1 characters, so that a stream without
// newlines is never held whole; the caller refuses it.
bool ReadBoundedLine(std::istream& in, size_t limit, std::string* line) {
    line->clear();
    std::streambuf* buffer = in.rdbuf();
    constexpr int kEnd = std::char_traits<char>::eof();
    if (buffer == nullptr || buffer->sgetc() == kEnd) return false;
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == kEnd || c == '\n' || line->size() > limit) return true;
        line->push_back(static_cast<char>(c));
    }
}

}  // namespace

// Long: one pass over the lines, with the shape of each verb's arguments
// read in place, so that every refusal names its line.
bool ParseScript(std::istream& in, std::vector<ScriptLine>* lines, std::string* error) {
    lines->clear();
    std::string text;
    int number = 0;
    while (ReadBoundedLine(in, kMaxLine, &text)) {
        ++number;
        if (number > kMaxLines) {
            *error = Where(number) + "a script has at most " + std::to_string(kMaxLines) + " lines";
            return false;
        }
        if (text.size() > kMaxLine) {
            *error = Where(number) + "the line is longer than 1 MiB";
            return false;
        }
        if (!text.empty() && text.back() == '\r') text.pop_back();
        size_t at = 0;
        std::string verb;
        bool quoted = false;
        NextToken(text, &at, &verb, &quoted);
        if (verb.empty() || verb[0] == '#') continue;
        // What a line holds reaches the page and the events as text.
        if (const size_t bad = FirstNonUtf8(text); bad != std::string::npos) {
            *error = Where(number) + "byte " + std::to_string(bad + 1) + " is not UTF-8 text";
            return false;
        }
        Shape shape;
        if (quoted || !ShapeOf(verb, &shape)) {
            *error = Where(number) + "no such action \"" + Shown(verb) +
                     "\" (the actions: type, blur, click, select, slide, apply, reload, activate, deactivate, show, "
                     "play, out, picture)";
            return false;
        }
        ScriptLine line;
        line.number = number;
        line.verb = verb;
        if (shape == Shape::Control || shape == Shape::ControlAndArgument) {
            if (!NextToken(text, &at, &line.control, &quoted)) {
                *error = Where(number) + "a quote is not closed";
                return false;
            }
            if (line.control.empty() && !quoted) {
                *error = Where(number) + verb + " needs a control (an identifier or a label)";
                return false;
            }
        }
        if (shape == Shape::ControlAndArgument || shape == Shape::Argument) {
            // The argument is the rest of the line, or one quoted text.
            if (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
            size_t probe = at;
            while (probe < text.size() && (text[probe] == ' ' || text[probe] == '\t')) ++probe;
            if (probe < text.size() && text[probe] == '"') {
                if (!NextToken(text, &probe, &line.argument, &quoted)) {
                    *error = Where(number) + "a quote is not closed";
                    return false;
                }
                at = probe;
                line.hasArgument = true;
            } else {
                line.argument = text.substr(at);
                line.hasArgument = !line.argument.empty();
                at = text.size();
            }
            if (!line.hasArgument && verb != "type") {
                *error = Where(number) + verb + " needs " +
                         (verb == "select"    ? "an item"
                          : verb == "slide"   ? "a position"
                          : verb == "play"    ? "seconds"
                          : verb == "picture" ? "a file"
                                              : "a folder");
                return false;
            }
        }
        std::string extra;
        NextToken(text, &at, &extra, &quoted);
        if (!extra.empty() || quoted) {
            *error = Where(number) + "unexpected \"" + Shown(extra) + "\" after " + verb;
            return false;
        }
        lines->push_back(std::move(line));
    }
    return true;
}

// Long: one branch per verb, in the order the README lists them.
bool RunScript(HostLoop& loop, const std::vector<ScriptLine>& lines, std::string* error) {
    for (const ScriptLine& line : lines) {
        PageAction action;
        if (line.verb == "show") {
            loop.Emit(events::State(loop.PageStateJson(), loop.PageModified(), loop.PipesJson()));
            continue;
        }
        if (line.verb == "play") {
            double seconds = 0;
            if (!ParseNumber(line.argument, &seconds) || seconds < 0 || seconds > 86400) {
                *error =
                    Where(line.number) + "play needs seconds from 0 to 86400, not \"" + Shown(line.argument) + "\"";
                return false;
            }
            loop.Play(seconds);
            continue;
        }
        if (line.verb == "out") {
            std::vector<WrittenFile> written;
            const bool ok = WriteDisplays(loop, line.argument, &written, error);
            for (const WrittenFile& f : written) loop.Emit(events::Written(f.path, f.mode, f.display));
            if (!ok) {
                *error = Where(line.number) + *error;
                return false;
            }
            continue;
        }
        if (line.verb == "picture") {
            if (!WritePicture(loop, line.argument, error)) {
                *error = Where(line.number) + *error;
                return false;
            }
            loop.Emit(events::Written(line.argument));
            continue;
        }
        static const std::pair<const char*, PageAction::Kind> kKinds[] = {{"type", PageAction::Kind::Type},
                                                                          {"blur", PageAction::Kind::Blur},
                                                                          {"click", PageAction::Kind::Click},
                                                                          {"select", PageAction::Kind::Select},
                                                                          {"slide", PageAction::Kind::Slide},
                                                                          {"apply", PageAction::Kind::Apply},
                                                                          {"reload", PageAction::Kind::Reload},
                                                                          {"activate", PageAction::Kind::Activate},
                                                                          {"deactivate", PageAction::Kind::Deactivate}};
        for (const auto& [verb, kind] : kKinds)
            if (line.verb == verb) action.kind = kind;
        if (!line.control.empty() || line.verb == "type" || line.verb == "blur" || line.verb == "click" ||
            line.verb == "select" || line.verb == "slide") {
            action.control = loop.FindControl(line.control);
            if (action.control < 0) {
                *error = Where(line.number) + "page " + std::to_string(loop.OpenPageId()) + " has no control \"" +
                         Shown(line.control) + "\" (or the label names several)";
                return false;
            }
        }
        action.text = line.argument;
        if (line.verb == "select") {
            double index = 0;
            if (ParseNumber(line.argument, &index) && index == std::floor(index) && index >= 0 && index < 1e9) {
                action.index = static_cast<int32_t>(index);
            } else {
                action.index = -1;  // by the item's text
            }
        }
        if (line.verb == "slide") {
            double position = 0;
            if (!ParseNumber(line.argument, &position) || position != std::floor(position) ||
                std::fabs(position) > 1e9) {
                *error = Where(line.number) + "slide needs a whole position, not \"" + Shown(line.argument) + "\"";
                return false;
            }
            action.index = static_cast<int32_t>(position);
        }
        std::string refused;
        wf::driver::Result outcome = wf::driver::Result::Done;
        if (!loop.Act(action, &refused, &outcome)) {
            // A list without the item is the script's fault; a control the
            // user could not reach (disabled, hidden) is the page's state.
            if (outcome == wf::driver::Result::NoWindow || outcome == wf::driver::Result::NoSuchItem) {
                *error = Where(line.number) + refused;
                return false;
            }
            loop.Emit(events::Refused(line.number, refused));
        }
    }
    return true;
}

}  // namespace zvhost
