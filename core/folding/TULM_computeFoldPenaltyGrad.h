// TULM_computeFoldPenaltyGrad: the fold penalty over the whole mesh, with its gradient.
#ifndef TULM_CORE_FOLDING_TULM_COMPUTEFOLDPENALTYGRAD_H
#define TULM_CORE_FOLDING_TULM_COMPUTEFOLDPENALTYGRAD_H

#include "core/folding/fold_model.h"

namespace tulm {

// The penalty of the flipped faces and its gradient.
//
// Inputs:
//   mesh     vertices 3 x V, faces 3 x F, VertexFaces K x V (fold_model.h)
//   offset   lambda, added to the signed area of every flipped face
// Outputs:
//   P        1 single: sum over flipped faces, in face order, of (signed area + offset)
//   G        3 x V single, zero-filled, or null when not wanted: column v sums the area
//            gradients of the flipped faces that column v of VertexFaces lists
// Known quirks:
//   G follows VertexFaces, not the face matrix: a vertex whose column begins with 0 gets a zero
//   column even as a corner of a flipped face, and a face listed twice adds twice. A flipped
//   face with an area below kGradientAreaFloor counts in P but adds no gradient.
void TULM_computeFoldPenaltyGrad(const FoldMesh& mesh, float offset, float* P, float* G);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_TULM_COMPUTEFOLDPENALTYGRAD_H
