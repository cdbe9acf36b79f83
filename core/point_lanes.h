// Mesh points in SSE2's four lanes, AVX2's eight or AVX-512's sixteen, for the measures and the
// fold passes that make one value per face or per neighbour slot: each lane goes through exactly
// the IEEE single and double operations, in the order, that the routine's scalar code performs,
// so that both give the same bits. The scalar code stays, for the elements that do not fill the
// lanes, for the element that ends a call with a bad index, and on processors without SSE2.
// Which lanes a call takes is chosen in one place: lane_choice.h.
#ifndef TULM_CORE_POINT_LANES_H
#define TULM_CORE_POINT_LANES_H

#include <cstdint>

#include "core/portability.h"

#if defined(TULM_HAVE_SSE2)
#include <emmintrin.h>
#endif
#if defined(TULM_HAVE_AVX2_TARGET)
#include <immintrin.h>
#endif

namespace tulm {

#if defined(TULM_HAVE_SSE2)
namespace lanes {

// (x, y, z, 0) from the three floats at p, reading nothing after them; p need not be aligned
// to 8 bytes, which _mm_loadl_epi64 allows and _mm_load_sd does not.
inline __m128 load_point(const float* p) {
  const __m128 xy = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  return _mm_movelh_ps(xy, _mm_load_ss(p + 2));
}

// (x, y, z, w) from the four floats at p: a point and the float after it, one load where
// load_point takes three. Only for a point that is not the last of its array.
inline __m128 load_point_and_next(const float* p) { return _mm_loadu_ps(p); }

// Four points as one register per coordinate.
struct Points4 {
  __m128 x, y, z;
};

// The x, y and z of four (x, y, z, _) points, lane k from point k.
inline Points4 transposed4(__m128 p0, __m128 p1, __m128 p2, __m128 p3) {
  const __m128 t0 = _mm_unpacklo_ps(p0, p1);  // x0 x1 y0 y1
  const __m128 t1 = _mm_unpacklo_ps(p2, p3);  // x2 x3 y2 y3
  const __m128 t2 = _mm_unpackhi_ps(p0, p1);  // z0 z1 _ _
  const __m128 t3 = _mm_unpackhi_ps(p2, p3);  // z2 z3 _ _
  return {_mm_movelh_ps(t0, t1), _mm_movehl_ps(t1, t0), _mm_movelh_ps(t2, t3)};
}

// (a.x + a.y) + a.z of four (x, y, z, _) vectors, lane k from vector k.
inline __m128 sum_xyz(__m128 a0, __m128 a1, __m128 a2, __m128 a3) {
  const Points4 a = transposed4(a0, a1, a2, a3);
  return _mm_add_ps(_mm_add_ps(a.x, a.y), a.z);
}

// Four floats s to float(0.5 * sqrt(double(s))), the scalar code's area, through the single
// root: the double root of a float rounded to a float is the correctly rounded float root
// (53 >= 2 * 24 + 2 bits, so the double rounding is innocuous), halving is exact in both
// (a root of a nonzero float is at least 2^-75, far above the subnormals), and a NaN, an
// infinity, a zero of either sign or a negative s give the same bits both ways. Checked
// over all 2^32 floats once; point_lanes_test keeps a sampled check.
inline __m128 half_root(__m128 s) { return _mm_mul_ps(_mm_set1_ps(0.5f), _mm_sqrt_ps(s)); }

// All ones in the int32 lanes that lie outside lo..hi, for lo <= hi: value - lo above hi - lo
// unsigned, one signed comparison once both sides are moved down by 2^31.
inline __m128i outside(__m128i values, int32_t lo, int32_t hi) {
  const uint32_t down = 0x80000000u;
  const __m128i moved = _mm_add_epi32(values, _mm_set1_epi32(static_cast<int32_t>(down - lo)));
  return _mm_cmpgt_epi32(moved, _mm_set1_epi32(static_cast<int32_t>(hi - lo + down)));
}

// Whether any of the four int32 lanes lies outside lo..hi, for lo <= hi.
inline bool any_outside(__m128i values, int32_t lo, int32_t hi) {
  return _mm_movemask_epi8(outside(values, lo, hi)) != 0;
}

// Whether the twelve 1-based corners of four faces from `corners` on all lie in 1..V-1: inside
// the vertices and not the last, whose 16-byte read would pass the end of the array. False
// for V < 2, where that range is empty.
inline bool four_faces_fit(const int32_t* corners, int32_t numVerts) {
  if (numVerts < 2) return false;
  const __m128i* c = reinterpret_cast<const __m128i*>(corners);
  const __m128i out = _mm_or_si128(_mm_or_si128(outside(_mm_loadu_si128(c), 1, numVerts - 1),
                                                outside(_mm_loadu_si128(c + 1), 1, numVerts - 1)),
                                   outside(_mm_loadu_si128(c + 2), 1, numVerts - 1));
  return _mm_movemask_epi8(out) == 0;
}

#if defined(TULM_HAVE_AVX2_TARGET)
// load_point_and_next of two points: the one at low in the low half, the one at high in the
// high half. For callers that have checked TULM_PROCESSOR_HAS_AVX2().
TULM_TARGET_AVX2 inline __m256 two_points(const float* low, const float* high) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(low)), _mm_loadu_ps(high), 1);
}

