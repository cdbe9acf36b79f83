#include "core/measures/rounded_exp.h"

#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tulm {
namespace {

using detail::approximate_exp;
using detail::exp_bits_of;
using detail::exp_from_bits;
using detail::kExpDroppedBits;
using detail::kExpDroppedBitsAtMidpoint;
using detail::kExpRoundToInteger;

// The exact path: e^x = 2^(k/64) e^r with k the integer nearest x * 64/ln2 and |r| <= ln2/128
// (a hair more where the rounding of x * 64/ln2 ties). 2^(k/64) = 2^m 2^(j/64), j = k mod 64.
constexpr int kTableBits = 6;
constexpr int kTableSize = 1 << kTableBits;
constexpr double kSixtyFourOverLn2 = 0x1.71547652b82fep+6;
// ln2/64 in three pieces. The first has few enough bits that k times it is exact for every
// k reached here (|k| < 2^14), and so is x minus that product.
constexpr double kLn2Over64Hi = 0x1.62e42fefa0000p-7;
constexpr double kLn2Over64Mid = 0x1.cf79abc9e3b3ap-46;
constexpr double kLn2Over64Lo = -0x1.ff0342542fc33p-100;

struct DoubleDouble {
  double hi;
  double lo;
};

// 2^(j/64) as the nearest double (hi) plus the nearest double to what remains (lo).
constexpr DoubleDouble kTwoToTheJOver64[kTableSize] = {
    {0x1.0000000000000p+0, 0x0.0p+0},
    {0x1.02c9a3e778061p+0, -0x1.19083535b085dp-56},
    {0x1.059b0d3158574p+0, 0x1.d73e2a475b465p-55},
    {0x1.0874518759bc8p+0, 0x1.186be4bb284ffp-57},
    {0x1.0b5586cf9890fp+0, 0x1.8a62e4adc610bp-54},
    {0x1.0e3ec32d3d1a2p+0, 0x1.03a1727c57b53p-59},
    {0x1.11301d0125b51p+0, -0x1.6c51039449b3ap-54},
    {0x1.1429aaea92de0p+0, -0x1.32fbf9af1369ep-54},
    {0x1.172b83c7d517bp+0, -0x1.19041b9d78a76p-55},
    {0x1.1a35beb6fcb75p+0, 0x1.e5b4c7b4968e4p-55},
    {0x1.1d4873168b9aap+0, 0x1.e016e00a2643cp-54},
    {0x1.2063b88628cd6p+0, 0x1.dc775814a8495p-55},
    {0x1.2387a6e756238p+0, 0x1.9b07eb6c70573p-54},
    {0x1.26b4565e27cddp+0, 0x1.2bd339940e9d9p-55},
    {0x1.29e9df51fdee1p+0, 0x1.612e8afad1255p-55},
    {0x1.2d285a6e4030bp+0, 0x1.0024754db41d5p-54},
    {0x1.306fe0a31b715p+0, 0x1.6f46ad23182e4p-55},
    {0x1.33c08b26416ffp+0, 0x1.32721843659a6p-54},
    {0x1.371a7373aa9cbp+0, -0x1.63aeabf42eae2p-54},
    {0x1.3a7db34e59ff7p+0, -0x1.5e436d661f5e3p-56},
    {0x1.3dea64c123422p+0, 0x1.ada0911f09ebcp-55},
    {0x1.4160a21f72e2ap+0, -0x1.ef3691c309278p-58},
    {0x1.44e086061892dp+0, 0x1.89b7a04ef80d0p-59},
    {0x1.486a2b5c13cd0p+0, 0x1.3c1a3b69062f0p-56},
    {0x1.4bfdad5362a27p+0, 0x1.d4397afec42e2p-56},
    {0x1.4f9b2769d2ca7p+0, -0x1.4b309d25957e3p-54},
    {0x1.5342b569d4f82p+0, -0x1.07abe1db13cadp-55},
    {0x1.56f4736b527dap+0, 0x1.9bb2c011d93adp-54},
    {0x1.5ab07dd485429p+0, 0x1.6324c054647adp-54},
    {0x1.5e76f15ad2148p+0, 0x1.ba6f93080e65ep-54},
    {0x1.6247eb03a5585p+0, -0x1.383c17e40b497p-54},
    {0x1.6623882552225p+0, -0x1.bb60987591c34p-54},
    {0x1.6a09e667f3bcdp+0, -0x1.bdd3413b26456p-54},
    {0x1.6dfb23c651a2fp+0, -0x1.bbe3a683c88abp-57},
    {0x1.71f75e8ec5f74p+0, -0x1.16e4786887a99p-55},
    {0x1.75feb564267c9p+0, -0x1.0245957316dd3p-54},
    {0x1.7a11473eb0187p+0, -0x1.41577ee04992fp-55},
    {0x1.7e2f336cf4e62p+0, 0x1.05d02ba15797ep-56},
    {0x1.82589994cce13p+0, -0x1.d4c1dd41532d8p-54},
    {0x1.868d99b4492edp+0, -0x1.fc6f89bd4f6bap-54},
    {0x1.8ace5422aa0dbp+0, 0x1.6e9f156864b27p-54},
    {0x1.8f1ae99157736p+0, 0x1.5cc13a2e3976cp-55},
    {0x1.93737b0cdc5e5p+0, -0x1.75fc781b57ebcp-57},
    {0x1.97d829fde4e50p+0, -0x1.d185b7c1b85d1p-54},
    {0x1.9c49182a3f090p+0, 0x1.c7c46b071f2bep-56},
    {0x1.a0c667b5de565p+0, -0x1.359495d1cd533p-54},
    {0x1.a5503b23e255dp+0, -0x1.d2f6edb8d41e1p-54},
    {0x1.a9e6b5579fdbfp+0, 0x1.0fac90ef7fd31p-54},
    {0x1.ae89f995ad3adp+0, 0x1.7a1cd345dcc81p-54},
    {0x1.b33a2b84f15fbp+0, -0x1.2805e3084d708p-57},
    {0x1.b7f76f2fb5e47p+0, -0x1.5584f7e54ac3bp-56},
    {0x1.bcc1e904bc1d2p+0, 0x1.23dd07a2d9e84p-55},
    {0x1.c199bdd85529cp+0, 0x1.11065895048ddp-55},
    {0x1.c67f12e57d14bp+0, 0x1.2884dff483cadp-54},
    {0x1.cb720dcef9069p+0, 0x1.503cbd1e949dbp-56},
    {0x1.d072d4a07897cp+0, -0x1.cbc3743797a9cp-54},
    {0x1.d5818dcfba487p+0, 0x1.2ed02d75b3707p-55},
    {0x1.da9e603db3285p+0, 0x1.c2300696db532p-54},
    {0x1.dfc97337b9b5fp+0, -0x1.1a5cd4f184b5cp-54},
    {0x1.e502ee78b3ff6p+0, 0x1.39e8980a9cc8fp-55},
    {0x1.ea4afa2a490dap+0, -0x1.e9c23179c2893p-54},
    {0x1.efa1bee615a27p+0, 0x1.dc7f486a4b6b0p-54},
    {0x1.f50765b6e4540p+0, 0x1.9d3e12dd8a18bp-54},
    {0x1.fa7c1819e90d8p+0, 0x1.74853f3a5931ep-55},
};

// 1/n! for n = 0..11 as double-double: the Taylor series of e^r on the exact path, where
// |r|^12/12! < 2^-110.
constexpr int kSeriesDegree = 11;
constexpr DoubleDouble kInverseFactorial[kSeriesDegree + 1] = {
    {0x1p+0, 0.0},
    {0x1p+0, 0.0},
    {0x1p-1, 0.0},
    {0x1.5555555555555p-3, 0x1.5555555555555p-57},
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},
    {0x1.6c16c16c16c17p-10, -0x1.f49f49f49f49fp-65},
    {0x1.a01a01a01a01ap-13, 0x1.a01a01a01a01ap-73},
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},
    {0x1.27e4fb7789f5cp-22, 0x1.cbbc05b4fa99ap-76},
    {0x1.ae64567f544e4p-26, -0x1.c062e06d1f209p-80},
};

