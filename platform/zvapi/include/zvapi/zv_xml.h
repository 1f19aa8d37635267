/* zvApi XML documents.
 *
 * A document object owns its tree; items are values naming one element of
 * one document, valid until the element is deleted or the document is
 * destroyed or reloaded. Item 0 is none; item ZV_XML_DOCUMENT (1) stands for
 * the document itself, the parent of the root element.
 *
 * Reading is strict: text that is not well-formed, is truncated, nests
 * deeper than 256 elements, holds more than 1,000,000 elements (comments,
 * CDATA sections and processing instructions counted with them) or more
 * than 256 attributes on one element, is larger than 64 MiB, or is not
 * UTF-8 gives ZV_E_PARSE, keeps the reason (the file, the line, what is
 * wrong: zvLastErrorText) and leaves the document empty. A document that
 * declares the encoding ISO-8859-1 (or "latin1") is read in it. Writing
 * gives indented UTF-8 and keeps what the writer did not touch (comments,
 * unknown elements, attribute order); names and texts that are not UTF-8
 * are refused with ZV_E_ARGUMENT, so that what is written can be read
 * back by any reader.
 *
 * Numbers: integer reads take the leading integer part of the text
 * ("7500.000000" reads 7500, "" and text without digits read 0); values
 * outside the 32-bit range are clamped. Child reads of a missing child
 * succeed with 0 (or "") so that optional elements need no test; use
 * zvXMLFindBranchItem to tell a missing element.
 */
#ifndef ZVAPI_ZV_XML_H
#define ZVAPI_ZV_XML_H

#include "zv_base.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef uintptr_t zvXmlItem;

#define ZV_XML_DOCUMENT ((zvXmlItem)1)

/* positions for zvXMLCreateItem */
#define ZV_XML_FIRST 1 /* as the parent's first child */
#define ZV_XML_LAST 3  /* as the parent's last child */

/* Item 0, and items that are stale or of another document, are refused
 * with ZV_E_HANDLE; the document item where an element is needed with
 * ZV_E_ARGUMENT.
 *
 * Create, then Init (flags 0) before any other call (ZV_E_STATE). */
ZV_API zvStatus zvXMLCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvXMLInit(zvHandle document, int32_t flags);
ZV_API zvStatus zvXMLDestroy(zvHandle document);
/* Parses the whole of an open file (mode read) into the document. */
ZV_API zvStatus zvXMLRead(zvHandle document, zvHandle file);
/* Writes the document into an open file (mode write). */
ZV_API zvStatus zvXMLWrite(zvHandle document, zvHandle file);
/* Text form of the document. With a null `buffer` only `*size` is set to
 * the byte count (no terminator counted). Otherwise writes at most
 * `capacity` bytes and sets `*size` to the full byte count; ZV_E_RANGE when
 * the text did not fit. */
ZV_API zvStatus zvXMLFlatten(zvHandle document, char* buffer, int64_t capacity, int64_t* size);
/* Parses zero-terminated text, replacing the document's tree. */
ZV_API zvStatus zvXMLUnflatten(zvHandle document, const char* text);

/* The root element; `*item` is 0 when the document has none (status 1). */
ZV_API zvStatus zvXMLGetRoot(zvHandle document, zvXmlItem* item);
/* The first element under `parent` reached by `path`, names separated by
 * "\" or "/". `flags` 1 looks among direct children only for a single name,
 * 0 also searches deeper (depth first) for the first name. `*item` is 0
 * when nothing matches (status 1). */
ZV_API zvStatus zvXMLFindBranchItem(zvHandle document, zvXmlItem parent, const char* path, int32_t flags,
                                    zvXmlItem* item);
/* Creates element `name` with text `text` (may be "" or null) under
 * `parent` at `position` (ZV_XML_FIRST or ZV_XML_LAST). ZV_E_ARGUMENT for
 * a name that is not an XML name; ZV_E_STATE for a second root element;
 * ZV_E_RANGE for an element deeper than 256. Text with control characters
 * (other than tab and line ends) is refused with ZV_E_ARGUMENT here and in
 * zvXMLSetItemString: no reader could read it back. */
ZV_API zvStatus zvXMLCreateItem(zvHandle document, zvXmlItem parent, int32_t position, const char* name,
                                const char* text, zvXmlItem* item);
/* Removes the element and everything under it. */
ZV_API zvStatus zvXMLDeleteItem(zvHandle document, zvXmlItem item);
/* First child element / next sibling element; 0 when there is none. */
ZV_API zvStatus zvXMLGetFirstChild(zvHandle document, zvXmlItem item, zvXmlItem* child);
ZV_API zvStatus zvXMLGetNextSibling(zvHandle document, zvXmlItem item, zvXmlItem* sibling);
/* Element name into `buffer`, shortened to size - 1 characters. */
ZV_API zvStatus zvXMLGetItemName(zvHandle document, zvXmlItem item, char* buffer, int32_t size);
/* The element's own text. */
ZV_API zvStatus zvXMLGetItemInt(zvHandle document, zvXmlItem item, int32_t* value);
ZV_API zvStatus zvXMLGetItemFloat(zvHandle document, zvXmlItem item, double* value);
ZV_API zvStatus zvXMLGetItemString(zvHandle document, zvXmlItem item, char* buffer, int32_t size);
ZV_API zvStatus zvXMLSetItemInt(zvHandle document, zvXmlItem item, int32_t value);
/* Writes `value` with `decimals` digits after the point (0 to 17); with 15
 * or more, as the shortest text that reads back as the same double. */
ZV_API zvStatus zvXMLSetItemFloat(zvHandle document, zvXmlItem item, double value, int32_t decimals);
ZV_API zvStatus zvXMLSetItemString(zvHandle document, zvXmlItem item, const char* text);
/* The text of the first child element called `name` (case-sensitive). */
ZV_API zvStatus zvXMLGetChildInt(zvHandle document, zvXmlItem parent, const char* name, int32_t* value);
ZV_API zvStatus zvXMLGetChildFloat(zvHandle document, zvXmlItem parent, const char* name, double* value);
ZV_API zvStatus zvXMLGetChildString(zvHandle document, zvXmlItem parent, const char* name, char* buffer, int32_t size);
/* Sets the first child called `name`, creating it as the last child when
 * there is none. */
ZV_API zvStatus zvXMLSetChildInt(zvHandle document, zvXmlItem parent, const char* name, int32_t value);
ZV_API zvStatus zvXMLSetChildFloat(zvHandle document, zvXmlItem parent, const char* name, double value,
                                   int32_t decimals);

/* Convenience for programs: load a document from a path (the caller owns it
 * and releases it with zvXMLDestroy), its root, a child's text. */
ZV_API zvStatus zvXmlLoad(const char* path, zvHandle* document);
/* ZV_E_NOTFOUND when the document has no root. */
ZV_API zvStatus zvXmlRoot(zvHandle document, zvXmlItem* root);
/* ZV_E_NOTFOUND when the child is missing; ZV_E_RANGE (buffer "") when the
 * text does not fit whole. */
ZV_API zvStatus zvXmlChildText(zvHandle document, zvXmlItem parent, const char* name, char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
