// The station's frames: requests, replies and result batches, encoded and
// checked.
#include "zvstation/frames.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <limits>

#include "results.hpp"
#include "zvstation/replay.hpp"

namespace zv::station::wire {

// Arrays travel as their raw elements; the format is little-endian.
static_assert(std::endian::native == std::endian::little, "the frame format assumes a little-endian machine");

namespace {

constexpr uint8_t kMagic[4] = {'Z', 'V', 'S', 'T'};
constexpr size_t kBatchHeader = 56;
constexpr size_t kResultHeader = 16;
constexpr size_t kArrayHeader = 32;

size_t Padded(size_t bytes) { return (bytes + 7) & ~size_t{7}; }

// ---- Writing ------------------------------------------------------------------

class Writer {
public:
    explicit Writer(std::vector<uint8_t>* out) : out_(out) {}
    void Raw(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        out_->insert(out_->end(), p, p + size);
    }
    template <class T>
    void Number(T value) {
        Raw(&value, sizeof value);
    }
    void Text(const std::string& text) {
        Number(static_cast<uint32_t>(text.size()));
        Raw(text.data(), text.size());
    }
    void Bytes(const std::vector<uint8_t>& bytes) {
        Number(static_cast<uint64_t>(bytes.size()));
        Raw(bytes.data(), bytes.size());
    }
    void Prelude(Kind kind) {
        Raw(kMagic, sizeof kMagic);
        Number(kVersion);
        Number(static_cast<uint16_t>(kind));
    }
    void Parameters(const std::vector<std::pair<std::string, int32_t>>& parameters) {
        Number(static_cast<uint32_t>(parameters.size()));
        for (const auto& [name, value] : parameters) {
            Text(name);
            Number(value);
        }
    }

private:
    std::vector<uint8_t>* out_;
};

// ---- Reading ------------------------------------------------------------------

// Reads a frame front to back; the first failure sticks and names what
// was being read.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), left_(data == nullptr ? 0 : size) {}

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    size_t left() const { return left_; }
    const uint8_t* here() const { return data_; }

