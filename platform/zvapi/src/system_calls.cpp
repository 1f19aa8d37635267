// The file space's system calls: the real table, the switch between tables,
// and the failing fake that tests install.
#include "zvapi/zv_system_calls.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "zvapi/zvapi_testing.hpp"

namespace zv::sys {

namespace {

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int RealOpenat(int dir, const char* name, int flags, mode_t mode) { return ::openat(dir, name, flags, mode); }

int RealOpenat2(const char* path, int flags) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how));
}

int RealClose(int fd) { return ::close(fd); }
ssize_t RealRead(int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); }
ssize_t RealPread(int fd, void* buffer, size_t size, off_t offset) { return ::pread(fd, buffer, size, offset); }
ssize_t RealWrite(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int RealFsync(int fd) { return ::fsync(fd); }
int RealFtruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int RealFstat(int fd, struct stat* info) { return ::fstat(fd, info); }
int RealFstatat(int dir, const char* name, struct stat* info, int flags) { return ::fstatat(dir, name, info, flags); }

int RealRenameat(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
    return ::renameat2(fromDir, from, toDir, to, flags);
}

int RealUnlinkat(int dir, const char* name, int flags) { return ::unlinkat(dir, name, flags); }
int RealMkdirat(int dir, const char* name, mode_t mode) { return ::mkdirat(dir, name, mode); }
ssize_t RealReadlinkat(int dir, const char* name, char* buffer, size_t size) {
    return ::readlinkat(dir, name, buffer, size);
}

int RealReaddir(int dir, void (*each)(void*, const char*, unsigned char), void* context) {
    // A listing of its own, so that `dir` stays as it was.
    const int scan = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scan < 0) return -1;
    DIR* listing = ::fdopendir(scan);
    if (listing == nullptr) {
        const int error = errno;
        ::close(scan);
        errno = error;
        return -1;
    }
    errno = 0;
    while (dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            each(context, entry->d_name, entry->d_type);
        errno = 0;
    }
    const int error = errno;
    ::closedir(listing);
    if (error == 0) return 0;
    errno = error;
    return -1;
}

int RealFlock(int fd, int operation) { return ::flock(fd, operation); }
int RealFchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int RealDup(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }

const Calls kReal = {
    kCallsVersion, RealOpen,       RealOpenat,    RealOpenat2, RealClose,   RealRead,     RealPread,
    RealWrite,     RealFsync,      RealFtruncate, RealFstat,   RealFstatat, RealRenameat, RealUnlinkat,
    RealMkdirat,   RealReadlinkat, RealReaddir,   RealFlock,   RealFchmod,  RealDup,
};

std::atomic<const Calls*> g_current{&kReal};

}  // namespace

const Calls& Real() { return kReal; }

const Calls& Current() { return *g_current.load(std::memory_order_acquire); }

const Calls* Install(const Calls* table) {
    if (table == nullptr) table = &kReal;
    if (table->version != kCallsVersion) return g_current.load(std::memory_order_acquire);
    return g_current.exchange(table, std::memory_order_acq_rel);
}

}  // namespace zv::sys

