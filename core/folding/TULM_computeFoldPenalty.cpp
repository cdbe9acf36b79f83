#include "core/folding/TULM_computeFoldPenalty.h"

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeFoldPenalty(const FoldMesh& mesh, float offset, float* P) {
  *P = flip_face_pass(mesh, offset, nullptr);
}

}  // namespace tulm
