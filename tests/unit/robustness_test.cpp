// What each plug-in says to the bad calls users make, as one table: every case runs through
// the stand-in host, and the same table stands in the README's "Robustness" section, checked
// here so that the two cannot drift apart (TULM_UPDATE_README=1 rewrites the README's copy).
// Under the sanitizer build, every good and bad call also runs many times, so that a leak on
// any error path shows in LeakSanitizer's report at exit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "valid_calls.h"

using mexhost::Array;
using tulm_test::octahedron_arrays;
using tulm_test::ValidCall;

namespace {

struct BadCall {
  std::string name;
  std::string input;  // what is wrong, as the README says it
  int nlhs;
  std::vector<Array> inputs;
  std::string message;
  int liveHandle = -1;  // the input that gets a live k-d tree handle just before the call
};

Array released_tree_handle() {
  Array handle = tulm_test::new_tree_handle();
  tulm_test::release_tree(handle);
  return handle;
}

const ValidCall& valid(const std::string& name) {
  for (const ValidCall& call : tulm_test::valid_calls()) {
    if (call.name == name) return call;
  }
  throw std::logic_error("no valid call of " + name);
}

// The valid call of name with input `position` (0-based) replaced, or dropped when replaced
// by an absent array, and inputs beyond `count` cut.
std::vector<Array> changed(const std::string& name, int position, Array replacement,
                           int count = -1) {
  std::vector<Array> inputs = valid(name).inputs;
  if (position >= 0) inputs[position] = std::move(replacement);
  if (count >= 0) inputs.resize(count);
  return inputs;
}

Array i32(int32_t value) { return mexhost::int32_scalar(value); }
Array real(double value) { return mexhost::double_scalar(value); }

// The octahedron's table with one entry changed.
Array with_entry(const Array& table, size_t at, int32_t value) {
  std::vector<int32_t> values = table.values<int32_t>();
  values[at] = value;
  return mexhost::int32_array(table.dims(), values);
}

std::vector<BadCall> bad_calls() {
  const auto& o = octahedron_arrays();
  const Array doubleFaces = mexhost::numeric_array(mxDOUBLE_CLASS, o.facesRow.dims(), {1, 2, 3});
  const Array doubleVertices = mexhost::double_array({3, 6});
  const Array nbors99 = with_entry(o.vertexNbors, 5, 99);    // vertex 2, slot 2
  const Array faces99 = with_entry(o.facesCol, 4, 99);       // face 2, corner 2
  const Array facesRow99 = with_entry(o.facesRow, 9, 99);    // face 2, corner 2
  const Array vf99 = with_entry(o.VertexFaces, 1, 99);       // vertex 1, slot 2
  const Array vfFirst99 = with_entry(o.VertexFaces, 0, 99);  // vertex 1, slot 1
  const std::string twoInputs =
      "Two inputs required. Face matrix and number of vertices, both assumed to be of type int32";
  return {
      {"TULM_convertFaces2VertNbors", "one input", 1,
       changed("TULM_convertFaces2VertNbors", -1, {}, 1), twoInputs},
      {"TULM_convertFaces2VertNbors", "two outputs", 2,
       changed("TULM_convertFaces2VertNbors", -1, {}), "Too many output arguments"},
      {"TULM_convertFaces2VertNbors", "faces of class double", 1,
       changed("TULM_convertFaces2VertNbors", 0, doubleFaces),
       "faces must be an int32 matrix (got double)"},
      {"TULM_convertFaces2VertNbors", "a corner above numVerts", 1,
       changed("TULM_convertFaces2VertNbors", 0, facesRow99),
       "faces holds 99 at (2, 2), outside 1..6"},
      {"TULM_convertFaces2FacesOfVert", "numVerts of class double", 1,
       changed("TULM_convertFaces2FacesOfVert", 1, real(6)),
       "numVerts must be an int32 scalar (got double)"},
      {"TULM_convertFaces2FacesOfVert", "faces with two columns", 1,
       changed("TULM_convertFaces2FacesOfVert", 0, mexhost::int32_array({1, 2}, {1, 2})),
       "faces must be at least 1 x 3 (got 1 x 2)"},
      {"TULM_convertFaces2FacesOfVert", "a table of more than 2^31 - 1 entries", 1,
       changed("TULM_convertFaces2FacesOfVert", 1, i32(2000000000)),
       "the faces-of-vertex table would have 8000000000 entries, more than 2147483647"},
      {"TULM_findNeighborhoodGivenRadius", "four inputs", 1,
       changed("TULM_findNeighborhoodGivenRadius", -1, {}, 4),
       "Five inputs required. maxNeighbors (int32), numVerts (int32), vertex (int32), radius "
       "(int32), vertexNbors (int *)"},
      {"TULM_findNeighborhoodGivenRadius", "a centre vertex outside 1..numVerts", 1,
       changed("TULM_findNeighborhoodGivenRadius", 2, i32(7)),
       "vertex holds 7 at (1, 1), outside 1..6"},
      {"TULM_findNeighborhoodGivenRadius", "a table smaller than maxNeighbors x numVerts", 1,
       changed("TULM_findNeighborhoodGivenRadius", 0, i32(5)),
       "vertexNbors must be at least 5 x 6 (got 4 x 6)"},
      {"TULM_findNeighborhoodGivenRadius", "a table entry above numVerts", 1,
       changed("TULM_findNeighborhoodGivenRadius", 4, nbors99),
       "vertexNbors holds 99 at (2, 2), outside 0..6"},
      {"TULM_calculateSurfaceArea", "vertices of class double", 1,
       changed("TULM_calculateSurfaceArea", 0, mexhost::double_array({6, 3})),
       "vertices must be a single matrix (got double)"},
      {"TULM_calculateSurfaceArea", "a corner above the vertex count", 1,
       changed("TULM_calculateSurfaceArea", 1, facesRow99),
       "faces holds 99 at (2, 2), outside 1..6"},
      {"TULM_computeMeshFaceAreas", "two outputs", 2, changed("TULM_computeMeshFaceAreas", -1, {}),
       "Too many output arguments"},
      {"TULM_computeMeshFaceAreas", "numFaces above the face count", 1,
       changed("TULM_computeMeshFaceAreas", 0, i32(9)), "faces must be at least 3 x 9 (got 3 x 8)"},
      {"TULM_computeMeshFaceAreas", "a negative numFaces", 1,
       changed("TULM_computeMeshFaceAreas", 0, i32(-1)), "numFaces must not be negative (got -1)"},
      {"TULM_computeVertexDistSq2Nbors", "vertices with two rows", 1,
       changed("TULM_computeVertexDistSq2Nbors", 3, mexhost::single_array({2, 6})),
       "vertices must be at least 3 x 6 (got 2 x 6)"},
      {"TULM_computeVertexDistSq2Nbors", "a table entry above numVerts", 1,
       changed("TULM_computeVertexDistSq2Nbors", 2, nbors99),
       "vertexNbors holds 99 at (2, 2), outside 0..6"},
      {"TULM_computeDiffDataVertex2Nbors", "data with fewer columns than numVerts", 1,
       changed("TULM_computeDiffDataVertex2Nbors", 4, mexhost::single_array({2, 5})),
       "data must be at least 2 x 6 (got 2 x 5)"},
      {"TULM_computeDiffDataVertex2Nbors", "an output of more than 2^31 - 1 values", 1,
       changed("TULM_computeDiffDataVertex2Nbors", 2, i32(100000000)),
       "the data differences would have 2400000000 entries, more than 2147483647"},
      {"TULM_gaussianSmoothVertexData", "three inputs", 1,
       changed("TULM_gaussianSmoothVertexData", -1, {}, 3),
       "Four inputs required: vertices (single, 3 x V), vertexNbors (int32, K x V), data "
       "(single, D x V), s (numeric scalar)"},
      {"TULM_gaussianSmoothVertexData", "data for five vertices", 1,
       changed("TULM_gaussianSmoothVertexData", 2, mexhost::single_array({2, 5})),
       "data not right size!"},
      {"TULM_gaussianSmoothVertexData", "a listed neighbour above the vertex count", 1,
       changed("TULM_gaussianSmoothVertexData", 1, nbors99),
       "vertexNbors holds 99 at (2, 2), outside 0..6"},
      {"TULM_findFaceAux", "five inputs", 1, changed("TULM_findFaceAux", -1, {}, 5),
       "Six inputs required: points, vertices, faces, vertexNbors, VertexFaces, seedVertices "
       "(got 5)"},
      {"TULM_findFaceAux", "points with four rows", 1,
       changed("TULM_findFaceAux", 0, mexhost::single_array({4, 2})),
       "Point should be three dimensional!"},
      {"TULM_findFaceAux", "a seed outside 1..V", 1,
       changed("TULM_findFaceAux", 5, mexhost::int32_array({1, 2}, {1, 7})),
       "seedVertices holds 7 at (1, 2), outside 1..6"},
      {"TULM_findFaceAux", "a faces-of-vertex entry above the face count", 1,
       changed("TULM_findFaceAux", 4, vfFirst99), "VertexFaces holds 99 at (1, 1), outside 0..8"},
      {"TULM_findNearestVertex", "a neighbour table for five vertices", 1,
       changed("TULM_findNearestVertex", 2, mexhost::int32_array({4, 5})),
       "Inconsistent number of vertices!"},
      {"TULM_findNearestVertex", "vertices of class double", 1,
       changed("TULM_findNearestVertex", 1, doubleVertices),
       "vertices must be a single matrix (got double)"},
      {"TULM_computeFoldPenaltyGrad", "three inputs", 2,
       changed("TULM_computeFoldPenaltyGrad", -1, {}, 3),
       "Four inputs required: vertices, faces, VertexFaces, offset"},
      {"TULM_computeFoldPenaltyGrad", "faces with two rows", 2,
       changed("TULM_computeFoldPenaltyGrad", 1, mexhost::int32_array({2, 8})),
       "Faces should have three vertices"},
      {"TULM_computeFoldPenaltyGrad", "a corner above the vertex count", 2,
       changed("TULM_computeFoldPenaltyGrad", 1, faces99),
       "faces holds 99 at (2, 2), outside 1..6"},
      {"TULM_computeFoldPenaltyGrad", "a faces-of-vertex entry above the face count", 2,
       changed("TULM_computeFoldPenaltyGrad", 2, vf99),
       "VertexFaces holds 99 at (2, 1), outside 0..8"},
      {"TULM_computeFoldPenalty", "VertexFaces for five vertices", 1,
       changed("TULM_computeFoldPenalty", 2, mexhost::int32_array({4, 5})),
       "Vertices and VertexFaces should be the same number!"},
      {"TULM_computeLocalFoldPenaltyGrad", "a visited vertex outside 1..V", 3,
       changed("TULM_computeLocalFoldPenaltyGrad", 3, mexhost::int32_array({2, 1}, {1, 0})),
       "visit holds 0 at (2, 1), outside 1..6"},
      {"TULM_computeLocalFoldPenalty", "four inputs", 2,
       changed("TULM_computeLocalFoldPenalty", -1, {}, 4),
       "Five inputs required: vertices, faces, VertexFaces, visit, offset"},
      {"TULM_computeLocalFoldPenaltyUmbrella", "five inputs", 3,
       changed("TULM_computeLocalFoldPenaltyUmbrella", -1, {}, 5), "Wrong number of inputs!"},
      {"TULM_computeLocalFoldPenaltyUmbrella", "vertices with two rows", 3,
       changed("TULM_computeLocalFoldPenaltyUmbrella", 0, mexhost::single_array({2, 6})),
       "Vertices should be 3 dimensional"},
      {"TULM_computeAreaChangePenaltyGrad", "original areas as an F x 1 column", 2,
       changed("TULM_computeAreaChangePenaltyGrad", 3, mexhost::single_array({8, 1})),
       "Input original areas vector wrong size!!!"},
      {"TULM_computeAreaChangePenalty", "original areas of class double", 1,
       changed("TULM_computeAreaChangePenalty", 3, mexhost::double_array({1, 8})),
       "originalAreas must be a single matrix (got double)"},
      {"nearestPointSearch", "one input", 1, changed("nearestPointSearch", -1, {}, 1),
       "Must have at least two input arrays."},
      {"nearestPointSearch", "no reference points", 1,
       changed("nearestPointSearch", 0, mexhost::double_array({0, 2}), 2),
       "You have to supply some reference points to build a k-D tree."},
      {"nearestPointSearch", "model points of another dimension", 1,
       changed("nearestPointSearch", 1, mexhost::double_array({1, 3}), 2),
       "Reference and Model Vectors must be of the same dimension"},
      {"nearestIndexSearch", "a handle whose tree was released", 1,
       changed("nearestIndexSearch", 2, released_tree_handle()),
       "Third argument is not a valid pointer to a k-D tree\n"},
      {"nearestIndexSearch", "a number that never was a handle", 1,
       changed("nearestIndexSearch", 2, real(123456789)),
       "Third argument is not a valid pointer to a k-D tree\n"},
      {"nearestIndexSearch", "reference points of class single", 1,
       changed("nearestIndexSearch", 0, mexhost::single_array({5, 2}), 2),
       "reference must be a double matrix (got single)"},
      {"radiusPointSearch", "two inputs", 1, changed("radiusPointSearch", -1, {}, 2),
       "Must have at least 3 inputs (ROOT, QUERYPT, DISTLIM).\n", 0},
      {"radiusPointSearch", "a handle whose tree was released", 1,
       changed("radiusPointSearch", 0, released_tree_handle()),
       "First argument must be a valid pointer to a k-D tree\n"},
      {"radiusPointSearch",
       "a query point of another dimension",
       1,
       {Array(), mexhost::double_array({1, 3}), real(1)},
       "The dimension of the k-D tree (2) and queried point (3) do not match",
       0},
      {"radiusPointSearch",
       "a negative distance limit",
       1,
       {Array(), mexhost::double_array({1, 2}), real(-1)},
       "Distance limit (DISTLIM) must be a scalar value >= 0.",
       0},
  };
}

}  // namespace

