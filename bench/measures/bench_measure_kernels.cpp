// Where the areas, the total area and the neighbour distances spend their time, without a host.
//
//   bench_measure_kernels   each routine on the icosphere subdivided 7 times, numbered as
//                           the Octave baselines' icosphere.m numbers it (the four children
//                           of every face in four blocks, midpoints in order of their
//                           edges), one thread; medians of processor time over 31 runs in
//                           three states, taken in turn in one process:
//     warm      the call again, its inputs in the caches from the call before;
//     evicted   after writing 64 MiB elsewhere, as after the vectorised Octave versions;
//     compute   every corner and neighbour folded into the first 256 vertices, so that every
//               point read hits the first-level cache: what the arithmetic and the loads
//               cost alone. warm - compute is what the scattered vertex reads add.
// The areas and the distances run with the lanes they take by default, and then with the
// sixteen lanes of AVX-512 loading the scattered points 16 bytes at a time, with those lanes
// gathering them, and with the eight lanes of AVX2 (where the processor has those lanes; else
// the next narrower ones).
//
// The numbering matters: on tests/support's icosphere, whose children stay together, the
// areas run about 1.7 times and the total about 1.5 times as fast when warm, as neighbouring
// faces share their vertices' cache lines there.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "bench/bench_timing.h"
#include "core/connectivity/TULM_convertFaces2VertNbors.h"
#include "core/lane_choice.h"
#include "core/measures/TULM_calculateSurfaceArea.h"
#include "core/measures/TULM_computeMeshFaceAreas.h"
#include "core/measures/TULM_computeVertexDistSq2Nbors.h"
#include "core/parallel.h"

