// Handle registry, ownership, seams, memory and the base entry points.
#include "object.hpp"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "zvapi/zvapi_testing.hpp"

namespace zv {

std::atomic<bool> g_seamsActive{false};

namespace {

// The set of live objects: open addressing with linear probing over a
// power-of-two table at most half full. Changed only under the registry's
// mutex; read without any lock under a sequence count (odd while a change
// is under way), so that checking a handle costs a few loads. A reader that
// overlapped a change reads again. Tables outgrown stay allocated for the
// life of the process, so a reader still probing one never touches freed
// memory; each is half the size of the next, so together they hold less
// than the current one.
class LiveSet {
public:
    LiveSet() { Publish(kInitialBits); }

    // 1 when `object` is registered, else 0. Safe from any thread.
    size_t count(const Object* object) const {
        const uintptr_t key = reinterpret_cast<uintptr_t>(object);
        for (;;) {
            const uint64_t before = sequence_.load(std::memory_order_acquire);
            if ((before & 1) != 0) {
                std::this_thread::yield();
                continue;
            }
            const Table* table = current_.load(std::memory_order_acquire);
            bool found = false;
            // Bounded: a view torn by a concurrent change may lack an empty slot.
            size_t i = table->Home(key);
            for (size_t probes = 0; probes <= table->mask; ++probes, i = (i + 1) & table->mask) {
                const uintptr_t slot = table->slots[i].load(std::memory_order_relaxed);
                if (slot == key) {
                    found = true;
                    break;
                }
                if (slot == 0) break;
            }
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before) return found ? 1 : 0;
        }
    }

    size_t size() const { return size_; }

    // Under the registry's mutex. Throws std::bad_alloc, with nothing
    // changed, when a larger table cannot be made.
    void insert(const Object* object) {
        const uintptr_t key = reinterpret_cast<uintptr_t>(object);
        if (count(object) != 0) return;
        Table* table = current_.load(std::memory_order_relaxed);
        if ((size_ + 1) * 2 > table->mask + 1) table = Grown(*table);  // may throw
        BeginChange();
        if (table != current_.load(std::memory_order_relaxed)) current_.store(table, std::memory_order_release);
        Place(*table, key);
        ++size_;
        EndChange();
    }

    // Under the registry's mutex. Returns 1 when `object` was registered.
    size_t erase(const Object* object) {
        const uintptr_t key = reinterpret_cast<uintptr_t>(object);
        Table& table = *current_.load(std::memory_order_relaxed);
        size_t hole = table.Home(key);
        for (;; hole = (hole + 1) & table.mask) {
            const uintptr_t slot = table.slots[hole].load(std::memory_order_relaxed);
            if (slot == 0) return 0;
            if (slot == key) break;
        }
        BeginChange();
        // Backward shift: pull later members of the probe run into the hole
        // so that no lookup stops early at it.
        for (size_t next = (hole + 1) & table.mask;; next = (next + 1) & table.mask) {
            const uintptr_t slot = table.slots[next].load(std::memory_order_relaxed);
            if (slot == 0) break;
            const size_t home = table.Home(slot);
            const bool stays = hole < next ? (home > hole && home <= next) : (home > hole || home <= next);
            if (stays) continue;
            table.slots[hole].store(slot, std::memory_order_relaxed);
            hole = next;
        }
        table.slots[hole].store(0, std::memory_order_relaxed);
        --size_;
        EndChange();
        return 1;
    }

private:
    static constexpr unsigned kInitialBits = 10;

    struct Table {
        explicit Table(unsigned bits)
            : shift(64 - bits), mask((size_t{1} << bits) - 1), slots(new std::atomic<uintptr_t>[mask + 1]) {
            for (size_t i = 0; i <= mask; ++i) slots[i].store(0, std::memory_order_relaxed);
        }
        // Fibonacci hashing: the high bits of the product spread aligned addresses.
        size_t Home(uintptr_t key) const {
            return static_cast<size_t>((static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ULL) >> shift);
        }
        const unsigned shift;
        const size_t mask;
        std::unique_ptr<std::atomic<uintptr_t>[]> slots;
    };

    static void Place(Table& table, uintptr_t key) {
        size_t i = table.Home(key);
        while (table.slots[i].load(std::memory_order_relaxed) != 0) i = (i + 1) & table.mask;
        table.slots[i].store(key, std::memory_order_relaxed);
    }

    Table* Publish(unsigned bits) {
        tables_.reserve(tables_.size() + 1);
        tables_.push_back(std::make_unique<Table>(bits));
        Table* table = tables_.back().get();
        if (current_.load(std::memory_order_relaxed) == nullptr) current_.store(table, std::memory_order_release);
        return table;
    }

    // A table of twice the size holding every member, not yet current.
    Table* Grown(const Table& old) {
        Table* table = Publish(static_cast<unsigned>(64 - old.shift) + 1);
        for (size_t i = 0; i <= old.mask; ++i) {
            const uintptr_t slot = old.slots[i].load(std::memory_order_relaxed);
            if (slot != 0) Place(*table, slot);
        }
        return table;
    }

