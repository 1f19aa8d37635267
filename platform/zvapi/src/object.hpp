// The object core shared by every zvApi family: the handle registry, owners
// (allocators, containers, engines), the call journal, fault injection and
// accounting. Families derive their objects from zv::Object and start every
// status-returning entry point with ZV_ENTER.
#ifndef ZVAPI_SRC_OBJECT_HPP
#define ZVAPI_SRC_OBJECT_HPP

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <string_view>

#include "zvapi/zv_base.h"

namespace zv {

struct Allocator;

struct Object {
    explicit Object(int32_t type) : type(type) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // A deep copy made with `allocator`, or null when the family has none
    // (or memory ran out). The copy carries the label.
    virtual Object* Clone(Allocator* /*allocator*/) const { return nullptr; }
    // Bytes of storage the object holds beyond its own record, for the
    // accounting of live bytes.
    virtual int64_t StorageBytes() const { return 0; }

    const int32_t type;
    Allocator* allocator = nullptr;  // the output allocator that made it, or null
    Object* container = nullptr;     // a list, message, result or model that owns it
    bool sent = false;               // handed to an engine with zvPipeEngineSend
    std::string label;
    // Neighbours in its allocator's list of the objects it made.
    Object* ownedPrevious = nullptr;
    Object* ownedNext = nullptr;
};

// An output allocator: objects made with it belong to its engine. They are
// kept in a list through the objects themselves, so that taking one on or
// letting it go never allocates and cannot fail. Under the registry's lock.
struct Allocator final : Object {
    Allocator() : Object(ZV_TYPE_ALLOCATOR) {}
    ~Allocator() override;
    void Own(Object* object) {
        object->allocator = this;
        object->ownedPrevious = nullptr;
        object->ownedNext = firstOwned;
        if (firstOwned != nullptr) firstOwned->ownedPrevious = object;
        firstOwned = object;
    }
    void Disown(Object* object) {
        if (object->ownedPrevious != nullptr) {
            object->ownedPrevious->ownedNext = object->ownedNext;
        } else {
            firstOwned = object->ownedNext;
        }
        if (object->ownedNext != nullptr) object->ownedNext->ownedPrevious = object->ownedPrevious;
        object->ownedPrevious = object->ownedNext = nullptr;
        object->allocator = nullptr;
    }
    Object* firstOwned = nullptr;  // the live objects it made
};

// The part every Clone shares: a new T that `fill` makes into the copy,
// label included. Null, with the part-made copy deleted, when `fill` says
// false or memory runs out on the way.
template <class T, class Fill>
Object* MakeCopy(const Object& original, Fill&& fill) {
    auto* copy = new (std::nothrow) T;
    if (copy == nullptr) return nullptr;
    bool made = false;
    try {
        copy->label = original.label;
        made = fill(*copy);
    } catch (...) {
        made = false;
    }
    if (!made) {
        delete copy;
        return nullptr;
    }
    return copy;
}

inline Object* FromHandle(zvHandle h) { return reinterpret_cast<Object*>(h); }
inline zvHandle ToHandle(Object* o) { return reinterpret_cast<zvHandle>(o); }

// ---- Registry ------------------------------------------------------------
// Every live object is registered; a handle is valid only while registered.
bool IsLive(const Object* object);
// Registers a new object made with `allocator` (0 = default) and returns
// its handle, or destroys it and returns null when registration is refused
// by an injected allocation failure.
zvHandle Register(Object* object, zvAllocator allocator);
// Unregisters and deletes the object (no ownership checks).
void Delete(Object* object);

// Finds a live object of `type` (0: any type). On failure sets `*status`.
Object* Lookup(zvHandle handle, int32_t type, zvStatus* status);

template <class T>
T* Get(zvHandle handle, int32_t type, zvStatus* status) {
    return static_cast<T*>(Lookup(handle, type, status));
}

// Creates a T (constructed from `args`) registered under `allocator`,
// storing its handle in `*out`. Returns ZV_OK, ZV_E_ARGUMENT for a null
// `out` or an allocator that is not one, or ZV_E_NOMEM.
template <class T, class... Args>
zvStatus Create(zvHandle* out, zvAllocator allocator, Args&&... args) {
    if (out == nullptr) return ZV_E_ARGUMENT;
    *out = nullptr;
    if (allocator != nullptr && !IsLive(FromHandle(allocator))) return ZV_E_HANDLE;
    if (allocator != nullptr && FromHandle(allocator)->type != ZV_TYPE_ALLOCATOR) return ZV_E_TYPE;
    T* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (object == nullptr) return ZV_E_NOMEM;
    zvHandle handle = Register(object, allocator);
    if (handle == nullptr) return ZV_E_NOMEM;
    *out = handle;
    return ZV_OK;
}

// Destroys an object the caller may destroy: refused with ZV_E_STATE when a
// container or an engine owns it.
zvStatus DestroyChecked(zvHandle handle, int32_t type);

// An object now owned by `container` (a list, message, result, model).
void Adopt(Object* container, Object* child);

// ---- Seams -----------------------------------------------------------------
extern std::atomic<bool> g_seamsActive;

// False when an injected allocation failure fires for this allocation.
bool AllocationAllowed();
// Bytes held by containers, for LiveBytes.
void AccountBytes(int64_t delta);

bool JournalOn();
void JournalRecord(std::string entry);
// Checks the fault table for `name`; true with `*status` set when the call
// is to fail.
bool InjectedFault(const char* name, zvStatus* status);

inline void AppendArg(std::ostringstream& out, const char* text) { out << ' ' << (text ? text : "(null)"); }
inline void AppendArg(std::ostringstream& out, std::string_view text) { out << ' ' << text; }
inline void AppendArg(std::ostringstream& out, const std::string& text) { out << ' ' << text; }
template <class T>
void AppendArg(std::ostringstream& out, const T& value) {
    out << ' ' << +value;
}

template <class... Args>
bool Enter(const char* name, zvStatus* status, const Args&... args) {
    if (!g_seamsActive.load(std::memory_order_relaxed)) return false;
    if (JournalOn()) {
        std::ostringstream entry;
        entry << name;
        (AppendArg(entry, args), ...);
        JournalRecord(entry.str());
    }
    return InjectedFault(name, status);
}

// Keeps `text` as this thread's reason for the failure being made
// (zvLastErrorText), and returns `status`.
zvStatus Fail(zvStatus status, std::string text);
// The same text without a status; text longer than the kept limit is cut.
void SetLastError(std::string text);
// `text` made safe to show: bytes that are not printable ASCII become
// "\xNN", and more than `limit` bytes are cut with "...".
std::string Printable(std::string_view text, size_t limit = 120);

// A boundary wrapper: no C++ exception crosses a zv function.
template <class F>
zvStatus Guard(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ZV_E_NOMEM;
    } catch (...) {
        return ZV_E_FAIL;
    }
}

}  // namespace zv