// ---- The failing fake ------------------------------------------------------------
namespace zv::testing {

namespace {

struct FakeState {
    std::mutex mutex;
    bool installed = false;
    const sys::Calls* before = nullptr;
    std::map<std::string, int64_t> counts;
    struct Fault {
        std::string name;
        int remaining;
        int error;
    };
    std::vector<Fault> faults;
};

FakeState& fake() {
    static FakeState* s = new FakeState;  // lives to the end of the process
    return *s;
}

// Counts a call of `name`; true with `*error` set when it is to fail.
bool Fire(const char* name, int* error) {
    FakeState& s = fake();
    std::lock_guard lock(s.mutex);
    ++s.counts[name];
    // Every armed fault of the name counts the call; the first that gets
    // to its call fires.
    auto firing = s.faults.end();
    for (auto it = s.faults.begin(); it != s.faults.end(); ++it) {
        if (it->name == name && --it->remaining == 0 && firing == s.faults.end()) firing = it;
    }
    if (firing == s.faults.end()) return false;
    *error = firing->error;
    s.faults.erase(firing);
    return true;
}

const sys::Calls& Real() { return sys::Real(); }

// A failed call does nothing and says why, except `close`, which closes all
// the same (as the kernel does), and a short transfer, which moves part.
template <typename R>
R Refuse(int error) {
    errno = error;
    return static_cast<R>(-1);
}

size_t Part(size_t size) { return size > 1 ? size / 2 : size; }

int FakeOpen(const char* path, int flags, mode_t mode) {
    int error = 0;
    return Fire("open", &error) ? Refuse<int>(error) : Real().open(path, flags, mode);
}
int FakeOpenat(int dir, const char* name, int flags, mode_t mode) {
    int error = 0;
    return Fire("openat", &error) ? Refuse<int>(error) : Real().openat(dir, name, flags, mode);
}
int FakeOpenat2(const char* path, int flags) {
    int error = 0;
    return Fire("openat2", &error) ? Refuse<int>(error) : Real().openat2(path, flags);
}
int FakeClose(int fd) {
    int error = 0;
    if (!Fire("close", &error)) return Real().close(fd);
    Real().close(fd);
    return Refuse<int>(error == kShortTransfer ? EIO : error);
}
ssize_t FakeRead(int fd, void* buffer, size_t size) {
    int error = 0;
    if (!Fire("read", &error)) return Real().read(fd, buffer, size);
    if (error == kShortTransfer) return Real().read(fd, buffer, Part(size));
    return Refuse<ssize_t>(error);
}
ssize_t FakePread(int fd, void* buffer, size_t size, off_t offset) {
    int error = 0;
    if (!Fire("pread", &error)) return Real().pread(fd, buffer, size, offset);
    if (error == kShortTransfer) return Real().pread(fd, buffer, Part(size), offset);
    return Refuse<ssize_t>(error);
}
ssize_t FakeWrite(int fd, const void* data, size_t size) {
    int error = 0;
    if (!Fire("write", &error)) return Real().write(fd, data, size);
    if (error == kShortTransfer) return Real().write(fd, data, Part(size));
    return Refuse<ssize_t>(error);
}
int FakeFsync(int fd) {
    int error = 0;
    return Fire("fsync", &error) ? Refuse<int>(error) : Real().fsync(fd);
}
int FakeFtruncate(int fd, off_t length) {
    int error = 0;
    return Fire("ftruncate", &error) ? Refuse<int>(error) : Real().ftruncate(fd, length);
}
int FakeFstat(int fd, struct stat* info) {
    int error = 0;
    return Fire("fstat", &error) ? Refuse<int>(error) : Real().fstat(fd, info);
}
int FakeFstatat(int dir, const char* name, struct stat* info, int flags) {
    int error = 0;
    return Fire("fstatat", &error) ? Refuse<int>(error) : Real().fstatat(dir, name, info, flags);
}
int FakeRenameat(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
    int error = 0;
    return Fire("renameat", &error) ? Refuse<int>(error) : Real().renameat(fromDir, from, toDir, to, flags);
}
int FakeUnlinkat(int dir, const char* name, int flags) {
    int error = 0;
    return Fire("unlinkat", &error) ? Refuse<int>(error) : Real().unlinkat(dir, name, flags);
}
int FakeMkdirat(int dir, const char* name, mode_t mode) {
    int error = 0;
    return Fire("mkdirat", &error) ? Refuse<int>(error) : Real().mkdirat(dir, name, mode);
}
ssize_t FakeReadlinkat(int dir, const char* name, char* buffer, size_t size) {
    int error = 0;
    return Fire("readlinkat", &error) ? Refuse<ssize_t>(error) : Real().readlinkat(dir, name, buffer, size);
}
int FakeReaddir(int dir, void (*each)(void*, const char*, unsigned char), void* context) {
    int error = 0;
    return Fire("readdir", &error) ? Refuse<int>(error) : Real().readdir(dir, each, context);
}
int FakeFlock(int fd, int operation) {
    int error = 0;
    return Fire("flock", &error) ? Refuse<int>(error) : Real().flock(fd, operation);
}
int FakeFchmod(int fd, mode_t mode) {
    int error = 0;
    return Fire("fchmod", &error) ? Refuse<int>(error) : Real().fchmod(fd, mode);
}
int FakeDup(int fd) {
    int error = 0;
    return Fire("dup", &error) ? Refuse<int>(error) : Real().dup(fd);
}

const sys::Calls kFake = {
    sys::kCallsVersion, FakeOpen,       FakeOpenat,    FakeOpenat2, FakeClose,   FakeRead,     FakePread,
    FakeWrite,          FakeFsync,      FakeFtruncate, FakeFstat,   FakeFstatat, FakeRenameat, FakeUnlinkat,
    FakeMkdirat,        FakeReadlinkat, FakeReaddir,   FakeFlock,   FakeFchmod,  FakeDup,
};

}  // namespace

const std::vector<std::string>& SystemCallNames() {
    static const std::vector<std::string> names = {
        "open",    "openat",   "openat2",  "close",   "read",       "pread",   "write", "fsync",  "ftruncate", "fstat",
        "fstatat", "renameat", "unlinkat", "mkdirat", "readlinkat", "readdir", "flock", "fchmod", "dup"};
    return names;
}

FailingSystemCalls::FailingSystemCalls() {
    FakeState& s = fake();
    std::lock_guard lock(s.mutex);
    s.counts.clear();
    s.faults.clear();
    if (s.installed) return;  // one at a time: a second one shares the first's
    s.before = sys::Install(&kFake);
    s.installed = true;
    owner_ = true;
}

FailingSystemCalls::~FailingSystemCalls() {
    if (!owner_) return;
    FakeState& s = fake();
    std::lock_guard lock(s.mutex);
    sys::Install(s.before);
    s.installed = false;
    s.faults.clear();
}

void FailingSystemCalls::Fail(const std::string& name, int k, int error) {
    FakeState& s = fake();
    std::lock_guard lock(s.mutex);
    s.faults.push_back({name, k < 1 ? 1 : k, error});
}

bool FailingSystemCalls::Pending() const {
    FakeState& s = fake();
    std::lock_guard lock(s.mutex);
    return !s.faults.empty();
}

void FailingSystemCalls::Clear() {
    FakeState& s = fake();
    std::lock_guard lock(s.mutex);
    s.faults.clear();
}

std::map<std::string, int64_t> FailingSystemCalls::Counts() const {
    FakeState& s = fake();
    std::lock_guard lock(s.mutex);
    return s.counts;
}

void FailingSystemCalls::ResetCounts() {
    FakeState& s = fake();
    std::lock_guard lock(s.mutex);
    s.counts.clear();
}

const sys::Calls& FailingSystemCalls::Table() { return kFake; }

}  // namespace zv::testing