    bool Fail(const std::string& why) {
        if (error_.empty()) error_ = why;
        left_ = 0;
        return false;
    }
    bool Raw(void* out, size_t size, const char* what) {
        if (!ok()) return false;
        if (size > left_) return Fail(std::string("the frame ends inside ") + what);
        std::memcpy(out, data_, size);
        Skip(size);
        return true;
    }
    template <class T>
    bool Number(T* out, const char* what) {
        return Raw(out, sizeof *out, what);
    }
    bool Text(std::string* out, const char* what) {
        uint32_t size = 0;
        if (!Number(&size, what)) return false;
        if (size > kMaxText)
            return Fail(std::string(what) + ": " + std::to_string(size) + " bytes (at most " +
                        std::to_string(kMaxText) + ")");
        if (size > left_) return Fail(std::string("the frame ends inside ") + what);
        out->assign(reinterpret_cast<const char*>(data_), size);
        Skip(size);
        return true;
    }
    bool Bytes(std::vector<uint8_t>* out, const char* what) {
        uint64_t size = 0;
        if (!Number(&size, what)) return false;
        if (size > kMaxFileBytes)
            return Fail(std::string(what) + ": " + std::to_string(size) + " bytes (at most " +
                        std::to_string(kMaxFileBytes) + ")");
        if (size > left_) return Fail(std::string("the frame ends inside ") + what);
        out->assign(data_, data_ + size);
        Skip(static_cast<size_t>(size));
        return true;
    }
    bool Flag(bool* out, const char* what) {
        uint8_t value = 0;
        if (!Number(&value, what)) return false;
        if (value > 1) return Fail(std::string(what) + ": " + std::to_string(value) + " is no flag");
        *out = value == 1;
        return true;
    }
    bool Parameters(std::vector<std::pair<std::string, int32_t>>* out) {
        uint32_t count = 0;
        if (!Number(&count, "the parameter count")) return false;
        if (count > kMaxParameters)
            return Fail(std::to_string(count) + " parameters (at most " + std::to_string(kMaxParameters) + ")");
        // Each takes at least 8 bytes: no reservation beyond what the frame holds.
        if (count > left_ / 8) return Fail("the frame ends inside the parameters");
        out->clear();
        out->reserve(count);
        for (uint32_t i = 0; i < count && ok(); ++i) {
            std::pair<std::string, int32_t> p;
            if (Text(&p.first, "a parameter name") && Number(&p.second, "a parameter value"))
                out->push_back(std::move(p));
        }
        return ok();
    }
    // The frame must end here.
    bool End() {
        if (!ok()) return false;
        if (left_ != 0) return Fail(std::to_string(left_) + " bytes after the end of the frame");
        return true;
    }
    void Skip(size_t size) {
        data_ += size;
        left_ -= size;
    }

private:
    const uint8_t* data_;
    size_t left_;
    std::string error_;
};

bool ReadPrelude(Reader* in, Kind* kind) {
    uint8_t magic[4] = {};
    uint16_t version = 0;
    uint16_t k = 0;
    if (!in->Raw(magic, sizeof magic, "the prelude")) return false;
    if (std::memcmp(magic, kMagic, sizeof magic) != 0)
        return in->Fail("not a station frame (no \"ZVST\" at its start)");
    if (!in->Number(&version, "the prelude") || !in->Number(&k, "the prelude")) return false;
    if (version != kVersion)
        return in->Fail("protocol version " + std::to_string(version) + " (this program speaks " +
                        std::to_string(kVersion) + ")");
    if (k < static_cast<uint16_t>(Kind::Request) || k > static_cast<uint16_t>(Kind::Batch))
        return in->Fail("frame kind " + std::to_string(k) + " is unknown");
    *kind = static_cast<Kind>(k);
    return true;
}

bool ReadOp(Reader* in, Op* op) {
    uint16_t value = 0;
    uint16_t zero = 0;
    if (!in->Number(&value, "the operation") || !in->Number(&zero, "the operation")) return false;
    if (value < 1 || value > kLastOp) return in->Fail("operation " + std::to_string(value) + " is unknown");
    if (zero != 0) return in->Fail("the reserved field after the operation is not 0");
    *op = static_cast<Op>(value);
    return true;
}

void WritePipe(Writer* w, const PipeState& pipe) {
    w->Text(pipe.mode);
    w->Number(static_cast<uint8_t>(pipe.enabled));
    w->Parameters(pipe.parameters);
    w->Number(static_cast<uint8_t>(pipe.delivering));
    w->Number(static_cast<uint8_t>(pipe.pull));
}

bool ReadPipe(Reader* in, PipeState* pipe) {
    return in->Text(&pipe->mode, "the mode") && in->Flag(&pipe->enabled, "the enabled flag") &&
           in->Parameters(&pipe->parameters) && in->Flag(&pipe->delivering, "the delivery flag") &&
           in->Flag(&pipe->pull, "the pull flag");
}

}  // namespace

std::string OpName(uint16_t op) {
    static const char* const names[] = {"",          "Hello",          "Ping",          "SetMode",      "SetParameters",
                                        "Enable",    "GetPipe",        "StartDelivery", "StopDelivery", "SetPull",
                                        "Pull",      "ReloadSettings", "StorageDelete", "StorageSize",  "ReadFile",
                                        "WriteFile", "DeleteFile",     "List",          "Stat",         "MakeFolder",
                                        "Prepare",   "Burst"};
    static_assert(sizeof names / sizeof names[0] == kLastOp + 1);
    if (op >= 1 && op <= kLastOp) return names[op];
    return "op " + std::to_string(op);
}

bool FrameKind(const uint8_t* data, size_t size, Kind* kind, std::string* error) {
    Reader in(data, size);
    if (ReadPrelude(&in, kind)) return true;
    *error = in.error();
    return false;
}

// ---- Requests and replies ------------------------------------------------------

