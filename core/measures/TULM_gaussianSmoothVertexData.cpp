#include "core/measures/TULM_gaussianSmoothVertexData.h"

#include <math.h>

#include <vector>

#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {

void TULM_gaussianSmoothVertexData(const float* vertices, int32_t numVerts,
                                   const int32_t* vertexNbors, int32_t maxNeighbors,
                                   const float* data, int32_t numData, float s, float* smoothed) {
  const int32_t K = maxNeighbors, D = numData;
  const bool gaussian = s > 0.0f;
  const float c = gaussian ? 0.5f / s : 0.0f;
  std::vector<float> acc(D > 0 ? D : 0);

  for (int32_t i = 0; i < numVerts; ++i) {
    const float* own = data + index_2D_array(0, i, D);
    for (int32_t k = 0; k < D; ++k) acc[k] = own[k];
    float wsum = 1.0f;
    const int32_t* column = vertexNbors + index_2D_array(0, i, K);
    const float* xi = vertices + 3 * i;
    for (int32_t j = 0; j < K; ++j) {
      const int32_t n = column[j] - 1;
      if (n < 0) break;
      if (n >= numVerts) throw_index_error("vertexNbors", column[j], j + 1, i + 1, 0, numVerts);
      const float* xn = vertices + 3 * n;
      float d2 = 0.0f;
      for (int32_t c3 = 0; c3 < 3; ++c3) {
        const float delta = xi[c3] - xn[c3];
        d2 = d2 + delta * delta;
      }
      const float w = gaussian ? ::expf(c * (-d2)) : 1.0f;
      const float* theirs = data + index_2D_array(0, n, D);
      for (int32_t k = 0; k < D; ++k) acc[k] = w * theirs[k] + acc[k];
      wsum = wsum + w;
    }
    float* out = smoothed + index_2D_array(0, i, D);
    for (int32_t k = 0; k < D; ++k) {
      acc[k] = acc[k] / wsum;
      out[k] = acc[k];
    }
  }
}

}  // namespace tulm
