// The face hit by the ray from the origin through each query point, found with CGAL's AABB
// tree: what a user without the toolbox would write.
//
//   bench_location_aabb DATA OUT   reads the mesh and points that bench/bench_location.m wrote
//                                  (int32 V, F, N; single 3 x V vertices; int32 3 x F faces,
//                                  1-based; single 3 x N points), writes double build seconds,
//                                  double query seconds (medians) and the N faces found
//                                  (int32, 1-based, 0 for none)
//   bench_location_aabb            on its own: the icosphere subdivided 7 times and its vertices
//                                  under a fixed small rotation, located by the tree and by
//                                  TULM_findNearestVertex + TULM_findFaces (core routines),
//                                  with throughputs, ratios and the agreement of the faces
#include <CGAL/AABB_traits.h>
#include <CGAL/AABB_tree.h>
#include <CGAL/AABB_triangle_primitive.h>
#include <CGAL/Simple_cartesian.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "bench/bench_timing.h"
#include "core/connectivity/TULM_convertFaces2FacesOfVert.h"
#include "core/connectivity/TULM_convertFaces2VertNbors.h"
#include "core/diagnostics.h"
#include "core/location/TULM_findFaceAux.h"
#include "core/location/TULM_findNearestVertex.h"
#include "icosphere.h"

