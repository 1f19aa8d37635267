// Result access for the process handlers.
#include "modes/result_access.h"

#include <atomic>

zvStatus MessageResult(zvHandle messages, int32_t index, zvHandle* result) {
    if (result == nullptr) return ZV_E_ARGUMENT;
    *result = nullptr;
    if (zvArrayListItemSize(messages) != static_cast<int32_t>(sizeof(zvHandle))) {
        return zvObjectIs(messages, ZV_TYPE_ARRAYLIST) ? ZV_E_TYPE : ZV_OK;
    }
    auto* slot = static_cast<zvHandle*>(zvArrayListAt(messages, index));
    if (slot == nullptr || !zvObjectIs(*slot, ZV_TYPE_MESSAGE)) return ZV_OK;
    zvHandle payload = nullptr;
    zvStatus status = zvPipeMsgData(*slot, &payload);
    if (status <= 0) return status;
    if (zvObjectIs(payload, ZV_TYPE_ARRAYLIST) && zvArrayListItemType(payload) == ZV_TYPE_RESULT) {
        auto* first = static_cast<zvHandle*>(zvArrayListAt(payload, 0));
        payload = first ? *first : nullptr;
    }
    if (zvObjectIs(payload, ZV_TYPE_RESULT)) *result = payload;
    return ZV_OK;
}

zvStatus ResultArray(zvHandle result, int32_t index, int32_t dimensions, int32_t elementSize, ArrayView* view) {
    if (view == nullptr) return ZV_E_ARGUMENT;
    *view = ArrayView{nullptr, 0, {0, 0, 0}, 0, 0, 0};
    zvHandle array = nullptr;
    zvStatus status = zvResultData(result, index, &array);
    if (status <= 0) return status;
    if (zvArrayDimensions(array) != dimensions) return ZV_E_TYPE;
    const int32_t type = zvArrayElementType(array);
    if (zvTypeSize(type) != elementSize) return ZV_E_TYPE;
    view->dimensions = dimensions;
    view->elementType = type;
    view->elementSize = elementSize;
    int64_t elements = 1;
    for (int32_t d = 0; d < dimensions; ++d) {
        view->length[d] = zvArrayLength(array, d);
        if (view->length[d] < 0) return ZV_E_TYPE;
        elements *= view->length[d];
    }
    view->bytes = zvArrayByteSize(array);
    // The elements the lengths claim must all be there.
    if (view->bytes < elements * elementSize) return ZV_E_RANGE;
    if (elements > 0) {
        switch (dimensions) {
            case 1: view->data = static_cast<const unsigned char*>(zvArray1Data(array)); break;
            case 2: view->data = static_cast<const unsigned char*>(zvArray2At(array, 0, 0)); break;
            default: view->data = static_cast<const unsigned char*>(zvArray3Data(array)); break;
        }
        if (view->data == nullptr) return ZV_E_TYPE;
    }
    return ZV_OK;
}

zvStatus ResultAttribute(zvHandle result, int32_t index, int64_t* value) {
    return zvResultAttributeAt(result, index, value);
}

namespace modes_simd {

namespace {

std::atomic<int> g_limit{2};

}  // namespace

bool HasAvx2() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool has = __builtin_cpu_supports("avx2");
    return has && g_limit.load(std::memory_order_relaxed) >= 1;
#else
    return false;
#endif
}

bool HasAvx512() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool has =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("bmi2");
    return has && g_limit.load(std::memory_order_relaxed) >= 2;
#else
    return false;
#endif
}

void LimitForTesting(int level) { g_limit.store(level, std::memory_order_relaxed); }

}  // namespace modes_simd
