// The check every XML text goes through before pugixml parses it: what
// pugixml accepts but XML does not.
#ifndef ZVAPI_SRC_XML_TEXT_HPP
#define ZVAPI_SRC_XML_TEXT_HPP

#include <string_view>

namespace zv {

// Elements may nest this deep and no deeper.
constexpr int kMaxDepth = 256;

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
bool XmlTextWellFormed(std::string_view text, bool* deepCheck);

// The same answer, reached byte by byte without the quick route that
// XmlTextWellFormed takes through plain markup. For tests of the two.
bool XmlTextWellFormedBytewise(std::string_view text, bool* deepCheck);

}  // namespace zv

#endif