namespace {

using tulm_bench::median;

constexpr int kRuns = 31;
constexpr int32_t kFoldedVertices = 256;

struct Mesh {
  int32_t V = 0, F = 0, K = 0;
  std::vector<float> columnVertices, rowVertices;  // 3 x V, V x 3
  std::vector<int32_t> columnFaces, rowFaces;      // 3 x F, F x 3, 1-based
  std::vector<int32_t> nbors;                      // K x V, 1-based, 0 = empty slot
};

// The icosahedron subdivided `levels` times as the baselines build it: vertex v's children
// keep v's number, the midpoints follow in the order of their edges (lower end, then higher),
// and face f's children (a, ab, ca), (b, bc, ab), (c, ca, bc), (ab, bc, ca) are faces f,
// f + F, f + 2F and f + 3F of the next level.
Mesh baseline_icosphere(int levels) {
  const double t = (1 + std::sqrt(5.0)) / 2;
  std::vector<double> xyz = {-1, t,  0,  1, t, 0,  -1, -t, 0,  1, -t, 0, 0,  -1, t,  0,  1, t,
                             0,  -1, -t, 0, 1, -t, t,  0,  -1, t, 0,  1, -t, 0,  -1, -t, 0, 1};
  std::vector<int32_t> tri = {
      1,  12, 6,  1,  6,  2, 1, 2, 8,  1, 8,  11, 1, 11, 12, 2,  6, 10, 6, 12, 5,
      12, 11, 3,  11, 8,  7, 8, 2, 9,  4, 10, 5,  4, 5,  3,  4,  3, 7,  4, 7,  9,
      4,  9,  10, 5,  10, 6, 3, 5, 12, 7, 3,  11, 9, 7,  8,  10, 9, 2};  // 1-based, rows (a, b, c)
  const auto normalize = [&xyz](size_t v) {
    double* p = &xyz[3 * v];
    const double n = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    for (int k = 0; k < 3; ++k) p[k] /= n;
  };
  for (size_t v = 0; v < xyz.size() / 3; ++v) normalize(v);
  // Every face toward the origin, as the baselines orient them.
  for (size_t f = 0; f < tri.size(); f += 3) {
    const double* a = &xyz[3 * (tri[f] - 1)];
    const double* b = &xyz[3 * (tri[f + 1] - 1)];
    const double* c = &xyz[3 * (tri[f + 2] - 1)];
    const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                         u[0] * w[1] - u[1] * w[0]};
    if (n[0] * a[0] + n[1] * a[1] + n[2] * a[2] > 0) std::swap(tri[f + 1], tri[f + 2]);
  }
  for (int level = 0; level < levels; ++level) {
    const int32_t nv = static_cast<int32_t>(xyz.size() / 3);
    const size_t nf = tri.size() / 3;
    std::vector<int64_t> edges;  // lower end * 2^32 + higher end
    const auto edge = [](int32_t p, int32_t q) {
      return (int64_t{std::min(p, q)} << 32) + std::max(p, q);
    };
    for (size_t f = 0; f < nf; ++f) {
      for (int j = 0; j < 3; ++j) edges.push_back(edge(tri[3 * f + j], tri[3 * f + (j + 1) % 3]));
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    for (int64_t e : edges) {
      const double* p = &xyz[3 * ((e >> 32) - 1)];
      const double* q = &xyz[3 * ((e & 0xffffffff) - 1)];
      const double m[3] = {p[0] + q[0], p[1] + q[1], p[2] + q[2]};
      xyz.insert(xyz.end(), m, m + 3);
      normalize(xyz.size() / 3 - 1);
    }
    const auto midpoint = [&](int32_t p, int32_t q) {
      const auto at = std::lower_bound(edges.begin(), edges.end(), edge(p, q));
      return nv + 1 + static_cast<int32_t>(at - edges.begin());
    };
    std::vector<int32_t> finer(12 * nf);
    for (size_t f = 0; f < nf; ++f) {
      const int32_t a = tri[3 * f], b = tri[3 * f + 1], c = tri[3 * f + 2];
      const int32_t ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
      const int32_t children[4][3] = {{a, ab, ca}, {b, bc, ab}, {c, ca, bc}, {ab, bc, ca}};
      for (size_t k = 0; k < 4; ++k)
        std::copy(children[k], children[k] + 3, &finer[3 * (f + k * nf)]);
    }
    tri = std::move(finer);
  }

  Mesh m;
  m.V = static_cast<int32_t>(xyz.size() / 3);
  m.F = static_cast<int32_t>(tri.size() / 3);
  m.columnVertices.assign(xyz.begin(), xyz.end());
  m.columnFaces = tri;
  m.rowVertices.resize(m.columnVertices.size());
  m.rowFaces.resize(m.columnFaces.size());
  for (int32_t v = 0; v < m.V; ++v) {
    for (int k = 0; k < 3; ++k)
      m.rowVertices[v + size_t(k) * m.V] = m.columnVertices[3 * size_t(v) + k];
  }
  for (int32_t f = 0; f < m.F; ++f) {
    for (int k = 0; k < 3; ++k) m.rowFaces[f + size_t(k) * m.F] = m.columnFaces[3 * size_t(f) + k];
  }
  std::vector<int32_t> rowTable;
  tulm::TULM_convertFaces2VertNbors(m.rowFaces.data(), m.F, m.V, [&](int32_t K) {
    m.K = K;
    rowTable.assign(size_t(K) * m.V, 0);
    return rowTable.data();
  });
  m.nbors.resize(rowTable.size());
  for (int32_t v = 0; v < m.V; ++v) {
    for (int32_t k = 0; k < m.K; ++k) m.nbors[k + size_t(m.K) * v] = rowTable[v + size_t(k) * m.V];
  }
  return m;
}

// The mesh with every corner and neighbour moved into the first kFoldedVertices vertices.
Mesh folded(Mesh m) {
  const auto fold = [](int32_t& index) {
    if (index > 0) index = (index - 1) % kFoldedVertices + 1;
  };
  for (int32_t& c : m.columnFaces) fold(c);
  for (int32_t& c : m.rowFaces) fold(c);
  for (int32_t& n : m.nbors) fold(n);
  return m;
}

double processor_ms() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return 1e3 * static_cast<double>(now.tv_sec) + 1e-6 * static_cast<double>(now.tv_nsec);
}

