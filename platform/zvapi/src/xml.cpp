// XML documents over pugixml. An item is the address of a pugixml node;
// each document keeps the set of items it has handed out and checks every
// item it is given against it, so that a stale or foreign item is refused
// with ZV_E_HANDLE and never dereferenced.
#include <pugixml.hpp>

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <clocale>
#include <locale.h>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "files.hpp"
#include "xml_text.hpp"
#include "xml_view.hpp"
#include "zvapi/zv_xml.h"

namespace zv {

namespace {

constexpr int64_t kMaxText = int64_t{64} << 20;
// Parsed as a fragment so that text beside the root is kept, and then
// refused by TreeFault (pugixml would otherwise drop it silently).
constexpr unsigned kParseFlags =
    pugi::parse_default | pugi::parse_comments | pugi::parse_declaration | pugi::parse_fragment;
constexpr const char* kIndent = "  ";

// pugixml allocates through the platform so that the fault seams reach
// document parsing and editing too. Plain malloc/free underneath, so blocks
// from before this hook was set are freed correctly.
void* XmlAllocate(size_t size) { return AllocationAllowed() ? std::malloc(size) : nullptr; }
void XmlDeallocate(void* block) { std::free(block); }

[[maybe_unused]] const bool g_hooked = [] {
    pugi::set_memory_management_functions(XmlAllocate, XmlDeallocate);
    return true;
}();

// A pugi::xml_node is nothing but the address of its node record (what
// internal_object() gives and the xml_node(xml_node_struct*) constructor
// takes). The hot paths convert directly rather than call into the library.
static_assert(sizeof(pugi::xml_node) == sizeof(pugi::xml_node_struct*) &&
              std::is_trivially_copyable_v<pugi::xml_node>);
pugi::xml_node_struct* Raw(pugi::xml_node node) { return std::bit_cast<pugi::xml_node_struct*>(node); }
pugi::xml_node NodeAt(const void* record) {
    return std::bit_cast<pugi::xml_node>(static_cast<pugi::xml_node_struct*>(const_cast<void*>(record)));
}

// Tested through Raw(): a node's truth value is one more call into the library.
pugi::xml_node FirstElement(pugi::xml_node node) {
    for (pugi::xml_node c = node.first_child(); Raw(c) != nullptr; c = c.next_sibling())
        if (c.type() == pugi::node_element) return c;
    return {};
}

pugi::xml_node NextElement(pugi::xml_node node) {
    for (pugi::xml_node c = node.next_sibling(); Raw(c) != nullptr; c = c.next_sibling())
        if (c.type() == pugi::node_element) return c;
    return {};
}

// A set of node addresses: open addressing with linear probing over a
// power-of-two table at most half full. Addresses are only compared, never
// followed, so a stale one costs nothing but a miss.
class NodeSet {
public:
    bool Contains(const void* node) const {
        if (count_ == 0 || node == nullptr) return false;
        for (size_t i = Home(node);; i = (i + 1) & mask_) {
            if (slots_[i] == node) return true;
            if (slots_[i] == nullptr) return false;
        }
    }
    // Throws std::bad_alloc, with nothing changed, when the table cannot grow.
    void Insert(const void* node) {
        if (node == nullptr || Contains(node)) return;
        if ((count_ + 1) * 2 > slots_.size()) Grow();
        size_t i = Home(node);
        while (slots_[i] != nullptr) i = (i + 1) & mask_;
        slots_[i] = node;
        ++count_;
    }
    void Erase(const void* node) {
        if (count_ == 0 || node == nullptr) return;
        size_t hole = Home(node);
        for (;; hole = (hole + 1) & mask_) {
            if (slots_[hole] == nullptr) return;
            if (slots_[hole] == node) break;
        }
        // Backward shift: pull later members of the probe run into the hole
        // so that no lookup stops early at it.
        for (size_t next = (hole + 1) & mask_; slots_[next] != nullptr; next = (next + 1) & mask_) {
            const size_t home = Home(slots_[next]);
            const bool stays = hole < next ? (home > hole && home <= next) : (home > hole || home <= next);
            if (stays) continue;
            slots_[hole] = slots_[next];
            hole = next;
        }
        slots_[hole] = nullptr;
        --count_;
    }
    void Clear() {
        std::fill(slots_.begin(), slots_.end(), nullptr);
        count_ = 0;
    }

private:
    // Fibonacci hashing: the high bits of the product spread aligned addresses.
    size_t Home(const void* node) const {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(node) * 0x9E3779B97F4A7C15ULL) >> shift_);
    }
    void Grow() {
        const unsigned bits = slots_.empty() ? 7 : static_cast<unsigned>(64 - shift_) + 1;
        std::vector<const void*> grown(size_t{1} << bits, nullptr);  // may throw: nothing changed yet
        std::swap(slots_, grown);
        shift_ = 64 - bits;
        mask_ = slots_.size() - 1;
        for (const void* node : grown) {
            if (node == nullptr) continue;
            size_t i = Home(node);
            while (slots_[i] != nullptr) i = (i + 1) & mask_;
            slots_[i] = node;
        }
    }
    std::vector<const void*> slots_;
    size_t count_ = 0;
    unsigned shift_ = 64;
    size_t mask_ = 0;
};

