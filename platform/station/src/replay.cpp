// Recorded results in JSON lines.
#include "zvstation/replay.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include <nlohmann/json.hpp>

#include "results.hpp"
#include "zvstation/capture.hpp"

namespace zv::station {

namespace {

using nlohmann::json;

struct TypeInfo {
    const char* name;
    int32_t type;
    int components;  // numbers per element
    int size;        // bytes per component
};

const TypeInfo kTypes[] = {
    {"int8", ZV_TYPE_INT8, 1, 1},
    {"uint8", ZV_TYPE_UINT8, 1, 1},
    {"int16", ZV_TYPE_INT16, 1, 2},
    {"uint16", ZV_TYPE_UINT16, 1, 2},
    {"int32", ZV_TYPE_INT32, 1, 4},
    {"uint32", ZV_TYPE_UINT32, 1, 4},
    {"int64", ZV_TYPE_INT64, 1, 8},
    {"uint64", ZV_TYPE_UINT64, 1, 8},
    {"float32", ZV_TYPE_FLOAT32, 1, 4},
    {"float64", ZV_TYPE_FLOAT64, 1, 8},
    {"point32", ZV_TYPE_POINT32, 2, 4},
    // encoder (int64), time (uint64), input state (int32)
    {"stamp", ZV_TYPE_STAMP, 3, 8},
};

const TypeInfo* FindType(const std::string& name) {
    for (const TypeInfo& t : kTypes)
        if (name == t.name) return &t;
    return nullptr;
}

const TypeInfo* FindType(int32_t type) {
    for (const TypeInfo& t : kTypes)
        if (type == t.type) return &t;
    return nullptr;
}

// Refuses arrays larger than this many elements (a guard against a line
// whose dimensions would make the station allocate without end).
constexpr int64_t kMaxElements = int64_t{1} << 26;

// Lines are read whole up to this length and refused past it, so that a
// file of any size is read with a bounded amount of memory.
constexpr size_t kMaxLine = size_t{16} << 20;

struct Array {
    const TypeInfo* type;
    std::vector<int32_t> lengths;
    std::vector<unsigned char> bytes;  // the elements as the result holds them
};

struct Record {
    int64_t id = 0;
    std::vector<int64_t> attributes;
    std::vector<Array> data;
    bool hasBatch = false;
    int64_t batch = 0;
};

// Text from the file made safe to show in a message: printable ASCII kept,
// anything else as \xNN, at most 40 bytes.
std::string Shown(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == 40) return out + "...";
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// A message made safe to show whatever went into it: printable, and cut to
// a bounded length.
std::string Excerpt(const std::string& text) {
    constexpr size_t kLimit = 300;
    std::string out;
    for (const char c : text) {
        if (out.size() >= kLimit) return out + "...";
        const auto u = static_cast<unsigned char>(c);
        out += u >= 0x20 && u < 0x7F ? c : '?';
    }
    return out;
}

// An integer of JSON as exactly what it is: the signed or the unsigned
// 64-bit value it was written as; false for anything but an integer.
struct Integer {
    bool negative = false;
    uint64_t magnitude = 0;  // of a negative value: its absolute value
};
bool AsInteger(const json& v, Integer* out) {
    if (v.is_number_unsigned()) {
        *out = {false, v.get<uint64_t>()};
        return true;
    }
    if (v.is_number_integer()) {
        const int64_t value = v.get<int64_t>();
        *out =
            value < 0 ? Integer{true, 0 - static_cast<uint64_t>(value)} : Integer{false, static_cast<uint64_t>(value)};
        return true;
    }
    return false;
}

// Whether `i` lies in [lo, hi], compared exactly.
bool InRange(const Integer& i, int64_t lo, uint64_t hi) {
    if (i.negative) return lo < 0 && i.magnitude <= 0 - static_cast<uint64_t>(lo);
    return i.magnitude <= hi;
}

int64_t AsInt64(const json& v, const std::string& what) {
    Integer i;
    if (!AsInteger(v, &i)) throw std::runtime_error(what + " is not an integer");
    if (!InRange(i, INT64_MIN, INT64_MAX)) throw std::runtime_error(what + " is out of the 64-bit signed range");
    return i.negative ? static_cast<int64_t>(0 - i.magnitude) : static_cast<int64_t>(i.magnitude);
}

template <typename T>
void Put(std::vector<unsigned char>& bytes, T value) {
    unsigned char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof value);
    bytes.insert(bytes.end(), raw, raw + sizeof raw);
}

// One integer component of an element of `type` (or of a stamp's part),
// checked exactly against the range of what holds it.
template <typename T>
void PutInteger(std::vector<unsigned char>& bytes, const json& v, const std::string& what, const char* type) {
    Integer i;
    if (!AsInteger(v, &i)) throw std::runtime_error(what + " is not an integer");
    if (!InRange(i, static_cast<int64_t>(std::numeric_limits<T>::min()),
                 static_cast<uint64_t>(std::numeric_limits<T>::max())))
        throw std::runtime_error(what + " out of range for " + type);
    Put<T>(bytes, static_cast<T>(i.negative ? static_cast<T>(0 - i.magnitude) : static_cast<T>(i.magnitude)));
}

template <typename T>
void PutFloat(std::vector<unsigned char>& bytes, const json& v, const std::string& what, const char* type) {
    if (!v.is_number()) throw std::runtime_error(what + " is not a number");
    const double d = v.get<double>();
    if (!(std::fabs(d) <= static_cast<double>(std::numeric_limits<T>::max())))
        throw std::runtime_error(what + " out of range for " + type);
    Put<T>(bytes, static_cast<T>(d));
}

Array ParseArray(const json& item, size_t index) {
    const std::string where = "data " + std::to_string(index);
    if (!item.is_object()) throw std::runtime_error(where + " is not an object");
    Array a;
    if (!item.contains("type") || !item["type"].is_string()) throw std::runtime_error(where + ": no \"type\"");
    a.type = FindType(item["type"].get<std::string>());
    if (a.type == nullptr)
        throw std::runtime_error(where + ": unknown element type \"" + Shown(item["type"].get<std::string>()) + "\"");
    if (!item.contains("dims") || !item["dims"].is_array() || item["dims"].empty() || item["dims"].size() > 3)
        throw std::runtime_error(where + ": \"dims\" must list 1 to 3 lengths");
    int64_t elements = 1;
    for (const json& d : item["dims"]) {
        const int64_t length = AsInt64(d, where + ": a length");
        if (length < 0 || length > INT32_MAX) throw std::runtime_error(where + ": length out of range");
        elements *= length;
        if (elements > kMaxElements) throw std::runtime_error(where + ": too many elements");
        a.lengths.push_back(static_cast<int32_t>(length));
    }
    if (!item.contains("values") || !item["values"].is_array()) throw std::runtime_error(where + ": no \"values\"");
    const json& values = item["values"];
    const int64_t expected = elements * a.type->components;
    if (static_cast<int64_t>(values.size()) != expected)
        throw std::runtime_error(where + ": " + std::to_string(values.size()) + " values for dims " +
                                 item["dims"].dump() + " (expected " + std::to_string(expected) + ")");
    a.bytes.reserve(static_cast<size_t>(elements) * static_cast<size_t>(a.type->type == ZV_TYPE_STAMP
                                                                            ? sizeof(zvStamp)
                                                                            : a.type->components * a.type->size));
    for (size_t i = 0; i < values.size(); ++i) {
        const json& v = values[i];
        const std::string what = where + ": value " + std::to_string(i);
        switch (a.type->type) {
            case ZV_TYPE_INT8: PutInteger<int8_t>(a.bytes, v, what, a.type->name); break;
            case ZV_TYPE_UINT8: PutInteger<uint8_t>(a.bytes, v, what, a.type->name); break;
            case ZV_TYPE_INT16: PutInteger<int16_t>(a.bytes, v, what, a.type->name); break;
            case ZV_TYPE_UINT16: PutInteger<uint16_t>(a.bytes, v, what, a.type->name); break;
            case ZV_TYPE_INT32:
            case ZV_TYPE_POINT32: PutInteger<int32_t>(a.bytes, v, what, a.type->name); break;
            case ZV_TYPE_UINT32: PutInteger<uint32_t>(a.bytes, v, what, a.type->name); break;
            case ZV_TYPE_INT64: PutInteger<int64_t>(a.bytes, v, what, a.type->name); break;
            case ZV_TYPE_UINT64: PutInteger<uint64_t>(a.bytes, v, what, a.type->name); break;
            case ZV_TYPE_FLOAT32: PutFloat<float>(a.bytes, v, what, a.type->name); break;
            case ZV_TYPE_FLOAT64: PutFloat<double>(a.bytes, v, what, a.type->name); break;
            case ZV_TYPE_STAMP:
                // Encoder, time, input state, then the record's padding.
                if (i % 3 == 0) PutInteger<int64_t>(a.bytes, v, what + " (encoder)", a.type->name);
                if (i % 3 == 1) PutInteger<uint64_t>(a.bytes, v, what + " (time)", a.type->name);
                if (i % 3 == 2) {
                    PutInteger<int32_t>(a.bytes, v, what + " (input state)", a.type->name);
                    Put<int32_t>(a.bytes, 0);
                }
                break;
            default: break;
        }
    }
    return a;
}

// The record of one line of JSON; throws with what is wrong.
Record ParseRecord(const std::string& line) {
    json j;
    try {
        j = json::parse(line);
    } catch (const json::parse_error& e) {
        throw std::runtime_error("not valid JSON (at byte " + std::to_string(e.byte) + ")");
    } catch (const json::exception&) {
        // The parser's own words would repeat the number whole.
        throw std::runtime_error("a number too large to read");
    }
    if (!j.is_object()) throw std::runtime_error("not a JSON object");
    Record record;
    if (!j.contains("id")) throw std::runtime_error("no \"id\"");
    record.id = AsInt64(j["id"], "\"id\"");
    if (j.contains("attributes")) {
        if (!j["attributes"].is_array()) throw std::runtime_error("\"attributes\" is not a list");
        for (const json& a : j["attributes"]) record.attributes.push_back(AsInt64(a, "an attribute"));
    }
    if (j.contains("data")) {
        if (!j["data"].is_array()) throw std::runtime_error("\"data\" is not a list");
        for (size_t i = 0; i < j["data"].size(); ++i) record.data.push_back(ParseArray(j["data"][i], i));
    }
    if (j.contains("batch")) {
        record.hasBatch = true;
        record.batch = AsInt64(j["batch"], "\"batch\"");
    }
    return record;
}

// A file read through its descriptor: opened without blocking, so that a
// FIFO or a device named like a recording is refused, not waited on.
class FileBuffer : public std::streambuf {
public:
    explicit FileBuffer(int fd) : fd_(fd) {}
    ~FileBuffer() override { ::close(fd_); }
    FileBuffer(const FileBuffer&) = delete;
    FileBuffer& operator=(const FileBuffer&) = delete;

protected:
    int_type underflow() override {
        ssize_t n;
        do {
            n = ::read(fd_, buffer_, sizeof buffer_);
        } while (n < 0 && errno == EINTR);
        if (n < 0) throw std::runtime_error(std::string("cannot be read: ") + std::strerror(errno));
        if (n == 0) return traits_type::eof();
        setg(buffer_, buffer_, buffer_ + n);
        return traits_type::to_int_type(*gptr());
    }
    // Seeks from the start only: the replay goes to where a batch begins.
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override {
        if (dir != std::ios_base::beg) return pos_type(off_type(-1));
        return seekpos(pos_type(off), which);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
        if (::lseek(fd_, static_cast<off_t>(pos), SEEK_SET) < 0) return pos_type(off_type(-1));
        setg(buffer_, buffer_, buffer_);
        return pos;
    }

private:
    int fd_;
    char buffer_[65536];
};

class FileStream : public std::istream {
public:
    explicit FileStream(int fd) : std::istream(nullptr), buffer_(fd) { rdbuf(&buffer_); }

private:
    FileBuffer buffer_;
};

// Reads lines one at a time, each at most kMaxLine bytes, up to a number of
// lines (all of them unless told), counting lines and bytes from where the
// stream stands (`number` lines and `offset` bytes of the file before it).
class LineReader {
public:
    explicit LineReader(std::istream& in, size_t limit = SIZE_MAX, size_t number = 0, uint64_t offset = 0)
        : in_(in), limit_(limit), number_(number), offset_(offset) {}
    // The next line that is not blank, with `*comment` telling whether it is
    // a comment ("#"); false at the end or the limit. Throws, naming the
    // line, for one too long.
    bool Next(std::string* line, bool* comment) {
        for (;;) {
            start_ = offset_;
            if (!Read(line)) return false;
            if (!line->empty() && line->back() == '\r') line->pop_back();
            const size_t first = line->find_first_not_of(" \t");
            if (first == std::string::npos) continue;
            *comment = (*line)[first] == '#';
            return true;
        }
    }
    // The next line that holds a record (comments skipped too).
    bool Next(std::string* line) {
        bool comment = true;
        while (Next(line, &comment))
            if (!comment) return true;
        return false;
    }
    // The number of the line Next gave (from 1), and the byte it began at.
    size_t Number() const { return number_; }
    uint64_t Start() const { return start_; }

private:
    bool Read(std::string* line) {
        line->clear();
        if (number_ >= limit_) return false;
        std::streambuf* buffer = in_.rdbuf();
        if (buffer == nullptr || buffer->sgetc() == std::char_traits<char>::eof()) return false;
        ++number_;
        for (;;) {
            const int c = buffer->sbumpc();
            if (c == std::char_traits<char>::eof()) return true;
            ++offset_;
            if (c == '\n') return true;
            if (line->size() >= kMaxLine)
                throw std::runtime_error("line " + std::to_string(number_) + ": longer than " +
                                         std::to_string(kMaxLine >> 20) + " MiB");
            line->push_back(static_cast<char>(c));
        }
    }
    std::istream& in_;
    size_t limit_;
    size_t number_ = 0;
    uint64_t offset_ = 0;
    uint64_t start_ = 0;
};

// The batch number of a capture segment's end line ("# end of batch 17");
// false for any other line.
bool EndOfBatch(const std::string& line, int64_t* batch) {
    const size_t first = line.find_first_not_of(" \t");
    const std::string_view prefix = kBatchEnd;
    if (first == std::string::npos || line.compare(first, prefix.size(), prefix) != 0) return false;
    size_t at = first + prefix.size();
    const bool negative = at < line.size() && line[at] == '-';
    if (negative) ++at;
    const size_t digits = at;
    uint64_t value = 0;
    for (; at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])); ++at) {
        if (value > (uint64_t{1} << 62)) return false;
        value = value * 10 + static_cast<uint64_t>(line[at] - '0');
    }
    if (at == digits || line.find_first_not_of(" \t", at) != std::string::npos) return false;
    *batch = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    return true;
}

