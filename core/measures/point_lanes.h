// Mesh points in the four lanes of an SSE2 register, for the measures that make one value per
// face or per neighbour slot: four values at once, each lane going through exactly the IEEE
// single and double operations, in the order, that the routine's scalar code performs, so that
// both give the same bits. The scalar code stays, for the elements that do not fill four lanes,
// for the element that ends a call with a bad index, and on processors without SSE2.
#ifndef TULM_CORE_MEASURES_POINT_LANES_H
#define TULM_CORE_MEASURES_POINT_LANES_H

#include "core/portability.h"

#if defined(TULM_HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace tulm {

// Whether the measures take their lanes where they have them (true unless a test says no), so
// that tests can compare both ways of computing on the processor they run on.
bool point_lanes_enabled();
void set_point_lanes_enabled(bool enabled);

#if defined(TULM_HAVE_SSE2)
namespace lanes {

// (x, y, z, 0) from the three floats at p, reading nothing after them; p need not be aligned
// to 8 bytes, which _mm_loadl_epi64 allows and _mm_load_sd does not.
inline __m128 load_point(const float* p) {
  const __m128 xy = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  return _mm_movelh_ps(xy, _mm_load_ss(p + 2));
}

// The cross product (uy wz - uz wy, uz wx - ux wz, ux wy - uy wx, 0) of (x, y, z, 0) lanes.
inline __m128 cross(__m128 u, __m128 w) {
  const __m128 uYzx = _mm_shuffle_ps(u, u, _MM_SHUFFLE(3, 0, 2, 1));
  const __m128 uZxy = _mm_shuffle_ps(u, u, _MM_SHUFFLE(3, 1, 0, 2));
  const __m128 wYzx = _mm_shuffle_ps(w, w, _MM_SHUFFLE(3, 0, 2, 1));
  const __m128 wZxy = _mm_shuffle_ps(w, w, _MM_SHUFFLE(3, 1, 0, 2));
  return _mm_sub_ps(_mm_mul_ps(uYzx, wZxy), _mm_mul_ps(uZxy, wYzx));
}

// (a.x + a.y) + a.z of four (x, y, z, _) vectors, lane k from vector k.
inline __m128 sum_xyz(__m128 a0, __m128 a1, __m128 a2, __m128 a3) {
  const __m128 t0 = _mm_unpacklo_ps(a0, a1);  // x0 x1 y0 y1
  const __m128 t1 = _mm_unpacklo_ps(a2, a3);  // x2 x3 y2 y3
  const __m128 t2 = _mm_unpackhi_ps(a0, a1);  // z0 z1 _ _
  const __m128 t3 = _mm_unpackhi_ps(a2, a3);  // z2 z3 _ _
  const __m128 x = _mm_movelh_ps(t0, t1);
  const __m128 y = _mm_movehl_ps(t1, t0);
  const __m128 z = _mm_movelh_ps(t2, t3);
  return _mm_add_ps(_mm_add_ps(x, y), z);
}

// Four floats s to 0.5 * sqrt(double(s)), each rounded back to a float.
inline __m128 half_root_in_double(__m128 s) {
  const __m128d half = _mm_set1_pd(0.5);
  const __m128d low = _mm_mul_pd(half, _mm_sqrt_pd(_mm_cvtps_pd(s)));
  const __m128d high = _mm_mul_pd(half, _mm_sqrt_pd(_mm_cvtps_pd(_mm_movehl_ps(s, s))));
  return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
}

// Whether any of the four int32 lanes lies outside lo..hi.
inline bool any_outside(__m128i values, int lo, int hi) {
  const __m128i below = _mm_cmplt_epi32(values, _mm_set1_epi32(lo));
  const __m128i above = _mm_cmpgt_epi32(values, _mm_set1_epi32(hi));
  return _mm_movemask_epi8(_mm_or_si128(below, above)) != 0;
}

}  // namespace lanes
#endif

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_POINT_LANES_H