// The first element child of `parent` called `name`. pugixml's own search
// runs inside the library; it also matches nodes other than elements that
// carry a name (a declaration), and then the children are looked at one by one.
pugi::xml_node FirstChildNamed(pugi::xml_node parent, const char* name) {
    pugi::xml_node found = parent.child(name);
    if (Raw(found) == nullptr || found.type() == pugi::node_element) return found;
    for (pugi::xml_node c = FirstElement(parent); Raw(c) != nullptr; c = NextElement(c))
        if (std::strcmp(c.name(), name) == 0) return c;
    return {};
}

// strcmp rather than a byte loop: the loop's end, at names of every
// length, is a branch the processor cannot foresee.
bool SameName(const char* a, const char* b) { return a[0] == b[0] && std::strcmp(a, b) == 0; }

struct Document final : Object {
    Document() : Object(ZV_TYPE_XML) {}

    bool initialised = false;
    pugi::xml_document doc;
    NodeSet issued;  // element items handed out

    // Empties the tree; every item handed out so far becomes stale.
    void Clear() {
        doc.reset();
        issued.Clear();
        Changed();
    }
    // Elements were added or removed.
    void Changed() {
        run.clear();
        runLeads = 0;
    }
    zvXmlItem Issue(pugi::xml_node node) {
        pugi::xml_node_struct* record = Raw(node);
        if (record == nullptr) return 0;
        issued.Insert(record);
        return reinterpret_cast<zvXmlItem>(record);
    }

    // The first element child of `parent` called `name`. Readers ask for a
    // parent's children mostly in their order, so the document keeps the
    // run of them last found one after another from the first: a name in
    // the run is answered from it, and the element after the run is tried
    // next, before any search from the start.
    pugi::xml_node ChildNamed(pugi::xml_node parent, const char* name) {
        if (!run.empty() && runParent == Raw(parent)) {
            // A name in the run is the first of its name. The filter of the
            // run's leads rules most names out without a look at the run.
            const uint16_t lead = Lead(name);
            if (const RunEntry* known = InRun(name, lead)) return NodeAt(known->node);
            // Asked in order: the element after the run is the one.
            pugi::xml_node next = NextElement(NodeAt(run.back().node));
            if (Raw(next) != nullptr) {
                const char* nextName = next.name();
                if (SameName(nextName, name)) {
                    Extend(next, nextName, lead);
                    return next;
                }
            }
        }
        pugi::xml_node found = FirstChildNamed(parent, name);
        if (Raw(found) != nullptr && Raw(found) == Raw(FirstElement(parent))) {
            run.clear();
            runLeads = 0;
            runParent = Raw(parent);
            Extend(found, found.name(), Lead(name));
        }
        return found;
    }
    // The same for a name that is part of a longer text.
    pugi::xml_node ChildNamed(pugi::xml_node parent, std::string_view name) {
        if (name.data()[name.size()] == '\0') return ChildNamed(parent, name.data());
        char shortName[128];
        if (name.size() < sizeof shortName) {
            std::memcpy(shortName, name.data(), name.size());
            shortName[name.size()] = '\0';
            return ChildNamed(parent, static_cast<const char*>(shortName));
        }
        return ChildNamed(parent, std::string(name).c_str());
    }

private:
    // Consecutive element children of `runParent` from its first; their
    // names differ, so each is the first of its name.
    struct RunEntry {
        // Made in place: a copy of a whole entry just assembled would wait
        // on the stores of its parts.
        RunEntry(const char* n, uint16_t l, pugi::xml_node_struct* record) : name(n), lead(l), node(record) {}
        const char* name;  // the element's own name
        uint16_t lead;     // Lead(name)
        pugi::xml_node_struct* node;
    };
    // The first two bytes of a name (one, for a name of one byte), which
    // tell most sibling names apart without a string compare.
    static uint16_t Lead(const char* name) {
        const auto first = static_cast<unsigned char>(name[0]);
        return first == 0 ? 0 : static_cast<uint16_t>(first | static_cast<unsigned char>(name[1]) << 8);
    }
    static uint64_t LeadBit(uint16_t lead) { return uint64_t{1} << ((lead ^ lead >> 7) & 63); }
    const RunEntry* InRun(const char* name, uint16_t lead) const {
        if ((runLeads & LeadBit(lead)) == 0) return nullptr;
        for (const RunEntry& entry : run)
            if (entry.lead == lead && SameName(entry.name, name)) return &entry;
        return nullptr;
    }
    void Extend(pugi::xml_node node, const char* name, uint16_t lead) {
        // A run that cannot grow is dropped rather than left short of a member.
        try {
            run.emplace_back(name, lead, Raw(node));
            runLeads |= LeadBit(lead);
        } catch (const std::bad_alloc&) {
            run.clear();
            runLeads = 0;
        }
    }
    std::vector<RunEntry> run;
    uint64_t runLeads = 0;  // LeadBit of every member's lead
    pugi::xml_node_struct* runParent = nullptr;
};

