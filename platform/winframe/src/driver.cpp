// User events, raised on controls as the user would make them.
#include <algorithm>

#include "registry.hpp"

namespace wf::driver {

namespace {

// Text typed into one control stops here, as a full edit takes no more.
constexpr size_t kMaxTypedText = 32767;

// The control behind `handle` if a user could act on it with an event for
// one of `kinds`; else why not.
Result Check(WindowHandle handle, std::initializer_list<ControlKind> kinds, WindowRecord** out) {
    Registry& registry = Registry::Get();
    WindowRecord* record = registry.Find(handle);
    if (!record || record->role != WindowRole::Control) return Result::NoWindow;
    if (std::find(kinds.begin(), kinds.end(), record->kind) == kinds.end()) return Result::WrongKind;
    const Result reachable = registry.Reachable(handle);
    if (reachable != Result::Done) return reachable;
    *out = record;
    return Result::Done;
}

// Where each typed character ends: UTF-8 sequences are typed whole.
std::vector<size_t> CharacterEnds(std::string_view text) {
    std::vector<size_t> ends;
    for (size_t i = 1; i <= text.size(); ++i)
        if (i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ends.push_back(i);
    return ends;
}

void UncheckGroup(Registry& registry, const WindowRecord& radio) {
    const WindowRecord* dialog = registry.Find(radio.parent);
    if (!dialog) return;
    const std::vector<WindowHandle>& controls = dialog->children;
    const auto self = std::find(controls.begin(), controls.end(), radio.handle);
    if (self == controls.end()) return;
    auto startsGroup = [&](WindowHandle h) {
        const WindowRecord* r = registry.Find(h);
        return r && (r->style & kStyleGroup);
    };
    auto first = self;
    while (first != controls.begin() && !startsGroup(*first)) --first;
    auto last = self + 1;
    while (last != controls.end() && !startsGroup(*last)) ++last;
    for (auto at = first; at != last; ++at) {
        WindowRecord* other = registry.Find(*at);
        if (other && other != &radio && other->kind == ControlKind::RadioButton) other->checked = 0;
    }
}

}  // namespace

const char* ResultText(Result result) {
    switch (result) {
        case Result::Done: return "done";
        case Result::NoWindow: return "no such control";
        case Result::Disabled: return "the control is disabled";
        case Result::Hidden: return "the control is hidden";
        case Result::WrongKind: return "the action does not apply to this kind of control";
        case Result::NoSuchItem: return "the list has no such item";
    }
    return "unknown result";
}

Result Type(WindowHandle control, std::string_view text) {
    static constexpr std::initializer_list<ControlKind> kinds{ControlKind::Edit, ControlKind::DropDownCombo};
    Registry& registry = Registry::Get();
    WindowRecord* record = nullptr;
    if (Result result = Check(control, kinds, &record); result != Result::Done) return result;
    if (text.size() > kMaxTypedText) {
        size_t cut = kMaxTypedText;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text = text.substr(0, cut);
    }

    // Each step: the text so far, then the edit's change notice. A handler
    // may disable, hide or destroy the control: the typing stops there.
    auto step = [&](std::string_view now) {
        WindowRecord* at = nullptr;
        if (Result result = Check(control, kinds, &at); result != Result::Done) return result;
        at->text.assign(now);
        if (at->kind == ControlKind::Edit) registry.Send(control, Notify::EditChange);
        return Result::Done;
    };
    if (!record->text.empty())
        if (Result result = step({}); result != Result::Done) return result;
    for (size_t end : CharacterEnds(text))
        if (Result result = step(text.substr(0, end)); result != Result::Done) return result;
    return Result::Done;
}

Result Blur(WindowHandle control) {
    WindowRecord* record = nullptr;
    Result result =
        Check(control,
              {ControlKind::Edit, ControlKind::DropDownList, ControlKind::DropDownCombo, ControlKind::ListBox,
               ControlKind::PushButton, ControlKind::CheckBox, ControlKind::RadioButton, ControlKind::Slider},
              &record);
    if (result != Result::Done) return result;
    if (record->kind == ControlKind::Edit) Registry::Get().Send(control, Notify::EditKillFocus);
    return Result::Done;
}

Result Click(WindowHandle control) {
    Registry& registry = Registry::Get();
    WindowRecord* record = nullptr;
    Result result = Check(control, {ControlKind::PushButton, ControlKind::CheckBox, ControlKind::RadioButton}, &record);
    if (result != Result::Done) return result;
    if (record->kind == ControlKind::CheckBox) record->checked = record->checked ? 0 : 1;
    if (record->kind == ControlKind::RadioButton) {
        UncheckGroup(registry, *record);
        record->checked = 1;
    }
    registry.Send(control, Notify::Clicked);
    return Result::Done;
}

Result Select(WindowHandle control, int32_t index) {
    WindowRecord* record = nullptr;
    Result result =
        Check(control, {ControlKind::ListBox, ControlKind::DropDownList, ControlKind::DropDownCombo}, &record);
    if (result != Result::Done) return result;
    if (index < 0 || index >= static_cast<int32_t>(record->items.size())) return Result::NoSuchItem;
    Registry::SetSelection(*record, index);
    Registry::Get().Send(control, Notify::SelChange);
    return Result::Done;
}

Result Slide(WindowHandle control, int32_t position) {
    WindowRecord* record = nullptr;
    if (Result result = Check(control, {ControlKind::Slider}, &record); result != Result::Done) return result;
    record->position = std::clamp(position, record->rangeMin, record->rangeMax);
    intptr_t answer = 0;
    Registry::Get().Send(control, Notify::ReleasedCapture, &answer);
    return Result::Done;
}

}  // namespace wf::driver