void EncodeRequest(const Request& r, std::vector<uint8_t>* out) {
    out->clear();
    Writer w(out);
    w.Prelude(Kind::Request);
    w.Number(r.id);
    w.Number(static_cast<uint16_t>(r.op));
    w.Number(uint16_t{0});
    w.Number(r.timeoutMs);
    w.Number(r.sentMs);
    switch (r.op) {
        case Op::SetMode:
        case Op::StorageDelete:
        case Op::StorageSize:
        case Op::ReadFile:
        case Op::DeleteFile:
        case Op::List:
        case Op::Stat:
        case Op::MakeFolder: w.Text(r.text); break;
        case Op::WriteFile:
            w.Text(r.text);
            w.Bytes(r.bytes);
            break;
        case Op::SetParameters: w.Parameters(r.parameters); break;
        case Op::Enable: w.Number(static_cast<uint8_t>(r.flag != 0)); break;
        case Op::SetPull: w.Number(static_cast<uint8_t>(std::clamp(r.flag, 0, 2))); break;
        case Op::Prepare:
        case Op::Burst: w.Number(r.count); break;
        default: break;
    }
}

bool DecodeRequest(const uint8_t* data, size_t size, Request* out, std::string* error) {
    *out = Request{};
    Reader in(data, size);
    Kind kind{};
    if (ReadPrelude(&in, &kind) && kind != Kind::Request) in.Fail("not a request");
    if (in.Number(&out->id, "the request id") && ReadOp(&in, &out->op) && in.Number(&out->timeoutMs, "the timeout") &&
        in.Number(&out->sentMs, "the send time")) {
        bool flag = false;
        switch (out->op) {
            case Op::SetMode: in.Text(&out->text, "the mode"); break;
            case Op::StorageDelete:
            case Op::StorageSize: in.Text(&out->text, "the file name"); break;
            case Op::ReadFile:
            case Op::DeleteFile:
            case Op::List:
            case Op::Stat:
            case Op::MakeFolder: in.Text(&out->text, "the path"); break;
            case Op::WriteFile:
                if (in.Text(&out->text, "the path")) in.Bytes(&out->bytes, "the file's contents");
                break;
            case Op::SetParameters: in.Parameters(&out->parameters); break;
            case Op::Enable:
                if (in.Flag(&flag, "the flag")) out->flag = flag ? 1 : 0;
                break;
            case Op::SetPull: {
                uint8_t pull = 0;
                if (in.Number(&pull, "the pull flag") && pull > kPullFromStart)
                    in.Fail("the pull flag: " + std::to_string(pull) + " is none of 0, 1 and 2");
                out->flag = pull;
                break;
            }
            case Op::Prepare:
                if (in.Number(&out->count, "the count") && out->count > kMaxPrepared)
                    in.Fail(std::to_string(out->count) + " batches to prepare (at most " +
                            std::to_string(kMaxPrepared) + ")");
                break;
            case Op::Burst:
                if (in.Number(&out->count, "the count") && out->count > kMaxPaced)
                    in.Fail(std::to_string(out->count) + " batches to send in real time (at most " +
                            std::to_string(kMaxPaced) + ")");
                break;
            default: break;
        }
    }
    if (in.End()) return true;
    const uint32_t id = out->id;
    *out = Request{};
    out->id = id;
    *error = "refused request: " + in.error();
    return false;
}

void EncodeReply(const Reply& r, std::vector<uint8_t>* out) {
    out->clear();
    Writer w(out);
    w.Prelude(Kind::Reply);
    w.Number(r.id);
    w.Number(static_cast<uint16_t>(r.op));
    w.Number(uint16_t{0});
    w.Number(static_cast<int32_t>(r.status));
    w.Text(r.message.size() > kMaxText ? r.message.substr(0, kMaxText) : r.message);
    if (r.status <= 0) return;
    switch (r.op) {
        case Op::Hello:
            w.Number(r.server.serial);
            w.Number(r.server.session);
            w.Text(r.server.program);
            w.Text(r.server.stream);
            w.Text(r.server.source);
            WritePipe(&w, r.server.pipe);
            break;
        case Op::Ping: w.Number(r.server.session); break;
        case Op::GetPipe: WritePipe(&w, r.pipe); break;
        case Op::StorageSize:
        case Op::Prepare:
        case Op::Burst: w.Number(r.size); break;
        case Op::Stat:
            w.Number(static_cast<int32_t>(r.kind));
            w.Number(r.size);
            break;
        case Op::ReadFile:
        case Op::Pull: w.Bytes(r.bytes); break;
        case Op::List:
            w.Number(static_cast<uint32_t>(r.entries.size()));
            for (const Entry& e : r.entries) {
                w.Text(e.name);
                w.Number(static_cast<uint8_t>(e.folder));
                w.Number(e.size);
            }
            break;
        default: break;
    }
}

