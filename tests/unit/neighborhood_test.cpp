// Ring neighbourhoods through the stand-in host: the octahedron examples, padding anywhere in
// a column, the checks, and a breadth-first search over adjacency sets as the oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <queue>
#include <random>
#include <set>

#include "harness.h"
#include "icosphere.h"

using mexhost::Array;
using mexhost::call;
using mexhost::int32_array;
using mexhost::int32_scalar;

namespace {

const char* const kRing = "TULM_findNeighborhoodGivenRadius";
const char* const kUsage =
    "Five inputs required. maxNeighbors (int32), numVerts (int32), vertex (int32), radius "
    "(int32), vertexNbors (int *)";

// Octahedron, 1 on top, 6 at the bottom, 2 3 4 5 around the middle; column form K x V, K = 4.
const std::vector<int32_t> kOctahedron = {2, 3, 4, 5, 1, 3, 5, 6, 1, 2, 4, 6,
                                          1, 3, 5, 6, 1, 2, 4, 6, 2, 3, 4, 5};

mexhost::CallResult ring(int32_t K, int32_t V, int32_t vertex, int32_t radius,
                         const std::vector<int32_t>& table) {
  return call(kRing, 1,
              {int32_scalar(K), int32_scalar(V), int32_scalar(vertex), int32_scalar(radius),
               int32_array({size_t(K), table.size() / std::max<size_t>(K, 1)}, table)});
}

struct RingCase {
  const char* name;
  int32_t K;
  std::vector<int32_t> table;
  int32_t vertex;
  int32_t radius;
  std::vector<int32_t> expected;
};

class Rings : public testing::TestWithParam<RingCase> {};

TEST_P(Rings, GiveTheVerticesWithinTheRadiusAscending) {
  const RingCase& c = GetParam();
  const int32_t V = static_cast<int32_t>(c.table.size() / c.K);
  const auto result = ring(c.K, V, c.vertex, c.radius, c.table);
  ASSERT_FALSE(result.failed) << result.error;
  EXPECT_EQ(result.outputs[0].class_id(), mxINT32_CLASS);
  EXPECT_EQ(result.outputs[0].dims(), (std::vector<size_t>{1, c.expected.size()}));
  EXPECT_EQ(result.outputs[0].values<int32_t>(), c.expected);
  EXPECT_TRUE(result.inputs_intact);
}

// The octahedron table with each column reversed and padded with zeros in different places.
const std::vector<int32_t> kShuffledPadded = {0, 5, 4, 0, 3, 2, 0,  //
                                              6, 0, 5, 0, 3, 1, 0,  //
                                              0, 6, 4, 2, 1, 0, 0,  //
                                              6, 0, 0, 5, 3, 1, 0,  //
                                              0, 0, 6, 4, 2, 1, 0,  //
                                              5, 4, 3, 2, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Octahedron, Rings,
    testing::Values(
        RingCase{"RadiusZero", 4, kOctahedron, 1, 0, {1}},
        RingCase{"RadiusOne", 4, kOctahedron, 1, 1, {1, 2, 3, 4, 5}},
        RingCase{"RadiusTwo", 4, kOctahedron, 1, 2, {1, 2, 3, 4, 5, 6}},
        RingCase{"RadiusBeyondTheMesh", 4, kOctahedron, 1, 9, {1, 2, 3, 4, 5, 6}},
        RingCase{"HugeRadiusEndsOnceNothingGrows", 4, kOctahedron, 1, INT_MAX, {1, 2, 3, 4, 5, 6}},
        RingCase{"SideVertexRadiusOne", 4, kOctahedron, 2, 1, {1, 2, 3, 5, 6}},
        RingCase{"NegativeRadiusIsZero", 4, kOctahedron, 4, -3, {4}},
        RingCase{"OrderAndPaddingDoNotMatter", 7, kShuffledPadded, 2, 1, {1, 2, 3, 5, 6}},
        RingCase{
            "OrderAndPaddingDoNotMatterTwoRings", 7, kShuffledPadded, 1, 2, {1, 2, 3, 4, 5, 6}},
        RingCase{"IsolatedVertex", 2, {2, 0, 1, 0, 0, 0}, 3, 5, {3}},
        RingCase{"PathGrowsOneRingPerStep", 2, {2, 0, 1, 3, 2, 4, 3, 0}, 1, 2, {1, 2, 3}}),
    [](const testing::TestParamInfo<RingCase>& info) { return std::string(info.param.name); });

TEST(RingNoVertices, GiveAnEmptyRowWhateverTheCentre) {
  for (int32_t V : {0, -6}) {
    for (int32_t vertex : {0, 1, 7}) {
      const auto result = call(kRing, 1,
                               {int32_scalar(4), int32_scalar(V), int32_scalar(vertex),
                                int32_scalar(2), int32_array({0, 0})});
      ASSERT_FALSE(result.failed) << result.error;
      EXPECT_EQ(result.outputs[0].dims(), (std::vector<size_t>{1, 0}));
    }
  }
}

TEST(RingNoSlots, NegativeMaxNeighborsReadsNoSlot) {
  const auto result = call(
      kRing, 1,
      {int32_scalar(-4), int32_scalar(6), int32_scalar(2), int32_scalar(3), int32_array({0, 0})});
  ASSERT_FALSE(result.failed) << result.error;
  EXPECT_EQ(result.outputs[0].values<int32_t>(), std::vector<int32_t>{2});
}

TEST(RingChecks, EntriesAreCheckedOnlyInColumnsThatAreExpanded) {
  std::vector<int32_t> table = kOctahedron;
  table[4 * 5 + 3] = 99;  // vertex 6, the bottom: marked by ring 2, expanded by step 3
  EXPECT_FALSE(ring(4, 6, 1, 2, table).failed);
  EXPECT_EQ(ring(4, 6, 1, 3, table).error, "vertexNbors holds 99 at (4, 6), outside 0..6");
}

struct ErrorCase {
  const char* name;
  int nlhs;
  std::vector<Array> inputs;
  const char* message;
};

class RingErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(RingErrors, EndTheCallWithTheMessage) {
  const ErrorCase& c = GetParam();
  const auto result = call(kRing, c.nlhs, c.inputs);
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.error, c.message);
  EXPECT_TRUE(result.guards_intact);
}

