#include "core/folding/area_change_penalty.h"

#include <vector>

namespace tulm {
namespace {

float areaChangeFacePass(const FoldMesh& mesh, const float* originalAreas, float* areas) {
  float penalty = 0.0f;
  for (int32_t f = 0; f < mesh.numFaces; ++f) {
    const float s = signedFaceArea(mesh, f);
    areas[f] = s;
    const float d = s - originalAreas[f];
    penalty = d * d + penalty;
  }
  return penalty;
}

}  // namespace

void TULM_computeAreaChangePenaltyGrad(const FoldMesh& mesh, const float* originalAreas, float* P,
                                       float* G) {
  std::vector<float> areas(mesh.numFaces);
  *P = areaChangeFacePass(mesh, originalAreas, areas.data());
  if (G == nullptr) return;
  for (int32_t v = 0; v < mesh.numVerts; ++v) {
    float* column = G + index_2D_array(0, v, 3);
    forEachFaceOfVertex(mesh, v, [&](int32_t f) {
      float g[3];
      faceAreaGradient(mesh, f, v, g);
      const float u = (areas[f] - originalAreas[f]) * -2.0f;
      column[0] = g[0] * u + column[0];
      column[1] = g[1] * u + column[1];
      column[2] = g[2] * u + column[2];
    });
  }
}

void TULM_computeAreaChangePenalty(const FoldMesh& mesh, const float* originalAreas, float* P) {
  std::vector<float> areas(mesh.numFaces);
  *P = areaChangeFacePass(mesh, originalAreas, areas.data());
}

}  // namespace tulm
