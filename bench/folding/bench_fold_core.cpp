// bench_fold_core: the fold penalties, the two tables and face location as core routines on
// the icosphere subdivided 7 times, at 1 thread and at every thread, without a host. Prints
// the median time of each and a hash of its outputs, so that a change of the code shows at
// once whether it changed a bit. `bench_fold_core ROUTINE THREADS REPS` runs one routine in a
// loop, for a profiler (with TULM_BENCH_COLD set, the caches emptied before every call);
// `bench_fold_core lanes REPS` times the fold routines with and without their lanes,
// `bench_fold_core cold REPS` with their inputs in the caches and out of them.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/connectivity/TULM_convertFaces2FacesOfVert.h"
#include "core/connectivity/TULM_convertFaces2VertNbors.h"
#include "core/diagnostics.h"
#include "core/folding/TULM_computeFoldPenalty.h"
#include "core/folding/TULM_computeFoldPenaltyGrad.h"
#include "core/folding/fold_model.h"
#include "core/lane_choice.h"
#include "core/location/TULM_findFaceAux.h"
#include "core/parallel.h"
#include "icosphere.h"

namespace {

struct Data {
  tulm_test::Mesh mesh;
  std::vector<int32_t> rowFaces;
  std::vector<float> jittered;       // 3 x V, about 3% of the faces flipped
  std::vector<int32_t> reversed;     // 3 x F, every face flipped
  std::vector<int32_t> vertexFaces;  // Kf x V
  int32_t Kf = 0;
  std::vector<int32_t> vertexNbors;  // Kn x V
  int32_t Kn = 0;
  std::vector<float> points;  // 3 x V, the vertices rotated a little
};

// The outputs of the last call, hashed after its time is taken.
struct Output {
  const void* data;
  size_t bytes;
};
std::vector<Output> lastOutputs;

uint64_t hash_outputs() {
  uint64_t h = 1469598103934665603ull;
  for (const Output& out : lastOutputs) {
    const auto* p = static_cast<const unsigned char*>(out.data);
    for (size_t i = 0; i < out.bytes; ++i) h = (h ^ p[i]) * 1099511628211ull;
  }
  return h;
}

void hash_bytes(const void* data, size_t bytes) { lastOutputs.push_back({data, bytes}); }

std::vector<int32_t> column_table(const std::vector<int32_t>& rowFaces, int32_t F, int32_t V,
                                  bool nbors, int32_t& K) {
  std::vector<int32_t> table;
  const auto create = [&](int32_t k) {
    K = k;
    table.assign(size_t(k) * V, 0);
    return table.data();
  };
  if (nbors) {
    tulm::TULM_convertFaces2VertNbors(rowFaces.data(), F, V, create);
  } else {
    tulm::TULM_convertFaces2FacesOfVert(rowFaces.data(), F, V, create);
  }
  return tulm_test::transposed(table, V, K);
}

// The icosphere as the shared Octave baselines build it: the children of a face split by
// kind (all first-corner children, then the second's, ...), an edge's midpoint numbered by its
// sorted pair of corners. Faces and vertices then lie farther apart in memory than in
// tulm_test::icosphere, whose four children of a face stay together.
tulm_test::Mesh baseline_icosphere(int level) {
  const double t = (1 + std::sqrt(5.0)) / 2;
  std::vector<double> v = {-1, t,  0,  1, t, 0,  -1, -t, 0,  1, -t, 0, 0,  -1, t,  0,  1, t,
                           0,  -1, -t, 0, 1, -t, t,  0,  -1, t, 0,  1, -t, 0,  -1, -t, 0, 1};
  for (size_t i = 0; i < v.size(); i += 3) {
    const double n = std::sqrt(v[i] * v[i] + v[i + 1] * v[i + 1] + v[i + 2] * v[i + 2]);
    for (int k = 0; k < 3; ++k) v[i + k] /= n;
  }
  std::vector<int32_t> f = {1, 12, 6,  1, 6,  2, 1,  2, 8, 1, 8,  11, 1, 11, 12, 2, 6, 10, 6, 12,
                            5, 12, 11, 3, 11, 8, 7,  8, 2, 9, 4,  10, 5, 4,  5,  3, 4, 3,  7, 4,
                            7, 9,  4,  9, 10, 5, 10, 6, 3, 5, 12, 7,  3, 11, 9,  7, 8, 10, 9, 2};
  const auto at = [&](int32_t vertex, int k) { return v[3 * size_t(vertex - 1) + k]; };
  for (size_t i = 0; i < f.size(); i += 3) {
    double e1[3], e2[3];
    for (int k = 0; k < 3; ++k) {
      e1[k] = at(f[i + 1], k) - at(f[i], k);
      e2[k] = at(f[i + 2], k) - at(f[i], k);
    }
    const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                         e1[0] * e2[1] - e1[1] * e2[0]};
    if (n[0] * at(f[i], 0) + n[1] * at(f[i], 1) + n[2] * at(f[i], 2) > 0)
      std::swap(f[i + 1], f[i + 2]);
  }
  for (int it = 0; it < level; ++it) {
    const int32_t nv = static_cast<int32_t>(v.size() / 3);
    const size_t nf = f.size() / 3;
    std::vector<std::pair<int32_t, int32_t>> edges;
    for (size_t i = 0; i < nf; ++i) {
      for (int e = 0; e < 3; ++e) {
        const int32_t a = f[3 * i + e], b = f[3 * i + (e + 1) % 3];
        edges.push_back({std::min(a, b), std::max(a, b)});
      }
    }
    std::vector<std::pair<int32_t, int32_t>> unique = edges;
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    for (const auto& e : unique) {
      double m[3];
      for (int k = 0; k < 3; ++k) m[k] = at(e.first, k) + at(e.second, k);
      const double n = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
      for (int k = 0; k < 3; ++k) v.push_back(m[k] / n);
    }
    const auto mid = [&](size_t i, int e) {
      return nv + 1 +
             static_cast<int32_t>(std::lower_bound(unique.begin(), unique.end(), edges[3 * i + e]) -
                                  unique.begin());
    };
    std::vector<int32_t> finer(12 * nf);
    for (size_t i = 0; i < nf; ++i) {
      const int32_t a = f[3 * i], b = f[3 * i + 1], c = f[3 * i + 2];
      const int32_t ab = mid(i, 0), bc = mid(i, 1), ca = mid(i, 2);
      const int32_t children[4][3] = {{a, ab, ca}, {b, bc, ab}, {c, ca, bc}, {ab, bc, ca}};
      for (int k = 0; k < 4; ++k) {
        for (int j = 0; j < 3; ++j) finer[3 * (k * nf + i) + j] = children[k][j];
      }
    }
    f = std::move(finer);
  }
  tulm_test::Mesh mesh;
  mesh.numVerts = static_cast<int32_t>(v.size() / 3);
  mesh.numFaces = static_cast<int32_t>(f.size() / 3);
  mesh.vertices.assign(v.begin(), v.end());
  mesh.faces = f;
  return mesh;
}

