#include "support/xml_document.hpp"

#include <gtest/gtest.h>

namespace zvtest {

XmlDocument::XmlDocument() {
    EXPECT_EQ(zvXMLCreate(&handle_, nullptr), ZV_OK);
    EXPECT_EQ(zvXMLInit(handle_, 0), ZV_OK);
}

XmlDocument::XmlDocument(const std::string& text) : XmlDocument() {
    EXPECT_EQ(zvXMLUnflatten(handle_, text.c_str()), ZV_OK) << text.substr(0, 200);
}

XmlDocument::~XmlDocument() { EXPECT_EQ(zvXMLDestroy(handle_), ZV_OK); }

zvXmlItem XmlDocument::Root() const {
    zvXmlItem root = 0;
    EXPECT_EQ(zvXMLGetRoot(handle_, &root), ZV_OK);
    return root;
}

zvXmlItem XmlDocument::Find(const char* path, int32_t flags, zvXmlItem parent) const {
    zvXmlItem item = 0;
    EXPECT_EQ(zvXMLFindBranchItem(handle_, parent != 0 ? parent : Root(), path, flags, &item), ZV_OK);
    return item;
}

std::string XmlDocument::Name(zvXmlItem item) const {
    char name[256] = {};
    EXPECT_EQ(zvXMLGetItemName(handle_, item, name, sizeof name), ZV_OK);
    return name;
}

std::string XmlDocument::Text(zvXmlItem item) const {
    char text[4096] = {};
    EXPECT_EQ(zvXMLGetItemString(handle_, item, text, sizeof text), ZV_OK);
    return text;
}

std::vector<std::string> XmlDocument::ChildNames(zvXmlItem parent) const {
    std::vector<std::string> names;
    zvXmlItem child = 0;
    EXPECT_EQ(zvXMLGetFirstChild(handle_, parent, &child), ZV_OK);
    while (child != 0) {
        names.push_back(Name(child));
        EXPECT_EQ(zvXMLGetNextSibling(handle_, child, &child), ZV_OK);
    }
    return names;
}

int32_t XmlDocument::Int(zvXmlItem parent, const char* name) const {
    int32_t value = -1;
    EXPECT_EQ(zvXMLGetChildInt(handle_, parent, name, &value), ZV_OK);
    return value;
}

std::string XmlDocument::Flat() const {
    int64_t size = -1;
    EXPECT_EQ(zvXMLFlatten(handle_, nullptr, 0, &size), ZV_OK);
    if (size < 0) return "";
    std::string text(static_cast<size_t>(size), '\0');
    EXPECT_EQ(zvXMLFlatten(handle_, text.data(), size, &size), ZV_OK);
    return text;
}

}  // namespace zvtest
