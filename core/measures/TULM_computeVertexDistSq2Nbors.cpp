#include "core/measures/TULM_computeVertexDistSq2Nbors.h"

#include "core/errors.h"
#include "core/mesh_arrays.h"
#include "core/parallel.h"

namespace tulm {
namespace {

// Vertices whose distances take about as long as starting a thread.
constexpr int32_t kVertexGrain = 16384;

}  // namespace

void TULM_computeVertexDistSq2Nbors(int32_t maxNeighbors, int32_t numVerts,
                                    const int32_t* vertexNbors, const float* vertices,
                                    float* distSq) {
  const int32_t K = maxNeighbors;
  if (K <= 0) return;  // no slot reads a vertex
  parallel_for(numVerts, kVertexGrain, [=](int32_t begin, int32_t end) {
    for (int32_t v = begin; v < end; ++v) {
      const int32_t* column = vertexNbors + index_2D_array(0, v, K);
      float* out = distSq + index_2D_array(0, v, K);
      const float x = vertices[3 * v], y = vertices[3 * v + 1], z = vertices[3 * v + 2];
      for (int32_t k = 0; k < K; ++k) {
        const int32_t n = column[k];
        if (n == 0) continue;
        check_index("vertexNbors", n, k, v, 0, numVerts);
        const float* m = vertices + 3 * (n - 1);
        const float dx = x - m[0], dy = y - m[1], dz = z - m[2];
        out[k] = (dx * dx + dy * dy) + dz * dz;
      }
    }
  });
}

}  // namespace tulm
