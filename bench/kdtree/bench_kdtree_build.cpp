// Build times of the toolbox's k-d tree against nanoflann (leaf sizes 1 and 10) and FLANN's
// KDTreeSingleIndex (leaf size 10), on the same points in the same run: M = 1e6 uniform points
// in 3-D (fixed seed) and the vertices of the icosphere subdivided 7 and 8 times, single
// coordinates converted to double as the location plug-ins hand them over (points on the unit
// sphere with many equal coordinates). The builders take turns within every round; medians of
// the rounds. Ours at one thread and at all threads. Beside the wall time, the processor time of
// the process: on a machine that other programs keep busy, that of a single-threaded build
// stays near the wall time it would take alone (std::clock counts wall time on Windows).
//
// `bench_kdtree_build OTHER` also times the build_tree of another copy of the tree library (the
// libtulm_kdtree of an earlier commit, say) in the same rounds, each right beside ours in turns
// that swap every round, so that the two sides of a change are timed under the same load; the
// load averages of the system are printed before and after. A library from before build_tree
// polled for Ctrl-C (no StopPoll) is taken too.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <flann/flann.hpp>
#include <fstream>
#include <functional>
#include <nanoflann.hpp>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_timing.h"
#include "core/diagnostics.h"
#include "core/parallel.h"
#include "core/spatial_search/kdtree.h"
#include "icosphere.h"

namespace {

using tulm_bench::median;
using tulm_bench::seconds;

constexpr int kRounds = 7;

struct Timing {
  double wall;
  double processor;
};

template <class Work>
Timing timed(Work&& work) {
  const std::clock_t start = std::clock();
  const double wall = seconds(work);
  return {wall, static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC};
}

// Column-major M x 3, as MATLAB passes it, and the same points row-major for the peers.
struct Points {
  std::string name;
  int32_t count;
  std::vector<double> columns;
  std::vector<double> rows;
};

Points with_rows(std::string name, int32_t count, std::vector<double> columns) {
  Points points{std::move(name), count, std::move(columns), {}};
  points.rows.resize(points.columns.size());
  for (int32_t p = 0; p < count; ++p) {
    for (int32_t d = 0; d < 3; ++d) {
      points.rows[static_cast<size_t>(p) * 3 + d] =
          points.columns[p + static_cast<size_t>(d) * count];
    }
  }
  return points;
}

Points uniform_points(int32_t count, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<double> columns(static_cast<size_t>(count) * 3);
  for (double& x : columns) x = uniform(random);
  return with_rows("uniform, M = " + std::to_string(count), count, std::move(columns));
}

Points icosphere_vertices(int subdivisions) {
  const tulm_test::Mesh mesh = tulm_test::icosphere(subdivisions);
  const std::vector<float> columns = tulm_test::transposed(mesh.vertices, 3, mesh.numVerts);
  return with_rows(
      "icosphere " + std::to_string(subdivisions) + ", M = " + std::to_string(mesh.numVerts),
      mesh.numVerts, std::vector<double>(columns.begin(), columns.end()));
}

using BuildTree = decltype(&tulm::build_tree);
using ReleaseTree = decltype(&tulm::release_tree);
// build_tree before it polled for Ctrl-C.
using BuildTreeWithoutPolls = tulm::tree_header* (*)(const double*, int32_t, int32_t, int32_t*,
                                                     int32_t, int32_t, tulm::Diagnostics&,
                                                     tulm::ParallelRun);

// The build_tree and release_tree of a tree library.
struct TreeLibrary {
  BuildTree build;
  ReleaseTree release;
};

// The other library's build_tree where it has no StopPoll.
BuildTreeWithoutPolls otherWithoutPolls = nullptr;

tulm::tree_header* build_without_polls(const double* data, int32_t stride, int32_t ndim,
                                       int32_t* idx, int32_t n, int32_t dim,
                                       tulm::Diagnostics& diagnostics, tulm::ParallelRun parallel,
                                       tulm::StopPoll) {
  return otherWithoutPolls(data, stride, ndim, idx, n, dim, diagnostics, parallel);
}

// Another copy of the tree library, loaded beside ours; ends the program if it has none.
TreeLibrary load_tree_library(const char* path) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    std::exit(1);
  }
  // The names of tulm::build_tree (with and without its StopPoll) and tulm::release_tree as
  // this compiler mangles them.
  TreeLibrary functions{
      reinterpret_cast<BuildTree>(
          dlsym(library, "_ZN4tulm10build_treeEPKdiiPiiiRNS_11DiagnosticsEPFviPFvPviiES5_EPFvvE")),
      reinterpret_cast<ReleaseTree>(dlsym(library, "_ZN4tulm12release_treeEPNS_11tree_headerE"))};
  if (functions.build == nullptr) {
    otherWithoutPolls = reinterpret_cast<BuildTreeWithoutPolls>(
        dlsym(library, "_ZN4tulm10build_treeEPKdiiPiiiRNS_11DiagnosticsEPFviPFvPviiES5_E"));
    if (otherWithoutPolls != nullptr) functions.build = build_without_polls;
  }
  if (functions.build == nullptr || functions.release == nullptr) {
    std::fprintf(stderr, "%s holds no build_tree and release_tree of this signature\n", path);
    std::exit(1);
  }
  return functions;
}

