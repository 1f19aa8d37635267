// What the host's station is to the client: its servers, their station
// pipes and the batches they deliver. The in-process simulator (Station)
// is one; a station whose servers are zvstation processes on the network,
// or some of each, is another (zvstation/net/network_station.hpp). The
// client's connection and the host loop use only this.
#ifndef ZVSTATION_STATION_BACKEND_HPP
#define ZVSTATION_STATION_BACKEND_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"

namespace zv::station {

struct Server;
struct BatchOrigin;

class StationBackend {
public:
    virtual ~StationBackend() = default;

    // The servers, first server first.
    virtual const std::vector<Server>& Servers() const = 0;
    // Reads every server's Settings.xml again; false with `*error` naming
    // every server whose file cannot be read.
    virtual bool ReloadSettings(std::string* error) = 0;

    // The station pipe of server `serial`: ZV_E_NOTFOUND for an unknown
    // server, SetMode also for a mode the station does not run; a failing
    // status for a server that cannot be reached.
    virtual zvStatus SetMode(uint32_t serial, const std::string& mode) = 0;
    virtual zvStatus SetParameter(uint32_t serial, const std::string& name, int32_t value) = 0;
    virtual zvStatus Enable(uint32_t serial, bool enabled) = 0;
    // A handler asked for server `serial`'s results.
    virtual zvStatus StartDelivery(uint32_t serial) = 0;

    // Appends the results of the next batch to `payloads` (none when
    // nothing was delivered) and says where they come from; 1, or a
    // failing status with nothing appended.
    virtual zvStatus NextBatch(std::vector<zvHandle>* payloads, BatchOrigin* origin) = 0;
    zvStatus NextBatch(std::vector<zvHandle>* payloads) { return NextBatch(payloads, nullptr); }
    // Simulated seconds since the start, up to the end of the last batch.
    virtual double Time() const = 0;
};

}  // namespace zv::station

#endif
