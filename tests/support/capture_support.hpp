// Captures in tests: batches of a small simulated station to record, and
// what a replay of a capture hands out, as lines of the replay format.
#ifndef TESTS_SUPPORT_CAPTURE_SUPPORT_HPP
#define TESTS_SUPPORT_CAPTURE_SUPPORT_HPP

#include <filesystem>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"
#include "zvstation/station.hpp"

namespace zvtest {

// `count` batches of `mode` from a demonstration station (four sensors,
// eight points a profile) made in `root`, which becomes the file space's
// root; owned until the object goes.
class Deliveries {
public:
    Deliveries(const std::filesystem::path& root, const std::string& mode, int count);
    ~Deliveries();
    Deliveries(const Deliveries&) = delete;
    Deliveries& operator=(const Deliveries&) = delete;
    // The lines of every batch as the replay format writes them.
    std::vector<std::string> Lines() const;
    std::vector<std::vector<zvHandle>> batches;

private:
    zv::station::Station station_;
};

// Everything a replay of `inputs` (files and capture folders) hands out, as
// lines, and its batch sizes; the load must succeed.
std::vector<std::string> Replayed(const std::vector<std::filesystem::path>& inputs, std::vector<size_t>* sizes);

}  // namespace zvtest

#endif
