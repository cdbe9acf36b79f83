#include "icosphere.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace tulm_test {

Mesh icosphere(int subdivisions) {
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  std::vector<double> xyz = {-1, t,  0,  1, t, 0,  -1, -t, 0,  1, -t, 0, 0,  -1, t,  0,  1, t,
                             0,  -1, -t, 0, 1, -t, t,  0,  -1, t, 0,  1, -t, 0,  -1, -t, 0, 1};
  // Outward-facing (counter-clockwise seen from outside), 0-based.
  std::vector<int32_t> tri = {0, 11, 5,  0, 5,  1, 0, 1, 7, 0, 7,  10, 0, 10, 11, 1, 5, 9, 5, 11,
                              4, 11, 10, 2, 10, 7, 6, 7, 1, 8, 3,  9,  4, 3,  4,  2, 3, 2, 6, 3,
                              6, 8,  3,  8, 9,  4, 9, 5, 2, 4, 11, 6,  2, 10, 8,  6, 7, 9, 8, 1};
  const auto normalize = [&xyz](size_t v) {
    double* p = &xyz[3 * v];
    const double n = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    for (int k = 0; k < 3; ++k) p[k] /= n;
  };
  for (size_t v = 0; v < xyz.size() / 3; ++v) normalize(v);

  for (int level = 0; level < subdivisions; ++level) {
    std::map<std::pair<int32_t, int32_t>, int32_t> midpoints;
    const auto midpoint = [&](int32_t a, int32_t b) {
      const auto key = std::make_pair(std::min(a, b), std::max(a, b));
      const auto found = midpoints.find(key);
      if (found != midpoints.end()) return found->second;
      const int32_t m = static_cast<int32_t>(xyz.size() / 3);
      for (int k = 0; k < 3; ++k) xyz.push_back((xyz[3 * a + k] + xyz[3 * b + k]) / 2);
      normalize(m);
      midpoints[key] = m;
      return m;
    };
    std::vector<int32_t> finer;
    for (size_t f = 0; f < tri.size(); f += 3) {
      const int32_t a = tri[f], b = tri[f + 1], c = tri[f + 2];
      const int32_t ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
      finer.insert(finer.end(), {a, ab, ca, b, bc, ab, c, ca, bc, ab, bc, ca});
    }
    tri = std::move(finer);
  }

  Mesh mesh;
  mesh.numVerts = static_cast<int32_t>(xyz.size() / 3);
  mesh.numFaces = static_cast<int32_t>(tri.size() / 3);
  mesh.vertices.assign(xyz.begin(), xyz.end());
  // Reverse the corner order so that normals point toward the origin.
  for (size_t f = 0; f < tri.size(); f += 3) {
    mesh.faces.insert(mesh.faces.end(), {tri[f] + 1, tri[f + 2] + 1, tri[f + 1] + 1});
  }
  return mesh;
}

}  // namespace tulm_test
