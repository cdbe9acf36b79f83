// Build and exact nearest-neighbour query times of the toolbox's k-d tree against nanoflann
// and FLANN (KDTreeSingleIndex), measured in the same run on the same points: M = 1e6
// uniform reference points and Q = 1e6 queries in 3-D (fixed seed), medians of several runs.
// Ours goes through the core routines that the plug-ins call. Also the build of 1e5 distinct
// points on a line, sorted and unsorted.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <flann/flann.hpp>
#include <functional>
#include <nanoflann.hpp>
#include <numeric>
#include <random>
#include <vector>

#include "core/diagnostics.h"
#include "core/spatial_search/kdtree.h"
#include "core/spatial_search/nearest_queries.h"
#include "literal_kdtree.h"

namespace {

constexpr int kRuns = 3;

double seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Column-major M x N, as MATLAB passes it, and the same points row-major for the peers.
struct Points {
  int32_t count;
  int32_t dims;
  std::vector<double> columns;
  std::vector<double> rows;
};

Points uniform_points(int32_t count, int32_t dims, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  Points points{count, dims, std::vector<double>(static_cast<size_t>(count) * dims), {}};
  for (double& x : points.columns) x = uniform(random);
  points.rows.resize(points.columns.size());
  for (int32_t p = 0; p < count; ++p) {
    for (int32_t d = 0; d < dims; ++d) {
      points.rows[static_cast<size_t>(p) * dims + d] =
          points.columns[p + static_cast<size_t>(d) * count];
    }
  }
  return points;
}

tulm::tree_header* our_build(const Points& reference) {
  tulm::CapturedDiagnostics diagnostics;
  std::vector<int32_t> idx(static_cast<size_t>(reference.count));
  std::iota(idx.begin(), idx.end(), 0);
  tulm::tree_header* tree =
      tulm::build_tree(reference.columns.data(), reference.count, reference.dims, idx.data(),
                       reference.count, 0, diagnostics);
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
using NanoTree =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, NanoCloud>, NanoCloud,
                                        3>;

struct Timing {
  double build;
  double query;
};

void report(const char* name, const Timing& t, int32_t Q, const Timing& ours) {
  std::printf("%-10s build %7.3f s   query %7.3f s (%9.0f queries/s)   total %7.3f s", name,
              t.build, t.query, Q / t.query, t.build + t.query);
  if (&t != &ours) {
    std::printf("   ours/%s: build %.2fx, query throughput %.2fx, total %.2fx", name,
                ours.build / t.build, t.query / ours.query,
                (ours.build + ours.query) / (t.build + t.query));
  }
  std::printf("\n");
}

void compare_3d() {
  const int32_t M = 1000000;
  const int32_t Q = 1000000;
  const Points reference = uniform_points(M, 3, 20261209);
  const Points queries = uniform_points(Q, 3, 7);
  std::printf(
      "uniform points in the unit cube, M = %d reference points, Q = %d queries, "
      "medians of %d runs\n",
      M, Q, kRuns);

  std::vector<double> ourIndex(Q), ourDistance(Q);
  std::vector<double> builds, queriesTime;
  for (int run = 0; run < kRuns; ++run) {
    tulm::tree_header* tree = nullptr;
    builds.push_back(seconds([&] { tree = our_build(reference); }));
    tulm::CapturedDiagnostics diagnostics;
    queriesTime.push_back(seconds([&] {
      tulm::run_queries(*tree, queries.columns.data(), Q, ourIndex.data(), ourDistance.data(),
                        tulm::kIndexMode, diagnostics);
    }));
    tulm::release_tree(tree);
  }
  const Timing ours{median(builds), median(queriesTime)};

  std::vector<uint32_t> nanoIndex(Q);
  std::vector<double> nanoDistance(Q);
  builds.clear();
  queriesTime.clear();
  const NanoCloud cloud{reference};
  for (int run = 0; run < kRuns; ++run) {
    NanoTree* tree = nullptr;
    builds.push_back(seconds(
        [&] { tree = new NanoTree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10)); }));
    queriesTime.push_back(seconds([&] {
      for (int32_t i = 0; i < Q; ++i) {
        tree->knnSearch(&queries.rows[static_cast<size_t>(i) * 3], 1, &nanoIndex[i],
                        &nanoDistance[i]);
      }
    }));
    delete tree;
  }
  const Timing nano{median(builds), median(queriesTime)};

