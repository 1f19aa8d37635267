// The station as the client sees it: the backend the host installs on its
// zvApi client (zvClientSetStationBackend). It answers the zv station calls
// of the plug-in's pages:
//  - the client's own pipe: the current mode (one of the described pipe
//    app's modes), the enabled flag, and the parameter values of every mode,
//    starting at their declared initial values;
//  - each server's station pipe, kept by the Station (its modes are the
//    modes the station runs; station pipes declare no parameters);
//  - capture on or off and the segment size.
// Every change that took effect is told to the listener, in the order it
// happened, so that the host loop can act on it (start or stop a mode,
// hand parameters to the running handlers, switch what the station
// delivers, open or close a capture). A refused call changes nothing and
// tells nothing.
//
// Not thread-safe: the host calls the plug-in, and so this, from one thread.
#ifndef ZVSTATION_CONNECTION_HPP
#define ZVSTATION_CONNECTION_HPP

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "zvapi/zv_station.h"
#include "zvapi/zvapi.h"
#include "zvstation/station.hpp"

namespace zv::station {

// A mode of the client's pipe app: its name and parameters with their
// initial values, in declaration order.
struct ModeDeclaration {
    std::string name;
    std::vector<std::pair<std::string, int32_t>> parameters;
};

// One change of the connection.
struct PipeEvent {
    enum class Kind {
        Mode,        // a pipe's mode was set (also to the mode it had)
        Enabled,     // a pipe was enabled or disabled (also when it already was)
        Parameters,  // a pipe's mode's parameters were set (a station pipe's: none)
        Capture,     // capture switched on or off
        SegmentSize  // capture segment size set
    };
    Kind kind = Kind::Mode;
    uint32_t server = ZV_CLIENT_PIPE;  // ZV_CLIENT_PIPE: the client's own pipe
    std::string mode;                  // Mode, Parameters: the mode
    bool on = false;                   // Enabled, Capture
    std::vector<int32_t> values;       // Parameters
    int64_t bytes = 0;                 // SegmentSize
};

// Called after the change; it may make further zv calls (their events
// follow), and must not throw.
using PipeListener = std::function<void(const PipeEvent& event)>;

class Connection {
public:
    // `station` (not owned) must outlive the connection; null: a station
    // without servers. Of modes declared twice, the first counts.
    Connection(StationBackend* station, std::vector<ModeDeclaration> modes);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The table to install with zvClientSetStationBackend; its context is
    // this connection.
    const zvStationBackend* Backend() const { return &backend_; }
    // Adds every server of the station that `client` lacks and installs the
    // backend on it. The connection must outlive the client, or be replaced
    // on it first.
    zvStatus Attach(zvHandle client);

    void SetListener(PipeListener listener);

    // ---- The client's pipe, read and set by the host itself ----------------
    // (Setting through these tells the listener too.)
    const std::string& ClientMode() const { return clientMode_; }
    bool ClientEnabled() const { return clientEnabled_; }
    zvStatus SetClientMode(const std::string& mode);
    zvStatus SetClientEnabled(bool enabled);
    // Values of `mode`'s parameters in declaration order (empty for an
    // unknown mode); setting needs the declared count (ZV_E_RANGE).
    std::vector<int32_t> Parameters(const std::string& mode) const;
    zvStatus SetParameters(const std::string& mode, const std::vector<int32_t>& values);
    // By name, for `zvhost run --param`: ZV_E_NOTFOUND for an unknown mode
    // or parameter.
    zvStatus SetParameter(const std::string& mode, const std::string& name, int32_t value);

    bool CaptureOn() const { return captureOn_; }
    int64_t CaptureSegmentSize() const { return segmentSize_; }

private:
    static zvStatus HasServer(void* context, uint32_t server);
    static zvStatus SetMode(void* context, uint32_t server, const char* mode);
    static zvStatus CurrentMode(void* context, uint32_t server, char* buffer, int32_t size);
    static zvStatus GetParameters(void* context, uint32_t server, int32_t* values, int32_t capacity, int32_t* count);
    static zvStatus PutParameters(void* context, uint32_t server, const int32_t* values, int32_t count);
    static zvStatus SetEnabledOf(void* context, uint32_t server, int32_t enabled);
    static zvStatus EnabledOf(void* context, uint32_t server, int32_t* enabled);
    static zvStatus SetCapture(void* context, int32_t on);
    static zvStatus SetSegmentSize(void* context, int64_t bytes);

    const ModeDeclaration* Find(const std::string& mode) const;
    void Tell(const PipeEvent& event);

    StationBackend* station_;
    std::vector<ModeDeclaration> modes_;
    std::map<std::string, std::vector<int32_t>> values_;  // by mode
    std::string clientMode_;
    bool clientEnabled_ = true;
    bool captureOn_ = false;
    int64_t segmentSize_ = 0;  // 0: none set (the host's default applies)
    PipeListener listener_;
    zvStationBackend backend_{};
};

}  // namespace zv::station

#endif
