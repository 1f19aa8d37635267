// The simulated station's servers, their station pipes and what each mode
// delivers.
#include "zvstation/station.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <system_error>
#include <unordered_set>

#include "results.hpp"
#include "zvapi/zv_file_space.hpp"

namespace zv::station {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFrameX = 0.0;
constexpr double kFrameY = 12000.0;
constexpr double kSensorDistance = 20000.0;  // sensor to frame centre, mils
constexpr double kProfileSpan = 18000.0;     // lateral field of a sensor, mils
constexpr double kBedY = 3000.0;             // the conveyor bed
constexpr double kBedHalfWidth = 9000.0;
constexpr int32_t kIntensityRows = 4;
constexpr double kSliceSpacing = 250.0;  // mils between detection slices
constexpr int32_t kSlicePoints = 360;
constexpr int32_t kWebRows = 10;
constexpr int32_t kWebColumns = 256;
constexpr int32_t kWebOrigin = -8000;
constexpr int32_t kWebResolution = 63;
constexpr int32_t kVideoWidth = 448;
constexpr int32_t kVideoHeight = 176;
constexpr int kEmptyStretchLimit = 400;

// Fast deterministic noise.
struct Noise {
    uint64_t s;
    uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<uint32_t>(s >> 32);
    }
    // Uniform in [-1, 1).
    double Signed() { return static_cast<double>(Next()) * (2.0 / 4294967296.0) - 1.0; }
};

int16_t Clamp16(double v) {
    if (v > 32767) return 32767;
    if (v < -32767) return -32767;
    return static_cast<int16_t>(std::lround(v));
}

// Makes `root` the file space's root, which the station's files are read
// and written through.
bool UseRoot(const std::filesystem::path& root, std::string* error) {
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec) || zvFileSpaceSetRoot(root.c_str()) <= 0) {
        *error = "the file space " + root.string() + " is not a folder";
        return false;
    }
    return true;
}

// Where a sensor stands and how it looks at the frame.
struct SensorGeometry {
    uint32_t serial = 0;
    int32_t index = 0;  // position in the server's sensor list
    int32_t points = 1024;
    double cosT = 1, sinT = 0;  // direction from the frame centre to the sensor
};

}  // namespace

ServerSettings DemoSettings(int count, uint32_t firstSerial);

// The SN<serial> folders of the file space's root (any case) by serial,
// from one look at the root. Of two folders naming one serial ("SN1" and
// "sn1"), the one the file space resolves "\SN1\" to: the first in byte
// order, which is the exact name when it exists. A link counts as a folder
// here: whether it leads to one inside the space, the file space says when
// its files are read.
std::map<uint32_t, std::string> ServerFolders() {
    std::map<uint32_t, std::string> folders;
    std::vector<zv::files::Entry> entries;
    if (zv::files::ListFolder("\\", &entries) <= 0) return folders;
    for (const zv::files::Entry& entry : entries) {
        uint32_t serial = 0;
        if (entry.kind != zv::files::Entry::Kind::kFolder && entry.kind != zv::files::Entry::Kind::kLink) continue;
        if (!ParseServerFolder(entry.name, &serial)) continue;
        auto [it, added] = folders.emplace(serial, entry.name);
        if (!added && entry.name < it->second) it->second = entry.name;
    }
    return folders;
}

std::map<uint32_t, std::filesystem::path> ServerFolders(const std::filesystem::path& root) {
    std::map<uint32_t, std::filesystem::path> folders;
    std::string error;
    if (!UseRoot(root, &error)) return folders;
    for (const auto& [serial, name] : ServerFolders()) folders.emplace(serial, root / name);
    return folders;
}

std::string ServerFolderName(uint32_t serial) {
    const std::map<uint32_t, std::string> folders = ServerFolders();
    const auto found = folders.find(serial);
    return found != folders.end() ? found->second : std::string();
}

std::filesystem::path ServerFolder(const std::filesystem::path& root, uint32_t serial) {
    std::string error;
    if (!UseRoot(root, &error)) return {};
    const std::string name = ServerFolderName(serial);
    return name.empty() ? std::filesystem::path() : root / name;
}