bool DecodeReply(const uint8_t* data, size_t size, Reply* out, std::string* error) {
    *out = Reply{};
    Reader in(data, size);
    Kind kind{};
    if (ReadPrelude(&in, &kind) && kind != Kind::Reply) in.Fail("not a reply");
    int32_t status = 0;
    if (in.Number(&out->id, "the request id") && ReadOp(&in, &out->op) && in.Number(&status, "the status") &&
        in.Text(&out->message, "the message")) {
        out->status = status;
        if (status > 0) {
            int32_t statKind = 0;
            uint32_t count = 0;
            switch (out->op) {
                case Op::Hello:
                    if (in.Number(&out->server.serial, "the serial number") &&
                        in.Number(&out->server.session, "the session") &&
                        in.Text(&out->server.program, "the program") &&
                        in.Text(&out->server.stream, "the stream endpoint") &&
                        in.Text(&out->server.source, "the source"))
                        ReadPipe(&in, &out->server.pipe);
                    break;
                case Op::Ping: in.Number(&out->server.session, "the session"); break;
                case Op::GetPipe: ReadPipe(&in, &out->pipe); break;
                case Op::StorageSize:
                case Op::Prepare:
                case Op::Burst:
                    if (in.Number(&out->size, "the size") && out->size < 0) in.Fail("a negative size");
                    break;
                case Op::Stat:
                    if (in.Number(&statKind, "the kind") && in.Number(&out->size, "the size")) {
                        if (statKind < 0 || statKind > static_cast<int32_t>(StatKind::Other))
                            in.Fail("kind " + std::to_string(statKind) + " is unknown");
                        else if (out->size < 0)
                            in.Fail("a negative size");
                        out->kind = static_cast<StatKind>(statKind);
                    }
                    break;
                case Op::ReadFile: in.Bytes(&out->bytes, "the file's contents"); break;
                case Op::Pull: in.Bytes(&out->bytes, "the batch"); break;
                case Op::List:
                    if (!in.Number(&count, "the entry count")) break;
                    if (count > kMaxEntries) {
                        in.Fail(std::to_string(count) + " entries (at most " + std::to_string(kMaxEntries) + ")");
                        break;
                    }
                    // Each entry takes at least 13 bytes.
                    if (count > in.left() / 13) {
                        in.Fail("the frame ends inside the entries");
                        break;
                    }
                    out->entries.reserve(count);
                    for (uint32_t i = 0; i < count && in.ok(); ++i) {
                        Entry e;
                        if (in.Text(&e.name, "an entry's name") && in.Flag(&e.folder, "an entry's kind") &&
                            in.Number(&e.size, "an entry's size"))
                            out->entries.push_back(std::move(e));
                    }
                    break;
                default: break;
            }
        }
    }
    if (in.End()) return true;
    *out = Reply{};
    *error = "refused reply: " + in.error();
    return false;
}

// ---- Batches --------------------------------------------------------------------

int32_t ElementSize(int32_t type) {
    // The element types a recording holds are the ones that travel: plain
    // numbers, points and stamps, never handles.
    return ReplayTypeName(type).empty() ? 0 : zvTypeSize(type);
}

