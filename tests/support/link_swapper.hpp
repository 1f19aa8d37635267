// A hostile disk for race tests: a folder of the file space and a link to a
// folder outside it trade places (one atomic exchange of the two names)
// again and again on a thread of its own, until the swapper goes.
//
//   zvtest::LinkSwapper swapper(space.Host("SN7"), space.Host("swap"));
//   ... read and write \SN7\... ...
//   swapper.Stop();  // joins; Swaps() tells how often they traded places
#ifndef TESTS_SUPPORT_LINK_SWAPPER_HPP
#define TESTS_SUPPORT_LINK_SWAPPER_HPP

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <thread>

namespace zvtest {

class LinkSwapper {
public:
    // `a` and `b` must both exist (one of them a link, say).
    LinkSwapper(std::filesystem::path a, std::filesystem::path b);
    ~LinkSwapper() { Stop(); }
    LinkSwapper(const LinkSwapper&) = delete;
    LinkSwapper& operator=(const LinkSwapper&) = delete;

    // Ends the swapping; each name then holds what it held at the start
    // (an odd count of swaps is undone once more).
    void Stop();
    int64_t Swaps() const { return swaps_.load(); }

private:
    std::filesystem::path a_, b_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> swaps_{0};
    std::thread thread_;
};

}  // namespace zvtest

#endif
