// The replay reader on arbitrary text: never a crash, a message names a
// line and shows no raw byte, and a recording that loads delivers exactly
// the batches and results it counted, made of whole results, also from
// wherever a seek puts it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"
#include "zvstation/replay.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zv::station::Replay replay;
    std::string error;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!replay.Load(std::make_unique<std::istringstream>(text), &error)) {
        if (error.rfind("line ", 0) != 0) std::abort();
        for (char c : error)
            if (c < 0x20 || c >= 0x7F) std::abort();
        return 0;
    }
    size_t batches = 0;
    size_t results = 0;
    for (;;) {
        std::vector<zvHandle> batch;
        if (replay.NextBatch(&batch) <= 0) std::abort();
        if (batch.empty()) break;
        ++batches;
        results += batch.size();
        for (zvHandle h : batch) {
            if (!zvObjectIs(h, ZV_TYPE_RESULT)) std::abort();
            zvObjectDestroy(h);
        }
    }
    if (batches != replay.BatchCount() || results != replay.ResultCount()) std::abort();
    // From a batch in the middle and from the last, the rest as counted.
    for (const size_t from : {batches / 2, batches > 0 ? batches - 1 : 0}) {
        if (replay.Seek(from) <= 0 || replay.Position() != from) std::abort();
        size_t rest = 0;
        for (;;) {
            std::vector<zvHandle> batch;
            if (replay.NextBatch(&batch) <= 0) std::abort();
            if (batch.empty()) break;
            if (batch.size() != replay.Index().batches[from + rest].results) std::abort();
            ++rest;
            for (zvHandle h : batch) zvObjectDestroy(h);
        }
        if (rest != batches - from) std::abort();
    }
    if (replay.Seek(batches + 1) > 0) std::abort();
    return 0;
}
