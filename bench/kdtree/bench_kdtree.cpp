// Exact nearest-neighbour query throughput of the toolbox's k-d tree against nanoflann (leaf
// sizes 1 and 10) and FLANN's KDTreeSingleIndex (leaf size 10), in one run on the same points:
// uniform points in 3-D (M = 1e4, 1e5, 1e6 reference points; Q = 1e5 and 1e6 queries), on a
// line (M = Q = 1e5, unsorted and sorted reference points) and on the sphere (the vertices of
// the icosahedron subdivided 7 times, single precision widened to double as the location
// plug-ins pass them; random points on the sphere as queries). Every tree is built before the
// timing; the sides of each case take turns, and each figure is the median of several turns.
// Ours goes through run_queries, the core routine the two plug-ins call, at one thread and at
// all threads, on one tree whose search copy, made in the first turn, stays with it, as with a
// kept tree; FLANN single-threaded and with SearchParams.cores = 0 (every core, OpenMP);
// nanoflann 1.4.3 has no multi-threaded query, so it runs single-threaded only. Octave's
// sort + interp1 and ours through the Octave plug-ins are in bench/bench_kdtree.m.
//
// Usage: bench_kdtree [runs [case]] times every case whose name contains `case`.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <flann/flann.hpp>
#include <functional>
#include <memory>
#include <nanoflann.hpp>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_timing.h"
#include "core/diagnostics.h"
#include "core/parallel.h"
#include "core/spatial_search/kdtree.h"
#include "core/spatial_search/literal_kdtree.h"
#include "core/spatial_search/nearest_queries.h"
#include "icosphere.h"

namespace {

using tulm_bench::median;
using tulm_bench::seconds;

// Column-major M x N, as MATLAB passes it, and the same points row-major for the peers.
struct Points {
  int32_t count = 0;
  int32_t dims = 0;
  std::vector<double> columns;
  std::vector<double> rows;
};

Points from_rows(int32_t dims, std::vector<double> rowMajor) {
  Points points;
  points.count = static_cast<int32_t>(rowMajor.size() / dims);
  points.dims = dims;
  points.rows = std::move(rowMajor);
  points.columns.resize(points.rows.size());
  for (int32_t p = 0; p < points.count; ++p) {
    for (int32_t d = 0; d < dims; ++d) {
      points.columns[p + static_cast<size_t>(d) * points.count] =
          points.rows[static_cast<size_t>(p) * dims + d];
    }
  }
  return points;
}

Points uniform_points(int32_t count, int32_t dims, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<double> rowMajor(static_cast<size_t>(count) * dims);
  for (double& x : rowMajor) x = uniform(random);
  return from_rows(dims, std::move(rowMajor));
}

Points sorted_line(int32_t count, unsigned seed) {
  Points points = uniform_points(count, 1, seed);
  std::sort(points.rows.begin(), points.rows.end());
  return from_rows(1, points.rows);
}

Points sphere_vertices(int subdivisions) {
  const tulm_test::Mesh mesh = tulm_test::icosphere(subdivisions);
  return from_rows(3, std::vector<double>(mesh.vertices.begin(), mesh.vertices.end()));
}

Points sphere_points(int32_t count, unsigned seed) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> normal;
  std::vector<double> rowMajor;
  rowMajor.reserve(static_cast<size_t>(count) * 3);
  for (int32_t p = 0; p < count; ++p) {
    const double x = normal(random), y = normal(random), z = normal(random);
    const double norm = std::sqrt(x * x + y * y + z * z);
    for (const double c : {x, y, z}) rowMajor.push_back(static_cast<float>(c / norm));
  }
  return from_rows(3, std::move(rowMajor));
}

struct TreeRelease {
  void operator()(tulm::tree_header* tree) const { tulm::release_tree(tree); }
};
using OurTree = std::unique_ptr<tulm::tree_header, TreeRelease>;

OurTree our_tree(const Points& reference) {
  tulm::CapturedDiagnostics diagnostics;
  std::vector<int32_t> idx(static_cast<size_t>(reference.count));
  std::iota(idx.begin(), idx.end(), 0);
  OurTree tree(tulm::build_tree(reference.columns.data(), reference.count, reference.dims,
                                idx.data(), reference.count, 0, diagnostics));
  if (tree == nullptr) {
    std::fprintf(stderr, "out of memory\n");
    std::exit(1);
  }
  return tree;
}

