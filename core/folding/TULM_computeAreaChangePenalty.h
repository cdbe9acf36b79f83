// TULM_computeAreaChangePenalty: the squared change of the signed face areas, value only.
#ifndef TULM_CORE_FOLDING_TULM_COMPUTEAREACHANGEPENALTY_H
#define TULM_CORE_FOLDING_TULM_COMPUTEAREACHANGEPENALTY_H

#include "core/folding/fold_model.h"

namespace tulm {

// The squared change of every signed face area against given areas, bit for bit the P of
// TULM_computeAreaChangePenaltyGrad.
//
// Inputs:
//   mesh           vertices 3 x V, faces 3 x F (fold_model.h); VertexFaces is not read
//   originalAreas  F singles; entry f is compared with the signed area s_f of face f
// Output:
//   P              1 single: sum over faces, in order, of (s_f - o_f)^2
// Known quirks:
//   The areas are signed: a mesh measured against its own unsigned areas has P = sum of
//   (2 |s_f|)^2 over its properly oriented faces. A NaN area or original area makes P NaN.
void TULM_computeAreaChangePenalty(const FoldMesh& mesh, const float* originalAreas, float* P);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_TULM_COMPUTEAREACHANGEPENALTY_H
