#include "core/measures/TULM_gaussianSmoothVertexData.h"

#include <vector>

#include "core/errors.h"
#include "core/lane_choice.h"
#include "core/measures/TULM_gaussianSmoothVertexData_lanes.h"
#include "core/measures/rounded_exp.h"
#include "core/mesh_arrays.h"
#include "core/parallel.h"

namespace tulm {
namespace {

// Calls visit(n, w) for each listed neighbour n of vertex i, in list order, with its weight
// from weight(c * -d2, &w), d2 the squared distance; stops and returns false where weight
// returns false.
template <class Weight, class Visit>
bool try_each_weighted_neighbour(const float* vertices, int32_t numVerts, const int32_t* column,
                                 int32_t maxNeighbors, int32_t i, bool gaussian, float c,
                                 Weight&& weight, Visit&& visit) {
  const float* xi = vertices + 3 * i;
  for (int32_t j = 0; j < maxNeighbors; ++j) {
    if (column[j] < 1) break;  // the list ends at the first value below 1
    const int32_t n = column[j] - 1;
    if (n >= numVerts) throw_index_error("vertexNbors", column[j], j + 1, i + 1, 0, numVerts);
    float w = 1.0f;
    if (gaussian) {
      const float* xn = vertices + 3 * n;
      float d2 = 0.0f;
      for (int32_t k = 0; k < 3; ++k) {
        const float delta = xi[k] - xn[k];
        d2 = d2 + delta * delta;
      }
      if (!weight(c * (-d2), &w)) return false;
    }
    visit(n, w);
  }
  return true;
}

// Calls visit(n, w) for each listed neighbour n of vertex i, in list order, with its weight
// rounded_expf(c * -d2). The loop runs first with no call in it, so that the caller's sums
// stay in registers; where a weight needs rounded_expf's out-of-line code (about 1 in 2^13),
// restart() resets the caller's sums and the vertex runs again, calling rounded_expf.
template <class Restart, class Visit>
void for_each_weighted_neighbour(const float* vertices, int32_t numVerts, const int32_t* column,
                                 int32_t maxNeighbors, int32_t i, bool gaussian, float c,
                                 Restart&& restart, Visit&& visit) {
  const auto inlineOnly = [](float x, float* w) { return try_rounded_expf(x, w); };
  if (try_each_weighted_neighbour(vertices, numVerts, column, maxNeighbors, i, gaussian, c,
                                  inlineOnly, visit)) {
    return;
  }
  restart();
  const auto any = [](float x, float* w) {
    *w = rounded_expf(x);
    return true;
  };
  try_each_weighted_neighbour(vertices, numVerts, column, maxNeighbors, i, gaussian, c, any, visit);
}

// The bits of vertex i's smoothed data: the lanes perform these operations, in this order,
// too. acc holds D floats.
void smooth_vertex(const float* vertices, int32_t numVerts, const int32_t* vertexNbors, int32_t K,
                   const float* data, int32_t D, bool gaussian, float c, int32_t i, float* acc,
                   float* smoothed) {
  const int32_t* column = vertexNbors + index_2D_array(0, i, K);
  const float* own = data + index_2D_array(0, i, D);
  float* out = smoothed + index_2D_array(0, i, D);
  float wsum = 1.0f;
  if (D == 1) {
    // One row: the sum stays in a register instead of going through acc at every neighbour.
    float sum = own[0];
    for_each_weighted_neighbour(
        vertices, numVerts, column, K, i, gaussian, c,
        [&] {
          sum = own[0];
          wsum = 1.0f;
        },
        [&](int32_t n, float w) {
          sum = w * data[n] + sum;
          wsum = wsum + w;
        });
    out[0] = sum / wsum;
    return;
  }
  for (int32_t k = 0; k < D; ++k) acc[k] = own[k];
  for_each_weighted_neighbour(
      vertices, numVerts, column, K, i, gaussian, c,
      [&] {
        for (int32_t k = 0; k < D; ++k) acc[k] = own[k];
        wsum = 1.0f;
      },
      [&](int32_t n, float w) {
        const float* theirs = data + index_2D_array(0, n, D);
        for (int32_t k = 0; k < D; ++k) acc[k] = w * theirs[k] + acc[k];
        wsum = wsum + w;
      });
  for (int32_t k = 0; k < D; ++k) out[k] = acc[k] / wsum;
}

// Vertices whose smoothing takes about as long as starting a thread.
constexpr int32_t kVertexGrain = 8192;

}  // namespace

void gaussian_smooth_one_at_a_time(int32_t begin, int32_t end, const float* vertices,
                                   int32_t numVerts, const int32_t* vertexNbors, int32_t K,
                                   const float* data, int32_t D, bool gaussian, float c, float* acc,
                                   float* smoothed) {
  for (int32_t i = begin; i < end; ++i) {
    smooth_vertex(vertices, numVerts, vertexNbors, K, data, D, gaussian, c, i, acc, smoothed);
  }
}

void TULM_gaussianSmoothVertexData(const float* vertices, int32_t numVerts,
                                   const int32_t* vertexNbors, int32_t maxNeighbors,
                                   const float* data, int32_t numData, float s, float* smoothed) {
  const int32_t K = maxNeighbors, D = numData;
  const bool gaussian = s > 0.0f;
  const float c = gaussian ? 0.5f / s : 0.0f;
  [[maybe_unused]] const LaneChoice lanes = chosen_lanes();
  parallel_for(numVerts, kVertexGrain, [=](int32_t begin, int32_t end) {
#if defined(TULM_HAVE_AVX512_TARGET)
    if (gaussian && lanes.width >= 16 && K <= kMostSlotsInSixteenSmoothingLanes) {
      return gaussian_smooth_in_sixteen_lanes(vertices, numVerts, vertexNbors, K, data, D, c, begin,
                                              end, smoothed);
    }
#endif
#if defined(TULM_HAVE_AVX2_TARGET)
    if (gaussian && lanes.width >= 8) {
      return gaussian_smooth_in_eight_lanes(vertices, numVerts, vertexNbors, K, data, D, c, begin,
                                            end, smoothed);
    }
#endif
    std::vector<float> acc(D > 0 ? D : 0);
    gaussian_smooth_one_at_a_time(begin, end, vertices, numVerts, vertexNbors, K, data, D, gaussian,
                                  c, acc.data(), smoothed);
  });
}

}  // namespace tulm
