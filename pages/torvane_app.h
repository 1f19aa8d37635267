// The plug-in's window-framework state: its application object and its
// resources, the dialog templates of every page. TorvanePageCreate, a
// page's Create and Destroy make it current for their duration.
#ifndef TORVANE_PAGES_TORVANE_APP_H
#define TORVANE_PAGES_TORVANE_APP_H

#include "winframe/winframe.hpp"

// The library's application object: a CWinApp created with no name, whose
// instance initialisation is the framework's.
class CTorvaneApp : public CWinApp {
public:
    CTorvaneApp() : CWinApp(nullptr) {}
    bool InitInstance() override;
};

wf::ModuleState* TorvaneModuleState();

#endif
