// The index file: a header, the files, the batches and a checksum of all
// before it, every number little-endian.
#include "zvstation/replay_index.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace zv::station {

namespace {

// Format 2 added the results' keys; an index of format 1 is made again.
constexpr char kMagic[8] = {'Z', 'V', 'R', 'I', 'D', 'X', '2', '\n'};
constexpr size_t kMaxName = 4096;
// file, offset, line, flags, number, results, encoder, time
constexpr size_t kBatchBytes = 4 + 8 + 8 + 1 + 8 + 4 + 8 + 8;

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ull;
    }
    return h;
}

class Writer {
public:
    template <typename T>
    void Put(T value) {
        auto u = static_cast<uint64_t>(value);
        for (size_t i = 0; i < sizeof(T); ++i, u >>= 8) bytes_.push_back(static_cast<char>(u & 0xff));
    }
    void Text(const std::string& text) {
        Put<uint32_t>(static_cast<uint32_t>(text.size()));
        bytes_ += text;
    }
    std::string& Bytes() { return bytes_; }

private:
    std::string bytes_;
};

class Reader {
public:
    explicit Reader(const std::string& bytes, size_t end) : bytes_(bytes), end_(end) {}
    template <typename T>
    T Get() {
        Need(sizeof(T));
        uint64_t u = 0;
        for (size_t i = 0; i < sizeof(T); ++i) u |= uint64_t{static_cast<unsigned char>(bytes_[at_ + i])} << (8 * i);
        at_ += sizeof(T);
        return static_cast<T>(u);
    }
    std::string Text() {
        const auto size = Get<uint32_t>();
        if (size > kMaxName) throw std::runtime_error("a name longer than " + std::to_string(kMaxName) + " bytes");
        Need(size);
        std::string text = bytes_.substr(at_, size);
        at_ += size;
        return text;
    }
    size_t Left() const { return end_ - at_; }

private:
    void Need(size_t n) const {
        if (end_ - at_ < n) throw std::runtime_error("cut short");
    }
    const std::string& bytes_;
    size_t end_;
    size_t at_ = sizeof kMagic;
};

bool WriteAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool WriteReplayIndex(const std::filesystem::path& file, const ReplayIndex& index, std::string* error) {
    Writer w;
    w.Bytes().assign(kMagic, sizeof kMagic);
    w.Put<uint32_t>(static_cast<uint32_t>(index.files.size()));
    for (const ReplayIndex::File& f : index.files) {
        w.Text(f.path.filename().string());
        w.Put<uint64_t>(f.size);
        w.Put<int64_t>(f.modified);
        w.Put<uint64_t>(f.limit);
        w.Text(f.note.substr(0, kMaxName));
    }
    w.Put<uint64_t>(index.batches.size());
    for (const ReplayIndex::Batch& b : index.batches) {
        w.Put<uint32_t>(b.file);
        w.Put<uint64_t>(b.offset);
        w.Put<uint64_t>(b.line);
        w.Put<uint8_t>(static_cast<uint8_t>((b.numbered ? 1 : 0) | (b.stamped ? 2 : 0)));
        w.Put<int64_t>(b.number);
        w.Put<uint32_t>(b.results);
        w.Put<int64_t>(b.encoder);
        w.Put<uint64_t>(b.time);
    }
    w.Put<uint64_t>(index.keys.size());
    for (const ReplayIndex::Key& k : index.keys) {
        w.Put<uint32_t>(k.id);
        w.Put<uint32_t>(k.first);
    }
    w.Put<uint64_t>(Fnv1a(w.Bytes()));

    std::random_device random;
    const std::filesystem::path temporary =
        file.parent_path() / (file.filename().string() + "." + std::to_string(random() % 1000000) + ".tmp");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        *error = "cannot write " + temporary.string() + ": " + std::strerror(errno);
        return false;
    }
    const bool written = WriteAll(fd, w.Bytes()) && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        *error = "cannot write " + file.string() + ": " + std::strerror(written ? errno : saved);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool ReadReplayIndex(const std::filesystem::path& file, const std::filesystem::path& folder, ReplayIndex* index,
                     std::string* error) {
    *index = ReplayIndex{};
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) > kMaxReplayIndexBytes) {
        ::close(fd);
        *error = "not an index";
        return false;
    }
    std::string bytes(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (done != bytes.size() || bytes.size() < sizeof kMagic + 8 ||
        bytes.compare(0, sizeof kMagic, kMagic, sizeof kMagic) != 0) {
        *error = "not an index";
        return false;
    }
    const size_t body = bytes.size() - 8;
    uint64_t sum = 0;
    for (size_t i = 0; i < 8; ++i) sum |= uint64_t{static_cast<unsigned char>(bytes[body + i])} << (8 * i);
    if (sum != Fnv1a(bytes.substr(0, body))) {
        *error = "damaged (its checksum does not match)";
        return false;
    }
    ReplayIndex made;
    try {
        Reader r(bytes, body);
        const auto files = r.Get<uint32_t>();
        for (uint32_t i = 0; i < files; ++i) {
            ReplayIndex::File f;
            const std::string name = r.Text();
            if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
                throw std::runtime_error("a file name that is none");
            f.path = folder / name;
            f.size = r.Get<uint64_t>();
            f.modified = r.Get<int64_t>();
            f.limit = r.Get<uint64_t>();
            f.note = r.Text();
            made.files.push_back(std::move(f));
        }
        const auto batches = r.Get<uint64_t>();
        if (batches > r.Left() / kBatchBytes) throw std::runtime_error("cut short");
        made.batches.reserve(static_cast<size_t>(batches));
        for (uint64_t i = 0; i < batches; ++i) {
            ReplayIndex::Batch b;
            b.file = r.Get<uint32_t>();
            b.offset = r.Get<uint64_t>();
            b.line = r.Get<uint64_t>();
            const auto flags = r.Get<uint8_t>();
            b.numbered = (flags & 1) != 0;
            b.stamped = (flags & 2) != 0;
            b.number = r.Get<int64_t>();
            b.results = r.Get<uint32_t>();
            b.encoder = r.Get<int64_t>();
            b.time = r.Get<uint64_t>();
            made.batches.push_back(b);
        }
        const auto keys = r.Get<uint64_t>();
        if (keys > r.Left() / 8) throw std::runtime_error("cut short");
        made.keys.resize(static_cast<size_t>(keys));
        for (ReplayIndex::Key& k : made.keys) {
            k.id = r.Get<uint32_t>();
            k.first = r.Get<uint32_t>();
        }
        if (r.Left() != 0) throw std::runtime_error("bytes after its end");
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
    *index = std::move(made);
    return true;
}

}  // namespace zv::station
