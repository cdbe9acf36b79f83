#include "core/connectivity/face_corners.h"

#include <algorithm>
#include <mutex>

#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {

namespace {

// Counts the corners of the vertices of `range` into count, checking every corner, so that the
// first bad one ends the call whichever range meets it first; the corners of other ranges
// count into `elsewhere`, without a branch. (The arrays come as arguments, not through a
// lambda's captures: one-byte counts could alias those, and every store would reload them.)
template <class Range, class Count>
void count_range(Range range, const int32_t* faces, int32_t numFaces, int32_t numVerts,
                 Count* count, Count& largest, bool& wrapped) {
  Count elsewhere = 0;
  Count most = 0;
  bool wraps = false;
  for (int32_t j = 0; j < 3; ++j) {
    for (int32_t i = 0; i < numFaces; ++i) {
      const int32_t corner = faces[index_2D_array(i, j, numFaces)];
      check_index("faces", corner, i, j, 1, numVerts);
      const bool own = range.holds(corner - 1);
      const Count n = ++(own ? count[corner - 1] : elsewhere);
      wraps |= own & (n == 0);
      most = std::max(most, own ? n : Count{0});
    }
  }
  largest = most;
  wrapped = wraps;
}

}  // namespace

template <class Count>
CornerCounts<Count> face_corner_counts(const int32_t* faces, int32_t numFaces, int32_t numVerts) {
  CornerCounts<Count> counts{ZeroedArray<Count>(numVerts > 0 ? numVerts : 0), 0, false};
  Count* count = counts.count.data();
  std::mutex mutex;
  for_each_vertex_range(numVerts, 3 * int64_t{numFaces}, [&](auto range) {
    Count largest;
    bool wrapped;
    count_range(range, faces, numFaces, numVerts, count, largest, wrapped);
    const std::lock_guard<std::mutex> lock(mutex);
    counts.wrapped |= wrapped;
    counts.largest = std::max<int32_t>(counts.largest, largest);
  });
  return counts;
}

template CornerCounts<uint8_t> face_corner_counts(const int32_t*, int32_t, int32_t);
template CornerCounts<int32_t> face_corner_counts(const int32_t*, int32_t, int32_t);

}  // namespace tulm