bool ParseServerFolder(const std::string& name, uint32_t* serial) {
    if (name.size() < 3 || name.size() > 12) return false;
    if (std::toupper(static_cast<unsigned char>(name[0])) != 'S' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'N')
        return false;
    // The number as the plug-in writes it into its paths ("%u"): "SN01" is
    // no folder of server 1, which the plug-in reaches as "SN1".
    if (name[2] == '0' && name.size() > 3) return false;
    uint64_t value = 0;
    for (size_t i = 2; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
        value = value * 10 + static_cast<uint64_t>(name[i] - '0');
        if (value > kMaxServerSerial) return false;
    }
    *serial = static_cast<uint32_t>(value);
    return true;
}

static Server* FindServer(std::vector<Server>& servers, uint32_t serial) {
    for (Server& s : servers)
        if (s.serial == serial) return &s;
    return nullptr;
}

struct Station::Impl {
    Options options;
    std::vector<Server> servers;
    std::vector<std::vector<SensorGeometry>> geometry;  // per server
    Scene scene{1};
    // Each server draws noise of its own, so that what one server makes
    // does not depend on the others: a server on the network makes its
    // results alone, and they equal its share of the station's.
    std::vector<Noise> noise;  // per server
    double time = 0;           // seconds
    int64_t frames = 0;
    // Detection: the piece whose slices are being delivered, per server.
    std::vector<int64_t> openPiece;
    // A batch made, not yet taken, and where its results come from.
    struct Made {
        std::vector<zvHandle> results;
        std::vector<uint32_t> servers;  // per result
        double time = 0;
    };
    std::deque<Made> queue;

    ~Impl() {
        for (auto& batch : queue)
            for (zvHandle h : batch.results) zvObjectDestroy(h);
    }

    // The noise of server `serial`: server 1 draws the stream a station of
    // one server always drew.
    static Noise ServerNoise(uint64_t seed, uint32_t serial) {
        const uint64_t state = seed * 0x2545F4914F6CDD1Dull + 0x9E3779B97F4A7C15ull +
                               (static_cast<uint64_t>(serial) - 1) * 0xD1B54A32D192ED03ull;
        return Noise{state != 0 ? state : 0x9E3779B97F4A7C15ull};
    }

    // Per-server state for the servers as they are now.
    void Seat() {
        openPiece.assign(servers.size(), -1);
        noise.clear();
        for (const Server& server : servers) noise.push_back(ServerNoise(options.seed, server.serial));
    }

    void Queue(std::vector<zvHandle> results, uint32_t serial) {
        Made made;
        made.servers.assign(results.size(), serial);
        made.results = std::move(results);
        made.time = time;
        queue.push_back(std::move(made));
    }

    double Ticks(const Server& server, double position) const {
        const double res = server.settings.encoderResolution > 0 ? server.settings.encoderResolution : 1.0;
        return position / res;
    }

    void Arrange(size_t s) {
        std::vector<SensorGeometry> g;
        const auto& sensors = servers[s].settings.sensors;
        const size_t n = std::max<size_t>(1, sensors.size());
        for (size_t i = 0; i < sensors.size(); ++i) {
            SensorGeometry sg;
            sg.serial = sensors[i].serial;
            sg.index = static_cast<int32_t>(i);
            const double theta = kPi / 2 + 2 * kPi * static_cast<double>(i) / static_cast<double>(n);
            sg.cosT = std::cos(theta);
            sg.sinT = std::sin(theta);
            sg.points = options.profilePoints > 0 ? std::clamp(options.profilePoints, 1, 4096)
                                                  : 1024 + static_cast<int32_t>((i * 256) % 1280);
            g.push_back(sg);
        }
        geometry.push_back(std::move(g));
    }

    void ArrangeAll() {
        geometry.clear();
        for (size_t s = 0; s < servers.size(); ++s) Arrange(s);
    }

    // Reads every server's Settings.xml. A server whose file cannot be read
    // keeps the settings it had (none when the station opens; a running
    // mode goes on unchanged) and the reason in `settingsError`; false with
    // `*error` naming every such server.
    bool ReadSettings(std::string* error) {
        std::string failures;
        for (Server& server : servers) {
            server.settingsError.clear();
            std::string text;
            std::string why;
            bool absent = true;
            const std::string path = server.folder + "/Settings.xml";
            if (server.folder.empty() || !ReadStationFile(path, &text, &why, &absent)) {
                if (absent) {
                    server.settings = {};
                    server.settingsPresent = false;
                    continue;
                }
            }
            server.settingsPresent = true;
            ServerSettings read;
            if (why.empty() && ParseServerSettings(text, path, &read, &why)) {
                server.settings = std::move(read);
            } else {
                server.settingsError = why.empty() ? path + ": cannot be read" : why;
                failures += (failures.empty() ? "" : "; ") + server.settingsError;
            }
        }
        ArrangeAll();
        if (!failures.empty()) *error = failures;
        return failures.empty();
    }