Document* GetDocument(zvHandle handle, zvStatus* status) {
    auto* d = Get<Document>(handle, ZV_TYPE_XML, status);
    if (d != nullptr && !d->initialised) {
        *status = ZV_E_STATE;
        return nullptr;
    }
    return d;
}

// The node behind `item`: an element handed out by this document, or the
// document itself (item 1) where `documentAllowed`.
pugi::xml_node NodeOf(Document* d, zvXmlItem item, bool documentAllowed, zvStatus* status) {
    if (item == ZV_XML_DOCUMENT) {
        if (documentAllowed) return d->doc;
        *status = ZV_E_ARGUMENT;
        return {};
    }
    const void* p = reinterpret_cast<const void*>(item);
    if (item == 0 || !d->issued.Contains(p)) {
        *status = ZV_E_HANDLE;
        return {};
    }
    return NodeAt(p);
}

// An element's own text: that of its first text or CDATA child, "" when it
// has none. One call into pugixml rather than the two of text().get().
const char* TextOf(pugi::xml_node element) { return element.child_value(); }

// Copies `text` shortened to size - 1 bytes.
void CopyShortened(const char* text, char* buffer, int32_t size) {
    const size_t n = ::strnlen(text, static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}

// The leading integer of `text` ("7500.000000" is 7500), clamped to 32 bits;
// 0 when the text starts with no number.
int32_t LeadingInt(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;  // saturate, then clamp
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The leading decimal number of `text`, whatever the process's locale; 0
// when there is none.
double LeadingFloat(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
    if (*text == '+') ++text;
    double value = 0;
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Beyond a double's range either way: the C library rounds to 0 or
        // to an infinity as the magnitude says (in the "C" locale).
        static const locale_t c = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
        const std::string number(text, static_cast<size_t>(ptr - text));
        return c != static_cast<locale_t>(0) ? ::strtod_l(number.c_str(), nullptr, c) : 0.0;
    }
    return ec == std::errc() ? value : 0.0;
}

bool SetText(pugi::xml_node node, const char* text) {
    if (text[0] == '\0') {
        // An empty text: drop the text node rather than keep an empty one.
        pugi::xml_node child = node.first_child();
        for (; child; child = child.next_sibling())
            if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) break;
        return !child || node.remove_child(child);
    }
    return node.text().set(text);
}

