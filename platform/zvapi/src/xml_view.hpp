// Internal view of the XML family for the families that keep a document of
// their own (application information): the document object, read and
// written as zvXMLRead and zvXMLWrite do, and walks over its elements that
// hand out only the items the caller returns.
#ifndef ZVAPI_SRC_XML_VIEW_HPP
#define ZVAPI_SRC_XML_VIEW_HPP

#include "files.hpp"
#include "object.hpp"
#include "zvapi/zv_xml.h"

namespace zv {

// An element of a document, not handed out as an item. Valid while the
// element is: until the document is cleared, read again or destroyed.
using XmlNode = void*;

// A new initialised, empty document (ZV_TYPE_XML, default allocator),
// registered; null when memory ran out.
Object* XmlDocumentMake();
// Empties the document; its items go stale.
void XmlDocumentClear(Object* document);
// Parses the whole of `file` (open for reading) into the document, as
// zvXMLRead: strict, the document left empty on a parse failure.
zvStatus XmlDocumentRead(Object* document, File* file);
// Writes the document into `file` (open for writing), as zvXMLWrite:
// indented UTF-8, what nobody changed kept; a failure poisons the file.
zvStatus XmlDocumentWrite(Object* document, File* file);

// The root element, or null.
XmlNode XmlRootElement(Object* document);
// The element behind `item` when the document handed it out and still has
// it; null otherwise (also for 0 and ZV_XML_DOCUMENT).
XmlNode XmlItemElement(Object* document, zvXmlItem item);
// Hands `element` out as an item of the document (0 for null). Throws
// std::bad_alloc when the document cannot remember it.
zvXmlItem XmlIssue(Object* document, XmlNode element);

// Element children in document order: the first, the next after `element`
// (null when there is none), the first called `name`.
XmlNode XmlFirstElement(XmlNode parent);
XmlNode XmlNextElement(XmlNode element);
XmlNode XmlChildElement(XmlNode parent, const char* name);
// The element's name, and its own text ("" when it has none).
const char* XmlElementName(XmlNode element);
const char* XmlElementText(XmlNode element);

}  // namespace zv

#endif