// Where a record's line lies and the first stamp it holds.
struct Place {
    uint32_t file = 0;
    uint64_t offset = 0;
    uint64_t line = 0;  // lines of the file before it
    bool hasBatch = false;
    int64_t batch = 0;
    bool stamped = false;
    int64_t encoder = 0;
    uint64_t time = 0;
    ReplayIndex::Key key;
};

Place PlaceOf(const Record& record, uint32_t file, const LineReader& reader) {
    Place p;
    p.file = file;
    p.offset = reader.Start();
    p.line = reader.Number() - 1;
    p.hasBatch = record.hasBatch;
    p.batch = record.batch;
    p.key.id = static_cast<uint32_t>(static_cast<uint64_t>(record.id));
    if (!record.attributes.empty()) p.key.first = static_cast<uint32_t>(static_cast<uint64_t>(record.attributes[0]));
    for (const Array& a : record.data) {
        if (a.type->type != ZV_TYPE_STAMP || a.bytes.size() < 16) continue;
        p.stamped = true;
        std::memcpy(&p.encoder, a.bytes.data(), 8);
        std::memcpy(&p.time, a.bytes.data() + 8, 8);
        break;
    }
    return p;
}

// The batches of one recording, across its files: a batch that continues
// from the file before stays one.
struct Counts {
    std::vector<ReplayIndex::Batch> batches;
    std::vector<ReplayIndex::Key> keys;
    size_t results = 0;
    void Add(const Place& p) {
        const bool joins =
            p.hasBatch && !batches.empty() && batches.back().numbered && batches.back().number == p.batch;
        if (!joins) batches.push_back({p.file, p.offset, p.line, p.hasBatch, p.batch, 0, false, 0, 0});
        ReplayIndex::Batch& b = batches.back();
        ++b.results;
        if (p.stamped && !b.stamped) {
            b.stamped = true;
            b.encoder = p.encoder;
            b.time = p.time;
        }
        keys.push_back(p.key);
        ++results;
    }
};

