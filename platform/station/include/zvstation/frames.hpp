// The frames a station server and its clients exchange over the network:
// requests and their replies, and batches of results.
//
// Every frame begins with an 8-byte prelude: the magic "ZVST", the
// protocol version (16 bits) and the frame's kind (16 bits). All numbers
// are little-endian; the arrays of a result travel as their raw elements
// (no text encoding), each padded with zero bytes to a multiple of 8.
//
//   batch    prelude, serial u32, result count u32, session u64,
//            sequence u64, batch number i64, simulated time f64,
//            sent i64 (the server's wall clock in ns when it sent the frame)
//            then per result: id i64, attribute count u32, array count u32,
//            the attributes (i64 each), and per array: element type u32,
//            dimension count u32, three lengths i32 (unused ones 0),
//            reserved u32 (0), byte count u64, the elements, padding
//   request  prelude, id u32, operation u16, 0 u16, timeout ms u32,
//            the client's clock when sent in ms u64, the operation's fields
//   reply    prelude, id u32, operation u16, 0 u16, status i32, message
//            text, and when the status is a success the operation's fields
//
// Texts are a u32 byte count and the bytes; byte blocks a u64 count and
// the bytes. Decoding trusts nothing it receives: every length, count and
// type is checked against the frame's size, the limits below and, for the
// results the station makes, their layouts, before anything is built; a
// frame that breaks a rule is refused with a message saying which.
#ifndef ZVSTATION_FRAMES_HPP
#define ZVSTATION_FRAMES_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zvapi/zvapi.h"

