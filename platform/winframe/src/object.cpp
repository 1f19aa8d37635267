// Run-time classes, message maps, module states and application objects.
#include <cerrno>
#include <utility>

#include "registry.hpp"

namespace wf {

// ---- Run-time classes ----------------------------------------------------------

bool RuntimeClass::IsDerivedFrom(const RuntimeClass* other) const {
    if (!other) return false;
    for (const RuntimeClass* cls = this; cls; cls = cls->base)
        if (cls == other) return true;
    return false;
}

const RuntimeClass Object::classObject{"Object", nullptr};

Object::~Object() = default;

const RuntimeClass* Object::GetRuntimeClass() const { return &classObject; }

bool Object::IsKindOf(const RuntimeClass* cls) const { return GetRuntimeClass()->IsDerivedFrom(cls); }

// ---- Message maps ----------------------------------------------------------------

bool CmdTarget::Dispatch(int32_t id, Notify code, NotifyHeader* header, intptr_t* result) {
    for (const MessageMap* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
        for (const MessageEntry* entry = map->entries; entry && entry->code != Notify::None; ++entry) {
            if (entry->code == code && entry->id == id && entry->call) {
                entry->call(this, header, result);
                return true;
            }
        }
    }
    return false;
}

std::vector<MessageEntry> CmdTarget::MessageEntries() const {
    std::vector<MessageEntry> entries;
    for (const MessageMap* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr)
        for (const MessageEntry* entry = map->entries; entry && entry->code != Notify::None; ++entry)
            entries.push_back(*entry);
    return entries;
}

const MessageMap* CmdTarget::ThisMessageMap() {
    static const MessageEntry entries[] = {{Notify::None, 0, nullptr}};
    static const MessageMap map{nullptr, entries};
    return &map;
}

const MessageMap* CmdTarget::GetMessageMap() const { return ThisMessageMap(); }

// ---- Modules -----------------------------------------------------------------------

ModuleState::ModuleState(const char* name, std::span<const DialogTemplate* const> templates, App* app)
    : name_(name ? name : ""), templates_(templates), app_(app) {}

ModuleState::~ModuleState() { Registry::Get().ForgetModule(this); }

const DialogTemplate* ModuleState::FindTemplate(int32_t id) const {
    for (const DialogTemplate* dialog : templates_)
        if (dialog && dialog->id == id) return dialog;
    return nullptr;
}

ModuleState* ProgramModuleState() {
    // Never destroyed, like the registry: guards may run in static destructors.
    static ModuleState* program = new ModuleState(program_invocation_short_name, {});
    return program;
}

ModuleState* CurrentModuleState() {
    ModuleState* current = Registry::Get().current;
    return current ? current : ProgramModuleState();
}

ModuleGuard::ModuleGuard(ModuleState* state) : previous_(Registry::Get().current) {
    if (!state) return;
    Registry::Get().current = state;
    if (state->GetApp() && !state->Initialised()) {
        // Marked first, so that a guard made inside InitInstance does not
        // start it again.
        state->MarkInitialised();
        state->GetApp()->InitInstance();
    }
}

ModuleGuard::~ModuleGuard() { Registry::Get().current = previous_; }

App::App(const char* name) : name_(name) {}

App::~App() = default;

bool App::InitInstance() { return true; }

// ---- Message boxes ---------------------------------------------------------------

void SetMessageBoxHandler(MessageBoxHandler handler) { Registry::Get().messageBoxHandler = std::move(handler); }

std::string DefaultMessageBoxCaption() {
    const ModuleState* state = CurrentModuleState();
    if (const App* app = state->GetApp(); app && *app->Name()) return app->Name();
    return state->Name();
}

}  // namespace wf