    // The servers `serials`, each in its folder of `folders` (SN<serial>
    // below `root` when it has none), with their settings.
    bool OpenFolders(const std::filesystem::path& root, const Options& with, const std::vector<uint32_t>& serials,
                     const std::map<uint32_t, std::string>& folders, std::string* error) {
        options = with;
        scene = Scene(with.seed);
        servers.clear();
        geometry.clear();
        if (serials.empty()) {
            *error = "the file space " + root.string() + " holds no server (no SN<serial> folder)";
            return false;
        }
        for (uint32_t serial : serials) {
            if (serial > kMaxServerSerial) {
                servers.clear();
                *error = "server " + std::to_string(serial) + ": no server has that serial number (" +
                         std::to_string(ZV_CLIENT_PIPE) + " names the client's own pipe)";
                return false;
            }
            if (FindServer(servers, serial) != nullptr) continue;
            Server server;
            server.serial = serial;
            const auto found = folders.find(serial);
            server.folder = found != folders.end() ? found->second : "SN" + std::to_string(serial);
            servers.push_back(std::move(server));
        }
        std::sort(servers.begin(), servers.end(), [](const Server& a, const Server& b) { return a.serial < b.serial; });
        // A server whose settings cannot be read is opened all the same,
        // without sensors and with the reason: its settings are what the
        // operator repairs through the station.
        std::string unread;
        ReadSettings(&unread);
        Seat();
        return true;
    }

    // Distance along a sensor's ray at lateral offset `u` to the nearest
    // surface (piece or bed); negative when nothing is hit. Gives the ray.
    double Cast(const Section& section, const SensorGeometry& g, double u, double* ox, double* oy, double* dx,
                double* dy) const {
        *dx = -g.cosT;
        *dy = -g.sinT;
        *ox = kFrameX + kSensorDistance * g.cosT - u * g.sinT;
        *oy = kFrameY + kSensorDistance * g.sinT + u * g.cosT;
        double t = Scene::Hit(section, *ox, *oy, *dx, *dy);
        if (*dy < -1e-9) {
            const double tb = (kBedY - *oy) / *dy;
            const double bx = *ox + tb * *dx;
            if (tb >= 0 && std::fabs(bx) <= kBedHalfWidth && (t < 0 || tb < t)) t = tb;
        }
        return t;
    }

    // A profile at `position`, measured `seconds` after the batch's start.
    zvStatus Profile(const Server& server, Noise& noise, const SensorGeometry& g, double position, double seconds,
                     const Section& section, std::vector<zvHandle>* out) {
        ResultBuilder r;
        zvStatus status = r.Init(0, {static_cast<int64_t>(g.serial), 1});
        if (status <= 0) return status;
        auto* stamp = static_cast<zvStamp*>(r.AddArray(ZV_TYPE_STAMP, {1}, &status));
        if (stamp == nullptr) return status;
        stamp->encoder = static_cast<int64_t>(Ticks(server, position));
        stamp->time = static_cast<uint64_t>((time + seconds) * 1e6);
        stamp->inputState = section.present ? 1 : 0;
        const int32_t n = g.points;
        auto* points = static_cast<int16_t*>(r.AddArray(ZV_TYPE_INT16, {n, 2}, &status));
        if (points == nullptr) return status;
        auto* intensity = static_cast<uint8_t*>(r.AddArray(ZV_TYPE_UINT8, {n, kIntensityRows}, &status));
        if (intensity == nullptr) return status;
        const double step = n > 1 ? kProfileSpan / (n - 1) : 0;
        for (int32_t j = 0; j < n; ++j) {
            const double u = -kProfileSpan / 2 + step * j;
            double ox, oy, dx, dy;
            const double t = Cast(section, g, u, &ox, &oy, &dx, &dy);
            uint8_t* row = intensity + static_cast<ptrdiff_t>(j) * kIntensityRows;
            if (t < 0) {
                points[2 * j] = INT16_MIN;
                points[2 * j + 1] = INT16_MIN;
                continue;
            }
            const double jitter = 4.0 * noise.Signed();
            points[2 * j] = Clamp16(ox + t * dx);
            points[2 * j + 1] = Clamp16(oy + t * dy + jitter);
            // Brighter where the surface faces the sensor.
            const double facing = 1.0 - std::min(1.0, std::fabs(u) / (kProfileSpan / 2));
            const int base = 90 + static_cast<int>(140 * facing);
            for (int32_t k = 0; k < kIntensityRows; ++k)
                row[k] = static_cast<uint8_t>(std::clamp(base - 12 * k + static_cast<int>(noise.Next() % 16), 0, 255));
        }
        out->push_back(r.Release());
        return ZV_OK;
    }

