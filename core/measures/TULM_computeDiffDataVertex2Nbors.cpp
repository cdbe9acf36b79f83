#include "core/measures/TULM_computeDiffDataVertex2Nbors.h"

#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {

void TULM_computeDiffDataVertex2Nbors(int32_t maxNeighbors, int32_t numVerts, int32_t numData,
                                      const int32_t* vertexNbors, const float* data, float* diffs) {
  const int32_t K = maxNeighbors, D = numData;
  if (D <= 0 || K <= 0) return;  // nothing to write, and data may be empty
  for (int32_t v = 0; v < numVerts; ++v) {
    const int32_t* column = vertexNbors + index_2D_array(0, v, K);
    const float* own = data + index_2D_array(0, v, D);
    for (int32_t k = 0; k < K; ++k) {
      const int32_t n = column[k];
      if (n == 0) continue;
      check_index("vertexNbors", n, k, v, 0, numVerts);
      const float* other = data + index_2D_array(0, n - 1, D);
      float* out = diffs + index_3D_array(0, k, v, D, K);
      for (int32_t d = 0; d < D; ++d) out[d] = own[d] - other[d];
    }
  }
}

}  // namespace tulm
