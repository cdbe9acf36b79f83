// TULM_computeLocalFoldPenalty: the fold penalty over the faces around a list of vertices, and
// the vertices involved in flipped faces.
#ifndef TULM_CORE_FOLDING_TULM_COMPUTELOCALFOLDPENALTY_H
#define TULM_CORE_FOLDING_TULM_COMPUTELOCALFOLDPENALTY_H

#include <cstdint>

#include "core/folding/fold_model.h"
#include "core/folding/fold_passes.h"

namespace tulm {

// P and L, bit for bit as TULM_computeLocalFoldPenaltyGrad gives them.
//
// Inputs:
//   mesh        vertices 3 x V, faces 3 x F, VertexFaces K x V (fold_model.h)
//   visit       numVisits 1-based vertices, each in 1..V; repeats are harmless; null (an empty
//               list) means every vertex, in order
//   numVisits   the entries of visit read: the row count of the list, so a 1 x n row is read
//               as its first entry alone
//   offset      lambda, added to the signed area of every flipped face
// Outputs:
//   P           1 single: sum of (signed area + offset) over the flipped faces met, each face
//               counted once, in order of discovery
//   createList  receives L, the corners v0, v1, v2 of each flipped face in order of discovery,
//               each vertex once (1-based)
// Known quirks:
//   A face is re-evaluated only when its cached area came out exactly 0.
void TULM_computeLocalFoldPenalty(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                  float offset, float* P, const CreateInvolvedList& createList);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_TULM_COMPUTELOCALFOLDPENALTY_H