namespace zv::station::wire {

constexpr uint16_t kVersion = 2;

// Limits of what a frame may hold; a peer that exceeds one is refused.
constexpr size_t kMaxFileBytes = size_t{64} << 20;             // a file read or written whole
constexpr size_t kMaxFrameBytes = kMaxFileBytes + (64 << 10);  // any frame
constexpr uint32_t kMaxResults = 4096;                         // results per batch
constexpr uint32_t kMaxAttributes = 4096;                      // per result
constexpr uint32_t kMaxArrays = 16;                            // per result
constexpr int32_t kMaxLength = 1 << 20;                        // along one dimension
constexpr uint32_t kMaxText = 4096;                            // modes, names, paths, messages
constexpr uint32_t kMaxParameters = 256;                       // per request or pipe
constexpr uint32_t kMaxEntries = 65536;                        // names in a folder listing
constexpr uint32_t kMaxPrepared = 100000;                      // batches made ahead for a burst
constexpr uint32_t kMaxPaced = 1000000;                        // batches a burst sends in real time
// The most points of a slice the Detection mode takes.
constexpr int32_t kMaxSlicePoints = 21504;

enum class Kind : uint16_t { Request = 1, Reply = 2, Batch = 3 };

enum class Op : uint16_t {
    Hello = 1,            // who the server is, where its results stream, its pipe
    Ping = 2,             // heartbeat: the server's session
    SetMode = 3,          // text: the station pipe's mode
    SetParameters = 4,    // parameters: values by name
    Enable = 5,           // flag: 1 enabled, 0 disabled
    GetPipe = 6,          // the pipe: mode, enabled, parameters, delivery
    StartDelivery = 7,    // the client reads the pipe's results
    StopDelivery = 8,     // it reads no more
    SetPull = 9,          // flag: 1 the client pulls batches, 0 real time
    Pull = 10,            // the next batch (bytes: a batch frame; no results at the end)
    ReloadSettings = 11,  // read Settings.xml again
    StorageDelete = 12,   // text: a plain file name of the storage
    StorageSize = 13,     // text: a plain file name; size
    ReadFile = 14,        // text: path; bytes: the whole file
    WriteFile = 15,       // text: path, bytes: the whole file, written atomically
    DeleteFile = 16,      // text: path
    List = 17,            // text: folder path; entries
    Stat = 18,            // text: path; kind and size
    MakeFolder = 19,      // text: path, with the folders above it
    Prepare = 20,         // count: make this many batches ahead (pull mode), for measuring
    Burst = 21,           // count: 0 sends the prepared batches on the stream as fast as it takes them;
                          // N sends N of them (round and round) in real time, one a batch period
};
constexpr uint16_t kLastOp = 21;

// "SetMode", for messages; "op 99" for a number that is no operation.
std::string OpName(uint16_t op);

// SetPull's flag for a client that pulls from the start: the server's
// simulation begins again at time 0 with its seed, as an in-process
// station does with each host, so that a stepped run is the same both ways.
inline constexpr int32_t kPullFromStart = 2;

struct Request {
    uint32_t id = 0;
    Op op = Op::Ping;
    uint32_t timeoutMs = 0;  // how long the client waits for the reply
    uint64_t sentMs = 0;     // the client's steady clock when it sent it
    std::string text;        // mode, storage name or path
    std::vector<std::pair<std::string, int32_t>> parameters;
    int32_t flag = 0;            // Enable; SetPull: 0 off, 1 on, kPullFromStart
    uint32_t count = 0;          // Prepare, Burst
    std::vector<uint8_t> bytes;  // WriteFile
};

struct PipeState {
    std::string mode;  // "" until set
    bool enabled = true;
    std::vector<std::pair<std::string, int32_t>> parameters;  // by name, sorted
    bool delivering = false;
    bool pull = false;
};

// What a server says of itself (Hello; Ping fills only session).
struct ServerInfo {
    uint32_t serial = 0;
    uint64_t session = 0;  // new at every start of the server
    std::string program;   // the server program's name and version
    std::string stream;    // the endpoint its results stream from
    std::string source;    // "simulated" or "replay"
    PipeState pipe;
};

struct Entry {
    std::string name;
    bool folder = false;
    int64_t size = 0;  // files
};

enum class StatKind : int32_t { None = 0, File = 1, Folder = 2, Other = 3 };

struct Reply {
    uint32_t id = 0;
    Op op = Op::Ping;
    zvStatus status = ZV_OK;
    std::string message;             // why, for a failure
    ServerInfo server;               // Hello, Ping
    PipeState pipe;                  // GetPipe
    int64_t size = 0;                // StorageSize, Stat, Prepare (batches made), Burst (batches sent)
    StatKind kind = StatKind::None;  // Stat
    std::vector<uint8_t> bytes;      // ReadFile: the file; Pull: a batch frame
    std::vector<Entry> entries;      // List
};

void EncodeRequest(const Request& request, std::vector<uint8_t>* out);
void EncodeReply(const Reply& reply, std::vector<uint8_t>* out);
// False with `*error` set for a frame that is not a well-formed request
// (reply) of this protocol version. `*id` of DecodeRequest is set as soon
// as the header could be read (0 otherwise), so that a refusal can name it.
bool DecodeRequest(const uint8_t* data, size_t size, Request* out, std::string* error);
bool DecodeReply(const uint8_t* data, size_t size, Reply* out, std::string* error);
// The kind of a frame from its prelude; false when it has none of this
// protocol (`*error` says what is wrong, naming another version).
bool FrameKind(const uint8_t* data, size_t size, Kind* kind, std::string* error);

// ---- Batches ----------------------------------------------------------------

struct BatchHeader {
    uint32_t serial = 0;    // the server
    uint64_t session = 0;   // the server's session
    uint64_t sequence = 0;  // per server and session, from 1 (stream or pulls)
    int64_t batch = 0;      // the batch's number in what the server made
    double time = 0;        // simulated seconds at the batch's start
    int64_t sentNs = 0;     // the server's wall clock (ns since 1970) when it sent the batch; never negative
    uint32_t results = 0;   // how many results follow
};

// Where a batch frame holds its sequence number (u64) and the time it was
// sent (i64): a frame made ahead is numbered and stamped when it leaves.
constexpr size_t kSequenceOffset = 24;
constexpr size_t kSentOffset = 48;
// Stamps a batch frame of `size` bytes with `sequence` and the wall clock
// now, as it leaves.
void StampBatch(uint8_t* frame, size_t size, uint64_t sequence);
// The wall clock in ns since 1970, as a batch's sent time holds it.
int64_t WallNs();

// The element types a result's arrays may have, and their sizes; 0 for a
// type that cannot travel.
int32_t ElementSize(int32_t type);

// The exact size of the frame of `results`; false with `*error` set for a
// handle that is no result, an array of a type that cannot travel, or a
// batch beyond the limits.
bool MeasureBatch(const std::vector<zvHandle>& results, size_t* bytes, std::string* error);
// Writes the frame of `results` into `out`, which holds the MeasureBatch
// size (`header.results` is taken from `results`).
void WriteBatch(const BatchHeader& header, const std::vector<zvHandle>& results, uint8_t* out);
// Both at once.
bool EncodeBatch(const BatchHeader& header, const std::vector<zvHandle>& results, std::vector<uint8_t>* out,
                 std::string* error);

// A checked batch frame, pointing into the frame's bytes (which must
// outlive it).
struct ArrayView {
    int32_t type = 0;
    int32_t dimensions = 0;
    int32_t lengths[3] = {0, 0, 0};
    const uint8_t* data = nullptr;
    size_t bytes = 0;
};
struct ResultView {
    int64_t id = 0;
    const uint8_t* attributes = nullptr;  // attributeCount little-endian i64
    uint32_t attributeCount = 0;
    uint32_t firstArray = 0;  // into BatchView::arrays
    uint32_t arrayCount = 0;
    int64_t Attribute(uint32_t index) const;
};
struct BatchView {
    BatchHeader header;
    std::vector<ResultView> results;
    std::vector<ArrayView> arrays;
};

// Checks every byte of a batch frame: sizes and counts against the frame
// and the limits, element types, and the layouts of the results the
// station makes (profile 0, slices 1, web 5, video 6, calibration report 8,
// end of object 9). False with `*error` saying what is wrong ("result 2:
// array 1: ..."); `*out` is then empty. Memory taken is bounded by the
// frame's size.
bool ParseBatch(const uint8_t* data, size_t size, BatchView* out, std::string* error);

// zvApi results (default allocator; the caller owns them) of a checked
// batch, appended to `results`. A failing zvApi status leaves `results` as
// it was.
zvStatus BuildResults(const BatchView& batch, std::vector<zvHandle>* results);

}  // namespace zv::station::wire

#endif
