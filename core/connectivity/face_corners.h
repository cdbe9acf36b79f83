// The counting pass that both table builders share.
#ifndef TULM_CORE_CONNECTIVITY_FACE_CORNERS_H
#define TULM_CORE_CONNECTIVITY_FACE_CORNERS_H

#include <algorithm>
#include <cstdint>

#include "core/parallel.h"
#include "core/zeroed_array.h"

namespace tulm {

// Face corners whose reading takes about as long as starting a thread.
constexpr int64_t kCornerGrain = 131072;

// The vertices [begin, end) whose rows of a table one thread builds. Every thread reads all
// faces and writes only the rows of its own vertices, in the order one thread would write them,
// so a table is the same at any thread count.
struct VertexRange {
  int32_t begin;
  int32_t end;

  bool holds(int32_t v) const {
    return static_cast<uint32_t>(v - begin) < static_cast<uint32_t>(end - begin);
  }
};

// Every vertex, when one thread builds the whole table: the tests of ownership vanish.
struct AllVertices {
  bool holds(int32_t /*v*/) const { return true; }
};

// Calls body(range) for consecutive ranges covering [0, numVerts), one per thread, or
// body(AllVertices{}) on the calling thread for small meshes (fewer than two grains of
// `corners`) or one thread. Rethrows the exception of the lowest range that threw.
template <class Body>
void for_each_vertex_range(int32_t numVerts, int64_t corners, Body body) {
  const int32_t ranges = corners < 2 * kCornerGrain
                             ? 1
                             : static_cast<int32_t>(std::min<int64_t>(
                                   {thread_count(), corners / kCornerGrain, numVerts}));
  if (ranges <= 1) {
    body(AllVertices{});
    return;
  }
  parallel_for(ranges, 1, [&](int32_t first, int32_t last) {
    for (int32_t r = first; r < last; ++r) {
      body(VertexRange{static_cast<int32_t>(int64_t{numVerts} * r / ranges),
                       static_cast<int32_t>(int64_t{numVerts} * (r + 1) / ranges)});
    }
  });
}

template <class Count>
struct CornerCounts {
  ZeroedArray<Count> count;  // per vertex: the face corners naming it
  int32_t largest = 0;       // the largest count, 0 without faces
  bool wrapped = false;      // a count went past what Count holds; the counts are then wrong
};

using FaceCornerCounts = CornerCounts<int32_t>;

// Counts, for every vertex, the face corners that name it (a face naming a vertex twice
// counts twice), in vertex ranges on several threads for large meshes. The work follows the
// faces, not numVerts: the counters of vertices no face names are never touched. Count is int32_t,
// or uint8_t for a quarter of the fresh memory when no vertex is named more than 255 times (wrapped
// tells).
//
// Inputs:
//   faces     F x 3 int32, row form, 1-based corners (only the first three columns are read)
//   numFaces  F
//   numVerts  V
// Output:
//   max(V, 0) counts and their largest. Ends the call on a corner outside 1..V:
//   "faces holds 9 at (2, 3), outside 1..4".
template <class Count>
CornerCounts<Count> face_corner_counts(const int32_t* faces, int32_t numFaces, int32_t numVerts);

}  // namespace tulm

#endif  // TULM_CORE_CONNECTIVITY_FACE_CORNERS_H
