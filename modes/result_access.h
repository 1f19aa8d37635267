// Access to the station's results inside a process handler's messages, with
// the checks that keep a malformed result from being read out of bounds.
#ifndef TORVANE_MODES_RESULT_ACCESS_H
#define TORVANE_MODES_RESULT_ACCESS_H

#include <cstdint>

#include "zvapi/zvapi.h"

// Result identifiers the modes act on.
constexpr int64_t kResultProfile = 0;
constexpr int64_t kResultSlices = 1;
constexpr int64_t kResultWeb = 5;
constexpr int64_t kResultCalibration = 8;
constexpr int64_t kResultObjectEnd = 9;

// The null point of the point lists: drawing skips it.
constexpr int32_t kNullCoordinate = INT32_MIN;

// The result of message `index` of `messages`: the message's payload when
// it is a result, or item 0 of a payload list of results. Returns 1 with
// *result 0 when the slot, the message, its payload or a result is missing;
// a failing platform status otherwise (*result 0).
zvStatus MessageResult(zvHandle messages, int32_t index, zvHandle* result);

// A checked view of one data array of a result.
struct ArrayView {
    const unsigned char* data;  // element (0, ...); null when the array is empty
    int32_t dimensions;
    int32_t length[3];  // lengths per dimension, 0 past `dimensions`
    int32_t elementType;
    int32_t elementSize;
    int64_t bytes;  // bytes of all elements
};

// Data array `index` of `result`, which must be an array of `dimensions`
// dimensions whose elements are `elementSize` bytes. Returns 1; ZV_E_RANGE
// when the result has no such array; ZV_E_TYPE when it is not an array of
// that shape.
zvStatus ResultArray(zvHandle result, int32_t index, int32_t dimensions, int32_t elementSize, ArrayView* view);

// Attribute `index` of `result`; ZV_E_RANGE when the result has none there.
zvStatus ResultAttribute(zvHandle result, int32_t index, int64_t* value);

// The profile a view list was just filled from: its points as the station
// sent them (x, y in 16 bits) and the scale they were multiplied by. Given
// only where no scaled x can wrap to the null value, so that the drawn
// points are exactly the profile's points whose x is not -32768; the
// drawing then builds them from the profile, reading half the bytes of the
// list. Valid while the handler runs.
struct ProfileSource {
    const int16_t* points = nullptr;
    uint32_t scale = 0;
};

// The vector instruction sets the per-point loops of the modes may use on
// this machine (the processor has them and the system saves their state).
// Checked once; always false off x86-64.
namespace modes_simd {
bool HasAvx2();
bool HasAvx512();  // AVX-512 F and BW, with BMI2
// Tests: caps what the two above report (0 neither, 1 at most AVX2, 2 as
// the machine has), so that every variant of the loops can be checked.
void LimitForTesting(int level);
}  // namespace modes_simd

#endif