bool MeasureBatch(const std::vector<zvHandle>& results, size_t* bytes, std::string* error) {
    *bytes = 0;
    if (results.size() > kMaxResults) {
        *error = std::to_string(results.size()) + " results (at most " + std::to_string(kMaxResults) + ")";
        return false;
    }
    size_t total = kBatchHeader;
    for (size_t i = 0; i < results.size(); ++i) {
        auto where = [i] { return "result " + std::to_string(i) + ": "; };
        int32_t attributes = 0;
        int32_t arrays = 0;
        if (zvResultAttributeCount(results[i], &attributes) <= 0 || zvResultCount(results[i], &arrays) <= 0) {
            *error = where() + "not a result";
            return false;
        }
        if (static_cast<uint32_t>(attributes) > kMaxAttributes || static_cast<uint32_t>(arrays) > kMaxArrays) {
            *error = where() + std::to_string(attributes) + " attributes and " + std::to_string(arrays) +
                     " arrays (at most " + std::to_string(kMaxAttributes) + " and " + std::to_string(kMaxArrays) + ")";
            return false;
        }
        total += kResultHeader + 8 * static_cast<size_t>(attributes);
        for (int32_t a = 0; a < arrays; ++a) {
            zvHandle array = nullptr;
            zvResultData(results[i], a, &array);
            const int32_t type = zvArrayElementType(array);
            if (ElementSize(type) == 0) {
                *error = where() + "array " + std::to_string(a) + ": element type " + std::to_string(type) +
                         " cannot travel";
                return false;
            }
            const int32_t dims = zvArrayDimensions(array);
            for (int32_t d = 0; d < dims; ++d) {
                if (zvArrayLength(array, d) > kMaxLength) {
                    *error = where() + "array " + std::to_string(a) + ": a length beyond " + std::to_string(kMaxLength);
                    return false;
                }
            }
            total += kArrayHeader + Padded(static_cast<size_t>(zvArrayByteSize(array)));
            if (total > kMaxFrameBytes) {
                *error = "a batch beyond " + std::to_string(kMaxFrameBytes) + " bytes";
                return false;
            }
        }
    }
    *bytes = total;
    return true;
}

void WriteBatch(const BatchHeader& header, const std::vector<zvHandle>& results, uint8_t* out) {
    uint8_t* p = out;
    auto put = [&p](const void* data, size_t size) {
        if (size > 0) std::memcpy(p, data, size);
        p += size;
    };
    auto number = [&put](auto value) { put(&value, sizeof value); };
    put(kMagic, sizeof kMagic);
    number(kVersion);
    number(static_cast<uint16_t>(Kind::Batch));
    number(header.serial);
    number(static_cast<uint32_t>(results.size()));
    number(header.session);
    static_assert(kSequenceOffset == 24);
    number(header.sequence);
    number(header.batch);
    number(header.time);
    static_assert(kSentOffset == 48);
    number(header.sentNs);
    for (zvHandle result : results) {
        int64_t id = 0;
        int32_t attributes = 0;
        int32_t arrays = 0;
        const int64_t* row = nullptr;
        zvResultId(result, &id);
        zvResultAttributeCount(result, &attributes);
        zvResultCount(result, &arrays);
        zvResultAttributes(result, &row);
        number(id);
        number(static_cast<uint32_t>(attributes));
        number(static_cast<uint32_t>(arrays));
        put(row, 8 * static_cast<size_t>(attributes));
        for (int32_t a = 0; a < arrays; ++a) {
            zvHandle array = nullptr;
            zvResultData(result, a, &array);
            const int32_t dims = zvArrayDimensions(array);
            number(static_cast<uint32_t>(zvArrayElementType(array)));
            number(static_cast<uint32_t>(dims));
            for (int32_t d = 0; d < 3; ++d) number(d < dims ? zvArrayLength(array, d) : int32_t{0});
            number(uint32_t{0});
            const auto bytes = static_cast<size_t>(zvArrayByteSize(array));
            number(static_cast<uint64_t>(bytes));
            put(ArrayElements(array), bytes);
            const size_t pad = Padded(bytes) - bytes;
            std::memset(p, 0, pad);
            p += pad;
        }
    }
}

bool EncodeBatch(const BatchHeader& header, const std::vector<zvHandle>& results, std::vector<uint8_t>* out,
                 std::string* error) {
    size_t bytes = 0;
    if (!MeasureBatch(results, &bytes, error)) return false;
    out->assign(bytes, 0);
    WriteBatch(header, results, out->data());
    return true;
}

void StampBatch(uint8_t* frame, size_t size, uint64_t sequence) {
    if (size < kBatchHeader) return;
    const int64_t sent = WallNs();
    std::memcpy(frame + kSequenceOffset, &sequence, sizeof sequence);
    std::memcpy(frame + kSentOffset, &sent, sizeof sent);
}

