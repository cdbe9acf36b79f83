// TULM_computeFoldPenalty: the fold penalty over the whole mesh, value only.
#ifndef TULM_CORE_FOLDING_TULM_COMPUTEFOLDPENALTY_H
#define TULM_CORE_FOLDING_TULM_COMPUTEFOLDPENALTY_H

#include "core/folding/fold_model.h"

namespace tulm {

// The penalty of the flipped faces, bit for bit the P of TULM_computeFoldPenaltyGrad.
//
// Inputs:
//   mesh     vertices 3 x V, faces 3 x F (fold_model.h); VertexFaces is not read
//   offset   lambda, added to the signed area of every flipped face
// Output:
//   P        1 single: sum over flipped faces, in face order, of (signed area + offset)
// Known quirks:
//   A negative offset can make P negative; with no flipped face P is 0 whatever the offset.
void TULM_computeFoldPenalty(const FoldMesh& mesh, float offset, float* P);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_TULM_COMPUTEFOLDPENALTY_H
