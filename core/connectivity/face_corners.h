// The counting pass that both table builders share.
#ifndef TULM_CORE_CONNECTIVITY_FACE_CORNERS_H
#define TULM_CORE_CONNECTIVITY_FACE_CORNERS_H

#include <cstdint>

#include "core/zeroed_array.h"

namespace tulm {

template <class Count>
struct CornerCounts {
  ZeroedArray<Count> count;  // per vertex: the face corners naming it
  int32_t largest = 0;       // the largest count, 0 without faces
  bool wrapped = false;      // a count went past what Count holds; the counts are then wrong
};

using FaceCornerCounts = CornerCounts<int32_t>;

// Counts, for every vertex, the face corners that name it (a face naming a vertex twice
// counts twice). The work follows the faces, not numVerts: the counters of vertices no face
// names are never touched. Count is int32_t, or uint8_t for a quarter of the fresh memory
// when no vertex is named more than 255 times (wrapped tells).
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