// Checks every line of `in`, counting into `*counts`. `*limit` gets the
// number of lines to hand out: all of them, or, in a capture segment (its
// first line the segment header), those up to its last end line, with
// `*note` saying what was cut after it (a batch the capture did not
// complete, perhaps torn). A bad line before a segment's last end line is
// an error as in any file.
bool CheckLines(std::istream& in, uint32_t file, Counts* counts, size_t* limit, std::string* note, std::string* error,
                const std::function<void(uint64_t)>& read = {}) {
    constexpr uint64_t kProgressStep = uint64_t{64} << 20;
    uint64_t told = 0;
    LineReader reader(in);
    std::string line;
    *limit = SIZE_MAX;
    note->clear();
    bool segment = false;
    // A segment's lines since its last end line: their batch numbers, and
    // the first of them that would not read.
    std::vector<Place> pending;
    std::string pendingError;
    size_t whole = 0;  // the line of the last end line
    try {
        bool comment = false;
        while (reader.Next(&line, &comment)) {
            const size_t number = reader.Number();
            if (read && reader.Start() >= told + kProgressStep) {
                told = reader.Start();
                read(told);
            }
            if (number == 1 && comment && line.rfind(kSegmentHeader, 0) == 0) segment = true;
            if (comment) {
                int64_t batch = 0;
                if (!segment || !EndOfBatch(line, &batch)) continue;
                if (!pendingError.empty()) throw std::runtime_error(pendingError);
                for (const Place& p : pending) {
                    if (!p.hasBatch || p.batch != batch)
                        throw std::runtime_error("line " + std::to_string(reader.Number()) + ": the end of batch " +
                                                 std::to_string(batch) + " follows lines of another batch");
                }
                for (const Place& p : pending) counts->Add(p);
                pending.clear();
                whole = number;
                continue;
            }
            Record record;
            try {
                record = ParseRecord(line);
            } catch (const std::exception& e) {
                const std::string why = "line " + std::to_string(number) + ": " + e.what();
                if (!segment) throw std::runtime_error(why);
                if (pendingError.empty()) pendingError = why;
                pending.push_back(Place{});
                continue;
            }
            if (segment) {
                pending.push_back(PlaceOf(record, file, reader));
            } else {
                counts->Add(PlaceOf(record, file, reader));
            }
        }
    } catch (const std::exception& e) {
        *error = Excerpt(e.what());
        return false;
    }
    if (segment && !pending.empty()) {
        *limit = whole;
        const Place& first = pending.front();
        *note = "cut after line " + std::to_string(whole) + ": " + std::to_string(pending.size()) +
                (pending.size() == 1 ? " line" : " lines") +
                (first.hasBatch ? " of batch " + std::to_string(first.batch) : std::string(" of a batch")) +
                " that the capture did not complete" + (pendingError.empty() ? "" : " (the last of them torn)");
    }
    return true;
}

}  // namespace