struct NanoCloud {
  const Points& points;
  size_t kdtree_get_point_count() const { return static_cast<size_t>(points.count); }
  double kdtree_get_pt(size_t p, size_t d) const { return points.rows[p * points.dims + d]; }
  template <class Box>
  bool kdtree_get_bbox(Box&) const {
    return false;
  }
};
// The dimension fixed at compile time, as nanoflann is fastest.
template <int kDims>
using NanoTree =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, NanoCloud>, NanoCloud,
                                        kDims>;
using FlannTree = flann::KDTreeSingleIndex<flann::L2<double>>;

// One contender: its name and the timed work, which leaves each query's distance in
// `distances` (squared where the peer gives squared distances).
struct Side {
  std::string name;
  std::function<void()> query;
  std::vector<double> distances;
  bool squared = false;
  std::vector<double> times;
};

struct Case {
  std::string name;
  Points reference;
  Points queries;
};

template <int kDims>
void run_case(const Case& c, int runs) {
  const int32_t Q = c.queries.count;
  const int32_t dims = c.reference.dims;
  OurTree ours = our_tree(c.reference);
  const NanoCloud cloud{c.reference};
  NanoTree<kDims> nano1(dims, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(1));
  NanoTree<kDims> nano10(dims, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
  flann::Matrix<double> flannData(const_cast<double*>(c.reference.rows.data()), c.reference.count,
                                  dims);
  flann::Matrix<double> flannQueries(const_cast<double*>(c.queries.rows.data()), Q, dims);
  FlannTree flannTree(flannData, flann::KDTreeSingleIndexParams(10));
  flannTree.buildIndex();

  std::vector<double> ourIndex(Q);
  std::vector<size_t> flannIndexStore(Q);
  std::vector<uint32_t> nanoIndex(Q);
  std::vector<Side> sides(6);
  for (Side& side : sides) side.distances.resize(Q);
  const auto ours_at = [&](int threads, Side& side) {
    return [&, threads] {
      tulm::set_thread_count(threads);
      tulm::CapturedDiagnostics diagnostics;
      tulm::run_queries(*ours, c.queries.columns.data(), Q, ourIndex.data(), side.distances.data(),
                        tulm::kIndexMode, diagnostics);
      tulm::set_thread_count(0);
    };
  };
  const auto nano_with = [&](NanoTree<kDims>& tree, Side& side) {
    return [&] {
      for (int32_t i = 0; i < Q; ++i) {
        tree.knnSearch(&c.queries.rows[static_cast<size_t>(i) * dims], 1, &nanoIndex[i],
                       &side.distances[i]);
      }
    };
  };
  const auto flann_with = [&](int cores, Side& side) {
    return [&, cores] {
      flann::Matrix<size_t> index(flannIndexStore.data(), Q, 1);
      flann::Matrix<double> distance(side.distances.data(), Q, 1);
      flann::SearchParams params(-1);
      params.cores = cores;
      flannTree.knnSearch(flannQueries, index, distance, 1, params);
    };
  };
  const int all = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  sides[0].name = "ours, 1 thread";
  sides[0].query = ours_at(1, sides[0]);
  sides[1].name = "ours, " + std::to_string(all) + " threads";
  sides[1].query = ours_at(0, sides[1]);
  sides[2].name = "nanoflann leaf 1";
  sides[2].query = nano_with(nano1, sides[2]);
  sides[3].name = "nanoflann leaf 10";
  sides[3].query = nano_with(nano10, sides[3]);
  sides[4].name = "FLANN, 1 core";
  sides[4].query = flann_with(1, sides[4]);
  sides[5].name = "FLANN, all cores";
  sides[5].query = flann_with(0, sides[5]);
  for (int k = 2; k < 6; ++k) sides[k].squared = true;

  for (int run = 0; run < runs; ++run) {
    for (Side& side : sides) side.times.push_back(seconds(side.query));
  }

  std::printf("%s: M = %d, Q = %d, medians of %d turns\n", c.name.c_str(), c.reference.count, Q,
              runs);
  double fastestPeer = 0;
  double fastestSinglePeer = 0;
  for (size_t k = 0; k < sides.size(); ++k) {
    const double rate = Q / median(sides[k].times);
    int32_t differing = 0;
    for (int32_t i = 0; i < Q; ++i) {
      const double d = sides[k].squared ? std::sqrt(sides[k].distances[i]) : sides[k].distances[i];
      if (!(std::fabs(d - sides[0].distances[i]) <= 1e-12)) ++differing;
    }
    std::printf("  %-20s %12.0f queries/s   nearest distances differing from ours: %d\n",
                sides[k].name.c_str(), rate, differing);
    if (k >= 2) fastestPeer = std::max(fastestPeer, rate);
    if (k >= 2 && k != 5) fastestSinglePeer = std::max(fastestSinglePeer, rate);
  }
  const double oursAll = Q / median(sides[1].times);
  const double oursOne = Q / median(sides[0].times);
  std::printf(
      "  ours at all threads / fastest peer: %.2f; ours at 1 thread / fastest single-threaded "
      "peer: %.2f\n\n",
      oursAll / fastestPeer, oursOne / fastestSinglePeer);
}

void line_builds(int runs) {
  const int32_t M = 100000;
  std::vector<double> values(M);
  std::iota(values.begin(), values.end(), 0.0);
  const Points sorted = from_rows(1, values);
  std::shuffle(values.begin(), values.end(), std::mt19937(5));
  const Points shuffled = from_rows(1, values);
  for (const auto& [name, points] :
       {std::pair<const char*, const Points*>{"sorted", &sorted}, {"unsorted", &shuffled}}) {
    std::vector<double> builds;
    for (int run = 0; run < runs; ++run) builds.push_back(seconds([&] { our_tree(*points); }));
    std::printf("M = %d distinct points on a line, %-8s: build %.4f s\n", M, name, median(builds));
  }
  // The literal construction for contrast: quadratic on a line, so a smaller M.
  const int32_t small = 20000;
  std::vector<int32_t> idx(small);
  std::iota(idx.begin(), idx.end(), 0);
  tulm::CapturedDiagnostics diagnostics;
  tulm::node* root = nullptr;
  const double literal = seconds([&] {
    root = tulm::reference::build_tree_core(shuffled.columns.data(), small, 1, idx.data(), small, 0,
                                            diagnostics);
  });
  tulm::reference::free_tree(root);
  std::printf(
      "M = %d unsorted points on a line, literal one-node-at-a-time construction: "
      "%.4f s\n",
      small, literal);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string only = argc > 2 ? argv[2] : "";
  const auto wanted = [&](const std::string& name) { return name.find(only) != std::string::npos; };
  struct Maker {
    std::string name;
    std::function<Case()> make;
  };
  const std::vector<Maker> cases = {
      {"3-D uniform, M = 1e4, Q = 1e5",
       [] {
         return Case{"", uniform_points(10000, 3, 1), uniform_points(100000, 3, 2)};
       }},
      {"3-D uniform, M = 1e4, Q = 1e6",
       [] {
         return Case{"", uniform_points(10000, 3, 1), uniform_points(1000000, 3, 2)};
       }},
      {"3-D uniform, M = 1e5, Q = 1e5",
       [] {
         return Case{"", uniform_points(100000, 3, 3), uniform_points(100000, 3, 4)};
       }},
      {"3-D uniform, M = 1e5, Q = 1e6",
       [] {
         return Case{"", uniform_points(100000, 3, 3), uniform_points(1000000, 3, 4)};
       }},
      {"3-D uniform, M = 1e6, Q = 1e5",
       [] {
         return Case{"", uniform_points(1000000, 3, 5), uniform_points(100000, 3, 6)};
       }},
      {"3-D uniform, M = 1e6, Q = 1e6",
       [] {
         return Case{"", uniform_points(1000000, 3, 5), uniform_points(1000000, 3, 6)};
       }},
      {"1-D uniform, M = 1e5, Q = 1e5",
       [] {
         return Case{"", uniform_points(100000, 1, 7), uniform_points(100000, 1, 8)};
       }},
      {"1-D sorted reference, M = 1e5, Q = 1e5",
       [] {
         return Case{"", sorted_line(100000, 7), uniform_points(100000, 1, 8)};
       }},
      {"sphere: icosphere 7 vertices, Q = 1e5 random points on the sphere",
       [] {
         return Case{"", sphere_vertices(7), sphere_points(100000, 9)};
       }},
  };
  for (const Maker& maker : cases) {
    if (!wanted(maker.name)) continue;
    Case c = maker.make();
    c.name = maker.name;
    if (c.reference.dims == 1) {
      run_case<1>(c, runs);
    } else {
      run_case<3>(c, runs);
    }
  }
  if (wanted("line builds")) line_builds(3);
  return 0;
}
