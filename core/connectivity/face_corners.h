// The counting pass that both table builders share, and the ranges their threads take.
#ifndef TULM_CORE_CONNECTIVITY_FACE_CORNERS_H
#define TULM_CORE_CONNECTIVITY_FACE_CORNERS_H

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/parallel.h"
#include "core/zeroed_array.h"

namespace tulm {

// Face corners whose reading takes about as long as starting a thread.
constexpr int64_t kCornerGrain = 131072;
// Faces between two polls for Ctrl-C in the loops over every face: a millisecond or less.
constexpr int32_t kFacesPerPoll = 1 << 18;

// The faces [begin, end) of range r when `ranges` ranges share numFaces faces in order.
struct FaceRange {
  int32_t begin;
  int32_t end;

  FaceRange(int32_t numFaces, int32_t r, int32_t ranges)
      : begin(static_cast<int32_t>(int64_t{numFaces} * r / ranges)),
        end(static_cast<int32_t>(int64_t{numFaces} * (r + 1) / ranges)) {}
};

// Calls body(r) for every r in [0, ranges): on the calling thread alone when ranges is 1, else
// each on a thread of its own. Rethrows the exception of the lowest range that threw.
template <class Body>
void for_each_range(int32_t ranges, Body body) {
  if (ranges <= 1) {
    body(int32_t{0});
    return;
  }
  parallel_for(ranges, 1, [&](int32_t first, int32_t last) {
    for (int32_t r = first; r < last; ++r) body(r);
  });
}

// Per vertex, the face corners naming it, counted over consecutive ranges of faces, one
// thread each. upTo[r][v] holds the corners naming v among the faces of ranges 0..r, so the
// last array holds each vertex's full count, and a vertex's corners in range r come after
// upTo[r - 1][v] others. A face naming a vertex twice counts twice.
template <class Count>
struct CornerCounts {
  std::vector<ZeroedArray<Count>> upTo;
  int32_t largest = 0;   // the largest full count, 0 without faces
  bool wrapped = false;  // a count went past what Count holds; the counts are then wrong
  // True when the arrays were read whole: every vertex has its count, also those no face
  // names. Otherwise (many more vertices than face corners) only the named vertices' counts
  // were touched, and there is one range.
  bool dense = false;

  int32_t ranges() const { return static_cast<int32_t>(upTo.size()); }
  Count* full() { return upTo.back().data(); }
};

// Counts the face corners naming every vertex, in as many ranges of faces as the threads
// (for large meshes) and the memory allow: every range's count array together take no more
// bytes than the face corners when Count is one byte. Count is uint8_t, a quarter of the
// memory of an int32_t, when no vertex is named more than 255 times (wrapped tells), or
// int64_t, which cannot wrap.
//
// Inputs:
//   faces     F x 3 int32, row form, 1-based corners (only the first three columns are read)
//   numFaces  F
//   numVerts  V
// Output:
//   the counts of max(V, 0) vertices. Ends the call on a corner outside 1..V, the first in
//   column order: "faces holds 9 at (2, 3), outside 1..4".
template <class Count>
CornerCounts<Count> face_corner_counts(const int32_t* faces, int32_t numFaces, int32_t numVerts);

}  // namespace tulm

#endif  // TULM_CORE_CONNECTIVITY_FACE_CORNERS_H
