// The page-script parser on arbitrary text: never a crash; a refusal names
// its line in a short message of printable characters; an accepted script
// holds only known actions, in order, whose texts are UTF-8 (they reach the
// page and the JSON events as they are).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "page_script.hpp"
#include "text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<zvhost::ScriptLine> lines;
    std::string error;
    if (!zvhost::ParseScript(in, &lines, &error)) {
        if (error.rfind("line ", 0) != 0 || error.size() > 400) std::abort();
        for (char c : error)
            if (c < 0x20 || c >= 0x7F) std::abort();
        return 0;
    }
    static const std::set<std::string> kVerbs = {"type",  "blur",   "click",    "select",     "slide",
                                                 "apply", "reload", "activate", "deactivate", "show",
                                                 "play",  "out",    "picture"};
    int last = 0;
    for (const zvhost::ScriptLine& line : lines) {
        if (line.number <= last || kVerbs.count(line.verb) == 0) std::abort();
        last = line.number;
        if (zvhost::FirstNonUtf8(line.control) != std::string::npos ||
            zvhost::FirstNonUtf8(line.argument) != std::string::npos)
            std::abort();
        const bool needsArgument = line.verb == "select" || line.verb == "slide" || line.verb == "play" ||
                                   line.verb == "out" || line.verb == "picture";
        if (needsArgument && !line.hasArgument) std::abort();
        if (!line.hasArgument && !line.argument.empty()) std::abort();
    }
    return 0;
}
