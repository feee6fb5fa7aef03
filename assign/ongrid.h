#pragma once
// The values of structure cells taken straight from sets on the structure's own grid: one cell
// at a time as the value list would combine them, and whole rows four cells at a time.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "assign/run.h"

namespace assign {

// The most sets a row takes straight, without the general search.
constexpr size_t kStraightSets = 16;

// The value of cell c from the rows `in` of n sets on the structure's grid, each with its NODATA,
// priority and weight (an unweighted record's as 1), without building the list: what combineValues gives for the list
// of the records whose values are not within 0.0001 of their set's NODATA, in set order. Only the records of the
// highest priority present count, added (or compared) in set order as the list would have them. Inlined where it is
// called with a fixed number of sets, so that its loops unroll.
[[gnu::always_inline]] inline float combineOnGrid(const float* const* in, int32_t c, const float* setNodata,
                                                  const int32_t* priority, const double* weight, size_t n, bool average,
                                                  bool max, float nodata) {
  std::array<float, kStraightSets> v;
  for (size_t k = 0; k < n; ++k) v[k] = in[k][c];
  std::array<bool, kStraightSets> present;
  size_t count = 0, only = 0;
  int32_t top = INT32_MIN;
  for (size_t k = 0; k < n; ++k) {
    present[k] = std::fabs(v[k] - setNodata[k]) > 0.0001f;
    if (!present[k]) continue;
    ++count;
    only = k;
    top = std::max(top, priority[k]);
  }
  if (count == 0) return nodata;
  if (count == 1) {
    // One record, of a weight that is never zero here: the value itself.
    const bool near = std::fabs(static_cast<double>(v[only]) - static_cast<double>(nodata)) < 0.0001;
    return average && near ? nodata : v[only];
  }
  if (average) {
    double sum = 0.0, wsum = 0.0;
    for (size_t k = 0; k < n; ++k) {
      if (!present[k] || priority[k] != top) continue;
      sum += static_cast<double>(v[k]) * weight[k];
      wsum += weight[k];
    }
    const double result = sum / wsum;
    if (std::fabs(result - static_cast<double>(nodata)) < 0.0001) return nodata;
    return static_cast<float>(result);
  }
  bool started = false;
  double result = 0.0;
  for (size_t k = 0; k < n; ++k) {
    if (present[k] && priority[k] == top) takeExtreme(max, v[k], started, result);
  }
  return static_cast<float>(result);
}

namespace lanes {
using F4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));
using D2 = double __attribute__((vector_size(16)));
using L2 = int64_t __attribute__((vector_size(16)));
// a where the lane's mask is set, b elsewhere.
inline F4 pick(I4 mask, F4 a, F4 b) {
  return reinterpret_cast<F4>((reinterpret_cast<I4>(a) & mask) | (reinterpret_cast<I4>(b) & ~mask));
}
inline D2 keep(L2 mask, D2 a) {
  return reinterpret_cast<D2>(reinterpret_cast<L2>(a) & mask);
}
using D4 = double __attribute__((vector_size(32)));
// The four values widened to double precision, as two pairs.
inline void widen(F4 v, D2& lo, D2& hi) {
  const D4 w = __builtin_convertvector(v, D4);
  lo = __builtin_shufflevector(w, w, 0, 1);
  hi = __builtin_shufflevector(w, w, 2, 3);
}
inline F4 narrow(D2 lo, D2 hi) {
  return __builtin_convertvector(__builtin_shufflevector(lo, hi, 0, 1, 2, 3), F4);
}
// The 32-bit masks of two pairs of 64-bit masks.
inline I4 narrowMask(L2 lo, L2 hi) {
  return __builtin_shufflevector(reinterpret_cast<I4>(lo), reinterpret_cast<I4>(hi), 0, 2, 4, 6);
}
}  // namespace lanes