// The recording is read twice: once whole at Load, each line checked and
// forgotten while the index of its batches is made, and then batch by batch
// as the run asks for them, one record ahead, from wherever a seek put the
// reader. Neither keeps more than a batch. A recording is a stream given by
// the caller, or files read one after the other as one, each up to its
// limit (a segment cut after its last whole batch).
struct Replay::Impl {
    ReplayIndex index;
    std::unique_ptr<std::istream> given;  // the stream given instead of files
    std::streampos givenStart = 0;
    size_t givenLimit = SIZE_MAX;
    size_t nextFile = 0;  // the file to open when the current one ends
    std::unique_ptr<std::istream> current;
    std::unique_ptr<LineReader> reader;
    bool havePending = false;
    Record pending;  // the record read ahead
    size_t results = 0;
    size_t position = 0;  // the batch handed out next
    std::vector<std::string> notes;
    bool loaded = false;

    void Reset() {
        index = ReplayIndex{};
        given.reset();
        givenStart = 0;
        givenLimit = SIZE_MAX;
        nextFile = 0;
        current.reset();
        reader.reset();
        havePending = false;
        pending = Record{};
        results = 0;
        position = 0;
        notes.clear();
        loaded = false;
    }
    // Opens `file` without blocking: a FIFO or a device would block the
    // reader or never end. `*info` gets what it is.
    static std::unique_ptr<std::istream> Open(const std::filesystem::path& file, struct stat* info,
                                              std::string* error) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            *error = "cannot open it";
            return nullptr;
        }
        if (::fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
            ::close(fd);
            *error = "not a plain file";
            return nullptr;
        }
        return std::make_unique<FileStream>(fd);
    }
    static int64_t Modified(const struct stat& info) {
        return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    }
    // Opens file `index` at `offset`, `line` lines into it; false when it
    // is no longer the file the index was made of.
    bool OpenAt(size_t file, uint64_t offset, uint64_t line) {
        const ReplayIndex::File& f = index.files[file];
        if (current != nullptr && nextFile == file + 1) {
            // The file open already, checked when it was opened: a seek
            // within it (many, in an exact seek that skips) opens nothing.
            reader.reset();
            current->clear();
            current->seekg(static_cast<std::streamoff>(offset));
            if (!*current) return false;
            reader = std::make_unique<LineReader>(*current, f.limit, line, offset);
            return true;
        }
        std::string error;
        struct stat info {};
        std::unique_ptr<std::istream> in = Open(f.path, &info, &error);
        if (in == nullptr || static_cast<uint64_t>(info.st_size) != f.size || Modified(info) != f.modified)
            return false;
        if (offset != 0) {
            in->seekg(static_cast<std::streamoff>(offset));
            if (!*in) return false;
        }
        current = std::move(in);
        reader = std::make_unique<LineReader>(*current, f.limit, line, offset);
        nextFile = file + 1;
        return true;
    }
    // The next line of the recording, across files; false at its end.
    bool NextLine(std::string* line) {
        for (;;) {
            if (reader != nullptr && reader->Next(line)) return true;
            if (given != nullptr || nextFile >= index.files.size()) return false;
            const size_t file = nextFile;
            if (!OpenAt(file, 0, 0)) throw std::runtime_error(index.files[file].path.string() + ": changed");
        }
    }
    // The next record, false at the end.
    bool Read(Record* record) {
        std::string line;
        if (!NextLine(&line)) return false;
        *record = ParseRecord(line);
        return true;
    }
};