int64_t WallNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t ResultView::Attribute(uint32_t index) const {
    int64_t value = 0;
    if (index < attributeCount) std::memcpy(&value, attributes + 8 * static_cast<size_t>(index), sizeof value);
    return value;
}

namespace {

std::string TypeName(int32_t type) {
    const std::string name = ReplayTypeName(type);
    return name.empty() ? "type " + std::to_string(type) : name;
}

// Array `index` of `r` must be of `type` with `dims` dimensions.
bool Expect(const BatchView& b, const ResultView& r, uint32_t index, int32_t type, int32_t dims, std::string* why) {
    if (index >= r.arrayCount) {
        *why = "it has " + std::to_string(r.arrayCount) + " arrays (array " + std::to_string(index) + " is missing)";
        return false;
    }
    const ArrayView& a = b.arrays[r.firstArray + index];
    if (a.type != type || a.dimensions != dims) {
        *why = "array " + std::to_string(index) + " is " + std::to_string(a.dimensions) + "-dimensional " +
               TypeName(a.type) + " (expected " + std::to_string(dims) + "-dimensional " + TypeName(type) + ")";
        return false;
    }
    return true;
}

bool Attributes(const ResultView& r, uint32_t least, std::string* why) {
    if (r.attributeCount >= least) return true;
    *why = "it has " + std::to_string(r.attributeCount) + " attributes (at least " + std::to_string(least) + ")";
    return false;
}

// The layouts of the results the station makes; other identifiers pass
// with the general checks alone.
bool CheckLayout(const BatchView& b, const ResultView& r, std::string* why) {
    switch (r.id) {
        case 0: {  // profile: stamps, (n, 2) int16 points, (n, rows) uint8 intensities
            if (!Attributes(r, 2, why) || !Expect(b, r, 0, ZV_TYPE_STAMP, 1, why) ||
                !Expect(b, r, 1, ZV_TYPE_INT16, 2, why) || !Expect(b, r, 2, ZV_TYPE_UINT8, 2, why))
                return false;
            const ArrayView& stamps = b.arrays[r.firstArray];
            const ArrayView& points = b.arrays[r.firstArray + 1];
            const ArrayView& intensity = b.arrays[r.firstArray + 2];
            if (stamps.lengths[0] < 1) {
                *why = "a profile without a stamp";
                return false;
            }
            if (points.lengths[1] != 2) {
                *why = "profile points of " + std::to_string(points.lengths[1]) + " coordinates (expected 2)";
                return false;
            }
            if (intensity.lengths[0] != points.lengths[0]) {
                *why = "intensities of " + std::to_string(intensity.lengths[0]) + " points for " +
                       std::to_string(points.lengths[0]) + " profile points";
                return false;
            }
            return true;
        }
        case 1: {  // slices: (k, 2) int64 stamp and count, (k, p, 2) int16 points
            if (!Attributes(r, 1, why) || !Expect(b, r, 0, ZV_TYPE_INT64, 2, why) ||
                !Expect(b, r, 1, ZV_TYPE_INT16, 3, why))
                return false;
            const ArrayView& rows = b.arrays[r.firstArray];
            const ArrayView& points = b.arrays[r.firstArray + 1];
            if (rows.lengths[1] != 2 || points.lengths[2] != 2 || rows.lengths[0] != points.lengths[0]) {
                *why = "slice rows and points do not match (" + std::to_string(rows.lengths[0]) + "x" +
                       std::to_string(rows.lengths[1]) + " rows, " + std::to_string(points.lengths[0]) + "x" +
                       std::to_string(points.lengths[1]) + "x" + std::to_string(points.lengths[2]) + " points)";
                return false;
            }
            if (points.lengths[1] > kMaxSlicePoints) {
                *why = "slices of " + std::to_string(points.lengths[1]) + " points (at most " +
                       std::to_string(kMaxSlicePoints) + ")";
                return false;
            }
            for (int32_t h = 0; h < rows.lengths[0]; ++h) {
                int64_t count = 0;
                std::memcpy(&count, rows.data + (2 * static_cast<size_t>(h) + 1) * 8, sizeof count);
                const auto t = static_cast<int32_t>(static_cast<uint32_t>(count));
                if (t < 0 || t > points.lengths[1]) {
                    *why = "slice " + std::to_string(h) + " counts " + std::to_string(t) + " points of " +
                           std::to_string(points.lengths[1]);
                    return false;
                }
            }
            return true;
        }
        case 5:  // web output: six attributes, (rows, columns) int32 cells
            return Attributes(r, 6, why) && Expect(b, r, 0, ZV_TYPE_INT32, 2, why);
        case 6: {  // video frame: serial and camera, (rows, columns, 4) bytes
            if (!Attributes(r, 2, why) || !Expect(b, r, 0, ZV_TYPE_UINT8, 3, why)) return false;
            if (b.arrays[r.firstArray].lengths[2] != 4) {
                *why =
                    "a frame of " + std::to_string(b.arrays[r.firstArray].lengths[2]) + " bytes a pixel (expected 4)";
                return false;
            }
            return true;
        }
        default:  // 8 (calibration report) and 9 (end of object) are read by attributes alone
            return true;
    }
}

}  // namespace

