// TULM_computeLocalFoldPenaltyGrad: the fold penalty over the faces around a list of vertices,
// with its gradient and the vertices involved in flipped faces.
#ifndef TULM_CORE_FOLDING_TULM_COMPUTELOCALFOLDPENALTYGRAD_H
#define TULM_CORE_FOLDING_TULM_COMPUTELOCALFOLDPENALTYGRAD_H

#include <cstdint>

#include "core/folding/fold_model.h"
#include "core/folding/fold_passes.h"

namespace tulm {

// The penalty of the flipped faces around the visited vertices, its gradient, and the
// vertices involved in those faces. The cost follows the visited neighbourhood, not the mesh:
// only the VertexFaces columns of visited and, for G, of involved vertices are read.
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
//   G           3 x V single, zero-filled, or null when not wanted: column w of an involved
//               vertex sums the gradients of the flipped faces that P counted and that
//               column w of VertexFaces lists; other columns stay 0
//   createList  receives L, the corners v0, v1, v2 of each flipped face in order of discovery,
//               each vertex once (1-based)
// Known quirks:
//   A face is re-evaluated only when its cached area came out exactly 0. An involved vertex
//   that was not visited gets no gradient from flipped faces that no visited vertex reached.
//   Visiting every vertex counts the faces in order of discovery, so P can differ in the last
//   bits from the P of TULM_computeFoldPenaltyGrad.
void TULM_computeLocalFoldPenaltyGrad(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                      float offset, float* P, float* G,
                                      const CreateInvolvedList& createList);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_TULM_COMPUTELOCALFOLDPENALTYGRAD_H