// With 15 decimals or more a value is written as the shortest text that
// reads back as the same double (fifteen digits alone do not always).
bool FormatFloat(double value, int32_t decimals, char* out, size_t size) {
    auto [ptr, ec] = decimals >= 15 ? std::to_chars(out, out + size - 1, value, std::chars_format::fixed)
                                    : std::to_chars(out, out + size - 1, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return false;
    *ptr = '\0';
    return true;
}

bool NameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool ValidName(const char* name) {
    if (name == nullptr || !NameStart(static_cast<unsigned char>(name[0]))) return false;
    bool wide = false;
    for (const char* p = name + 1; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (!NameStart(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
        wide = wide || c >= 0x80;
    }
    size_t bad = 0;
    return (!wide && static_cast<unsigned char>(name[0]) < 0x80) || ValidXmlUtf8(name, &bad);
}

// Nesting depth of an element: 1 for the root.
int DepthOf(pugi::xml_node node) {
    int depth = 0;
    for (; node && node.type() != pugi::node_document; node = node.parent()) ++depth;
    return depth;
}

// Text the writer may store: UTF-8 with no control characters, which a
// document could only carry as references that no reader accepts.
bool StorableText(const char* text) {
    bool wide = false;
    const char* p = text;
    for (; *p != '\0'; ++p) {
        if (ControlCharacter(*p)) return false;
        wide = wide || static_cast<unsigned char>(*p) >= 0x80;
    }
    size_t bad = 0;
    return !wide || ValidXmlUtf8(std::string_view(text, static_cast<size_t>(p - text)), &bad);
}

// Whether an element carries an attribute name twice: few attributes are
// compared each with the rest, many sorted, so that the work stays
// proportional to their number.
bool RepeatsAttribute(pugi::xml_node node) {
    constexpr int kFew = 16;
    int count = 0;
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) ++count;
    if (count <= kFew) {
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
            for (pugi::xml_attribute b = a.next_attribute(); b; b = b.next_attribute())
                if (std::strcmp(a.name(), b.name()) == 0) return true;
        return false;
    }
    std::vector<const char*> names;
    names.reserve(static_cast<size_t>(count));
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) names.push_back(a.name());
    std::sort(names.begin(), names.end(), [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
    for (size_t i = 1; i < names.size(); ++i)
        if (std::strcmp(names[i - 1], names[i]) == 0) return true;
    return false;
}

// What pugixml lets through but a well-formed document may not have: more
// or fewer than one root element, text beside it, a declaration anywhere
// but first, repeated attributes, nesting deeper than kMaxDepth. The walk
// below the root (iterative: the depth is not yet known) is made only when
// `deep`. Returns null, or what is wrong with `*where` the node it is at.
const char* TreeFault(const pugi::xml_document& doc, bool deep, pugi::xml_node* where) {
    int roots = 0;
    for (pugi::xml_node c = doc.first_child(); Raw(c) != nullptr; c = c.next_sibling()) {
        *where = c;
        if (c.type() == pugi::node_element && ++roots > 1) return "a second root element";
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) return "text outside the root element";
        if (c.type() == pugi::node_declaration && c != doc.first_child()) return "a declaration after the start";
        if (c.type() == pugi::node_declaration && RepeatsAttribute(c)) return "an attribute given twice";
    }
    *where = pugi::xml_node();
    if (roots != 1) return "no root element";
    if (!deep) return nullptr;
    pugi::xml_node node = FirstElement(doc);
    int depth = 1;
    while (node) {
        *where = node;
        if (depth > kMaxDepth) return "elements nested deeper than a document may hold";
        if (node.type() == pugi::node_element && RepeatsAttribute(node)) return "an attribute given twice";
        if (node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            --depth;
            if (depth == 0) return nullptr;
        }
        if (node) node = node.next_sibling();
    }
    return nullptr;
}

// Whether the document declares the one single-byte encoding that the
// reader converts, ISO-8859-1 (also named latin1), in the declaration it
// starts with; its bytes are then characters of that encoding, and any
// other text must be UTF-8.
bool DeclaresLatin1(std::string_view text) {
    if (text.substr(0, 5) != "<?xml") return false;
    const std::string_view declaration = text.substr(0, text.find('>'));
    const size_t at = declaration.find("encoding");
    if (at == std::string_view::npos) return false;
    size_t i = at + 8;
    while (i < declaration.size() && (declaration[i] == ' ' || declaration[i] == '\t' || declaration[i] == '\r' ||
                                      declaration[i] == '\n' || declaration[i] == '='))
        ++i;
    if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) return false;
    const char quote = declaration[i++];
    const size_t end = declaration.find(quote, i);
    if (end == std::string_view::npos) return false;
    const std::string_view name = declaration.substr(i, end - i);
    const auto same = [name](std::string_view known) {
        if (name.size() != known.size()) return false;
        for (size_t k = 0; k < name.size(); ++k)
            if (std::tolower(static_cast<unsigned char>(name[k])) != known[k]) return false;
        return true;
    };
    return same("iso-8859-1") || same("latin1");
}

// "<file>: line N: " for a fault at byte `at` of `text`, the file being
// `file` when given, else the one the text was read from when that is known.
std::string Where(std::string_view text, size_t at, const std::string* file) {
    const std::string source = file != nullptr ? *file : SourceOfText(static_cast<int64_t>(text.size()));
    if (at > text.size()) at = text.size();
    size_t line = 1;
    for (size_t i = 0; i < at; ++i) line += text[i] == '\n' ? 1 : 0;
    return (source.empty() ? std::string("the document") : "\"" + Printable(source) + "\"") + ": line " +
           std::to_string(line) + ": ";
}

// Replaces the document's tree by the parse of `text`, which is followed by
// a zero byte. On any failure the document is left empty.
zvStatus Parse(Document* d, std::string_view text, const std::string* file = nullptr) {
    d->Clear();
    if (static_cast<int64_t>(text.size()) > kMaxText)
        return Fail(ZV_E_PARSE, Where(text, 0, file) + "larger than the 64 MiB a document may hold");
    bool deepCheck = true;
    TextFault fault;
    if (!XmlTextWellFormed(text, &deepCheck, &fault)) return Fail(ZV_E_PARSE, Where(text, fault.at, file) + fault.what);
    // Text that readers take for UTF-8 must be UTF-8, or the document could
    // never be read back once written.
    const bool latin1 = DeclaresLatin1(text);
    size_t bad = 0;
    if (!latin1 && !ValidXmlUtf8(text, &bad)) return Fail(ZV_E_PARSE, Where(text, bad, file) + "bytes that are not UTF-8 text");
    const pugi::xml_parse_result result = d->doc.load_buffer(text.data(), text.size(), kParseFlags,
                                                             latin1 ? pugi::encoding_latin1 : pugi::encoding_utf8);
    if (result.status == pugi::status_out_of_memory) {
        d->Clear();
        return ZV_E_NOMEM;
    }
    if (!result) {
        d->Clear();
        std::string what = result.description();
        if (!what.empty()) what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
        return Fail(ZV_E_PARSE, Where(text, static_cast<size_t>(result.offset), file) + what);
    }
    pugi::xml_node where;
    if (const char* what = TreeFault(d->doc, deepCheck, &where)) {
        // Offsets into the buffer parsed, which is the text unless converted.
        const ptrdiff_t offset = where ? where.offset_debug() : -1;
        const size_t at = offset >= 0 && !latin1 ? static_cast<size_t>(offset) : text.size();
        d->Clear();
        return Fail(ZV_E_PARSE, Where(text, at, file) + what);
    }
    return ZV_OK;
}

struct StringWriter final : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

// The document's text: indented UTF-8 with a declaration (the document's
// own when it has one, marked UTF-8 since that is what is written).
std::string Render(Document* d) {
    StringWriter out;
    bool declared = false;
    for (pugi::xml_node c = d->doc.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_declaration) continue;
        declared = true;
        pugi::xml_attribute encoding = c.attribute("encoding");
        if (encoding && std::strcmp(encoding.value(), "UTF-8") != 0 && std::strcmp(encoding.value(), "utf-8") != 0)
            encoding.set_value("UTF-8");
    }
    if (!declared) out.text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    d->doc.save(out, kIndent, pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
    return std::move(out.text);
}

// Parses the whole of an open file into the document.
zvStatus XmlParseFile(Object* document, File* file) {
    auto* d = static_cast<Document*>(document);
    std::string text;
    zvStatus status = file->ReadAll(&text, kMaxText);
    if (status == ZV_E_NOMEM) {
        d->Clear();
        // larger than any document may be
        return Fail(ZV_E_PARSE, "\"" + Printable(file->path) + "\": larger than the 64 MiB a document may hold");
    }
    if (status <= 0) return status;
    return Parse(d, text, &file->path);
}

}  // namespace

}  // namespace zv