Replay::Replay() : impl_(std::make_unique<Impl>()) {}
Replay::~Replay() = default;

bool Replay::Load(const std::filesystem::path& file, std::string* error) {
    std::vector<std::filesystem::path> files{file};
    return Load(files, error);
}

bool Replay::Load(const std::vector<std::filesystem::path>& files, std::string* error, const Progress& progress) {
    Impl& r = *impl_;
    uint64_t total = 0;
    uint64_t before = 0;  // the bytes of the files read already
    if (progress) {
        std::error_code ec;
        for (const std::filesystem::path& file : files) {
            const uintmax_t size = std::filesystem::file_size(file, ec);
            if (!ec) total += size;
        }
    }
    const auto read = [&](uint64_t done) {
        if (progress) progress(before + done, total);
    };
    r.Reset();
    Counts counts;
    ReplayIndex index;
    std::vector<std::string> notes;
    for (const std::filesystem::path& file : files) {
        struct stat info {};
        std::unique_ptr<std::istream> in = Impl::Open(file, &info, error);
        size_t limit = SIZE_MAX;
        std::string note;
        // Every message names the file at fault.
        if (in == nullptr ||
            !CheckLines(*in, static_cast<uint32_t>(index.files.size()), &counts, &limit, &note, error, read)) {
            *error = file.string() + ": " + *error;
            return false;
        }
        index.files.push_back({file, static_cast<uint64_t>(info.st_size), Impl::Modified(info), limit, note});
        before += static_cast<uint64_t>(info.st_size);
        if (!note.empty()) notes.push_back(file.string() + ": " + note);
    }
    index.batches = std::move(counts.batches);
    index.keys = std::move(counts.keys);
    r.index = std::move(index);
    r.notes = std::move(notes);
    r.results = counts.results;
    r.loaded = true;
    return true;
}

