// The k-d tree routines directly: shapes, the dump, the radius search, the nearest queries, and
// the fast construction against the literal one.
#include "core/spatial_search/kdtree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/diagnostics.h"
#include "core/errors.h"
#include "core/parallel.h"
#include "core/spatial_search/literal_kdtree.h"
#include "core/spatial_search/nearest_queries.h"
#include "core/spatial_search/radiusPointSearch.h"
#include "icosphere.h"
#include "kdtree_oracle.h"

using tulm_test::Cloud;
using tulm_test::CloudCase;
using tulm_test::PreorderOracle;

namespace {

// Points given row by row.
Cloud cloud_of(const std::vector<std::vector<double>>& rows) {
  Cloud cloud{static_cast<int32_t>(rows.size()), static_cast<int32_t>(rows[0].size()), {}};
  cloud.xyz.resize(rows.size() * rows[0].size());
  for (size_t p = 0; p < rows.size(); ++p) {
    for (size_t d = 0; d < rows[p].size(); ++d) cloud.xyz[p + d * rows.size()] = rows[p][d];
  }
  return cloud;
}

const std::vector<std::vector<double>> kSixPoints = {{2, 3}, {5, 4}, {9, 6},
                                                     {4, 7}, {8, 1}, {7, 2}};

struct ReleaseTree {
  void operator()(tulm::tree_header* tree) const { tulm::release_tree(tree); }
};
using Tree = std::unique_ptr<tulm::tree_header, ReleaseTree>;

Tree fast_tree(const Cloud& cloud, tulm::ParallelRun parallel = tulm::run_in_parallel) {
  tulm::CapturedDiagnostics diagnostics;
  std::vector<int32_t> idx(static_cast<size_t>(cloud.M));
  std::iota(idx.begin(), idx.end(), 0);
  return Tree(tulm::build_tree(cloud.xyz.data(), cloud.M, cloud.N, idx.data(), cloud.M, 0,
                               diagnostics, parallel));
}

struct FreeTree {
  void operator()(tulm::node* root) const { tulm::reference::free_tree(root); }
};
using LiteralTree = std::unique_ptr<tulm::node, FreeTree>;

// The same tree built literally, one node at a time.
LiteralTree literal_tree(const Cloud& cloud) {
  tulm::CapturedDiagnostics diagnostics;
  std::vector<int32_t> idx(static_cast<size_t>(cloud.M));
  std::iota(idx.begin(), idx.end(), 0);
  return LiteralTree(tulm::reference::build_tree_core(cloud.xyz.data(), cloud.M, cloud.N,
                                                      idx.data(), cloud.M, 0, diagnostics));
}

// "row(left,right)" with "-" for a missing child, leaves as plain rows.
std::string shape(const tulm::node* at) {
  if (at == nullptr) return "-";
  std::string text = std::to_string(at->idx);
  if (at->left != nullptr || at->right != nullptr) {
    text += "(" + shape(at->left) + "," + shape(at->right) + ")";
  }
  return text;
}

// Every field that a search reads, bit for bit, in pre-order.
void expect_same_tree(const tulm::node* a, const tulm::node* b, int32_t ndim) {
  ASSERT_EQ(a == nullptr, b == nullptr);
  if (a == nullptr) return;
  ASSERT_EQ(a->idx, b->idx);
  ASSERT_EQ(a->dim, b->dim);
  ASSERT_EQ(std::memcmp(a->value, b->value, ndim * sizeof(double)), 0);
  expect_same_tree(a->left, b->left, ndim);
  expect_same_tree(a->right, b->right, ndim);
}

void collect_preorder(const tulm::node* at, std::vector<int32_t>& rows) {
  if (at == nullptr) return;
  rows.push_back(static_cast<int32_t>(at->idx));
  collect_preorder(at->left, rows);
  collect_preorder(at->right, rows);
}

// Dumps a subtree in pre-order, one "Node: ..." line per node with "Going left/right" and
// "Left/Right is (null)" lines between them.
void display_tree(const tulm::node* root, int32_t ndim, tulm::Diagnostics& diagnostics) {
  diagnostics.print(tulm::format("Node: (dim = %d) (idx= %u) (value = ", root->dim, root->idx));
  for (int32_t k = 0; k < ndim; ++k) diagnostics.print(tulm::format("%f\t", root->value[k]));
  diagnostics.print(")\n");
  if (root->left != nullptr) {
    diagnostics.print("Going left\n");
    display_tree(root->left, ndim, diagnostics);
  } else {
    diagnostics.print("Left is (null)\n");
  }
  if (root->right != nullptr) {
    diagnostics.print("Going right\n");
    display_tree(root->right, ndim, diagnostics);
  } else {
    diagnostics.print("Right is (null)\n");
  }
}

struct ShapeCase {
  const char* name;
  std::vector<std::vector<double>> points;
  std::string shape;
};

class TreeShapes : public testing::TestWithParam<ShapeCase> {};

TEST_P(TreeShapes, BothConstructionsGiveTheDocumentedShape) {
  const Cloud cloud = cloud_of(GetParam().points);
  EXPECT_EQ(shape(fast_tree(cloud)->root), GetParam().shape);
  EXPECT_EQ(shape(literal_tree(cloud).get()), GetParam().shape);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TreeShapes,
    testing::Values(ShapeCase{"OnePointIsOneLeaf", {{4}}, "0"},
                    ShapeCase{"MiddleValueIsRoot", {{3}, {1}, {2}}, "2(1,0)"},
                    ShapeCase{"TwoEqualPointsLeanLeft", {{1}, {1}}, "0(1,-)"},
                    ShapeCase{"ThreeEqualPointsReversed", {{5}, {5}, {5}}, "2(1,0)"},
                    ShapeCase{"SixPointsInThePlane", kSixPoints, "5(1(0,3),2(4,-))"}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return std::string(info.param.name); });

TEST(DisplayTree, DumpsTheSixPointTreeLineByLine) {
  const Tree tree = fast_tree(cloud_of(kSixPoints));
  tulm::CapturedDiagnostics diagnostics;
  display_tree(tree->root, 2, diagnostics);
  const std::string expected =
      "Node: (dim = 0) (idx= 5) (value = 7.000000\t2.000000\t)\n"
      "Going left\n"
      "Node: (dim = 1) (idx= 1) (value = 5.000000\t4.000000\t)\n"
      "Going left\n"
      "Node: (dim = 0) (idx= 0) (value = 2.000000\t3.000000\t)\n"
      "Left is (null)\n"
      "Right is (null)\n"
      "Going right\n"
      "Node: (dim = 0) (idx= 3) (value = 4.000000\t7.000000\t)\n"
      "Left is (null)\n"
      "Right is (null)\n"
      "Going right\n"
      "Node: (dim = 1) (idx= 2) (value = 9.000000\t6.000000\t)\n"
      "Going left\n"
      "Node: (dim = 0) (idx= 4) (value = 8.000000\t1.000000\t)\n"
      "Left is (null)\n"
      "Right is (null)\n"
      "Right is (null)\n";
  EXPECT_EQ(diagnostics.printed, expected);
}

// rangeQuery's list, as rows; releases the cells as a caller must.
std::vector<uint32_t> take_list(tulm::node* cell) {
  std::vector<uint32_t> rows;
  while (cell != nullptr) {
    rows.push_back(cell->idx);
    tulm::node* next = cell->right;
    std::free(cell->value);
    std::free(cell);
    cell = next;
  }
  return rows;
}

TEST(RangeQuery, ListsMatchesInPreorderInclusiveOfTheRadius) {
  const Tree tree = fast_tree(cloud_of(kSixPoints));
  const double q[] = {5, 4};
  EXPECT_EQ(take_list(tulm::reference::rangeQuery(tree->root, 3.0, q, 2)),
            (std::vector<uint32_t>{5, 1}));
  EXPECT_EQ(take_list(tulm::reference::rangeQuery(tree->root, 0.0, q, 2)),
            (std::vector<uint32_t>{1}));
  // (2, 3) and (4, 7) are at exactly sqrt(10) from (5, 4)
  EXPECT_EQ(take_list(tulm::reference::rangeQuery(tree->root, std::sqrt(10.0), q, 2)),
            (std::vector<uint32_t>{5, 1, 0, 3}));
  EXPECT_EQ(take_list(tulm::reference::rangeQuery(tree->root, INFINITY, q, 2)),
            (std::vector<uint32_t>{5, 1, 0, 3, 2, 4}));
  EXPECT_EQ(take_list(tulm::reference::rangeQuery(tree->root, NAN, q, 2)),
            (std::vector<uint32_t>{}));
  const double nanPoint[] = {NAN, 4};
  EXPECT_EQ(take_list(tulm::reference::rangeQuery(tree->root, 3.0, nanPoint, 2)),
            (std::vector<uint32_t>{}));
}

TEST(PointLocation, DescendsToTheDocumentedCandidate) {
  const Tree tree = fast_tree(cloud_of(kSixPoints));
  const double q[] = {6, 3};
  EXPECT_EQ(tulm::pointLocation(tree->root, q, 2)->idx, 0u);
}

TEST(RunQueries, NanRowPrintsNullAndGetsMinusOne) {
  const Tree tree = fast_tree(cloud_of(kSixPoints));
  const double model[] = {6, NAN, 3, 1};  // rows (6, 3) and (NaN, 1)
  double out[4] = {};
  double dist[2] = {};
  tulm::CapturedDiagnostics diagnostics;
  tulm::run_queries(*tree, model, 2, out, dist, tulm::kPointMode, diagnostics);
  EXPECT_EQ(diagnostics.printed, "Null LL\n");
  EXPECT_EQ(std::vector<double>(out, out + 4), (std::vector<double>{5, -1, 4, -1}));
  EXPECT_EQ(dist[0], std::sqrt(2.0));
  EXPECT_EQ(dist[1], 0.0);
}

class RandomClouds : public testing::TestWithParam<CloudCase> {};

// The fast construction must give the literal construction's tree, field by field, and both
// the oracle's pre-order.
TEST_P(RandomClouds, FastConstructionIsTheLiteralTree) {
  const CloudCase& c = GetParam();
  for (unsigned seed = 1; seed <= 3; ++seed) {
    const Cloud cloud = tulm_test::random_cloud(c.M, c.N, c.range, seed);
    const Tree fast = fast_tree(cloud);
    const LiteralTree literal = literal_tree(cloud);
    expect_same_tree(fast->root, literal.get(), c.N);
    std::vector<int32_t> rows;
    collect_preorder(literal.get(), rows);
    EXPECT_EQ(rows, PreorderOracle(cloud).order());
  }
}

TEST_P(RandomClouds, NearestAndRadiusMatchBruteForce) {
  const CloudCase& c = GetParam();
  const Cloud cloud = tulm_test::random_cloud(c.M, c.N, c.range, 7);
  const PreorderOracle oracle(cloud);
  const Tree tree = fast_tree(cloud);
  const int32_t Q = 200;
  // Queries on and between the grid points, so that ties are frequent.
  Cloud model = tulm_test::random_cloud(Q, c.N, c.range > 0 ? 2 * c.range : 0, 8);
  if (c.range > 0) {
    for (double& x : model.xyz) x *= 0.5;
  }
  std::vector<double> index(Q), point(static_cast<size_t>(Q) * c.N), dist(Q), dist2(Q);
  tulm::CapturedDiagnostics diagnostics;
  tulm::run_queries(*tree, model.xyz.data(), Q, index.data(), dist.data(), tulm::kIndexMode,
                    diagnostics);
  tulm::run_queries(*tree, model.xyz.data(), Q, point.data(), dist2.data(), tulm::kPointMode,
                    diagnostics);
  EXPECT_EQ(diagnostics.printed, "");
  for (int32_t i = 0; i < Q; ++i) {
    const std::vector<double> q = model.row(i);
    const tulm_test::Nearest expected = tulm_test::brute_nearest(cloud, oracle, q);
    ASSERT_EQ(index[i], expected.row) << "model row " << i;
    ASSERT_EQ(dist[i], expected.distance);
    ASSERT_EQ(dist2[i], expected.distance);
    for (int32_t d = 0; d < c.N; ++d) ASSERT_EQ(point[i + d * Q], cloud.at(expected.row, d));

    const double r = c.range > 0 ? (i % 4) * 0.5 : 0.1 * (i % 3);
    std::vector<int32_t> rows;
    for (const tulm::node* match : tulm::run_range_search(tree->root, q.data(), c.N, r)) {
      rows.push_back(static_cast<int32_t>(match->idx));
    }
    ASSERT_EQ(rows, tulm_test::brute_within(cloud, oracle, q, r)) << "model row " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Clouds, RandomClouds,
    testing::Values(CloudCase{"Line_Ties", 300, 1, 7}, CloudCase{"Plane_Ties", 300, 2, 4},
                    CloudCase{"Space_Ties", 300, 3, 3}, CloudCase{"Space_FewTies", 400, 3, 40},
                    CloudCase{"Line_Continuous", 301, 1, 0},
                    CloudCase{"Plane_Continuous", 257, 2, 0},
                    CloudCase{"Space_Continuous", 500, 3, 0}, CloudCase{"FourDims_Ties", 200, 4, 3},
                    CloudCase{"Tiny", 2, 3, 2}),
    [](const testing::TestParamInfo<CloudCase>& info) { return std::string(info.param.name); });

// Enough queries to be taken in a cache-friendly order: every row still gets its own
// answer, and rows without a match keep their distance.
TEST(RunQueries, ManyQueriesInAnyOrderKeepTheirRows) {
  const Cloud cloud = tulm_test::random_cloud(300, 3, 3, 21);
  const PreorderOracle oracle(cloud);
  const Tree tree = fast_tree(cloud);
  Cloud model = tulm_test::random_cloud(3000, 3, 6, 22);
  for (double& x : model.xyz) x *= 0.5;
  for (int32_t i = 0; i < model.M; i += 97) model.xyz[i + model.M] = NAN;
  std::vector<double> index(model.M), dist(model.M, 42.0);
  tulm::CapturedDiagnostics diagnostics;
  tulm::run_queries(*tree, model.xyz.data(), model.M, index.data(), dist.data(), tulm::kIndexMode,
                    diagnostics);
  std::string nullLines;
  for (int32_t i = 0; i < model.M; ++i) {
    if (i % 97 == 0) {
      nullLines += "Null LL\n";
      ASSERT_EQ(index[i], -1);
      ASSERT_EQ(dist[i], 42.0);
      continue;
    }
    const tulm_test::Nearest expected = tulm_test::brute_nearest(cloud, oracle, model.row(i));
    ASSERT_EQ(index[i], expected.row) << "model row " << i;
    ASSERT_EQ(dist[i], expected.distance);
  }
  EXPECT_EQ(diagnostics.printed, nullLines);
}

// Ties in one dimension only: the fast construction selects along the distinct dimension
// and falls back to the exact sort along the tied one, from the order the literal
// construction would have there.
TEST(FastConstruction, MixedTiedAndDistinctDimensions) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    Cloud cloud = tulm_test::random_cloud(500, 3, 0, seed);
    for (int32_t p = 0; p < cloud.M; ++p) {
      cloud.xyz[p + cloud.M] = std::floor(cloud.xyz[p + cloud.M] * 5);  // dimension 1 tied
    }
    expect_same_tree(fast_tree(cloud)->root, literal_tree(cloud).get(), cloud.N);
  }
  // A few shared keys among distinct ones: only the slices that hold both rows of a pair
  // take the exact sort.
  for (unsigned seed = 1; seed <= 10; ++seed) {
    Cloud cloud = tulm_test::random_cloud(2000, 3, 0, seed);
    for (int32_t k = 0; k < 6; ++k) {
      const int32_t d = k % 3;
      cloud.xyz[(k * 331 + seed) % 2000 + d * 2000] = cloud.xyz[(k * 127 + 5) % 2000 + d * 2000];
    }
    expect_same_tree(fast_tree(cloud)->root, literal_tree(cloud).get(), cloud.N);
  }
}

