#include "core/folding/TULM_computeLocalFoldPenalty.h"

#include <vector>

namespace tulm {

void TULM_computeLocalFoldPenalty(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                  float offset, float* P, const CreateInvolvedList& createList) {
  // The faces around each visited vertex in turn, each evaluated once (its signed area cached; a
  // cached 0 counts as not evaluated): a flipped face adds s + offset to P in single, in order of
  // discovery, and its corners v0, v1, v2 join L unless they are in it.
  std::vector<float> areas(mesh.numFaces);
  visit_and_list(mesh, visit, numVisits, offset, areas.data(), nullptr, P, false, createList);
}

}  // namespace tulm
