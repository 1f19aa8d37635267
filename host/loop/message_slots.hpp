// The messages of a batch, reused from batch to batch: a batch's payloads
// are put into them for one process call and released afterwards, while
// the messages and their list stay. A long run thus makes no messages of
// its own per batch.
#ifndef ZVHOST_MESSAGE_SLOTS_HPP
#define ZVHOST_MESSAGE_SLOTS_HPP

#include <vector>

#include "zvapi/zv_handle.hpp"
#include "zvapi/zvapi.h"

namespace zvhost {

class MessageSlots {
public:
    MessageSlots() = default;
    ~MessageSlots() = default;
    MessageSlots(const MessageSlots&) = delete;
    MessageSlots& operator=(const MessageSlots&) = delete;

    // One message per payload, in order. Takes the payloads whatever
    // happens: on failure those not yet in a message are destroyed.
    zvStatus Fill(const std::vector<zvHandle>& payloads);
    // The list of messages for the process handler.
    zvHandle List() const { return list_.Get(); }
    // Destroys the payloads of the last batch.
    void Release();

private:
    zv::OwnedList list_;
};

}  // namespace zvhost

#endif