// The 1-, 5- and 15-minute load averages of the system, where it tells them.
std::string load_averages() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  if (!(file >> one >> five >> fifteen)) return "unknown";
  return one + " " + five + " " + fifteen;
}

// threads: 1, or 0 for every processor.
Timing our_build(const Points& points, int threads,
                 TreeLibrary library = {tulm::build_tree, tulm::release_tree}) {
  tulm::set_thread_count(threads);
  tulm::CapturedDiagnostics diagnostics;
  std::vector<int32_t> idx(static_cast<size_t>(points.count));
  std::iota(idx.begin(), idx.end(), 0);
  tulm::tree_header* tree = nullptr;
  const Timing time = timed([&] {
    tree = library.build(points.columns.data(), points.count, 3, idx.data(), points.count, 0,
                         diagnostics, tulm::run_in_parallel, tulm::poll_interrupt);
  });
  if (tree == nullptr) {
    std::fprintf(stderr, "out of memory\n");
    std::exit(1);
  }
  library.release(tree);
  tulm::set_thread_count(0);
  return time;
}

struct NanoCloud {
  const Points& points;
  size_t kdtree_get_point_count() const { return static_cast<size_t>(points.count); }
  double kdtree_get_pt(size_t p, size_t d) const { return points.rows[p * 3 + d]; }
  template <class Box>
  bool kdtree_get_bbox(Box&) const {
    return false;
  }
};
using NanoTree =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, NanoCloud>, NanoCloud,
                                        3>;

Timing nanoflann_build(const Points& points, size_t leafSize) {
  const NanoCloud cloud{points};
  NanoTree* tree = nullptr;
  const Timing time = timed(
      [&] { tree = new NanoTree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(leafSize)); });
  delete tree;
  return time;
}

Timing flann_build(const Points& points) {
  flann::Matrix<double> data(const_cast<double*>(points.rows.data()), points.count, 3);
  flann::KDTreeSingleIndex<flann::L2<double>>* index = nullptr;
  const Timing time = timed([&] {
    index =
        new flann::KDTreeSingleIndex<flann::L2<double>>(data, flann::KDTreeSingleIndexParams(10));
    index->buildIndex();
  });
  delete index;
  return time;
}

struct Builder {
  const char* name;
  std::function<Timing(const Points&)> build;
};

// The first `paired` builders come in pairs, ours then the other library's, that swap places
// every round: which build runs right after which leaves the next one a different heap (pages
// mapped afresh or reused), and a fixed order gave the same library up to a tenth apart.
void compare(const Points& points, const std::vector<Builder>& builders, size_t paired) {
  std::vector<std::vector<double>> walls(builders.size());
  std::vector<std::vector<double>> processors(builders.size());
  for (int round = 0; round < kRounds; ++round) {
    for (size_t k = 0; k < builders.size(); ++k) {
      const size_t b = k < paired && round % 2 == 1 ? k ^ 1 : k;
      const Timing time = builders[b].build(points);
      walls[b].push_back(time.wall);
      processors[b].push_back(time.processor);
    }
  }
  std::printf("%s, medians of %d rounds (wall; processor time of the process):\n",
              points.name.c_str(), kRounds);
  const double ours = median(walls[0]);
  for (size_t b = 0; b < builders.size(); ++b) {
    const double wall = median(walls[b]);
    std::printf("  %-26s %8.1f ms  (%8.1f ms)   ours (1 thread) / this: %.2f\n", builders[b].name,
                1e3 * wall, 1e3 * median(processors[b]), ours / wall);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("threads: %d; peers single-threaded (neither builds on several); load averages %s\n",
              tulm::thread_count(), load_averages().c_str());
  std::vector<Builder> builders = {
      {"ours, 1 thread", [](const Points& p) { return our_build(p, 1); }},
      {"ours, all threads", [](const Points& p) { return our_build(p, 0); }},
      {"nanoflann, leaf 10", [](const Points& p) { return nanoflann_build(p, 10); }},
      {"nanoflann, leaf 1", [](const Points& p) { return nanoflann_build(p, 1); }},
      {"FLANN single index, leaf 10", flann_build},
  };
  size_t paired = 0;
  if (argc > 1) {
    const TreeLibrary other = load_tree_library(argv[1]);
    std::printf("other: %s\n", argv[1]);
    builders.insert(builders.begin() + 1, {"other, 1 thread", [other](const Points& p) {
                                             return our_build(p, 1, other);
                                           }});
    builders.insert(builders.begin() + 3, {"other, all threads", [other](const Points& p) {
                                             return our_build(p, 0, other);
                                           }});
    paired = 4;
  }
  compare(uniform_points(1000000, 20261209), builders, paired);
  compare(icosphere_vertices(7), builders, paired);
  compare(icosphere_vertices(8), builders, paired);
  std::printf("load averages %s\n", load_averages().c_str());
  return 0;
}
