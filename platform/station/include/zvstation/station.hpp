// The simulated station: the servers behind the client and what their
// station pipes deliver.
//
// Servers are the folders SN<serial> directly inside the file space's root;
// each server's sensors come from its Settings.xml. The station shares the
// client's file space: Open, OpenServers and EnsureDemoStation make `root`
// the file space's root (zvFileSpaceSetRoot), and every file of the station
// is then looked for, read and written through it (settings.hpp), so that
// nothing outside the space is ever reached. Every server has a
// station pipe with a current mode (what it measures), an enabled flag and
// integer parameters. Nothing is delivered until a handler has asked for
// the server's results (zvPipeEngineRead, passed on by the host as
// StartDelivery); from then on each NextBatch call makes the results of
// the next stretch of simulated time for every delivering server.
//
// The scene is deterministic from the seed: logs (tapered cylinders with an
// oval cross-section) and boards carried through the frame one after the
// other at a set speed. Positions are in mils; the frame's centre is at
// (0, 12000), the centre of the default calibration target.
//
// Results are zvApi results made with the default allocator; NextBatch's
// caller owns them.
#ifndef ZVSTATION_STATION_HPP
#define ZVSTATION_STATION_HPP

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"
#include "zvstation/settings.hpp"
#include "zvstation/station_backend.hpp"

namespace zv::station {

struct Options {
    uint64_t seed = 1;
    double speed = 100000.0;         // transport speed, mils per second
    int32_t profilePoints = 0;       // points per profile; 0: 1024 to 2048 by sensor
    int32_t freeProfiles = 1;        // profiles of each sensor in a Free batch (200 is 10 kHz)
    bool calibrationErrors = false;  // the calibration report names failing sensors
};

// One piece carried through the frame.
struct Piece {
    enum class Kind { Log, Board };
    Kind kind = Kind::Log;
    double start = 0;       // transport position of its leading end, mils
    double length = 0;      // mils
    double radius = 0;      // log: radius at the leading end; board: half width
    double taper = 0;       // log: radius change per mil of length
    double ovality = 0;     // log: 0 round .. 0.3
    double thickness = 0;   // board: half thickness
    double angle = 0;       // rotation of the cross-section, radians
    double cx = 0, cy = 0;  // centre of the cross-section, mils
};

// The cross-section in the frame at one transport position.
struct Section {
    bool present = false;
    Piece::Kind kind = Piece::Kind::Log;
    double cx = 0, cy = 0;  // centre
    double a = 0, b = 0;    // semi-axes (log) or half width and thickness (board)
    double cosA = 1, sinA = 0;
    int64_t index = -1;  // which piece
};

// The pieces along the transport, made as the transport advances.
class Scene {
public:
    explicit Scene(uint64_t seed);
    // The cross-section in the frame when the transport is at `position`.
    Section At(double position);
    // The piece covering `position`, or null; made as needed.
    const Piece* PieceAt(double position, int64_t* index);

