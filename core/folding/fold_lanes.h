// What the fold passes' lanes share: mesh points gathered from their (x, y, z) triples into
// one register per coordinate, four points in SSE2, eight in AVX2. Every lane then goes through
// the scalar code's IEEE single operations in its order, so both give the same bits.
#ifndef TULM_CORE_FOLDING_FOLD_LANES_H
#define TULM_CORE_FOLDING_FOLD_LANES_H

#include "core/portability.h"

#if defined(TULM_HAVE_AVX2_TARGET)
#include <immintrin.h>
#elif defined(TULM_HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace tulm {
namespace lanes {

#if defined(TULM_HAVE_SSE2)

struct Points4 {
  __m128 x, y, z;
};

// Points (x, y, z, _) of lanes 0..3 as one register per coordinate.
inline Points4 transposed4(__m128 p0, __m128 p1, __m128 p2, __m128 p3) {
  const __m128 t0 = _mm_unpacklo_ps(p0, p1);  // x0 x1 y0 y1
  const __m128 t1 = _mm_unpacklo_ps(p2, p3);  // x2 x3 y2 y3
  const __m128 t2 = _mm_unpackhi_ps(p0, p1);  // z0 z1 _ _
  const __m128 t3 = _mm_unpackhi_ps(p2, p3);  // z2 z3 _ _
  return {_mm_movelh_ps(t0, t1), _mm_movehl_ps(t1, t0), _mm_movelh_ps(t2, t3)};
}

#endif

#if defined(TULM_HAVE_AVX2_TARGET)

struct Points8 {
  __m256 x, y, z;
};

// The low and high doubles of each 128-bit half of a and b, interleaved.
TULM_TARGET_AVX2 inline __m256 low_pairs(__m256 a, __m256 b) {
  return _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(a), _mm256_castps_pd(b)));
}
TULM_TARGET_AVX2 inline __m256 high_pairs(__m256 a, __m256 b) {
  return _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(a), _mm256_castps_pd(b)));
}

// Points (x, y, z, _) of lanes 0..7 as one register per coordinate.
TULM_TARGET_AVX2 inline Points8 transposed8(const __m128* p) {
  const __m256 r0 = _mm256_set_m128(p[4], p[0]);
  const __m256 r1 = _mm256_set_m128(p[5], p[1]);
  const __m256 r2 = _mm256_set_m128(p[6], p[2]);
  const __m256 r3 = _mm256_set_m128(p[7], p[3]);
  const __m256 t0 = _mm256_unpacklo_ps(r0, r1);  // x0 x1 y0 y1 | x4 x5 y4 y5
  const __m256 t1 = _mm256_unpacklo_ps(r2, r3);  // x2 x3 y2 y3 | x6 x7 y6 y7
  const __m256 t2 = _mm256_unpackhi_ps(r0, r1);  // z0 z1 _ _ | z4 z5 _ _
  const __m256 t3 = _mm256_unpackhi_ps(r2, r3);  // z2 z3 _ _ | z6 z7 _ _
  return {low_pairs(t0, t1), high_pairs(t0, t1), low_pairs(t2, t3)};
}

#endif

}  // namespace lanes
}  // namespace tulm

#endif  // TULM_CORE_FOLDING_FOLD_LANES_H