// The cells [0, cells) of a row (cells a multiple of four) from N sets of one priority on the
// structure's grid, four at a time: what combineOnGrid gives each, stored in out where the mask
// (when there is one) lets the row's computation write. Each lane takes the same steps on the
// same numbers as combineOnGrid: presence by the single-precision distance to the set's NODATA,
// the sum and weights in double precision in set order from zero, a lone value taken as it is
// (minus zero stays minus zero), MAXIMUM and MINIMUM keeping the first of equal values. found
// is set when a stored value is not NODATA. Returns false, with some cells stored, when a value
// the row would store is not a finite number: the row must then go cell by cell.
template <size_t N, bool average, bool max>
[[nodiscard]] bool combineRowOnGrid(const float* const* in, const float* setNodata, const double* weight, int32_t cells,
                                    float nodata, const uint8_t* mask, float* out, bool& found) {
  using namespace lanes;
  // The sets' rows, NODATA and weights held here, where the stores into the row cannot touch them.
  std::array<const float*, N> from;
  std::array<F4, N> setNodata4;
  std::array<D2, N> weight2;
  for (size_t k = 0; k < N; ++k) {
    from[k] = in[k];
    setNodata4[k] = F4{setNodata[k], setNodata[k], setNodata[k], setNodata[k]};
    weight2[k] = D2{weight[k], weight[k]};
  }
  const I4 absBits = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
  const I4 expBits = {0x7f800000, 0x7f800000, 0x7f800000, 0x7f800000};
  const L2 absBits64 = {INT64_MAX, INT64_MAX};
  // The single-precision distance is compared in double precision, where it and the bound are
  // the same numbers: the mask comes out in the lanes the sums need.
  const D2 tolerance = {static_cast<double>(0.0001f), static_cast<double>(0.0001f)};
  const D2 near = {0.0001, 0.0001};
  const F4 nodata4 = {nodata, nodata, nodata, nodata};
  const D2 nodata2 = {nodata, nodata};
  I4 notFinite = {0, 0, 0, 0}, anyFound = {0, 0, 0, 0};
  for (int32_t c = 0; c < cells; c += 4) {
    I4 count = {0, 0, 0, 0};
    F4 only = nodata4;  // the last value present; with MAXIMUM or MINIMUM the one kept
    D2 sumLo = {0.0, 0.0}, sumHi = sumLo, wLo = sumLo, wHi = sumLo;
    for (size_t k = 0; k < N; ++k) {
      F4 v;
      std::memcpy(&v, from[k] + c, sizeof v);
      const F4 distance = reinterpret_cast<F4>(reinterpret_cast<I4>(v - setNodata4[k]) & absBits);
      if constexpr (average) {
        D2 dLo, dHi, vLo, vHi;
        widen(distance, dLo, dHi);
        widen(v, vLo, vHi);
        const L2 presentLo = dLo > tolerance, presentHi = dHi > tolerance;
        const I4 present = narrowMask(presentLo, presentHi);
        const D2 w = weight2[k];
        sumLo += keep(presentLo, vLo * w);
        sumHi += keep(presentHi, vHi * w);
        wLo += keep(presentLo, w);
        wHi += keep(presentHi, w);
        only = pick(present, v, only);
        count -= present;
      } else {
        const I4 present = distance > 0.0001f;
        I4 beyond;
        if constexpr (max) {
          beyond = v > only;
        } else {
          beyond = v < only;
        }
        only = pick(present & ((count == 0) | beyond), v, only);
        count -= present;
      }
    }
    F4 r = only;
    I4 stored = count != 0;
    if constexpr (average) {
      const D2 lo = sumLo / wLo, hi = sumHi / wHi;
      const L2 nearLo = reinterpret_cast<D2>(reinterpret_cast<L2>(lo - nodata2) & absBits64) < near;
      const L2 nearHi = reinterpret_cast<D2>(reinterpret_cast<L2>(hi - nodata2) & absBits64) < near;
      r = pick(count > 1, narrow(lo, hi), only);
      stored &= ~narrowMask(nearLo, nearHi);
    }
    r = pick(stored, r, nodata4);
    I4 written = {-1, -1, -1, -1};
    if (mask) {
      const I4 m = {mask[c], mask[c + 1], mask[c + 2], mask[c + 3]};
      written = m != 0;
      F4 before;
      std::memcpy(&before, out + c, sizeof before);
      r = pick(written, r, before);
    }
    std::memcpy(out + c, &r, sizeof r);
    notFinite |= ((reinterpret_cast<I4>(r) & expBits) == expBits) & written;
    anyFound |= (r != nodata4) & written;
  }
  if (notFinite[0] | notFinite[1] | notFinite[2] | notFinite[3]) return false;
  found = found || (anyFound[0] | anyFound[1] | anyFound[2] | anyFound[3]);
  return true;
}

}  // namespace assign
