#include "zvstation/net/remote_pipe.hpp"

#include <algorithm>

namespace zv::station::net {

RemotePipe::RemotePipe(ServerLink* link) : link_(link) {}

// A server that could not be reached still gets the change when it is
// back; one that answered and refused it does not.
bool RemotePipe::Unreached(zvStatus status) { return status == ZV_E_IO; }

zvStatus RemotePipe::SetMode(const std::string& mode, std::string* why) {
    const zvStatus status = link_->SetMode(mode, why);
    if (status > 0 || Unreached(status)) wanted_.mode = mode;
    return status;
}

zvStatus RemotePipe::SetParameters(const std::vector<std::pair<std::string, int32_t>>& values, std::string* why) {
    const zvStatus status = link_->SetParameters(values, why);
    if (status > 0 || Unreached(status)) {
        for (const auto& [name, value] : values) parameters_[name] = value;
        wanted_.parameters.assign(parameters_.begin(), parameters_.end());
    }
    return status;
}

zvStatus RemotePipe::Enable(bool on, std::string* why) {
    const zvStatus status = link_->Enable(on, why);
    if (status > 0 || Unreached(status)) wanted_.enabled = on;
    return status;
}

zvStatus RemotePipe::StartDelivery(std::string* why) {
    const zvStatus status = link_->StartDelivery(why);
    if (status > 0 || Unreached(status)) wanted_.delivering = true;
    return status;
}

zvStatus RemotePipe::StopDelivery(std::string* why) {
    const zvStatus status = link_->StopDelivery(why);
    if (status > 0 || Unreached(status)) wanted_.delivering = false;
    return status;
}

bool RemotePipe::Restore(const wire::PipeState& held, std::string* what) {
    std::vector<std::string> sent;
    std::string why;
    auto failed = [&](const std::string& step) {
        *what = "restoring its pipe failed at " + step + ": " + why;
        return false;
    };
    // The mode first: parameters and delivery are the mode's.
    if (!wanted_.mode.empty() && held.mode != wanted_.mode) {
        if (link_->SetMode(wanted_.mode, &why) <= 0) return failed("the mode " + wanted_.mode);
        sent.push_back("mode " + wanted_.mode);
    }
    std::vector<std::pair<std::string, int32_t>> differing;
    for (const auto& value : wanted_.parameters)
        if (std::find(held.parameters.begin(), held.parameters.end(), value) == held.parameters.end())
            differing.push_back(value);
    if (!differing.empty()) {
        if (link_->SetParameters(differing, &why) <= 0) return failed("its parameters");
        sent.push_back(std::to_string(differing.size()) + " parameter(s)");
    }
    if (held.enabled != wanted_.enabled) {
        if (link_->Enable(wanted_.enabled, &why) <= 0) return failed(wanted_.enabled ? "enabling" : "disabling");
        sent.push_back(wanted_.enabled ? "enabled" : "disabled");
    }
    if (held.delivering != wanted_.delivering) {
        const zvStatus status = wanted_.delivering ? link_->StartDelivery(&why) : link_->StopDelivery(&why);
        if (status <= 0) return failed("delivery");
        sent.push_back(wanted_.delivering ? "delivering" : "not delivering");
    }
    *what = sent.empty() ? "its pipe is as the client set it" : "its pipe restored (" + [&] {
        std::string list;
        for (const std::string& s : sent) list += (list.empty() ? "" : ", ") + s;
        return list;
    }() + ")";
    return true;
}

std::vector<LinkEvent> RemotePipe::Poll() {
    std::vector<LinkEvent> events = link_->TakeEvents();
    for (LinkEvent& event : events) {
        if (event.kind != LinkEvent::Kind::Online) continue;
        wire::Request request;
        request.op = wire::Op::GetPipe;
        const wire::Reply held = link_->Call(request);
        std::string what;
        if (held.status <= 0) {
            what = "reading its pipe failed: " + held.message;
        } else {
            Restore(held.pipe, &what);
        }
        event.text += (event.text.empty() ? "" : "; ") + what;
    }
    return events;
}

}  // namespace zv::station::net
