#include "core/folding/TULM_computeAreaChangePenaltyGrad.h"

#include <vector>

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeAreaChangePenaltyGrad(const FoldMesh& mesh, const float* originalAreas, float* P,
                                       float* G) {
  std::vector<float> areas(mesh.numFaces);
  *P = area_change_face_pass(mesh, originalAreas, areas.data());
  if (G == nullptr) return;
  add_area_change_gradients(mesh, originalAreas, areas.data(), G);
}

}  // namespace tulm
