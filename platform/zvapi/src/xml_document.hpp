// Internal view of the XML family's documents: the document object with
// the items it has handed out, the helpers the entry points share (numbers,
// texts, names), and reading and writing whole texts. The entry points are
// in xml.cpp; the other families reach documents through xml_view.hpp.
#ifndef ZVAPI_SRC_XML_DOCUMENT_HPP
#define ZVAPI_SRC_XML_DOCUMENT_HPP

#include <pugixml.hpp>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "files.hpp"
#include "object.hpp"
#include "xml_text.hpp"
#include "zvapi/zv_xml.h"

namespace zv {

// Documents larger than this are refused.
constexpr int64_t kMaxText = int64_t{64} << 20;

// A pugi::xml_node is nothing but the address of its node record (what
// internal_object() gives and the xml_node(xml_node_struct*) constructor
// takes). The hot paths convert directly rather than call into the library.
static_assert(sizeof(pugi::xml_node) == sizeof(pugi::xml_node_struct*) && std::is_trivially_copyable_v<pugi::xml_node>);
inline pugi::xml_node_struct* Raw(pugi::xml_node node) { return std::bit_cast<pugi::xml_node_struct*>(node); }
inline pugi::xml_node NodeAt(const void* record) {
    return std::bit_cast<pugi::xml_node>(static_cast<pugi::xml_node_struct*>(const_cast<void*>(record)));
}

// Tested through Raw(): a node's truth value is one more call into the library.
inline pugi::xml_node FirstElement(pugi::xml_node node) {
    for (pugi::xml_node c = node.first_child(); Raw(c) != nullptr; c = c.next_sibling())
        if (c.type() == pugi::node_element) return c;
    return {};
}

inline pugi::xml_node NextElement(pugi::xml_node node) {
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
inline pugi::xml_node FirstChildNamed(pugi::xml_node parent, const char* name) {
    pugi::xml_node found = parent.child(name);
    if (Raw(found) == nullptr || found.type() == pugi::node_element) return found;
    for (pugi::xml_node c = FirstElement(parent); Raw(c) != nullptr; c = NextElement(c))
        if (std::strcmp(c.name(), name) == 0) return c;
    return {};
}

// strcmp rather than a byte loop: the loop's end, at names of every
// length, is a branch the processor cannot foresee.
inline bool SameName(const char* a, const char* b) { return a[0] == b[0] && std::strcmp(a, b) == 0; }

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

// The live, initialised document behind `handle`, or null with `*status`
// set (ZV_E_STATE for one not initialised).
Document* GetDocument(zvHandle handle, zvStatus* status);
// The node behind `item`: an element handed out by this document, or the
// document itself (item 1) where `documentAllowed`; null with `*status`.
pugi::xml_node NodeOf(Document* d, zvXmlItem item, bool documentAllowed, zvStatus* status);
// An element's own text: that of its first text or CDATA child, "" when it
// has none. One call into pugixml rather than the two of text().get().
inline const char* TextOf(pugi::xml_node element) { return element.child_value(); }
// Copies `text` shortened to size - 1 bytes.
void CopyShortened(const char* text, char* buffer, int32_t size);
// The leading integer of `text`, clamped to 32 bits; the leading decimal
// number whatever the locale; 0 when there is none.
int32_t LeadingInt(const char* text);
double LeadingFloat(const char* text);
// Sets an element's text ("" drops its text node); false without memory.
bool SetText(pugi::xml_node node, const char* text);
// `value` with `decimals` digits (15 or more: the shortest that reads back).
bool FormatFloat(double value, int32_t decimals, char* out, size_t size);
// An XML name in UTF-8; text the writer may store (UTF-8, no control
// characters); the nesting depth of an element (1 for the root).
bool ValidName(const char* name);
bool StorableText(const char* text);
int DepthOf(pugi::xml_node node);
// Replaces the document's tree by the parse of `text` (followed by a zero
// byte); on any failure the document is left empty and the reason kept,
// naming `file` when given.
zvStatus Parse(Document* d, std::string_view text, const std::string* file = nullptr);
// The document's text: indented UTF-8 with a declaration.
std::string Render(Document* d);
// Parses the whole of an open file into the document.
zvStatus XmlParseFile(Object* document, File* file);

}  // namespace zv

#endif
