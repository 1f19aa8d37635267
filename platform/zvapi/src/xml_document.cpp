// XML documents over pugixml. An item is the address of a pugixml node;
// each document keeps the set of items it has handed out and checks every
// item it is given against it, so that a stale or foreign item is refused
// with ZV_E_HANDLE and never dereferenced. Here: the document, reading and
// writing whole texts, and the internal view of xml_view.hpp.
#include "xml_document.hpp"

#include <locale.h>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "xml_view.hpp"

namespace zv {

namespace {

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

}  // namespace

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

namespace {

bool NameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

}  // namespace

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

namespace {

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

}  // namespace

// Replaces the document's tree by the parse of `text`, which is followed by
// a zero byte. On any failure the document is left empty.
zvStatus Parse(Document* d, std::string_view text, const std::string* file) {
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
    if (!latin1 && !ValidXmlUtf8(text, &bad))
        return Fail(ZV_E_PARSE, Where(text, bad, file) + "bytes that are not UTF-8 text");
    const pugi::xml_parse_result result =
        d->doc.load_buffer(text.data(), text.size(), kParseFlags, latin1 ? pugi::encoding_latin1 : pugi::encoding_utf8);
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

namespace {

struct StringWriter final : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

}  // namespace

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

XmlNode XmlRootElement(Object* document) { return Raw(FirstElement(static_cast<Document*>(document)->doc)); }

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