// Sorted and reverse-sorted distinct points along a line, NaN and signed zeros.
TEST(FastConstruction, SortedLinesAndNaN) {
  Cloud sorted{2000, 1, std::vector<double>(2000)};
  std::iota(sorted.xyz.begin(), sorted.xyz.end(), 0.0);
  Cloud reversed = sorted;
  std::reverse(reversed.xyz.begin(), reversed.xyz.end());
  Cloud withNan = tulm_test::random_cloud(100, 2, 3, 5);
  withNan.xyz[7] = NAN;
  withNan.xyz[150] = NAN;
  for (const Cloud* cloud : {&sorted, &reversed, &withNan}) {
    expect_same_tree(fast_tree(*cloud)->root, literal_tree(*cloud).get(), cloud->N);
  }
  // -0 and 0 are equal keys, a tie, although their bits differ.
  for (unsigned seed = 1; seed <= 20; ++seed) {
    Cloud zeros = tulm_test::random_cloud(40, 1, 0, seed);
    zeros.xyz[seed % 40] = 0.0;
    zeros.xyz[(7 * seed + 3) % 40] = -0.0;
    expect_same_tree(fast_tree(zeros)->root, literal_tree(zeros).get(), zeros.N);
  }
}

// Clouds whose equal keys meet the median of many slices, at every depth: the construction
// then needs the exact order the literal one hands such a slice, often from several levels up.
Cloud icosphere_vertices(int subdivisions) {
  const tulm_test::Mesh mesh = tulm_test::icosphere(subdivisions);
  Cloud cloud{mesh.numVerts, 3, {}};
  // Single coordinates converted to double, as the location plug-ins hand them over.
  const std::vector<float> columns = tulm_test::transposed(mesh.vertices, 3, mesh.numVerts);
  cloud.xyz.assign(columns.begin(), columns.end());
  return cloud;
}

