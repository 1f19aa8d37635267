#include "commits.hpp"

#include <atomic>
#include <deque>
#include <mutex>

#include "files.hpp"

namespace zv {

namespace {

struct Log {
    std::mutex mutex;
    std::deque<files::Commit> commits;
};

std::atomic<bool> g_on{false};

Log& commitLog() {
    static Log* instance = new Log;  // lives as long as the file space
    return *instance;
}

}  // namespace

void NoteCommit(const std::string& host, files::Commit::Change change, int64_t size) {
    if (!g_on.load(std::memory_order_relaxed)) return;
    try {
        const std::string root = FileSpaceRoot() + "/";
        if (host.compare(0, root.size(), root) != 0) return;
        Log& l = commitLog();
        std::lock_guard lock(l.mutex);
        if (l.commits.size() >= files::kMaxCommits) l.commits.pop_front();
        l.commits.push_back({host.substr(root.size()), change, size});
    } catch (...) {
        // A change that cannot be logged (no memory) goes unreported; the
        // file itself is written.
    }
}

}  // namespace zv

namespace zv::files {

void LogCommits(bool on) {
    Log& l = commitLog();
    std::lock_guard lock(l.mutex);
    l.commits.clear();
    g_on.store(on, std::memory_order_relaxed);
}

std::vector<Commit> TakeCommits() {
    Log& l = commitLog();
    std::lock_guard lock(l.mutex);
    std::vector<Commit> taken(std::make_move_iterator(l.commits.begin()), std::make_move_iterator(l.commits.end()));
    l.commits.clear();
    return taken;
}

}  // namespace zv::files
