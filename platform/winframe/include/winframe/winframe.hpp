// The window framework: headless and deterministic.
//
// Windows live in one registry per process (libwinframe.so is shared, so the
// host and the plug-in it loads see the same windows) and are named by
// handles that are never reused. A window has a kind, a text, a style, an
// enabled and a visible flag, a layout rectangle in dialog units, and the
// state of its kind: a button's check, a list's items and selection, a
// slider's range, tick marks and position. Nothing is drawn here; the host
// draws pages from their templates and these states.
//
// Pages are modeless dialogs made from a dialog template (constant data
// beside each page, registered in its module's resources) as children of a
// window the host made. When a control changes, its dialog's message map
// dispatches the notification to a member handler, synchronously and with
// the module state current that was current when the dialog was made:
//  - an edit raises EditChange for every change of its text, also one the
//    program makes with SetWindowText (every call counts, also one that gives
//    the text it had), and EditKillFocus when it loses the focus;
//  - a button raises Clicked (check boxes toggle and radio buttons take the
//    check from the others of their group first, when the user clicks);
//  - list boxes and drop-down lists or combos raise SelChange when the user
//    selects an item (not when the program does);
//  - a slider raises ReleasedCapture when the user lets go of it.
// User events come only through the driver (wf::driver), which tests, the
// host's page scripts and the browser UI share.
//
// Everything here is for one thread: the host's user-interface thread.
#ifndef WINFRAME_WINFRAME_HPP
#define WINFRAME_WINFRAME_HPP

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#define WF_API __attribute__((visibility("default")))

