#include "core/folding/TULM_computeLocalFoldPenaltyGrad.h"

#include <vector>

namespace tulm {

void TULM_computeLocalFoldPenaltyGrad(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                      float offset, float* P, float* G,
                                      const CreateInvolvedList& createList) {
  std::vector<float> areas(mesh.numFaces);
  FlippedFaces flipped(G != nullptr ? mesh.numFaces : 0);
  const std::vector<int32_t> involved =
      visit_and_list(mesh, visit, numVisits, offset, areas.data(),
                     G != nullptr ? &flipped : nullptr, P, G != nullptr, createList);
  if (G == nullptr) return;
  add_flip_gradients(mesh, flipped, involved, G);
}

}  // namespace tulm
