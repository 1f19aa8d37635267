// Every page against its dialog template: each control a page binds or
// hears from (its message map) is a control of the template, of a kind
// that fits, so that no handler waits for a notification its control
// never raises and no control object stays unbound.
#include <gtest/gtest.h>

#include <set>

#include "pages/config_page.h"
#include "pages/dialog_templates.h"
#include "pages/page_factory.h"
#include "pages/torvane_app.h"

namespace {

const wf::ControlTemplate* FindControl(const wf::DialogTemplate& dialog, int32_t id) {
    for (const wf::ControlTemplate& control : dialog.controls)
        if (control.id == id) return &control;
    return nullptr;
}

TEST(PageTemplates, EveryControlAPageBindsOrHearsIsInItsTemplateWithAKindThatFits) {
    const wf::WindowHandle host = wf::CreateHostWindow("templates");
    wf::ModuleGuard guard(TorvaneModuleState());
    int32_t pages = 0;
    for (const wf::DialogTemplate* dialog : PageDialogTemplates()) {
        SCOPED_TRACE("template " + std::to_string(dialog->id));
        std::set<int32_t> ids;
        for (const wf::ControlTemplate& control : dialog->controls) {
            if (control.id == wf::kStaticId) continue;
            EXPECT_TRUE(ids.insert(control.id).second) << "control " << control.id << " twice";
        }
        auto* page = dynamic_cast<ConfigPage*>(PageFactory(dialog->id));
        ASSERT_NE(page, nullptr) << "no page for the template";
        ++pages;

        for (const wf::MessageEntry& entry : page->MessageEntries()) {
            const wf::ControlTemplate* control = FindControl(*dialog, entry.id);
            ASSERT_NE(control, nullptr) << "the message map names control " << entry.id;
            EXPECT_TRUE(wf::Raises(control->kind, entry.code))
                << "control " << entry.id << " (" << wf::KindName(control->kind) << ") never raises notification "
                << static_cast<int>(entry.code);
        }

        // A control object binds only to a control of a kind its class
        // fits: made from the template, every one of them is bound.
        ASSERT_TRUE(page->Create(dialog->id, wf::Window::FromHandle(host)));
        for (const wf::ControlBinding& binding : page->Bindings()) {
            EXPECT_NE(FindControl(*dialog, binding.id), nullptr) << "the binding names control " << binding.id;
            EXPECT_NE(binding.control->Handle(), nullptr) << "control " << binding.id << " is not bound";
            EXPECT_EQ(binding.control->Handle(), wf::FindControl(page->Handle(), binding.id)) << binding.id;
        }
        page->Destroy();
    }
    EXPECT_EQ(pages, 12);
    wf::DestroyHostWindow(host);
}

}  // namespace
