#include "core/folding/fold_model.h"

#include <cmath>

#include "core/location/vector_geometry.h"

namespace tulm {
namespace {

// Faces or face-corner pairs handled per batch: enough stores between writing an edge and
// crossVectors reading it back for the stores to have left the store buffer.
constexpr int32_t kBatch = 32;

// The 0-based corner j of face f, checked where it is read.
inline int32_t corner(const FoldMesh& mesh, int32_t f, int32_t j) {
  const int32_t value = mesh.faces[index_2D_array(j, f, 3)];
  check_index("faces", value, j, f, 1, mesh.numVerts);
  return value - 1;
}

inline const float* position(const FoldMesh& mesh, int32_t v) {
  return mesh.vertices + index_2D_array(0, v, 3);
}

inline void difference(const float* a, const float* b, float* out) {
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
}

inline int32_t smaller(int32_t a, int32_t b) { return a < b ? a : b; }

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
  const float* p0[kBatch];
  float e1[kBatch][3], e2[kBatch][3], n[kBatch][3];
  for (int32_t done = 0; done < count; done += kBatch) {
    const int32_t size = smaller(kBatch, count - done);
    for (int32_t i = 0; i < size; ++i) {
      const int32_t f = faceAt(done + i);
      p0[i] = position(mesh, corner(mesh, f, 0));
      const float* p1 = position(mesh, corner(mesh, f, 1));
      const float* p2 = position(mesh, corner(mesh, f, 2));
      difference(p1, p0[i], e1[i]);
      difference(p2, p0[i], e2[i]);
    }
    for (int32_t i = 0; i < size; ++i) crossVectors(e1[i], e2[i], n[i]);
    for (int32_t i = 0; i < size; ++i) {
      const float* m = n[i];
      const float* p = p0[i];
      const float area = std::sqrt((m[0] * m[0] + m[1] * m[1]) + m[2] * m[2]) * 0.5f;
      const float side = (m[0] * p[0] + m[1] * p[1]) + m[2] * p[2];
      areas[done + i] = side > 0.0f ? area : -area;
    }
  }
}

}  // namespace

void signed_face_areas(const FoldMesh& mesh, int32_t first, int32_t count, float* areas) {
  batched_signed_face_areas(
      mesh, count, [first](int32_t i) { return first + i; }, areas);
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

void face_area_gradients(const FoldMesh& mesh, const FaceCorner* pairs, int32_t count,
                         float (*g)[3]) {
  const float* pa[kBatch];
  const float* pb[kBatch];
  float d1[kBatch][3], d2[kBatch][3], n[kBatch][3];
  for (int32_t done = 0; done < count; done += kBatch) {
    const int32_t size = smaller(kBatch, count - done);
    for (int32_t i = 0; i < size; ++i) {
      const int32_t f = pairs[done + i].face;
      const int32_t w = pairs[done + i].corner;
      const int32_t v0 = corner(mesh, f, 0);
      const int32_t v1 = corner(mesh, f, 1);
      const int32_t v2 = corner(mesh, f, 2);
      int32_t a, b;
      if (v0 == w) {
        a = v1;
        b = v2;
      } else {
        a = v1 == w ? v0 : v1;
        b = v2 == w ? v0 : v2;
      }
      pa[i] = position(mesh, a);
      pb[i] = position(mesh, b);
      difference(pb[i], pa[i], d1[i]);
      difference(position(mesh, w), pa[i], d2[i]);
    }
    for (int32_t i = 0; i < size; ++i) crossVectors(d1[i], d2[i], n[i]);
    for (int32_t i = 0; i < size; ++i) {
      const float* m = n[i];
      const float* A = pa[i];
      const float* B = pb[i];
      const float squared = (m[0] * m[0] + m[1] * m[1]) + m[2] * m[2];
      // The area that scales the gradient is taken in double, then rounded once to single.
      const float area = static_cast<float>(std::sqrt(static_cast<double>(squared)) * 0.5);
      const float k = static_cast<double>(area) >= kGradientAreaFloor ? 0.25f / area : 0.0f;
      float* out = g[done + i];
      out[0] = ((B[2] - A[2]) * m[1] + (A[1] - B[1]) * m[2]) * k;
      out[1] = ((A[2] - B[2]) * m[0] + m[2] * (B[0] - A[0])) * k;
      out[2] = (m[0] * (B[1] - A[1]) + m[1] * (A[0] - B[0])) * k;
    }
  }
}

}  // namespace tulm
