#include "core/folding/TULM_computeLocalFoldPenaltyGrad.h"

#include <vector>

namespace tulm {

void TULM_computeLocalFoldPenaltyGrad(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                      float offset, float* P, float* G,
                                      const CreateInvolvedList& createList) {
  // P and L as TULM_computeLocalFoldPenalty, the flipped faces marked. Then, for each vertex w
  // of L, column w of G takes, in list order, g + G for each marked face that column w of
  // VertexFaces lists, g the gradient of the face's area at w (faceAreaGradient).
  std::vector<float> areas(mesh.numFaces);
  FlippedFaces flipped(G != nullptr ? mesh.numFaces : 0);
  const std::vector<int32_t> involved =
      visit_and_list(mesh, visit, numVisits, offset, areas.data(),
                     G != nullptr ? &flipped : nullptr, P, G != nullptr, createList);
  if (G == nullptr) return;
  add_flip_gradients(mesh, flipped, involved, G);
}

}  // namespace tulm
