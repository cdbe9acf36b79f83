#include "core/folding/fold_penalty.h"

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeFoldPenaltyGrad(const FoldMesh& mesh, float offset, float* P, float* G) {
  if (G == nullptr) {
    *P = flipFacePass(mesh, offset, nullptr);
    return;
  }
  FlippedFaces flipped(mesh.numFaces);
  *P = flipFacePass(mesh, offset, &flipped);
  FlipGradients gradients(mesh, flipped, G);
  for (int32_t v = 0; v < mesh.numVerts; ++v) gradients.addColumn(v);
  gradients.finish();
}

void TULM_computeFoldPenalty(const FoldMesh& mesh, float offset, float* P) {
  *P = flipFacePass(mesh, offset, nullptr);
}

}  // namespace tulm
