#include "core/folding/fold_model.h"

#include <cmath>
#include <cstring>

#include "core/lane_choice.h"
#include "core/point_lanes.h"
#include "core/portability.h"

namespace tulm {
namespace {

// Faces or face-corner pairs handled per batch. A batch first gathers the corner positions
// of its faces into one array per coordinate, then computes every face from those arrays in
// a loop without branches that the compiler turns into vector instructions: the same
// operations in the same order on each face, so the same bits.
constexpr int32_t kBatch = 64;

// The 0-based corner j of face f, checked where it is read.
inline int32_t corner(const FoldMesh& mesh, int32_t f, int32_t j) {
  const int32_t value = mesh.faces[index_2D_array(j, f, 3)];
  check_index("faces", value, j, f, 1, mesh.numVerts);
  return value - 1;
}

inline int32_t smaller(int32_t a, int32_t b) { return a < b ? a : b; }

// A single area is at least kGradientAreaFloor exactly when it is at least kFlipThreshold: no
// single lies between the two (the next single below kFlipThreshold is 2^-47 smaller). The
// gradient compares in single, which vectorises with the single arithmetic around it.
static_assert(static_cast<double>(kFlipThreshold) >= kGradientAreaFloor &&
                  static_cast<double>(kFlipThreshold) - 0x1p-47 < kGradientAreaFloor,
              "the gradient's area test in single is its test in double");

// The positions of a batch, one array per coordinate.
struct Points {
  float x[kBatch], y[kBatch], z[kBatch];

  void set(int32_t i, const float* p) {
    x[i] = p[0];
    y[i] = p[1];
    z[i] = p[2];
  }
};

}  // namespace

float signedFaceArea(const FoldMesh& mesh, int32_t f) {
  float area;
  signed_face_areas(mesh, f, 1, &area);
  return area;
}

namespace {

// signedFaceArea of the faces faceAt(0), ..., faceAt(count - 1) into areas[0..count-1].
template <class FaceAt>
void batched_signed_face_areas(const FoldMesh& mesh, int32_t count, FaceAt faceAt, float* areas) {
  Points p0, p1, p2;
  for (int32_t done = 0; done < count; done += kBatch) {
    const int32_t size = smaller(kBatch, count - done);
    for (int32_t i = 0; i < size; ++i) {
      int32_t v0, v1, v2;
      corners_of_face(mesh, faceAt(done + i), v0, v1, v2);
      p0.set(i, vertex_position(mesh, v0));
      p1.set(i, vertex_position(mesh, v1));
      p2.set(i, vertex_position(mesh, v2));
    }
    float* out = areas + done;
    for (int32_t i = 0; i < size; ++i) {
      // e1 = p1 - p0, e2 = p2 - p0, m = e1 x e2 (crossVectors).
      const float e1x = p1.x[i] - p0.x[i], e1y = p1.y[i] - p0.y[i], e1z = p1.z[i] - p0.z[i];
      const float e2x = p2.x[i] - p0.x[i], e2y = p2.y[i] - p0.y[i], e2z = p2.z[i] - p0.z[i];
      const float mx = e1y * e2z - e1z * e2y;
      const float my = e1z * e2x - e1x * e2z;
      const float mz = e1x * e2y - e1y * e2x;
      const float area = std::sqrt((mx * mx + my * my) + mz * mz) * 0.5f;
      const float side = (mx * p0.x[i] + my * p0.y[i]) + mz * p0.z[i];
      out[i] = side > 0.0f ? area : -area;
    }
  }
}

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

#endif

#if defined(TULM_HAVE_AVX2_TARGET)

// Corner j of the eight faces whose corners start at `corners`.
TULM_TARGET_AVX2 inline lanes::Points8 corner_of_eight(const float* vertices,
                                                       const int32_t* corners, int j) {
  __m128 p[8];
  for (int i = 0; i < 8; ++i) p[i] = _mm_loadu_ps(vertices + 3 * (size_t(corners[3 * i + j]) - 1));
  return lanes::transposed8(p);
}

// signed_areas_in_four_lanes for eight faces.
TULM_TARGET_AVX2 inline __m256 signed_areas_in_eight_lanes(const float* vertices,
                                                           const int32_t* corners) {
  const lanes::Points8 p0 = corner_of_eight(vertices, corners, 0);
  const lanes::Points8 p1 = corner_of_eight(vertices, corners, 1);
  const lanes::Points8 p2 = corner_of_eight(vertices, corners, 2);
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
      batched_signed_face_areas(
          mesh, 8, [first, done](int32_t i) { return first + done + i; }, areas + done);
      continue;
    }
    _mm256_storeu_ps(areas + done, signed_areas_in_eight_lanes(mesh.vertices, corners));
  }
  return done;
}

