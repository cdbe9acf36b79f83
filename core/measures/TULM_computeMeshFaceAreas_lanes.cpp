#include "core/measures/TULM_computeMeshFaceAreas_lanes.h"

#include <cstdint>

#include "core/point_lanes.h"
#include "core/portability.h"

namespace tulm {

#if defined(TULM_HAVE_SSE2)
// Faces begin .. end - 1, four at a time where lanes::four_faces_fit says so; the scalar code takes
// the others, and so ends the call at the first bad corner. A lane does the scalar code's
// operations in its order, on coordinates that the transposes have put one face per lane.
void mesh_face_areas_in_four_lanes(int32_t begin, int32_t end, const int32_t* faces,
                                   const float* vertices, int32_t numVerts, float* areas) {
  int32_t i = begin;
  for (; i + 4 <= end && numVerts >= 2; i += 4) {
    const int32_t* face = faces + 3 * i;
    if (!lanes::four_faces_fit(face, numVerts)) {
      mesh_face_areas_one_at_a_time(i, i + 4, faces, vertices, numVerts, areas);
      continue;
    }
    lanes::Points4 c[3];  // corner j of the four faces
    for (int j = 0; j < 3; ++j) {
      const auto point = [&](int f) {
        return lanes::load_point_and_next(vertices + 3 * (face[3 * f + j] - 1));
      };
      c[j] = lanes::transposed4(point(0), point(1), point(2), point(3));
    }
    const __m128 ux = _mm_sub_ps(c[1].x, c[0].x), uy = _mm_sub_ps(c[1].y, c[0].y),
                 uz = _mm_sub_ps(c[1].z, c[0].z);
    const __m128 wx = _mm_sub_ps(c[2].x, c[0].x), wy = _mm_sub_ps(c[2].y, c[0].y),
                 wz = _mm_sub_ps(c[2].z, c[0].z);
    const __m128 cx = _mm_sub_ps(_mm_mul_ps(uy, wz), _mm_mul_ps(uz, wy));
    const __m128 cy = _mm_sub_ps(_mm_mul_ps(uz, wx), _mm_mul_ps(wz, ux));
    const __m128 cz = _mm_sub_ps(_mm_mul_ps(ux, wy), _mm_mul_ps(uy, wx));
    const __m128 s =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(cx, cx), _mm_mul_ps(cy, cy)), _mm_mul_ps(cz, cz));
    _mm_storeu_ps(areas + i, lanes::half_root(s));
  }
  mesh_face_areas_one_at_a_time(i, end, faces, vertices, numVerts, areas);
}
#endif

#if defined(TULM_HAVE_AVX2_TARGET)
// mesh_face_areas_in_four_lanes eight faces at a time: faces k and k + 4 in lane k of the low and
// the high half of each register, which keeps them in face order.
TULM_TARGET_AVX2 void mesh_face_areas_in_eight_lanes(int32_t begin, int32_t end,
                                                     const int32_t* faces, const float* vertices,
                                                     int32_t numVerts, float* areas) {
  int32_t i = begin;
  for (; i + 8 <= end && numVerts >= 2; i += 8) {
    const int32_t* face = faces + 3 * i;
    if (!lanes::eight_faces_fit(face, numVerts)) {
      mesh_face_areas_in_four_lanes(i, i + 8, faces, vertices, numVerts, areas);
      continue;
    }
    lanes::Points8 c[3];  // corner j of the eight faces
    for (int j = 0; j < 3; ++j) {
      const float* p[8];
      for (int f = 0; f < 8; ++f) p[f] = vertices + 3 * (face[3 * f + j] - 1);
      c[j] = lanes::transposed8(lanes::two_points(p[0], p[4]), lanes::two_points(p[1], p[5]),
                                lanes::two_points(p[2], p[6]), lanes::two_points(p[3], p[7]));
    }
    const __m256 ux = _mm256_sub_ps(c[1].x, c[0].x), uy = _mm256_sub_ps(c[1].y, c[0].y),
                 uz = _mm256_sub_ps(c[1].z, c[0].z);
    const __m256 wx = _mm256_sub_ps(c[2].x, c[0].x), wy = _mm256_sub_ps(c[2].y, c[0].y),
                 wz = _mm256_sub_ps(c[2].z, c[0].z);
    const __m256 cx = _mm256_sub_ps(_mm256_mul_ps(uy, wz), _mm256_mul_ps(uz, wy));
    const __m256 cy = _mm256_sub_ps(_mm256_mul_ps(uz, wx), _mm256_mul_ps(wz, ux));
    const __m256 cz = _mm256_sub_ps(_mm256_mul_ps(ux, wy), _mm256_mul_ps(uy, wx));
    const __m256 s = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(cx, cx), _mm256_mul_ps(cy, cy)),
                                   _mm256_mul_ps(cz, cz));
    // lanes::half_root's operations, eight at a time.
    _mm256_storeu_ps(areas + i, _mm256_mul_ps(_mm256_set1_ps(0.5f), _mm256_sqrt_ps(s)));
  }
  mesh_face_areas_in_four_lanes(i, end, faces, vertices, numVerts, areas);
}
#endif