    // Each sensor's profiles of one batch, spread evenly over its stretch,
    // in the order they are measured.
    zvStatus Free(size_t s, double p0, std::vector<zvHandle>* batch) {
        const int32_t count = std::max(1, options.freeProfiles);
        const double spacing = Period("Free") / count;
        for (int32_t k = 0; k < count; ++k) {
            const double position = p0 + k * spacing * options.speed;
            const Section section = scene.At(position);
            for (const SensorGeometry& g : geometry[s]) {
                if (servers[s].settings.sensors[static_cast<size_t>(g.index)].enabled == 0) continue;
                zvStatus status = Profile(servers[s], noise[s], g, position, k * spacing, section, batch);
                if (status <= 0) return status;
            }
        }
        return ZV_OK;
    }

    zvStatus Calibration(size_t s, std::vector<zvHandle>* batch) {
        std::vector<int64_t> attributes;
        if (options.calibrationErrors) {
            static const int64_t codes[] = {-10, -7, -4, -13};
            const auto& sensors = servers[s].settings.sensors;
            for (size_t i = 1; i < sensors.size(); i += 2) {
                attributes.push_back(static_cast<int64_t>(i));
                attributes.push_back(codes[(i / 2) % 4]);
            }
            if (sensors.size() < 2) attributes = {0, -4};
        }
        ResultBuilder r;
        zvStatus status = r.Init(8, attributes);
        if (status <= 0) return status;
        batch->push_back(r.Release());
        // A calibration without errors is stored on the server, as the
        // station does: the simulated frame needs no correction, so every
        // sensor's coefficients are zero (replacing ones tuned before). A
        // file that cannot be written leaves the old one; the report goes out
        // all the same.
        const Server& server = servers[s];
        if (attributes.empty() && !server.folder.empty() && !server.settings.sensors.empty()) {
            std::string ignored;
            WriteCalibration(server.folder + "/Calibration.xml", server.settings.sensors, &ignored);
        }
        return ZV_OK;
    }

    zvStatus SliceBatch(const Server& server, Noise& noise, const std::vector<double>& positions,
                        std::vector<zvHandle>* out) {
        ResultBuilder r;
        zvStatus status = r.Init(1, {1});
        if (status <= 0) return status;
        const auto k = static_cast<int32_t>(positions.size());
        auto* rows = static_cast<int64_t*>(r.AddArray(ZV_TYPE_INT64, {k, 2}, &status));
        if (rows == nullptr) return status;
        auto* points = static_cast<int16_t*>(r.AddArray(ZV_TYPE_INT16, {k, kSlicePoints, 2}, &status));
        if (points == nullptr) return status;
        for (int32_t i = 0; i < k; ++i) {
            const Section section = scene.At(positions[static_cast<size_t>(i)]);
            rows[2 * i] = static_cast<int64_t>(Ticks(server, positions[static_cast<size_t>(i)]));
            rows[2 * i + 1] = kSlicePoints;
            int16_t* slice = points + static_cast<ptrdiff_t>(i) * kSlicePoints * 2;
            for (int32_t j = 0; j < kSlicePoints; ++j) {
                double x, y;
                Scene::Outline(section, 2 * kPi * j / kSlicePoints, &x, &y);
                slice[2 * j] = Clamp16(x + 3 * noise.Signed());
                slice[2 * j + 1] = Clamp16(y + 3 * noise.Signed());
            }
        }
        out->push_back(r.Release());
        return ZV_OK;
    }

