// The base of every configuration page: a modeless dialog of the window
// framework with the page interface the host holds.
//
// The host's order: PageFactory, SetNode, Create, then any number of
// Activate ... Deactivate cycles with Apply, Reload and IsModified between
// them, and finally Destroy. Pages use their node and site only after
// SetNode and Create.
#ifndef TORVANE_PAGES_CONFIG_PAGE_H
#define TORVANE_PAGES_CONFIG_PAGE_H

#include <cstdint>
#include <string>

#include "hostapi/hostapi.hpp"
#include "plugin/station_access.h"
#include "plugin/statuses.h"
#include "winframe/winframe.hpp"

class ConfigPage : public CDialog, public hostapi::Page {
    WF_DECLARE_DYNAMIC(ConfigPage)

public:
    explicit ConfigPage(int32_t templateId);
    ~ConfigPage() override;

    // ---- The page interface, in slot order --------------------------------
    // Makes the page's dialog, from its template, a child of the site's
    // window; kPageWindowFailed, with the site not kept, when it cannot be made.
    int32_t Create(hostapi::PageSite* site) override;
    int32_t SetNode(hostapi::Node* node) override;
    int32_t IsModified(int32_t* modified) override;
    int32_t Apply() override { return 1; }
    int32_t Reload() override { return 1; }
    int32_t Activate() override { return 1; }
    int32_t Deactivate() override { return 1; }
    int32_t Reserved7() override { return 1; }
    int32_t Reserved8() override { return 1; }
    int32_t Reserved9() override { return 1; }
    int32_t Reserved10() override { return 1; }
    int32_t GetWindow(wf::WindowHandle* window) override;
    // At most `length` characters of the name, the rest of the buffer
    // zero; no terminator when the name fills the buffer.
    int32_t GetName(char* buffer, int32_t length) override;
    // Destroys the window and deletes the page.
    int32_t Destroy() override;

    // The dialog's own creation stays reachable beside the page's.
    using CDialog::Create;

    // The name the host shows; "Default Name" unless a page has its own.
    virtual const char* PageName() const { return "Default Name"; }

protected:
    // A control's change: tells the host the page holds changes and marks
    // the page modified (for good).
    void ChangeNotice();

    // The server node above the page's node (none: a page opened where the
    // host put no server node).
    ServerNode* Server() const { return FindServerNode(node_); }
    // The page's node as a sensor node, or null.
    SensorNode* Sensor() const { return dynamic_cast<SensorNode*>(FindNode()); }
    Node* FindNode() const { return dynamic_cast<Node*>(node_); }

    // The server node's station pipe switched to `mode`. Reaching the pipe is
    // not checked on its own: a pipe that cannot be reached fails the switch.
    static zvStatus SwitchStationPipe(ServerNode* server, const char* mode);
    // The server node's settings cache loaded (`force` 0: only when it was
    // not yet) or written back to Settings.xml: 1, or the failure, told to
    // the operator. A cache that was never loaded is never written.
    zvStatus LoadServerCache(ServerNode* server, int32_t force) const;
    zvStatus SaveServerCache(ServerNode* server) const;
    // Apply of the pages that edit the cache: SaveServerCache; ZV_E_STATE
    // without a server node.
    int32_t ApplyServerCache() const;

    // Tells the operator, through the site, that `what` failed and why:
    // "<what>: <the platform's reason>", or "<what> (status N)" when the
    // platform kept no reason since it was last cleared. Returns `status`.
    zvStatus ReportFailure(const std::string& what, zvStatus status) const;
    // ReportFailure for settings of `server` that cannot be read (`unwritten`:
    // by an Apply, which then wrote nothing); an absent file and a reader
    // that stopped at an element the document must have (status 0), for
    // which the platform keeps no reason, are told as such.
    zvStatus ReportReadFailure(const ServerNode* server, zvStatus status, bool unwritten = false) const;
    // Tells the operator `text`; returns `status`.
    zvStatus Report(const std::string& text, zvStatus status) const;
    // Tells the operator that the page's sensor is not in its server's
    // settings; returns ZV_E_NOTFOUND.
    zvStatus ReportMissingSensor() const;
    // "server <serial>", as reports name the page's server.
    static std::string ServerName(const ServerNode* server);

    // The client and its pipe, through the site: the first failing status.
    zvStatus Client(zvHandle* client) const;
    zvStatus ClientPipe(zvHandle* pipe) const;
    // Display 0 of the current mode's displays, after SelectLayout(layout),
    // with both chart axes titled "mils": the multi-view to draw into, or
    // null when the host gives none.
    zvMultiView* DisplayForDrawing(int32_t layout) const;

    // A new, empty list of 32-bit integers (item type 151) for a pipe's
    // parameters, and setting its item `index` (ZV_E_RANGE when the list
    // has no such item).
    static zvStatus CreateIntegerList(zvHandle* list);
    static zvStatus SetIntegerItem(zvHandle list, int32_t index, int32_t value);

    // Text of a control as a string, and setting it.
    std::string ControlText(int32_t id) const;
    void SetControlText(int32_t id, const std::string& text);

    hostapi::PageSite* site_ = nullptr;
    hostapi::Node* node_ = nullptr;
    int32_t modified_ = 0;
    int32_t templateId_;
};

#endif
