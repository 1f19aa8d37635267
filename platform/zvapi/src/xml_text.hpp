// The check every XML text goes through before pugixml parses it: what
// pugixml accepts but XML does not.
#ifndef ZVAPI_SRC_XML_TEXT_HPP
#define ZVAPI_SRC_XML_TEXT_HPP

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zv {

// Elements may nest this deep and no deeper.
constexpr int kMaxDepth = 256;
// What one document may hold: elements (comments, CDATA sections and
// processing instructions counted with them), and attributes per element.
constexpr int64_t kMaxElements = 1000000;
constexpr int kMaxAttributes = 256;

// Where and why a text was refused.
struct TextFault {
    size_t at = 0;          // byte offset
    const char* what = "";  // what is wrong there
};

inline bool ControlCharacter(char c) {
    return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// False when `text` holds what XML refuses and pugixml would let through:
// references other than the predefined and character ones (pugixml keeps
// them as literal text, and decodes "&#0;" into a terminator that cuts the
// text short), '<' inside attribute values or tags, control characters.
// `text` must be followed by a zero byte; one inside it is a control
// character.
//
// When true, `*deepCheck` tells whether the parsed tree still needs the
// walk below its root: it is false only when no tag but the declaration
// carries two attribute values, start and end tags never nest kMaxDepth
// deep and there is no document type. Tags are found here as pugixml finds
// elements, so none of those can hide from the check.
bool XmlTextWellFormed(std::string_view text, bool* deepCheck, TextFault* fault = nullptr);

// The same answer, reached byte by byte without the quick route that
// XmlTextWellFormed takes through plain markup. For tests of the two.
bool XmlTextWellFormedBytewise(std::string_view text, bool* deepCheck, TextFault* fault = nullptr);

// Whether `text` is UTF-8 of characters XML allows (no overlong forms, no
// surrogates, nothing above U+10FFFF, not U+FFFE or U+FFFF). When false,
// `*at` is the offset of the first byte that is not.
bool ValidXmlUtf8(std::string_view text, size_t* at);

}  // namespace zv

#endif
