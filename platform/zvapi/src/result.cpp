// Results: a 64-bit id, 64-bit attributes and the data arrays they own.
#include <limits>
#include <new>

#include "accessors.hpp"
#include "containers.hpp"
#include "pipe.hpp"

namespace zv {

Result::~Result() {
    AccountBytes(-static_cast<int64_t>(attributes.capacity() * sizeof(int64_t)));
    for (Object* array : data) Delete(array);
}

int64_t Result::StorageBytes() const { return static_cast<int64_t>(attributes.capacity() * sizeof(int64_t)); }

Object* Result::Clone(Allocator* /*allocator*/) const {
    return MakeCopy<Result>(*this, [&](Result& copy) {
        copy.id = id;
        copy.attributes = attributes;
        AccountBytes(static_cast<int64_t>(copy.attributes.capacity() * sizeof(int64_t)));
        return CloneChildren(&copy, data, copy.data);
    });
}

}  // namespace zv

namespace {

zv::Result* ResultOf(zvHandle result, zvStatus* status) { return zv::Get<zv::Result>(result, ZV_TYPE_RESULT, status); }

// Answers through `out` from a live result (see zv::ReadOut).
template <class Out, class Read>
zvStatus ReadResult(zvHandle result, Out* out, std::type_identity_t<Out> cleared, Read&& read) {
    return zv::ReadOut<zv::Result>(result, ZV_TYPE_RESULT, out, cleared, read);
}

}  // namespace

extern "C" {

zvStatus zvResultCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<zv::Result>(out, allocator); });
}

zvStatus zvResultInit(zvHandle result, int64_t id, const int64_t* attributes, int32_t count) {
    ZV_ENTER(id, count);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Result* r = ResultOf(result, &status);
        if (r == nullptr) return status;
        if (count < 0 || (count > 0 && attributes == nullptr)) return ZV_E_ARGUMENT;
        if (!zv::AllocationAllowed()) return ZV_E_NOMEM;
        const int64_t before = r->StorageBytes();
        r->id = id;
        r->attributes.assign(attributes, attributes + count);
        zv::AccountBytes(r->StorageBytes() - before);
        return ZV_OK;
    });
}

zvStatus zvResultAddData(zvHandle result, zvHandle array) {
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Result* r = ResultOf(result, &status);
        if (r == nullptr) return status;
        // Any object may be carried; readers check what they get.
        zv::Object* a = zv::Lookup(array, 0, &status);
        if (a == nullptr) return status;
        if (a == r || a->container != nullptr || a->sent || a->allocator != nullptr) return ZV_E_STATE;
        if (r->data.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) return ZV_E_RANGE;
        if (!zv::AllocationAllowed()) return ZV_E_NOMEM;
        r->data.push_back(a);
        zv::Adopt(r, a);
        return ZV_OK;
    });
}

zvStatus zvResultId(zvHandle result, int64_t* id) {
    ZV_ENTER();
    return ReadResult(result, id, 0, [](const zv::Result& r, int64_t& out) {
        out = r.id;
        return ZV_OK;
    });
}

zvStatus zvResultCount(zvHandle result, int32_t* count) {
    ZV_ENTER();
    return ReadResult(result, count, 0, [](const zv::Result& r, int32_t& out) {
        out = static_cast<int32_t>(r.data.size());
        return ZV_OK;
    });
}

zvStatus zvResultData(zvHandle result, int32_t index, zvHandle* array) {
    ZV_ENTER(index);
    return ReadResult(result, array, nullptr, [index](const zv::Result& r, zvHandle& out) {
        zv::Object* const* item = zv::ItemAt(r.data, index);
        if (item == nullptr) return ZV_E_RANGE;
        out = zv::ToHandle(*item);
        return ZV_OK;
    });
}

zvStatus zvResultAttributes(zvHandle result, const int64_t** attributes) {
    ZV_ENTER();
    return ReadResult(result, attributes, nullptr, [](const zv::Result& r, const int64_t*& out) {
        out = r.attributes.data();
        return ZV_OK;
    });
}

zvStatus zvResultAttributeCount(zvHandle result, int32_t* count) {
    ZV_ENTER();
    return ReadResult(result, count, 0, [](const zv::Result& r, int32_t& out) {
        out = static_cast<int32_t>(r.attributes.size());
        return ZV_OK;
    });
}

zvStatus zvResultAttributeAt(zvHandle result, int32_t index, int64_t* value) {
    ZV_ENTER(index);
    return ReadResult(result, value, 0,
                      [index](const zv::Result& r, int64_t& out) { return zv::CopyItem(r.attributes, index, &out); });
}

}  // extern "C"
