// The fold penalty over the faces around a list of vertices: TULM_computeLocalFoldPenaltyGrad,
// TULM_computeLocalFoldPenalty, TULM_computeLocalFoldPenaltyUmbrella.
//
// The cost follows the visited neighbourhood, not the mesh: only the VertexFaces columns of
// visited vertices and, for G and U, of involved vertices are read.
#ifndef TULM_CORE_FOLDING_LOCAL_FOLD_PENALTY_H
#define TULM_CORE_FOLDING_LOCAL_FOLD_PENALTY_H

#include <cstdint>
#include <functional>

#include "core/folding/fold_model.h"

namespace tulm {

// Called once with the number of involved vertices nL; returns storage for nL int32 (null
// when nL is 0). An empty function means the list is not wanted.
using CreateInvolvedList = std::function<int32_t*(int32_t count)>;

// The penalty of the flipped faces around the visited vertices, its gradient, and the
// vertices involved in those faces.
//
// Inputs:
//   mesh        vertices 3 x V, faces 3 x F, VertexFaces K x V (fold_model.h)
//   visit       numVisits 1-based vertices, each in 1..V; repeats are harmless
//   numVisits   0 means every vertex, in order
//   offset      lambda, added to the signed area of every flipped face
// Outputs:
//   P           1 single: sum of (signed area + offset) over the flipped faces met, each face
//               counted once, in order of discovery
//   G           3 x V single, zero-filled, or null when not wanted: column w of an involved
//               vertex sums the gradients of the flipped faces that P counted and that
//               column w of VertexFaces lists; other columns stay 0
//   createList  receives L, the corners v0, v1, v2 of each flipped face in order of discovery,
//               each vertex once (1-based)
// Known quirks:
//   A face is re-evaluated only when its cached area came out exactly 0. An involved vertex
//   that was not visited gets no gradient from flipped faces that no visited vertex reached.
void TULM_computeLocalFoldPenaltyGrad(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                      float offset, float* P, float* G,
                                      const CreateInvolvedList& createList);

// P and L as TULM_computeLocalFoldPenaltyGrad gives them.
void TULM_computeLocalFoldPenalty(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                  float offset, float* P, const CreateInvolvedList& createList);

// P and L as TULM_computeLocalFoldPenaltyGrad gives them, and the umbrella vectors.
//
// Extra inputs:
//   vertexNbors   nborRows x nborCols int32, column v the 1-based neighbours of v (each in
//                 1..V), ended by the first entry below 1
// Extra output:
//   U             3 x V single, zero-filled, or null when not wanted: column w of an involved
//                 vertex is its position minus the mean position of its neighbours
// Known quirks:
//   With no neighbour rows, U is the position plus the quiet NaN 0xFFC00000; with a neighbour
//   column that begins below 1 it is the position plus 0/0. Either way every component is NaN.
//   The neighbour table needs a column only for the involved vertices.
void TULM_computeLocalFoldPenaltyUmbrella(const FoldMesh& mesh, const int32_t* vertexNbors,
                                          int32_t nborRows, int32_t nborCols, const int32_t* visit,
                                          int32_t numVisits, float offset, float* P, float* U,
                                          const CreateInvolvedList& createList);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_LOCAL_FOLD_PENALTY_H
