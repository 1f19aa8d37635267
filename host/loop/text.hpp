// Small text helpers the host's commands share.
#ifndef ZVHOST_TEXT_HPP
#define ZVHOST_TEXT_HPP

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

namespace zvhost {

// `text` in ASCII lower case: page names and labels match without regard
// to case.
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

// The length of the UTF-8 sequence at `s[i]`, or 0 when it is not one (a
// stray byte, an overlong form, a surrogate, a cut sequence).
inline size_t Utf8SequenceLength(const std::string& s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    auto continuation = [&](size_t k, unsigned char low, unsigned char high) {
        if (i + k >= s.size()) return false;
        const auto d = static_cast<unsigned char>(s[i + k]);
        return d >= low && d <= high;
    };
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return continuation(1, 0x80, 0xBF) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned char low = c == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        const unsigned char high = c == 0xED ? 0x9F : 0xBF;  // no surrogates
        return continuation(1, low, high) && continuation(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned char low = c == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = c == 0xF4 ? 0x8F : 0xBF;
        return continuation(1, low, high) && continuation(2, 0x80, 0xBF) && continuation(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

// The position of the first byte of `text` that is not UTF-8 text, or npos.
inline size_t FirstNonUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return i;
        i += n;
    }
    return std::string::npos;
}

// `text` as a message may quote it: printable ASCII as it is, any other
// byte as \xHH, cut with "..." so that the quote is at most `limit`
// characters before the dots, whatever the bytes.
inline std::string Shown(const std::string& text, size_t limit = 64) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool printable = c >= 0x20 && c < 0x7F;
        if (out.size() + (printable ? 1 : 4) > limit) return out + "...";
        if (printable) {
            out.push_back(static_cast<char>(c));
        } else {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

}  // namespace zvhost

#endif