  flann::Matrix<double> flannData(const_cast<double*>(reference.rows.data()), M, 3);
  flann::Matrix<double> flannQueries(const_cast<double*>(queries.rows.data()), Q, 3);
  std::vector<size_t> flannIndexStore(Q);
  std::vector<double> flannDistanceStore(Q);
  flann::Matrix<size_t> flannIndex(flannIndexStore.data(), Q, 1);
  flann::Matrix<double> flannDistance(flannDistanceStore.data(), Q, 1);
  builds.clear();
  queriesTime.clear();
  for (int run = 0; run < kRuns; ++run) {
    flann::KDTreeSingleIndex<flann::L2<double>>* index = nullptr;
    builds.push_back(seconds([&] {
      index = new flann::KDTreeSingleIndex<flann::L2<double>>(flannData,
                                                              flann::KDTreeSingleIndexParams(10));
      index->buildIndex();
    }));
    queriesTime.push_back(seconds([&] {
      index->knnSearch(flannQueries, flannIndex, flannDistance, 1, flann::SearchParams(-1));
    }));
    delete index;
  }
  const Timing flannTiming{median(builds), median(queriesTime)};

  // All three find the same nearest distance (rows may differ only on exact ties).
  int32_t disagreements = 0;
  for (int32_t i = 0; i < Q; ++i) {
    if (std::fabs(ourDistance[i] - std::sqrt(nanoDistance[i])) > 1e-12 ||
        std::fabs(ourDistance[i] - std::sqrt(flannDistanceStore[i])) > 1e-12) {
      ++disagreements;
    }
  }

  report("ours", ours, Q, ours);
  report("nanoflann", nano, Q, ours);
  report("FLANN", flannTiming, Q, ours);
  const double bestPeer = std::min(nano.query, flannTiming.query);
  std::printf(
      "query throughput ours / fastest peer: %.2f (target >= 1); build ours / nanoflann:"
      " %.2f (target <= 2); nearest distances differing: %d\n\n",
      bestPeer / ours.query, ours.build / nano.build, disagreements);
}

void line_builds() {
  const int32_t M = 100000;
  Points sorted{M, 1, std::vector<double>(M), {}};
  std::iota(sorted.columns.begin(), sorted.columns.end(), 0.0);
  Points shuffled = sorted;
  std::shuffle(shuffled.columns.begin(), shuffled.columns.end(), std::mt19937(5));
  for (const auto& [name, points] :
       {std::pair<const char*, const Points*>{"sorted", &sorted}, {"unsorted", &shuffled}}) {
    std::vector<double> builds;
    for (int run = 0; run < kRuns; ++run) {
      tulm::tree_header* tree = nullptr;
      builds.push_back(seconds([&] { tree = our_build(*points); }));
      tulm::release_tree(tree);
    }
    std::printf("M = %d distinct points on a line, %-8s: build %.4f s\n", M, name, median(builds));
  }
  // The literal construction for contrast: quadratic on a line, so a smaller M.
  const int32_t small = 20000;
  std::vector<int32_t> idx(small);
  std::iota(idx.begin(), idx.end(), 0);
  tulm::CapturedDiagnostics diagnostics;
  tulm::node* root = nullptr;
  const double literal = seconds([&] {
    root = tulm_test::build_tree_core(shuffled.columns.data(), small, 1, idx.data(), small, 0,
                                      diagnostics);
  });
  tulm_test::free_tree(root);
  std::printf(
      "M = %d unsorted points on a line, literal one-node-at-a-time construction: "
      "%.4f s\n",
      small, literal);
}

}  // namespace

int main() {
  compare_3d();
  line_builds();
  return 0;
}
