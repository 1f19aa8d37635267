// The x86 intrinsics the per-profile loops use, where the compiler offers
// them; includes nothing elsewhere.
#ifndef TORVANE_MODES_INTRINSICS_H
#define TORVANE_MODES_INTRINSICS_H

#if defined(__x86_64__) && defined(__GNUC__)
#if defined(__clang__)
#include <immintrin.h>
#else
// GCC 12 reports the intrinsics' own undefined pass-through operands as
// uninitialised once inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif
#endif

#endif
