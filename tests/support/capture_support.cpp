#include "support/capture_support.hpp"

#include <gtest/gtest.h>

#include "zvstation/capture.hpp"
#include "zvstation/replay.hpp"

namespace zvtest {

namespace zs = zv::station;

Deliveries::Deliveries(const std::filesystem::path& root, const std::string& mode, int count) {
    bool created = false;
    std::string error;
    EXPECT_TRUE(zs::EnsureDemoStation(root, 4, 1, &created, &error)) << error;
    zs::Options options;
    options.profilePoints = 8;
    EXPECT_TRUE(station_.Open(root, options, &error)) << error;
    station_.SetMode(1, mode);
    station_.StartDelivery(1);
    for (int i = 0; i < count; ++i) {
        std::vector<zvHandle> batch;
        EXPECT_EQ(station_.NextBatch(&batch), ZV_OK);
        batches.push_back(batch);
    }
}

Deliveries::~Deliveries() {
    for (const auto& batch : batches)
        for (zvHandle h : batch) zvObjectDestroy(h);
}

std::vector<std::string> Deliveries::Lines() const {
    std::vector<std::string> lines;
    for (size_t b = 0; b < batches.size(); ++b)
        for (zvHandle h : batches[b]) lines.push_back(zs::ReplayLine(h, static_cast<int64_t>(b)));
    return lines;
}

std::vector<std::string> Replayed(const std::vector<std::filesystem::path>& inputs, std::vector<size_t>* sizes) {
    zs::Replay replay;
    std::string error;
    EXPECT_TRUE(zs::LoadReplay(inputs, &replay, &error)) << error;
    std::vector<std::string> lines;
    for (int64_t b = 0;; ++b) {
        std::vector<zvHandle> batch;
        EXPECT_EQ(replay.NextBatch(&batch), ZV_OK);
        if (batch.empty()) break;
        sizes->push_back(batch.size());
        for (zvHandle h : batch) {
            lines.push_back(zs::ReplayLine(h, b));
            zvObjectDestroy(h);
        }
    }
    return lines;
}

}  // namespace zvtest
