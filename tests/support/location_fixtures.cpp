#include "location_fixtures.h"

#include <cmath>

#include "core/connectivity/TULM_convertFaces2FacesOfVert.h"
#include "core/connectivity/TULM_convertFaces2VertNbors.h"

namespace tulm_test {

Mesh octahedron() {
  Mesh mesh;
  mesh.numVerts = 6;
  mesh.numFaces = 8;
  mesh.vertices = {1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1};
  mesh.faces = {1, 3, 5, 3, 2, 5, 2, 4, 5, 4, 1, 5, 3, 1, 6, 2, 3, 6, 4, 2, 6, 1, 4, 6};
  return mesh;
}

LocatedMesh with_tables(const Mesh& mesh) {
  LocatedMesh located;
  located.mesh = mesh;
  const int32_t V = mesh.numVerts;
  const std::vector<int32_t> rowFaces = transposed(mesh.faces, 3, mesh.numFaces);
  std::vector<int32_t> flat;
  const auto build = [&](int32_t K) {
    flat.assign(static_cast<size_t>(V) * K, 0);
    return flat.data();
  };
  tulm::TULM_convertFaces2VertNbors(rowFaces.data(), mesh.numFaces, V, build);
  located.Kn = static_cast<int32_t>(flat.size() / V);
  located.vertexNbors = transposed(flat, V, located.Kn);
  tulm::TULM_convertFaces2FacesOfVert(rowFaces.data(), mesh.numFaces, V, build);
  located.Kf = static_cast<int32_t>(flat.size() / V);
  located.VertexFaces = transposed(flat, V, located.Kf);
  return located;
}

std::vector<float> rotated(const std::vector<float>& vertices, const double axis[3], double angle) {
  const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  const double x = axis[0], y = axis[1], z = axis[2];
  const double m[3][3] = {{t * x * x + c, t * x * y - s * z, t * x * z + s * y},
                          {t * x * y + s * z, t * y * y + c, t * y * z - s * x},
                          {t * x * z - s * y, t * y * z + s * x, t * z * z + c}};
  std::vector<float> out(vertices.size());
  for (size_t v = 0; v < vertices.size(); v += 3) {
    for (int r = 0; r < 3; ++r) {
      out[v + r] = static_cast<float>(m[r][0] * vertices[v] + m[r][1] * vertices[v + 1] +
                                      m[r][2] * vertices[v + 2]);
    }
  }
  return out;
}

}  // namespace tulm_test
