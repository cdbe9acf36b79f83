#include "core/measures/TULM_gaussianSmoothVertexData.h"

#include <vector>

#include "core/errors.h"
#include "core/measures/rounded_exp.h"
#include "core/mesh_arrays.h"
#include "core/parallel.h"
#include "core/point_lanes.h"

namespace tulm {
namespace {

// Vertices whose smoothing takes about as long as starting a thread.
constexpr int32_t kVertexGrain = 8192;

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

// Smooths vertex i with the scalar code; acc holds D floats.
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

#if defined(TULM_HAVE_AVX2_TARGET)
// The listed neighbours of consecutive vertices, whose Gaussian weights are made together,
// eight at a time, before each vertex adds up its own in list order.
struct Batch {
  static constexpr int32_t kSlots = 1024;
  static constexpr int32_t kVertices = 256;
  int32_t vertices = 0;               // in the batch, from `first` on
  int32_t slots = 0;                  // listed neighbours of those vertices
  int32_t listed[kVertices];          // per vertex
  int32_t own[kSlots], nbor[kSlots];  // 0-based, 3 * the vertex: the offset of its x
  float w[kSlots];
};

// Slot s gets rounded_expf(c * -d2), d2 the squared distance of own[s] and nbor[s]: each lane
// does the scalar code's operations, (dx^2 + dy^2) + dz^2 being its sum that starts at 0 (0
// adds nothing to a square). Slots s + k and s + 4 + k share a register, lane k of its halves,
// so the eight slots keep their order; no point in a batch is the last of the vertices, so
// each is one load with the float after it.
TULM_TARGET_AVX2 void batch_weights(const float* vertices, float c, Batch& batch) {
  const __m256 scale = _mm256_set1_ps(c);
  const __m256 signBit = _mm256_set1_ps(-0.0f);
  int32_t s = 0;
  for (; s + 8 <= batch.slots; s += 8) {
    __m256 squares[4];
    for (int k = 0; k < 4; ++k) {
      const __m256 own =
          lanes::two_points(vertices + batch.own[s + k], vertices + batch.own[s + k + 4]);
      const __m256 nbor =
          lanes::two_points(vertices + batch.nbor[s + k], vertices + batch.nbor[s + k + 4]);
      const __m256 d = _mm256_sub_ps(own, nbor);
      squares[k] = _mm256_mul_ps(d, d);
    }
    const lanes::Points8 sq = lanes::transposed8(squares[0], squares[1], squares[2], squares[3]);
    const __m256 d2 = _mm256_add_ps(_mm256_add_ps(sq.x, sq.y), sq.z);
    _mm256_storeu_ps(batch.w + s,
                     rounded_expf_avx2(_mm256_mul_ps(scale, _mm256_xor_ps(d2, signBit))));
  }
  for (; s < batch.slots; ++s) {
    const float* xi = vertices + batch.own[s];
    const float* xn = vertices + batch.nbor[s];
    float d2 = 0.0f;
    for (int k = 0; k < 3; ++k) {
      const float delta = xi[k] - xn[k];
      d2 = d2 + delta * delta;
    }
    batch.w[s] = rounded_expf(c * (-d2));
  }
}

// Vertex v's smoothed rows from its listed neighbours' weights w, in list order; kRows is D
// where that is 1, 2 or 3, whose sums then stay in registers, else 0 and the sums go through acc.
template <int kRows>
void add_up_vertex(const int32_t* column, int32_t listed, const float* w, const float* data,
                   int32_t D, int32_t v, float* acc, float* smoothed) {
  const int32_t rows = kRows > 0 ? kRows : D;
  const float* own = data + index_2D_array(0, v, rows);
  float* out = smoothed + index_2D_array(0, v, rows);
  float sums[kRows > 0 ? kRows : 1];
  float* sum = kRows > 0 ? sums : acc;
  for (int32_t k = 0; k < rows; ++k) sum[k] = own[k];
  float wsum = 1.0f;
  for (int32_t j = 0; j < listed; ++j) {
    const float* theirs = data + index_2D_array(0, column[j] - 1, rows);
    for (int32_t k = 0; k < rows; ++k) sum[k] = w[j] * theirs[k] + sum[k];
    wsum = wsum + w[j];
  }
  for (int32_t k = 0; k < rows; ++k) out[k] = sum[k] / wsum;
}

// Vertices begin .. end - 1, Gaussian weights only, in batches; a vertex with a bad entry goes
// to the scalar code, which ends the call there, and so do the vertices whose column is
// longer than a batch and those whose point or a neighbour's is the last of the vertices,
// which batch_weights cannot read with the float after it.
void smooth_in_batches(const float* vertices, int32_t numVerts, const int32_t* vertexNbors,
                       int32_t K, const float* data, int32_t D, float c, int32_t begin, int32_t end,
                       float* acc, float* smoothed) {
  Batch batch;
  int32_t i = begin;
  while (i < end) {
    const int32_t first = i;
    batch.vertices = 0;
    batch.slots = 0;
    int32_t alone = -1;  // a vertex for the scalar code, after the batch
    for (; i < end && batch.vertices < Batch::kVertices; ++i) {
      if (batch.slots + K > Batch::kSlots) {
        if (batch.vertices > 0) break;  // the next batch takes vertex i
        alone = i++;                    // a column longer than a batch
        break;
      }
      // The listed neighbours go into the batch as they are read; a vertex that must go alone
      // leaves them there, beyond the batch's slots.
      const int32_t* column = vertexNbors + index_2D_array(0, i, K);
      int32_t* own = batch.own + batch.slots;
      int32_t* nbor = batch.nbor + batch.slots;
      int32_t listed = 0;
      for (; listed < K && column[listed] >= 1; ++listed) {
        const int32_t n = column[listed] - 1;
        if (n >= numVerts - 1) break;  // the last point, or a bad entry: 3 * n may not fit
        own[listed] = 3 * i;
        nbor[listed] = 3 * n;
        // Neighbours lie anywhere in memory: asked for now, they arrive while the batch fills.
        TULM_PREFETCH(vertices + 3 * int64_t{n});
        TULM_PREFETCH(data + int64_t{D} * n);
      }
      const bool wholeColumn = listed == K || column[listed] < 1;
      if (i >= numVerts - 1 || !wholeColumn) {
        alone = i++;
        break;
      }
      batch.listed[batch.vertices++] = listed;
      batch.slots += listed;
    }
    batch_weights(vertices, c, batch);
    const float* w = batch.w;
    for (int32_t b = 0; b < batch.vertices; ++b) {
      const int32_t v = first + b;
      const int32_t* column = vertexNbors + index_2D_array(0, v, K);
      const int32_t listed = batch.listed[b];
      switch (D) {
        case 1: add_up_vertex<1>(column, listed, w, data, D, v, acc, smoothed); break;
        case 2: add_up_vertex<2>(column, listed, w, data, D, v, acc, smoothed); break;
        case 3: add_up_vertex<3>(column, listed, w, data, D, v, acc, smoothed); break;
        default: add_up_vertex<0>(column, listed, w, data, D, v, acc, smoothed); break;
      }
      w += listed;
    }
    if (alone >= 0) {
      smooth_vertex(vertices, numVerts, vertexNbors, K, data, D, true, c, alone, acc, smoothed);
    }
  }
}
#endif

}  // namespace

void TULM_gaussianSmoothVertexData(const float* vertices, int32_t numVerts,
                                   const int32_t* vertexNbors, int32_t maxNeighbors,
                                   const float* data, int32_t numData, float s, float* smoothed) {
  const int32_t K = maxNeighbors, D = numData;
  const bool gaussian = s > 0.0f;
  const float c = gaussian ? 0.5f / s : 0.0f;
#if defined(TULM_HAVE_AVX2_TARGET)
  // A batch keeps 3 * vertex as an int32 offset.
  const bool offsetsFit = numVerts <= INT32_MAX / 3;
  if (gaussian && offsetsFit && point_lanes_enabled() && wide_lanes_enabled() &&
      TULM_PROCESSOR_HAS_AVX2()) {
    parallel_for(numVerts, kVertexGrain, [=](int32_t begin, int32_t end) {
      std::vector<float> acc(D > 0 ? D : 0);
      smooth_in_batches(vertices, numVerts, vertexNbors, K, data, D, c, begin, end, acc.data(),
                        smoothed);
    });
    return;
  }
#endif
  parallel_for(numVerts, kVertexGrain, [=](int32_t begin, int32_t end) {
    std::vector<float> acc(D > 0 ? D : 0);
    for (int32_t i = begin; i < end; ++i) {
      smooth_vertex(vertices, numVerts, vertexNbors, K, data, D, gaussian, c, i, acc.data(),
                    smoothed);
    }
  });
}

}  // namespace tulm
