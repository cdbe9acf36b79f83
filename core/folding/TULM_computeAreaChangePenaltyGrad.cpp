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
  const auto add = [&](int32_t f, const float* g, float* sum) {
    const float u = (areas[f] - originalAreas[f]) * -2.0f;
    sum[0] = g[0] * u + sum[0];
    sum[1] = g[1] * u + sum[1];
    sum[2] = g[2] * u + sum[2];
  };
  add_every_column(
      mesh, [](int32_t) { return true; }, add, G);
}

}  // namespace tulm