    zvStatus ObjectEnd(int64_t piece, std::vector<zvHandle>* out) {
        ResultBuilder r;
        zvStatus status = r.Init(9, {piece});
        if (status <= 0) return status;
        out->push_back(r.Release());
        return ZV_OK;
    }

    // Detection: the slices of the stretch as one batch per piece, and an
    // end-of-object batch when a piece has left the frame. Each batch holds
    // one result.
    zvStatus Detection(size_t s, double p0, double p1) {
        std::vector<double> slices;
        int64_t& open = openPiece[s];
        auto flush = [&]() -> zvStatus {
            if (slices.empty()) return ZV_OK;
            std::vector<zvHandle> batch;
            zvStatus status = SliceBatch(servers[s], noise[s], slices, &batch);
            if (status <= 0) return status;
            Queue(std::move(batch), servers[s].serial);
            slices.clear();
            return ZV_OK;
        };
        auto end = [&]() -> zvStatus {
            zvStatus status = flush();
            if (status <= 0) return status;
            std::vector<zvHandle> batch;
            status = ObjectEnd(open, &batch);
            if (status <= 0) return status;
            Queue(std::move(batch), servers[s].serial);
            open = -1;
            return ZV_OK;
        };
        for (double p = std::ceil(p0 / kSliceSpacing) * kSliceSpacing; p < p1; p += kSliceSpacing) {
            int64_t index = -1;
            scene.PieceAt(p, &index);
            if (index != open && open >= 0) {
                zvStatus status = end();
                if (status <= 0) return status;
            }
            if (index >= 0) {
                open = index;
                slices.push_back(p);
            }
        }
        return flush();
    }

    zvStatus Web(const Server& server, double p0, double p1, std::vector<zvHandle>* batch) {
        const double ticks0 = Ticks(server, p0);
        const double step = (Ticks(server, p1) - ticks0) / kWebRows;
        ResultBuilder r;
        zvStatus status = r.Init(5, {0, kWebOrigin, kWebResolution, static_cast<int64_t>(ticks0),
                                     static_cast<int64_t>(std::lround(step)), 1});
        if (status <= 0) return status;
        auto* cells = static_cast<int32_t*>(r.AddArray(ZV_TYPE_INT32, {kWebRows, kWebColumns}, &status));
        if (cells == nullptr) return status;
        for (int32_t i = 0; i < kWebRows; ++i) {
            const Section section = scene.At(p0 + (p1 - p0) * i / kWebRows);
            for (int32_t c = 0; c < kWebColumns; ++c) {
                const double x = kWebOrigin + static_cast<double>(c) * kWebResolution;
                const double t = Scene::Hit(section, x, 40000, 0, -1);
                cells[i * kWebColumns + c] = t < 0 ? -1 : static_cast<int32_t>(std::lround(40000 - t));
            }
        }
        batch->push_back(r.Release());
        return ZV_OK;
    }

    zvStatus Video(size_t s, double p0, std::vector<zvHandle>* batch) {
        const auto& g = geometry[s];
        if (g.empty()) return ZV_OK;
        const Server& server = servers[s];
        auto it = server.pipe.parameters.find("SelectedSensor");
        const SensorGeometry* sensor = &g.front();
        if (it != server.pipe.parameters.end()) {
            for (const SensorGeometry& candidate : g)
                if (candidate.serial == static_cast<uint32_t>(it->second)) sensor = &candidate;
        }
        const int32_t camera = static_cast<int32_t>(frames % 2);
        ResultBuilder r;
        zvStatus status = r.Init(6, {static_cast<int64_t>(sensor->serial), camera});
        if (status <= 0) return status;
        auto* pixels = static_cast<uint8_t*>(r.AddArray(ZV_TYPE_UINT8, {kVideoHeight, kVideoWidth, 4}, &status));
        if (pixels == nullptr) return status;
        for (int32_t i = 0; i < kVideoWidth * kVideoHeight; ++i) {
            const auto v = static_cast<uint8_t>(8 + noise[s].Next() % 28);
            pixels[4 * i] = v;
            pixels[4 * i + 1] = v;
            pixels[4 * i + 2] = v;
            pixels[4 * i + 3] = 255;
        }
        const Section section = scene.At(p0);
        // Camera 1 sees the other half of the laser sheet.
        const double offset = camera == 0 ? -kProfileSpan / 4 : kProfileSpan / 4;
        for (int32_t c = 0; c < kVideoWidth; ++c) {
            const double u = offset + (static_cast<double>(c) / (kVideoWidth - 1) - 0.5) * kProfileSpan / 2;
            double ox, oy, dx, dy;
            const double t = Cast(section, *sensor, u, &ox, &oy, &dx, &dy);
            if (t < 0) continue;
            const double row = (t - (kSensorDistance - 12000)) / 24000 * (kVideoHeight - 1);
            for (int32_t k = -3; k <= 3; ++k) {
                const int32_t y = static_cast<int32_t>(std::lround(row)) + k;
                if (y < 0 || y >= kVideoHeight) continue;
                const double fall = std::exp(-0.35 * k * k);
                uint8_t* px = pixels + (static_cast<ptrdiff_t>(y) * kVideoWidth + c) * 4;
                px[0] = std::max(px[0], static_cast<uint8_t>(200 * fall));
                px[1] = std::max(px[1], static_cast<uint8_t>(220 * fall));
                px[2] = std::max(px[2], static_cast<uint8_t>(255 * fall));
            }
        }
        batch->push_back(r.Release());
        return ZV_OK;
    }

