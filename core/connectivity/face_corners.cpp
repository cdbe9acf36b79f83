#include "core/connectivity/face_corners.h"

#include <algorithm>
#include <atomic>

#include "core/errors.h"
#include "core/interrupt.h"
#include "core/mesh_arrays.h"

namespace tulm {

namespace {

// Counts the corners column[begin..end-1] into count; false at a corner outside 1..numRows.
// Nothing else is read or kept per corner: a running largest count or a test of each new count
// would make every corner wait for its counter's store, which halves the speed. (The arrays
// come as arguments, not through a lambda's captures: one-byte counts could alias those, and
// every store would reload them.)
template <class Count>
bool count_corners(const int32_t* column, int32_t begin, int32_t end, uint32_t numRows,
                   Count* count) {
  for (int32_t i = begin; i < end; ++i) {
    const uint32_t v = static_cast<uint32_t>(column[i]) - 1u;
    if (v >= numRows) return false;
    ++count[v];
  }
  return true;
}

// Counts the corners of the faces of `range` into count, column by column; false at a corner
// outside 1..numVerts.
template <class Count>
bool count_range(FaceRange range, const int32_t* faces, int32_t numFaces, int32_t numVerts,
                 Count* count) {
  const uint32_t numRows = static_cast<uint32_t>(std::max(numVerts, 0));
  bool good = true;
  for (int32_t j = 0; j < 3; ++j) {
    const int32_t* column = faces + int64_t{numFaces} * j;
    in_polled_blocks(range.begin, range.end, kFacesPerPoll, [&](int32_t begin, int32_t end) {
      good = good && count_corners(column, begin, end, numRows, count);
    });
  }
  return good;
}

// The counting of a mesh with many more vertices than face corners, on one thread: the work
// and the memory touched follow the faces, so the largest count and the wrapping are tracked
// per corner instead of read from the whole array afterwards.
template <class Count>
void count_named_vertices(const int32_t* faces, int32_t numFaces, int32_t numVerts, Count* count,
                          int32_t& largest, bool& wrapped) {
  Count most = 0;
  bool wraps = false;
  for (int32_t j = 0; j < 3; ++j) {
    in_polled_blocks(0, numFaces, kFacesPerPoll, [&](int32_t begin, int32_t end) {
      for (int32_t i = begin; i < end; ++i) {
        const int32_t corner = faces[index_2D_array(i, j, numFaces)];
        check_index("faces", corner, i, j, 1, numVerts);
        const Count n = ++count[corner - 1];
        wraps |= n == 0;
        most = std::max(most, n);
      }
    });
  }
  largest = static_cast<int32_t>(std::min<int64_t>(most, INT32_MAX));
  wrapped = wraps;
}

// Ends the call on the first corner outside 1..numVerts in column order, as one thread
// counting the columns in turn meets it.
void check_corners(const int32_t* faces, int32_t numFaces, int32_t numVerts) {
  for (int32_t j = 0; j < 3; ++j) {
    for (int32_t i = 0; i < numFaces; ++i) {
      check_index("faces", faces[index_2D_array(i, j, numFaces)], i, j, 1, numVerts);
    }
  }
}

// Turns the ranges' own counts into counts up to each range, and finds the largest full
// count. A count that wrapped in its own range shows in the total of all counts, which then
// falls short of the corners.
template <class Count>
void add_up_ranges(CornerCounts<Count>& counts, int32_t numRows, int64_t corners) {
  uint64_t total = 0;
  for (ZeroedArray<Count>& own : counts.upTo) {
    poll_interrupt();
    const Count* count = own.data();
    for (int32_t v = 0; v < numRows; ++v) total += count[v];
  }
  bool carried = false;
  for (int32_t r = 1; r < counts.ranges(); ++r) {
    poll_interrupt();
    const Count* before = counts.upTo[r - 1].data();
    Count* count = counts.upTo[r].data();
    for (int32_t v = 0; v < numRows; ++v) {
      const Count sum = static_cast<Count>(count[v] + before[v]);
      carried |= sum < before[v];
      count[v] = sum;
    }
  }
  const Count* full = counts.full();
  Count most = 0;
  for (int32_t v = 0; v < numRows; ++v) most = std::max(most, full[v]);
  counts.largest = static_cast<int32_t>(std::min<int64_t>(most, INT32_MAX));
  counts.wrapped = carried || total != static_cast<uint64_t>(corners);
}

}  // namespace

template <class Count>
CornerCounts<Count> face_corner_counts(const int32_t* faces, int32_t numFaces, int32_t numVerts) {
  const int32_t numRows = numVerts > 0 ? numVerts : 0;
  const int64_t corners = 3 * int64_t{numFaces};
  CornerCounts<Count> counts;
  counts.dense = numRows <= corners;
  if (!counts.dense) {
    counts.upTo.emplace_back(numRows);
    count_named_vertices(faces, numFaces, numVerts, counts.full(), counts.largest, counts.wrapped);
    return counts;
  }
  // Every range's array is read whole afterwards: together they hold no more entries than
  // the corners, so that the arrays cost less than reading the faces.
  const int32_t ranges = corners < 2 * kCornerGrain
                             ? 1
                             : static_cast<int32_t>(std::max<int64_t>(
                                   1, std::min<int64_t>({thread_count(), corners / kCornerGrain,
                                                         corners / std::max(numRows, 1)})));
  counts.upTo.reserve(ranges);
  for (int32_t r = 0; r < ranges; ++r) counts.upTo.emplace_back(numRows);
  std::atomic<bool> bad{false};
  for_each_range(ranges, [&](int32_t r) {
    if (!count_range(FaceRange(numFaces, r, ranges), faces, numFaces, numVerts,
                     counts.upTo[r].data())) {
      bad.store(true, std::memory_order_relaxed);
    }
  });
  if (bad.load()) check_corners(faces, numFaces, numVerts);
  add_up_ranges(counts, numRows, corners);
  return counts;
}

template CornerCounts<uint8_t> face_corner_counts(const int32_t*, int32_t, int32_t);
template CornerCounts<int64_t> face_corner_counts(const int32_t*, int32_t, int32_t);

}  // namespace tulm
