#include "core/measures/TULM_calculateSurfaceArea.h"

#include <cmath>

#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {
namespace {

// Corner j of face i, 0-based, checked against the vertex count.
int32_t corner(const int32_t* faces, int32_t i, int32_t j, int32_t numFaces, int32_t numVerts) {
  const int32_t value = faces[index_2D_array(i, j, numFaces)];
  check_index("faces", value, i, j, 1, numVerts);
  return value - 1;
}

// Area of face i. Lagrange's identity can cancel to slightly below 0 on a nearly degenerate
// face; that counts as 0 so that the total never turns NaN.
float triangle_area(const float* vertices, const int32_t* faces, int32_t i, int32_t numFaces,
                    int32_t numVerts) {
  const int32_t p0 = corner(faces, i, 0, numFaces, numVerts);
  const int32_t p1 = corner(faces, i, 1, numFaces, numVerts);
  const int32_t p2 = corner(faces, i, 2, numFaces, numVerts);
  const float* x = vertices;
  const float* y = vertices + index_2D_array(0, 1, numVerts);
  const float* z = vertices + index_2D_array(0, 2, numVerts);

  const float ux = x[p1] - x[p0], uy = y[p1] - y[p0], uz = z[p1] - z[p0];
  const float wx = x[p2] - x[p0], wy = y[p2] - y[p0], wz = z[p2] - z[p0];
  const float dot = (ux * wx + uy * wy) + uz * wz;
  const float uu = (ux * ux + uy * uy) + uz * uz;
  const float ww = (wx * wx + wy * wy) + wz * wz;
  float d = uu * ww - dot * dot;
  if (d < 0.0f) d = 0.0f;
  return static_cast<float>(0.5 * std::sqrt(static_cast<double>(d)));
}

}  // namespace

float TULM_calculateSurfaceArea(const float* vertices, int32_t numVerts, const int32_t* faces,
                                int32_t numFaces) {
  float total = 0.0f;
  for (int32_t i = 0; i < numFaces; ++i) {
    total = total + triangle_area(vertices, faces, i, numFaces, numVerts);
  }
  return total;
}

}  // namespace tulm
