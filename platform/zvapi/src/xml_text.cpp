// The lexical check of XML text. Byte by byte it follows text, tags,
// attribute values, references, comments, CDATA sections, processing
// instructions and the document type. Most documents the station keeps
// are plain markup after their declaration (elements holding text, no
// attributes, references or comments), and those take a quick route that
// looks at sixty-four bytes at a time and counts their tags mostly without
// stopping at each.
#include "xml_text.hpp"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "zvapi/zvapi_testing.hpp"

namespace zv {

namespace {

bool AllowedCode(uint32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// The reference starting at text[i] ('&'): a predefined entity or a
// reference to a character XML allows. Sets `next` past the ';'.
bool ReferenceAt(std::string_view text, size_t i, size_t* next) {
    const size_t semicolon = text.find(';', i);
    if (semicolon == std::string_view::npos || semicolon - i > 12) return false;
    const std::string_view ref = text.substr(i + 1, semicolon - i - 1);
    *next = semicolon + 1;
    if (ref == "amp" || ref == "lt" || ref == "gt" || ref == "quot" || ref == "apos") return true;
    if (ref.size() < 2 || ref[0] != '#') return false;
    const bool hex = ref[1] == 'x';
    const std::string_view digits = ref.substr(hex ? 2 : 1);
    uint32_t code = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    return !digits.empty() && ec == std::errc() && end == digits.data() + digits.size() && AllowedCode(code);
}

// True when the processing instruction whose target starts at `at` is the
// XML declaration: the target "xml" in any case, not followed by a name
// character (so "<?xml-stylesheet" is an ordinary instruction).
bool DeclarationAt(std::string_view text, size_t at) {
    if (at + 3 > text.size()) return false;
    if ((text[at] | 0x20) != 'x' || (text[at + 1] | 0x20) != 'm' || (text[at + 2] | 0x20) != 'l') return false;
    if (at + 3 == text.size()) return true;
    const auto c = static_cast<unsigned char>(text[at + 3]);
    const bool nameCharacter = c >= 0x80 || std::isalnum(c) != 0 || c == '_' || c == '-' || c == '.' || c == ':';
    return !nameCharacter;
}

// The bytes that end a run the byte-wise pass skips over, by where it is:
// in text, in a tag, in an attribute value. Control characters end all.
enum : uint8_t { kStopText = 1, kStopTag = 2, kStopValue = 4 };

constexpr std::array<uint8_t, 256> kStops = [] {
    std::array<uint8_t, 256> stops{};
    for (int c = 0; c < 0x20; ++c)
        if (c != '\t' && c != '\n' && c != '\r') stops[c] = kStopText | kStopTag | kStopValue;
    stops['&'] = kStopText | kStopValue;
    stops['<'] = kStopText | kStopTag | kStopValue;
    stops['>'] = kStopTag;
    stops['"'] = kStopTag | kStopValue;
    stops['\''] = kStopTag | kStopValue;
    return stops;
}();

// Where a pass has got to: the byte it looks at next, the nesting of start
// and end tags so far, and whether the tree will need the deep walk.
struct Progress {
    size_t at = 0;
    int64_t depth = 0;
    bool suspect = false;
    int64_t elements = 0;  // start tags, comments, CDATA sections, instructions
    TextFault fault;       // why the text was refused
};

// Runs of ordinary bytes are skipped by table, a byte at a time with no
// other test; comments, CDATA sections, processing instructions and the
// document type are skipped whole (pugixml itself checks their ends).
class BytewisePass {
public:
    BytewisePass(std::string_view text, Progress progress)
        : text_(text), bytes_(reinterpret_cast<const unsigned char*>(text.data())), p_(progress) {}

    const Progress& progress() const { return p_; }

    // From where it stands to the end.
    bool Run(bool* deepCheck) {
        for (;;) {
            Skip(kStopText);
            if (p_.at >= text_.size()) {
                *deepCheck = p_.suspect || p_.depth < 0;
                return true;
            }
            const char c = text_[p_.at];
            if (c == '&') {
                const size_t at = p_.at;
                if (!ReferenceAt(text_, p_.at, &p_.at)) return Refuse("a reference XML does not know", at);
                continue;
            }
            if (c != '<') return Refuse("a control character", p_.at);
            if (!Markup()) return false;
        }
    }

    // The markup that starts at the '<' it stands on; stops past its end.
    bool Markup() {
        size_t& i = p_.at;
        const size_t size = text_.size();
        const char next = i + 1 < size ? text_[i + 1] : '\0';
        // pugixml reads a declaration's attributes as it reads a tag's, and
        // ends it at '>' ("/>" included), not only at "?>": scan it as a tag.
        const bool declaration = next == '?' && DeclarationAt(text_, i + 2);
        if (next == '!' && text_.compare(i, 4, "<!--") == 0) {
            if (!Counted(i)) return false;
            i += 4;
            SkipPast("-->");
        } else if (next == '!' && text_.compare(i, 9, "<![CDATA[") == 0) {
            if (!Counted(i)) return false;
            i += 9;
            SkipPast("]]>");
        } else if (next == '?' && !declaration) {
            if (!Counted(i)) return false;
            i += 2;
            SkipPast("?>");
        } else if (next == '!') {
            // The document type, with its internal subset in brackets.
            p_.suspect = true;
            int brackets = 0;
            for (i += 2; i < size; ++i) {
                if (text_[i] == '[') ++brackets;
                if (text_[i] == ']') --brackets;
                if (text_[i] == '>' && brackets <= 0) break;
            }
            if (i < size) ++i;
        } else {
            // A tag: attribute values may hold references but no '<'.
            const size_t start = i;
            const bool endTag = next == '/';
            int values = 0;
            char quote = 0;
            for (++i; i < size; ++i) {
                Skip(quote != 0 ? kStopValue : kStopTag);
                if (i >= size) break;
                const char t = text_[i];
                if (ControlCharacter(t)) return Refuse("a control character", i);
                if (quote != 0) {
                    if (t == quote) {
                        quote = 0;
                    } else if (t == '<') {
                        return Refuse("a \"<\" inside an attribute value", i);
                    } else if (t == '&') {
                        const size_t at = i;
                        if (!ReferenceAt(text_, i, &i)) return Refuse("a reference XML does not know", at);
                        --i;
                    }
                } else if (t == '"' || t == '\'') {
                    quote = t;
                    // A declaration's attributes are checked on the tree
                    // without the deep walk.
                    if (++values > 1 && !declaration) p_.suspect = true;
                    if (values > kMaxAttributes)
                        return Refuse("more attributes on one element than a document may hold", start);
                } else if (t == '>') {
                    break;
                } else if (t == '<') {
                    return Refuse("a \"<\" inside a tag", i);
                }
            }
            if (declaration) {
                // no element: the depth stays
            } else if (endTag) {
                --p_.depth;
            } else {
                if (!Counted(start)) return false;
                if (i >= size || text_[i - 1] != '/') {
                    if (++p_.depth >= kMaxDepth) p_.suspect = true;
                }
            }
            if (i < size) ++i;
        }
        return true;
    }

    bool Refuse(const char* what, size_t at) {
        p_.fault = TextFault{at, what};
        return false;
    }

private:
    // One more element (or comment, section, instruction) starting at `at`.
    bool Counted(size_t at) {
        if (++p_.elements > kMaxElements) return Refuse("more elements than a document may hold", at);
        return true;
    }

    // The terminator after the text stops every run, so no bound is tested.
    void Skip(uint8_t stop) {
        size_t& i = p_.at;
        for (;; i += 4) {
            if ((kStops[bytes_[i]] & stop) != 0) return;
            if ((kStops[bytes_[i + 1]] & stop) != 0) return void(i += 1);
            if ((kStops[bytes_[i + 2]] & stop) != 0) return void(i += 2);
            if ((kStops[bytes_[i + 3]] & stop) != 0) return void(i += 3);
        }
    }
    void SkipPast(std::string_view end) {
        const size_t found = text_.find(end, p_.at);
        p_.at = found == std::string_view::npos ? text_.size() : found + end.size();
    }

    std::string_view text_;
    const unsigned char* bytes_;
    Progress p_;
};

#if defined(__x86_64__) && defined(__GNUC__)
#define ZV_QUICK_XML_TEXT 1

enum class Quick { kWellFormed, kRefused, kUndecided };

// The bytes of one step, by what the quick route looks for: bit i of each
// mask stands for byte i.
struct StepMasks {
    uint64_t unusual;  // bytes only the byte-wise pass reads
    uint64_t opens;    // '<'
    uint64_t closes;   // '>'
    uint64_t slashes;  // '/'
};

// Class bits: 1 and 2 control characters (by high half 0 and 1), 4 the 0x2_
// bytes '!', '"', '&', '\'', 8 '?', 16 '<', 32 '>', 64 '/'. A byte's class
// is its entry by low half and its entry by high half taken together.
__attribute__((target("avx2"), always_inline)) inline void Classify32(const char* bytes, uint32_t* unusual,
                                                                      uint32_t* opens, uint32_t* closes,
                                                                      uint32_t* slashes) {
    const __m256i byLow =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(3, 7, 7, 3, 3, 3, 7, 7, 3, 2, 2, 3, 0x13, 2, 0x23, 0x4B));
    const __m256i byHigh =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(1, 2, 0x44, 0x38, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    // Bytes from 0x80 have a high half the table gives class 0.
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
    const __m256i classes = _mm256_and_si256(_mm256_shuffle_epi8(byLow, v), _mm256_shuffle_epi8(byHigh, high));
    const auto with = [classes](char bits) __attribute__((target("avx2"))) {
        const __m256i none =
            _mm256_cmpeq_epi8(_mm256_and_si256(classes, _mm256_set1_epi8(bits)), _mm256_setzero_si256());
        return ~static_cast<uint32_t>(_mm256_movemask_epi8(none));
    };
    *unusual = with(0x0F);
    *opens = with(0x10);
    *closes = with(0x20);
    *slashes = with(0x40);
}

// The step of 64 bytes at `bytes`, of which `valid` are text.
__attribute__((target("avx2"))) StepMasks Classify(const char* bytes, size_t valid) {
    uint32_t unusual[2], opens[2], closes[2], slashes[2];
    if (valid >= 64) {
        Classify32(bytes, &unusual[0], &opens[0], &closes[0], &slashes[0]);
        Classify32(bytes + 32, &unusual[1], &opens[1], &closes[1], &slashes[1]);
    } else {
        alignas(32) char tail[64] = {};
        std::memcpy(tail, bytes, valid);
        Classify32(tail, &unusual[0], &opens[0], &closes[0], &slashes[0]);
        Classify32(tail + 32, &unusual[1], &opens[1], &closes[1], &slashes[1]);
    }
    const uint64_t inText = valid >= 64 ? ~uint64_t{0} : (uint64_t{1} << valid) - 1;
    const auto join = [inText](const uint32_t halves[2]) {
        return (uint64_t{halves[0]} | uint64_t{halves[1]} << 32) & inText;
    };
    return {join(unusual), join(opens), join(closes), join(slashes)};
}

// Bit i: whether an odd number of the bits up to i are set. A carry-less
// multiply by all ones sums each bit into every bit above it.
__attribute__((target("pclmul"), always_inline)) inline uint64_t PrefixParity(uint64_t x) {
    const __m128i product = _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<int64_t>(x)), _mm_set1_epi8(-1), 0);
    return static_cast<uint64_t>(_mm_cvtsi128_si64(product));
}

// What the tag from `start` ('<') to `end` (its '>', or the end of the
// text) does to the depth. In whole words, without branches: start and end
// tags come in no fixed order.
inline int64_t TagDepthChange(std::string_view text, size_t start, size_t end) {
    const int64_t endTag = text[start + 1] == '/' ? 1 : 0;
    const int64_t empty = end < text.size() && text[end - 1] == '/' ? 1 : 0;
    return (1 - endTag) * (1 - empty) - endTag;
}

// The quick route from where `p` stands, for text where only '<' and '>'
// are markup: no '&', quote, '!', '?' or control character. Every '<' then
// opens a tag and the next '>' closes it; a '>' outside a tag is text.
// Undecided, with nothing settled, at the first byte that needs the
// byte-wise pass. Sixty-four bytes a step. A step whose marks alternate
// strictly ("<", ">", "<", ...), with no empty-element tag and no chance
// of nesting kMaxDepth deep, is counted whole; any other goes mark by mark.
// Refused, with `p->fault` set, at a '<' inside a tag or at an element past
// kMaxElements.
__attribute__((target("avx2,bmi,popcnt,pclmul"))) Quick QuickRoute(std::string_view text, Progress* p,
                                                                   bool* deepCheck) {
    const size_t size = text.size();
    int64_t depth = p->depth;
    int64_t elements = p->elements;
    int64_t deepest = depth;  // as reached one mark at a time
    bool inside = false;      // in a tag where the step starts
    size_t tagStart = 0;      // that tag's '<'
    for (size_t block = p->at; block < size; block += 64) {
        if (elements > kMaxElements) {
            p->fault = TextFault{block, "more elements than a document may hold"};
            return Quick::kRefused;
        }
        const size_t valid = size - block;
        const StepMasks m = Classify(text.data() + block, valid);
        if (m.unusual != 0) return Quick::kUndecided;
        const uint64_t opens = m.opens;
        const uint64_t closes = m.closes;
        const uint64_t marks = opens | closes;
        // Bit i: in a tag after byte i, if the marks alternate.
        const uint64_t inTag = PrefixParity(marks) ^ (inside ? ~uint64_t{0} : 0);
        const bool before = block > 0 && text[block - 1] == '/';
        const uint64_t empties = closes & (m.slashes << 1 | static_cast<uint64_t>(before));
        const int openCount = __builtin_popcountll(opens);
        if (opens == (marks & inTag) && empties == 0 && depth + openCount + 1 < kMaxDepth) {
            // Counted whole: each tag closed in the step, the one open from
            // before included, is a start tag (+1) or an end tag (-1).
            const bool after = valid > 64 && text[block + 64] == '/';
            const uint64_t endTags = opens & (m.slashes >> 1 | static_cast<uint64_t>(after) << 63);
            uint64_t closed = opens;
            const bool endsInside = (inTag >> 63 & 1) != 0;
            if (inside && closes != 0) {
                const bool start = text[tagStart + 1] != '/';
                depth += start ? 1 : -1;
                elements += start ? 1 : 0;
            }
            if (endsInside && opens != 0) {
                const unsigned last = 63 - static_cast<unsigned>(__builtin_clzll(opens));
                closed &= ~(uint64_t{1} << last);
                tagStart = block + last;
            }
            const int ends = __builtin_popcountll(closed & endTags);
            depth += (__builtin_popcountll(closed) - ends) - ends;
            elements += __builtin_popcountll(closed) - ends;
            inside = endsInside;
            continue;
        }
        for (uint64_t left = marks; left != 0; left &= left - 1) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctzll(left));
            if ((opens >> bit & 1) != 0) {
                if (inside) {
                    p->fault = TextFault{block + bit, "a \"<\" inside a tag"};
                    return Quick::kRefused;
                }
                inside = true;
                tagStart = block + bit;
            } else if (inside) {
                inside = false;
                depth += TagDepthChange(text, tagStart, block + bit);
                elements += text[tagStart + 1] != '/' ? 1 : 0;
                deepest = deepest > depth ? deepest : depth;
            }
        }
    }
    if (inside) {
        depth += TagDepthChange(text, tagStart, size);  // a tag the text ends in; pugixml refuses it
        deepest = deepest > depth ? deepest : depth;
    }
    if (elements > kMaxElements) {
        p->fault = TextFault{size, "more elements than a document may hold"};
        return Quick::kRefused;
    }
    *deepCheck = p->suspect || deepest >= kMaxDepth || depth < 0;
    return Quick::kWellFormed;
}