namespace {

using tulm_bench::median;

using Kernel = CGAL::Simple_cartesian<double>;
using Triangle = Kernel::Triangle_3;
using Iterator = std::vector<Triangle>::const_iterator;
using Primitive = CGAL::AABB_triangle_primitive<Kernel, Iterator>;
using Tree = CGAL::AABB_tree<CGAL::AABB_traits<Kernel, Primitive>>;

constexpr int kBuildRuns = 3;
constexpr int kQueryRuns = 5;
constexpr double kStrictlyInside = 1e-3;

struct Problem {
  int32_t V = 0, F = 0, N = 0;
  std::vector<float> vertices;  // 3 x V
  std::vector<int32_t> faces;   // 3 x F, 1-based
  std::vector<float> points;    // 3 x N
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<Triangle> triangles_of(const Problem& problem) {
  std::vector<Triangle> triangles;
  triangles.reserve(problem.F);
  const auto corner = [&](int32_t f, int k) {
    const float* v = &problem.vertices[3 * (problem.faces[3 * f + k] - 1)];
    return Kernel::Point_3(v[0], v[1], v[2]);
  };
  for (int32_t f = 0; f < problem.F; ++f) {
    triangles.emplace_back(corner(f, 0), corner(f, 1), corner(f, 2));
  }
  return triangles;
}

struct AabbResult {
  double build = 0, query = 0;
  std::vector<int32_t> faces;
};

AabbResult locate_with_tree(const Problem& problem) {
  const std::vector<Triangle> triangles = triangles_of(problem);
  AabbResult result;
  std::vector<double> builds;
  for (int run = 0; run < kBuildRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    Tree tree(triangles.begin(), triangles.end());
    tree.build();
    builds.push_back(seconds_since(start));
  }
  result.build = median(builds);

  Tree tree(triangles.begin(), triangles.end());
  tree.build();
  const Kernel::Point_3 origin(0, 0, 0);
  result.faces.assign(problem.N, 0);
  std::vector<double> queries;
  for (int run = 0; run < kQueryRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    for (int32_t i = 0; i < problem.N; ++i) {
      const float* p = &problem.points[3 * i];
      const Kernel::Ray_3 ray(origin, Kernel::Point_3(p[0], p[1], p[2]));
      const auto hit = tree.first_intersected_primitive(ray);
      result.faces[i] = hit ? static_cast<int32_t>(*hit - triangles.begin()) + 1 : 0;
    }
    queries.push_back(seconds_since(start));
  }
  result.query = median(queries);
  return result;
}

template <class T>
void read_block(std::ifstream& in, std::vector<T>& values, size_t count) {
  values.resize(count);
  in.read(reinterpret_cast<char*>(values.data()), static_cast<std::streamsize>(count * sizeof(T)));
}

Problem read_problem(const char* path) {
  std::ifstream in(path, std::ios::binary);
  Problem problem;
  int32_t header[3];
  in.read(reinterpret_cast<char*>(header), sizeof header);
  problem.V = header[0], problem.F = header[1], problem.N = header[2];
  read_block(in, problem.vertices, 3 * size_t(problem.V));
  read_block(in, problem.faces, 3 * size_t(problem.F));
  read_block(in, problem.points, 3 * size_t(problem.N));
  if (!in) throw std::runtime_error("cannot read the benchmark data");
  return problem;
}

// The weights of the ray through p in the face's corners, normalised to sum 1: all positive
// when the ray crosses the face strictly inside.
double smallest_weight(const Problem& problem, int32_t face, const float* point) {
  double corner[3][3];
  for (int k = 0; k < 3; ++k) {
    for (int c = 0; c < 3; ++c) {
      corner[k][c] = problem.vertices[3 * (problem.faces[3 * (face - 1) + k] - 1) + c];
    }
  }
  const auto triple = [](const double* a, const double* b, const double* c) {
    return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
           a[2] * (b[0] * c[1] - b[1] * c[0]);
  };
  const double p[3] = {point[0], point[1], point[2]};
  const double w[3] = {triple(p, corner[1], corner[2]), triple(corner[0], p, corner[2]),
                       triple(corner[0], corner[1], p)};
  const double sum = w[0] + w[1] + w[2];
  return std::min({w[0] / sum, w[1] / sum, w[2] / sum});
}

void standalone() {
  const tulm_test::Mesh mesh = tulm_test::icosphere(7);
  Problem problem;
  problem.V = problem.N = mesh.numVerts;
  problem.F = mesh.numFaces;
  problem.vertices = mesh.vertices;
  problem.faces = mesh.faces;
  // A fixed small rotation: 0.0123 rad about (0.36, 0.48, 0.8).
  const double axis[3] = {0.36, 0.48, 0.8}, angle = 0.0123;
  const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  const double x = axis[0], y = axis[1], z = axis[2];
  const double m[3][3] = {{t * x * x + c, t * x * y - s * z, t * x * z + s * y},
                          {t * x * y + s * z, t * y * y + c, t * y * z - s * x},
                          {t * x * z - s * y, t * y * z + s * x, t * z * z + c}};
  problem.points.resize(mesh.vertices.size());
  for (size_t v = 0; v < mesh.vertices.size(); v += 3) {
    for (int r = 0; r < 3; ++r) {
      problem.points[v + r] =
          static_cast<float>(m[r][0] * mesh.vertices[v] + m[r][1] * mesh.vertices[v + 1] +
                             m[r][2] * mesh.vertices[v + 2]);
    }
  }

  // Tables in column form, as the plug-ins take them.
  const int32_t V = problem.V, F = problem.F, N = problem.N;
  std::vector<int32_t> rowFaces(3 * size_t(F));
  for (int32_t f = 0; f < F; ++f) {
    for (int k = 0; k < 3; ++k) rowFaces[f + k * size_t(F)] = problem.faces[3 * f + k];
  }
  std::vector<int32_t> flat;
  const auto create = [&flat, V](int32_t K) {
    flat.assign(size_t(V) * K, 0);
    return flat.data();
  };
  const auto column_form = [&flat, V](int32_t& K) {
    K = static_cast<int32_t>(flat.size() / V);
    std::vector<int32_t> table(flat.size());
    for (int32_t v = 0; v < V; ++v) {
      for (int32_t k = 0; k < K; ++k) table[k + size_t(v) * K] = flat[v + size_t(k) * V];
    }
    return table;
  };
  int32_t Kn = 0, Kf = 0;
  tulm::TULM_convertFaces2VertNbors(rowFaces.data(), F, V, create);
  const std::vector<int32_t> vertexNbors = column_form(Kn);
  tulm::TULM_convertFaces2FacesOfVert(rowFaces.data(), F, V, create);
  const std::vector<int32_t> VertexFaces = column_form(Kf);

  std::vector<int32_t> start(N), seeds(N), faces(N), corners(N);
  for (int32_t i = 0; i < N; ++i) start[i] = i + 1;
  std::vector<float> distances(N);
  std::vector<double> nearestTimes, faceTimes;
  tulm::CapturedDiagnostics diagnostics;
  tulm::FindFacesReport report;
  for (int run = 0; run < kQueryRuns; ++run) {
    auto begin = std::chrono::steady_clock::now();
    tulm::TULM_findNearestVertex(problem.points.data(), N, problem.vertices.data(), V,
                                 vertexNbors.data(), Kn, start.data(), seeds.data(),
                                 distances.data(), tulm::runtime_random_source(), diagnostics);
    nearestTimes.push_back(seconds_since(begin));
    begin = std::chrono::steady_clock::now();
    report =
        tulm::TULM_findFaces(problem.points.data(), N, problem.vertices.data(), V,
                             problem.faces.data(), F, vertexNbors.data(), Kn, VertexFaces.data(),
                             Kf, seeds.data(), faces.data(), corners.data(), diagnostics);
    faceTimes.push_back(seconds_since(begin));
  }
  const AabbResult tree = locate_with_tree(problem);

  // Strictly inside: every weight above 0.001. The walk's same-side test admits points up to
  // about 1e-4 (in the cosine) beyond an edge, so in that band either neighbour is a right
  // answer of the toolbox.
  int32_t strictlyInside = 0, agree = 0, agreeAll = 0;
  for (int32_t i = 0; i < N; ++i) {
    if (faces[i] == tree.faces[i]) ++agreeAll;
    if (tree.faces[i] == 0 ||
        smallest_weight(problem, tree.faces[i], &problem.points[3 * i]) <= kStrictlyInside)
      continue;
    ++strictlyInside;
    if (faces[i] == tree.faces[i]) ++agree;
  }
  const double nearestRate = N / median(nearestTimes), faceRate = N / median(faceTimes);
  const double treeRate = N / tree.query;
  std::printf(
      "%d query points (icosphere subdivided 7 times, rotated 0.0123 rad), medians of %d runs\n", N,
      kQueryRuns);
  std::printf("  TULM_findNearestVertex (core)      %12.0f points/s\n", nearestRate);
  std::printf("  TULM_findFaces (core)              %12.0f points/s\n", faceRate);
  std::printf(
      "  CGAL AABB tree, ray query          %12.0f points/s (build %.1f ms, not included)\n",
      treeRate, 1e3 * tree.build);
  std::printf("  ratio TULM_findFaces / AABB query   %6.2f\n", faceRate / treeRate);
  std::printf("  ratio both TULM routines / AABB     %6.2f\n",
              1.0 / (1.0 / nearestRate + 1.0 / faceRate) / treeRate);
  // FNV-1a over every output, to compare builds of the routines bit for bit.
  uint64_t digest = 1469598103934665603ull;
  const auto mix = [&digest](const void* data, size_t bytes) {
    for (size_t b = 0; b < bytes; ++b) {
      digest = (digest ^ static_cast<const unsigned char*>(data)[b]) * 1099511628211ull;
    }
  };
  mix(seeds.data(), seeds.size() * sizeof(int32_t));
  mix(distances.data(), distances.size() * sizeof(float));
  mix(faces.data(), faces.size() * sizeof(int32_t));
  mix(corners.data(), corners.size() * sizeof(int32_t));
  std::printf("  restarts %lld, visit-limit points %d, digest of all outputs %016llx\n",
              static_cast<long long>(report.restarts), report.failedPoints,
              static_cast<unsigned long long>(digest));
  std::printf(
      "  agreement on %d points strictly inside a face: %.4f%% (%d differ); on all "
      "points %.4f%% (%d differ)\n",
      strictlyInside, 100.0 * agree / strictlyInside, strictlyInside - agree, 100.0 * agreeAll / N,
      N - agreeAll);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3) {
      const Problem problem = read_problem(argv[1]);
      const AabbResult result = locate_with_tree(problem);
      std::ofstream out(argv[2], std::ios::binary);
      out.write(reinterpret_cast<const char*>(&result.build), sizeof result.build);
      out.write(reinterpret_cast<const char*>(&result.query), sizeof result.query);
      out.write(reinterpret_cast<const char*>(result.faces.data()),
                static_cast<std::streamsize>(result.faces.size() * sizeof(int32_t)));
      if (!out) throw std::runtime_error("cannot write the results");
      return 0;
    }
    if (argc != 1) {
      std::fprintf(stderr, "usage: bench_location_aabb [DATA OUT]\n");
      return 2;
    }
    standalone();
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_location_aabb: %s\n", error.what());
    return 1;
  }
}
