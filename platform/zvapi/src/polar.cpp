// Polar outlines and polar models: the cross-sections of a detected object
// and the stack of them that the polar model display draws.
#include <cstring>
#include <new>
#include <vector>

#include "accessors.hpp"
#include "containers.hpp"
#include "zvapi/zv_plot.h"

namespace zv {

namespace {

// Radii per outline are bounded so that a model of many slices stays within
// what one container may hold.
constexpr int32_t kMaxOutlinePoints = 1 << 20;

}  // namespace

struct Polar final : Object {
    Polar() : Object(ZV_TYPE_POLAR) {}
    Object* Clone(Allocator* allocator) const override;
    int64_t StorageBytes() const override { return radii.size(); }

    int32_t* points() const { return reinterpret_cast<int32_t*>(radii.data()); }

    bool initialised = false;
    int32_t count = 0;
    int32_t center[3] = {0, 0, 0};
    Buffer radii;  // count int32 values
};

struct PolarModel final : Object {
    PolarModel() : Object(ZV_TYPE_POLARMODEL) {}
    ~PolarModel() override;
    Object* Clone(Allocator* allocator) const override;
    int64_t StorageBytes() const override { return accounted; }

    // Keeps the live-byte accounting in step with the slice list's storage.
    void Account() {
        const auto now = static_cast<int64_t>(slices.capacity() * sizeof(Polar*));
        AccountBytes(now - accounted);
        accounted = now;
    }

    bool initialised = false;
    int32_t pointsPerOutline = 0;
    int32_t smoothing = 0;
    std::vector<Polar*> slices;  // owned, registered
    int64_t accounted = 0;
};

Object* Polar::Clone(Allocator* /*allocator*/) const {
    return MakeCopy<Polar>(*this, [&](Polar& copy) {
        if (!copy.radii.CopyFrom(radii)) return false;
        copy.initialised = initialised;
        copy.count = count;
        std::memcpy(copy.center, center, sizeof center);
        return true;
    });
}

PolarModel::~PolarModel() {
    for (Polar* slice : slices) Delete(slice);
    slices.clear();
    AccountBytes(-accounted);
}

Object* PolarModel::Clone(Allocator* /*allocator*/) const {
    return MakeCopy<PolarModel>(*this, [&](PolarModel& copy) {
        copy.initialised = initialised;
        copy.pointsPerOutline = pointsPerOutline;
        copy.smoothing = smoothing;
        if (!AllocationAllowed()) return false;
        copy.slices.reserve(slices.size());
        copy.Account();
        // Only registered children go into the list: the destructor
        // deletes through the registry.
        return CloneChildren(&copy, slices, copy.slices);
    });
}

}  // namespace zv

namespace {

zv::Polar* PolarOf(zvHandle polar, zvStatus* status) { return zv::Get<zv::Polar>(polar, ZV_TYPE_POLAR, status); }

zv::PolarModel* ModelOf(zvHandle model, zvStatus* status) {
    return zv::Get<zv::PolarModel>(model, ZV_TYPE_POLARMODEL, status);
}

// An outline that may still change: live, not sent and not part of a model.
zv::Polar* WritablePolar(zvHandle polar, zvStatus* status) {
    zv::Polar* p = PolarOf(polar, status);
    if (p == nullptr) return nullptr;
    if (p->sent || p->container != nullptr) {
        *status = ZV_E_STATE;
        return nullptr;
    }
    return p;
}

}  // namespace

extern "C" {

zvStatus zvPolarCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<zv::Polar>(out, allocator); });
}

zvStatus zvPolarInit(zvHandle polar, int32_t count) {
    ZV_ENTER(count);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Polar* p = WritablePolar(polar, &status);
        if (p == nullptr) return status;
        if (count < 1 || count > zv::kMaxOutlinePoints) return ZV_E_ARGUMENT;
        // Re-initialising starts from cleared radii.
        if (!p->radii.Resize(0) || !p->radii.Resize(int64_t{count} * 4)) return ZV_E_NOMEM;
        p->count = count;
        p->initialised = true;
        return ZV_OK;
    });
}

