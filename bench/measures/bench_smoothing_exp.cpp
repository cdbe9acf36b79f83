// The smoothing's exponential against the C library's expf, inside the smoothing.
//
//   bench_smoothing_exp   one smoothing step (D = 1) of the icosphere subdivided 7 times, for
//                         two values of s: the routine as shipped (rounded_expf), and a copy
//                         of its loop with rounded_expf or with expf, run in turn in one
//                         process; medians of 21 runs and the ratio of the copies. Both copies
//                         run the same loops; expf never declines, so its copy has one loop.
#include <math.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench/bench_timing.h"
#include "core/connectivity/TULM_convertFaces2VertNbors.h"
#include "core/measures/TULM_gaussianSmoothVertexData.h"
#include "core/measures/rounded_exp.h"
#include "icosphere.h"

namespace {

using tulm_bench::median;
using tulm_bench::seconds;

constexpr int kRuns = 21;

float library_expf(float x) { return ::expf(x); }

template <float (*Exp)(float)>
bool always(float x, float* w) {
  *w = Exp(x);
  return true;
}

// Vertex i's weighted sum and sum of weights over its neighbours, in list order, with the
// weights from Weight; false where Weight declines.
template <bool (*Weight)(float, float*)>
bool weighted_sums(const float* vertices, const int32_t* nbors, int32_t K, const float* data,
                   float c, int32_t i, float* sum, float* wsum) {
  const float* xi = vertices + 3 * i;
  float s = data[i];
  float ws = 1.0f;
  for (int32_t j = 0; j < K; ++j) {
    const int32_t entry = nbors[j + i * K];
    if (entry < 1) break;
    const int32_t n = entry - 1;
    const float* xn = vertices + 3 * n;
    float d2 = 0.0f;
    for (int32_t k = 0; k < 3; ++k) {
      const float delta = xi[k] - xn[k];
      d2 = d2 + delta * delta;
    }
    float w;
    if (!Weight(c * (-d2), &w)) return false;
    s = w * data[n] + s;
    ws = ws + w;
  }
  *sum = s;
  *wsum = ws;
  return true;
}

// The shipped smoothing loop for D = 1: each vertex first with TryExp, which calls nothing
// out of line, and again with Exp where TryExp declines.
template <bool (*TryExp)(float, float*), float (*Exp)(float)>
void smooth_one_row(const float* vertices, int32_t numVerts, const int32_t* nbors, int32_t K,
                    const float* data, float s, float* out) {
  const float c = 0.5f / s;
  for (int32_t i = 0; i < numVerts; ++i) {
    float sum, wsum;
    const bool done = weighted_sums<TryExp>(vertices, nbors, K, data, c, i, &sum, &wsum);
    // Where TryExp never declines, the second loop is not compiled, as the compiler may not
    // otherwise see that it never runs.
    if constexpr (TryExp != always<Exp>) {
      if (!done) weighted_sums<always<Exp>>(vertices, nbors, K, data, c, i, &sum, &wsum);
    }
    out[i] = sum / wsum;
  }
}

}  // namespace

int main() {
  const tulm_test::Mesh mesh = tulm_test::icosphere(7);
  const int32_t V = mesh.numVerts;
  const std::vector<int32_t> rowFaces = tulm_test::transposed(mesh.faces, 3, mesh.numFaces);
  std::vector<int32_t> table;
  int32_t K = 0;
  tulm::TULM_convertFaces2VertNbors(rowFaces.data(), mesh.numFaces, V, [&](int32_t k) {
    K = k;
    table.assign(static_cast<size_t>(V) * k, 0);
    return table.data();
  });
  const std::vector<int32_t> nbors = tulm_test::transposed(table, V, K);  // K x V
  std::vector<float> data(V);
  for (int32_t i = 0; i < V; ++i) data[i] = static_cast<float>((i * 7919) % 1000) / 1000.0f;

  std::printf("%d vertices, K = %d, one smoothing step (D = 1), medians of %d runs, ms\n", V, K,
              kRuns);
  std::printf("%10s %10s %14s %14s %14s\n", "s", "shipped", "copy rounded", "copy expf",
              "rounded/expf");
  for (float s : {1e-3f, 1e-5f}) {
    std::vector<float> out(V);
    std::vector<double> shipped, rounded, library;
    for (int run = 0; run < kRuns; ++run) {
      shipped.push_back(seconds([&] {
        tulm::TULM_gaussianSmoothVertexData(mesh.vertices.data(), V, nbors.data(), K, data.data(),
                                            1, s, out.data());
      }));
      rounded.push_back(seconds([&] {
        smooth_one_row<tulm::try_rounded_expf, tulm::rounded_expf>(
            mesh.vertices.data(), V, nbors.data(), K, data.data(), s, out.data());
      }));
      library.push_back(seconds([&] {
        smooth_one_row<always<library_expf>, library_expf>(mesh.vertices.data(), V, nbors.data(), K,
                                                           data.data(), s, out.data());
      }));
    }
    std::printf("%10g %10.3f %14.3f %14.3f %14.3f\n", s, 1e3 * median(shipped),
                1e3 * median(rounded), 1e3 * median(library), median(rounded) / median(library));
  }
  return 0;
}