namespace {

// Runs a call, with a live tree where the call needs one, releasing it afterwards.
mexhost::CallResult run(const std::string& name, int nlhs, std::vector<Array> inputs,
                        int liveHandle) {
  Array handle;
  if (liveHandle >= 0) {
    handle = tulm_test::new_tree_handle();
    inputs[liveHandle] = handle;
  }
  mexhost::CallResult result = mexhost::call(name, nlhs, inputs);
  if (handle.exists()) tulm_test::release_tree(handle);
  return result;
}

TEST(Robustness, EveryBadCallEndsWithItsMessage) {
  for (const BadCall& bad : bad_calls()) {
    const auto result = run(bad.name, bad.nlhs, bad.inputs, bad.liveHandle);
    EXPECT_TRUE(result.failed) << bad.name << ", " << bad.input;
    EXPECT_EQ(result.error, bad.message) << bad.name << ", " << bad.input;
    EXPECT_TRUE(result.guards_intact && result.inputs_intact) << bad.name << ", " << bad.input;
  }
}

// Under the sanitizer build, LeakSanitizer reports at exit anything these calls leave behind.
TEST(Robustness, RepeatedGoodAndBadCallsLeaveNothingBehind) {
  for (int round = 0; round < 20; ++round) {
    for (const ValidCall& call : tulm_test::valid_calls()) {
      for (int nlhs = 0; nlhs <= 3; ++nlhs) {
        const auto result = run(call.name, nlhs, call.inputs, call.handleInput);
        // Two or more outputs are an error for the single-output functions.
        if (nlhs <= 1) {
          ASSERT_FALSE(result.failed) << call.name << ": " << result.error;
        }
        const bool keeps = !result.failed && call.handleInput < 0 && nlhs == 3 &&
                           (call.name == "nearestPointSearch" || call.name == "nearestIndexSearch");
        if (keeps) tulm_test::release_tree(result.outputs[2]);
      }
    }
  }
  // Some bad calls ask for gigabytes before they are refused, so these run fewer times.
  for (int round = 0; round < 2; ++round) {
    for (const BadCall& bad : bad_calls()) run(bad.name, bad.nlhs, bad.inputs, bad.liveHandle);
  }
}

std::string readme_table() {
  std::ostringstream table;
  table << "| Function | Bad input | Message |\n|---|---|---|\n";
  for (const BadCall& bad : bad_calls()) {
    std::string message = bad.message;
    if (!message.empty() && message.back() == '\n') message.pop_back();  // as the host shows it
    table << "| `" << bad.name << "` | " << bad.input << " | \"" << message << "\" |\n";
  }
  return table.str();
}

TEST(Robustness, ReadmeTableMatchesTheCases) {
  const std::string path = std::string(TULM_SOURCE_DIR) + "/README.md";
  std::ifstream in(path);
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string readme = buffer.str();
  const std::string begin = "<!-- robustness table: made by tests/unit/robustness_test.cpp -->\n";
  const std::string end = "<!-- end of robustness table -->";
  const size_t from = readme.find(begin);
  const size_t to = readme.find(end);
  ASSERT_NE(from, std::string::npos) << "README.md has no robustness table";
  ASSERT_NE(to, std::string::npos);
  const std::string expected = readme_table();
  const std::string actual = readme.substr(from + begin.size(), to - from - begin.size());
  if (actual != expected && std::getenv("TULM_UPDATE_README") != nullptr) {
    readme.replace(from + begin.size(), to - from - begin.size(), expected);
    std::ofstream(path) << readme;
    return;
  }
  EXPECT_EQ(actual, expected) << "run the test with TULM_UPDATE_README=1 to rewrite the table";
}

}  // namespace