bool ParseBatch(const uint8_t* data, size_t size, BatchView* out, std::string* error) {
    *out = BatchView{};
    Reader in(data, size);
    auto refuse = [&](const std::string& why) {
        *out = BatchView{};
        *error = "refused batch: " + why;
        return false;
    };
    if (size > kMaxFrameBytes) return refuse("a frame of " + std::to_string(size) + " bytes");
    Kind kind{};
    BatchHeader& h = out->header;
    if (ReadPrelude(&in, &kind) && kind != Kind::Batch) in.Fail("not a batch");
    if (!in.Number(&h.serial, "the header") || !in.Number(&h.results, "the header") ||
        !in.Number(&h.session, "the header") || !in.Number(&h.sequence, "the header") ||
        !in.Number(&h.batch, "the header") || !in.Number(&h.time, "the header") || !in.Number(&h.sentNs, "the header"))
        return refuse(in.error());
    if (h.sentNs < 0) return refuse("sent at " + std::to_string(h.sentNs) + " ns (a time before 1970)");
    if (h.results > kMaxResults)
        return refuse(std::to_string(h.results) + " results (at most " + std::to_string(kMaxResults) + ")");
    // Each result takes at least its header: no reservation beyond what the
    // frame holds.
    if (h.results > in.left() / kResultHeader)
        return refuse("the frame ends before its " + std::to_string(h.results) + " results");
    out->results.reserve(h.results);
    for (uint32_t i = 0; i < h.results; ++i) {
        // The place a refusal names, made only for a refusal.
        auto where = [i] { return "result " + std::to_string(i) + ": "; };
        ResultView r;
        if (!in.Number(&r.id, "a result header") || !in.Number(&r.attributeCount, "a result header") ||
            !in.Number(&r.arrayCount, "a result header"))
            return refuse(where() + in.error());
        if (r.attributeCount > kMaxAttributes)
            return refuse(where() + std::to_string(r.attributeCount) + " attributes (at most " +
                          std::to_string(kMaxAttributes) + ")");
        if (r.arrayCount > kMaxArrays)
            return refuse(where() + std::to_string(r.arrayCount) + " arrays (at most " + std::to_string(kMaxArrays) +
                          ")");
        if (8 * static_cast<size_t>(r.attributeCount) > in.left())
            return refuse(where() + "the frame ends inside the attributes");
        r.attributes = in.here();
        in.Skip(8 * static_cast<size_t>(r.attributeCount));
        r.firstArray = static_cast<uint32_t>(out->arrays.size());
        for (uint32_t a = 0; a < r.arrayCount; ++a) {
            auto at = [&where, a] { return where() + "array " + std::to_string(a) + ": "; };
            uint32_t type = 0;
            uint32_t dims = 0;
            int32_t lengths[3] = {0, 0, 0};
            uint32_t reserved = 0;
            uint64_t bytes = 0;
            if (!in.Number(&type, "an array header") || !in.Number(&dims, "an array header") ||
                !in.Raw(lengths, sizeof lengths, "an array header") || !in.Number(&reserved, "an array header") ||
                !in.Number(&bytes, "an array header"))
                return refuse(at() + in.error());
            const int32_t element = type <= INT32_MAX ? ElementSize(static_cast<int32_t>(type)) : 0;
            if (element == 0) return refuse(at() + "element type " + std::to_string(type) + " is not one that travels");
            if (dims < 1 || dims > 3) return refuse(at() + std::to_string(dims) + " dimensions (1 to 3)");
            if (reserved != 0) return refuse(at() + "the reserved field is not 0");
            for (uint32_t d = dims; d < 3; ++d)
                if (lengths[d] != 0) return refuse(at() + "a length for a dimension it does not have");
            // The size dimension by dimension, as the platform reckons it when
            // it makes the array: a size beyond a frame at any step is refused
            // (an array of lengths 2^20, 2^20 and 0 holds nothing, yet is no
            // array the platform makes).
            uint64_t expected = static_cast<uint64_t>(element);
            for (uint32_t d = 0; d < dims; ++d) {
                if (lengths[d] < 0 || lengths[d] > kMaxLength)
                    return refuse(at() + "length " + std::to_string(lengths[d]) + " (0 to " +
                                  std::to_string(kMaxLength) + ")");
                expected *= static_cast<uint64_t>(lengths[d]);  // at most 2^20 times a frame's size: no overflow
                if (expected > kMaxFrameBytes) return refuse(at() + "more elements than a frame holds");
            }
            if (bytes != expected)
                return refuse(at() + std::to_string(bytes) + " bytes for its lengths and type (expected " +
                              std::to_string(expected) + ")");
            const size_t padded = Padded(static_cast<size_t>(std::min<uint64_t>(bytes, kMaxFrameBytes)));
            if (bytes > in.left() || padded > in.left()) return refuse(at() + "the frame ends inside its elements");
            ArrayView view;
            view.type = static_cast<int32_t>(type);
            view.dimensions = static_cast<int32_t>(dims);
            std::memcpy(view.lengths, lengths, sizeof lengths);
            view.data = in.here();
            view.bytes = static_cast<size_t>(bytes);
            for (size_t k = view.bytes; k < padded; ++k)
                if (view.data[k] != 0) return refuse(at() + "padding that is not zero");
            in.Skip(padded);
            out->arrays.push_back(view);
        }
        std::string why;
        if (!CheckLayout(*out, r, &why)) return refuse(where() + "id " + std::to_string(r.id) + ": " + why);
        out->results.push_back(r);
    }
    if (!in.End()) return refuse(in.error());
    return true;
}

