#include "core/folding/fold_model_lanes.h"

#include "core/lane_choice.h"

namespace tulm {
namespace {

#if defined(TULM_HAVE_SSE2)

// signedFaceArea of the four faces whose corners start at `corners`, each lane through the
// scalar code's single operations in its order. Each vertex is read as 16 bytes: its three
// coordinates and what follows them, which lanes::four_faces_fit ensures lies in the array.
inline __m128 signed_areas_in_four_lanes(const float* vertices, const int32_t* corners) {
  const auto corner = [&](int j) {
    const auto at = [&](int i) {
      return _mm_loadu_ps(vertices + 3 * (size_t(corners[3 * i + j]) - 1));
    };
    return lanes::transposed4(at(0), at(1), at(2), at(3));
  };
  const lanes::Points4 p0 = corner(0), p1 = corner(1), p2 = corner(2);
  const __m128 e1x = _mm_sub_ps(p1.x, p0.x), e1y = _mm_sub_ps(p1.y, p0.y),
               e1z = _mm_sub_ps(p1.z, p0.z);
  const __m128 e2x = _mm_sub_ps(p2.x, p0.x), e2y = _mm_sub_ps(p2.y, p0.y),
               e2z = _mm_sub_ps(p2.z, p0.z);
  const __m128 mx = _mm_sub_ps(_mm_mul_ps(e1y, e2z), _mm_mul_ps(e1z, e2y));
  const __m128 my = _mm_sub_ps(_mm_mul_ps(e1z, e2x), _mm_mul_ps(e1x, e2z));
  const __m128 mz = _mm_sub_ps(_mm_mul_ps(e1x, e2y), _mm_mul_ps(e1y, e2x));
  const __m128 squared =
      _mm_add_ps(_mm_add_ps(_mm_mul_ps(mx, mx), _mm_mul_ps(my, my)), _mm_mul_ps(mz, mz));
  const __m128 area = _mm_mul_ps(_mm_sqrt_ps(squared), _mm_set1_ps(0.5f));
  const __m128 side =
      _mm_add_ps(_mm_add_ps(_mm_mul_ps(mx, p0.x), _mm_mul_ps(my, p0.y)), _mm_mul_ps(mz, p0.z));
  // -area where side > 0 fails: the sign bit flipped, as negation does.
  const __m128 outward = _mm_cmpgt_ps(side, _mm_setzero_ps());
  return _mm_xor_ps(area, _mm_andnot_ps(outward, _mm_set1_ps(-0.0f)));
}

// signedFaceArea of `size` faces from first on, one by one: a group the lanes cannot read.
void signed_face_areas_one_by_one(const FoldMesh& mesh, int32_t first, int32_t size, float* areas) {
  int32_t faces[8];
  for (int32_t i = 0; i < size; ++i) faces[i] = first + i;
  signed_face_areas_of(mesh, faces, size, areas);
}

#endif

#if defined(TULM_HAVE_AVX2_TARGET)

// Corner j of the eight faces whose stored (1-based) corners start at `corners`.
TULM_TARGET_AVX2 inline lanes::Points8 stored_corner_of_eight(const float* vertices,
                                                              const int32_t* corners, int j) {
  __m128 p[8];
  for (int i = 0; i < 8; ++i) p[i] = _mm_loadu_ps(vertices + 3 * (size_t(corners[3 * i + j]) - 1));
  return lanes::transposed8(p);
}

// signed_areas_in_four_lanes for eight faces.
TULM_TARGET_AVX2 inline __m256 signed_areas_in_eight_lanes(const float* vertices,
                                                           const int32_t* corners) {
  const lanes::Points8 p0 = stored_corner_of_eight(vertices, corners, 0);
  const lanes::Points8 p1 = stored_corner_of_eight(vertices, corners, 1);
  const lanes::Points8 p2 = stored_corner_of_eight(vertices, corners, 2);
  const __m256 e1x = _mm256_sub_ps(p1.x, p0.x), e1y = _mm256_sub_ps(p1.y, p0.y),
               e1z = _mm256_sub_ps(p1.z, p0.z);
  const __m256 e2x = _mm256_sub_ps(p2.x, p0.x), e2y = _mm256_sub_ps(p2.y, p0.y),
               e2z = _mm256_sub_ps(p2.z, p0.z);
  const __m256 mx = _mm256_sub_ps(_mm256_mul_ps(e1y, e2z), _mm256_mul_ps(e1z, e2y));
  const __m256 my = _mm256_sub_ps(_mm256_mul_ps(e1z, e2x), _mm256_mul_ps(e1x, e2z));
  const __m256 mz = _mm256_sub_ps(_mm256_mul_ps(e1x, e2y), _mm256_mul_ps(e1y, e2x));
  const __m256 squared = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(mx, mx), _mm256_mul_ps(my, my)),
                                       _mm256_mul_ps(mz, mz));
  const __m256 area = _mm256_mul_ps(_mm256_sqrt_ps(squared), _mm256_set1_ps(0.5f));
  const __m256 side = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(mx, p0.x), _mm256_mul_ps(my, p0.y)),
                                    _mm256_mul_ps(mz, p0.z));
  const __m256 outward = _mm256_cmp_ps(side, _mm256_setzero_ps(), _CMP_GT_OQ);
  return _mm256_xor_ps(area, _mm256_andnot_ps(outward, _mm256_set1_ps(-0.0f)));
}

