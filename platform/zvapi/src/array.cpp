// Arrays of one to three dimensions, stored row by row.
#include <cstring>
#include <string>

#include "containers.hpp"

namespace zv {

Object* Array::Clone(Allocator* /*allocator*/) const {
    return MakeCopy<Array>(*this, [&](Array& copy) {
        if (!copy.storage.CopyFrom(storage)) return false;
        copy.elementType = elementType;
        copy.elementSize = elementSize;
        copy.dimensions = dimensions;
        std::memcpy(copy.lengths, lengths, sizeof lengths);
        copy.bytes = bytes;
        return true;
    });
}

namespace {

std::string Shape(int32_t dimensions, const int32_t* lengths) {
    if (lengths == nullptr || dimensions < 1 || dimensions > 3) return "-";
    std::string shape;
    for (int32_t d = 0; d < dimensions; ++d) {
        if (d > 0) shape += 'x';
        shape += std::to_string(lengths[d]);
    }
    return shape;
}

zvStatus MakeArray(zvHandle* out, zvAllocator allocator, int32_t elementType, int32_t dimensions,
                   const int32_t* lengths) {
    if (out == nullptr) return ZV_E_ARGUMENT;
    *out = nullptr;
    const int32_t size = zvTypeSize(elementType);
    if (size <= 0) return ZV_E_UNSUPPORTED;
    if (dimensions < 1 || dimensions > 3 || lengths == nullptr) return ZV_E_ARGUMENT;
    int64_t bytes = size;
    for (int32_t d = 0; d < dimensions; ++d) {
        if (lengths[d] < 0) return ZV_E_ARGUMENT;
        if (!CheckedBytes(bytes, lengths[d], &bytes)) return ZV_E_NOMEM;
    }
    zvHandle handle = nullptr;
    zvStatus status = Create<Array>(&handle, allocator);
    if (status <= 0) return status;
    auto* a = static_cast<Array*>(FromHandle(handle));
    // At least one byte, so that a live array's data is never null.
    if (!a->storage.Resize(bytes > 0 ? bytes : 1)) {
        Delete(a);
        return ZV_E_NOMEM;
    }
    a->elementType = elementType;
    a->elementSize = size;
    a->dimensions = dimensions;
    for (int32_t d = 0; d < dimensions; ++d) a->lengths[d] = lengths[d];
    a->bytes = bytes;
    *out = handle;
    return ZV_OK;
}

Array* GetArray(zvHandle array, int32_t dimensions) {
    Array* a = Get<Array>(array, ZV_TYPE_ARRAY, nullptr);
    if (a == nullptr || (dimensions != 0 && a->dimensions != dimensions)) return nullptr;
    return a;
}

void* Element(Array* a, int64_t linear) { return a->storage.data() + linear * a->elementSize; }

bool InRange(int32_t index, int32_t length) { return index >= 0 && index < length; }

}  // namespace

}  // namespace zv

using zv::Array;

extern "C" {

zvStatus zvArrayCreate(zvHandle* out, zvAllocator allocator, int32_t elementType, int32_t dimensions,
                       const int32_t* lengths) {
    if (out != nullptr) *out = nullptr;
    ZV_ENTER(elementType, dimensions, zv::Shape(dimensions, lengths));
    return zv::Guard([&] { return zv::MakeArray(out, allocator, elementType, dimensions, lengths); });
}

zvStatus zvArray1Create(zvHandle* out, zvAllocator allocator, int32_t elementType, int32_t length) {
    if (out != nullptr) *out = nullptr;
    ZV_ENTER(elementType, length);
    return zv::Guard([&] { return zv::MakeArray(out, allocator, elementType, 1, &length); });
}

zvStatus zvArrayDestroy(zvHandle array) {
    ZV_ENTER();
    return zv::Guard([&] { return zv::DestroyChecked(array, ZV_TYPE_ARRAY); });
}

int32_t zvArrayDimensions(zvHandle array) {
    Array* a = zv::GetArray(array, 0);
    return a ? a->dimensions : 0;
}

int32_t zvArrayElementType(zvHandle array) {
    Array* a = zv::GetArray(array, 0);
    return a ? a->elementType : 0;
}

int32_t zvArrayLength(zvHandle array, int32_t dimension) {
    Array* a = zv::GetArray(array, 0);
    if (a == nullptr || dimension < 0 || dimension >= a->dimensions) return 0;
    return a->lengths[dimension];
}

int64_t zvArrayByteSize(zvHandle array) {
    Array* a = zv::GetArray(array, 0);
    return a ? a->bytes : 0;
}

void* zvArray1At(zvHandle array, int32_t i) {
    Array* a = zv::GetArray(array, 1);
    if (a == nullptr || !zv::InRange(i, a->lengths[0])) return nullptr;
    return zv::Element(a, i);
}

void* zvArray1Data(zvHandle array) {
    Array* a = zv::GetArray(array, 1);
    return a ? a->storage.data() : nullptr;
}

void* zvArray2At(zvHandle array, int32_t i, int32_t j) {
    Array* a = zv::GetArray(array, 2);
    if (a == nullptr || !zv::InRange(i, a->lengths[0]) || !zv::InRange(j, a->lengths[1])) return nullptr;
    return zv::Element(a, int64_t{i} * a->lengths[1] + j);
}

int32_t zvArray2Length(zvHandle array, int32_t dimension) {
    Array* a = zv::GetArray(array, 2);
    if (a == nullptr || dimension < 0 || dimension >= 2) return 0;
    return a->lengths[dimension];
}

void* zvArray3At(zvHandle array, int32_t i, int32_t j, int32_t k) {
    Array* a = zv::GetArray(array, 3);
    if (a == nullptr || !zv::InRange(i, a->lengths[0]) || !zv::InRange(j, a->lengths[1]) ||
        !zv::InRange(k, a->lengths[2]))
        return nullptr;
    return zv::Element(a, (int64_t{i} * a->lengths[1] + j) * a->lengths[2] + k);
}

void* zvArray3Data(zvHandle array) {
    Array* a = zv::GetArray(array, 3);
    return a ? a->storage.data() : nullptr;
}

int32_t zvArray3Length(zvHandle array, int32_t dimension) {
    Array* a = zv::GetArray(array, 3);
    if (a == nullptr || dimension < 0 || dimension >= 3) return 0;
    return a->lengths[dimension];
}

}  // extern "C"
