#include "core/folding/fold_model.h"

#include <cmath>

#include "core/folding/fold_model_lanes.h"

namespace tulm {
namespace {

// Faces or face-corner pairs handled per batch. A batch first gathers the corner positions
// of its faces into one array per coordinate, then computes every face from those arrays in
// a loop without branches that the compiler turns into vector instructions: the same
// operations in the same order on each face, so the same bits.
constexpr int32_t kBatch = 64;

inline int32_t smaller(int32_t a, int32_t b) { return a < b ? a : b; }

// The positions of a batch, one array per coordinate.
struct Points {
  float x[kBatch], y[kBatch], z[kBatch];

  void set(int32_t i, const float* p) {
    x[i] = p[0];
    y[i] = p[1];
    z[i] = p[2];
  }
};

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

// The 0-based corner j of face f, checked where it is read.
inline int32_t corner(const FoldMesh& mesh, int32_t f, int32_t j) {
  const int32_t value = mesh.faces[index_2D_array(j, f, 3)];
  check_index("faces", value, j, f, 1, mesh.numVerts);
  return value - 1;
}

}  // namespace

float signedFaceArea(const FoldMesh& mesh, int32_t f) {
  float area;
  signed_face_areas(mesh, f, 1, &area);
  return area;
}

void signed_face_areas(const FoldMesh& mesh, int32_t first, int32_t count, float* areas) {
  const int32_t done = signed_face_areas_in_lanes(mesh, first, count, areas);
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

// A single area is at least kGradientAreaFloor exactly when it is at least kFlipThreshold: no
// single lies between the two (the next single below kFlipThreshold is 2^-47 smaller). The
// gradient compares in single, which vectorises with the single arithmetic around it.
static_assert(static_cast<double>(kFlipThreshold) >= kGradientAreaFloor &&
                  static_cast<double>(kFlipThreshold) - 0x1p-47 < kGradientAreaFloor,
              "the gradient's area test in single is its test in double");

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

void face_gradients(const FoldMesh& mesh, const int32_t (*corners)[3], int32_t count, float* g,
                    size_t rowStride) {
  for (int32_t i = face_gradients_in_lanes(mesh, corners, count, g, rowStride); i < count; ++i) {
    const int32_t v0 = corners[i][0], v1 = corners[i][1], v2 = corners[i][2];
    const int32_t others[3][2] = {{v1, v2}, {v0, v2}, {v1, v0}};
    for (int j = 0; j < 3; ++j) {
      float t[3];
      area_gradient(vertex_position(mesh, others[j][0]), vertex_position(mesh, others[j][1]),
                    vertex_position(mesh, corners[i][j]), t);
      for (int k = 0; k < 3; ++k) g[(3 * j + k) * rowStride + i] = t[k];
    }
  }
}

}  // namespace tulm
