#ifndef TULM_CORE_MEASURES_TULM_GAUSSIANSMOOTHVERTEXDATA_H
#define TULM_CORE_MEASURES_TULM_GAUSSIANSMOOTHVERTEXDATA_H

#include <cstdint>

namespace tulm {

// One step of Gaussian smoothing of per-vertex data over the neighbour table.
//
// Inputs:
//   vertices      3 x V single, column form
//   numVerts      V
//   vertexNbors   K x V int32, column form, 1-based neighbours
//   maxNeighbors  K
//   data          D x V single
//   numData       D
//   s             the variance of the Gaussian (it divides the squared distance, unsquared)
// Output:
//   smoothed      D x V singles: (data(:, i) + sum of w_n data(:, n)) / (1 + sum of w_n) with
//                 w_n = rounded_expf((0.5f / s) * -d2), d2 the squared distance from vertex i
//                 to n: e^(...) rounded correctly, the same bits whatever the C library.
// Known quirks:
//   A column's list ends at its first entry below 1; later slots are ignored even when they
//   hold vertices. s <= 0 or NaN makes every weight 1 (the plain mean). The vertex counts
//   once with weight 1 besides any listing of itself; a neighbour listed twice counts twice.
//   Every step is single precision in the order written, so results are bit-exact. Ends the
//   call on a listed entry above V.
void TULM_gaussianSmoothVertexData(const float* vertices, int32_t numVerts,
                                   const int32_t* vertexNbors, int32_t maxNeighbors,
                                   const float* data, int32_t numData, float s, float* smoothed);

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_TULM_GAUSSIANSMOOTHVERTEXDATA_H