using zv::Document;

namespace {

// The usual prologue: the document, then the node of `item`.
#define ZV_XML_DOC(var)                                 \
    zvStatus status = ZV_OK;                            \
    Document* var = zv::GetDocument(document, &status); \
    if (var == nullptr) return status

#define ZV_XML_NODE(var, item, documentAllowed)                                   \
    pugi::xml_node var = zv::NodeOf(d, item, documentAllowed, &status);          \
    if (zv::Raw(var) == nullptr) return status

zvStatus ReadChildText(zvHandle document, zvXmlItem parent, const char* name, const char** text) {
    ZV_XML_DOC(d);
    ZV_XML_NODE(node, parent, true);
    if (name == nullptr) return ZV_E_ARGUMENT;
    pugi::xml_node child = d->ChildNamed(node, name);
    *text = zv::Raw(child) != nullptr ? zv::TextOf(child) : nullptr;
    return ZV_OK;
}

// The first child called `name`, made as the last child when missing.
zvStatus ChildForWriting(zvHandle document, zvXmlItem parent, const char* name, pugi::xml_node* out) {
    ZV_XML_DOC(d);
    ZV_XML_NODE(node, parent, false);
    if (!zv::ValidName(name)) return ZV_E_ARGUMENT;
    pugi::xml_node child = d->ChildNamed(node, name);
    if (!child) {
        if (zv::DepthOf(node) >= zv::kMaxDepth) return ZV_E_RANGE;
        child = node.append_child(name);
        if (!child) return ZV_E_NOMEM;
        d->Changed();
    }
    *out = child;
    return ZV_OK;
}

}  // namespace

extern "C" {

zvStatus zvXMLCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<Document>(out, allocator); });
}

zvStatus zvXMLInit(zvHandle document, int32_t flags) {
    ZV_ENTER(flags);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        auto* d = zv::Get<Document>(document, ZV_TYPE_XML, &status);
        if (d == nullptr) return status;
        if (flags != 0) return ZV_E_UNSUPPORTED;
        d->Clear();
        d->initialised = true;
        return ZV_OK;
    });
}

zvStatus zvXMLDestroy(zvHandle document) {
    ZV_ENTER();
    return zv::Guard([&] { return zv::DestroyChecked(document, ZV_TYPE_XML); });
}

zvStatus zvXMLRead(zvHandle document, zvHandle file) {
    ZV_ENTER();
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        zv::File* f = zv::GetFile(file, &status);
        if (f == nullptr) return status;
        return zv::XmlParseFile(d, f);
    });
}

zvStatus zvXMLWrite(zvHandle document, zvHandle file) {
    zvStatus injected = ZV_E_FAIL;
    if (zv::Enter(__func__, &injected)) {
        // Even a write that failed before it began leaves the file unfit to
        // replace its target.
        zvStatus ignored = ZV_OK;
        if (zv::File* f = zv::GetFile(file, &ignored)) f->Poison();
        return injected;
    }
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        zv::File* f = zv::GetFile(file, &status);
        if (f == nullptr) return status;
        if (f->fd < 0 || f->mode != ZV_FILE_WRITE) return ZV_E_STATE;
        // A document that could not be written whole must never replace the
        // file it was meant for.
        try {
            const std::string text = zv::Render(d);
            zvStatus written = f->WriteBytes(text.data(), static_cast<int64_t>(text.size()));
            if (written <= 0) f->Poison();
            return written;
        } catch (...) {
            f->Poison();
            throw;
        }
    });
}

zvStatus zvXMLFlatten(zvHandle document, char* buffer, int64_t capacity, int64_t* size) {
    if (size != nullptr) *size = 0;
    ZV_ENTER(capacity);
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        if (size == nullptr || (buffer != nullptr && capacity < 0)) return ZV_E_ARGUMENT;
        const std::string text = zv::Render(d);
        *size = static_cast<int64_t>(text.size());
        if (buffer == nullptr) return ZV_OK;
        if (*size > capacity) {
            if (capacity > 0) buffer[0] = '\0';
            return ZV_E_RANGE;
        }
        std::memcpy(buffer, text.data(), text.size());
        if (*size < capacity) buffer[*size] = '\0';
        return ZV_OK;
    });
}