zvStatus zvPolarSetCenter(zvHandle polar, int32_t x, int32_t y, int32_t z) {
    ZV_ENTER(x, y, z);
    zvStatus status = ZV_OK;
    zv::Polar* p = WritablePolar(polar, &status);
    if (p == nullptr) return status;
    if (!p->initialised) return ZV_E_STATE;
    p->center[0] = x;
    p->center[1] = y;
    p->center[2] = z;
    return ZV_OK;
}

int32_t* zvPolarPoints(zvHandle polar) {
    ZV_ENTER_OR(nullptr);
    zv::Polar* p = PolarOf(polar, nullptr);
    if (p == nullptr || !p->initialised) return nullptr;
    return p->points();
}

int32_t zvPolarCount(zvHandle polar) {
    zv::Polar* p = PolarOf(polar, nullptr);
    return p ? p->count : 0;
}

zvStatus zvPolarCenter(zvHandle polar, int32_t* x, int32_t* y, int32_t* z) {
    zvStatus status = ZV_OK;
    zv::Polar* p = PolarOf(polar, &status);
    if (p == nullptr) return status;
    if (x == nullptr || y == nullptr || z == nullptr) return ZV_E_ARGUMENT;
    *x = p->center[0];
    *y = p->center[1];
    *z = p->center[2];
    return ZV_OK;
}

zvStatus zvPolarDestroy(zvHandle polar) {
    ZV_ENTER();
    return zv::DestroyChecked(polar, ZV_TYPE_POLAR);
}

zvStatus zvPolarModelCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<zv::PolarModel>(out, allocator); });
}

zvStatus zvPolarModelInit(zvHandle model, int32_t pointsPerOutline, int32_t smoothing) {
    ZV_ENTER(pointsPerOutline, smoothing);
    zvStatus status = ZV_OK;
    zv::PolarModel* m = ModelOf(model, &status);
    if (m == nullptr) return status;
    if (m->sent || !m->slices.empty()) return ZV_E_STATE;  // its outlines fix the shape
    if (pointsPerOutline < 1 || pointsPerOutline > zv::kMaxOutlinePoints) return ZV_E_ARGUMENT;
    if (smoothing < 0 || smoothing > 10) return ZV_E_ARGUMENT;
    m->pointsPerOutline = pointsPerOutline;
    m->smoothing = smoothing;
    m->initialised = true;
    return ZV_OK;
}

zvStatus zvPolarModelAdd(zvHandle model, zvHandle polar) {
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::PolarModel* m = ModelOf(model, &status);
        if (m == nullptr) return status;
        if (!m->initialised || m->sent) return ZV_E_STATE;
        zv::Polar* p = PolarOf(polar, &status);
        if (p == nullptr) return status;
        // An outline belongs to one owner: not sent, not in a model already.
        if (p->sent || p->container != nullptr || !p->initialised) return ZV_E_STATE;
        if (p->count != m->pointsPerOutline) return ZV_E_ARGUMENT;
        if (m->slices.size() >= static_cast<size_t>(INT32_MAX)) return ZV_E_RANGE;
        if (!zv::AllocationAllowed()) return ZV_E_NOMEM;
        m->slices.push_back(p);
        m->Account();
        zv::Adopt(m, p);
        return ZV_OK;
    });
}

zvStatus zvPolarModelSliceCount(zvHandle model, int32_t* count) {
    ZV_ENTER();
    return zv::ReadOut<zv::PolarModel>(model, ZV_TYPE_POLARMODEL, count, 0, [](const zv::PolarModel& m, int32_t& out) {
        out = static_cast<int32_t>(m.slices.size());
        return ZV_OK;
    });
}

zvHandle zvPolarModelSliceAt(zvHandle model, int32_t index) {
    zv::PolarModel* m = ModelOf(model, nullptr);
    zv::Polar* const* slice = m ? zv::ItemAt(m->slices, index) : nullptr;
    return slice ? zv::ToHandle(*slice) : nullptr;
}

int32_t zvPolarModelPointsPerOutline(zvHandle model) {
    zv::PolarModel* m = ModelOf(model, nullptr);
    return m ? m->pointsPerOutline : 0;
}

int32_t zvPolarModelSmoothing(zvHandle model) {
    zv::PolarModel* m = ModelOf(model, nullptr);
    return m ? m->smoothing : 0;
}

zvStatus zvPolarModelDestroy(zvHandle model) {
    ZV_ENTER();
    return zv::DestroyChecked(model, ZV_TYPE_POLARMODEL);
}

}  // extern "C"
