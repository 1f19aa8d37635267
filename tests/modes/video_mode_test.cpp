// The Video mode driven through the mode runner: frames shown, thresholds
// painted and gathered into the masks, masks saved at stop.
#include "modes/video_mode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/mode_support.hpp"

namespace modes_test {
namespace {

constexpr uint32_t kSensor = 31;
constexpr uint32_t kRedPixel = 0x00FF0000u;

struct Frame {
    int32_t w, h;
    std::vector<uint32_t> pixels;  // blue in the low byte
};

// A frame whose pixel p has blue byte `blue(p)`, green 0x22, red 0x33 and
// fourth byte 0x80.
template <class Blue>
Frame MakeFrame(int32_t w, int32_t h, Blue blue) {
    Frame f{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * static_cast<size_t>(h))};
    for (size_t p = 0; p < f.pixels.size(); ++p) f.pixels[p] = 0x80332200u | (blue(p) & 0xFFu);
    return f;
}

zvHandle VideoResult(uint32_t sensor, int64_t camera, const Frame& f) {
    return MakeResult(0, {sensor, camera},
                      {MakeArray(ZV_TYPE_UINT8, {f.h, f.w, 4}, f.pixels.data(), f.pixels.size() * 4)});
}

class VideoTest : public ModeTest {
protected:
    void SetUp() override {
        ModeTest::SetUp();
        files_.ServerFolder(kSensor);
    }
    void Begin(int32_t threshold, int32_t paint) {
        ASSERT_GT(runner_->SetParameters("Video", {static_cast<int32_t>(kSensor), threshold, 0, paint}), 0);
        ASSERT_GT(runner_->Start("Video"), 0);
    }
    zvStatus Send(zvHandle result) { return runner_->ProcessPayloads({result}); }
    // The pixels of the latest image shown on `display`.
    std::vector<uint32_t> Shown(const std::string& display) const {
        const auto outputs = runner_->OutputsTo(display);
        if (outputs.empty()) return {};
        zvHandle image = zvPlotItemAt(outputs.back().object, 0);
        const auto* data = static_cast<const uint32_t*>(zvImageData(image));
        const int64_t n = int64_t{zvImageWidth(image)} * zvImageHeight(image);
        return data ? std::vector<uint32_t>(data, data + n) : std::vector<uint32_t>{};
    }
    const unsigned char* Mask(int camera) const {
        return static_cast<const unsigned char*>(zvImageData(State()->masks[camera]));
    }
    std::string MaskFile(int camera) const {
        return files_.Read("SN" + std::to_string(kSensor) + "/mask" + std::to_string(camera) + ".bin");
    }
};

TEST_F(VideoTest, ShowsTheSelectedSensorsFrameAsAPlot) {
    Begin(100, 0);
    const Frame f = MakeFrame(5, 3, [](size_t p) { return p * 20; });
    ASSERT_EQ(Send(VideoResult(kSensor, 1, f)), 1);
    const auto shown = runner_->OutputsTo("Video 1");
    ASSERT_EQ(shown.size(), 1u);
    const PlotInfo plot = ReadPlot(shown[0].object);
    EXPECT_FLOAT_EQ(plot.world[0], -0.5f);
    EXPECT_FLOAT_EQ(plot.world[1], -0.5f);
    EXPECT_FLOAT_EQ(plot.world[2], 5.0f);
    EXPECT_FLOAT_EQ(plot.world[3], 3.0f);
    EXPECT_TRUE(plot.backSet);
    EXPECT_EQ(plot.back, 0xFF000000u);
    ASSERT_EQ(plot.images, 1);
    zvHandle image = zvPlotItemAt(shown[0].object, 0);
    EXPECT_EQ(zvImageType(image), ZV_TYPE_IMAGE32);
    EXPECT_EQ(zvImageWidth(image), 5);
    EXPECT_EQ(zvImageHeight(image), 3);
    // Paint off: the frame as it came, and no mask grows.
    EXPECT_EQ(Shown("Video 1"), f.pixels);
    for (int p = 0; p < kMaskBytes; ++p) ASSERT_EQ(Mask(1)[p], 0) << p;
    EXPECT_EQ(runner_->Stop(), 1);
    EXPECT_FALSE(files_.Exists("SN31/mask0.bin"));
    EXPECT_FALSE(files_.Exists("SN31/mask1.bin"));
}

TEST_F(VideoTest, PaintsPixelsAboveTheThresholdAndKeepsThemUntilItChanges) {
    Begin(100, 1);
    // Pixel 0 at the threshold, pixel 1 above it, pixel 2 far above.
    ASSERT_EQ(Send(VideoResult(kSensor, 0, MakeFrame(3, 1, [](size_t p) { return 100 + p * 50; }))), 1);
    EXPECT_EQ(Shown("Video 0"), (std::vector<uint32_t>{0x80332264u, 0x80000000u | kRedPixel, 0x80000000u | kRedPixel}));
    EXPECT_EQ(Mask(0)[0], 0);
    EXPECT_EQ(Mask(0)[1], 1);
    EXPECT_EQ(Mask(0)[2], 1);

    // Dark now, but marked pixels stay red.
    ASSERT_EQ(Send(VideoResult(kSensor, 0, MakeFrame(3, 1, [](size_t) { return 0; }))), 1);
    EXPECT_EQ(Shown("Video 0"), (std::vector<uint32_t>{0x80332200u, 0x80FF0000u, 0x80FF0000u}));
    // The other camera's mask is its own.
    ASSERT_EQ(Send(VideoResult(kSensor, 1, MakeFrame(3, 1, [](size_t) { return 0; }))), 1);
    EXPECT_EQ(Shown("Video 1"), (std::vector<uint32_t>(3, 0x80332200u)));

    // A new threshold clears both masks.
    ASSERT_GT(runner_->SetParameter("idzThreshold", 101), 0);
    ASSERT_EQ(Send(VideoResult(kSensor, 0, MakeFrame(3, 1, [](size_t) { return 0; }))), 1);
    EXPECT_EQ(Shown("Video 0"), (std::vector<uint32_t>(3, 0x80332200u)));
    EXPECT_EQ(Mask(0)[1], 0);
}

TEST_F(VideoTest, OtherSensorsAreNotShownButTheirThresholdClearsTheMasks) {
    Begin(50, 1);
    ASSERT_EQ(Send(VideoResult(kSensor, 0, MakeFrame(2, 1, [](size_t) { return 200; }))), 1);
    ASSERT_EQ(Mask(0)[0], 1);
    ASSERT_GT(runner_->SetParameter("idzThreshold", 60), 0);
    ASSERT_EQ(Send(VideoResult(kSensor + 1, 0, MakeFrame(2, 1, [](size_t) { return 200; }))), 1);
    EXPECT_EQ(runner_->OutputsTo("Video 0").size(), 1u);
    EXPECT_EQ(Mask(0)[0], 0);
    EXPECT_EQ(State()->lastThreshold, 60);
    // The same threshold again keeps what the next frame marks.
    ASSERT_EQ(Send(VideoResult(kSensor, 0, MakeFrame(2, 1, [](size_t p) { return p ? 0 : 61; }))), 1);
    ASSERT_EQ(Send(VideoResult(kSensor + 1, 0, MakeFrame(2, 1, [](size_t) { return 0; }))), 1);
    EXPECT_EQ(Mask(0)[0], 1);
}

TEST_F(VideoTest, StopWithPaintOnSavesBothMasks) {
    Begin(255, 1);  // the start's threshold: the masks stay as created
    Frame f = MakeFrame(448, 176, [](size_t p) { return p % 1000 == 7 ? 255 : 10; });
    ASSERT_GT(runner_->SetParameter("idzThreshold", 200), 0);
    ASSERT_EQ(Send(VideoResult(kSensor, 0, f)), 1);
    ASSERT_EQ(runner_->Stop(), 1);
    const std::string mask0 = MaskFile(0);
    const std::string mask1 = MaskFile(1);
    ASSERT_EQ(mask0.size(), 78848u);
    ASSERT_EQ(mask1.size(), 78848u);
    for (size_t p = 0; p < mask0.size(); ++p) {
        ASSERT_EQ(mask0[p], p % 1000 == 7 ? 1 : 0) << p;
        // Camera 1 sent nothing: its mask is as the start made it, cleared.
        ASSERT_EQ(mask1[p], 0) << p;
    }
}

TEST_F(VideoTest, OversizedFramesAndOtherCamerasStayInsideTheMasks) {
    Begin(100, 1);
    // 500 x 200 pixels: those past the mask's 78848 bytes are painted by
    // the threshold alone. Camera 2 has no mask at all.
    const Frame big = MakeFrame(500, 200, [](size_t) { return 150; });
    ASSERT_EQ(Send(VideoResult(kSensor, 0, big)), 1);
    std::vector<uint32_t> shown = Shown("Video 0");
    ASSERT_EQ(shown.size(), big.pixels.size());
    for (uint32_t px : shown) ASSERT_EQ(px, 0x80FF0000u);
    for (int p = 0; p < kMaskBytes; ++p) ASSERT_EQ(Mask(0)[p], 1) << p;

    ASSERT_EQ(Send(VideoResult(kSensor, 2, MakeFrame(2, 2, [](size_t p) { return p * 60; }))), 1);
    EXPECT_EQ(Shown("Video 1"), (std::vector<uint32_t>{0x80332200u, 0x8033223Cu, 0x80FF0000u, 0x80FF0000u}));
    EXPECT_EQ(Mask(1)[2], 0);
}

TEST_F(VideoTest, PaintingMatchesThePixelRuleOnRandomFrames) {
    // Frames of whole and partial 64-pixel chunks, sparse and dense hits,
    // thresholds at and beyond the byte range, against the rule applied
    // pixel by pixel with a mask of its own.
    std::mt19937 random(11);
    std::vector<unsigned char> model(kMaskBytes, 0);
    int32_t last = 255;
    struct Step {
        int32_t w, h, threshold, brightPercent;
    };
    const Step steps[] = {{448, 176, 200, 1}, {448, 176, 200, 1}, {100, 7, 200, 30},  {448, 176, 90, 50},
                          {448, 176, -3, 0},  {3, 500, 255, 50},  {500, 200, 120, 5}, {448, 176, 120, 0}};
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << step.w << "x" << step.h << " threshold " << step.threshold);
        if (!runner_->Running()) Begin(step.threshold, 1);
        ASSERT_GT(runner_->SetParameter("idzThreshold", step.threshold), 0);
        if (step.threshold != last) std::fill(model.begin(), model.end(), 0);
        last = step.threshold;
        Frame f{step.w, step.h, std::vector<uint32_t>(static_cast<size_t>(step.w) * static_cast<size_t>(step.h))};
        for (auto& px : f.pixels) {
            px = static_cast<uint32_t>(random());
            if (static_cast<int>(random() % 100) >= step.brightPercent) px &= 0xFFFFFF3Fu;  // blue below 64
        }
        ASSERT_EQ(Send(VideoResult(kSensor, 0, f)), 1);
        std::vector<uint32_t> expected = f.pixels;
        for (size_t p = 0; p < expected.size(); ++p) {
            const bool hasMask = p < model.size();
            const bool hit = static_cast<int32_t>(expected[p] & 0xFFu) > step.threshold || (hasMask && model[p] == 1);
            if (!hit) continue;
            expected[p] = (expected[p] & 0xFF000000u) | kRedPixel;
            if (hasMask) model[p] = 1;
        }
        ASSERT_EQ(Shown("Video 0"), expected);
        ASSERT_EQ(std::vector<unsigned char>(Mask(0), Mask(0) + kMaskBytes), model);
    }
}