zvStatus zvXMLUnflatten(zvHandle document, const char* text) {
    ZV_ENTER(text ? static_cast<int64_t>(std::strlen(text)) : int64_t{-1});
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        if (text == nullptr) return ZV_E_ARGUMENT;
        return zv::Parse(d, text);
    });
}

zvStatus zvXMLGetRoot(zvHandle document, zvXmlItem* item) {
    if (item != nullptr) *item = 0;
    ZV_ENTER();
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        if (item == nullptr) return ZV_E_ARGUMENT;
        *item = d->Issue(zv::FirstElement(d->doc));
        return ZV_OK;
    });
}

zvStatus zvXMLFindBranchItem(zvHandle document, zvXmlItem parent, const char* path, int32_t flags,
                             zvXmlItem* item) {
    if (item != nullptr) *item = 0;
    ZV_ENTER(path, flags);
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, parent, true);
        if (item == nullptr || path == nullptr || (flags != 0 && flags != 1)) return ZV_E_ARGUMENT;
        // The path's names, one at a time, without copying them.
        const auto nameAt = [](const char* p, const char** after) {
            while (*p == '\\' || *p == '/') ++p;
            const char* end = p;
            while (*end != '\0' && *end != '\\' && *end != '/') ++end;
            *after = end;
            return std::string_view(p, static_cast<size_t>(end - p));
        };
        const char* afterFirst = nullptr;
        const std::string_view first = nameAt(path, &afterFirst);
        if (first.empty()) return ZV_E_ARGUMENT;
        // The rest of the path, child by child, from an element of the first name.
        const auto rest = [&](pugi::xml_node from) {
            for (const char* p = afterFirst; from;) {
                const std::string_view name = nameAt(p, &p);
                if (name.empty()) break;
                from = d->ChildNamed(from, name);
            }
            return from;
        };
        pugi::xml_node found;
        if (flags == 1) {
            if (pugi::xml_node at = d->ChildNamed(node, first)) found = rest(at);
        } else {
            // Depth first over everything under `parent`, iteratively.
            pugi::xml_node at = zv::FirstElement(node);
            while (at && !found) {
                if (at.name() == first) found = rest(at);
                if (found) break;
                if (pugi::xml_node down = zv::FirstElement(at)) {
                    at = down;
                    continue;
                }
                while (at && at != node && !zv::NextElement(at)) at = at.parent();
                at = (at && at != node) ? zv::NextElement(at) : pugi::xml_node();
            }
        }
        *item = d->Issue(found);
        return ZV_OK;
    });
}

zvStatus zvXMLCreateItem(zvHandle document, zvXmlItem parent, int32_t position, const char* name, const char* text,
                         zvXmlItem* item) {
    if (item != nullptr) *item = 0;
    ZV_ENTER(name, position);
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, parent, true);
        if (position != ZV_XML_FIRST && position != ZV_XML_LAST) return ZV_E_ARGUMENT;
        if (!zv::ValidName(name) || (text != nullptr && !zv::StorableText(text))) return ZV_E_ARGUMENT;
        pugi::xml_node made;
        if (node.type() == pugi::node_document) {
            // One root only, and never before the declaration.
            if (zv::FirstElement(node)) return ZV_E_STATE;
            pugi::xml_node declaration = node.first_child();
            if (position == ZV_XML_FIRST && declaration.type() == pugi::node_declaration)
                made = node.insert_child_after(name, declaration);
            else
                made = position == ZV_XML_FIRST ? node.prepend_child(name) : node.append_child(name);
        } else {
            if (zv::DepthOf(node) >= zv::kMaxDepth) return ZV_E_RANGE;
            made = position == ZV_XML_FIRST ? node.prepend_child(name) : node.append_child(name);
        }
        if (!made) return ZV_E_NOMEM;
        d->Changed();
        if (text != nullptr && text[0] != '\0' && !made.text().set(text)) {
            node.remove_child(made);
            return ZV_E_NOMEM;
        }
        if (item != nullptr) {
            // An element the caller was not told of is not left behind.
            try {
                *item = d->Issue(made);
            } catch (...) {
                node.remove_child(made);
                throw;
            }
        }
        return ZV_OK;
    });
}

zvStatus zvXMLDeleteItem(zvHandle document, zvXmlItem item) {
    ZV_ENTER();
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, item, false);
        // Every item under it goes stale with it.
        pugi::xml_node at = node;
        while (at) {
            d->issued.Erase(at.internal_object());
            if (at.first_child()) {
                at = at.first_child();
                continue;
            }
            while (at && at != node && !at.next_sibling()) at = at.parent();
            at = (at && at != node) ? at.next_sibling() : pugi::xml_node();
        }
        node.parent().remove_child(node);
        d->Changed();
        return ZV_OK;
    });
}

