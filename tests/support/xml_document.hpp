// An XML document for one test: made and initialised, optionally parsed
// from text, destroyed at the end; and the usual questions about it.
//
//   zvtest::XmlDocument doc("<r><a>1</a></r>");
//   zvXMLGetChildInt(doc, doc.Root(), "a", &value);
//   EXPECT_EQ(doc.ChildNames(doc.Root()), std::vector<std::string>{"a"});
//
// Failures of the platform calls inside are test failures.
#ifndef TESTS_SUPPORT_XML_DOCUMENT_HPP
#define TESTS_SUPPORT_XML_DOCUMENT_HPP

#include <string>
#include <vector>

#include "zvapi/zvapi.h"

namespace zvtest {

class XmlDocument {
public:
    XmlDocument();
    explicit XmlDocument(const std::string& text);
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    operator zvHandle() const { return handle_; }
    zvHandle Handle() const { return handle_; }
    // The root element (0 when there is none).
    zvXmlItem Root() const;
    // The element `path` under `parent` (0: the root); 0 when missing.
    zvXmlItem Find(const char* path, int32_t flags = 1, zvXmlItem parent = 0) const;
    std::string Name(zvXmlItem item) const;
    std::string Text(zvXmlItem item) const;
    std::vector<std::string> ChildNames(zvXmlItem parent) const;
    // The integer of `parent`'s child `name` (0 when missing).
    int32_t Int(zvXmlItem parent, const char* name) const;
    // The whole document as the platform writes it.
    std::string Flat() const;

private:
    zvHandle handle_ = nullptr;
};

}  // namespace zvtest

#endif
