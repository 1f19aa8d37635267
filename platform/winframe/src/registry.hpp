// The process's window registry: every window's record, the binding of
// window objects to handles, and the delivery of notifications to dialogs.
#ifndef WINFRAME_SRC_REGISTRY_HPP
#define WINFRAME_SRC_REGISTRY_HPP

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "winframe/winframe.hpp"

namespace wf {

enum class WindowRole { Host, Dialog, Control };

struct WindowRecord {
    WindowHandle handle = nullptr;
    WindowRole role = WindowRole::Control;
    ControlKind kind = ControlKind::Static;  // controls only
    int32_t id = kStaticId;                  // controls only
    std::string text;                        // caption, label or text (not a drop-down list's)
    uint32_t style = kStyleNone;
    Rect rect;
    bool enabled = true;
    bool visible = true;
    int32_t checked = 0;
    std::vector<std::string> items;
    int32_t selection = -1;
    int32_t rangeMin = 0, rangeMax = 100, position = 0;
    std::vector<int32_t> tics;
    int32_t templateId = 0;         // dialogs
    ModuleState* module = nullptr;  // dialogs: the state their handlers run in
    WindowHandle parent = nullptr;
    std::vector<WindowHandle> children;  // in creation (template) order
    Window* object = nullptr;            // the bound object, not owned
    Window* temporary = nullptr;         // owned; made by FromHandle
};

struct Registry {
    static Registry& Get();

    // A new record, or null when creation is made to fail.
    WindowRecord* Create(WindowRole role, WindowHandle parent);
    WindowRecord* Find(WindowHandle handle);
    // Destroys the window and its children (children first); bound objects
    // lose their handles and temporary objects are freed.
    bool Destroy(WindowHandle handle);

    // Binding, for the Window class.
    static void SetHandle(Window& window, WindowHandle handle) { window.handle_ = handle; }
    Window* TemporaryFor(WindowRecord& record);

    // Sends `code` from the control to its dialog's message map, with the
    // dialog's module state current. `result` may be null.
    void Send(WindowHandle control, wf::Notify code, intptr_t* result = nullptr);

    // Whether a user could act on the window now: NoWindow, Hidden,
    // Disabled or Done, looking at the window and every window above it.
    driver::Result Reachable(WindowHandle handle);

    // A drop-down list's text is its selected item's; a combo's edit part
    // follows the item selected.
    static std::string TextOf(const WindowRecord& record);
    static void SetSelection(WindowRecord& record, int32_t index);

    void ForgetModule(ModuleState* state);

    std::unordered_map<uintptr_t, std::unique_ptr<WindowRecord>> windows;
    uintptr_t nextNumber = 0x100;
    int failCountdown = 0;
    int dispatchDepth = 0;
    int64_t temporaries = 0;      // live temporary objects
    std::vector<Window*> doomed;  // temporaries freed once no handler runs
    MessageBoxHandler messageBoxHandler;
    ModuleState* current = nullptr;  // null: the program's state

private:
    void DestroyRecord(WindowHandle handle);
    void FreeDoomed();
};

// List items: InsertItem puts the item at `index` (-1: at the end), AddItem
// where the sorted style wants it; both give the index, or -1.
int32_t InsertItem(WindowRecord& record, int32_t index, const char* text);
int32_t AddItem(WindowRecord& record, const char* text);

// Whether an object of `window`'s class may stand for a window of this role
// and kind.
bool ClassFits(const Window& window, const WindowRecord& record);

}  // namespace wf

#endif
