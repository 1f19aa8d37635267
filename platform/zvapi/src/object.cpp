// Handle registry, ownership, seams, memory and the base entry points.
#include "object.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "zvapi/zvapi_testing.hpp"

namespace zv {

std::atomic<bool> g_seamsActive{false};

namespace {

struct Registry {
    std::recursive_mutex mutex;
    std::unordered_set<const Object*> live;
    std::map<int32_t, int64_t> perType;
    int64_t engineOwned = 0;
};

Registry& registry() {
    static Registry* r = new Registry;  // lives to the end of the process
    return *r;
}

struct Seams {
    std::mutex mutex;
    bool journalOn = false;
    std::vector<std::string> journal;
    struct Fault {
        std::string name;
        int remaining;
        zvStatus status;
    };
    std::vector<Fault> faults;
    int allocationCountdown = 0;  // 0: none armed
    std::atomic<int64_t> bytes{0};
};

Seams& seams() {
    static Seams* s = new Seams;
    return *s;
}

void UpdateActive(Seams& s) {
    g_seamsActive.store(s.journalOn || !s.faults.empty() || s.allocationCountdown > 0,
                        std::memory_order_relaxed);
}

}  // namespace

int initializeCount = 0;

Allocator::~Allocator() {
    // The engine ends: release what it still owns. Copy first, since each
    // deletion edits the set.
    std::vector<Object*> remaining(objects.begin(), objects.end());
    objects.clear();
    for (Object* o : remaining) {
        {
            Registry& r = registry();
            std::lock_guard lock(r.mutex);
            if (r.live.count(o) == 0) continue;
            o->allocator = nullptr;
            r.engineOwned--;
        }
        if (o->container == nullptr) Delete(o);  // a container deletes its own children
    }
}

bool IsLive(const Object* object) {
    if (object == nullptr) return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.live.count(object) != 0;
}

zvHandle Register(Object* object, zvAllocator allocator) {
    if (!AllocationAllowed()) {
        delete object;
        return nullptr;
    }
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.live.insert(object);
    r.perType[object->type]++;
    if (allocator != nullptr) {
        auto* a = static_cast<Allocator*>(FromHandle(allocator));
        object->allocator = a;
        a->objects.insert(object);
        r.engineOwned++;
    }
    return ToHandle(object);
}

void Delete(Object* object) {
    if (object == nullptr) return;
    Registry& r = registry();
    {
        std::lock_guard lock(r.mutex);
        if (r.live.erase(object) == 0) return;
        r.perType[object->type]--;
        if (object->allocator != nullptr) {
            object->allocator->objects.erase(object);
            r.engineOwned--;
        }
    }
    delete object;
}

Object* Lookup(zvHandle handle, int32_t type, zvStatus* status) {
    Object* o = FromHandle(handle);
    if (!IsLive(o)) {
        if (status) *status = ZV_E_HANDLE;
        return nullptr;
    }
    if (type != 0 && o->type != type) {
        if (status) *status = ZV_E_TYPE;
        return nullptr;
    }
    return o;
}

zvStatus DestroyChecked(zvHandle handle, int32_t type) {
    if (handle == nullptr) return ZV_OK;
    zvStatus status = ZV_OK;
    Object* o = Lookup(handle, type, &status);
    if (o == nullptr) return status;
    if (o->container != nullptr || o->sent) return ZV_E_STATE;
    Delete(o);
    return ZV_OK;
}

void Adopt(Object* container, Object* child) {
    if (child != nullptr) child->container = container;
}

bool AllocationAllowed() {
    if (!g_seamsActive.load(std::memory_order_relaxed)) return true;
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    if (s.allocationCountdown <= 0) return true;
    if (--s.allocationCountdown == 0) {
        UpdateActive(s);
        return false;
    }
    return true;
}

void AccountBytes(int64_t delta) { seams().bytes.fetch_add(delta, std::memory_order_relaxed); }

bool JournalOn() {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    return s.journalOn;
}

void JournalRecord(std::string entry) {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    if (s.journalOn) s.journal.push_back(std::move(entry));
}

bool InjectedFault(const char* name, zvStatus* status) {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    for (auto it = s.faults.begin(); it != s.faults.end(); ++it) {
        if (it->name != name) continue;
        if (--it->remaining > 0) return false;
        *status = it->status;
        s.faults.erase(it);
        UpdateActive(s);
        return true;
    }
    return false;
}

}  // namespace zv

// ---- Test seams --------------------------------------------------------------
namespace zv::testing {

void JournalStart() {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    s.journalOn = true;
    UpdateActive(s);
}

void JournalStop() {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    s.journalOn = false;
    UpdateActive(s);
}

void JournalClear() {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    s.journal.clear();
}

std::vector<std::string> Journal() {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    return s.journal;
}

std::vector<std::string> JournalOf(const std::string& name) {
    std::vector<std::string> out;
    for (const std::string& e : Journal()) {
        if (e.compare(0, e.find(' '), name) == 0) out.push_back(e);
    }
    return out;
}

void FailCall(const std::string& name, int k, zvStatus status) {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    s.faults.push_back({name, k < 1 ? 1 : k, status});
    UpdateActive(s);
}

void FailAllocation(int k) {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    s.allocationCountdown = k < 1 ? 1 : k;
    UpdateActive(s);
}

bool FaultPending() {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    return !s.faults.empty() || s.allocationCountdown > 0;
}

void ClearFaults() {
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    s.faults.clear();
    s.allocationCountdown = 0;
    UpdateActive(s);
}

int64_t LiveObjects() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return static_cast<int64_t>(r.live.size());
}