    // Distance along the ray (ox, oy) + t (dx, dy), |d| = 1, to the surface
    // of `s`, or a negative value when the ray misses it.
    static double Hit(const Section& s, double ox, double oy, double dx, double dy);
    // The point of the outline of `s` at parameter angle `phi`.
    static void Outline(const Section& s, double phi, double* x, double* y);

private:
    void Extend(double position);
    uint64_t state_;
    std::vector<Piece> pieces_;
    double end_ = 0;
};

// A server's station pipe.
struct Pipe {
    std::string mode;  // "" until set
    bool enabled = true;
    std::map<std::string, int32_t> parameters;
};

// The highest serial number a server can have: 4294967295 names the
// client's own pipe to the station backend (ZV_CLIENT_PIPE) and stands for
// "no serial number" in the settings (ZV_SERIAL_NONE).
inline constexpr uint32_t kMaxServerSerial = 0xFFFFFFFEu;

struct Server {
    uint32_t serial = 0;
    std::string folder;            // its folder in the file space ("SN7", as the disk spells it); "" when it has none
    bool settingsPresent = false;  // its folder holds a Settings.xml
    // Why that Settings.xml could not be read (the file and what is wrong);
    // empty when it was read or there is none. The server then keeps the
    // settings it had: none when the station was opened so.
    std::string settingsError;
    ServerSettings settings;
    Pipe pipe;
    bool delivering = false;
};

// Where the results of a batch come from: the serial number of the server
// that made each (in the order NextBatch appended them), and the simulated
// time at which the stretch that made them began. For servers on the
// network, the batches of theirs it holds and when each left its server.
struct SentBatch {
    uint32_t serial = 0;
    uint64_t sequence = 0;
    int64_t sentNs = 0;  // the server's wall clock (ns since 1970)
};
struct BatchOrigin {
    double time = 0;
    std::vector<uint32_t> servers;
    std::vector<SentBatch> sent;  // none for in-process servers
};

class Station : public StationBackend {
public:
    Station();
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Finds the servers in `root` (folders named SN<serial>, see
    // ParseServerFolder) in ascending serial order and reads their
    // Settings.xml. A folder named after a sensor of a server is that
    // sensor's folder (its files, such as the Video masks), not a server,
    // unless it has a Settings.xml. Makes no folder and looks at the root
    // once. Returns false with `*error` set when the root is no folder or
    // holds no server. A server without Settings.xml has no sensors; one
    // whose Settings.xml cannot be read has none either, and the reason in
    // its `settingsError`.
    bool Open(const std::filesystem::path& root, const Options& options, std::string* error);
    // The servers `serials` of `root` (the host's own list of them): each
    // is the folder SN<serial> (ServerFolder) with its Settings.xml when
    // there is one, read as Open does. Makes no folder. False with `*error`
    // set when the root is no folder, the list is empty or names a serial
    // no server can have (above kMaxServerSerial).
    bool OpenServers(const std::filesystem::path& root, const Options& options, const std::vector<uint32_t>& serials,
                     std::string* error);
    // A station of the one server `serial` whose folder is `folder` (a
    // server of its own, as on the network), with its Settings.xml when
    // there is one, read as Open does. False with `*error` set when the
    // folder is no folder or the serial no server's. With the same
    // options, its results are what a station
    // of several servers makes for this one, provided every server's pipe
    // is in the same mode and delivers from the start.
    bool OpenServer(const std::filesystem::path& folder, uint32_t serial, const Options& options, std::string* error);
    // Reads every server's Settings.xml again (pages change them while the
    // station runs): sensors, views and target take effect from the next
    // batch. A server whose file cannot be read keeps the settings it had,
    // with the reason in its `settingsError`; false with `*error` naming
    // every such server.
    bool ReloadSettings(std::string* error) override;
    // The simulation begins again at time 0 with the seed it was opened
    // with (batches made and not taken are dropped); the servers keep their
    // pipes and settings.
    void Rewind();

    const std::vector<Server>& Servers() const override;

    // The station pipe of server `serial`: ZV_E_NOTFOUND for an unknown
    // server; SetMode also for a mode the station does not run.
    zvStatus SetMode(uint32_t serial, const std::string& mode) override;
    zvStatus SetParameter(uint32_t serial, const std::string& name, int32_t value) override;
    zvStatus Enable(uint32_t serial, bool enabled) override;

    // A handler asked for server `serial`'s results. ZV_E_NOTFOUND for an
    // unknown server.
    zvStatus StartDelivery(uint32_t serial) override;
    bool Delivering() const;

    // Appends to `payloads` the results of the next stretch of simulated
    // time (the period of the delivering servers' mode) and advances the
    // clock; stretches in which nothing happens (no piece in the frame in
    // Detection) are skipped, up to a limit, after which it appends nothing.
    // Returns 1, or a failing zvApi status (nothing appended then).
    // `origin` (when given) tells where the appended results come from.
    zvStatus NextBatch(std::vector<zvHandle>* payloads, BatchOrigin* origin) override;
    using StationBackend::NextBatch;

    // Simulated seconds since the start.
    double Time() const override;
    // Seconds of simulated time one batch of `mode` covers; 0 for a mode the
    // station does not know.
    static double Period(const std::string& mode);
    // The modes a station pipe runs.
    static const std::vector<std::string>& Modes();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Makes a one-server demonstration station in `root` (which must exist)
// when it holds no server: folder SN<serial> with a Settings.xml of
// `sensors` sensors (DemoSettings) and a Calibration.xml. Returns true with
// `*created` telling whether anything was made; false with `*error` set.
bool EnsureDemoStation(const std::filesystem::path& root, int sensors, uint32_t serial, bool* created,
                       std::string* error);

// The serial number of a server's folder: "SN" in any case, then the
// number as the plug-in writes it into its paths (decimal, no leading zero,
// at most kMaxServerSerial); false for any other name ("SN01", "SN+1",
// "SN4294967295").
bool ParseServerFolder(const std::string& name, uint32_t* serial);

// The folder of server `serial` in `root`, which becomes the file space's
// root: the one the file space finds for "\SN<serial>\" (names matched
// without regard to case; of several, the first in byte order, which is the
// exact name when there is one). Empty when there is none.
std::filesystem::path ServerFolder(const std::filesystem::path& root, uint32_t serial);
// The folder of server `serial` directly in the file space's root, as the
// disk spells it ("sn7"); "" when there is none.
std::string ServerFolderName(uint32_t serial);
// Every server folder of `root` (which becomes the file space's root) by
// serial, as ServerFolder chooses them, from one look at the root.
std::map<uint32_t, std::filesystem::path> ServerFolders(const std::filesystem::path& root);

}  // namespace zv::station

#endif
