// The interfaces the client host and the plug-in share. The host holds nodes
// and pages (the plug-in implements them); the plug-in holds the page site,
// the display set, displays and display listeners (the host implements them,
// the page implements the listener). Each interface's virtual operations are
// declared in slot order: the host and the plug-in call them by position,
// so an operation is never inserted, removed or reordered. Reserved slots
// take no arguments, do nothing and return 1.
//
// Statuses are 32-bit: greater than zero is success.
#ifndef HOSTAPI_HOSTAPI_HPP
#define HOSTAPI_HOSTAPI_HPP

#include <cstdint>

#include "winframe/winframe.hpp"
#include "zvapi/zvapi.h"

class zvMultiView;

namespace hostapi {

class PageSite;

// Node types of TorvaneNodeCreate.
enum NodeType : int32_t {
    kCaptureNode = 0,
    kServerNode = 1,
    kPlainNode = 2,
    kSensorNode = 3,
};

// The record the host passes to a node's Init. Read-only for the node; the
// texts need to live only for the call (the node copies what it keeps).
struct NodeInfo {
    int32_t kind = 0;           // 1 marks a server node
    uint32_t serialNumber = 0;  // a server node's server
    // The third field: for a node of kind 1, nonzero makes the node limited
    // (its only page creates the settings); for a sensor node, its group
    // path text (`groupPath`, or null for none).
    uintptr_t third = 0;
    const char* sensorName = nullptr;  // a sensor node's name in its group

    bool LimitedFlag() const { return third != 0; }
    const char* GroupPathText() const { return reinterpret_cast<const char*>(third); }
    static uintptr_t Text(const char* text) { return reinterpret_cast<uintptr_t>(text); }
};

// A node of the station tree.
class Node {
public:
    // 0: records parent, host and kind; what each type adds.
    virtual int32_t Init(const NodeInfo* info, Node* parent, PageSite* host) = 0;
    // 1: the identifiers of the node's pages in display order into `ids`
    // (room for at least kMaxPages), their number into `*count` (0 first).
    virtual int32_t GetPages(int32_t* ids, int32_t* count) = 0;
    virtual int32_t Reserved2() = 0;
    virtual int32_t Reserved3() = 0;
    virtual int32_t Reserved4() = 0;
    virtual int32_t Reserved5() = 0;
    // 6: destroys the node.
    virtual int32_t Release() = 0;

    static constexpr int32_t kMaxPages = 6;

protected:
    // 7: called only by Release.
    virtual ~Node() = default;
};

class DisplaySet;

// The host object given to a page's Create and to a node's Init.
class PageSite {
public:
    // 0: the window that parents the page.
    virtual int32_t GetParentWindow(wf::WindowHandle* window) = 0;
    virtual int32_t Reserved1() = 0;
    // 2: an error text for the user.
    virtual int32_t ReportError(const char* text) = 0;
    // 3: a notice text for the user.
    virtual int32_t ReportText(const char* text) = 0;
    virtual int32_t Reserved4() = 0;
    // 5: something the host shows changed (the host builds its tree again).
    virtual int32_t NotifyHost() = 0;
    // 6: the page holds changes not yet applied.
    virtual int32_t SetModified() = 0;
    // 7: the displays of the current mode.
    virtual int32_t GetDisplays(DisplaySet** displays) = 0;
    // 8: the zvApi client.
    virtual int32_t GetClient(zvHandle* client) = 0;

protected:
    ~PageSite() = default;
};

class Display;
class DisplayListener;

class DisplaySet {
public:
    virtual int32_t Reserved0() = 0;
    virtual int32_t Reserved1() = 0;
    // 2: the arrangement of the displays (pages pass 0 or 1).
    virtual int32_t SelectLayout(int32_t layout) = 0;
    virtual int32_t Reserved3() = 0;
    // 4: display `index` of the current mode.
    virtual int32_t GetDisplay(int32_t index, Display** display) = 0;
    // 5, 6: listeners of display `index`.
    virtual int32_t AddDisplayListener(int32_t index, DisplayListener* listener) = 0;
    virtual int32_t RemoveDisplayListener(int32_t index, DisplayListener* listener) = 0;

protected:
    ~DisplaySet() = default;
};

class Display {
public:
    virtual int32_t Reserved0() = 0;
    virtual int32_t Reserved1() = 0;
    virtual int32_t Reserved2() = 0;
    virtual int32_t Reserved3() = 0;
    virtual int32_t Reserved4() = 0;
    // 5: the display's multi-view control.
    virtual int32_t GetMultiView(zvMultiView** view) = 0;

protected:
    ~Display() = default;
};

// Told by a display of what happens on it: a pointer event at a point of
// the display (display, x, y, buttons), a change of what it shows
// (display, what), and a change of its view (display, view, flags).
class DisplayListener {
public:
    virtual int32_t PointerEvent(int32_t display, int32_t x, int32_t y, int32_t buttons) = 0;
    virtual int32_t ContentChanged(int32_t display, int32_t what) = 0;
    virtual int32_t ViewChanged(int32_t display, int32_t view, int32_t flags) = 0;

protected:
    ~DisplayListener() = default;
};

// A configuration page.
class Page {
public:
    // 0: makes the page a child window of the site's window; -992 when the
    // window cannot be made.
    virtual int32_t Create(PageSite* site) = 0;
    // 1: the node the page works on.
    virtual int32_t SetNode(Node* node) = 0;
    // 2: 1 once the user changed a value.
    virtual int32_t IsModified(int32_t* modified) = 0;
    virtual int32_t Apply() = 0;       // 3
    virtual int32_t Reload() = 0;      // 4
    virtual int32_t Activate() = 0;    // 5
    virtual int32_t Deactivate() = 0;  // 6
    virtual int32_t Reserved7() = 0;
    virtual int32_t Reserved8() = 0;
    virtual int32_t Reserved9() = 0;
    virtual int32_t Reserved10() = 0;
    // 11: the page's window.
    virtual int32_t GetWindow(wf::WindowHandle* window) = 0;
    // 12: the page's name into `buffer`: at most `length` characters, the
    // rest zero, no terminator when the name fills the buffer.
    virtual int32_t GetName(char* buffer, int32_t length) = 0;
    // 13: destroys the window and deletes the page.
    virtual int32_t Destroy() = 0;

protected:
    ~Page() = default;
};

// The exports, bound by name.
using NodeCreateExport = int32_t (*)(int32_t type, Node** node);
using PageCreateExport = int32_t (*)(int32_t id, Page** page);

}  // namespace hostapi

#endif