bool QuickRouteAvailable() {
    static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                                  __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("pclmul");
    return available;
}

#endif

}  // namespace

bool XmlTextWellFormedBytewise(std::string_view text, bool* deepCheck, TextFault* fault) {
    *deepCheck = true;
    BytewisePass pass(text, Progress{});
    if (pass.Run(deepCheck)) return true;
    if (fault != nullptr) *fault = pass.progress().fault;
    return false;
}

bool XmlTextWellFormed(std::string_view text, bool* deepCheck, TextFault* fault) {
    *deepCheck = true;
#if defined(ZV_QUICK_XML_TEXT)
    if (QuickRouteAvailable()) {
        // The declaration is the one tag with quotes in most documents.
        BytewisePass declaration(text, Progress{});
        if (text.size() >= 2 && text[0] == '<' && text[1] == '?' && DeclarationAt(text, 2) && !declaration.Markup()) {
            if (fault != nullptr) *fault = declaration.progress().fault;
            return false;
        }
        Progress after = declaration.progress();
        const Progress start = after;
        switch (QuickRoute(text, &after, deepCheck)) {
            case Quick::kWellFormed: return true;
            case Quick::kRefused:
                if (fault != nullptr) *fault = after.fault;
                return false;
            case Quick::kUndecided: break;
        }
        *deepCheck = true;
        BytewisePass rest(text, start);
        if (rest.Run(deepCheck)) return true;
        if (fault != nullptr) *fault = rest.progress().fault;
        return false;
    }
#endif
    return XmlTextWellFormedBytewise(text, deepCheck, fault);
}

