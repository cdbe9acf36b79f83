#ifndef TULM_CORE_MEASURES_TULM_CALCULATESURFACEAREA_H
#define TULM_CORE_MEASURES_TULM_CALCULATESURFACEAREA_H

#include <cstdint>

namespace tulm {

// Area of face i of a row-form mesh, from the squared edge lengths and the dot product of the
// two edges at corner 0 (Lagrange's identity), every step rounded to single.
//
// Inputs:
//   vertices  V x 3 single, row form
//   faces     F x 3 int32, row form, 1-based corners (only the first three columns are read)
//   i         0-based face, below F
// Output:
//   0.5 * sqrt(d) with d = |u|^2 |w|^2 - (u.w)^2, the root and the halving in double.
// Known quirks:
//   d below 0 (cancellation on nearly degenerate faces) counts as 0, so such a face has area
//   0, never NaN; a NaN d stays NaN. Ends the call on a corner outside 1..V.
float triangle_area(const float* vertices, const int32_t* faces, int32_t i, int32_t numFaces,
                    int32_t numVerts);

// Total area of a row-form mesh: the face areas summed in face order into a single that
// starts at 0. No face gives 0.
float TULM_calculateSurfaceArea(const float* vertices, int32_t numVerts, const int32_t* faces,
                                int32_t numFaces);

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_TULM_CALCULATESURFACEAREA_H