// Every point of an integer grid one to four times, shuffled.
Cloud duplicated_points() {
  const Cloud grid = tulm_test::random_cloud(3000, 3, 50, 11);
  std::mt19937 random(12);
  std::vector<int32_t> rows;
  for (int32_t p = 0; p < grid.M; ++p) rows.insert(rows.end(), 1 + random() % 4, p);
  std::shuffle(rows.begin(), rows.end(), random);
  Cloud cloud{static_cast<int32_t>(rows.size()), 3, {}};
  for (int32_t d = 0; d < 3; ++d) {
    for (const int32_t row : rows) cloud.xyz.push_back(grid.at(row, d));
  }
  return cloud;
}

// An integer grid with NaN, infinities and signed zeros in every dimension.
Cloud grid_with_nan_and_infinities() {
  Cloud cloud = tulm_test::random_cloud(2000, 3, 6, 13);
  for (size_t k = 0; k < cloud.xyz.size(); k += 37) cloud.xyz[k] = NAN;
  for (size_t k = 5; k < cloud.xyz.size(); k += 53) cloud.xyz[k] = k % 2 ? INFINITY : -INFINITY;
  for (size_t k = 9; k < cloud.xyz.size(); k += 29) cloud.xyz[k] = k % 2 ? 0.0 : -0.0;
  return cloud;
}

