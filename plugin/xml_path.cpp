#include "plugin/xml_path.h"

#include <cstring>

zvStatus XmlFindChild(zvHandle document, zvXmlItem parent, const char* name, zvXmlItem* child) {
    if (child == nullptr) return ZV_E_ARGUMENT;
    *child = 0;
    if (name == nullptr) return ZV_E_ARGUMENT;
    const size_t length = std::strlen(name);
    if (length >= static_cast<size_t>(INT32_MAX)) return ZV_E_ARGUMENT;

    // One byte more than the name: a child name is read shortened to the
    // length of the name looked for, never past the buffer.
    char* buffer = static_cast<char*>(zvMalloc(length + 1));
    if (buffer == nullptr) return 0;

    zvXmlItem item = 0;
    zvStatus status = zvXMLGetFirstChild(document, parent, &item);
    while (status > 0 && item != 0) {
        status = zvXMLGetItemName(document, item, buffer, static_cast<int32_t>(length + 1));
        if (status <= 0) break;
        buffer[length] = '\0';
        if (std::strcmp(buffer, name) == 0) {
            *child = item;
            break;
        }
        status = zvXMLGetNextSibling(document, item, &item);
    }
    zvFree(buffer);
    return status <= 0 ? status : 1;
}

zvStatus XmlFindOrCreatePath(zvHandle document, zvXmlItem parent, const char* path, zvXmlItem* element) {
    if (element == nullptr) return ZV_E_ARGUMENT;
    *element = 0;
    if (path == nullptr) return ZV_E_ARGUMENT;

    char copy[kXmlPathMax + 1] = {};
    size_t length = 0;
    while (length < kXmlPathMax && path[length] != '\0') ++length;
    std::memcpy(copy, path, length);
    copy[length] = '\0';

    zvXmlItem current = parent;
    char* name = copy;
    while (*name != '\0') {
        char* end = name;
        while (*end != '\0' && *end != '\\' && *end != '/') ++end;
        const bool last = *end == '\0';
        *end = '\0';
        if (*name != '\0') {
            zvXmlItem child = 0;
            zvStatus status = XmlFindChild(document, current, name, &child);
            if (status <= 0) return status;
            if (child == 0) {
                status = zvXMLCreateItem(document, current, ZV_XML_LAST, name, "", &child);
                if (status <= 0) return status;
            }
            current = child;
        }
        if (last) break;
        name = end + 1;
    }
    *element = current;
    return 1;
}

zvStatus XmlSetPathString(zvHandle document, zvXmlItem parent, const char* path, const char* text) {
    zvXmlItem element = 0;
    zvStatus status = XmlFindOrCreatePath(document, parent, path, &element);
    if (status <= 0) return status;
    status = zvXMLSetItemString(document, element, text);
    return status <= 0 ? status : 1;
}

zvStatus XmlSetPathInt(zvHandle document, zvXmlItem parent, const char* path, int32_t value) {
    zvXmlItem element = 0;
    zvStatus status = XmlFindOrCreatePath(document, parent, path, &element);
    if (status <= 0) return status;
    status = zvXMLSetItemInt(document, element, value);
    return status <= 0 ? status : 1;
}

zvStatus XmlSetPathFloat(zvHandle document, zvXmlItem parent, const char* path, double value, int32_t decimals) {
    zvXmlItem element = 0;
    zvStatus status = XmlFindOrCreatePath(document, parent, path, &element);
    if (status <= 0) return status;
    status = zvXMLSetItemFloat(document, element, value, decimals);
    return status <= 0 ? status : 1;
}