namespace {

// The code of the UTF-8 sequence of `length` bytes at `s` (its lead byte
// already known to start one of that length); -1 when it is not one.
int32_t Decode(const unsigned char* s, int length) {
    int32_t code = s[0] & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80) return -1;
        code = code << 6 | (s[i] & 0x3F);
    }
    return code;
}

}  // namespace

bool ValidXmlUtf8(std::string_view text, size_t* at) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        // Plain ASCII eight bytes at a time.
        if (i + 8 <= n) {
            uint64_t word;
            std::memcpy(&word, s + i, sizeof word);
            if ((word & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        static constexpr int32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        const int32_t code = length != 0 && lead < 0xF5 && i + length <= n ? Decode(s + i, length) : -1;
        const bool allowed = code >= kLeast[length > 0 ? length : 0] && code <= 0x10FFFF &&
                             !(code >= 0xD800 && code <= 0xDFFF) && code != 0xFFFE && code != 0xFFFF;
        if (length == 0 || !allowed) {
            *at = i;
            return false;
        }
        i += static_cast<size_t>(length);
    }
    return true;
}

}  // namespace zv

namespace zv::testing {

bool XmlTextCheck(const std::string& text, bool byteByByte, bool* deep) {
    bool unused = true;
    if (deep == nullptr) deep = &unused;
    return byteByByte ? XmlTextWellFormedBytewise(text, deep) : XmlTextWellFormed(text, deep);
}

}  // namespace zv::testing
