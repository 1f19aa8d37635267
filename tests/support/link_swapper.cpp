#include "support/link_swapper.hpp"

#include <fcntl.h>
#include <stdio.h>

#include <utility>

namespace zvtest {

namespace {

bool Exchange(const std::filesystem::path& a, const std::filesystem::path& b) {
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

}  // namespace

LinkSwapper::LinkSwapper(std::filesystem::path a, std::filesystem::path b) : a_(std::move(a)), b_(std::move(b)) {
    thread_ = std::thread([this] {
        while (!stop_.load()) {
            if (Exchange(a_, b_)) ++swaps_;
        }
    });
}

void LinkSwapper::Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
    if (swaps_.load() % 2 != 0 && Exchange(a_, b_)) ++swaps_;
}

}  // namespace zvtest
