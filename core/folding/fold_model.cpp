#include "core/folding/fold_model.h"

#include <cmath>

#include "core/location/vector_geometry.h"

namespace tulm {
namespace {

// The 0-based corner j of face f, checked where it is read.
int32_t corner(const FoldMesh& mesh, int32_t f, int32_t j) {
  const int32_t value = mesh.faces[index_2D_array(j, f, 3)];
  check_index("faces", value, j, f, 1, mesh.numVerts);
  return value - 1;
}

const float* position(const FoldMesh& mesh, int32_t v) {
  return mesh.vertices + index_2D_array(0, v, 3);
}

}  // namespace

float signedFaceArea(const FoldMesh& mesh, int32_t f) {
  const float* p0 = position(mesh, corner(mesh, f, 0));
  const float* p1 = position(mesh, corner(mesh, f, 1));
  const float* p2 = position(mesh, corner(mesh, f, 2));
  const float e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
  const float e2[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
  float n[3];
  crossVectors(e1, e2, n);
  const float area = std::sqrt((n[0] * n[0] + n[1] * n[1]) + n[2] * n[2]) * 0.5f;
  const float side = (n[0] * p0[0] + n[1] * p0[1]) + n[2] * p0[2];
  return side > 0.0f ? area : -area;
}

void faceAreaGradient(const FoldMesh& mesh, int32_t f, int32_t w, float g[3]) {
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
  const float* pa = position(mesh, a);
  const float* pb = position(mesh, b);
  const float* pw = position(mesh, w);
  const float d1[3] = {pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]};
  const float d2[3] = {pw[0] - pa[0], pw[1] - pa[1], pw[2] - pa[2]};
  float n[3];
  crossVectors(d1, d2, n);
  const float squared = (n[0] * n[0] + n[1] * n[1]) + n[2] * n[2];
  // The area that scales the gradient is taken in double, then rounded once to single.
  const float area = static_cast<float>(std::sqrt(static_cast<double>(squared)) * 0.5);
  const float k = static_cast<double>(area) >= kGradientAreaFloor ? 0.25f / area : 0.0f;
  g[0] = ((pb[2] - pa[2]) * n[1] + (pa[1] - pb[1]) * n[2]) * k;
  g[1] = ((pa[2] - pb[2]) * n[0] + n[2] * (pb[0] - pa[0])) * k;
  g[2] = (n[0] * (pb[1] - pa[1]) + n[1] * (pa[0] - pb[0])) * k;
}

}  // namespace tulm