zvStatus zvXMLGetFirstChild(zvHandle document, zvXmlItem item, zvXmlItem* child) {
    if (child != nullptr) *child = 0;
    ZV_ENTER();
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, item, true);
        if (child == nullptr) return ZV_E_ARGUMENT;
        *child = d->Issue(zv::FirstElement(node));
        return ZV_OK;
    });
}

zvStatus zvXMLGetNextSibling(zvHandle document, zvXmlItem item, zvXmlItem* sibling) {
    if (sibling != nullptr) *sibling = 0;
    ZV_ENTER();
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, item, false);
        if (sibling == nullptr) return ZV_E_ARGUMENT;
        *sibling = d->Issue(zv::NextElement(node));
        return ZV_OK;
    });
}

zvStatus zvXMLGetItemName(zvHandle document, zvXmlItem item, char* buffer, int32_t size) {
    ZV_ENTER(size);
    return zv::Guard([&] {
        if (buffer == nullptr || size <= 0) return ZV_E_ARGUMENT;
        buffer[0] = '\0';
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, item, false);
        zv::CopyShortened(node.name(), buffer, size);
        return ZV_OK;
    });
}

zvStatus zvXMLGetItemInt(zvHandle document, zvXmlItem item, int32_t* value) {
    if (value != nullptr) *value = 0;
    ZV_ENTER();
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, item, false);
        if (value == nullptr) return ZV_E_ARGUMENT;
        *value = zv::LeadingInt(zv::TextOf(node));
        return ZV_OK;
    });
}

zvStatus zvXMLGetItemFloat(zvHandle document, zvXmlItem item, double* value) {
    if (value != nullptr) *value = 0;
    ZV_ENTER();
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, item, false);
        if (value == nullptr) return ZV_E_ARGUMENT;
        *value = zv::LeadingFloat(zv::TextOf(node));
        return ZV_OK;
    });
}

zvStatus zvXMLGetItemString(zvHandle document, zvXmlItem item, char* buffer, int32_t size) {
    ZV_ENTER(size);
    return zv::Guard([&] {
        if (buffer == nullptr || size <= 0) return ZV_E_ARGUMENT;
        buffer[0] = '\0';
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, item, false);
        zv::CopyShortened(zv::TextOf(node), buffer, size);
        return ZV_OK;
    });
}

zvStatus zvXMLSetItemInt(zvHandle document, zvXmlItem item, int32_t value) {
    ZV_ENTER(value);
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, item, false);
        const std::string text = std::to_string(value);
        return zv::SetText(node, text.c_str()) ? ZV_OK : ZV_E_NOMEM;
    });
}

zvStatus zvXMLSetItemFloat(zvHandle document, zvXmlItem item, double value, int32_t decimals) {
    ZV_ENTER(decimals);
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, item, false);
        if (decimals < 0 || decimals > 17) return ZV_E_ARGUMENT;
        char text[400];
        if (!zv::FormatFloat(value, decimals, text, sizeof text)) return ZV_E_ARGUMENT;
        return zv::SetText(node, text) ? ZV_OK : ZV_E_NOMEM;
    });
}

zvStatus zvXMLSetItemString(zvHandle document, zvXmlItem item, const char* text) {
    ZV_ENTER();
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        ZV_XML_NODE(node, item, false);
        if (text == nullptr || !zv::StorableText(text)) return ZV_E_ARGUMENT;
        return zv::SetText(node, text) ? ZV_OK : ZV_E_NOMEM;
    });
}

zvStatus zvXMLGetChildInt(zvHandle document, zvXmlItem parent, const char* name, int32_t* value) {
    if (value != nullptr) *value = 0;
    ZV_ENTER(name);
    return zv::Guard([&] {
        if (value == nullptr) return ZV_E_ARGUMENT;
        const char* text = nullptr;
        zvStatus status = ReadChildText(document, parent, name, &text);
        if (status <= 0) return status;
        *value = text ? zv::LeadingInt(text) : 0;
        return ZV_OK;
    });
}

zvStatus zvXMLGetChildFloat(zvHandle document, zvXmlItem parent, const char* name, double* value) {
    if (value != nullptr) *value = 0;
    ZV_ENTER(name);
    return zv::Guard([&] {
        if (value == nullptr) return ZV_E_ARGUMENT;
        const char* text = nullptr;
        zvStatus status = ReadChildText(document, parent, name, &text);
        if (status <= 0) return status;
        *value = text ? zv::LeadingFloat(text) : 0.0;
        return ZV_OK;
    });
}

zvStatus zvXMLGetChildString(zvHandle document, zvXmlItem parent, const char* name, char* buffer, int32_t size) {
    ZV_ENTER(name);
    return zv::Guard([&] {
        if (buffer == nullptr || size <= 0) return ZV_E_ARGUMENT;
        buffer[0] = '\0';
        const char* text = nullptr;
        zvStatus status = ReadChildText(document, parent, name, &text);
        if (status <= 0) return status;
        zv::CopyShortened(text ? text : "", buffer, size);
        return ZV_OK;
    });
}

