#include "core/folding/fold_penalty.h"

#include <vector>

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeFoldPenaltyGrad(const FoldMesh& mesh, float offset, float* P, float* G) {
  std::vector<float> areas(mesh.numFaces);
  *P = flipFacePass(mesh, offset, areas.data());
  if (G == nullptr) return;
  for (int32_t v = 0; v < mesh.numVerts; ++v) {
    addFlipGradientColumn(mesh, areas.data(), v, G + index_2D_array(0, v, 3));
  }
}

void TULM_computeFoldPenalty(const FoldMesh& mesh, float offset, float* P) {
  std::vector<float> areas(mesh.numFaces);
  *P = flipFacePass(mesh, offset, areas.data());
}

}  // namespace tulm
