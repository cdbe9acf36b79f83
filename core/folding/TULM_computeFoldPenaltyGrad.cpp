#include "core/folding/TULM_computeFoldPenaltyGrad.h"

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeFoldPenaltyGrad(const FoldMesh& mesh, float offset, float* P, float* G) {
  if (G == nullptr) {
    *P = flip_face_pass(mesh, offset, nullptr);
    return;
  }
  *P = flip_face_pass_with_gradients(mesh, offset, G);
}

}  // namespace tulm
