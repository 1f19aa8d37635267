// The "Video" mode.
#include "modes/video_mode.h"

#include <cstdio>
#include <cstring>

#include "modes/result_access.h"
#include "modes/run_state.h"
#include "plugin/pipe_modes.h"
#include "plugin/server_path.h"

namespace {

// Pure red over the pixel's fourth byte: blue 0, green 0, red 255.
constexpr uint32_t kRed = 0x00FF0000u;
constexpr uint32_t kFourthByte = 0xFF000000u;

// The mask bytes of `camera` (0 or 1) and how many there are; null for
// another camera or a mask that is not a one-byte image.
unsigned char* MaskOf(const RunState* run, int64_t camera, int64_t* bytes) {
    *bytes = 0;
    if (camera != 0 && camera != 1) return nullptr;
    zvHandle mask = run->masks[camera];
    if (zvImageType(mask) != ZV_TYPE_IMAGE8) return nullptr;
    auto* data = static_cast<unsigned char*>(zvImageData(mask));
    if (data == nullptr) return nullptr;
    *bytes = static_cast<int64_t>(zvImageStride(mask)) * zvImageHeight(mask);
    return data;
}

// Pure red for a hit pixel (hit 1), the pixel itself otherwise (hit 0);
// the fourth byte stays.
inline uint32_t Painted(uint32_t px, uint32_t hit) {
    const uint32_t select = 0u - hit;
    return (px & ~(select & ~kFourthByte)) | (select & kRed);
}

// Pixels from..to-1 of a frame with a mask byte each: blue byte at or above
// `limit`, or a mask byte of 1, paints the pixel and marks it.
inline void PaintMasked(const unsigned char* __restrict frame, unsigned char* __restrict image,
                        unsigned char* __restrict mask, int64_t from, int64_t to, uint32_t limit) {
    for (int64_t p = from; p < to; ++p) {
        uint32_t px;
        std::memcpy(&px, frame + 4 * p, sizeof px);
        const uint32_t marked = mask[p];
        const uint32_t hit = static_cast<uint32_t>((px & 0xFFu) >= limit) | static_cast<uint32_t>(marked == 1);
        mask[p] = static_cast<unsigned char>(hit != 0 ? 1u : marked);
        px = Painted(px, hit);
        std::memcpy(image + 4 * p, &px, sizeof px);
    }
}

// Sixteen pixels at a time: one vector of the widest registers the machine
// has (the clones below pick them when the process starts).
typedef uint32_t PixelBlock __attribute__((vector_size(64)));
constexpr int64_t kBlockPixels = 16;
constexpr int64_t kChunkPixels = 4 * kBlockPixels;

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define TORVANE_PIXEL_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define TORVANE_PIXEL_CLONES
#endif

// Copies `pixels` 32-bit pixels from `frame` to `image`, painting red every
// pixel whose blue byte exceeds `threshold` or whose mask byte is 1, and
// marking it in the mask. Pixels from `maskBytes` on have no mask byte.
// Most of a camera frame is dark and unmarked: each chunk of 64 pixels is
// copied and checked as a whole, and only a chunk with a hit is painted
// pixel by pixel. The three blocks never overlap.
TORVANE_PIXEL_CLONES
void PaintFrame(const unsigned char* __restrict frame, unsigned char* __restrict image, int64_t pixels,
                unsigned char* __restrict mask, int64_t maskBytes, int32_t threshold) {
    // Comparing bytes: below 0 every pixel exceeds the threshold, from 255
    // on none does. A blue byte b is at or above `limit` exactly when
    // b + (256 - limit) reaches bit 8.
    const uint32_t limit = threshold < 0 ? 0u : (threshold >= 255 ? 256u : static_cast<uint32_t>(threshold) + 1u);
    const uint32_t lift = 256u - limit;
    const int64_t masked = mask == nullptr ? 0 : (pixels < maskBytes ? pixels : maskBytes);
    int64_t p = 0;
    for (; p + kChunkPixels <= masked; p += kChunkPixels) {
        PixelBlock seen = {};
        for (int64_t q = 0; q < kChunkPixels; q += kBlockPixels) {
            PixelBlock block;
            std::memcpy(&block, frame + 4 * (p + q), sizeof block);
            std::memcpy(image + 4 * (p + q), &block, sizeof block);
            seen |= (block & 0xFFu) + lift;
        }
        PixelBlock marks;  // the chunk's 64 mask bytes
        std::memcpy(&marks, mask + p, sizeof marks);
        seen = (seen & 0x100u) | marks;
        uint32_t any = 0;
        for (int32_t lane = 0; lane < 16; ++lane) any |= seen[lane];
        if (any != 0) PaintMasked(frame, image, mask, p, p + kChunkPixels, limit);
    }
    PaintMasked(frame, image, mask, p, masked, limit);
    for (p = masked; p < pixels; ++p) {
        uint32_t px;
        std::memcpy(&px, frame + 4 * p, sizeof px);
        px = Painted(px, static_cast<uint32_t>((px & 0xFFu) >= limit));
        std::memcpy(image + 4 * p, &px, sizeof px);
    }
}

zvStatus ClearMasks(RunState* run) {
    for (zvHandle mask : run->masks) {
        const zvStatus status = zvImageZero(mask);
        if (status <= 0) return status;
    }
    return ZV_OK;
}

// Writes the mask of `camera` to "\SN<sensor>\mask<camera>.bin". A missing
// mask (a run whose start failed) has nothing to save.
zvStatus SaveMask(const RunState* run, int32_t camera) {
    zvHandle mask = run->masks[camera];
    if (mask == nullptr) return ZV_OK;
    if (zvImageType(mask) != ZV_TYPE_IMAGE8 || zvImageWidth(mask) != kMaskWidth || zvImageStride(mask) != kMaskWidth ||
        zvImageHeight(mask) != kMaskHeight || zvImageData(mask) == nullptr) {
        return ZV_E_STATE;
    }
    char name[16];
    std::snprintf(name, sizeof name, "mask%d.bin", camera);
    char path[kServerPathSize];
    FormatServerPath(path, kServerFileFormat, run->selectedSensor, name);
    zvHandle file = nullptr;
    zvStatus status = zvFileCreate(&file, nullptr);
    if (status <= 0) return status;
    // A file whose write failed is destroyed unwritten: the old mask stays.
    status = zvFileInit(file, path, ZV_FILE_WRITE);
    if (status > 0) status = zvFileWrite(file, zvImageData(mask), kMaskBytes);
    if (status > 0) status = zvFileFlush(file);
    const zvStatus closed = zvFileDestroy(file);
    return status <= 0 ? status : closed;
}

}  // namespace

