#include "results.hpp"

#include <cstring>

namespace zv::station {

void* ArrayElements(zvHandle array) {
    switch (zvArrayDimensions(array)) {
        case 1: return zvArray1Data(array);
        case 2: return zvArray2At(array, 0, 0);
        case 3: return zvArray3Data(array);
        default: return nullptr;
    }
}

zvStatus ResultBuilder::Init(int64_t id, const std::vector<int64_t>& attributes) {
    zvStatus status = zvResultCreate(&result_, nullptr);
    if (status <= 0) return status;
    return zvResultInit(result_, id, attributes.empty() ? nullptr : attributes.data(),
                        static_cast<int32_t>(attributes.size()));
}

zvStatus ResultBuilder::AddData(zvHandle array) {
    const zvStatus status = zvResultAddData(result_, array);
    if (status <= 0) zvObjectDestroy(array);
    return status;
}

void* ResultBuilder::AddArray(int32_t type, const std::vector<int32_t>& lengths, zvStatus* status) {
    zvHandle array = nullptr;
    *status = zvArrayCreate(&array, nullptr, type, static_cast<int32_t>(lengths.size()), lengths.data());
    if (*status <= 0) return nullptr;
    *status = zvResultAddData(result_, array);
    if (*status <= 0) {
        zvObjectDestroy(array);
        return nullptr;
    }
    void* data = ArrayElements(array);
    const int64_t bytes = zvArrayByteSize(array);
    if (data == nullptr && bytes > 0) {
        *status = ZV_E_STATE;
        return nullptr;
    }
    // An array with an empty dimension has no elements; hand back a valid
    // address all the same so callers need no special case.
    static unsigned char empty;
    if (data == nullptr) return &empty;
    std::memset(data, 0, static_cast<size_t>(bytes));
    return data;
}

}  // namespace zv::station
