#include "core/measures/TULM_computeVertexDistSq2Nbors.h"

#include "core/errors.h"
#include "core/mesh_arrays.h"
#include "core/parallel.h"
#include "core/point_lanes.h"

namespace tulm {
namespace {

// Vertices whose distances take about as long as starting a thread.
constexpr int32_t kVertexGrain = 16384;

// Slot (k, v): the squared distance, written unless the slot is empty.
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

#if defined(TULM_HAVE_SSE2)
// The slots of vertices begin .. end - 1 in memory order, four at a time across the columns
// while their entries are all in 0..V; an empty slot gets the 0 it holds. From the first four
// with a bad entry on, the scalar code takes over and ends the call there.
void distances_in_lanes(int32_t begin, int32_t end, int32_t K, int32_t numVerts,
                        const int32_t* vertexNbors, const float* vertices, float* distSq) {
  // A point is one load with the float after it, except the last one, which has none after it.
  const float* const lastPoint = vertices + 3 * (numVerts - 1);
  const auto point = [lastPoint](const float* p) {
    return p == lastPoint ? lanes::load_point(p) : lanes::load_point_and_next(p);
  };
  const int32_t last = index_2D_array(0, end, K);
  int32_t j = index_2D_array(0, begin, K);
  int32_t k = 0, v = begin;  // slot j's place
  __m128 own = point(vertices + 3 * v);
  for (; j + 4 <= last; j += 4) {
    const __m128i entries = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertexNbors + j));
    if (lanes::any_outside(entries, 0, numVerts)) break;
    __m128 squares[4];
    for (int lane = 0; lane < 4; ++lane) {
      const int32_t n = vertexNbors[j + lane];
      const float* m = vertices + 3 * (n > 0 ? n - 1 : v);  // an empty slot's lane is dropped
      const __m128 d = _mm_sub_ps(own, point(m));
      squares[lane] = _mm_mul_ps(d, d);
      if (++k == K) {
        k = 0;
        if (++v < end) own = point(vertices + 3 * v);
      }
    }
    const __m128 sums = lanes::sum_xyz(squares[0], squares[1], squares[2], squares[3]);
    const __m128 listed = _mm_castsi128_ps(_mm_cmpgt_epi32(entries, _mm_setzero_si128()));
    _mm_storeu_ps(distSq + j, _mm_and_ps(sums, listed));
  }
  for (; v < end; ++v, k = 0) {
    for (; k < K; ++k) slot_distance(k, v, K, numVerts, vertexNbors, vertices, distSq);
  }
}
#endif

}  // namespace

void TULM_computeVertexDistSq2Nbors(int32_t maxNeighbors, int32_t numVerts,
                                    const int32_t* vertexNbors, const float* vertices,
                                    float* distSq) {
  const int32_t K = maxNeighbors;
  if (K <= 0) return;  // no slot reads a vertex
#if defined(TULM_HAVE_SSE2)
  if (point_lanes_enabled()) {
    parallel_for(numVerts, kVertexGrain, [=](int32_t begin, int32_t end) {
      distances_in_lanes(begin, end, K, numVerts, vertexNbors, vertices, distSq);
    });
    return;
  }
#endif
  parallel_for(numVerts, kVertexGrain, [=](int32_t begin, int32_t end) {
    for (int32_t v = begin; v < end; ++v) {
      for (int32_t k = 0; k < K; ++k) {
        slot_distance(k, v, K, numVerts, vertexNbors, vertices, distSq);
      }
    }
  });
}

}  // namespace tulm
