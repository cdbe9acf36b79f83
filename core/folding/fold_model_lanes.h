// The fold model in lanes: signed areas four faces at a time in SSE2 or eight in AVX2, the flip
// test of four areas at a time, and area gradients of eight faces or eight columns at a time in
// AVX2. Each lane goes through exactly the single operations, in the order, of the scalar code in
// fold_model.h and fold_model.cpp, so both give the same bits. The scalar code reaches them
// through signed_face_areas_in_lanes, face_gradients_in_lanes and flip_marks_in_lanes, which take
// the lanes that chosen_lanes() names and leave the rest to it.
#ifndef TULM_CORE_FOLDING_FOLD_MODEL_LANES_H
#define TULM_CORE_FOLDING_FOLD_MODEL_LANES_H

#include <cstddef>
#include <cstdint>

#include "core/folding/fold_model.h"
#include "core/point_lanes.h"
#include "core/portability.h"

namespace tulm {

// signed_face_areas of the faces first, first + 1, ... that the lanes take into areas[0..],
// from the first on: whole groups of eight, then of four. Returns the faces done, 0 without
// lanes. A group with a corner the lanes cannot read goes through the scalar code, which ends the
// call at a corner outside 1..V as it would have.
int32_t signed_face_areas_in_lanes(const FoldMesh& mesh, int32_t first, int32_t count,
                                   float* areas);

// face_gradients of the first faces of `corners` that the lanes take, whole groups of eight;
// returns the faces done, 0 without lanes.
int32_t face_gradients_in_lanes(const FoldMesh& mesh, const int32_t (*corners)[3], int32_t count,
                                float* g, size_t rowStride);

// The bits of isFlipped(areas[i]) at bit i for the first areas of areas[0..size) that the lanes
// take, four at a time wherever SSE2 is compiled in; `done` is set to the areas tested.
inline uint64_t flip_marks_in_lanes(const float* areas, int32_t size, int32_t& done) {
  uint64_t marks = 0;
  int32_t i = 0;
#if defined(TULM_HAVE_SSE2)
  const __m128 threshold = _mm_set1_ps(kFlipThreshold);
  for (; i + 4 <= size; i += 4) {
    const __m128 above = _mm_cmpgt_ps(_mm_loadu_ps(areas + i), threshold);
    marks |= static_cast<uint64_t>(_mm_movemask_ps(above)) << i;
  }
#else
  (void)areas, (void)size;
#endif
  done = i;
  return marks;
}

#if defined(TULM_HAVE_AVX2_TARGET)

// A vertex's position as (x, y, z, 0): its three floats, read by a masked load, which reads
// nothing after them, so that the last vertex needs no copy and no test.
struct VertexReader {
  const float* vertices;

  explicit VertexReader(const FoldMesh& mesh) : vertices(mesh.vertices) {}
  // v is a 0-based vertex in 0..V-1.
  TULM_TARGET_AVX2 __m128 load(uint32_t v) const {
    return _mm_maskload_ps(vertices + 3 * size_t(v), _mm_setr_epi32(-1, -1, -1, 0));
  }
};

// The normal m = (B - A) x (W - A) of area_gradient in eight lanes.
struct Normals8 {
  __m256 x, y, z;
};

TULM_TARGET_AVX2 inline Normals8 normals8(const lanes::Points8& A, const lanes::Points8& B,
                                          const lanes::Points8& W) {
  const __m256 d1x = _mm256_sub_ps(B.x, A.x), d1y = _mm256_sub_ps(B.y, A.y),
               d1z = _mm256_sub_ps(B.z, A.z);
  const __m256 d2x = _mm256_sub_ps(W.x, A.x), d2y = _mm256_sub_ps(W.y, A.y),
               d2z = _mm256_sub_ps(W.z, A.z);
  return {_mm256_sub_ps(_mm256_mul_ps(d1y, d2z), _mm256_mul_ps(d1z, d2y)),
          _mm256_sub_ps(_mm256_mul_ps(d1z, d2x), _mm256_mul_ps(d1x, d2z)),
          _mm256_sub_ps(_mm256_mul_ps(d1x, d2y), _mm256_mul_ps(d1y, d2x))};
}

// The factor k of area_gradient for the normal m: 0.25 / area, or 0 below kFlipThreshold.
TULM_TARGET_AVX2 inline __m256 gradient_scales8(const Normals8& m) {
  const __m256 squared = _mm256_add_ps(
      _mm256_add_ps(_mm256_mul_ps(m.x, m.x), _mm256_mul_ps(m.y, m.y)), _mm256_mul_ps(m.z, m.z));
  const __m256 area = _mm256_mul_ps(_mm256_sqrt_ps(squared), _mm256_set1_ps(0.5f));
  const __m256 kept = _mm256_cmp_ps(area, _mm256_set1_ps(kFlipThreshold), _CMP_GE_OQ);
  return _mm256_and_ps(kept, _mm256_div_ps(_mm256_set1_ps(0.25f), area));
}

// The gradients of area_gradient for corners a and b, normal m and factor k.
TULM_TARGET_AVX2 inline void scaled_gradients8(const lanes::Points8& A, const lanes::Points8& B,
                                               const Normals8& m, __m256 k, __m256& gx, __m256& gy,
                                               __m256& gz) {
  const __m256 d1x = _mm256_sub_ps(B.x, A.x), d1y = _mm256_sub_ps(B.y, A.y),
               d1z = _mm256_sub_ps(B.z, A.z);
  // ((Bz - Az) * my + (Ay - By) * mz) * k, ((Az - Bz) * mx + mz * (Bx - Ax)) * k,
  // (mx * (By - Ay) + my * (Ax - Bx)) * k
  gx = _mm256_mul_ps(
      _mm256_add_ps(_mm256_mul_ps(d1z, m.y), _mm256_mul_ps(_mm256_sub_ps(A.y, B.y), m.z)), k);
  gy = _mm256_mul_ps(
      _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(A.z, B.z), m.x), _mm256_mul_ps(m.z, d1x)), k);
  gz = _mm256_mul_ps(
      _mm256_add_ps(_mm256_mul_ps(m.x, d1y), _mm256_mul_ps(m.y, _mm256_sub_ps(A.x, B.x))), k);
}

// The gradients of faceAreaGradient for corners a, b and w in eight lanes, each lane through the
// operations of area_gradient in their order.
TULM_TARGET_AVX2 inline void area_gradients8(const lanes::Points8& A, const lanes::Points8& B,
                                             const lanes::Points8& W, __m256& gx, __m256& gy,
                                             __m256& gz) {
  const Normals8 m = normals8(A, B, W);
  scaled_gradients8(A, B, m, gradient_scales8(m), gx, gy, gz);
}

#endif

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_FOLD_MODEL_LANES_H
