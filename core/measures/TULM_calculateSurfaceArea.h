#ifndef TULM_CORE_MEASURES_TULM_CALCULATESURFACEAREA_H
#define TULM_CORE_MEASURES_TULM_CALCULATESURFACEAREA_H

#include <cstdint>

namespace tulm {

// Total area of a row-form mesh.
//
// Inputs:
//   vertices  V x 3 single, row form
//   numVerts  V
//   faces     F x 3 int32, row form, 1-based corners (only the first three columns are read)
//   numFaces  F
// Output:
//   the face areas summed in face order into a single that starts at 0 (0 without faces).
//   A face's area comes from its squared edge lengths and the dot product of its two edges at
//   corner 0 (Lagrange's identity): 0.5 * sqrt(|u|^2 |w|^2 - (u.w)^2), every step rounded to
//   single except the root and the halving, which are taken in double.
// Known quirks:
//   A face whose squared area rounds below 0 (cancellation on nearly degenerate faces) counts
//   0, never NaN; a NaN stays NaN. Ends the call on the first corner outside 1..V, in face
//   order. Large calls make the areas on several threads and add them in face order all the
//   same, so the total has the same bits at any thread count.
float TULM_calculateSurfaceArea(const float* vertices, int32_t numVerts, const int32_t* faces,
                                int32_t numFaces);

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_TULM_CALCULATESURFACEAREA_H
