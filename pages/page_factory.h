// The page factory: a page by its identifier (also its dialog template's
// number).
#ifndef TORVANE_PAGES_PAGE_FACTORY_H
#define TORVANE_PAGES_PAGE_FACTORY_H

#include <cstdint>

#include "hostapi/hostapi.hpp"

// A new page of the class of `id`, with no parent window, node or site yet;
// null for an identifier the library does not know or when memory runs out.
hostapi::Page* PageFactory(int32_t id);

#endif