Cloud line_with_repeats() { return tulm_test::random_cloud(5000, 1, 30, 14); }

// The points of a 3-D integer grid in lexicographic order, or in the reverse order.
Cloud ordered_grid(bool reversed) {
  Cloud cloud{20 * 20 * 20, 3, std::vector<double>(3 * 20 * 20 * 20)};
  for (int32_t p = 0; p < cloud.M; ++p) {
    const int32_t q = reversed ? cloud.M - 1 - p : p;
    cloud.xyz[p] = q / 400;
    cloud.xyz[p + cloud.M] = q / 20 % 20;
    cloud.xyz[p + 2 * cloud.M] = q % 20;
  }
  return cloud;
}

// Uniform points on a grid of step 1/2048: ties at every depth, many slices deep in the tree
// with a tied median under slices without one. Large enough for the build to use threads.
Cloud fine_grid() {
  Cloud cloud = tulm_test::random_cloud(40000, 3, 0, 15);
  for (double& x : cloud.xyz) x = std::floor(x * 2048) / 2048;
  return cloud;
}

// An integer grid whose first dimension also holds the largest and smallest floats, infinities
// and signed zeros, all of them floats, and whose second also holds doubles beyond the floats'
// range, so that the keys of one dimension are sorted as floats and those of the other as
// doubles.
Cloud grid_with_float_range_edges() {
  Cloud cloud = tulm_test::random_cloud(3000, 3, 5, 16);
  const double floats[] = {FLT_MAX, -FLT_MAX, INFINITY, -INFINITY, FLT_TRUE_MIN, -0.0, 0.0};
  const double beyond[] = {1e300, -1e300, 3.5e38, FLT_MAX, -INFINITY, 1e-300, -0.0};
  for (int32_t k = 0; k < 300; ++k) {
    cloud.xyz[(k * 7) % cloud.M] = floats[k % 7];
    cloud.xyz[(k * 11) % cloud.M + cloud.M] = beyond[k % 7];
  }
  return cloud;
}

