// The station's frame decoders on arbitrary bytes: never a crash, an
// out-of-bounds read or an allocation beyond the frame; a frame that is
// accepted builds its results, and encoding what was decoded gives back
// the very same bytes (one frame, one meaning).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"
#include "zvstation/frames.hpp"

namespace wire = zv::station::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);
    std::string error;
    std::vector<uint8_t> again;

    wire::BatchView view;
    if (wire::ParseBatch(data, size, &view, &error)) {
        std::vector<zvHandle> results;
        if (wire::BuildResults(view, &results) <= 0) std::abort();
        if (results.size() != view.header.results) std::abort();
        if (!wire::EncodeBatch(view.header, results, &again, &error) || again != input) std::abort();
        for (zvHandle h : results) zvObjectDestroy(h);
    } else if (error.empty()) {
        std::abort();
    }

    wire::Request request;
    if (wire::DecodeRequest(data, size, &request, &error)) {
        wire::EncodeRequest(request, &again);
        if (again != input) std::abort();
    }
    wire::Reply reply;
    if (wire::DecodeReply(data, size, &reply, &error)) {
        wire::EncodeReply(reply, &again);
        if (again != input) std::abort();
    }
    return 0;
}
