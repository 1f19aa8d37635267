// Images: 8-bit or 32-bit pixels, rows `stride` pixels apart.
#include <cstring>

#include "containers.hpp"

namespace zv {

Object* Image::Clone(Allocator* /*allocator*/) const {
    return MakeCopy<Image>(*this, [&](Image& copy) {
        if (!copy.storage.CopyFrom(storage)) return false;
        copy.pixelType = pixelType;
        copy.pixelSize = pixelSize;
        copy.width = width;
        copy.height = height;
        copy.stride = stride;
        return true;
    });
}

namespace {

Image* GetImage(zvHandle image) { return Get<Image>(image, ZV_TYPE_IMAGE, nullptr); }

}  // namespace

}  // namespace zv

using zv::Image;

extern "C" {

zvStatus zvImageCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<Image>(out, allocator); });
}

zvStatus zvImageInit(zvHandle image, int32_t type, int32_t width, int32_t height, int32_t stride) {
    ZV_ENTER(type, width, height, stride);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        auto* img = zv::Get<Image>(image, ZV_TYPE_IMAGE, &status);
        if (img == nullptr) return status;
        if (type != ZV_TYPE_IMAGE8 && type != ZV_TYPE_IMAGE32) return ZV_E_UNSUPPORTED;
        if (width < 0 || height < 0 || stride < width) return ZV_E_ARGUMENT;
        const int32_t pixelSize = zvTypeSize(type);
        int64_t bytes = 0;
        if (!zv::CheckedBytes(int64_t{stride} * pixelSize, height, &bytes)) return ZV_E_NOMEM;
        // A fresh block: an image initialised again starts cleared too.
        zv::Buffer fresh;
        if (!fresh.Resize(bytes > 0 ? bytes : 1)) return ZV_E_NOMEM;
        img->storage.Swap(fresh);
        img->pixelType = type;
        img->pixelSize = pixelSize;
        img->width = width;
        img->height = height;
        img->stride = stride;
        return ZV_OK;
    });
}

void* zvImageAt(zvHandle image, int32_t x, int32_t y) {
    Image* img = zv::GetImage(image);
    if (img == nullptr || img->pixelType == 0) return nullptr;
    if (x < 0 || x >= img->width || y < 0 || y >= img->height) return nullptr;
    return img->storage.data() + (int64_t{y} * img->stride + x) * img->pixelSize;
}

void* zvImageData(zvHandle image) {
    Image* img = zv::GetImage(image);
    return img ? img->storage.data() : nullptr;
}

zvStatus zvImageZero(zvHandle image) {
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        auto* img = zv::Get<Image>(image, ZV_TYPE_IMAGE, &status);
        if (img == nullptr) return status;
        if (img->pixelType == 0) return ZV_E_STATE;
        std::memset(img->storage.data(), 0, static_cast<size_t>(img->storage.size()));
        return ZV_OK;
    });
}

int32_t zvImageWidth(zvHandle image) {
    Image* img = zv::GetImage(image);
    return img ? img->width : 0;
}

int32_t zvImageHeight(zvHandle image) {
    Image* img = zv::GetImage(image);
    return img ? img->height : 0;
}

int32_t zvImageStride(zvHandle image) {
    Image* img = zv::GetImage(image);
    return img ? img->stride : 0;
}

int32_t zvImageType(zvHandle image) {
    Image* img = zv::GetImage(image);
    return img ? img->pixelType : 0;
}

zvStatus zvImageDestroy(zvHandle image) {
    ZV_ENTER();
    return zv::Guard([&] { return zv::DestroyChecked(image, ZV_TYPE_IMAGE); });
}

}  // extern "C"
