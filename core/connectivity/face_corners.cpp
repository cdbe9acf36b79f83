#include "core/connectivity/face_corners.h"

#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {

template <class Count>
CornerCounts<Count> face_corner_counts(const int32_t* faces, int32_t numFaces, int32_t numVerts) {
  CornerCounts<Count> counts{ZeroedArray<Count>(numVerts > 0 ? numVerts : 0), 0, false};
  for (int32_t j = 0; j < 3; ++j) {
    for (int32_t i = 0; i < numFaces; ++i) {
      const int32_t corner = faces[index_2D_array(i, j, numFaces)];
      check_index("faces", corner, i, j, 1, numVerts);
      const Count count = ++counts.count[corner - 1];
      if (count == 0) counts.wrapped = true;
      if (count > counts.largest) counts.largest = count;
    }
  }
  return counts;
}

template CornerCounts<uint8_t> face_corner_counts(const int32_t*, int32_t, int32_t);
template CornerCounts<int32_t> face_corner_counts(const int32_t*, int32_t, int32_t);

}  // namespace tulm
