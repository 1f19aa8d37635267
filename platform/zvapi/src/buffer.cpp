// Byte blocks of the containers: bounded, accounted, fault-injectable growth.
#include <cstdlib>
#include <cstring>

#include "containers.hpp"

namespace zv {

Buffer::~Buffer() {
    std::free(data_);
    if (size_ != 0) AccountBytes(-size_);
}

bool Buffer::Resize(int64_t bytes) {
    if (bytes < 0 || bytes > kMaxContainerBytes) return false;
    if (bytes == size_) return true;
    if (bytes == 0) {
        std::free(data_);
        AccountBytes(-size_);
        data_ = nullptr;
        size_ = 0;
        return true;
    }
    if (bytes > size_ && !AllocationAllowed()) return false;
    auto* grown = static_cast<unsigned char*>(std::realloc(data_, static_cast<size_t>(bytes)));
    if (grown == nullptr) return false;
    if (bytes > size_) std::memset(grown + size_, 0, static_cast<size_t>(bytes - size_));
    AccountBytes(bytes - size_);
    data_ = grown;
    size_ = bytes;
    return true;
}

bool Buffer::CopyFrom(const Buffer& other) {
    if (other.size_ == 0) return Resize(0);
    if (!AllocationAllowed()) return false;
    auto* copy = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(other.size_)));
    if (copy == nullptr) return false;
    std::memcpy(copy, other.data_, static_cast<size_t>(other.size_));
    std::free(data_);
    AccountBytes(other.size_ - size_);
    data_ = copy;
    size_ = other.size_;
    return true;
}

bool CheckedBytes(int64_t a, int64_t b, int64_t* out) {
    if (a < 0 || b < 0) return false;
    if (a != 0 && b > kMaxContainerBytes / a) return false;
    *out = a * b;
    return *out <= kMaxContainerBytes;
}

bool RegisterChild(Object* container, Object* child) {
    if (Register(child, nullptr) == nullptr) return false;
    Adopt(container, child);
    return true;
}

}  // namespace zv