// outside of eight int32 lanes.
TULM_TARGET_AVX2 inline __m256i outside(__m256i values, int32_t lo, int32_t hi) {
  const uint32_t down = 0x80000000u;
  const __m256i moved =
      _mm256_add_epi32(values, _mm256_set1_epi32(static_cast<int32_t>(down - lo)));
  return _mm256_cmpgt_epi32(moved, _mm256_set1_epi32(static_cast<int32_t>(hi - lo + down)));
}

// four_faces_fit for the twenty-four corners of eight faces.
TULM_TARGET_AVX2 inline bool eight_faces_fit(const int32_t* corners, int32_t numVerts) {
  if (numVerts < 2) return false;
  const __m256i* c = reinterpret_cast<const __m256i*>(corners);
  const __m256i out =
      _mm256_or_si256(_mm256_or_si256(outside(_mm256_loadu_si256(c), 1, numVerts - 1),
                                      outside(_mm256_loadu_si256(c + 1), 1, numVerts - 1)),
                      outside(_mm256_loadu_si256(c + 2), 1, numVerts - 1));
  return _mm256_testz_si256(out, out) != 0;
}

// Eight points as one register per coordinate.
struct Points8 {
  __m256 x, y, z;
};

// The x, y and z of eight (x, y, z, _) points, two to a register: points k and k + 4 in the
// low and the high half of register k, which become lanes k and k + 4.
TULM_TARGET_AVX2 inline Points8 transposed8(__m256 p0, __m256 p1, __m256 p2, __m256 p3) {
  const __m256 t0 = _mm256_unpacklo_ps(p0, p1);  // x0 x1 y0 y1 per half
  const __m256 t1 = _mm256_unpacklo_ps(p2, p3);  // x2 x3 y2 y3
  const __m256 t2 = _mm256_unpackhi_ps(p0, p1);  // z0 z1 _ _
  const __m256 t3 = _mm256_unpackhi_ps(p2, p3);  // z2 z3 _ _
  return {_mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0)),
          _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2)),
          _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0))};
}

// The x, y and z of the eight (x, y, z, _) points p[0..7], lane k from point k.
TULM_TARGET_AVX2 inline Points8 transposed8(const __m128* p) {
  return transposed8(_mm256_set_m128(p[4], p[0]), _mm256_set_m128(p[5], p[1]),
                     _mm256_set_m128(p[6], p[2]), _mm256_set_m128(p[7], p[3]));
}
#endif

#if defined(TULM_HAVE_AVX512_TARGET)
// load_point_and_next of four points, the one at p[k] in quarter k. For callers that have
// checked TULM_PROCESSOR_HAS_AVX512().
TULM_TARGET_AVX512 inline __m512 four_points(const float* p0, const float* p1, const float* p2,
                                             const float* p3) {
  __m512 r = _mm512_castps128_ps512(_mm_loadu_ps(p0));
  r = _mm512_insertf32x4(r, _mm_loadu_ps(p1), 1);
  r = _mm512_insertf32x4(r, _mm_loadu_ps(p2), 2);
  return _mm512_insertf32x4(r, _mm_loadu_ps(p3), 3);
}

// Sixteen points as one register per coordinate.
struct Points16 {
  __m512 x, y, z;
};

// The x, y and z of sixteen (x, y, z, _) points, four to a register: points k, k + 4, k + 8
// and k + 12 in the quarters of register k, which become lanes k, k + 4, k + 8 and k + 12. For
// callers that have checked TULM_PROCESSOR_HAS_AVX512().
TULM_TARGET_AVX512 inline Points16 transposed16(__m512 p0, __m512 p1, __m512 p2, __m512 p3) {
  const __m512 t0 = _mm512_unpacklo_ps(p0, p1);  // x0 x1 y0 y1 per quarter
  const __m512 t1 = _mm512_unpacklo_ps(p2, p3);  // x2 x3 y2 y3
  const __m512 t2 = _mm512_unpackhi_ps(p0, p1);  // z0 z1 _ _
  const __m512 t3 = _mm512_unpackhi_ps(p2, p3);  // z2 z3 _ _
  return {_mm512_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0)),
          _mm512_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2)),
          _mm512_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0))};
}

// The x, y and z of the sixteen points at vertices + offsets, lane k from the point at lane k's
// offset: x and y gathered together as one 64-bit element, eight points a gather, z alone, so
// that nothing after a point is read. For callers that have checked TULM_PROCESSOR_HAS_AVX512().
TULM_TARGET_AVX512 inline Points16 gathered16(const float* vertices, __m512i offsets) {
  const __m512i low = _mm512_i32gather_epi64(_mm512_castsi512_si256(offsets), vertices, 4);
  const __m512i high = _mm512_i32gather_epi64(_mm512_extracti64x4_epi64(offsets, 1), vertices, 4);
  const __m512i xs = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  const __m512i ys = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
  return {_mm512_castsi512_ps(_mm512_permutex2var_epi32(low, xs, high)),
          _mm512_castsi512_ps(_mm512_permutex2var_epi32(low, ys, high)),
          _mm512_i32gather_ps(offsets, vertices + 2, 4)};
}

// The lanes of sixteen int32 that lie outside lo..hi, for lo <= hi: value - lo above hi - lo
// unsigned.
TULM_TARGET_AVX512 inline __mmask16 outside16(__m512i values, int32_t lo, int32_t hi) {
  return _mm512_cmpgt_epu32_mask(
      _mm512_sub_epi32(values, _mm512_set1_epi32(lo)),
      _mm512_set1_epi32(static_cast<int32_t>(uint32_t(hi) - uint32_t(lo))));
}
#endif

}  // namespace lanes
#endif

}  // namespace tulm

#endif  // TULM_CORE_POINT_LANES_H
