#include "core/connectivity/face_corners.h"

#include <mutex>

#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {

template <class Count>
CornerCounts<Count> face_corner_counts(const int32_t* faces, int32_t numFaces, int32_t numVerts) {
  CornerCounts<Count> counts{ZeroedArray<Count>(numVerts > 0 ? numVerts : 0), 0, false};
  std::mutex mutex;
  for_each_vertex_range(numVerts, 3 * int64_t{numFaces}, [&](VertexRange range) {
    // Every range checks every corner, so the first bad one ends the call whichever range
    // meets it first. Corners of other ranges count into `elsewhere`, without a branch.
    Count elsewhere = 0;
    Count largest = 0;
    bool wrapped = false;
    for (int32_t j = 0; j < 3; ++j) {
      for (int32_t i = 0; i < numFaces; ++i) {
        const int32_t corner = faces[index_2D_array(i, j, numFaces)];
        check_index("faces", corner, i, j, 1, numVerts);
        const bool own = range.holds(corner - 1);
        Count& slot = own ? counts.count[corner - 1] : elsewhere;
        const Count count = ++slot;
        wrapped |= own & (count == 0);
        largest = std::max(largest, own ? count : Count{0});
      }
    }
    const std::lock_guard<std::mutex> lock(mutex);
    counts.wrapped |= wrapped;
    counts.largest = std::max<int32_t>(counts.largest, largest);
  });
  return counts;
}

template CornerCounts<uint8_t> face_corner_counts(const int32_t*, int32_t, int32_t);
template CornerCounts<int32_t> face_corner_counts(const int32_t*, int32_t, int32_t);

}  // namespace tulm
