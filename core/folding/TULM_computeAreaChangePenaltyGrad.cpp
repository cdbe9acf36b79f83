#include "core/folding/TULM_computeAreaChangePenaltyGrad.h"

#include <vector>

#include "core/folding/fold_passes.h"

namespace tulm {

void TULM_computeAreaChangePenaltyGrad(const FoldMesh& mesh, const float* originalAreas, float* P,
                                       float* G) {
  std::vector<float> areas(mesh.numFaces);
  *P = area_change_face_pass(mesh, originalAreas, areas.data());
  if (G == nullptr) return;
  // Every listed face counts, with the factor -2 (s - o) whatever the sign of s.
  const auto accumulate = [&](const FaceCorner& pair, const float* g) {
    const float u = (areas[pair.face] - originalAreas[pair.face]) * -2.0f;
    float* column = G + index_2D_array(0, pair.corner, 3);
    column[0] = g[0] * u + column[0];
    column[1] = g[1] * u + column[1];
    column[2] = g[2] * u + column[2];
  };
  GradientBatch<decltype(accumulate)> gradients(mesh, accumulate);
  for (int32_t v = 0; v < mesh.numVerts; ++v) {
    for_each_face_of_vertex(mesh, v, [&](int32_t f) { gradients.add(f, v); });
  }
  gradients.flush();
}

}  // namespace tulm