// The groups of eight faces of signed_face_areas that the lanes take; returns the faces done.
TULM_TARGET_AVX2 int32_t signed_face_areas_in_eight_lanes(const FoldMesh& mesh, int32_t first,
                                                          int32_t count, float* areas) {
  int32_t done = 0;
  for (; done + 8 <= count; done += 8) {
    const int32_t* corners = mesh.faces + index_2D_array(0, first + done, 3);
    if (!lanes::eight_faces_fit(corners, mesh.numVerts)) {
      signed_face_areas_one_by_one(mesh, first + done, 8, areas + done);
      continue;
    }
    _mm256_storeu_ps(areas + done, signed_areas_in_eight_lanes(mesh.vertices, corners));
  }
  return done;
}

// Corner j of the eight faces whose 0-based corners are corners[0..7]. Each corner's points are
// transposed as soon as they are read: the points of all three, read first, would not stay in the
// registers.
TULM_TARGET_AVX2 inline lanes::Points8 corner_of_eight(const VertexReader& reader,
                                                       const int32_t (*corners)[3], int j) {
  __m128 p[8];
  for (int i = 0; i < 8; ++i) p[i] = reader.load(static_cast<uint32_t>(corners[i][j]));
  return lanes::transposed8(p);
}

// face_gradients of the eight faces whose 0-based corners are corners[0..7], into entry at + i of
// each row of g.
TULM_TARGET_AVX2 void face_gradients8(const VertexReader& reader, const int32_t (*corners)[3],
                                      float* g, size_t rowStride, int32_t at) {
  const lanes::Points8 p0 = corner_of_eight(reader, corners, 0),
                       p1 = corner_of_eight(reader, corners, 1),
                       p2 = corner_of_eight(reader, corners, 2);
  const auto row = [&](int r) { return g + r * rowStride + at; };
  // Corner v0 takes a = v1, b = v2; v1 takes a = v0, b = v2; v2 takes a = v1, b = v0.
  __m256 gx, gy, gz;
  const Normals8 m0 = normals8(p1, p2, p0);
  const __m256 k0 = gradient_scales8(m0);
  scaled_gradients8(p1, p2, m0, k0, gx, gy, gz);
  _mm256_storeu_ps(row(0), gx);
  _mm256_storeu_ps(row(1), gy);
  _mm256_storeu_ps(row(2), gz);
  area_gradients8(p0, p2, p1, gx, gy, gz);
  _mm256_storeu_ps(row(3), gx);
  _mm256_storeu_ps(row(4), gy);
  _mm256_storeu_ps(row(5), gz);
  // Corner v2's normal (v0 - v1) x (v2 - v1) takes the products of v0's (v2 - v1) x (v0 - v1) in
  // swapped order, so each of its coordinates is NaN where v0's is and otherwise exactly its
  // negative: the squared length, and with it the factor k, has the same bits.
  const Normals8 m2 = normals8(p1, p0, p2);
  scaled_gradients8(p1, p0, m2, k0, gx, gy, gz);
  _mm256_storeu_ps(row(6), gx);
  _mm256_storeu_ps(row(7), gy);
  _mm256_storeu_ps(row(8), gz);
}

#endif

}  // namespace

int32_t signed_face_areas_in_lanes(const FoldMesh& mesh, int32_t first, int32_t count,
                                   float* areas) {
  int32_t done = 0;
#if defined(TULM_HAVE_SSE2)
  const int32_t width = chosen_lanes().width;
#if defined(TULM_HAVE_AVX2_TARGET)
  if (width >= 8) done = signed_face_areas_in_eight_lanes(mesh, first, count, areas);
#endif
  if (width >= 4) {
    for (; done + 4 <= count; done += 4) {
      const int32_t* corners = mesh.faces + index_2D_array(0, first + done, 3);
      if (lanes::four_faces_fit(corners, mesh.numVerts)) {
        _mm_storeu_ps(areas + done, signed_areas_in_four_lanes(mesh.vertices, corners));
      } else {
        signed_face_areas_one_by_one(mesh, first + done, 4, areas + done);
      }
    }
  }
#else
  (void)mesh, (void)first, (void)count, (void)areas;
#endif
  return done;
}

int32_t face_gradients_in_lanes(const FoldMesh& mesh, const int32_t (*corners)[3], int32_t count,
                                float* g, size_t rowStride) {
  int32_t done = 0;
#if defined(TULM_HAVE_AVX2_TARGET)
  if (chosen_lanes().width >= 8) {
    const VertexReader reader(mesh);
    for (; done + 8 <= count; done += 8)
      face_gradients8(reader, corners + done, g, rowStride, done);
  }
#else
  (void)mesh, (void)corners, (void)count, (void)g, (void)rowStride;
#endif
  return done;
}

}  // namespace tulm