zvStatus ProcessVideo(void* state, zvHandle /*engine*/, zvHandle parameters, zvHandle messages) {
    auto* run = static_cast<RunState*>(state);
    if (run == nullptr) return ZV_E_ARGUMENT;
    zvAllocator output = nullptr;
    zvStatus status = zvPipeEngineOutputAlloc(run->engine, &output);
    if (status <= 0) return status;
    const int32_t threshold = ParameterAt(parameters, kVideoIdzThreshold);
    const int32_t paint = ParameterAt(parameters, kVideoThreshEnabled);

    zvHandle result = nullptr;
    status = MessageResult(messages, 0, &result);
    if (status <= 0) return status;
    if (result == nullptr) return ZV_OK;
    int64_t sensor = 0;
    int64_t camera = 0;
    status = ResultAttribute(result, 0, &sensor);
    if (status <= 0) return status;
    status = ResultAttribute(result, 1, &camera);
    if (status <= 0) return status;

    // Any message, also one of another sensor, notices a new threshold.
    if (threshold != run->lastThreshold) {
        status = ClearMasks(run);
        if (status <= 0) return status;
    }
    if (static_cast<uint32_t>(sensor) != run->selectedSensor) {
        run->lastThreshold = threshold;
        return ZV_OK;
    }

    ArrayView frame;
    status = ResultArray(result, 0, 3, 1, &frame);
    if (status <= 0) return status;
    if (frame.length[2] != 4) return ZV_E_TYPE;
    const int32_t h = frame.length[0];
    const int32_t w = frame.length[1];
    const int64_t pixels = static_cast<int64_t>(w) * h;

    zvHandle image = nullptr;
    status = zvImageCreate(&image, output);
    if (status <= 0) return status;
    status = zvImageInit(image, ZV_TYPE_IMAGE32, w, h, w);
    if (status <= 0) return status;
    auto* pixelsOut = static_cast<unsigned char*>(zvImageData(image));
    if (pixels > 0 && (pixelsOut == nullptr || zvImageStride(image) != w)) return ZV_E_FAIL;
    if (paint != 0) {
        int64_t maskBytes = 0;
        unsigned char* mask = MaskOf(run, camera, &maskBytes);
        PaintFrame(frame.data, pixelsOut, pixels, mask, maskBytes, threshold);
    } else {
        status = zvMemcpy(pixelsOut, frame.data, static_cast<size_t>(pixels) * 4);
        if (status <= 0) return status;
    }

    zvHandle plot = nullptr;
    status = zvPlotCreate(&plot, output);
    if (status <= 0) return status;
    status = zvPlotInit(plot);
    if (status <= 0) return status;
    // Pixel centres fall on whole coordinates.
    status = zvPlotSetWorld(plot, -0.5f, -0.5f, static_cast<float>(w), static_cast<float>(h));
    if (status <= 0) return status;
    status = zvPlotSetBackColor(plot, 0xFF000000u);
    if (status <= 0) return status;
    status = zvPlotAdd(plot, image);
    if (status <= 0) return status;
    status = zvDataSetLabel(plot, camera == 0 ? "Video 0" : "Video 1");
    if (status <= 0) return status;
    status = zvPipeEngineSend(run->engine, plot);
    if (status <= 0) return status;
    run->lastThreshold = threshold;
    return ZV_OK;
}

zvStatus StopVideo(void* state, zvHandle /*engine*/, zvHandle parameters) {
    auto* run = static_cast<RunState*>(state);
    if (run != nullptr && ParameterAt(parameters, kVideoThreshEnabled) != 0) {
        for (int32_t camera = 0; camera < 2; ++camera) {
            const zvStatus status = SaveMask(run, camera);
            if (status <= 0) {
                // The run ends here all the same: its state must not outlive it.
                RunStateDestroy(run);
                return status;
            }
        }
    }
    return RunStateDestroy(run);
}
