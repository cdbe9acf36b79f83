#include "core/folding/TULM_computeAreaChangePenalty.h"

#include <vector>

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeAreaChangePenalty(const FoldMesh& mesh, const float* originalAreas, float* P) {
  // Every face's signed area s_f (signedFaceArea), then over the faces in face order
  // P = (s_f - o_f)^2 + P in single.
  std::vector<float> areas(mesh.numFaces);
  *P = area_change_face_pass(mesh, originalAreas, areas.data());
}

}  // namespace tulm
