#include "core/connectivity/face_corners.h"

#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {

std::vector<int32_t> faceCornerCounts(const int32_t* faces, int32_t numFaces, int32_t numVerts) {
  std::vector<int32_t> counts(numVerts > 0 ? numVerts : 0, 0);
  for (int32_t j = 0; j < 3; ++j) {
    for (int32_t i = 0; i < numFaces; ++i) {
      const int32_t corner = faces[index_2D_array(i, j, numFaces)];
      check_index("faces", corner, i, j, 1, numVerts);
      ++counts[corner - 1];
    }
  }
  return counts;
}

int32_t largestCount(const std::vector<int32_t>& counts) {
  int32_t largest = 0;
  for (int32_t count : counts) largest = count > largest ? count : largest;
  return largest;
}

}  // namespace tulm