Array s(int32_t value) { return int32_scalar(value); }
Array octahedron() { return int32_array({4, 6}, kOctahedron); }

INSTANTIATE_TEST_SUITE_P(
    Checks, RingErrors,
    testing::Values(ErrorCase{"CountFirst", 2, {s(4), s(6), s(1), s(1)}, kUsage},
                    ErrorCase{"TwoOutputs",
                              2,
                              {s(4), s(6), s(1), s(1), octahedron()},
                              "Too many output arguments"},
                    ErrorCase{"RadiusOfAnotherClass",
                              1,
                              {s(4), s(6), s(1), mexhost::double_scalar(1), octahedron()},
                              "radius must be an int32 scalar (got double)"},
                    ErrorCase{"TableOfAnotherClass",
                              1,
                              {s(4), s(6), s(1), s(1), mexhost::double_array({4, 6})},
                              "vertexNbors must be an int32 matrix (got double)"},
                    ErrorCase{"TableSmallerThanKByV",
                              1,
                              {s(4), s(7), s(1), s(1), octahedron()},
                              "vertexNbors must be at least 4 x 7 (got 4 x 6)"},
                    ErrorCase{"RowFormTable",
                              1,
                              {s(4), s(6), s(1), s(1), int32_array({6, 4}, kOctahedron)},
                              "vertexNbors must be at least 4 x 6 (got 6 x 4)"},
                    ErrorCase{"CentreZero",
                              1,
                              {s(4), s(6), s(0), s(1), octahedron()},
                              "vertex holds 0 at (1, 1), outside 1..6"},
                    ErrorCase{"CentreAboveV",
                              1,
                              {s(4), s(6), s(7), s(0), octahedron()},
                              "vertex holds 7 at (1, 1), outside 1..6"},
                    ErrorCase{"NegativeEntry",
                              1,
                              {s(1), s(2), s(1), s(1), int32_array({1, 2}, {-2, 1})},
                              "vertexNbors holds -2 at (1, 1), outside 0..2"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST(RingOracle, IcosphereMatchesBreadthFirstSearchOverAdjacencySets) {
  const tulm_test::Mesh mesh = tulm_test::icosphere(3);
  const int32_t V = mesh.numVerts;
  std::vector<std::set<int32_t>> adjacency(V);
  for (int32_t i = 0; i < mesh.numFaces; ++i) {
    for (int j = 0; j < 3; ++j) {
      const int32_t a = mesh.faces[3 * i + j] - 1, b = mesh.faces[3 * i + (j + 1) % 3] - 1;
      adjacency[a].insert(b);
      adjacency[b].insert(a);
    }
  }
  // A K x V table with one spare slot per column, zero at a random position.
  const int32_t K = 7;
  std::mt19937 random(23);
  std::vector<int32_t> table(size_t(K) * V, 0);
  for (int32_t v = 0; v < V; ++v) {
    std::vector<int32_t> column(adjacency[v].begin(), adjacency[v].end());
    for (int32_t& n : column) ++n;
    column.resize(K, 0);
    std::shuffle(column.begin(), column.end(), random);
    std::copy(column.begin(), column.end(), table.begin() + size_t(v) * K);
  }
  for (int32_t centre : {1, 77, V}) {
    for (int32_t radius : {1, 3, 6}) {
      std::vector<int32_t> distance(V, -1);
      std::queue<int32_t> queue;
      distance[centre - 1] = 0;
      queue.push(centre - 1);
      std::vector<int32_t> expected;
      while (!queue.empty()) {
        const int32_t v = queue.front();
        queue.pop();
        for (int32_t n : adjacency[v]) {
          if (distance[n] < 0 && distance[v] < radius) {
            distance[n] = distance[v] + 1;
            queue.push(n);
          }
        }
      }
      for (int32_t v = 0; v < V; ++v) {
        if (distance[v] >= 0) expected.push_back(v + 1);
      }
      const auto result = ring(K, V, centre, radius, table);
      ASSERT_FALSE(result.failed) << result.error;
      EXPECT_EQ(result.outputs[0].values<int32_t>(), expected)
          << "centre " << centre << ", radius " << radius;
    }
  }
}

}  // namespace