namespace wf {

// ---- Handles and templates ---------------------------------------------------

// A window handle; null is no window. A destroyed window's handle stays
// invalid for ever: calls on it do nothing and report failure.
using WindowHandle = struct WindowHandle_*;

// Identifier of the static texts, labels and frames of a template that no
// program addresses.
inline constexpr int32_t kStaticId = -1;

enum class ControlKind {
    Static,         // a text
    GroupBox,       // a titled frame
    Edit,           // free text
    DropDownList,   // a list that drops down; the text is the selected item's
    DropDownCombo,  // an editable text with a list that drops down
    ListBox,        // a list of lines
    PushButton,
    CheckBox,
    RadioButton,
    Slider,
};

// Style bits of a control.
enum : uint32_t {
    kStyleNone = 0,
    kStyleSorted = 1u << 0,    // lists: items kept in text order as added
    kStyleGroup = 1u << 1,     // the first control of a group (radio buttons exclude within one)
    kStyleTextLeft = 1u << 2,  // check boxes: the text left of the box
    kStyleDisabled = 1u << 3,  // starts disabled
    kStyleHidden = 1u << 4,    // starts hidden
    kStyleRight = 1u << 5,     // statics: text aligned right
    kStyleCenter = 1u << 6,    // statics: text centred
    kStyleTicks = 1u << 7,     // sliders: tick marks shown
    kStyleDefault = 1u << 8,   // push buttons: the default button
};

// A rectangle in dialog units (a quarter of the font's average character
// width across, an eighth of its height down).
struct Rect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// One control of a template; the members left out of a designated
// initialiser take these defaults.
struct ControlTemplate {
    int32_t id = kStaticId;
    ControlKind kind = ControlKind::Static;
    const char* text = "";  // caption, label or initial text
    uint32_t style = kStyleNone;
    Rect rect{};
    std::span<const char* const> items{};  // a list's initial items, in order
};

struct DialogTemplate {
    int32_t id = 0;  // the template number
    const char* caption = "";
    Rect rect{};                                  // the dialog's size (x, y ignored)
    std::span<const ControlTemplate> controls{};  // in tab order
};

// ---- Run-time classes ----------------------------------------------------------

// A class's run-time record: its name and its base's record.
struct RuntimeClass {
    const char* className;
    const RuntimeClass* base;
    WF_API bool IsDerivedFrom(const RuntimeClass* other) const;
};

class WF_API Object {
public:
    virtual ~Object();
    virtual const RuntimeClass* GetRuntimeClass() const;
    bool IsKindOf(const RuntimeClass* cls) const;
    static const RuntimeClass classObject;
};

// In a class: declares its record. In its source: defines it. The class
// names given to these macros are unqualified (in scope where used).
#define WF_DECLARE_DYNAMIC(cls)                 \
public:                                         \
    static const ::wf::RuntimeClass class##cls; \
    const ::wf::RuntimeClass* GetRuntimeClass() const override;
#define WF_IMPLEMENT_DYNAMIC(cls, base)                                    \
    const ::wf::RuntimeClass cls::class##cls { #cls, &base::class##base }; \
    const ::wf::RuntimeClass* cls::GetRuntimeClass() const { return &cls::class##cls; }
#define WF_RUNTIME_CLASS(cls) (&cls::class##cls)

// ---- Notifications and message maps -----------------------------------------

enum class Notify {
    None,
    Clicked,          // buttons
    EditChange,       // edits: the text changed
    EditKillFocus,    // edits: lost the focus
    SelChange,        // list boxes, drop-down lists and combos: the user selected
    ReleasedCapture,  // sliders: the mouse was let go
};

// What a notification carries to a handler that wants it (ReleasedCapture).
struct NotifyHeader {
    WindowHandle from = nullptr;
    int32_t id = 0;
    Notify code = Notify::None;
};

class CmdTarget;

struct MessageEntry {
    Notify code;
    int32_t id;
    // Calls the member handler on `target`; `result` is the handler's
    // answer for notifications that have one.
    void (*call)(CmdTarget* target, NotifyHeader* header, intptr_t* result);
};

struct MessageMap {
    const MessageMap* (*base)();  // the base class's map; null for the first
    const MessageEntry* entries;  // ends with an entry of code None
};

class WF_API CmdTarget : public Object {
public:
    // Finds the handler of (id, code) in this class's map and its bases'
    // and calls it; false when there is none.
    bool Dispatch(int32_t id, Notify code, NotifyHeader* header, intptr_t* result);
    // Every entry of this class's map and its bases', the class's own
    // first: what the class answers, to hold against its templates.
    std::vector<MessageEntry> MessageEntries() const;

protected:
    static const MessageMap* ThisMessageMap();
    virtual const MessageMap* GetMessageMap() const;
};

// In a class derived from CmdTarget:
#define WF_DECLARE_MESSAGE_MAP()                     \
protected:                                           \
    static const ::wf::MessageMap* ThisMessageMap(); \
    const ::wf::MessageMap* GetMessageMap() const override;

// In its source, around the entries:
#define WF_BEGIN_MESSAGE_MAP(cls, baseCls)                                          \
    const ::wf::MessageMap* cls::GetMessageMap() const { return ThisMessageMap(); } \
    const ::wf::MessageMap* cls::ThisMessageMap() {                                 \
        using ThisClass [[maybe_unused]] = cls; /* unused by an empty map */        \
        using TheBase = baseCls;                                                    \
        static const ::wf::MessageEntry entries[] = {
#define WF_END_MESSAGE_MAP()                                              \
    { ::wf::Notify::None, 0, nullptr }                                    \
    }                                                                     \
    ;                                                                     \
    static const ::wf::MessageMap map{&TheBase::ThisMessageMap, entries}; \
    return &map;                                                          \
    }

// Handlers of the form void Handler():
#define WF_ON_NOTIFY_VOID(code_, id_, fn) \
    {code_, id_, [](::wf::CmdTarget* t, ::wf::NotifyHeader*, intptr_t*) { (static_cast<ThisClass*>(t)->*(fn))(); }},
#define WF_ON_CLICKED(id, fn) WF_ON_NOTIFY_VOID(::wf::Notify::Clicked, id, fn)
#define WF_ON_EDIT_CHANGE(id, fn) WF_ON_NOTIFY_VOID(::wf::Notify::EditChange, id, fn)
#define WF_ON_EDIT_KILLFOCUS(id, fn) WF_ON_NOTIFY_VOID(::wf::Notify::EditKillFocus, id, fn)
#define WF_ON_SELCHANGE(id, fn) WF_ON_NOTIFY_VOID(::wf::Notify::SelChange, id, fn)
// Handlers of the form void Handler(NotifyHeader* header, intptr_t* result):
#define WF_ON_RELEASEDCAPTURE(id_, fn)   \
    {::wf::Notify::ReleasedCapture, id_, \
     [](::wf::CmdTarget* t, ::wf::NotifyHeader* h, intptr_t* r) { (static_cast<ThisClass*>(t)->*(fn))(h, r); }},

// ---- Modules -----------------------------------------------------------------
class App;

// A module's framework state: its name, its resources (the dialog
// templates it owns) and its application object. A library keeps one of its
// own and makes it current (ModuleGuard) while the host calls into it; the
// program's own state is current otherwise.
class WF_API ModuleState {
public:
    ModuleState(const char* name, std::span<const DialogTemplate* const> templates, App* app = nullptr);
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;
    ~ModuleState();

    const char* Name() const { return name_; }
    // The template numbered `id` among this module's resources, or null.
    const DialogTemplate* FindTemplate(int32_t id) const;
    App* GetApp() const { return app_; }
    void SetApp(App* app) { app_ = app; }
    bool Initialised() const { return initialised_; }
    void MarkInitialised() { initialised_ = true; }

private:
    const char* name_;
    std::span<const DialogTemplate* const> templates_;
    App* app_;
    bool initialised_ = false;
};

// The state current now, and the program's own.
WF_API ModuleState* CurrentModuleState();
WF_API ModuleState* ProgramModuleState();

// Makes `state` current for the guard's life (guards nest). The first time
// a state with an application object becomes current, the application's
// InitInstance runs.
class WF_API ModuleGuard {
public:
    explicit ModuleGuard(ModuleState* state);
    ~ModuleGuard();
    ModuleGuard(const ModuleGuard&) = delete;
    ModuleGuard& operator=(const ModuleGuard&) = delete;

private:
    ModuleState* previous_;
};

// The application object of a module.
class WF_API App : public CmdTarget {
public:
    explicit App(const char* name = nullptr);
    ~App() override;
    // Instance initialisation; the framework's own reports success.
    virtual bool InitInstance();
    // The name given at construction, or "" when none.
    const char* Name() const { return name_ ? name_ : ""; }

private:
    const char* name_;
};

// ---- Windows -------------------------------------------------------------------

// Message box types and answers.
enum : uint32_t { kMbOk = 0, kMbOkCancel = 1, kMbYesNo = 4 };
enum : int32_t { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

struct MessageBoxRequest {
    WindowHandle owner = nullptr;
    std::string text;
    std::string caption;  // the default caption when the caller gave none
    uint32_t type = kMbOk;
};

// The host answers message boxes (modal: the call returns the answer).
// Without a handler every box is answered with its first button.
using MessageBoxHandler = std::function<int32_t(const MessageBoxRequest& request)>;
WF_API void SetMessageBoxHandler(MessageBoxHandler handler);
// The caption of a box whose caller gave none: the current module's
// application name, else its module name.
WF_API std::string DefaultMessageBoxCaption();

class DataExchange;
class Window;

// A control that a dialog's binding attaches, by identifier.
struct ControlBinding {
    int32_t id = 0;
    Window* control = nullptr;
};

// A window object: a handle and what the framework does with it. Control
// objects of a page are window objects bound to the page's controls by
// identifier (BindControl) while the page's window exists.
class WF_API Window : public CmdTarget {
    WF_DECLARE_DYNAMIC(Window)

public:
    Window();
    ~Window() override;  // detaches; destroys nothing
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    WindowHandle Handle() const { return handle_; }
    // Binds this object to an existing window (false when it is not one,
    // this object already has one, another object is bound to it, or the
    // window is not of this object's class: an Edit binds only to edits, a
    // ComboBox to drop-down lists and combos, a Button to push buttons, check
    // boxes and radio buttons, a StaticText to statics and group boxes, a
    // CDialog to a dialog; a plain Window to any); Detach gives the handle
    // back.
    bool Attach(WindowHandle handle);
    WindowHandle Detach();
    // The object bound to `handle`, or a temporary object for it (of the
    // control class that suits the window) that lives until the window is
    // destroyed; null for no window.
    static Window* FromHandle(WindowHandle handle);

    // Destroys the window, its children first; the object stays, without a
    // handle. False when there was no window.
    virtual bool DestroyWindow();

    int32_t GetDlgCtrlID() const;
    // The child control `id` of this window, as a window object, or null.
    Window* GetDlgItem(int32_t id) const;
    Window* GetParent() const;

    // Edits raise EditChange; a drop-down list keeps its text, which is its
    // selected item's.
    void SetWindowText(const char* text);
    std::string GetWindowText() const;
    // Copies at most max - 1 characters and a terminator; returns the count.
    int32_t GetWindowText(char* buffer, int32_t max) const;
    bool EnableWindow(bool enable = true);  // returns whether it was disabled
    bool IsWindowEnabled() const;
    void ShowWindow(bool show);
    bool IsWindowVisible() const;  // this window's own flag

    // A modal message box, answered by the host's handler.
    int32_t MessageBox(const char* text, const char* caption = nullptr, uint32_t type = kMbOk);

    // Reads (save true) or writes the bound controls' data; binds the
    // controls the first time. Returns true.
    bool UpdateData(bool save = true);
    // The controls the binding attaches (DoDataExchange), noted and not
    // attached: what the class binds, to hold against its templates.
    std::vector<ControlBinding> Bindings();

protected:
    // Control binding: called by UpdateData.
    virtual void DoDataExchange(DataExchange* exchange);

private:
    friend struct Registry;
    WindowHandle handle_ = nullptr;
};

// Attaches `control` to the child `id` of the dialog being exchanged, once;
// an exchange made with a list of bindings only notes it there.
class WF_API DataExchange {
public:
    DataExchange(Window* dialog, bool save) : dialog_(dialog), save_(save) {}
    explicit DataExchange(std::vector<ControlBinding>* noted) : noted_(noted) {}
    Window* DialogWindow() const { return dialog_; }
    bool Saving() const { return save_; }
    std::vector<ControlBinding>* Noted() const { return noted_; }

private:
    Window* dialog_ = nullptr;
    bool save_ = false;
    std::vector<ControlBinding>* noted_ = nullptr;
};
WF_API void BindControl(DataExchange* exchange, int32_t id, Window& control);

// ---- Controls --------------------------------------------------------------------

class WF_API Edit : public Window {
    WF_DECLARE_DYNAMIC(Edit)
};

class WF_API StaticText : public Window {
    WF_DECLARE_DYNAMIC(StaticText)
};

class WF_API Button : public Window {
    WF_DECLARE_DYNAMIC(Button)

public:
    // 1 checked, 0 not (push buttons: 0).
    int32_t GetCheck() const;
    void SetCheck(int32_t check);
};

// Drop-down lists and drop-down combos. Indices count from 0; -1 is no
// item / no selection. With the sorted style AddString keeps the items in
// text order, ignoring case (a new item goes after those that compare
// equal); InsertString puts an item where it is told, sorted or not. A
// selection stays on its item when others are inserted or deleted before
// it. Selecting an item of a combo (SetCurSel, or the user) puts the item's
// text in its edit part; no selection empties it.
class WF_API ComboBox : public Window {
    WF_DECLARE_DYNAMIC(ComboBox)

public:
    int32_t AddString(const char* text);                    // index of the new item
    int32_t InsertString(int32_t index, const char* text);  // -1: at the end; -1 for an index past it
    int32_t DeleteString(int32_t index);                    // items left, or -1
    void ResetContent();
    int32_t GetCount() const;
    int32_t GetCurSel() const;
    // Selects `index`; an index the list does not have leaves no selection
    // and returns -1. Raises no notification.
    int32_t SetCurSel(int32_t index);
    std::string GetLBText(int32_t index) const;  // "" for no such item
};

// A list of lines: as ComboBox for its items, sorted style and selection.
class WF_API ListBox : public Window {
    WF_DECLARE_DYNAMIC(ListBox)

public:
    int32_t AddString(const char* text);
    int32_t InsertString(int32_t index, const char* text);
    int32_t DeleteString(int32_t index);  // items left, or -1 for no such item
    void ResetContent();
    int32_t GetCount() const;
    int32_t GetCurSel() const;
    int32_t SetCurSel(int32_t index);
    std::string GetText(int32_t index) const;
};

class WF_API Slider : public Window {
    WF_DECLARE_DYNAMIC(Slider)

public:
    // A reversed range is taken the right way round; the position and the
    // tick marks are kept within the new range.
    void SetRange(int32_t minimum, int32_t maximum, bool redraw = false);
    int32_t GetRangeMin() const;
    int32_t GetRangeMax() const;
    bool SetTic(int32_t position);  // false outside the range; kept sorted, once each
    void ClearTics(bool redraw = false);
    std::vector<int32_t> GetTics() const;
    void SetPos(int32_t position);  // kept within the range
    int32_t GetPos() const;
};

}  // namespace wf

// ---- Application and dialogs: the framework's names ---------------------------

// The application class.
class WF_API CWinApp : public wf::App {
public:
    explicit CWinApp(const char* name = nullptr) : wf::App(name) {}
};

// A dialog made from a template of the current module's resources.
class WF_API CDialog : public wf::Window {
    WF_DECLARE_DYNAMIC(CDialog)

public:
    CDialog();
    explicit CDialog(int32_t templateId, wf::Window* parent = nullptr);
    // Destroys the dialog's window when it still has one, so that no control
    // outlives the object its notifications go to.
    ~CDialog() override;

    // Makes the dialog modeless, as a child of `parent` (null: a top-level
    // window), from template `templateId` of the current module state: the
    // dialog's window (visible and enabled) and one child window per control
    // of the template, in its states (kStyleDisabled, kStyleHidden), then
    // OnInitDialog. False, with no window made, when the
    // template is not among the current module's resources, the parent is
    // not a live window, this object has a window already, or window
    // creation fails (wf::testing::FailWindowCreation).
    virtual bool Create(int32_t templateId, wf::Window* parent = nullptr);
    // Dialog initialisation: binds the controls (UpdateData(false)).
    virtual bool OnInitDialog();

    int32_t TemplateId() const { return templateId_; }

    WF_DECLARE_MESSAGE_MAP()

private:
    int32_t templateId_ = 0;
    wf::Window* parent_ = nullptr;
};

namespace wf {

// ---- The host's side -------------------------------------------------------------

// A top-level window of the host's own, to parent pages. Destroy with
// DestroyHostWindow (which destroys the pages' windows under it too).
WF_API WindowHandle CreateHostWindow(const char* title);
WF_API bool DestroyHostWindow(WindowHandle window);
WF_API bool IsWindow(WindowHandle window);

// What a control is now.
struct ControlState {
    WindowHandle handle = nullptr;
    int32_t id = kStaticId;
    ControlKind kind = ControlKind::Static;
    std::string text;
    uint32_t style = kStyleNone;
    Rect rect;
    bool enabled = true;
    bool visible = true;
    int32_t checked = 0;
    std::vector<std::string> items;
    int32_t selection = -1;
    int32_t rangeMin = 0, rangeMax = 100, position = 0;
    std::vector<int32_t> tics;
};

struct DialogState {
    WindowHandle handle = nullptr;
    int32_t templateId = 0;
    std::string caption;
    Rect rect;
    bool visible = true;
    std::vector<ControlState> controls;  // in template order
};

// The dialog `dialog` and its controls; false when it is not a live dialog.
WF_API bool Snapshot(WindowHandle dialog, DialogState* out);
// The dialogs whose parent is `parent`, in creation order (null: the
// top-level dialogs).
WF_API std::vector<WindowHandle> ChildDialogs(WindowHandle parent);
// The control `id` of `dialog`, or null (always for kStaticId).
WF_API WindowHandle FindControl(WindowHandle dialog, int32_t id);
// A one-word name of the kind: "static", "groupbox", "edit", "dropdownlist",
// "dropdowncombo", "listbox", "button", "checkbox", "radio", "slider".
WF_API const char* KindName(ControlKind kind);
// Whether a control of `kind` raises `code` (edits EditChange and
// EditKillFocus, buttons of every kind Clicked, lists SelChange, sliders
// ReleasedCapture): whether a message-map entry can ever be reached.
WF_API bool Raises(ControlKind kind, Notify code);

// ---- The driver: user events -------------------------------------------------------
namespace driver {

enum class Result {
    Done,
    NoWindow,    // not a live control
    Disabled,    // the control (or a window above it) is disabled: users cannot act on it
    Hidden,      // the control (or a window above it) is not visible
    WrongKind,   // this event does not apply to this kind of control
    NoSuchItem,  // an index the list does not have
};
WF_API const char* ResultText(Result result);

// Typing into an edit or a drop-down combo's text: the text is replaced as a
// user would, selecting all and typing: one change for the clearing (when
// there was text) and one per character typed (a UTF-8 sequence is one
// character), up to 32767 bytes as a full edit takes no more. Edits raise
// EditChange for each; a combo's typed text raises nothing and leaves its
// selection. A handler that disables, hides or destroys the control stops
// the typing with that result.
WF_API Result Type(WindowHandle control, std::string_view text);
// The control loses the keyboard focus (edits raise EditKillFocus; statics
// and group boxes never have it: WrongKind).
WF_API Result Blur(WindowHandle control);
// A click: push buttons; check boxes toggle; radio buttons check themselves
// and uncheck the others of their group. Then Clicked.
WF_API Result Click(WindowHandle control);
// Selects item `index` of a list box or a drop-down list or combo, then
// SelChange (also when the item was selected already).
WF_API Result Select(WindowHandle control, int32_t index);
// Moves a slider to `position` (kept within its range) with the mouse and
// lets go: ReleasedCapture.
WF_API Result Slide(WindowHandle control, int32_t position);

}  // namespace driver

namespace testing {
// The k-th window creation from now (1-based) fails.
WF_API void FailWindowCreation(int k);
WF_API void ClearFaults();
// Live windows and live temporary window objects, for leak checks.
WF_API int64_t LiveWindows();
}  // namespace testing

}  // namespace wf

#endif