// Distance from one half below which a subnormal result goes to the exact path: 2^-13 of the
// spacing of subnormal floats, more than 8 times the error of approximate_exp there.
constexpr double kSubnormalMargin = 0x1p-13;
constexpr double kSmallestNormalFloat = 0x1p-126;
constexpr double kSubnormalSpacing = 0x1p-149;

// 2^m for a normal double exponent m.
double two_to_the(int m) { return exp_from_bits(static_cast<uint64_t>(m + 1023) << 52); }

// Error-free transformations, written so that no multiply-add can be fused (the build forbids
// contraction, and nothing here relies on a fused one).
DoubleDouble two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// Requires |a| >= |b| or a == 0.
DoubleDouble fast_two_sum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// Veltkamp's split of a into two halves of at most 26 bits each.
DoubleDouble split(double a) {
  const double t = 134217729.0 * a;  // 2^27 + 1
  const double hi = t - (t - a);
  return {hi, a - hi};
}

// Dekker's exact product.
DoubleDouble two_prod(double a, double b) {
  const double p = a * b;
  const DoubleDouble as = split(a);
  const DoubleDouble bs = split(b);
  const double e = (((as.hi * bs.hi - p) + as.hi * bs.lo) + as.lo * bs.hi) + as.lo * bs.lo;
  return {p, e};
}