TEST_F(VideoTest, MalformedResultsAreRefused) {
    Begin(100, 1);
    struct Case {
        const char* what;
        zvHandle result;
        zvStatus status;
    };
    const Case cases[] = {
        {"no camera", MakeResult(0, {kSensor}), ZV_E_RANGE},
        {"no frame", MakeResult(0, {kSensor, 0}), ZV_E_RANGE},
        {"three bytes a pixel", MakeResult(0, {kSensor, 0}, {MakeArray(ZV_TYPE_UINT8, {2, 2, 3})}), ZV_E_TYPE},
        {"a flat frame", MakeResult(0, {kSensor, 0}, {MakeArray(ZV_TYPE_UINT8, {16})}), ZV_E_TYPE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Send(c.result), c.status);
    }
    EXPECT_EQ(Send(nullptr), 1);
    EXPECT_TRUE(runner_->Outputs().empty());
}

TEST_F(VideoTest, AFailedMessageClearsTheMasksAgainNextTime) {
    Begin(100, 1);
    ASSERT_EQ(Send(VideoResult(kSensor, 0, MakeFrame(1, 1, [](size_t) { return 200; }))), 1);
    ASSERT_GT(runner_->SetParameter("idzThreshold", 90), 0);
    zv::testing::FailCall("zvPlotCreate", 1, -55);
    EXPECT_EQ(Send(VideoResult(kSensor, 0, MakeFrame(1, 1, [](size_t) { return 200; }))), -55);
    EXPECT_EQ(State()->lastThreshold, 100);
    EXPECT_EQ(Mask(0)[0], 1);  // marked by the failed frame after the clearing
    ASSERT_EQ(Send(VideoResult(kSensor, 0, MakeFrame(1, 1, [](size_t) { return 0; }))), 1);
    EXPECT_EQ(Mask(0)[0], 0);
}

TEST_F(VideoTest, AFailingFileStillEndsTheRun) {
    Begin(100, 1);
    files_.Write("SN31/mask0.bin", "old");
    zv::testing::FailCall("zvFileWrite", 1, -5);
    EXPECT_EQ(runner_->Stop(), -5);
    // The old mask file is left as it was, and the run state is freed (the
    // fixture checks that nothing stays alive).
    EXPECT_EQ(MaskFile(0), "old");
    EXPECT_FALSE(files_.Exists("SN31/mask1.bin"));
}

}  // namespace
}  // namespace modes_test
