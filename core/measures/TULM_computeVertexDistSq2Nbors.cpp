#include "core/measures/TULM_computeVertexDistSq2Nbors.h"

#include "core/errors.h"
#include "core/lane_choice.h"
#include "core/measures/TULM_computeVertexDistSq2Nbors_lanes.h"
#include "core/mesh_arrays.h"
#include "core/parallel.h"

namespace tulm {
namespace {

// The bits of slot (k, v): the lanes perform these operations, in this order, too.
void slot_distance(int32_t k, int32_t v, int32_t maxNeighbors, int32_t numVerts,
                   const int32_t* vertexNbors, const float* vertices, float* distSq) {
  const int32_t j = index_2D_array(k, v, maxNeighbors);
  const int32_t n = vertexNbors[j];
  if (n == 0) return;
  check_index("vertexNbors", n, k, v, 0, numVerts);
  const float* p = vertices + 3 * v;
  const float* m = vertices + 3 * (n - 1);
  const float dx = p[0] - m[0], dy = p[1] - m[1], dz = p[2] - m[2];
  distSq[j] = (dx * dx + dy * dy) + dz * dz;
}

// Vertices whose distances take about as long as starting a thread.
constexpr int32_t kVertexGrain = 16384;

}  // namespace

void neighbour_distances_one_at_a_time(int32_t k, int32_t v, int32_t endRow, int32_t endColumn,
                                       int32_t K, int32_t numVerts, const int32_t* vertexNbors,
                                       const float* vertices, float* distSq) {
  for (; v < endColumn; ++v, k = 0) {
    for (; k < K; ++k) slot_distance(k, v, K, numVerts, vertexNbors, vertices, distSq);
  }
  for (; k < endRow; ++k) slot_distance(k, v, K, numVerts, vertexNbors, vertices, distSq);
}

void TULM_computeVertexDistSq2Nbors(int32_t maxNeighbors, int32_t numVerts,
                                    const int32_t* vertexNbors, const float* vertices,
                                    float* distSq) {
  const int32_t K = maxNeighbors;
  if (K <= 0) return;  // no slot reads a vertex
  [[maybe_unused]] const LaneChoice lanes = chosen_lanes();
  parallel_for(numVerts, kVertexGrain, [=](int32_t begin, int32_t end) {
#if defined(TULM_HAVE_AVX512_TARGET)
    if (lanes.width >= 16 && lanes.gather && K >= 2) {
      return neighbour_distances_in_gathered_lanes(begin, end, K, numVerts, vertexNbors, vertices,
                                                   distSq);
    }
    // Sixteen slots find their columns through a quotient of floats, exact for K below 2^22.
    if (lanes.width >= 16 && K < (1 << 22)) {
      return neighbour_distances_in_sixteen_lanes(begin, end, K, numVerts, vertexNbors, vertices,
                                                  distSq);
    }
#endif
#if defined(TULM_HAVE_SSE2)
    if (lanes.width >= 4) {
      return neighbour_distances_in_four_lanes(begin, end, K, numVerts, vertexNbors, vertices,
                                               distSq);
    }
#endif
    neighbour_distances_one_at_a_time(0, begin, 0, end, K, numVerts, vertexNbors, vertices, distSq);
  });
}

}  // namespace tulm
