#include "core/folding/fold_penalty.h"

#include <vector>

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeFoldPenaltyGrad(const FoldMesh& mesh, float offset, float* P, float* G) {
  std::vector<float> areas(mesh.numFaces);
  *P = flipFacePass(mesh, offset, areas.data());
  if (G == nullptr) return;
  FlipGradients gradients(mesh, areas.data(), G);
  for (int32_t v = 0; v < mesh.numVerts; ++v) gradients.addColumn(v);
  gradients.finish();
}

void TULM_computeFoldPenalty(const FoldMesh& mesh, float offset, float* P) {
  std::vector<float> areas(mesh.numFaces);
  *P = flipFacePass(mesh, offset, areas.data());
}

}  // namespace tulm
