// The counting pass that both table builders share.
#ifndef TULM_CORE_CONNECTIVITY_FACE_CORNERS_H
#define TULM_CORE_CONNECTIVITY_FACE_CORNERS_H

#include <cstdint>
#include <vector>

namespace tulm {

// Counts, for every vertex, the face corners that name it (a face naming a vertex twice
// counts twice).
//
// Inputs:
//   faces     F x 3 int32, row form, 1-based corners (only the first three columns are read)
//   numFaces  F
//   numVerts  V
// Output:
//   V counts. Ends the call on a corner outside 1..V: "faces holds 9 at (2, 3), outside 1..4".
std::vector<int32_t> faceCornerCounts(const int32_t* faces, int32_t numFaces, int32_t numVerts);

// The largest entry of counts, 0 when there is none.
int32_t largestCount(const std::vector<int32_t>& counts);

}  // namespace tulm

#endif  // TULM_CORE_CONNECTIVITY_FACE_CORNERS_H