    // Makes the results of one stretch of simulated time for every
    // delivering server into the queue.
    zvStatus Stretch() {
        std::string mode;
        for (const Server& s : servers)
            if (s.delivering && s.pipe.enabled && !s.pipe.mode.empty()) mode = s.pipe.mode;
        const double period = Period(mode);
        if (period <= 0) return ZV_OK;
        const double p0 = time * options.speed;
        const double p1 = (time + period) * options.speed;
        std::vector<zvHandle> batch;
        std::vector<uint32_t> origins;  // per result of `batch`
        zvStatus status = ZV_OK;
        for (size_t s = 0; s < servers.size() && status > 0; ++s) {
            const Server& server = servers[s];
            if (!server.delivering || !server.pipe.enabled) continue;
            if (server.pipe.mode == "Free") {
                status = Free(s, p0, &batch);
            } else if (server.pipe.mode == "Calibration") {
                status = Calibration(s, &batch);
            } else if (server.pipe.mode == "Detection") {
                status = Detection(s, p0, p1);
            } else if (server.pipe.mode == "Web") {
                status = Web(server, p0, p1, &batch);
            } else if (server.pipe.mode == "Video") {
                status = Video(s, p0, &batch);
            }
            origins.resize(batch.size(), server.serial);
        }
        if (status <= 0) {
            for (zvHandle h : batch) zvObjectDestroy(h);
            return status;
        }
        if (!batch.empty()) {
            Made made;
            made.results = std::move(batch);
            made.servers = std::move(origins);
            made.time = time;
            queue.push_back(std::move(made));
        }
        time += period;
        ++frames;
        return ZV_OK;
    }
};

Station::Station() : impl_(std::make_unique<Impl>()) {}
Station::~Station() = default;

bool Station::Open(const std::filesystem::path& root, const Options& options, std::string* error) {
    // One look at the root, whatever the number of servers and sensors.
    if (!UseRoot(root, error)) return false;
    const std::map<uint32_t, std::string> folders = ServerFolders();
    std::vector<uint32_t> serials;
    for (const auto& [serial, folder] : folders) serials.push_back(serial);
    if (!impl_->OpenFolders(root, options, serials, folders, error)) return false;
    // A folder named after a sensor of a server is that sensor's (the Video
    // mode keeps its masks there), not a server, unless it has settings of
    // its own. No folder is made: the host makes the one the Video mode
    // keeps its masks in.
    Impl& r = *impl_;
    std::unordered_set<uint32_t> sensorSerials;
    for (const Server& server : r.servers)
        for (const SensorInfo& sensor : server.settings.sensors) sensorSerials.insert(sensor.serial);
    std::erase_if(r.servers, [&](const Server& s) { return !s.settingsPresent && sensorSerials.count(s.serial) != 0; });
    if (r.servers.empty()) {
        *error = "the file space " + root.string() + " holds no server (no SN<serial> folder)";
        return false;
    }
    r.ArrangeAll();
    r.Seat();
    return true;
}

bool Station::OpenServers(const std::filesystem::path& root, const Options& options,
                          const std::vector<uint32_t>& serials, std::string* error) {
    if (!UseRoot(root, error)) return false;
    return impl_->OpenFolders(root, options, serials, ServerFolders(), error);
}

