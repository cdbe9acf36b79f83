#include "core/folding/TULM_computeFoldPenalty.h"

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeFoldPenalty(const FoldMesh& mesh, float offset, float* P) {
  // Every face in face order: its signed area s (signedFaceArea); a face is flipped when s lies
  // above kFlipThreshold (isFlipped), and then s + offset is added to P in single.
  *P = flip_face_pass(mesh, offset, nullptr);
}

}  // namespace tulm