// More rows than one piece of the scans that the first levels share among threads, with NaN only
// in the rows of the last piece: every piece must be looked at for NaN and for the largest row.
Cloud large_grid_with_nan_in_its_last_rows() {
  Cloud cloud = tulm_test::random_cloud(140000, 3, 20, 17);
  cloud.xyz[cloud.M - 5 + cloud.M] = NAN;
  return cloud;
}

struct TieCase {
  const char* name;
  Cloud (*make)();
};

const TieCase kTieCases[] = {
    {"IcosphereVertices5", [] { return icosphere_vertices(5); }},
    {"IcosphereVertices6", [] { return icosphere_vertices(6); }},
    // The first levels' exact sorts fill their entries in pieces shared among threads.
    {"IcosphereVertices7", [] { return icosphere_vertices(7); }},
    {"LargeGridWithNanInItsLastRows", large_grid_with_nan_in_its_last_rows},
    {"DuplicatedPoints", duplicated_points},
    {"GridWithNanAndInfinities", grid_with_nan_and_infinities},
    {"LineWithRepeats", line_with_repeats},
    {"SortedGrid", [] { return ordered_grid(false); }},
    {"ReverseSortedGrid", [] { return ordered_grid(true); }},
    {"FineGrid", fine_grid},
    {"GridWithFloatRangeEdges", grid_with_float_range_edges},
};

