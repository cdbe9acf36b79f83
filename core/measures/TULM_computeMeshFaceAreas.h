#ifndef TULM_CORE_MEASURES_TULM_COMPUTEMESHFACEAREAS_H
#define TULM_CORE_MEASURES_TULM_COMPUTEMESHFACEAREAS_H

#include <cstdint>

namespace tulm {

// Area of every face of a column-form mesh, from the cross product of the two edges at
// corner 0, every step rounded to single.
//
// Inputs:
//   numFaces  F
//   faces     3 x F int32, column form, 1-based corners
//   vertices  3 x V single, column form
//   numVerts  V
// Output:
//   areas     F singles, face order: 0.5 * sqrt(|c|^2), the root and the halving in double.
// Known quirks:
//   No clamp: |c|^2 is a sum of squares. Ends the call on the first corner outside 1..V (in
//   face order, whatever the thread count). Large calls share the faces among threads.
void TULM_computeMeshFaceAreas(int32_t numFaces, const int32_t* faces, const float* vertices,
                               int32_t numVerts, float* areas);

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_TULM_COMPUTEMESHFACEAREAS_H