bool Station::OpenServer(const std::filesystem::path& folder, uint32_t serial, const Options& options,
                         std::string* error) {
    // The server's folder is the file space: its files are "./Settings.xml".
    if (!UseRoot(folder, error)) return false;
    return impl_->OpenFolders(folder, options, {serial}, {{serial, "."}}, error);
}

bool Station::ReloadSettings(std::string* error) { return impl_->ReadSettings(error); }

void Station::Rewind() {
    Impl& r = *impl_;
    for (auto& batch : r.queue)
        for (zvHandle h : batch.results) zvObjectDestroy(h);
    r.queue.clear();
    r.time = 0;
    r.frames = 0;
    r.scene = Scene(r.options.seed);
    r.Seat();
}

const std::vector<Server>& Station::Servers() const { return impl_->servers; }

zvStatus Station::SetMode(uint32_t serial, const std::string& mode) {
    Server* server = FindServer(impl_->servers, serial);
    if (server == nullptr || Period(mode) <= 0) return ZV_E_NOTFOUND;
    server->pipe.mode = mode;
    return ZV_OK;
}

zvStatus Station::SetParameter(uint32_t serial, const std::string& name, int32_t value) {
    Server* server = FindServer(impl_->servers, serial);
    if (server == nullptr) return ZV_E_NOTFOUND;
    server->pipe.parameters[name] = value;
    return ZV_OK;
}

zvStatus Station::Enable(uint32_t serial, bool enabled) {
    Server* server = FindServer(impl_->servers, serial);
    if (server == nullptr) return ZV_E_NOTFOUND;
    server->pipe.enabled = enabled;
    return ZV_OK;
}

zvStatus Station::StartDelivery(uint32_t serial) {
    Server* server = FindServer(impl_->servers, serial);
    if (server == nullptr) return ZV_E_NOTFOUND;
    server->delivering = true;
    return ZV_OK;
}

bool Station::Delivering() const {
    for (const Server& s : impl_->servers)
        if (s.delivering && s.pipe.enabled && !s.pipe.mode.empty()) return true;
    return false;
}

zvStatus Station::NextBatch(std::vector<zvHandle>* payloads, BatchOrigin* origin) {
    Impl& r = *impl_;
    if (payloads == nullptr) return ZV_E_ARGUMENT;
    if (origin != nullptr) *origin = BatchOrigin{r.time, {}, {}};
    for (int i = 0; r.queue.empty() && i < kEmptyStretchLimit && Delivering(); ++i) {
        zvStatus status = r.Stretch();
        if (status <= 0) return status;
    }
    if (r.queue.empty()) return ZV_OK;
    Impl::Made& made = r.queue.front();
    if (origin != nullptr) {
        origin->time = made.time;
        origin->servers = std::move(made.servers);
    }
    for (zvHandle h : made.results) payloads->push_back(h);
    r.queue.pop_front();
    return ZV_OK;
}

double Station::Time() const { return impl_->time; }

double Station::Period(const std::string& mode) {
    if (mode == "Free") return 0.02;
    if (mode == "Calibration") return 1.0;
    if (mode == "Detection") return 0.05;
    if (mode == "Web") return 0.1;
    if (mode == "Video") return 0.1;
    return 0;
}

const std::vector<std::string>& Station::Modes() {
    static const std::vector<std::string> modes = {"Free", "Calibration", "Detection", "Web", "Video"};
    return modes;
}

bool EnsureDemoStation(const std::filesystem::path& root, int sensors, uint32_t serial, bool* created,
                       std::string* error) {
    *created = false;
    if (!UseRoot(root, error)) return false;
    if (!ServerFolders().empty()) return true;
    const std::string folder = "SN" + std::to_string(serial);
    if (zvDirectoryCreate(folder.c_str()) <= 0) {
        *error = "cannot create " + folder + ": " + zvLastErrorText();
        return false;
    }
    const ServerSettings settings = DemoSettings(sensors, 1000);
    if (!WriteServerSettings(folder + "/Settings.xml", settings, error)) return false;
    if (!WriteCalibration(folder + "/Calibration.xml", settings.sensors, error)) return false;
    *created = true;
    return true;
}

}  // namespace zv::station
