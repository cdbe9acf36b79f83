#include "core/folding/TULM_computeAreaChangePenaltyGrad.h"

#include <vector>

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeAreaChangePenaltyGrad(const FoldMesh& mesh, const float* originalAreas, float* P,
                                       float* G) {
  // P as TULM_computeAreaChangePenalty, from the signed areas s_f of every face. Column w of G
  // takes, for each face f that column w of VertexFaces lists, in list order, g * u + G, with g
  // the gradient of f's area at w (faceAreaGradient) and u = (s_f - o_f) * -2.
  std::vector<float> areas(mesh.numFaces);
  *P = area_change_face_pass(mesh, originalAreas, areas.data());
  if (G == nullptr) return;
  add_area_change_gradients(mesh, originalAreas, areas.data(), G);
}

}  // namespace tulm
