#include "message_slots.hpp"

namespace zvhost {

zvStatus MessageSlots::Fill(const std::vector<zvHandle>& payloads) {
    const auto n = static_cast<int32_t>(payloads.size());
    zvStatus status = ZV_OK;
    if (!list_) {
        status = zvArrayListCreate(list_.Out(), nullptr);
        if (status > 0) status = zvArrayListInit(list_, ZV_TYPE_MESSAGE, n, 0);
    }
    while (status > 0 && zvArrayListCount(list_) < n) {
        zv::OwnedObject message;
        status = zvPipeMsgCreate(message.Out(), nullptr);
        zvHandle added = message.Get();
        if (status > 0) status = zvArrayListAdd(list_, &added);
        if (status > 0) message.Release();  // the list's now
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