bool Replay::LoadIndexed(ReplayIndex index, std::string* error) {
    Impl& r = *impl_;
    r.Reset();
    size_t results = 0;
    std::vector<std::string> notes;
    for (const ReplayIndex::File& f : index.files) {
        struct stat info {};
        std::unique_ptr<std::istream> in = Impl::Open(f.path, &info, error);
        if (in == nullptr) {
            *error = f.path.string() + ": " + *error;
            return false;
        }
        if (static_cast<uint64_t>(info.st_size) != f.size || Impl::Modified(info) != f.modified) {
            *error = f.path.string() + ": changed since it was indexed";
            return false;
        }
        if (!f.note.empty()) notes.push_back(f.path.string() + ": " + f.note);
    }
    // Batches lie in order in their files, where the files have bytes.
    for (size_t i = 0; i < index.batches.size(); ++i) {
        const ReplayIndex::Batch& b = index.batches[i];
        const bool ordered = i == 0 || b.file > index.batches[i - 1].file ||
                             (b.file == index.batches[i - 1].file && b.offset > index.batches[i - 1].offset);
        if (b.file >= index.files.size() || b.offset >= index.files[b.file].size ||
            b.line >= index.files[b.file].limit || !ordered || b.results == 0) {
            *error = "the index does not fit its files (batch " + std::to_string(i) + ")";
            return false;
        }
        results += b.results;
    }
    if (index.keys.size() != results) {
        *error = "the index does not fit its files (it knows " + std::to_string(index.keys.size()) + " of " +
                 std::to_string(results) + " results)";
        return false;
    }
    r.index = std::move(index);
    r.notes = std::move(notes);
    r.results = results;
    r.loaded = true;
    return true;
}