Data make_data(int level) {
  Data d;
  const char* order = std::getenv("TULM_BENCH_MESH");
  d.mesh = order != nullptr && std::string(order) == "children" ? tulm_test::icosphere(level)
                                                                : baseline_icosphere(level);
  const int32_t V = d.mesh.numVerts, F = d.mesh.numFaces;
  d.rowFaces = tulm_test::transposed(d.mesh.faces, 3, F);
  d.vertexFaces = column_table(d.rowFaces, F, V, false, d.Kf);
  d.vertexNbors = column_table(d.rowFaces, F, V, true, d.Kn);
  const float* x = d.mesh.vertices.data();
  double e2 = 0;
  for (int32_t f = 0; f < F; ++f) {
    const float* a = x + 3 * (d.mesh.faces[3 * f] - 1);
    const float* b = x + 3 * (d.mesh.faces[3 * f + 1] - 1);
    e2 += (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
          (a[2] - b[2]) * (a[2] - b[2]);
  }
  const float step = static_cast<float>(0.3 * std::sqrt(e2 / F));
  std::mt19937 random(42);
  std::normal_distribution<float> normal;
  d.jittered = d.mesh.vertices;
  for (int32_t v = 0; v < V; ++v) {
    float* p = &d.jittered[3 * size_t(v)];
    for (int k = 0; k < 3; ++k) p[k] += step * normal(random);
    const float n = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    for (int k = 0; k < 3; ++k) p[k] /= n;
  }
  d.reversed = d.mesh.faces;
  for (int32_t f = 0; f < F; ++f) std::swap(d.reversed[3 * f + 1], d.reversed[3 * f + 2]);
  const double angle = 0.008, c = std::cos(angle), s = std::sin(angle);
  d.points.resize(3 * size_t(V));
  for (int32_t v = 0; v < V; ++v) {
    const float* p = x + 3 * size_t(v);
    float* q = &d.points[3 * size_t(v)];
    q[0] = static_cast<float>(c * p[0] - s * p[1]);
    q[1] = static_cast<float>(s * p[0] + c * p[1]);
    q[2] = p[2];
  }
  return d;
}

struct Routine {
  const char* name;
  std::function<void(const Data&)> run;
};

void fold_penalty(const Data& d, const std::vector<float>& vertices,
                  const std::vector<int32_t>& faces) {
  const tulm::FoldMesh mesh{vertices.data(), d.mesh.numVerts,      faces.data(),
                            d.mesh.numFaces, d.vertexFaces.data(), d.Kf};
  static float P;
  tulm::TULM_computeFoldPenalty(mesh, 0.01f, &P);
  hash_bytes(&P, sizeof P);
}

void fold_gradient(const Data& d, const std::vector<float>& vertices,
                   const std::vector<int32_t>& faces) {
  const tulm::FoldMesh mesh{vertices.data(), d.mesh.numVerts,      faces.data(),
                            d.mesh.numFaces, d.vertexFaces.data(), d.Kf};
  static float P;
  // Outputs in reused memory, zero-filled, as the host's allocator gives them in a session.
  static std::vector<float> G;
  G.assign(3 * size_t(d.mesh.numVerts), 0.0f);
  tulm::TULM_computeFoldPenaltyGrad(mesh, 0.01f, &P, G.data());
  hash_bytes(&P, sizeof P);
  hash_bytes(G.data(), G.size() * sizeof(float));
}

void table(const Data& d, bool nbors) {
  static std::vector<int32_t> out;
  const auto create = [&](int32_t K) {
    out.assign(size_t(K) * d.mesh.numVerts, 0);
    return out.data();
  };
  if (nbors) {
    tulm::TULM_convertFaces2VertNbors(d.rowFaces.data(), d.mesh.numFaces, d.mesh.numVerts, create);
  } else {
    tulm::TULM_convertFaces2FacesOfVert(d.rowFaces.data(), d.mesh.numFaces, d.mesh.numVerts,
                                        create);
  }
  hash_bytes(out.data(), out.size() * sizeof(int32_t));
}

void find_faces(const Data& d) {
  const int32_t V = d.mesh.numVerts;
  static std::vector<int32_t> seeds(V), faceOut(V), vertexOut(V);
  for (int32_t v = 0; v < V; ++v) seeds[v] = v + 1;
  tulm::CapturedDiagnostics diagnostics;
  tulm::TULM_findFaces(d.points.data(), V, d.mesh.vertices.data(), V, d.mesh.faces.data(),
                       d.mesh.numFaces, d.vertexNbors.data(), d.Kn, d.vertexFaces.data(), d.Kf,
                       seeds.data(), faceOut.data(), vertexOut.data(), diagnostics);
  hash_bytes(faceOut.data(), V * sizeof(int32_t));
  hash_bytes(vertexOut.data(), V * sizeof(int32_t));
}

const Routine kRoutines[] = {
    {"fold_penalty_0", [](const Data& d) { fold_penalty(d, d.mesh.vertices, d.mesh.faces); }},
    {"fold_penalty_all", [](const Data& d) { fold_penalty(d, d.mesh.vertices, d.reversed); }},
    {"fold_grad_0", [](const Data& d) { fold_gradient(d, d.mesh.vertices, d.mesh.faces); }},
    {"fold_grad_jitter", [](const Data& d) { fold_gradient(d, d.jittered, d.mesh.faces); }},
    {"fold_grad_all", [](const Data& d) { fold_gradient(d, d.mesh.vertices, d.reversed); }},
    {"nbor_table", [](const Data& d) { table(d, true); }},
    {"faces_of_vertex", [](const Data& d) { table(d, false); }},
    {"find_faces", find_faces},
};

double cpu_ms() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

// The median wall time of the calls, and in cpu the median processor time of all threads:
// on a loaded machine the latter shows what the code costs.
double median_ms(const Routine& routine, const Data& d, int reps, uint64_t& hash, double& cpu) {
  std::vector<double> times, cpus;
  lastOutputs.clear();
  routine.run(d);
  hash = hash_outputs();
  for (int r = 0; r < reps; ++r) {
    lastOutputs.clear();
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = cpu_ms();
    routine.run(d);
    cpus.push_back(cpu_ms() - cpuStart);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (hash_outputs() != hash) std::printf("  %s: outputs differ between runs\n", routine.name);
  }
  std::sort(times.begin(), times.end());
  std::sort(cpus.begin(), cpus.end());
  cpu = cpus[cpus.size() / 2];
  return times[times.size() / 2];
}

}  // namespace