#endif

}  // namespace

void signed_face_areas(const FoldMesh& mesh, int32_t first, int32_t count, float* areas) {
  // A group with a corner the lanes cannot read goes through the scalar code, which ends the
  // call at a corner outside 1..V as it would have.
  int32_t done = 0;
#if defined(TULM_HAVE_AVX2_TARGET)
  if (chosen_lanes().width >= 8) done = signed_face_areas_in_eight_lanes(mesh, first, count, areas);
#endif
#if defined(TULM_HAVE_SSE2)
  if (chosen_lanes().width >= 4) {
    for (; done + 4 <= count; done += 4) {
      const int32_t* corners = mesh.faces + index_2D_array(0, first + done, 3);
      if (lanes::four_faces_fit(corners, mesh.numVerts)) {
        _mm_storeu_ps(areas + done, signed_areas_in_four_lanes(mesh.vertices, corners));
      } else {
        batched_signed_face_areas(
            mesh, 4, [first, done](int32_t i) { return first + done + i; }, areas + done);
      }
    }
  }
#endif
  batched_signed_face_areas(
      mesh, count - done, [first, done](int32_t i) { return first + done + i; }, areas + done);
}

void signed_face_areas_of(const FoldMesh& mesh, const int32_t* faces, int32_t count, float* areas) {
  batched_signed_face_areas(
      mesh, count, [faces](int32_t i) { return faces[i]; }, areas);
}

void check_face_corners(const FoldMesh& mesh, int32_t f) {
  for (int32_t j = 0; j < 3; ++j) corner(mesh, f, j);
}

void faceAreaGradient(const FoldMesh& mesh, int32_t f, int32_t w, float g[3]) {
  const FaceCorner pair{f, w};
  float out[1][3];
  face_area_gradients(mesh, &pair, 1, out);
  g[0] = out[0][0];
  g[1] = out[0][1];
  g[2] = out[0][2];
}

void area_gradients(const GradientCorners& c, int32_t count, float* gx, float* gy, float* gz) {
  for (int32_t i = 0; i < count; ++i) {
    const float a[3] = {c.ax[i], c.ay[i], c.az[i]};
    const float b[3] = {c.bx[i], c.by[i], c.bz[i]};
    const float w[3] = {c.wx[i], c.wy[i], c.wz[i]};
    float g[3];
    area_gradient(a, b, w, g);
    gx[i] = g[0];
    gy[i] = g[1];
    gz[i] = g[2];
  }
}

void face_area_gradients(const FoldMesh& mesh, const FaceCorner* pairs, int32_t count,
                         float (*g)[3]) {
  GradientCorners corners;
  float gx[kGradientBatch], gy[kGradientBatch], gz[kGradientBatch];
  for (int32_t done = 0; done < count; done += kGradientBatch) {
    const int32_t size = smaller(kGradientBatch, count - done);
    for (int32_t i = 0; i < size; ++i) {
      const int32_t w = pairs[done + i].corner;
      int32_t v0, v1, v2, a, b;
      corners_of_face(mesh, pairs[done + i].face, v0, v1, v2);
      other_corners(v0, v1, v2, w, a, b);
      corners.set(i, vertex_position(mesh, a), vertex_position(mesh, b), vertex_position(mesh, w));
    }
    area_gradients(corners, size, gx, gy, gz);
    for (int32_t i = 0; i < size; ++i) {
      g[done + i][0] = gx[i];
      g[done + i][1] = gy[i];
      g[done + i][2] = gz[i];
    }
  }
}

}  // namespace tulm