    void BeginChange() {
        sequence_.store(sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
    }
    void EndChange() { sequence_.store(sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

    std::atomic<uint64_t> sequence_{0};
    std::atomic<Table*> current_{nullptr};
    std::vector<std::unique_ptr<Table>> tables_;  // every table made, the current one last
    size_t size_ = 0;
};

struct Registry {
    std::recursive_mutex mutex;
    LiveSet live;
    // Live objects by type id; ids past the table share its last slot,
    // which no type reads back.
    static constexpr size_t kTypeSlots = 1024;
    std::array<int64_t, kTypeSlots> perType{};
    int64_t& OfType(int32_t type) {
        const auto index = static_cast<uint32_t>(type);
        return perType[index < kTypeSlots - 1 ? index : kTypeSlots - 1];
    }
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
    g_seamsActive.store(s.journalOn || !s.faults.empty() || s.allocationCountdown > 0, std::memory_order_relaxed);
}

}  // namespace

int initializeCount = 0;

Allocator::~Allocator() {
    // The engine ends: release what it still owns, from the front of the
    // list each time, since deleting a container takes its children (some
    // of them perhaps in the list) along.
    for (;;) {
        Object* o = nullptr;
        {
            Registry& r = registry();
            std::lock_guard lock(r.mutex);
            o = firstOwned;
            if (o == nullptr) return;
            Disown(o);
            r.engineOwned--;
        }
        if (o->container == nullptr) Delete(o);  // a container deletes its own children
    }
}

namespace {

// Bumped whenever an object leaves the registry. A thread remembers the
// last object it found live and the count at that moment: while the count
// stays, that object is still live, and checking it again costs two loads.
// Initial-exec: the library is loaded with the program (or, from a plug-in,
// into the static TLS reserve), and the default model would make each check
// a call.
std::atomic<uint64_t> g_removals{0};

// The last two, since callers often alternate between a document and a
// list they fill from it.
struct LastLive {
    const Object* object[2] = {nullptr, nullptr};
    uint64_t removals = 0;
};
__attribute__((tls_model("initial-exec"))) thread_local LastLive t_lastLive;

}  // namespace

bool IsLive(const Object* object) {
    if (object == nullptr) return false;
    const uint64_t removals = g_removals.load(std::memory_order_acquire);
    LastLive& last = t_lastLive;
    if (removals == last.removals && (object == last.object[0] || object == last.object[1])) return true;
    if (registry().live.count(object) == 0) return false;
    if (removals != last.removals) {
        last = LastLive{{object, nullptr}, removals};
    } else {
        last.object[1] = last.object[0];
        last.object[0] = object;
    }
    return true;
}

zvHandle Register(Object* object, zvAllocator allocator) {
    if (!AllocationAllowed()) {
        delete object;
        return nullptr;
    }
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    try {
        r.live.insert(object);
    } catch (const std::bad_alloc&) {
        // Out of memory for the registry's own records: the object never
        // becomes reachable, so it goes now rather than leak.
        delete object;
        return nullptr;
    }
    r.OfType(object->type)++;
    if (allocator != nullptr) {
        static_cast<Allocator*>(FromHandle(allocator))->Own(object);
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
        g_removals.fetch_add(1, std::memory_order_acq_rel);
        r.OfType(object->type)--;
        if (object->allocator != nullptr) {
            object->allocator->Disown(object);
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

namespace {

// Reasons are short sentences; anything longer is cut.
constexpr size_t kReasonLimit = 1024;
thread_local std::string t_lastError;

}  // namespace

void SetLastError(std::string text) {
    if (text.size() > kReasonLimit) text.resize(kReasonLimit);
    try {
        t_lastError = std::move(text);
    } catch (...) {
        t_lastError.clear();  // no memory for the reason: none rather than a wrong one
    }
}

zvStatus Fail(zvStatus status, std::string text) {
    SetLastError(std::move(text));
    return status;
}

std::string Printable(std::string_view text, size_t limit) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (out.size() >= limit) {
            out += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
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
    const auto index = static_cast<uint32_t>(type);
    return index < Registry::kTypeSlots - 1 ? r.perType[index] : 0;
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
        case ZV_TYPE_RESULT: return static_cast<int32_t>(sizeof(zvHandle));
        case ZV_TYPE_INT8:
        case ZV_TYPE_UINT8:
        case ZV_TYPE_IMAGE8: return 1;
        case ZV_TYPE_INT16:
        case ZV_TYPE_UINT16: return 2;
        case ZV_TYPE_INT32:
        case ZV_TYPE_UINT32:
        case ZV_TYPE_FLOAT32:
        case ZV_TYPE_IMAGE32: return 4;
        case ZV_TYPE_INT64:
        case ZV_TYPE_UINT64:
        case ZV_TYPE_FLOAT64:
        case ZV_TYPE_POINT32: return 8;
        case ZV_TYPE_STAMP: return static_cast<int32_t>(sizeof(zvStamp));
        case ZV_TYPE_SENSOR_ENTRY: return 84;
        default: return 0;
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

const char* zvLastErrorText(void) { return zv::t_lastError.c_str(); }

void zvLastErrorClear(void) { zv::t_lastError.clear(); }

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

// ---- Engine ownership (pipe engines) -----------------------------------------
namespace zv {

void AssignAllocator(Object* object, Allocator* allocator) {
    if (object == nullptr || allocator == nullptr || object->allocator != nullptr) return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.live.count(object) == 0) return;
    allocator->Own(object);
    r.engineOwned++;
}

}  // namespace zv
