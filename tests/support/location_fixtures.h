// Meshes and tables shared by the point-location tests.
#ifndef TULM_TESTS_UNIT_LOCATION_FIXTURES_H
#define TULM_TESTS_UNIT_LOCATION_FIXTURES_H

#include <cstdint>
#include <vector>

#include "icosphere.h"

namespace tulm_test {

// A mesh with its tables in the column form the location routines take (K x V).
struct LocatedMesh {
  Mesh mesh;
  int32_t Kn = 0;
  int32_t Kf = 0;
  std::vector<int32_t> vertexNbors;
  std::vector<int32_t> VertexFaces;
};

// The unit octahedron: vertices +x, -x, +y, -y, +z, -z (1..6), one face per octant.
Mesh octahedron();

// Tables from the toolbox's own builders, reshaped and transposed as a user does.
LocatedMesh with_tables(const Mesh& mesh);

// Rotation of v by angle (radians) about the unit axis, in double, rounded to single.
std::vector<float> rotated(const std::vector<float>& vertices, const double axis[3], double angle);

}  // namespace tulm_test

#endif  // TULM_TESTS_UNIT_LOCATION_FIXTURES_H