bool Replay::Load(std::unique_ptr<std::istream> stream, std::string* error) {
    Impl& r = *impl_;
    r.Reset();
    if (stream == nullptr) {
        *error = "no recording";
        return false;
    }
    std::istream& in = *stream;
    const std::streampos start = in.tellg();
    Counts counts;
    size_t limit = SIZE_MAX;
    std::string note;
    if (!CheckLines(in, 0, &counts, &limit, &note, error)) return false;
    // Read again from the start, batch by batch.
    in.clear();
    in.seekg(start);
    if (!in) {
        *error = "the recording cannot be read a second time";
        return false;
    }
    r.given = std::move(stream);
    r.givenStart = start;
    r.givenLimit = limit;
    r.reader = std::make_unique<LineReader>(*r.given, limit);
    if (!note.empty()) r.notes.push_back(note);
    r.index.batches = std::move(counts.batches);
    r.index.keys = std::move(counts.keys);
    r.results = counts.results;
    r.loaded = true;
    return true;
}

const ReplayIndex& Replay::Index() const { return impl_->index; }

const std::vector<std::string>& Replay::Notes() const { return impl_->notes; }

size_t Replay::BatchCount() const { return impl_->index.batches.size(); }

size_t Replay::ResultCount() const { return impl_->results; }

size_t Replay::Position() const { return impl_->position; }

zvStatus Replay::Seek(size_t batch) {
    Impl& r = *impl_;
    if (!r.loaded || batch > r.index.batches.size()) return ZV_E_ARGUMENT;
    r.havePending = false;
    r.pending = Record{};
    r.reader.reset();
    r.position = batch;
    if (batch == r.index.batches.size()) {
        r.current.reset();
        r.nextFile = r.index.files.size();
        return ZV_OK;
    }
    const ReplayIndex::Batch& b = r.index.batches[batch];
    if (r.given != nullptr) {
        r.given->clear();
        r.given->seekg(r.givenStart + static_cast<std::streamoff>(b.offset));
        if (!*r.given) return ZV_E_PARSE;
        r.reader = std::make_unique<LineReader>(*r.given, r.givenLimit, b.line, b.offset);
        return ZV_OK;
    }
    return r.OpenAt(b.file, b.offset, b.line) ? ZV_OK : ZV_E_PARSE;
}

zvStatus Replay::NextBatch(std::vector<zvHandle>* payloads) {
    if (payloads == nullptr) return ZV_E_ARGUMENT;
    Impl& r = *impl_;
    if (!r.loaded) return ZV_OK;
    std::vector<Record> batch;
    try {
        Record record;
        if (r.havePending) {
            batch.push_back(std::move(r.pending));
            r.havePending = false;
        } else if (r.Read(&record)) {
            batch.push_back(std::move(record));
        }
        // A batch goes on while the lines carry its number, up to the
        // results the index found in it: no line of the next is read ahead.
        const size_t results = r.position < r.index.batches.size() ? r.index.batches[r.position].results : SIZE_MAX;
        while (!batch.empty() && batch.size() < results && batch.front().hasBatch && r.Read(&record)) {
            if (record.hasBatch && record.batch == batch.front().batch) {
                batch.push_back(std::move(record));
                continue;
            }
            r.pending = std::move(record);
            r.havePending = true;
            break;
        }
    } catch (const std::exception&) {
        return ZV_E_PARSE;  // the file changed since it was checked
    }
    std::vector<zvHandle> made;
    for (const Record& record : batch) {
        ResultBuilder builder;
        zvStatus status = builder.Init(record.id, record.attributes);
        for (size_t i = 0; status > 0 && i < record.data.size(); ++i) {
            const Array& a = record.data[i];
            void* elements = builder.AddArray(a.type->type, a.lengths, &status);
            if (elements != nullptr && !a.bytes.empty()) std::memcpy(elements, a.bytes.data(), a.bytes.size());
        }
        if (status <= 0) {
            for (zvHandle h : made) zvObjectDestroy(h);
            return status;
        }
        made.push_back(builder.Release());
    }
    if (!made.empty()) ++r.position;
    payloads->insert(payloads->end(), made.begin(), made.end());
    return ZV_OK;
}

