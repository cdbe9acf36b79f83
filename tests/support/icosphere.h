// Test and benchmark meshes: the icosahedron subdivided n times, projected on the unit
// sphere. Faces are ordered so that every normal points toward the origin, the orientation
// in which no face counts as flipped. Subdivision 6 has 40962 vertices, 7 has 163842.
#ifndef TULM_TESTS_UNIT_ICOSPHERE_H
#define TULM_TESTS_UNIT_ICOSPHERE_H

#include <cstdint>
#include <vector>

namespace tulm_test {

struct Mesh {
  int32_t numVerts = 0;
  int32_t numFaces = 0;
  std::vector<float> vertices;  // 3 x V, column form
  std::vector<int32_t> faces;   // 3 x F, column form, 1-based
};

Mesh icosphere(int subdivisions);

// Transposes a column-major rows x cols array.
template <class T>
std::vector<T> transposed(const std::vector<T>& values, int64_t rows, int64_t cols) {
  std::vector<T> out(values.size());
  for (int64_t r = 0; r < rows; ++r) {
    for (int64_t c = 0; c < cols; ++c) out[c + r * cols] = values[r + c * rows];
  }
  return out;
}

}  // namespace tulm_test

#endif  // TULM_TESTS_UNIT_ICOSPHERE_H
