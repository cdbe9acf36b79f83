#ifndef TULM_CORE_CONNECTIVITY_TULM_CONVERTFACES2VERTNBORS_H
#define TULM_CORE_CONNECTIVITY_TULM_CONVERTFACES2VERTNBORS_H

#include <cstdint>
#include <functional>

namespace tulm {

// Builds the neighbour table of a triangle mesh.
//
// Inputs:
//   faces        F x 3 int32, row form, 1-based corners (only the first three columns are read)
//   numFaces     F
//   numVerts     V
//   createTable  called with K; returns zero-filled storage for V*K int32. Called a second
//                time, with a larger K, when a vertex has more neighbours than the first K;
//                the first storage is then no longer used.
// Output:
//   the V x K table, column-major (slot k of vertex v at v + k*V), 1-based neighbours in the
//   order their shared edge is first met (faces in order, corner pairs (0,1), (0,2), (1,2)
//   within a face), 0 = empty slot.
// Known quirks:
//   K is the largest number of face corners naming one vertex, which on a closed mesh is the
//   largest degree. On open or non-manifold meshes a vertex can have more neighbours than
//   face corners; K then grows to the largest neighbour count so that every neighbour has a
//   slot. A face that names a vertex twice adds only its real edges: no vertex is its own
//   neighbour. Ends the call on a corner outside 1..V, or when V*K does not fit an int32.
void TULM_convertFaces2VertNbors(const int32_t* faces, int32_t numFaces, int32_t numVerts,
                                 const std::function<int32_t*(int32_t K)>& createTable);

}  // namespace tulm

#endif  // TULM_CORE_CONNECTIVITY_TULM_CONVERTFACES2VERTNBORS_H
