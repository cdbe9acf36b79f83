// rounded_expf (rounded_exp.h) eight and sixteen floats at a time, in the lanes of AVX2 and
// AVX-512: the same bits in every lane. The lanes approximate e^x as the scalar code does (the
// sixteen with their own table and polynomial) and hand the inputs they cannot settle to
// rounded_expf.
#ifndef TULM_CORE_MEASURES_ROUNDED_EXP_LANES_H
#define TULM_CORE_MEASURES_ROUNDED_EXP_LANES_H

#include <cstdint>

#include "core/measures/rounded_exp.h"
#include "core/portability.h"

#if defined(TULM_HAVE_AVX2_TARGET)
#include <immintrin.h>
#endif

namespace tulm {

#if defined(TULM_HAVE_AVX2_TARGET)
namespace detail {

// approximate_exp of four doubles, each lane through the same double operations.
TULM_TARGET_AVX2 inline __m256d approximate_exp_avx2(__m256d x) {
  const __m256d roundToInteger = _mm256_set1_pd(kExpRoundToInteger);
  const __m256d z = _mm256_mul_pd(x, _mm256_set1_pd(kExpTableSizeOverLn2));
  const __m256d shifted = _mm256_add_pd(z, roundToInteger);
  const __m256d k = _mm256_sub_pd(shifted, roundToInteger);
  const __m256d r = _mm256_sub_pd(z, k);
  const __m256d poly = _mm256_add_pd(
      _mm256_set1_pd(1.0),
      _mm256_mul_pd(r, _mm256_add_pd(_mm256_set1_pd(kExpCoefficient1),
                                     _mm256_mul_pd(r, _mm256_set1_pd(kExpCoefficient2)))));
  const __m256i kBits = _mm256_castpd_si256(shifted);
  const __m256i exponent = _mm256_slli_epi64(_mm256_srli_epi64(kBits, kExpTableBits), 52);
  const __m128i lowBits = _mm256_castsi256_si128(kBits);
  const __m128i highBits = _mm256_extracti128_si256(kBits, 1);
  const __m128d lowEntries = _mm_loadh_pd(
      _mm_load_sd(&kTwoToTheJOver1024[_mm_cvtsi128_si32(lowBits) & (kExpTableSize - 1)]),
      &kTwoToTheJOver1024[_mm_extract_epi32(lowBits, 2) & (kExpTableSize - 1)]);
  const __m128d highEntries = _mm_loadh_pd(
      _mm_load_sd(&kTwoToTheJOver1024[_mm_cvtsi128_si32(highBits) & (kExpTableSize - 1)]),
      &kTwoToTheJOver1024[_mm_extract_epi32(highBits, 2) & (kExpTableSize - 1)]);
  const __m256d entry = _mm256_set_m128d(highEntries, lowEntries);
  return _mm256_mul_pd(_mm256_castsi256_pd(_mm256_add_epi64(_mm256_castpd_si256(entry), exponent)),
                       poly);
}

// rounds_as_exp of four doubles, as bits 0..3. The difference of the dropped bits (below 2^29)
// with the midpoint's exceeds the margin, unsigned, when it is negative or above it, signed.
TULM_TARGET_AVX2 inline int rounds_as_exp_avx2(__m256d y) {
  const __m256i dropped = _mm256_and_si256(
      _mm256_castpd_si256(y), _mm256_set1_epi64x(static_cast<int64_t>(kExpDroppedBits)));
  const __m256i offset = _mm256_sub_epi64(
      dropped,
      _mm256_set1_epi64x(static_cast<int64_t>(kExpDroppedBitsAtMidpoint - kExpMidpointMargin)));
  const __m256i far =
      _mm256_or_si256(_mm256_cmpgt_epi64(offset, _mm256_set1_epi64x(2 * kExpMidpointMargin)),
                      _mm256_cmpgt_epi64(_mm256_setzero_si256(), offset));
  return _mm256_movemask_pd(_mm256_castsi256_pd(far));
}

}  // namespace detail

// rounded_expf of each of eight floats: the lanes that try_rounded_expf takes without calling
// go through its operations four at a time, the others through rounded_expf. For a processor
// with AVX2.
TULM_TARGET_AVX2 inline __m256 rounded_expf_avx2(__m256 x) {
  const __m256 normal =
      _mm256_and_ps(_mm256_cmp_ps(x, _mm256_set1_ps(detail::kExpSmallestNormalInput), _CMP_GT_OQ),
                    _mm256_cmp_ps(x, _mm256_set1_ps(detail::kExpAboveOverflow), _CMP_LT_OQ));
  const __m256 zero = _mm256_cmp_ps(x, _mm256_set1_ps(detail::kExpBelowUnderflow), _CMP_LE_OQ);
  // Lanes outside the normal range go through with 0, and are replaced below.
  const __m256 inputs = _mm256_and_ps(x, normal);
  const __m256d low = detail::approximate_exp_avx2(_mm256_cvtps_pd(_mm256_castps256_ps128(inputs)));
  const __m256d high =
      detail::approximate_exp_avx2(_mm256_cvtps_pd(_mm256_extractf128_ps(inputs, 1)));
  const int rounded = detail::rounds_as_exp_avx2(low) | (detail::rounds_as_exp_avx2(high) << 4);
  const __m256 results =
      _mm256_and_ps(_mm256_set_m128(_mm256_cvtpd_ps(high), _mm256_cvtpd_ps(low)), normal);
  const int done = (_mm256_movemask_ps(normal) & rounded) | _mm256_movemask_ps(zero);
  if (done == 255) return results;
  float in[8], out[8];
  _mm256_storeu_ps(in, x);
  _mm256_storeu_ps(out, results);
  for (int lane = 0; lane < 8; ++lane) {
    if (!(done & (1 << lane))) out[lane] = rounded_expf(in[lane]);
  }
  return _mm256_loadu_ps(out);
}
#endif

#if defined(TULM_HAVE_AVX512_TARGET)
namespace detail {

// The sixteen lanes' e^x = 2^(k/16) 2^(r/16) with z = x * 16/ln2 (rounded), k the integer
// nearest z and r = z - k, |r| <= 1/2: a table of sixteen entries, two registers that one
// permutation reads, and a longer polynomial. 2^(r/16) = e^t, t = r L with L = ln2/16, by the
// Taylor polynomial of degree 5, its coefficients L^n/n! the nearest doubles.
constexpr int kExpLaneTableBits = 4;
constexpr double kExpLaneTableSizeOverLn2 = 0x1.71547652b82fep+4;
constexpr double kExpLaneCoefficients[5] = {0x1.62e42fefa39efp-5, 0x1.ebfbdff82c58fp-11,
                                            0x1.c6b08d704a0c0p-17, 0x1.3b2ab6fba4e77p-23,
                                            0x1.5d87fe78a6731p-30};
// The error of approximate_exp_avx512 for -104 < x < 89, relative to e^x:
//   polynomial  the series' tail a^6/720 e^a, a = ln2/32, over e^t >= e^-a: < 2^-42.60;
//   reduction   as approximate_exp's: < 2^-45.29;
//   evaluation  Horner's scheme: the part after the 1 is below 2^-5.5 and its roundings and
//               the coefficients' own cost less than 2^-56; adding the 1 rounds once: < 2^-52.9;
//   table entry (2^(j/16), the entry 64 j of kTwoToTheJOver1024) and final product: < 2^-53
//               each.
// Together below 2^-42.39: within 1560 units of the last place of e^x, which
// kExpLaneMidpointMargin covers 2.6 times; the exact path then takes about 1 input in 2^16.
// verify_expf checks these lanes against rounded_expf on every float.
constexpr uint64_t kExpLaneMidpointMargin = 4096;

// approximate_exp_avx512 of eight doubles.
TULM_TARGET_AVX512 inline __m512d approximate_exp_avx512(__m512d x) {
  const __m512d roundToInteger = _mm512_set1_pd(kExpRoundToInteger);
  const __m512d z = _mm512_mul_pd(x, _mm512_set1_pd(kExpLaneTableSizeOverLn2));
  const __m512d shifted = _mm512_add_pd(z, roundToInteger);
  const __m512d k = _mm512_sub_pd(shifted, roundToInteger);
  const __m512d r = _mm512_sub_pd(z, k);  // exact: k is z's nearest integer
  __m512d poly = _mm512_set1_pd(kExpLaneCoefficients[4]);
  for (int n = 3; n >= 0; --n) {
    poly = _mm512_add_pd(_mm512_set1_pd(kExpLaneCoefficients[n]), _mm512_mul_pd(r, poly));
  }
  poly = _mm512_add_pd(_mm512_set1_pd(1.0), _mm512_mul_pd(r, poly));
  constexpr int kStride = kExpTableSize >> kExpLaneTableBits;
  const __m512d low =
      _mm512_setr_pd(kTwoToTheJOver1024[0], kTwoToTheJOver1024[kStride],
                     kTwoToTheJOver1024[2 * kStride], kTwoToTheJOver1024[3 * kStride],
                     kTwoToTheJOver1024[4 * kStride], kTwoToTheJOver1024[5 * kStride],
                     kTwoToTheJOver1024[6 * kStride], kTwoToTheJOver1024[7 * kStride]);
  const __m512d high =
      _mm512_setr_pd(kTwoToTheJOver1024[8 * kStride], kTwoToTheJOver1024[9 * kStride],
                     kTwoToTheJOver1024[10 * kStride], kTwoToTheJOver1024[11 * kStride],
                     kTwoToTheJOver1024[12 * kStride], kTwoToTheJOver1024[13 * kStride],
                     kTwoToTheJOver1024[14 * kStride], kTwoToTheJOver1024[15 * kStride]);
  const __m512i kBits = _mm512_castpd_si512(shifted);
  // The permutation reads the low four bits of each index: the table entry.
  const __m512d entry = _mm512_permutex2var_pd(low, kBits, high);
  const __m512i exponent = _mm512_slli_epi64(_mm512_srli_epi64(kBits, kExpLaneTableBits), 52);
  return _mm512_mul_pd(_mm512_castsi512_pd(_mm512_add_epi64(_mm512_castpd_si512(entry), exponent)),
                       poly);
}

// rounds_as_exp of eight doubles within kExpLaneMidpointMargin units of e^x, as a mask.
TULM_TARGET_AVX512 inline __mmask8 rounds_as_exp_avx512(__m512d y) {
  const __m512i dropped = _mm512_and_si512(
      _mm512_castpd_si512(y), _mm512_set1_epi64(static_cast<int64_t>(kExpDroppedBits)));
  const __m512i offset = _mm512_sub_epi64(
      dropped,
      _mm512_set1_epi64(static_cast<int64_t>(kExpDroppedBitsAtMidpoint - kExpLaneMidpointMargin)));
  return _mm512_cmpgt_epu64_mask(
      offset, _mm512_set1_epi64(static_cast<int64_t>(2 * kExpLaneMidpointMargin)));
}

}  // namespace detail

// rounded_expf of each of sixteen floats: the lanes in (-87, 89) whose approximation rounds
// as e^x does (all but about 1 in 2^16) and those at most -104 in the lanes, the others
// through rounded_expf. For a processor with AVX-512.
TULM_TARGET_AVX512 inline __m512 rounded_expf_avx512(__m512 x) {
  const __mmask16 normal = _mm512_mask_cmp_ps_mask(
      _mm512_cmp_ps_mask(x, _mm512_set1_ps(detail::kExpSmallestNormalInput), _CMP_GT_OQ), x,
      _mm512_set1_ps(detail::kExpAboveOverflow), _CMP_LT_OQ);
  const __mmask16 zero =
      _mm512_cmp_ps_mask(x, _mm512_set1_ps(detail::kExpBelowUnderflow), _CMP_LE_OQ);
  // Lanes outside the normal range go through with 0, and are replaced below.
  const __m512 inputs = _mm512_maskz_mov_ps(normal, x);
  const __m512d low =
      detail::approximate_exp_avx512(_mm512_cvtps_pd(_mm512_castps512_ps256(inputs)));
  const __m512d high = detail::approximate_exp_avx512(
      _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(inputs), 1))));
  const __mmask16 rounded = static_cast<__mmask16>(detail::rounds_as_exp_avx512(low) |
                                                   (detail::rounds_as_exp_avx512(high) << 8));
  const __m512 results = _mm512_maskz_mov_ps(
      normal, _mm512_castpd_ps(
                  _mm512_insertf64x4(_mm512_castps_pd(_mm512_castps256_ps512(_mm512_cvtpd_ps(low))),
                                     _mm256_castps_pd(_mm512_cvtpd_ps(high)), 1)));
  const __mmask16 done = static_cast<__mmask16>((normal & rounded) | zero);
  if (done == 0xffff) return results;
  float in[16], out[16];
  _mm512_storeu_ps(in, x);
  _mm512_storeu_ps(out, results);
  for (int lane = 0; lane < 16; ++lane) {
    if (!(done & (1 << lane))) out[lane] = rounded_expf(in[lane]);
  }
  return _mm512_loadu_ps(out);
}
#endif

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_ROUNDED_EXP_LANES_H
