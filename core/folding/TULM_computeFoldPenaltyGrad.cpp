#include "core/folding/TULM_computeFoldPenaltyGrad.h"

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeFoldPenaltyGrad(const FoldMesh& mesh, float offset, float* P, float* G) {
  if (G == nullptr) {
    *P = flip_face_pass(mesh, offset, nullptr);
    return;
  }
  FlippedFaces flipped(mesh.numFaces);
  *P = flip_face_pass(mesh, offset, &flipped);
  FlipGradients gradients(mesh, flipped, G);
  for (int32_t v = 0; v < mesh.numVerts; ++v) gradients.add_column(v);
  gradients.finish();
}

}  // namespace tulm
