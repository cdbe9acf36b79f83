#include "core/folding/TULM_computeLocalFoldPenalty.h"

#include <vector>

namespace tulm {

void TULM_computeLocalFoldPenalty(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                  float offset, float* P, const CreateInvolvedList& createList) {
  std::vector<float> areas(mesh.numFaces);
  visit_and_list(mesh, visit, numVisits, offset, areas.data(), nullptr, P, false, createList);
}

}  // namespace tulm