zvStatus BuildResults(const BatchView& batch, std::vector<zvHandle>* results) {
    std::vector<zvHandle> made;
    made.reserve(batch.results.size());
    auto fail = [&made](zvStatus status) {
        for (zvHandle h : made) zvObjectDestroy(h);
        return status;
    };
    std::vector<int64_t> attributes;
    for (const ResultView& r : batch.results) {
        attributes.resize(r.attributeCount);
        if (r.attributeCount > 0)
            std::memcpy(attributes.data(), r.attributes, 8 * static_cast<size_t>(r.attributeCount));
        ResultBuilder builder;
        zvStatus status = builder.Init(r.id, attributes);
        if (status <= 0) return fail(status);
        for (uint32_t a = 0; a < r.arrayCount; ++a) {
            // Each array's elements are copied once, from the frame into it.
            const ArrayView& view = batch.arrays[r.firstArray + a];
            zvHandle array = nullptr;
            status = zvArrayCreate(&array, nullptr, view.type, view.dimensions, view.lengths);
            if (status <= 0) return fail(status);
            void* elements = ArrayElements(array);
            if (view.bytes > 0) {
                if (elements == nullptr || zvArrayByteSize(array) != static_cast<int64_t>(view.bytes)) {
                    zvObjectDestroy(array);
                    return fail(ZV_E_STATE);
                }
                std::memcpy(elements, view.data, view.bytes);
            }
            status = builder.AddData(array);
            if (status <= 0) return fail(status);
        }
        made.push_back(builder.Release());
    }
    results->insert(results->end(), made.begin(), made.end());
    return ZV_OK;
}

}  // namespace zv::station::wire
