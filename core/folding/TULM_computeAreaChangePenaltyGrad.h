// TULM_computeAreaChangePenaltyGrad: the squared change of the signed face areas, with its
// gradient.
#ifndef TULM_CORE_FOLDING_TULM_COMPUTEAREACHANGEPENALTYGRAD_H
#define TULM_CORE_FOLDING_TULM_COMPUTEAREACHANGEPENALTYGRAD_H

#include "core/folding/fold_model.h"

namespace tulm {

// The squared change of every signed face area against given areas, and its gradient.
//
// Inputs:
//   mesh           vertices 3 x V, faces 3 x F, VertexFaces K x V (fold_model.h)
//   originalAreas  F singles; entry f is compared with the signed area s_f of face f
// Outputs:
//   P              1 single: sum over faces, in order, of (s_f - o_f)^2
//   G              3 x V single, zero-filled, or null when not wanted: column v sums, over the
//                  faces that column v of VertexFaces lists, g * (-2 * (s_f - o_f)) with g the
//                  gradient of the face's unsigned area with respect to vertex v
// Known quirks:
//   The factor -2 * (s_f - o_f) is the same for every face. Since g belongs to the unsigned
//   area, a term is the derivative of (s_f - o_f)^2 for faces with s_f <= 0 (properly
//   oriented) and its negative for flipped faces.
void TULM_computeAreaChangePenaltyGrad(const FoldMesh& mesh, const float* originalAreas, float* P,
                                       float* G);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_TULM_COMPUTEAREACHANGEPENALTYGRAD_H
