// Strings: a growable zero-terminated text.
#include <cstring>

#include "containers.hpp"

namespace zv {

bool String::Assign(const char* text, int64_t textLength) {
    if (textLength + 1 > storage.size() && !storage.Resize(textLength + 1)) return false;
    if (textLength > 0) std::memcpy(storage.data(), text, static_cast<size_t>(textLength));
    storage.data()[textLength] = '\0';
    length = textLength;
    return true;
}

Object* String::Clone(Allocator* /*allocator*/) const {
    return MakeCopy<String>(*this, [&](String& copy) { return length == 0 || copy.Assign(chars(), length); });
}

}  // namespace zv

using zv::String;

extern "C" {

zvStatus zvStringCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<String>(out, allocator); });
}

zvStatus zvStringInit(zvHandle string, int32_t capacity) {
    ZV_ENTER(capacity);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        auto* s = zv::Get<String>(string, ZV_TYPE_STRING, &status);
        if (s == nullptr) return status;
        if (capacity < 0) return ZV_E_ARGUMENT;
        const int64_t wanted = int64_t{capacity} + 1;
        if (wanted > s->storage.size() && !s->storage.Resize(wanted)) return ZV_E_NOMEM;
        return ZV_OK;
    });
}

zvStatus zvStringImport(zvHandle string, const char* text) {
    ZV_ENTER(text ? static_cast<int64_t>(std::strlen(text)) : int64_t{-1});
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        auto* s = zv::Get<String>(string, ZV_TYPE_STRING, &status);
        if (s == nullptr) return status;
        if (text == nullptr) return ZV_E_ARGUMENT;
        const size_t length = std::strlen(text);
        if (length >= static_cast<size_t>(zv::kMaxContainerBytes)) return ZV_E_NOMEM;
        // Text inside the string's own block (a caller re-importing Chars)
        // always fits, so the block only moves for outside text.
        const int64_t n = static_cast<int64_t>(length);
        if (n + 1 > s->storage.size()) return s->Assign(text, n) ? ZV_OK : ZV_E_NOMEM;
        std::memmove(s->storage.data(), text, length);
        s->storage.data()[length] = '\0';
        s->length = n;
        return ZV_OK;
    });
}

const char* zvStringChars(zvHandle string) {
    auto* s = zv::Get<String>(string, ZV_TYPE_STRING, nullptr);
    return s ? s->chars() : nullptr;
}

}  // extern "C"
