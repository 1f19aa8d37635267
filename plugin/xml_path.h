// Path operations on zvApi XML documents: find a child element by name, and
// find or create a chain of nested elements named by a path ("A/B\C"). The
// default settings writer builds its document with them.
#ifndef TORVANE_PLUGIN_XML_PATH_H
#define TORVANE_PLUGIN_XML_PATH_H

#include <cstdint>

#include "zvapi/zvapi.h"

// The longest path XmlFindOrCreatePath looks at; longer paths are cut here.
inline constexpr int32_t kXmlPathMax = 127;

// Finds the first direct child of `parent` whose element name, read into a
// buffer of exactly strlen(name) + 1 characters, equals `name`
// (case-sensitive; a longer name that the platform shortens to `name`
// matches too). `*child` is 0 before anything can fail and stays 0 when no
// child matches. Returns 1; 0 when the name buffer cannot be allocated; a
// failing platform status unchanged; ZV_E_ARGUMENT for a null name or out.
zvStatus XmlFindChild(zvHandle document, zvXmlItem parent, const char* name, zvXmlItem* child);

// Walks from `parent` along the element names of `path` (separated by "\"
// or "/", empty names skipped; at most kXmlPathMax characters are used),
// creating each missing element as the last child of the one before.
// `*element` gets the element reached (`parent` for an empty path). On a
// failure `*element` is 0; elements created before the failure stay in the
// document.
zvStatus XmlFindOrCreatePath(zvHandle document, zvXmlItem parent, const char* path, zvXmlItem* element);

// XmlFindOrCreatePath, then set the element's text / integer / floating
// value (with `decimals` digits after the point). Return 1 or the first
// failing status.
zvStatus XmlSetPathString(zvHandle document, zvXmlItem parent, const char* path, const char* text);
zvStatus XmlSetPathInt(zvHandle document, zvXmlItem parent, const char* path, int32_t value);
zvStatus XmlSetPathFloat(zvHandle document, zvXmlItem parent, const char* path, double value, int32_t decimals);

#endif
