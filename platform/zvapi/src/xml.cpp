// The XML family's entry points: documents, their items, numbers and
// texts, and the whole-file convenience of programs. The document object
// and whole-text reading and writing are in xml_document.cpp.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "xml_document.hpp"

using zv::Document;

namespace {

// The usual prologue: the document, then the node of `item`.
#define ZV_XML_DOC(var)                                 \
    zvStatus status = ZV_OK;                            \
    Document* var = zv::GetDocument(document, &status); \
    if (var == nullptr) return status

#define ZV_XML_NODE(var, item, documentAllowed)                         \
    pugi::xml_node var = zv::NodeOf(d, item, documentAllowed, &status); \
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

zvStatus zvXMLFindBranchItem(zvHandle document, zvXmlItem parent, const char* path, int32_t flags, zvXmlItem* item) {
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