int32_t ReplayElementType(const std::string& name) {
    const TypeInfo* t = FindType(name);
    return t ? t->type : 0;
}

std::string ReplayTypeName(int32_t type) {
    const TypeInfo* t = FindType(type);
    return t ? t->name : "";
}

std::string ReplayLine(zvHandle result, int64_t batch) {
    if (!zvObjectIs(result, ZV_TYPE_RESULT)) return "";
    json j;
    j["batch"] = batch;
    int64_t id = 0;
    zvResultId(result, &id);
    j["id"] = id;
    int32_t count = 0;
    zvResultAttributeCount(result, &count);
    json attributes = json::array();
    for (int32_t i = 0; i < count; ++i) {
        int64_t v = 0;
        zvResultAttributeAt(result, i, &v);
        attributes.push_back(v);
    }
    j["attributes"] = attributes;
    json data = json::array();
    int32_t arrays = 0;
    zvResultCount(result, &arrays);
    for (int32_t i = 0; i < arrays; ++i) {
        zvHandle array = nullptr;
        if (zvResultData(result, i, &array) <= 0) continue;
        const TypeInfo* t = FindType(zvArrayElementType(array));
        if (t == nullptr) continue;
        json a;
        a["type"] = t->name;
        json dims = json::array();
        int64_t elements = 1;
        for (int32_t d = 0; d < zvArrayDimensions(array); ++d) {
            dims.push_back(zvArrayLength(array, d));
            elements *= zvArrayLength(array, d);
        }
        a["dims"] = dims;
        json values = json::array();
        const auto* p = static_cast<const unsigned char*>(ArrayElements(array));
        for (int64_t e = 0; p != nullptr && e < elements; ++e) {
            const unsigned char* at = p + e * (t->type == ZV_TYPE_STAMP ? sizeof(zvStamp) : t->components * t->size);
            switch (t->type) {
                case ZV_TYPE_INT8: values.push_back(*reinterpret_cast<const int8_t*>(at)); break;
                case ZV_TYPE_UINT8: values.push_back(*at); break;
                case ZV_TYPE_INT16: {
                    int16_t v;
                    std::memcpy(&v, at, 2);
                    values.push_back(v);
                    break;
                }
                case ZV_TYPE_UINT16: {
                    uint16_t v;
                    std::memcpy(&v, at, 2);
                    values.push_back(v);
                    break;
                }
                case ZV_TYPE_INT32: {
                    int32_t v;
                    std::memcpy(&v, at, 4);
                    values.push_back(v);
                    break;
                }
                case ZV_TYPE_UINT32: {
                    uint32_t v;
                    std::memcpy(&v, at, 4);
                    values.push_back(v);
                    break;
                }
                case ZV_TYPE_INT64: {
                    int64_t v;
                    std::memcpy(&v, at, 8);
                    values.push_back(v);
                    break;
                }
                case ZV_TYPE_UINT64: {
                    uint64_t v;
                    std::memcpy(&v, at, 8);
                    values.push_back(v);
                    break;
                }
                case ZV_TYPE_FLOAT32: {
                    float v;
                    std::memcpy(&v, at, 4);
                    values.push_back(v);
                    break;
                }
                case ZV_TYPE_FLOAT64: {
                    double v;
                    std::memcpy(&v, at, 8);
                    values.push_back(v);
                    break;
                }
                case ZV_TYPE_POINT32: {
                    int32_t v[2];
                    std::memcpy(v, at, 8);
                    values.push_back(v[0]);
                    values.push_back(v[1]);
                    break;
                }
                case ZV_TYPE_STAMP: {
                    zvStamp s;
                    std::memcpy(&s, at, sizeof s);
                    values.push_back(s.encoder);
                    values.push_back(s.time);
                    values.push_back(s.inputState);
                    break;
                }
                default: break;
            }
        }
        a["values"] = values;
        data.push_back(a);
    }
    j["data"] = data;
    return j.dump();
}

}  // namespace zv::station
