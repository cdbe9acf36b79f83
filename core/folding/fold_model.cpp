#include "core/folding/fold_model.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "core/portability.h"

#if defined(TULM_HAVE_SSE2)
#include <emmintrin.h>
#endif

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

// keep ? value : 0.0f, written so that the compiler computes value on every lane and selects
// by a mask: with a plain choice it moves a division into a branch and keeps the loop scalar.
inline float kept_if(bool keep, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits &= keep ? 0xFFFFFFFFu : 0u;
  std::memcpy(&value, &bits, sizeof bits);
  return value;
}

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

std::atomic<bool> foldLanesEnabled{true};

#if defined(TULM_HAVE_SSE2)

// The points (x, y, z, _) of four vertices as one register per coordinate.
struct LanePoints {
  __m128 x, y, z;
};

inline LanePoints transposed(__m128 p0, __m128 p1, __m128 p2, __m128 p3) {
  const __m128 t0 = _mm_unpacklo_ps(p0, p1);  // x0 x1 y0 y1
  const __m128 t1 = _mm_unpacklo_ps(p2, p3);  // x2 x3 y2 y3
  const __m128 t2 = _mm_unpackhi_ps(p0, p1);  // z0 z1 _ _
  const __m128 t3 = _mm_unpackhi_ps(p2, p3);  // z2 z3 _ _
  return {_mm_movelh_ps(t0, t1), _mm_movehl_ps(t1, t0), _mm_movelh_ps(t2, t3)};
}

// Corner j of the four faces whose corners start at `corners`: each vertex read as 16 bytes,
// its three coordinates and what follows them, which the caller ensures lies in the array.
inline LanePoints corner_points(const float* vertices, const int32_t* corners, int j) {
  const auto at = [&](int i) {
    return _mm_loadu_ps(vertices + 3 * (size_t(corners[3 * i + j]) - 1));
  };
  return transposed(at(0), at(1), at(2), at(3));
}

// Whether every one of the twelve corners at `corners` lies in 1..V-1: inside the vertices,
// and not the last, whose 16-byte read would pass the end of the array.
inline bool corners_fit_lanes(const int32_t* corners, int32_t numVerts) {
  // Unsigned c - 1 < V - 1, compared as signed after moving the range by 2^31.
  const __m128i shift = _mm_set1_epi32(INT32_MIN);
  const __m128i one = _mm_set1_epi32(1);
  const __m128i limit =
      _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(numVerts - 1) ^ 0x80000000u));
  __m128i outside = _mm_setzero_si128();
  for (int k = 0; k < 3; ++k) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(corners + 4 * k));
    const __m128i moved = _mm_xor_si128(_mm_sub_epi32(c, one), shift);
    outside = _mm_or_si128(outside, _mm_cmplt_epi32(limit, moved));
    outside = _mm_or_si128(outside, _mm_cmpeq_epi32(limit, moved));
  }
  return _mm_movemask_epi8(outside) == 0;
}

// signedFaceArea of the four faces whose corners start at `corners`, each lane through the
// scalar code's single operations in its order.
inline __m128 signed_areas_in_lanes(const float* vertices, const int32_t* corners) {
  const LanePoints p0 = corner_points(vertices, corners, 0);
  const LanePoints p1 = corner_points(vertices, corners, 1);
  const LanePoints p2 = corner_points(vertices, corners, 2);
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

}  // namespace

bool fold_lanes_enabled() { return foldLanesEnabled.load(std::memory_order_relaxed); }

void set_fold_lanes_enabled(bool enabled) {
  foldLanesEnabled.store(enabled, std::memory_order_relaxed);
}

void signed_face_areas(const FoldMesh& mesh, int32_t first, int32_t count, float* areas) {
  int32_t done = 0;
#if defined(TULM_HAVE_SSE2)
  if (fold_lanes_enabled()) {
    // Four faces at a time; a group with a corner the lanes cannot read goes through the scalar
    // code, which ends the call at a corner outside 1..V as it would have.
    for (; done + 4 <= count; done += 4) {
      const int32_t* corners = mesh.faces + index_2D_array(0, first + done, 3);
      if (corners_fit_lanes(corners, mesh.numVerts)) {
        _mm_storeu_ps(areas + done, signed_areas_in_lanes(mesh.vertices, corners));
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
    const float Ax = c.ax[i], Ay = c.ay[i], Az = c.az[i];
    const float Bx = c.bx[i], By = c.by[i], Bz = c.bz[i];
    // d1 = P_b - P_a, d2 = P_w - P_a, m = d1 x d2 (crossVectors).
    const float d1x = Bx - Ax, d1y = By - Ay, d1z = Bz - Az;
    const float d2x = c.wx[i] - Ax, d2y = c.wy[i] - Ay, d2z = c.wz[i] - Az;
    const float mx = d1y * d2z - d1z * d2y;
    const float my = d1z * d2x - d1x * d2z;
    const float mz = d1x * d2y - d1y * d2x;
    const float squared = (mx * mx + my * my) + mz * mz;
    // The area that scales the gradient is taken in double, then rounded once to single.
    const float area = static_cast<float>(std::sqrt(static_cast<double>(squared)) * 0.5);
    const float k = kept_if(area >= kFlipThreshold, 0.25f / area);
    gx[i] = ((Bz - Az) * my + (Ay - By) * mz) * k;
    gy[i] = ((Az - Bz) * mx + mz * (Bx - Ax)) * k;
    gz[i] = (mx * (By - Ay) + my * (Ax - Bx)) * k;
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