class TieHeavyClouds : public testing::TestWithParam<std::tuple<TieCase, int>> {
 protected:
  void TearDown() override { tulm::set_thread_count(0); }
};

// Node for node the literal construction's tree, at any thread count.
TEST_P(TieHeavyClouds, FastConstructionIsTheLiteralTree) {
  const Cloud cloud = std::get<0>(GetParam()).make();
  tulm::set_thread_count(std::get<1>(GetParam()));
  expect_same_tree(fast_tree(cloud)->root, literal_tree(cloud).get(), cloud.N);
}

INSTANTIATE_TEST_SUITE_P(Clouds, TieHeavyClouds,
                         testing::Combine(testing::ValuesIn(kTieCases), testing::Values(1, 2, 7)),
                         [](const testing::TestParamInfo<std::tuple<TieCase, int>>& info) {
                           return std::string(std::get<0>(info.param).name) + "_Threads" +
                                  std::to_string(std::get<1>(info.param));
                         });

// Parallel loops that run every range of one element on the calling thread, in orders that a
// pool may take too: the first, then the last, then the others (the thread that took the last
// range began before the others); and from the last to the first.
void first_then_last_then_rest(int32_t n, void (*body)(void*, int32_t, int32_t), void* context) {
  if (n > 0) body(context, 0, 1);
  if (n > 1) body(context, n - 1, n);
  for (int32_t k = 1; k + 1 < n; ++k) body(context, k, k + 1);
}

void last_to_first(int32_t n, void (*body)(void*, int32_t, int32_t), void* context) {
  for (int32_t k = n - 1; k >= 0; --k) body(context, k, k + 1);
}

// And one that runs them on two threads always, each taking the next range as it is free.
void on_two_threads(int32_t n, void (*body)(void*, int32_t, int32_t), void* context) {
  std::atomic<int32_t> next{0};
  const auto take = [&] {
    for (int32_t k = next++; k < n; k = next++) body(context, k, k + 1);
  };
  std::thread other(take);
  take();
  other.join();
}

// The tree does not depend on the order in which the build's parallel loops run their ranges.
// In particular the range after the sorts of the dimensions may find the root's dimension
// sorted and others not (it then starts the root's exact sort, which the root's split goes on
// with), or not sorted yet (it then leaves the root alone); and on two threads, the thread that
// ends its tasks first waits, and the other leaves it the right part of a large slice.
TEST(FastConstruction, AnyOrderOfTheParallelRanges) {
  const Cloud clouds[] = {icosphere_vertices(6), fine_grid(), icosphere_vertices(7)};
  for (const Cloud& cloud : clouds) {
    const LiteralTree literal = literal_tree(cloud);
    for (const tulm::ParallelRun run : {first_then_last_then_rest, last_to_first, on_two_threads}) {
      expect_same_tree(fast_tree(cloud, run)->root, literal.get(), cloud.N);
    }
  }
}

// A build takes the scratch that the builds before it kept, which still holds their data: each
// tree comes out as the literal construction's whatever was built before, larger or smaller,
// and two builds at once on two threads never share a block.
TEST(FastConstruction, ScratchKeptFromEarlierBuilds) {
  const Cloud clouds[] = {icosphere_vertices(7), fine_grid(), icosphere_vertices(6),
                          duplicated_points()};
  std::vector<LiteralTree> literal;
  for (const Cloud& cloud : clouds) literal.push_back(literal_tree(cloud));
  for (int round = 0; round < 2; ++round) {
    for (size_t k = 0; k < literal.size(); ++k) {
      expect_same_tree(fast_tree(clouds[k])->root, literal[k].get(), clouds[k].N);
    }
  }
  Tree beside;
  std::thread other([&] { beside = fast_tree(clouds[1]); });
  const Tree mine = fast_tree(clouds[0]);
  other.join();
  expect_same_tree(mine->root, literal[0].get(), clouds[0].N);
  expect_same_tree(beside->root, literal[1].get(), clouds[1].N);
}

}  // namespace
