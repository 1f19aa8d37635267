#include "message_slots.hpp"

namespace zvhost {

MessageSlots::~MessageSlots() { zvArrayListDestroy(list_); }

zvStatus MessageSlots::Fill(const std::vector<zvHandle>& payloads) {
    const auto n = static_cast<int32_t>(payloads.size());
    zvStatus status = ZV_OK;
    if (list_ == nullptr) {
        status = zvArrayListCreate(&list_, nullptr);
        if (status > 0) status = zvArrayListInit(list_, ZV_TYPE_MESSAGE, n, 0);
    }
    while (status > 0 && zvArrayListCount(list_) < n) {
        zvHandle message = nullptr;
        status = zvPipeMsgCreate(&message, nullptr);
        if (status > 0) status = zvArrayListAdd(list_, &message);
        if (status <= 0) zvObjectDestroy(message);
    }
    if (status > 0 && zvArrayListCount(list_) > n) status = zvArrayListResize(list_, n);
    for (int32_t i = 0; i < n; ++i) {
        const auto* slot = status > 0 ? static_cast<const zvHandle*>(zvArrayListAt(list_, i)) : nullptr;
        if (slot != nullptr) status = zvPipeMsgSetData(*slot, payloads[static_cast<size_t>(i)]);
        if (slot == nullptr || status <= 0) {
            for (size_t k = static_cast<size_t>(i); k < payloads.size(); ++k) zvObjectDestroy(payloads[k]);
            Release();
            return slot == nullptr && status > 0 ? ZV_E_STATE : status;
        }
    }
    return ZV_OK;
}

void MessageSlots::Release() {
    for (int32_t i = 0; i < zvArrayListCount(list_); ++i) {
        const auto* slot = static_cast<const zvHandle*>(zvArrayListAt(list_, i));
        if (slot != nullptr) zvPipeMsgSetData(*slot, nullptr);
    }
}

}  // namespace zvhost