// Journals the call with its key arguments and returns an injected status
// when one is armed for this function. With the seams off it costs one load
// and its arguments are not evaluated.
#define ZV_ENTER(...)                                                                                 \
    do {                                                                                              \
        if (::zv::g_seamsActive.load(std::memory_order_relaxed)) {                                    \
            zvStatus zv_injected_ = ZV_E_FAIL;                                                        \
            if (::zv::Enter(__func__, &zv_injected_ __VA_OPT__(, ) __VA_ARGS__)) return zv_injected_; \
        }                                                                                             \
    } while (0)

// For entry points that return a pointer or an index: journals and, when a
// fault is armed, returns `failure`.
#define ZV_ENTER_OR(failure, ...)                                                                \
    do {                                                                                         \
        if (::zv::g_seamsActive.load(std::memory_order_relaxed)) {                               \
            zvStatus zv_injected_ = ZV_E_FAIL;                                                   \
            if (::zv::Enter(__func__, &zv_injected_ __VA_OPT__(, ) __VA_ARGS__)) return failure; \
        }                                                                                        \
    } while (0)

#endif

// ---- Engine ownership (pipe engines) -----------------------------------------
namespace zv {
// Makes `object` belong to `allocator` (an engine's output allocator) when
// it belongs to none yet: the engine then releases it. No-op when it
// already has an allocator.
void AssignAllocator(Object* object, Allocator* allocator);
}  // namespace zv
