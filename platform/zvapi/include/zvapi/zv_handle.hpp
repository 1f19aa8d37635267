// The owner of one platform object, for C++ callers (the host, the tests):
// it destroys the object with its family's destroy function when it goes,
// and moves but never copies. Torvane stays plain procedures and does not
// use it.
//
//   zv::OwnedList list;
//   zvArrayListCreate(list.Out(), nullptr);     // Out(): where a Create puts the handle
//   zvArrayListInit(list, ZV_TYPE_INT32, 0, 1);  // the owner passes for its handle
//   zvPipeEngineSend(engine, list.Release());   // given away: no longer destroyed here
//
// An object that belongs to an engine once sent, or to another object once
// added to it, is given away with Release, never destroyed by its owner.
#ifndef ZVAPI_ZV_HANDLE_HPP
#define ZVAPI_ZV_HANDLE_HPP

#include "zvapi.h"

namespace zv {

template <zvStatus (*Destroy)(zvHandle)>
class Owned {
public:
    Owned() = default;
    explicit Owned(zvHandle handle) : handle_(handle) {}
    ~Owned() { Reset(); }
    Owned(Owned&& other) noexcept : handle_(other.Release()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = other.Release();
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    zvHandle Get() const { return handle_; }
    operator zvHandle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // The place a Create call fills, after the object held is destroyed.
    zvHandle* Out() {
        Reset();
        return &handle_;
    }
    // Gives the object up without destroying it.
    zvHandle Release() {
        zvHandle handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    // Destroys the object held: the destroy function's status, 1 when
    // there was none. The owner holds nothing afterwards, also when the
    // destruction failed.
    zvStatus Reset() {
        zvHandle handle = Release();
        return handle != nullptr ? Destroy(handle) : ZV_OK;
    }

private:
    zvHandle handle_ = nullptr;
};

using OwnedList = Owned<zvArrayListDestroy>;
using OwnedArray = Owned<zvArrayDestroy>;
using OwnedImage = Owned<zvImageDestroy>;
using OwnedFile = Owned<zvFileDestroy>;
using OwnedXml = Owned<zvXMLDestroy>;
using OwnedPipeApp = Owned<zvPipeAppDestroy>;
using OwnedPipeMode = Owned<zvPipeModeDestroy>;
using OwnedEngine = Owned<zvPipeEngineDestroy>;
using OwnedClient = Owned<zvClientDestroy>;
using OwnedPlot = Owned<zvPlotDestroy>;
using OwnedGraphic = Owned<zvGraphicDestroy>;
using OwnedPolar = Owned<zvPolarDestroy>;
using OwnedPolarModel = Owned<zvPolarModelDestroy>;
using OwnedAppInfo = Owned<zvAppInfoDestroy>;
// Any object, whatever its family (strings, messages, results too).
using OwnedObject = Owned<zvObjectDestroy>;

}  // namespace zv

#endif