// Each fold routine with and without the lanes (AVX2's eight, and the widest the processor has),
// called in turn on one thread, so that a loaded machine slows every way alike, in processor
// time: `bench_fold_core lanes REPS`.
int compare_lanes(const Data& d, int reps) {
  tulm::set_thread_count(1);
  const tulm::LaneChoice ways[] = {{1, false}, {8, false}, tulm::processor_lanes()};
  constexpr int kWays = 3;
  std::printf("%-18s %10s %10s %10s %8s %8s\n", "routine", "scalar", "eight", "widest", "scalar/w",
              "eight/w");
  for (const Routine& routine : kRoutines) {
    if (std::strncmp(routine.name, "fold", 4) != 0) continue;
    std::vector<double> times[kWays];
    uint64_t hashes[kWays] = {};
    for (int r = 0; r <= reps; ++r) {
      for (int way = 0; way < kWays; ++way) {
        tulm::set_lanes(ways[way]);
        lastOutputs.clear();
        const double start = cpu_ms();
        routine.run(d);
        if (r > 0) times[way].push_back(cpu_ms() - start);
        hashes[way] = hash_outputs();
      }
    }
    tulm::set_lanes(tulm::processor_lanes());
    for (std::vector<double>& t : times) std::sort(t.begin(), t.end());
    const double scalar = times[0][reps / 2], eight = times[1][reps / 2],
                 widest = times[2][reps / 2];
    std::printf("%-18s %7.3f ms %7.3f ms %7.3f ms %7.2fx %7.2fx%s\n", routine.name, scalar, eight,
                widest, scalar / widest, eight / widest,
                hashes[0] == hashes[1] && hashes[0] == hashes[2] ? "" : "  OUTPUTS DIFFER");
  }
  return 0;
}

