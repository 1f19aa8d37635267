// The arithmetic of the Detection mode's polar outlines: a slice's points
// in mils around their centre, in polar form (angle in 10^-5 radian,
// radius in mils), sorted by angle and resampled to evenly spaced radii.
//
// Integer steps follow the station's own arithmetic: the centre's sums in
// 32-bit two's complement that wraps, truncation toward zero, radii
// interpolated in 16.16 fixed point. Distances from the centre and the
// interpolation are formed wide enough never to wrap, so that a point far
// from the centre or an outline of a large object keeps its true radius
// (clamped to 30000 mils).
#ifndef TORVANE_MODES_POLAR_OUTLINE_H
#define TORVANE_MODES_POLAR_OUTLINE_H

#include <cstdint>

#include "zvapi/zvapi.h"

// Radii of an outline, and the angle between two bins (10^-5 radian).
constexpr int32_t kOutlineBins = 360;
constexpr double kFullTurn = 628318.5307179586;
constexpr double kHalfTurn = 314159.2653589793;
// Radii are clamped to 0 .. kOutlineMaxRadius mils.
constexpr int32_t kOutlineMaxRadius = 30000;

// The integer mean of the measured points (null pairs are left out): sums
// in wrapping 32-bit arithmetic, each divided by the number of measured
// points with truncation toward zero. No measured point gives (0, 0).
zvPoint32s SliceCentre(const zvPoint32s* points, int32_t count);
// The same over an array list of points (item type 162). Returns 1, or
// ZV_E_TYPE for a list of other items (*cx, *cy 0).
zvStatus SliceCentre(zvHandle points, int32_t* cx, int32_t* cy);

// The polar form of each measured point of `in` around (cx, cy), written
// to `out` in order as (angle, radius), both truncated toward zero; the
// angle lies in 0 .. 628318, measured from +x towards +y; dx² + dy² is
// formed in 64 bits, and a radius beyond 32 bits is stored as INT32_MAX.
// Points without a defined angle are left out: null pairs and points at
// the centre. Returns the number of points written (at most `count`).
int32_t ToPolarPoints(const zvPoint32s* in, int32_t count, int32_t cx, int32_t cy, zvPoint32s* out);
// The same from list `points` into list `polar` (both item type 162),
// whose count is then the number of points written. Returns 1, ZV_E_TYPE
// for lists of other items, or the status of sizing `polar`.
zvStatus ToPolar(zvHandle points, int32_t cx, int32_t cy, zvHandle polar);

// qsort order of polar points: negative, zero or positive as the angle of
// `a` is below, equal to or above that of `b`.
int CompareAngle(const void* a, const void* b);
// Sorts polar points ascending by angle, keeping points of equal angle in
// their order (the order the station's sort leaves them in). `scratch`
// has room for `count` points; its content is left undefined.
void SortByAngle(zvPoint32s* points, int32_t count, zvPoint32s* scratch);

// `binCount` radii of a polar list sorted by angle (a list whose first
// angle exceeds its last is walked from its end): bin i stands for angle
// i * trunc(628318.53 / binCount); bins before the first point take its
// radius, bins up to the last point follow the line between the points on
// either side, later bins continue the last line. Every radius is clamped
// to 0 .. 30000. A single point gives its radius everywhere; no point gives
// 0 everywhere. Nothing is written for binCount < 1.
void ResampleOutlinePoints(const zvPoint32s* polar, int32_t count, int32_t binCount, int32_t* radii);
// The same from list `polar` (item type 162) into array `radii`
// (int32 elements, at least `binCount` of them). Returns 1, ZV_E_ARGUMENT
// for binCount < 1, ZV_E_TYPE or ZV_E_RANGE for containers of the wrong
// kind or size (radii untouched).
zvStatus ResampleOutline(zvHandle polar, int32_t binCount, zvHandle radii);

// The low 32 bits of `value` truncated toward zero; 0 for a value that is
// not a finite number.
int32_t TruncatedLow32(double value);

#endif