#if defined(TULM_HAVE_AVX512_TARGET)
// mesh_face_areas_in_eight_lanes sixteen faces at a time: faces k, k + 4, k + 8 and k + 12 in lane
// k of the quarters of each register, which keeps them in face order. The corners' offsets into the
// vertices are made sixteen at a time and read back one by one as the points are loaded.
TULM_TARGET_AVX512 void mesh_face_areas_in_sixteen_lanes(int32_t begin, int32_t end,
                                                         const int32_t* faces,
                                                         const float* vertices, int32_t numVerts,
                                                         float* areas) {
  alignas(64) int32_t offsets[48];  // 3 * (corner - 1), in the faces' order
  int32_t i = begin;
  for (; i + 16 <= end && numVerts >= 2; i += 16) {
    const int32_t* face = faces + 3 * i;
    __m512i corners[3];
    __mmask16 bad = 0;
    for (int r = 0; r < 3; ++r) {
      corners[r] = _mm512_loadu_si512(face + 16 * r);
      bad |= lanes::outside16(corners[r], 1, numVerts - 1);
    }
    if (bad != 0) {
      mesh_face_areas_in_eight_lanes(i, i + 16, faces, vertices, numVerts, areas);
      continue;
    }
    for (int r = 0; r < 3; ++r) {
      const __m512i c = corners[r];
      const __m512i offset =
          _mm512_sub_epi32(_mm512_add_epi32(_mm512_add_epi32(c, c), c), _mm512_set1_epi32(3));
      _mm512_store_si512(offsets + 16 * r, offset);
    }
    lanes::Points16 c[3];  // corner j of the sixteen faces
    for (int j = 0; j < 3; ++j) {
      __m512 quarters[4];  // faces f, f + 4, f + 8, f + 12
      for (int f = 0; f < 4; ++f) {
        const int32_t* o = offsets + 3 * f + j;
        quarters[f] = lanes::four_points(vertices + o[0], vertices + o[12], vertices + o[24],
                                         vertices + o[36]);
      }
      c[j] = lanes::transposed16(quarters[0], quarters[1], quarters[2], quarters[3]);
    }
    const __m512 ux = _mm512_sub_ps(c[1].x, c[0].x), uy = _mm512_sub_ps(c[1].y, c[0].y),
                 uz = _mm512_sub_ps(c[1].z, c[0].z);
    const __m512 wx = _mm512_sub_ps(c[2].x, c[0].x), wy = _mm512_sub_ps(c[2].y, c[0].y),
                 wz = _mm512_sub_ps(c[2].z, c[0].z);
    const __m512 cx = _mm512_sub_ps(_mm512_mul_ps(uy, wz), _mm512_mul_ps(uz, wy));
    const __m512 cy = _mm512_sub_ps(_mm512_mul_ps(uz, wx), _mm512_mul_ps(wz, ux));
    const __m512 cz = _mm512_sub_ps(_mm512_mul_ps(ux, wy), _mm512_mul_ps(uy, wx));
    const __m512 s = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(cx, cx), _mm512_mul_ps(cy, cy)),
                                   _mm512_mul_ps(cz, cz));
    // lanes::half_root's operations, sixteen at a time.
    _mm512_storeu_ps(areas + i, _mm512_mul_ps(_mm512_set1_ps(0.5f), _mm512_sqrt_ps(s)));
  }
  mesh_face_areas_in_eight_lanes(i, end, faces, vertices, numVerts, areas);
}
#endif

}  // namespace tulm
