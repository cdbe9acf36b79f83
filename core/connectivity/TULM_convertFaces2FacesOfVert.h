#ifndef TULM_CORE_CONNECTIVITY_TULM_CONVERTFACES2FACESOFVERT_H
#define TULM_CORE_CONNECTIVITY_TULM_CONVERTFACES2FACESOFVERT_H

#include <cstdint>
#include <functional>

namespace tulm {

// Builds the faces-of-vertex table of a triangle mesh.
//
// Inputs:
//   faces        F x 3 int32, row form, 1-based corners (only the first three columns are read)
//   numFaces     F
//   numVerts     V
//   createTable  called once with K; returns zero-filled storage for V*K int32
// Output:
//   the V x K table, column-major (slot k of vertex v at v + k*V), 1-based faces in
//   ascending order, 0 = empty slot.
// Known quirks:
//   K is the largest number of face corners naming one vertex, so every row has room. A face
//   that names a vertex twice is listed twice in that vertex's row, in adjacent slots. Ends
//   the call on a corner outside 1..V, or when V*K does not fit an int32.
void TULM_convertFaces2FacesOfVert(const int32_t* faces, int32_t numFaces, int32_t numVerts,
                                   const std::function<int32_t*(int32_t K)>& createTable);

}  // namespace tulm

#endif  // TULM_CORE_CONNECTIVITY_TULM_CONVERTFACES2FACESOFVERT_H