// Reads a buffer far larger than the caches, as the host's other work between two calls does
// (in interleaved_mesh_bench, the vectorised baseline), so that a call starts with its inputs out
// of the caches. 64 MB left them in this machine's last level cache. Read, not written, so that
// no dirty line is left for the calls to write back.
volatile uint64_t evictedSum;  // the sum that evict_caches makes, so that its reads stay

void evict_caches() {
  static const std::vector<uint64_t> buffer(size_t(512) << 17, 1);  // 512 MB
  uint64_t sum = 0;
  for (size_t i = 0; i < buffer.size(); i += 8) sum += buffer[i];
  evictedSum = sum;
}

// Each fold routine on one thread with its inputs in the caches (warm, after a call of its own)
// and out of them (cold, after evict_caches), in turn, in processor time:
// `bench_fold_core cold REPS`.
int compare_cold(const Data& d, int reps) {
  tulm::set_thread_count(1);
  std::printf("%-18s %10s %10s %8s\n", "routine", "warm", "cold", "cold/w");
  for (const Routine& routine : kRoutines) {
    if (std::strncmp(routine.name, "fold", 4) != 0) continue;
    std::vector<double> times[2];
    for (int r = 0; r <= reps; ++r) {
      for (int cold = 0; cold < 2; ++cold) {
        if (cold) {
          evict_caches();
        } else {
          routine.run(d);  // the call before is its own
        }
        lastOutputs.clear();
        const double start = cpu_ms();
        routine.run(d);
        if (r > 0) times[cold].push_back(cpu_ms() - start);
      }
    }
    for (std::vector<double>& t : times) std::sort(t.begin(), t.end());
    const double warm = times[0][reps / 2], cold = times[1][reps / 2];
    std::printf("%-18s %7.3f ms %7.3f ms %8.2f\n", routine.name, warm, cold, cold / warm);
  }
  return 0;
}

int main(int argc, char** argv) {
  const int level =
      std::getenv("TULM_BENCH_LEVEL") ? std::atoi(std::getenv("TULM_BENCH_LEVEL")) : 7;
  const Data d = make_data(level);
  if (argc == 3 && std::string(argv[1]) == "lanes") return compare_lanes(d, std::atoi(argv[2]));
  if (argc == 3 && std::string(argv[1]) == "cold") return compare_cold(d, std::atoi(argv[2]));
  if (argc == 4) {
    tulm::set_thread_count(std::atoi(argv[2]));
    const bool cold = std::getenv("TULM_BENCH_COLD") != nullptr;
    for (const Routine& routine : kRoutines) {
      if (routine.name != std::string(argv[1])) continue;
      for (int r = std::atoi(argv[3]); r > 0; --r) {
        if (cold) evict_caches();
        routine.run(d);
      }
      return 0;
    }
    std::fprintf(stderr, "no routine %s\n", argv[1]);
    return 1;
  }
  const int reps = argc > 1 ? std::atoi(argv[1]) : 15;
  std::printf("icosphere %d: V = %d, F = %d; median of %d runs\n", level, d.mesh.numVerts,
              d.mesh.numFaces, reps);
  std::printf("%-18s %10s %10s %10s %10s %18s\n", "routine", "1 thread", "cpu", "2 threads", "cpu",
              "hash");
  for (const Routine& routine : kRoutines) {
    uint64_t h1, h2;
    double c1, c2;
    tulm::set_thread_count(1);
    const double t1 = median_ms(routine, d, reps, h1, c1);
    tulm::set_thread_count(2);
    const double t2 = median_ms(routine, d, reps, h2, c2);
    std::printf("%-18s %7.3f ms %7.3f ms %7.3f ms %7.3f ms   %016llx%s\n", routine.name, t1, c1, t2,
                c2, static_cast<unsigned long long>(h1), h1 == h2 ? "" : " DIFFERS at 2 threads");
  }
  return 0;
}