std::vector<char> elsewhere(size_t(64) << 20);

void evict() {
  for (size_t i = 0; i < elsewhere.size(); i += 64)
    elsewhere[i] = static_cast<char>(elsewhere[i] + 1);
}

}  // namespace

int main() {
  tulm::set_thread_count(1);
  const Mesh mesh = baseline_icosphere(7);
  const Mesh compact = folded(mesh);
  std::vector<float> out(std::max(size_t(mesh.F), size_t(mesh.K) * mesh.V));
  float total = 0.0f;
  const std::function<void(const Mesh&)> kernels[] = {
      [&](const Mesh& m) {
        tulm::TULM_computeMeshFaceAreas(m.F, m.columnFaces.data(), m.columnVertices.data(), m.V,
                                        out.data());
      },
      [&](const Mesh& m) {
        total = total +
                tulm::TULM_calculateSurfaceArea(m.rowVertices.data(), m.V, m.rowFaces.data(), m.F);
      },
      [&](const Mesh& m) {
        tulm::TULM_computeVertexDistSq2Nbors(m.K, m.V, m.nbors.data(), m.columnVertices.data(),
                                             out.data());
      },
  };
  enum Lanes { kDefault, kSixteenLoading, kSixteenGathering, kEight };
  const struct {
    const char* name;
    int kernel;
    Lanes lanes;
  } rows[] = {{"TULM_computeMeshFaceAreas", 0, kDefault},
              {"  sixteen lanes loading", 0, kSixteenLoading},
              {"  eight lanes", 0, kEight},
              {"TULM_calculateSurfaceArea", 1, kDefault},
              {"TULM_computeVertexDistSq2Nbors", 2, kDefault},
              {"  sixteen lanes loading", 2, kSixteenLoading},
              {"  sixteen lanes gathering", 2, kSixteenGathering},
              {"  eight lanes", 2, kEight}};
  constexpr int kRows = sizeof rows / sizeof rows[0];
  const auto run_row = [&](int row, const Mesh& m) {
    const Lanes lanes = rows[row].lanes;
    if (lanes != kDefault) tulm::set_lanes({lanes == kEight ? 8 : 16, lanes == kSixteenGathering});
    kernels[rows[row].kernel](m);
    tulm::set_lanes(tulm::processor_lanes());
  };
  std::printf(
      "icosphere(7) in the baselines' numbering: V = %d, F = %d, K = %d; one thread,\n"
      "medians of %d runs, processor ms, the rows taking turns in every run\n",
      mesh.V, mesh.F, mesh.K, kRuns);
  std::printf("%-40s %8s %8s %8s\n", "routine", "warm", "evicted", "compute");
  std::vector<double> warm[kRows], evicted[kRows], compute[kRows];
  for (int run = 0; run < kRuns; ++run) {
    for (int row = 0; row < kRows; ++row) {
      // Two calls before the first timed one: right after another row's lanes, one call was not
      // enough (the eight lanes timed 0.90 ms there against 0.77 in the next row taking them).
      run_row(row, mesh);
      run_row(row, mesh);
      double start = processor_ms();
      run_row(row, mesh);
      warm[row].push_back(processor_ms() - start);
      evict();
      start = processor_ms();
      run_row(row, mesh);
      evicted[row].push_back(processor_ms() - start);
      run_row(row, compact);
      start = processor_ms();
      run_row(row, compact);
      compute[row].push_back(processor_ms() - start);
    }
  }
  for (int row = 0; row < kRows; ++row) {
    std::printf("%-40s %8.3f %8.3f %8.3f\n", rows[row].name, median(warm[row]),
                median(evicted[row]), median(compute[row]));
  }
  std::printf("(total %g)\n", static_cast<double>(total));
  return 0;
}
