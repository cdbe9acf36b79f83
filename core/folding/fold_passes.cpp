#include "core/folding/fold_passes.h"

namespace tulm {

float flipFacePass(const FoldMesh& mesh, float offset, float* areas) {
  float penalty = 0.0f;
  for (int32_t f = 0; f < mesh.numFaces; ++f) {
    const float s = signedFaceArea(mesh, f);
    areas[f] = s;
    if (isFlipped(s)) penalty = (s + offset) + penalty;
  }
  return penalty;
}

void addFlipGradientColumn(const FoldMesh& mesh, const float* areas, int32_t w, float* column) {
  forEachFaceOfVertex(mesh, w, [&](int32_t f) {
    if (!isFlipped(areas[f])) return;
    float g[3];
    faceAreaGradient(mesh, f, w, g);
    column[0] = g[0] + column[0];
    column[1] = g[1] + column[1];
    column[2] = g[2] + column[2];
  });
}

float visitPass(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits, float offset,
                float* areas, InvolvedVertices* involved) {
  float penalty = 0.0f;
  const int32_t count = numVisits > 0 ? numVisits : mesh.numVerts;
  for (int32_t t = 0; t < count; ++t) {
    int32_t v = t;
    if (numVisits > 0) {
      check_index("visit", visit[t], t, 0, 1, mesh.numVerts);
      v = visit[t] - 1;
    }
    forEachFaceOfVertex(mesh, v, [&](int32_t f) {
      // The cache doubles as the evaluated flag: only a face whose area came out exactly 0
      // (never flipped) is evaluated again; a NaN area is not 0 and stays evaluated.
      if (areas[f] != 0.0f) return;
      const float s = signedFaceArea(mesh, f);
      areas[f] = s;
      if (!isFlipped(s)) return;
      penalty = (s + offset) + penalty;
      if (involved == nullptr) return;
      // signedFaceArea has checked the corners.
      for (int32_t j = 0; j < 3; ++j) involved->add(mesh.faces[index_2D_array(j, f, 3)] - 1);
    });
  }
  return penalty;
}

}  // namespace tulm