zvStatus zvXMLSetChildInt(zvHandle document, zvXmlItem parent, const char* name, int32_t value) {
    ZV_ENTER(name, value);
    return zv::Guard([&] {
        pugi::xml_node child;
        zvStatus status = ChildForWriting(document, parent, name, &child);
        if (status <= 0) return status;
        const std::string text = std::to_string(value);
        return zv::SetText(child, text.c_str()) ? ZV_OK : ZV_E_NOMEM;
    });
}

zvStatus zvXMLSetChildFloat(zvHandle document, zvXmlItem parent, const char* name, double value, int32_t decimals) {
    ZV_ENTER(name, decimals);
    return zv::Guard([&] {
        if (decimals < 0 || decimals > 17) return ZV_E_ARGUMENT;
        char text[400];
        if (!zv::FormatFloat(value, decimals, text, sizeof text)) return ZV_E_ARGUMENT;
        pugi::xml_node child;
        zvStatus status = ChildForWriting(document, parent, name, &child);
        if (status <= 0) return status;
        return zv::SetText(child, text) ? ZV_OK : ZV_E_NOMEM;
    });
}

zvStatus zvXmlLoad(const char* path, zvHandle* document) {
    if (document != nullptr) *document = nullptr;
    ZV_ENTER(path);
    return zv::Guard([&] {
        if (document == nullptr) return ZV_E_ARGUMENT;
        zv::File file;
        zvStatus status = zv::OpenPath(&file, path, ZV_FILE_READ);
        if (status <= 0) return status;
        zvHandle handle = nullptr;
        status = zv::Create<Document>(&handle, nullptr);
        if (status <= 0) return status;
        auto* d = static_cast<Document*>(zv::FromHandle(handle));
        d->initialised = true;
        status = zv::XmlParseFile(d, &file);
        if (status <= 0) {
            zv::Delete(d);
            return status;
        }
        *document = handle;
        return ZV_OK;
    });
}

zvStatus zvXmlRoot(zvHandle document, zvXmlItem* root) {
    if (root != nullptr) *root = 0;
    ZV_ENTER();
    return zv::Guard([&] {
        ZV_XML_DOC(d);
        if (root == nullptr) return ZV_E_ARGUMENT;
        *root = d->Issue(zv::FirstElement(d->doc));
        return *root != 0 ? ZV_OK : ZV_E_NOTFOUND;
    });
}

zvStatus zvXmlChildText(zvHandle document, zvXmlItem parent, const char* name, char* buffer, int32_t size) {
    ZV_ENTER(name);
    return zv::Guard([&] {
        if (buffer == nullptr || size <= 0) return ZV_E_ARGUMENT;
        buffer[0] = '\0';
        const char* text = nullptr;
        zvStatus status = ReadChildText(document, parent, name, &text);
        if (status <= 0) return status;
        if (text == nullptr) return ZV_E_NOTFOUND;
        // A program's value is used whole or not at all.
        if (std::strlen(text) >= static_cast<size_t>(size)) return ZV_E_RANGE;
        std::strcpy(buffer, text);
        return ZV_OK;
    });
}

}  // extern "C"

// ---- Internal view for other families (xml_view.hpp) -----------------------

namespace zv {

Object* XmlDocumentMake() {
    zvHandle handle = nullptr;
    if (Create<Document>(&handle, nullptr) <= 0) return nullptr;
    auto* d = static_cast<Document*>(FromHandle(handle));
    d->initialised = true;
    return d;
}

void XmlDocumentClear(Object* document) { static_cast<Document*>(document)->Clear(); }

zvStatus XmlDocumentRead(Object* document, File* file) { return XmlParseFile(document, file); }

zvStatus XmlDocumentWrite(Object* document, File* file) {
    if (file->fd < 0 || file->mode != ZV_FILE_WRITE) return ZV_E_STATE;
    try {
        const std::string text = Render(static_cast<Document*>(document));
        const zvStatus written = file->WriteBytes(text.data(), static_cast<int64_t>(text.size()));
        if (written <= 0) file->Poison();
        return written;
    } catch (...) {
        file->Poison();  // never half a document over the old file
        throw;
    }
}

XmlNode XmlRootElement(Object* document) {
    return Raw(FirstElement(static_cast<Document*>(document)->doc));
}

XmlNode XmlItemElement(Object* document, zvXmlItem item) {
    const auto* d = static_cast<const Document*>(document);
    void* p = reinterpret_cast<void*>(item);
    return item != ZV_XML_DOCUMENT && d->issued.Contains(p) ? p : nullptr;
}

zvXmlItem XmlIssue(Object* document, XmlNode element) {
    return static_cast<Document*>(document)->Issue(NodeAt(element));
}

XmlNode XmlFirstElement(XmlNode parent) { return Raw(FirstElement(NodeAt(parent))); }

XmlNode XmlNextElement(XmlNode element) { return Raw(NextElement(NodeAt(element))); }

XmlNode XmlChildElement(XmlNode parent, const char* name) { return Raw(FirstChildNamed(NodeAt(parent), name)); }

const char* XmlElementName(XmlNode element) { return NodeAt(element).name(); }

const char* XmlElementText(XmlNode element) { return TextOf(NodeAt(element)); }

}  // namespace zv
