// The neighbour and faces-of-vertex table builders, through the stand-in host.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "harness.h"
#include "icosphere.h"

using mexhost::Array;
using mexhost::call;
using mexhost::int32_array;
using mexhost::int32_scalar;

namespace {

const char* const kNbors = "TULM_convertFaces2VertNbors";
const char* const kFacesOfVert = "TULM_convertFaces2FacesOfVert";
const char* const kUsage =
    "Two inputs required. Face matrix and number of vertices, both assumed to be of type int32";

// Faces given row by row, as a user types them; stored F x cols, column-major.
Array faces_rows(const std::vector<std::vector<int32_t>>& rows) {
  const size_t cols = rows.empty() ? 3 : rows[0].size();
  std::vector<int32_t> values(rows.size() * cols);
  for (size_t i = 0; i < rows.size(); ++i) {
    for (size_t j = 0; j < cols; ++j) values[i + j * rows.size()] = rows[i][j];
  }
  return int32_array({rows.size(), cols}, values);
}

const std::vector<std::vector<int32_t>> kTetrahedron = {{1, 2, 3}, {1, 3, 4}, {1, 4, 2}, {2, 4, 3}};

struct TableCase {
  const char* name;
  const char* plugin;
  std::vector<std::vector<int32_t>> faces;
  int32_t numVerts;
  std::vector<int32_t> expected;  // the flattened (V*K) x 1 column
};

class TableBuilders : public testing::TestWithParam<TableCase> {};

TEST_P(TableBuilders, GiveTheExactFlattenedTable) {
  const TableCase& c = GetParam();
  const auto result = call(c.plugin, 1, {faces_rows(c.faces), int32_scalar(c.numVerts)});
  ASSERT_FALSE(result.failed) << result.error;
  const Array& table = result.outputs[0];
  EXPECT_EQ(table.class_id(), mxINT32_CLASS);
  EXPECT_EQ(table.dims(), (std::vector<size_t>{c.expected.size(), 1}));
  EXPECT_EQ(table.values<int32_t>(), c.expected);
  EXPECT_TRUE(result.guards_intact);
  EXPECT_TRUE(result.inputs_intact);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TableBuilders,
    testing::Values(
        TableCase{
            "TetrahedronNeighbours", kNbors, kTetrahedron, 4, {2, 1, 1, 1, 3, 3, 2, 3, 4, 4, 4, 2}},
        TableCase{"TetrahedronFaces",
                  kFacesOfVert,
                  kTetrahedron,
                  4,
                  {1, 1, 1, 2, 2, 3, 2, 3, 3, 4, 4, 4}},
        TableCase{"OneTriangleFaces", kFacesOfVert, {{1, 2, 3}}, 3, {1, 1, 1}},
        TableCase{"TwoTrianglesFacesPadded",
                  kFacesOfVert,
                  {{1, 2, 3}, {1, 3, 4}},
                  4,
                  {1, 1, 1, 2, 2, 0, 2, 0}},
        TableCase{"RepeatedCornerListedTwice", kFacesOfVert, {{1, 1, 2}}, 2, {1, 1, 1, 0}},
        TableCase{"UnusedVertexKeepsZeroRow", kFacesOfVert, {{1, 2, 3}}, 4, {1, 1, 1, 0}},
        TableCase{"ExtraColumnsIgnored",
                  kNbors,
                  {{1, 2, 3, 9}, {1, 3, 4, 9}, {1, 4, 2, 9}, {2, 4, 3, 9}},
                  4,
                  {2, 1, 1, 1, 3, 3, 2, 3, 4, 4, 4, 2}},
        // An open fan: vertex 1 has 2 faces but 3 neighbours, so K grows to 3.
        TableCase{"OpenMeshWidensToNeighbourCount",
                  kNbors,
                  {{1, 2, 3}, {1, 3, 4}},
                  4,
                  {2, 1, 1, 1, 3, 3, 2, 3, 4, 0, 4, 0}},
        // A face naming vertex 1 twice has the one real edge 1-2; K stays the corner count.
        TableCase{"RepeatedCornerIsNoSelfNeighbour", kNbors, {{1, 1, 2}}, 2, {2, 1, 0, 0}},
        TableCase{"NoFacesGiveEmptyColumn", kNbors, {}, 5, {}},
        TableCase{"NoVerticesNoFaces", kFacesOfVert, {}, 0, {}}),
    [](const testing::TestParamInfo<TableCase>& info) { return std::string(info.param.name); });

struct ErrorCase {
  const char* name;
  int nlhs;
  std::vector<Array> inputs;
  const char* message;
};

class TableBuilderErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(TableBuilderErrors, EndTheCallWithTheMessage) {
  for (const char* plugin : {kNbors, kFacesOfVert}) {
    const ErrorCase& c = GetParam();
    const auto result = call(plugin, c.nlhs, c.inputs);
    EXPECT_TRUE(result.failed) << plugin;
    EXPECT_EQ(result.error, c.message) << plugin;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Checks, TableBuilderErrors,
    testing::Values(
        // The documented checks come first and in order: the count before the outputs.
        ErrorCase{"NoInputs", 1, {}, kUsage},
        ErrorCase{"ThreeInputsAndTwoOutputs",
                  2,
                  {faces_rows(kTetrahedron), int32_scalar(4), int32_scalar(4)},
                  kUsage},
        ErrorCase{"TwoOutputs",
                  2,
                  {faces_rows(kTetrahedron), int32_scalar(4)},
                  "Too many output arguments"},
        ErrorCase{"FacesOfAnotherClass",
                  1,
                  {mexhost::double_array({1, 3}, {1, 2, 3}), int32_scalar(3)},
                  "faces must be an int32 matrix (got double)"},
        ErrorCase{"NumVertsOfAnotherClass",
                  1,
                  {faces_rows({{1, 2, 3}}), mexhost::double_scalar(3)},
                  "numVerts must be an int32 scalar (got double)"},
        ErrorCase{"EmptyNumVerts",
                  1,
                  {faces_rows({{1, 2, 3}}), int32_array({0, 0})},
                  "numVerts must be an int32 scalar (got an empty int32)"},
        ErrorCase{"TwoColumns",
                  1,
                  {int32_array({1, 2}, {1, 2}), int32_scalar(3)},
                  "faces must be at least 1 x 3 (got 1 x 2)"},
        ErrorCase{"CornerAboveNumVerts",
                  1,
                  {faces_rows({{1, 2, 3}, {1, 3, 9}}), int32_scalar(4)},
                  "faces holds 9 at (2, 3), outside 1..4"},
        ErrorCase{"CornerZero",
                  1,
                  {faces_rows({{1, 0, 3}}), int32_scalar(4)},
                  "faces holds 0 at (1, 2), outside 1..4"},
        ErrorCase{"NegativeNumVerts",
                  1,
                  {faces_rows({{1, 2, 3}}), int32_scalar(-1)},
                  "faces holds 1 at (1, 1), outside 1..-1"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST(TableBuilderOutputs, NoRequestedOutputStillFillsTheAnswerSlot) {
  for (const char* plugin : {kNbors, kFacesOfVert}) {
    const auto result = call(plugin, 0, {faces_rows(kTetrahedron), int32_scalar(4)});
    ASSERT_FALSE(result.failed) << result.error;
    ASSERT_EQ(result.outputs.size(), 1u);
    EXPECT_EQ(result.outputs[0].numel(), 12u) << plugin;
    EXPECT_TRUE(result.guards_intact);
  }
}

TEST(NeighbourTable, BusyVertexGetsARowAsLongAsItsNeighbourList) {
  // An open fan of ten faces around vertex 1: eleven neighbours, far more than any other
  // vertex has, and one more than vertex 1 has faces.
  std::vector<std::vector<int32_t>> fan;
  for (int32_t i = 2; i <= 11; ++i) fan.push_back({1, i, i + 1});
  const auto result = call(kNbors, 1, {faces_rows(fan), int32_scalar(12)});
  ASSERT_FALSE(result.failed) << result.error;
  const std::vector<int32_t> table = result.outputs[0].values<int32_t>();
  ASSERT_EQ(table.size(), 12u * 11u);
  const auto row = [&](int32_t v) {
    std::vector<int32_t> entries;
    for (int32_t k = 0; k < 11; ++k) {
      if (table[(v - 1) + k * 12] != 0) entries.push_back(table[(v - 1) + k * 12]);
    }
    return entries;
  };
  EXPECT_EQ(row(1), (std::vector<int32_t>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(row(2), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(row(7), (std::vector<int32_t>{1, 6, 8}));
  EXPECT_EQ(row(12), (std::vector<int32_t>{1, 11}));
}

// Corner counts are kept in one byte while every vertex has fewer than 256 face corners; a
// closed fan of 301 faces around vertex 1 goes past that.
TEST(TableBuilders, VertexInMoreThan255FacesKeepsEveryEntry) {
  std::vector<std::vector<int32_t>> fan;
  for (int32_t i = 2; i <= 301; ++i) fan.push_back({1, i, i + 1});
  fan.push_back({1, 302, 2});
  const auto firstRows = [&](const char* plugin) {
    const auto result = call(plugin, 1, {faces_rows(fan), int32_scalar(302)});
    EXPECT_FALSE(result.failed) << result.error;
    const std::vector<int32_t> table = result.outputs[0].values<int32_t>();
    EXPECT_EQ(table.size(), 302u * 301u) << plugin;
    std::vector<std::vector<int32_t>> rows(2);
    for (size_t k = 0; k < 301 && (k + 1) * 302 <= table.size(); ++k) {
      for (size_t v = 0; v < 2; ++v) {
        if (table[v + k * 302] != 0) rows[v].push_back(table[v + k * 302]);
      }
    }
    return rows;
  };
  std::vector<int32_t> faceNumbers, neighbours;
  for (int32_t i = 1; i <= 301; ++i) faceNumbers.push_back(i);
  for (int32_t i = 2; i <= 302; ++i) neighbours.push_back(i);
  EXPECT_EQ(firstRows(kFacesOfVert), (std::vector<std::vector<int32_t>>{faceNumbers, {1, 301}}));
  EXPECT_EQ(firstRows(kNbors), (std::vector<std::vector<int32_t>>{neighbours, {1, 3, 302}}));
}

TEST(TableBuilders, FewFacesOnManyVerticesCostWhatTheFacesCost) {
  const int32_t V = 2000000;
  for (const char* plugin : {kNbors, kFacesOfVert}) {
    const auto result = call(plugin, 1, {faces_rows(kTetrahedron), int32_scalar(V)});
    ASSERT_FALSE(result.failed) << result.error;
    const std::vector<int32_t> table = result.outputs[0].values<int32_t>();
    ASSERT_EQ(table.size(), 3u * V) << plugin;
    int64_t nonzero = 0;
    for (int32_t entry : table) nonzero += entry != 0;
    EXPECT_EQ(nonzero, 12) << plugin;
    EXPECT_NE(table[0], 0);
    EXPECT_NE(table[V], 0);
  }
}

TEST(TableBuilders, TableLargerThanInt32EntriesIsRefused) {
  const auto result =
      call(kFacesOfVert, 1, {faces_rows({{1, 2, 3}, {1, 3, 2}}), int32_scalar(2000000000)});
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.error,
            "the faces-of-vertex table would have 4000000000 entries, more than 2147483647");
}

// Builds the neighbour table the slow, obvious way: a V x K table with K from the corner
// counts, each edge searched in the row of its first vertex.
std::vector<int32_t> reference_neighbours(const std::vector<int32_t>& rowFaces, int32_t F,
                                          int32_t V) {
  std::vector<int32_t> count(V, 0);
  for (int32_t corner : rowFaces) ++count[corner - 1];
  const int32_t K = *std::max_element(count.begin(), count.end());
  std::vector<int32_t> table(static_cast<size_t>(V) * K, 0), fill(V, 0);
  const auto add = [&](int32_t p, int32_t q) {
    for (int32_t k = 0; k < fill[p]; ++k) {
      if (table[p + k * V] == q + 1) return;
    }
    table[p + fill[p]++ * V] = q + 1;
    table[q + fill[q]++ * V] = p + 1;
  };
  for (int32_t i = 0; i < F; ++i) {
    const int32_t a = rowFaces[i] - 1, b = rowFaces[i + F] - 1, c = rowFaces[i + 2 * F] - 1;
    add(a, b);
    add(a, c);
    add(b, c);
  }
  return table;
}

// Builds the faces-of-vertex table the slow, obvious way: faces in order, corners in order, each
// appended to its vertex's row.
std::vector<int32_t> reference_faces_of_vertex(const std::vector<int32_t>& rowFaces, int32_t F,
                                               int32_t V) {
  std::vector<int32_t> count(V, 0);
  for (int32_t corner : rowFaces) ++count[corner - 1];
  const int32_t K = *std::max_element(count.begin(), count.end());
  std::vector<int32_t> table(static_cast<size_t>(V) * K, 0), fill(V, 0);
  for (int32_t i = 0; i < F; ++i) {
    for (int32_t j = 0; j < 3; ++j) {
      const int32_t v = rowFaces[i + j * F] - 1;
      table[v + fill[v]++ * V] = i + 1;
    }
  }
  return table;
}

class TableBuilderOracle : public testing::TestWithParam<int> {};

// A small mesh, and one whose tables outgrow the fastest caches.
INSTANTIATE_TEST_SUITE_P(Icospheres, TableBuilderOracle, testing::Values(3, 5));

TEST_P(TableBuilderOracle, ShuffledIcosphereMatchesTheSlowTablesAndAdjacencySets) {
  tulm_test::Mesh mesh = tulm_test::icosphere(GetParam());
  const int32_t F = mesh.numFaces, V = mesh.numVerts;
  std::mt19937 random(7);
  std::vector<int32_t> order(F);
  for (int32_t f = 0; f < F; ++f) order[f] = f;
  std::shuffle(order.begin(), order.end(), random);
  std::vector<int32_t> rowFaces(3 * static_cast<size_t>(F));
  for (int32_t i = 0; i < F; ++i) {
    const int shift = static_cast<int>(random() % 3);  // rotating corners keeps orientation
    for (int j = 0; j < 3; ++j) rowFaces[i + j * F] = mesh.faces[3 * order[i] + (j + shift) % 3];
  }
  const Array faces = int32_array({size_t(F), 3}, rowFaces);

  const auto nbors = call(kNbors, 1, {faces, int32_scalar(V)});
  ASSERT_FALSE(nbors.failed) << nbors.error;
  const std::vector<int32_t> table = nbors.outputs[0].values<int32_t>();
  EXPECT_EQ(table, reference_neighbours(rowFaces, F, V));

  std::vector<std::set<int32_t>> adjacency(V);
  for (int32_t i = 0; i < F; ++i) {
    for (int j = 0; j < 3; ++j) {
      adjacency[rowFaces[i + j * F] - 1].insert(rowFaces[i + ((j + 1) % 3) * F]);
      adjacency[rowFaces[i + ((j + 1) % 3) * F] - 1].insert(rowFaces[i + j * F]);
    }
  }
  const auto facesOfVert = call(kFacesOfVert, 1, {faces, int32_scalar(V)});
  ASSERT_FALSE(facesOfVert.failed) << facesOfVert.error;
  const std::vector<int32_t> vf = facesOfVert.outputs[0].values<int32_t>();
  EXPECT_EQ(vf, reference_faces_of_vertex(rowFaces, F, V));
  const int32_t K = static_cast<int32_t>(table.size() / V);
  ASSERT_EQ(static_cast<int32_t>(vf.size() / V), K);
  for (int32_t v = 0; v < V; ++v) {
    std::set<int32_t> row;
    std::vector<int32_t> faceRow;
    for (int32_t k = 0; k < K; ++k) {
      if (table[v + k * V] != 0) row.insert(table[v + k * V]);
      if (vf[v + k * V] != 0) faceRow.push_back(vf[v + k * V]);
    }
    EXPECT_EQ(row, adjacency[v]) << "vertex " << v + 1;
    ASSERT_TRUE(std::is_sorted(faceRow.begin(), faceRow.end()));
    for (int32_t f : faceRow) {
      EXPECT_TRUE(rowFaces[f - 1] == v + 1 || rowFaces[f - 1 + F] == v + 1 ||
                  rowFaces[f - 1 + 2 * F] == v + 1);
    }
    EXPECT_EQ(faceRow.size(), row.size()) << "closed mesh: as many faces as neighbours";
  }
}

}  // namespace
