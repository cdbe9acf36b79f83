#include "core/measures/TULM_computeDiffDataVertex2Nbors.h"

#include <algorithm>

#include "core/errors.h"
#include "core/mesh_arrays.h"
#include "core/parallel.h"

namespace tulm {
namespace {

// Values of the output whose differences take about as long as starting a thread.
constexpr int32_t kValueGrain = 65536;

// The differences of vertices begin .. end - 1; kD is D where the compiler should know it (the
// usual one or three values per vertex), 0 elsewhere.
template <int32_t kD>
void vertex_differences(int32_t begin, int32_t end, int32_t K, int32_t numVerts, int32_t numData,
                        const int32_t* vertexNbors, const float* data, float* diffs) {
  const int32_t D = kD > 0 ? kD : numData;
  for (int32_t v = begin; v < end; ++v) {
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

}  // namespace

void TULM_computeDiffDataVertex2Nbors(int32_t maxNeighbors, int32_t numVerts, int32_t numData,
                                      const int32_t* vertexNbors, const float* data, float* diffs) {
  const int32_t K = maxNeighbors, D = numData;
  if (D <= 0 || K <= 0) return;  // nothing to write, and data may be empty
  const int64_t valuesPerVertex = std::min<int64_t>(int64_t{D} * K, kValueGrain);
  const int32_t vertexGrain = static_cast<int32_t>(kValueGrain / valuesPerVertex);
  const auto differences = D == 1   ? vertex_differences<1>
                           : D == 3 ? vertex_differences<3>
                                    : vertex_differences<0>;
  parallel_for(numVerts, vertexGrain, [=](int32_t begin, int32_t end) {
    differences(begin, end, K, numVerts, D, vertexNbors, data, diffs);
  });
}

}  // namespace tulm
