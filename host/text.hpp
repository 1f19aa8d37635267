// Small text helpers the host's commands share.
#ifndef ZVHOST_TEXT_HPP
#define ZVHOST_TEXT_HPP

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

namespace zvhost {

// `text` in ASCII lower case: node paths, page names and labels match
// without regard to case.
inline std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// An identifier written as digits only (at most nine, so that it fits);
// false for anything else, which then names by text.
inline bool IdentifierText(const std::string& text, int32_t* id) {
    if (text.empty() || text.size() > 9) return false;
    if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) return false;
    *id = std::stoi(text);
    return true;
}

// What a message may show of input it did not make: printable ASCII, other
// bytes as "?", at most `limit` of them and "..." when cut.
inline std::string Excerpt(const std::string& text, size_t limit = 60) {
    std::string out;
    for (const char c : text) {
        if (out.size() >= limit) return out + "...";
        const auto u = static_cast<unsigned char>(c);
        out += u >= 0x20 && u < 0x7F ? c : '?';
    }
    return out;
}

}  // namespace zvhost

#endif
