// The exponential of the smoothing weights, rounded correctly to single precision.
//
// The common case is inline, so that a caller's loop overlaps the exponentials of its
// iterations; the rare inputs (outside the normal range, or e^x close to a midpoint between
// two floats) go to out-of-line code. rounded_exp_lanes.h gives the same bits eight and
// sixteen at a time.
#ifndef TULM_CORE_MEASURES_ROUNDED_EXP_H
#define TULM_CORE_MEASURES_ROUNDED_EXP_H

#include <cstdint>
#include <cstring>

#include "core/measures/rounded_exp_table.h"

namespace tulm {
namespace detail {

// e^x = 2^(k/1024) 2^(r/1024) with z = x * 1024/ln2 (rounded), k the integer nearest z and
// r = z - k, |r| <= 1/2; 2^(k/1024) = 2^m 2^(j/1024), j = k mod 1024, from the table
// kTwoToTheJOver1024.
constexpr int kExpTableBits = 10;
constexpr int kExpTableSize = 1 << kExpTableBits;
constexpr double kExpTableSizeOverLn2 = 0x1.71547652b82fep+10;
// Adding and subtracting 1.5 * 2^52 rounds a double below 2^51 to an integer, and leaves that
// integer in the low bits of the sum.
constexpr double kExpRoundToInteger = 0x1.8p52;
// 2^(r/1024) = e^t, t = r L with L = ln2/1024 and |t| <= a = L/2, by 1 + c1 r + c2 r^2 with
// c1 = L (1 + a^2/8) and c2 = L^2/2, each the nearest double: the Taylor polynomial of degree
// 3 with its cubic term t^3/6 replaced by (a^2/8) t, its best linear approximation on [-a, a]
// (Chebyshev's: |t^3 - (3a^2/4) t| <= a^3/4 there). A big table for a short polynomial: a
// loop overlaps the exponentials of its iterations, so the count of operations sets the pace.
constexpr double kExpCoefficient1 = 0x1.62e43044e4b98p-11;
constexpr double kExpCoefficient2 = 0x1.ebfbdff82c58fp-23;

// The error of approximate_exp(x) for -104 < x < 89, relative to e^x:
//   polynomial  a^3/24 plus the series' tail below a^4/24 e^a, a = ln2/2048 < 2^-11.52,
//               over e^t > 0.9996: < 2^-39.17;
//   reduction   z is x * 1024/ln2 within a relative 2^-52 (two roundings), which scales the
//               result by e^(x d) with |x d| < 104 * 2^-52: < 2^-45.29;
//   evaluation  Horner's scheme: the part after the 1 is below 2^-11.52, and its three
//               roundings and the coefficients' own cost less than 2^-62; adding the 1 rounds
//               once (< 2^-53, the sum < 2); the polynomial exceeds 0.9996: < 2^-52.99;
//   table entry and final product, nearest doubles: < 2^-53 each.
// Together below 2^-39.14: y = approximate_exp(x) lies within 14770 units of its last place
// of e^x (y < 2^(e+1) when its last place is 2^(e-52)). Below 2^-126 (2^23 units of 2^-149,
// the spacing of subnormal floats), y lies within 2^-16.14 of those units of e^x.

inline uint64_t exp_bits_of(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline double exp_from_bits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// e^x within a relative 2^-39.14, a normal double for -104 < x < 89. 2^(k/1024) comes from
// adding floor(k/1024) to the exponent of 2^(j/1024): the shifted k's bits above the table
// index, moved to the exponent field (the shift constant's own bits leave the word).
inline double approximate_exp(double x) {
  const double z = x * kExpTableSizeOverLn2;
  const double shifted = z + kExpRoundToInteger;
  const double k = shifted - kExpRoundToInteger;
  const double r = z - k;  // exact: k is z's nearest integer
  const double poly = 1.0 + r * (kExpCoefficient1 + r * kExpCoefficient2);
  const uint64_t kBits = exp_bits_of(shifted);
  const uint64_t exponent = (kBits >> kExpTableBits) << 52;
  const double entry = kTwoToTheJOver1024[kBits & (kExpTableSize - 1)];
  return exp_from_bits(exp_bits_of(entry) + exponent) * poly;
}

// The 29 low bits of a double's significand, dropped when it is rounded to a float, and
// their value at the midpoint between two floats.
constexpr uint64_t kExpDroppedBits = (uint64_t{1} << 29) - 1;
constexpr uint64_t kExpDroppedBitsAtMidpoint = uint64_t{1} << 28;
// How close, in units of the last place of a normal approximate_exp, that value may come to
// the midpoint between two floats before the exact path decides: its error is at most 14770
// units; this leaves a margin of 2.2 times. The exact path then takes about 1 input in 2^13.
constexpr uint64_t kExpMidpointMargin = 32768;

// Whether y, within 14770 units of its last place of e^x, rounds to the same float as e^x.
inline bool rounds_as_exp(double y) {
  const uint64_t dropped = exp_bits_of(y) & kExpDroppedBits;
  return dropped - (kExpDroppedBitsAtMidpoint - kExpMidpointMargin) > 2 * kExpMidpointMargin;
}

// Outside these bounds the result is +Inf or +0 whatever the rounding: e^89 > 2^128 and
// e^-104 < 2^-150.
constexpr float kExpAboveOverflow = 89.0f;
constexpr float kExpBelowUnderflow = -104.0f;
// Above this, e^x > 2^-126: the result is a normal float.
constexpr float kExpSmallestNormalInput = -87.0f;

// Everything try_rounded_expf leaves: NaN, +Inf, overflow, the inputs in (-104, -87] whose
// results may be subnormal floats, and e^x too close to a midpoint between two floats for
// rounds_as_exp to tell.
float exp_rare_cases(float x);

}  // namespace detail

// Stores rounded_expf(x) in *result and returns true, without calling out of line, for every
// x in (-87, 89) but about 1 in 2^13, and for x <= -104 (+0, where the far neighbours of a
// wide neighbourhood would otherwise all decline); the others return false and leave *result
// alone. For loops that must not call: a call, even a rare one, makes the compiler keep the
// loop's floating-point sums in memory where the ABI saves no vector register across calls
// (System V x86-64).
inline bool try_rounded_expf(float x, float* result) {
  if (!(x > detail::kExpSmallestNormalInput && x < detail::kExpAboveOverflow)) {
    if (!(x <= detail::kExpBelowUnderflow)) return false;
    *result = 0.0f;
    return true;
  }
  const double y = detail::approximate_exp(x);
  if (!detail::rounds_as_exp(y)) return false;
  *result = static_cast<float>(y);
  return true;
}

// e^x rounded to the nearest float (ties cannot occur), including subnormal results; +Inf
// above about 88.72, +0 below about -103.97, 1 at -0 and +0, NaN for NaN. The same bits on
// every machine that evaluates double arithmetic in IEEE double (x86-64, ARM64, 32-bit x86
// with SSE2), whatever the C library: nothing here calls it.
inline float rounded_expf(float x) {
  float result;
  if (try_rounded_expf(x, &result)) return result;
  return detail::exp_rare_cases(x);
}

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_ROUNDED_EXP_H
