// Results as short text for comparing them: the id, the attributes, and per
// array its element type, lengths and a hash of its elements. Two results
// with the same text hold the same numbers (but for hash collisions).
#ifndef TESTS_SUPPORT_RESULT_TEXT_HPP
#define TESTS_SUPPORT_RESULT_TEXT_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"

namespace zvtest {

inline std::string ResultText(zvHandle result) {
    int64_t id = 0;
    int32_t attributes = 0;
    int32_t arrays = 0;
    if (zvResultId(result, &id) <= 0) return "(not a result)";
    zvResultAttributeCount(result, &attributes);
    zvResultCount(result, &arrays);
    std::string text = "id " + std::to_string(id) + " [";
    for (int32_t i = 0; i < attributes; ++i) {
        int64_t value = 0;
        zvResultAttributeAt(result, i, &value);
        text += (i > 0 ? " " : "") + std::to_string(value);
    }
    text += "]";
    for (int32_t a = 0; a < arrays; ++a) {
        zvHandle array = nullptr;
        zvResultData(result, a, &array);
        const int32_t dims = zvArrayDimensions(array);
        text += " type " + std::to_string(zvArrayElementType(array)) + " (";
        for (int32_t d = 0; d < dims; ++d) text += (d > 0 ? "x" : "") + std::to_string(zvArrayLength(array, d));
        const int64_t bytes = zvArrayByteSize(array);
        const uint8_t* data = nullptr;
        if (bytes > 0) {
            data = static_cast<const uint8_t*>(dims == 1   ? zvArray1Data(array)
                                               : dims == 2 ? zvArray2At(array, 0, 0)
                                                           : zvArray3Data(array));
        }
        uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (int64_t i = 0; data != nullptr && i < bytes; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
        text += ") " + std::to_string(hash);
    }
    return text;
}

inline std::string ResultsText(const std::vector<zvHandle>& results) {
    std::string text;
    for (zvHandle r : results) text += ResultText(r) + "\n";
    return text;
}

}  // namespace zvtest

#endif