int64_t LiveObjects(int32_t type) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.perType.find(type);
    return it == r.perType.end() ? 0 : it->second;
}

int64_t LiveBytes() { return seams().bytes.load(); }

int64_t EngineOwnedObjects() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.engineOwned;
}

}  // namespace zv::testing

// ---- Base entry points ------------------------------------------------------------
namespace {

// zvMalloc keeps the block size in front of the block for the accounting.
constexpr size_t kHeader = 16;
constexpr uint64_t kBlockMagic = 0x7a76426c6f636b21ULL;  // "zvBlock!"

}  // namespace

extern "C" {

int32_t zvTypeBlock(int32_t size) {
    if (size < 1 || size > 65535) return 0;
    return 0x10000 + size;
}

int32_t zvTypeSize(int32_t type) {
    if (type > 0x10000 && type <= 0x10000 + 65535) return type - 0x10000;
    switch (type) {
        case ZV_TYPE_ARRAYLIST:
        case ZV_TYPE_MESSAGE:
        case ZV_TYPE_STRING:
        case ZV_TYPE_RESULT:
            return static_cast<int32_t>(sizeof(zvHandle));
        case ZV_TYPE_INT8:
        case ZV_TYPE_UINT8:
        case ZV_TYPE_IMAGE8:
            return 1;
        case ZV_TYPE_INT16:
        case ZV_TYPE_UINT16:
            return 2;
        case ZV_TYPE_INT32:
        case ZV_TYPE_UINT32:
        case ZV_TYPE_FLOAT32:
        case ZV_TYPE_IMAGE32:
            return 4;
        case ZV_TYPE_INT64:
        case ZV_TYPE_UINT64:
        case ZV_TYPE_FLOAT64:
        case ZV_TYPE_POINT32:
            return 8;
        case ZV_TYPE_STAMP:
            return static_cast<int32_t>(sizeof(zvStamp));
        case ZV_TYPE_SENSOR_ENTRY:
            return 84;
        default:
            return 0;
    }
}

zvStatus zvInitialize(void) {
    ZV_ENTER();
    ++zv::initializeCount;
    return ZV_OK;
}

zvStatus zvTerminate(void) {
    ZV_ENTER();
    if (zv::initializeCount == 0) return ZV_E_STATE;
    --zv::initializeCount;
    return ZV_OK;
}

int32_t zvObjectType(zvHandle object) {
    zv::Object* o = zv::Lookup(object, 0, nullptr);
    return o ? o->type : 0;
}

int32_t zvObjectIs(zvHandle object, int32_t type) {
    zv::Object* o = zv::Lookup(object, 0, nullptr);
    return (o != nullptr && o->type == type) ? 1 : 0;
}

zvStatus zvObjectDestroy(zvHandle object) {
    ZV_ENTER();
    return zv::DestroyChecked(object, 0);
}

zvStatus zvDispose(zvHandle object) {
    ZV_ENTER();
    return zv::DestroyChecked(object, 0);
}

void* zvMalloc(size_t size) {
    if (size > SIZE_MAX - kHeader) return nullptr;
    if (!zv::AllocationAllowed()) return nullptr;
    auto* raw = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (raw == nullptr) return nullptr;
    uint64_t header[2] = {kBlockMagic, static_cast<uint64_t>(size)};
    std::memcpy(raw, header, sizeof header);
    zv::AccountBytes(static_cast<int64_t>(size));
    return raw + kHeader;
}

void zvFree(void* block) {
    if (block == nullptr) return;
    unsigned char* raw = static_cast<unsigned char*>(block) - kHeader;
    uint64_t header[2];
    std::memcpy(header, raw, sizeof header);
    if (header[0] != kBlockMagic) return;  // not ours: leave it rather than corrupt the heap
    header[0] = 0;
    std::memcpy(raw, header, sizeof header);
    zv::AccountBytes(-static_cast<int64_t>(header[1]));
    std::free(raw);
}

zvStatus zvMemcpy(void* dst, const void* src, size_t size) {
    ZV_ENTER(static_cast<uint64_t>(size));
    if (size == 0) return ZV_OK;
    if (dst == nullptr || src == nullptr) return ZV_E_ARGUMENT;
    std::memmove(dst, src, size);
    return ZV_OK;
}

zvStatus zvMemset(void* dst, int value, size_t size) {
    ZV_ENTER(static_cast<uint64_t>(size));
    if (size == 0) return ZV_OK;
    if (dst == nullptr) return ZV_E_ARGUMENT;
    std::memset(dst, value, size);
    return ZV_OK;
}

int32_t zvPrintf(const char* format, ...) {
    if (format == nullptr) return -1;
    va_list args;
    va_start(args, format);
    int n = std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
    return n;
}

}  // extern "C"
