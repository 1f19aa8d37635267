// The station pipe of one server on the network as the client last set it.
//
// A server that returns from a new start has a fresh pipe (no mode, enabled,
// no parameters, not delivering), and one that was offline may have missed
// a change the client made meanwhile (the change failed then, but the
// client still wants it). The pipe is kept here as the client set it, and
// whenever the link comes back online what the server holds is compared
// with it and what differs is sent again, so that delivery resumes as it
// was without the client doing anything.
//
// Not thread-safe: the host's loop thread sets it and polls it.
#ifndef ZVSTATION_NET_REMOTE_PIPE_HPP
#define ZVSTATION_NET_REMOTE_PIPE_HPP

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "zvstation/net/link.hpp"

namespace zv::station::net {

class RemotePipe {
public:
    // `link` (not owned) must outlive the pipe.
    explicit RemotePipe(ServerLink* link);

    // Sent to the server; kept as wanted only when the server took it, or
    // could not be reached (a refusal, such as an unknown mode, changes
    // nothing). The server's status, with its reason in `*why`.
    zvStatus SetMode(const std::string& mode, std::string* why = nullptr);
    zvStatus SetParameters(const std::vector<std::pair<std::string, int32_t>>& values, std::string* why = nullptr);
    zvStatus Enable(bool on, std::string* why = nullptr);
    zvStatus StartDelivery(std::string* why = nullptr);
    zvStatus StopDelivery(std::string* why = nullptr);

    // The link's events since the last call. After an Online event the pipe
    // is restored first; the event's text then says what was sent again,
    // or why restoring failed.
    std::vector<LinkEvent> Poll();

    // The pipe as the client wants it.
    const wire::PipeState& Wanted() const { return wanted_; }

private:
    // Sends what the server's pipe `held` lacks of the wanted one: false
    // with `*what` saying what failed; `*what` lists what was sent.
    bool Restore(const wire::PipeState& held, std::string* what);
    static bool Unreached(zvStatus status);

    ServerLink* link_;
    wire::PipeState wanted_;
    std::map<std::string, int32_t> parameters_;
};

}  // namespace zv::station::net

#endif
