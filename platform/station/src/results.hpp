// Building zvApi results for the station's deliveries.
#ifndef ZVSTATION_RESULTS_HPP
#define ZVSTATION_RESULTS_HPP

#include <cstdint>
#include <vector>

#include "zvapi/zvapi.h"

namespace zv::station {

// Owns a result under construction; destroys it unless released.
class ResultBuilder {
public:
    ResultBuilder() = default;
    ~ResultBuilder() { zvObjectDestroy(result_); }
    ResultBuilder(const ResultBuilder&) = delete;
    ResultBuilder& operator=(const ResultBuilder&) = delete;

    zvStatus Init(int64_t id, const std::vector<int64_t>& attributes);
    // Adds an array of `type` with `lengths` (1 to 3 dimensions) to the
    // result and returns its elements, zero-filled; null on failure with
    // `*status` set.
    void* AddArray(int32_t type, const std::vector<int32_t>& lengths, zvStatus* status);
    // Adds an array made elsewhere; the result owns it from then on, also
    // when adding fails (it is destroyed then).
    zvStatus AddData(zvHandle array);
    // The finished result; the caller owns it.
    zvHandle Release() {
        zvHandle r = result_;
        result_ = nullptr;
        return r;
    }

private:
    zvHandle result_ = nullptr;
};

// Address of element 0 of an array of any dimension count, or null.
void* ArrayElements(zvHandle array);

}  // namespace zv::station

#endif
