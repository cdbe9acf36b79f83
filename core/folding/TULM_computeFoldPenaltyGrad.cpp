#include "core/folding/TULM_computeFoldPenaltyGrad.h"

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeFoldPenaltyGrad(const FoldMesh& mesh, float offset, float* P, float* G) {
  // P as TULM_computeFoldPenalty: every face in face order, s + offset added in single for each
  // flipped one (s its signed area, above kFlipThreshold). Column v of G takes, in list order,
  // g + G for each flipped face that column v of VertexFaces lists, g the gradient of the face's
  // area at v (faceAreaGradient).
  if (G == nullptr) {
    *P = flip_face_pass(mesh, offset, nullptr);
    return;
  }
  *P = flip_face_pass_with_gradients(mesh, offset, G);
}

}  // namespace tulm
