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
  add_flip_gradients(mesh, flipped, G);
}

}  // namespace tulm
