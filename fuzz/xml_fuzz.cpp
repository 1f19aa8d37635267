// XML parsing of arbitrary text: never a crash, the text check's quick
// route answers as its byte-wise pass does, and whatever parses writes
// text that parses again. The second writing is a fixed point (the first
// may still normalise line ends given as character references).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

std::string Flatten(zvHandle doc) {
    int64_t size = 0;
    if (zvXMLFlatten(doc, nullptr, 0, &size) <= 0) std::abort();
    std::string text(static_cast<size_t>(size) + 1, '\0');
    if (zvXMLFlatten(doc, text.data(), size + 1, &size) <= 0) std::abort();
    text.resize(static_cast<size_t>(size));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool quickDeep = true, slowDeep = true;
    const bool quick = zv::testing::XmlTextCheck(text, false, &quickDeep);
    if (quick != zv::testing::XmlTextCheck(text, true, &slowDeep) || (quick && quickDeep != slowDeep)) std::abort();
    zvHandle doc = nullptr;
    if (zvXMLCreate(&doc, nullptr) <= 0 || zvXMLInit(doc, 0) <= 0) std::abort();
    if (zvXMLUnflatten(doc, text.c_str()) > 0) {
        // Walk the tree the way the settings reader does.
        zvXmlItem item = 0;
        zvXMLGetRoot(doc, &item);
        char name[16];
        int32_t value = 0;
        for (zvXmlItem child = 0; zvXMLGetFirstChild(doc, item, &child) > 0 && child != 0; item = child) {
            zvXMLGetItemName(doc, child, name, sizeof name);
            zvXMLGetItemInt(doc, child, &value);
            zvXMLGetChildInt(doc, child, name, &value);
        }
        const std::string first = Flatten(doc);
        if (zvXMLUnflatten(doc, first.c_str()) <= 0) std::abort();
        const std::string second = Flatten(doc);
        if (zvXMLUnflatten(doc, second.c_str()) <= 0) std::abort();
        if (Flatten(doc) != second) std::abort();
    }
    zvXMLDestroy(doc);
    return 0;
}
