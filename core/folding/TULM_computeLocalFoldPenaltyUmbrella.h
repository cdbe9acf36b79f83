// TULM_computeLocalFoldPenaltyUmbrella: the fold penalty over the faces around a list of
// vertices, the vertices involved in flipped faces, and their umbrella vectors.
#ifndef TULM_CORE_FOLDING_TULM_COMPUTELOCALFOLDPENALTYUMBRELLA_H
#define TULM_CORE_FOLDING_TULM_COMPUTELOCALFOLDPENALTYUMBRELLA_H

#include <cstdint>

#include "core/folding/fold_model.h"
#include "core/folding/fold_passes.h"

namespace tulm {

// P and L, bit for bit as TULM_computeLocalFoldPenaltyGrad gives them, and the umbrella vector
// of every involved vertex.
//
// Inputs:
//   mesh          vertices 3 x V, faces 3 x F, VertexFaces K x V (fold_model.h)
//   vertexNbors   nborRows x nborCols int32, column v the 1-based neighbours of v (each in
//                 1..V), ended by the first entry below 1
//   visit         numVisits 1-based vertices, each in 1..V; repeats are harmless; null (an
//                 empty list) means every vertex, in order
//   numVisits     the entries of visit read: the row count of the list
//   offset        lambda, added to the signed area of every flipped face
// Outputs:
//   P             1 single: sum of (signed area + offset) over the flipped faces met
//   U             3 x V single, zero-filled, or null when not wanted: column w of an involved
//                 vertex is its position minus the mean position of its neighbours; other
//                 columns stay 0
//   createList    receives L, the corners of each flipped face in order of discovery, each
//                 vertex once (1-based)
// Known quirks:
//   With no neighbour rows, U is the position plus the quiet NaN 0xFFC00000; with a neighbour
//   column that begins below 1 it is the position plus 0/0. Either way every component is NaN.
//   The neighbour table needs a column only for the involved vertices.
void TULM_computeLocalFoldPenaltyUmbrella(const FoldMesh& mesh, const int32_t* vertexNbors,
                                          int32_t nborRows, int32_t nborCols, const int32_t* visit,
                                          int32_t numVisits, float offset, float* P, float* U,
                                          const CreateInvolvedList& createList);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_TULM_COMPUTELOCALFOLDPENALTYUMBRELLA_H
