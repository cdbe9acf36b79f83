#ifndef TULM_CORE_MEASURES_TULM_COMPUTEVERTEXDISTSQ2NBORS_H
#define TULM_CORE_MEASURES_TULM_COMPUTEVERTEXDISTSQ2NBORS_H

#include <cstdint>

namespace tulm {

// Squared distance from every vertex to each neighbour in its column of the table.
//
// Inputs:
//   maxNeighbors  K
//   numVerts      V
//   vertexNbors   K x V int32, column form, 1-based neighbours, 0 = empty slot
//   vertices      3 x V single, column form
// Output:
//   distSq        K x V singles, zero-filled by the caller; slot (k, v) gets
//                 (dx*dx + dy*dy) + dz*dz with d = vertex v - its neighbour, in single.
// Known quirks:
//   An empty slot keeps its 0 and the slots after it are still read, so padding may sit
//   anywhere in a column. Ends the call on an entry outside 0..V.
void TULM_computeVertexDistSq2Nbors(int32_t maxNeighbors, int32_t numVerts,
                                    const int32_t* vertexNbors, const float* vertices,
                                    float* distSq);

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_TULM_COMPUTEVERTEXDISTSQ2NBORS_H