DoubleDouble dd_add(DoubleDouble a, DoubleDouble b) {
  const DoubleDouble s = two_sum(a.hi, b.hi);
  return fast_two_sum(s.hi, s.lo + (a.lo + b.lo));
}

DoubleDouble dd_mul(DoubleDouble a, DoubleDouble b) {
  const DoubleDouble p = two_prod(a.hi, b.hi);
  return fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

// Whether e^x exceeds mid, a double close to it (within a relative 2^-12, the widest margin
// of the callers, where the result is subnormal). Works in double-double to about 2^-100, far below
// the distance at which e^x of any float x passes a midpoint between floats.
bool exceeds(double x, double mid) {
  const double shifted = x * kSixtyFourOverLn2 + kExpRoundToInteger;
  const double k = shifted - kExpRoundToInteger;
  const int j = static_cast<int>(exp_bits_of(shifted) & (kTableSize - 1));
  const int m = (static_cast<int>(k) - j) / kTableSize;
  const DoubleDouble kMid = two_prod(k, kLn2Over64Mid);
  DoubleDouble r = two_sum(x - k * kLn2Over64Hi, -kMid.hi);
  r = fast_two_sum(r.hi, r.lo - (kMid.lo + k * kLn2Over64Lo));
  DoubleDouble series = kInverseFactorial[kSeriesDegree];
  for (int n = kSeriesDegree - 1; n >= 0; --n) {
    series = dd_add(dd_mul(series, r), kInverseFactorial[n]);
  }
  const DoubleDouble scaled = dd_mul(kTwoToTheJOver64[j], series);
  const double target = mid * two_to_the(-m);  // exact: a power of two
  // Within a factor 2 of each other, so this difference is exact (Sterbenz).
  const double difference = scaled.hi - target;
  return difference + scaled.lo > 0.0;
}

// The float nearest e^x when y = approximate_exp(x), a normal double, is too close to the
// midpoint between two floats for rounds_as_exp to tell.
float exp_near_midpoint(float x, double y) {
  const uint64_t below = exp_bits_of(y) & ~kExpDroppedBits;
  const double mid = exp_from_bits(below | kExpDroppedBitsAtMidpoint);
  // The next float above may be 2^128, which rounds to +Inf as it should.
  const uint64_t chosen = exceeds(x, mid) ? below + kExpDroppedBits + 1 : below;
  return static_cast<float>(exp_from_bits(chosen));
}

}  // namespace

namespace detail {

float exp_rare_cases(float x) {
  assert(!(x <= kExpBelowUnderflow) && "try_rounded_expf answers those");
  if (x != x) return x + x;  // a quiet NaN
  if (x >= kExpAboveOverflow) return std::numeric_limits<float>::infinity();
  const double y = approximate_exp(x);
  if (y >= kSmallestNormalFloat) {
    return rounds_as_exp(y) ? static_cast<float>(y) : exp_near_midpoint(x, y);
  }
  // Subnormal: the multiples of 2^-149, whose midpoints the dropped bits no longer show.
  const double units = y / kSubnormalSpacing;  // exact: a power of two
  const double whole = static_cast<double>(static_cast<int64_t>(units));
  const double fraction = units - whole;
  if (fraction < 0.5 - kSubnormalMargin || fraction > 0.5 + kSubnormalMargin) {
    return static_cast<float>(y);
  }
  const double mid = (whole + 0.5) * kSubnormalSpacing;
  const double chosen = exceeds(x, mid) ? whole + 1.0 : whole;
  return static_cast<float>(chosen * kSubnormalSpacing);
}

}  // namespace detail
}  // namespace tulm
