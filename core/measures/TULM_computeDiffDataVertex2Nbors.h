#ifndef TULM_CORE_MEASURES_TULM_COMPUTEDIFFDATAVERTEX2NBORS_H
#define TULM_CORE_MEASURES_TULM_COMPUTEDIFFDATAVERTEX2NBORS_H

#include <cstdint>

namespace tulm {

// Difference of per-vertex data along every slot of the neighbour table.
//
// Inputs:
//   maxNeighbors  K
//   numVerts      V
//   numData       D
//   vertexNbors   K x V int32, column form, 1-based neighbours, 0 = empty slot
//   data          D x V single
// Output:
//   diffs         D x K x V singles, zero-filled by the caller; element (d, k, v) gets
//                 data(d, v) - data(d, n): the vertex's own value minus its neighbour's.
// Known quirks:
//   An empty slot keeps its D zeros and the slots after it are still read. Ends the call on
//   an entry outside 0..V.
void TULM_computeDiffDataVertex2Nbors(int32_t maxNeighbors, int32_t numVerts, int32_t numData,
                                      const int32_t* vertexNbors, const float* data, float* diffs);

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_TULM_COMPUTEDIFFDATAVERTEX2NBORS_H
