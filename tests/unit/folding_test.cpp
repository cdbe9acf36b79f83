// The seven fold-penalty plug-ins, through the stand-in host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>

#include "core/folding/fold_model.h"
#include "harness.h"
#include "icosphere.h"

using mexhost::Array;
using mexhost::call;
using mexhost::int32_array;
using mexhost::single_array;

namespace {

const char* const kFoldGrad = "TULM_computeFoldPenaltyGrad";
const char* const kFold = "TULM_computeFoldPenalty";
const char* const kLocalGrad = "TULM_computeLocalFoldPenaltyGrad";
const char* const kLocal = "TULM_computeLocalFoldPenalty";
const char* const kUmbrella = "TULM_computeLocalFoldPenaltyUmbrella";
const char* const kAreaGrad = "TULM_computeAreaChangePenaltyGrad";
const char* const kArea = "TULM_computeAreaChangePenalty";

uint32_t bits(float value) {
  uint32_t b;
  std::memcpy(&b, &value, sizeof b);
  return b;
}

std::vector<uint32_t> bits(const std::vector<float>& values) {
  std::vector<uint32_t> out;
  for (float v : values) out.push_back(bits(v));
  return out;
}

Array vertices(const std::vector<float>& xyz) { return single_array({3, xyz.size() / 3}, xyz); }
Array faces(const std::vector<int32_t>& corners) {
  return int32_array({3, corners.size() / 3}, corners);
}
Array column(const std::vector<int32_t>& values) { return int32_array({values.size(), 1}, values); }
Array single(float value) { return mexhost::single_scalar(value); }

// The worked example: one face over the unit points of the axes, flipped in the order 1, 2, 3.
const std::vector<float> kUnitCorners = {1, 0, 0, 0, 1, 0, 0, 0, 1};
const Array kV = vertices(kUnitCorners);
const Array kF = faces({1, 2, 3});
const Array kReversedF = faces({1, 3, 2});
const Array kVF = int32_array({1, 3}, {1, 1, 1});
const Array kNbors = int32_array({2, 3}, {2, 3, 1, 3, 1, 2});  // [2 1 1; 3 3 2]
const float kDiagonal = 0.57735026f, kOff = -0.28867513f;
const std::vector<float> kExampleG = {kDiagonal, kOff, kOff, kOff,     kDiagonal,
                                      kOff,      kOff, kOff, kDiagonal};

// Two flipped faces sharing corners 2 and 3: face 1 = (1, 2, 3), face 2 = (2, 3, 4).
const Array kTwoV = vertices({1, 0, 0, 0, 1, 0, 0, 0, 1, 0.5f, 1, 1});
const Array kTwoF = faces({1, 2, 3, 2, 3, 4});
const Array kTwoVF = int32_array({2, 4}, {1, 0, 1, 2, 1, 2, 2, 0});

void expect_single(const Array& array, std::vector<size_t> dims, const std::vector<float>& values) {
  ASSERT_TRUE(array.exists());
  EXPECT_EQ(array.class_id(), mxSINGLE_CLASS);
  EXPECT_EQ(array.dims(), dims);
  EXPECT_EQ(bits(array.values<float>()), bits(values));
}

void expect_list(const Array& array, const std::vector<int32_t>& values) {
  ASSERT_TRUE(array.exists());
  EXPECT_EQ(array.class_id(), mxINT32_CLASS);
  EXPECT_EQ(array.dims(), (std::vector<size_t>{values.size(), 1}));
  EXPECT_EQ(array.values<int32_t>(), values);
}

mexhost::CallResult succeed(const char* plugin, int nlhs, const std::vector<Array>& inputs) {
  auto result = call(plugin, nlhs, inputs);
  EXPECT_FALSE(result.failed) << plugin << ": " << result.error;
  EXPECT_TRUE(result.guards_intact) << plugin;
  EXPECT_TRUE(result.inputs_intact) << plugin;
  return result;
}

TEST(FoldPenalty, WorkedExampleToTheBit) {
  const auto grad = succeed(kFoldGrad, 2, {kV, kF, kVF, single(1)});
  expect_single(grad.outputs[0], {1, 1}, {1.866025447845459f});
  expect_single(grad.outputs[1], {3, 3}, kExampleG);
  expect_single(succeed(kFold, 1, {kV, kF, kVF, single(1)}).outputs[0], {1, 1},
                {1.866025447845459f});

  const auto reversed = succeed(kFoldGrad, 2, {kV, kReversedF, kVF, single(1)});
  expect_single(reversed.outputs[0], {1, 1}, {0});
  expect_single(reversed.outputs[1], {3, 3}, std::vector<float>(9, 0));
}

TEST(FoldPenalty, OffsetOfAnyNumericClassIsRoundedOnceToSingle) {
  for (const Array& offset : {mexhost::double_scalar(1), single(1), mexhost::int32_scalar(1),
                              mexhost::numeric_array(mxUINT8_CLASS, {1, 1}, {1})}) {
    expect_single(succeed(kFold, 1, {kV, kF, kVF, offset}).outputs[0], {1, 1},
                  {1.866025447845459f});
  }
  // A negative offset can make the penalty negative; 0.1 is rounded to single before the sum.
  expect_single(succeed(kFold, 1, {kV, kF, kVF, mexhost::double_scalar(-1)}).outputs[0], {1, 1},
                {0.8660253882408142f - 1.0f});
  expect_single(succeed(kFold, 1, {kV, kF, kVF, mexhost::double_scalar(0.1)}).outputs[0], {1, 1},
                {0.8660253882408142f + 0.1f});
}

TEST(FoldPenalty, FlipThresholdIsStrict) {
  // A right triangle at height 1 with legs 2t and 1 has the area t exactly.
  const float legs = 2 * tulm::kFlipThreshold;
  const Array atThreshold = vertices({0, 0, 1, legs, 0, 1, 0, 1, 1});
  const Array above = vertices({0, 0, 1, std::nextafter(legs, 1.0f), 0, 1, 0, 1, 1});
  expect_single(succeed(kFold, 1, {atThreshold, kF, kVF, single(0)}).outputs[0], {1, 1}, {0});
  expect_single(succeed(kFold, 1, {above, kF, kVF, single(0)}).outputs[0], {1, 1},
                {std::nextafter(tulm::kFlipThreshold, 1.0f)});
}

TEST(FoldPenalty, GradientFollowsTheVertexFacesTable) {
  // Column 2 begins with 0: no gradient although vertex 2 is a corner; column 3 lists the face
  // twice and gets twice the gradient.
  const Array table = int32_array({2, 3}, {1, 0, 0, 0, 1, 1});
  const auto result = succeed(kFoldGrad, 2, {kV, kF, table, single(1)});
  expect_single(result.outputs[0], {1, 1}, {1.866025447845459f});
  expect_single(result.outputs[1], {3, 3},
                {kDiagonal, kOff, kOff, 0, 0, 0, kOff + kOff, kOff + kOff, kDiagonal + kDiagonal});
}

TEST(FoldPenalty, ValueOnlyVariantsReadOnlyTheColumnCountOfVertexFaces) {
  for (const Array& table :
       {int32_array({2, 3}, {7, -1, 99, 0, 5, 5}), mexhost::double_array({1, 3}, {9, 9, 9})}) {
    expect_single(succeed(kFold, 1, {kV, kF, table, single(1)}).outputs[0], {1, 1},
                  {1.866025447845459f});
    expect_single(succeed(kArea, 1, {kV, kF, table, single_array({1, 1}, {0})}).outputs[0], {1, 1},
                  {0.75f});
  }
}

TEST(FoldPenalty, EmptyMeshes) {
  const auto noFaces = succeed(kFoldGrad, 2, {kV, faces({}), int32_array({1, 3}), single(1)});
  expect_single(noFaces.outputs[0], {1, 1}, {0});
  expect_single(noFaces.outputs[1], {3, 3}, std::vector<float>(9, 0));
  const auto noVertices =
      succeed(kFoldGrad, 2, {vertices({}), faces({}), int32_array({0, 0}), single(1)});
  expect_single(noVertices.outputs[1], {3, 0}, {});
}

struct LocalCase {
  const char* name;
  Array visit;
};

void PrintTo(const LocalCase& c, std::ostream* os) { *os << c.name; }

class LocalWorkedExample : public testing::TestWithParam<LocalCase> {};

TEST_P(LocalWorkedExample, MatchesTheFullPenalty) {
  const Array& visit = GetParam().visit;
  const auto grad = succeed(kLocalGrad, 3, {kV, kF, kVF, visit, single(1)});
  expect_single(grad.outputs[0], {1, 1}, {1.866025447845459f});
  expect_single(grad.outputs[1], {3, 3}, kExampleG);
  expect_list(grad.outputs[2], {1, 2, 3});

  const auto value = succeed(kLocal, 2, {kV, kF, kVF, visit, single(1)});
  expect_single(value.outputs[0], {1, 1}, {1.866025447845459f});
  expect_list(value.outputs[1], {1, 2, 3});

  const auto umbrella = succeed(kUmbrella, 3, {kV, kF, kVF, kNbors, visit, single(1)});
  expect_single(umbrella.outputs[0], {1, 1}, {1.866025447845459f});
  expect_single(umbrella.outputs[1], {3, 3}, {1, -0.5f, -0.5f, -0.5f, 1, -0.5f, -0.5f, -0.5f, 1});
  expect_list(umbrella.outputs[2], {1, 2, 3});
}

INSTANTIATE_TEST_SUITE_P(
    VisitLists, LocalWorkedExample,
    testing::Values(LocalCase{"FirstVertex", column({1})}, LocalCase{"Repeated", column({3, 1, 3})},
                    // A row uses only its first entry; the others are never read.
                    LocalCase{"RowUsesItsFirstEntry", int32_array({1, 3}, {2, 99, -5})},
                    // Empty of any shape: every vertex.
                    LocalCase{"Empty0x0", int32_array({0, 0})},
                    LocalCase{"Empty1x0", int32_array({1, 0})},
                    LocalCase{"Empty0x1", int32_array({0, 1})},
                    LocalCase{"Empty0x5", int32_array({0, 5})},
                    // [] as users type it: an empty double is no data, whatever its class.
                    LocalCase{"EmptyDouble", mexhost::double_array({0, 0})}),
    [](const testing::TestParamInfo<LocalCase>& info) { return std::string(info.param.name); });

// The full penalty's G on the given faces alone, as the expected local gradient.
std::vector<float> full_gradient(const Array& v, const std::vector<int32_t>& corners,
                                 const Array& table) {
  return succeed(kFoldGrad, 2, {v, faces(corners), table, single(0)}).outputs[1].values<float>();
}

TEST(LocalFoldPenalty, CountsOnlyTheFlippedFacesItMeets) {
  const float a1 = 0.8660253882408142f;  // face 1; face 2 has area sqrt(1.5) / 2
  const auto fromVertex1 = succeed(kLocalGrad, 3, {kTwoV, kTwoF, kTwoVF, column({1}), single(0)});
  expect_single(fromVertex1.outputs[0], {1, 1}, {a1});
  // Face 2 was never evaluated: vertices 2 and 3 get face 1's gradient only.
  expect_single(fromVertex1.outputs[1], {3, 4},
                full_gradient(kTwoV, {1, 2, 3}, int32_array({1, 4}, {1, 1, 1, 0})));
  expect_list(fromVertex1.outputs[2], {1, 2, 3});

  const auto fromVertex4 = succeed(kLocalGrad, 3, {kTwoV, kTwoF, kTwoVF, column({4}), single(0)});
  expect_list(fromVertex4.outputs[2], {2, 3, 4});
  expect_single(fromVertex4.outputs[1], {3, 4},
                full_gradient(kTwoV, {2, 3, 4}, int32_array({1, 4}, {0, 1, 1, 1})));

  // Both faces: the second one adds only its new corner, and G is the full gradient.
  const auto fromVertex2 = succeed(kLocalGrad, 3, {kTwoV, kTwoF, kTwoVF, column({2}), single(0)});
  expect_list(fromVertex2.outputs[2], {1, 2, 3, 4});
  expect_single(fromVertex2.outputs[1], {3, 4}, full_gradient(kTwoV, {1, 2, 3, 2, 3, 4}, kTwoVF));
  const float total =
      succeed(kFold, 1, {kTwoV, kTwoF, kTwoVF, single(0)}).outputs[0].values<float>()[0];
  expect_single(fromVertex2.outputs[0], {1, 1}, {total});
}

TEST(LocalFoldPenalty, NoFlippedFaceGivesAnEmptyList) {
  const auto result = succeed(kLocalGrad, 3, {kV, kReversedF, kVF, int32_array({0, 0}), single(1)});
  expect_single(result.outputs[0], {1, 1}, {0});
  expect_single(result.outputs[1], {3, 3}, std::vector<float>(9, 0));
  expect_list(result.outputs[2], {});
}

TEST(LocalFoldPenalty, UmbrellaNaNRules) {
  // No neighbour rows: the position plus the quiet NaN 0xFFC00000.
  const auto noRows =
      succeed(kUmbrella, 3, {kV, kF, kVF, int32_array({0, 3}), column({1}), single(1)});
  EXPECT_EQ(bits(noRows.outputs[1].values<float>()), std::vector<uint32_t>(9, 0xFFC00000u));
  const auto emptyDouble =
      succeed(kUmbrella, 3, {kV, kF, kVF, mexhost::double_array({0, 0}), column({1}), single(1)});
  EXPECT_EQ(bits(emptyDouble.outputs[1].values<float>()), std::vector<uint32_t>(9, 0xFFC00000u));
  // A neighbour column that begins with 0: 0/0 in every component of that column only.
  const auto noNeighbour = succeed(
      kUmbrella, 3, {kV, kF, kVF, int32_array({2, 3}, {0, 3, 1, 3, 1, 2}), column({1}), single(1)});
  const std::vector<float> u = noNeighbour.outputs[1].values<float>();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isnan(u[i])) << i;
  EXPECT_EQ(std::vector<float>(u.begin() + 3, u.end()),
            (std::vector<float>{-0.5f, 1, -0.5f, -0.5f, -0.5f, 1}));
}

TEST(LocalFoldPenalty, UmbrellaOfAVertexAtTheMeanOfItsNeighboursIsZero) {
  // Vertex 4 at (1, 1, 1) / 3, the mean of the three unit points, is involved through the
  // second flipped face (1, 2, 4).
  const float third = 1.0f / 3;
  const Array v = vertices({1, 0, 0, 0, 1, 0, 0, 0, 1, third, third, third});
  const Array f = faces({1, 2, 3, 1, 2, 4});
  const Array table = int32_array({2, 4}, {1, 2, 1, 2, 1, 0, 2, 0});
  const Array nbors = int32_array({3, 4}, {2, 3, 0, 1, 3, 0, 1, 2, 0, 1, 2, 3});
  const auto result = succeed(kUmbrella, 3, {v, f, table, nbors, int32_array({0, 0}), single(0)});
  const std::vector<float> u = result.outputs[1].values<float>();
  expect_list(result.outputs[2], {1, 2, 3, 4});
  for (int i = 9; i < 12; ++i) EXPECT_NEAR(u[i], 0.0f, 1e-7f) << i;
}

struct AreaCase {
  const char* name;
  Array faces;
  float original;
  float P;
  float u;  // the factor -2 (s - o) that multiplies the worked example's unit gradient
};

void PrintTo(const AreaCase& c, std::ostream* os) { *os << c.name; }

class AreaChangeWorkedExample : public testing::TestWithParam<AreaCase> {};

TEST_P(AreaChangeWorkedExample, ToTheBit) {
  const AreaCase& c = GetParam();
  const Array original = single_array({1, 1}, {c.original});
  const auto grad = succeed(kAreaGrad, 2, {kV, c.faces, kVF, original});
  expect_single(grad.outputs[0], {1, 1}, {c.P});
  std::vector<float> expected;
  for (float g : kExampleG) expected.push_back(g * c.u + 0.0f);  // into the zero-filled G
  expect_single(grad.outputs[1], {3, 3}, expected);
  expect_single(succeed(kArea, 1, {kV, c.faces, kVF, original}).outputs[0], {1, 1}, {c.P});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AreaChangeWorkedExample,
    testing::Values(AreaCase{"ProperlyOrientedAgainstZero", kReversedF, 0, 0.75f, 1.7320508f},
                    AreaCase{"FlippedAgainstZero", kF, 0, 0.75f, -1.7320508f},
                    AreaCase{"OwnSignedArea", kReversedF, -0.8660253882408142f, 0, -0.0f}),
    [](const testing::TestParamInfo<AreaCase>& info) { return std::string(info.param.name); });

TEST(AreaChangePenalty, WorkedExampleColumnsAsWritten) {
  const auto grad = succeed(kAreaGrad, 2, {kV, kReversedF, kVF, single_array({1, 1}, {0})});
  expect_single(grad.outputs[1], {3, 3},
                {0.99999994f, -0.49999997f, -0.49999997f, -0.49999997f, 0.99999994f, -0.49999997f,
                 -0.49999997f, -0.49999997f, 0.99999994f});
}

TEST(AreaChangePenalty, TinyFaceAddsItsSquareButNoGradient) {
  // Area 5e-8, below the gradient floor; original area 1.
  const std::vector<float> xyz = {0, 0, 1, 1e-3f, 0, 1, 0, 1e-4f, 1};
  const std::vector<int32_t> corners = {1, 2, 3};
  const tulm::FoldMesh mesh{xyz.data(), 3, corners.data(), 1, nullptr, 0};
  const float d = tulm::signedFaceArea(mesh, 0) - 1.0f;
  const auto result = succeed(kAreaGrad, 2, {vertices(xyz), kF, kVF, single_array({1, 1}, {1})});
  expect_single(result.outputs[0], {1, 1}, {d * d});
  expect_single(result.outputs[1], {3, 3}, std::vector<float>(9, 0));
}

struct ErrorCase {
  const char* name;
  std::vector<const char*> plugins;
  std::vector<Array> inputs;
  const char* message;
  bool complete = false;  // append valid inputs after the mesh, as each plug-in takes them
};

// Valid inputs after vertices, faces and VertexFaces: the offset, or a visit list of every
// vertex and the offset, or also a neighbour table, or original areas.
std::vector<Array> completed(const char* plugin, std::vector<Array> inputs) {
  const std::string name = plugin;
  const Array one = single(1);
  if (name == kUmbrella) inputs.push_back(int32_array({0, 0}));
  if (name.find("Local") != std::string::npos) inputs.push_back(int32_array({0, 0}));
  inputs.push_back(name.find("AreaChange") != std::string::npos ? single_array({1, 1}) : one);
  return inputs;
}

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class FoldErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(FoldErrors, EndTheCallWithTheMessage) {
  const ErrorCase& c = GetParam();
  for (const char* plugin : c.plugins) {
    const auto result = call(plugin, 3, c.complete ? completed(plugin, c.inputs) : c.inputs);
    EXPECT_TRUE(result.failed) << plugin;
    EXPECT_EQ(result.error, c.message) << plugin;
    EXPECT_TRUE(result.guards_intact) << plugin;
  }
}

const std::vector<const char*> kFourInputs = {kFoldGrad, kFold};
const std::vector<const char*> kFiveInputs = {kLocalGrad, kLocal};
const std::vector<const char*> kAreaInputs = {kAreaGrad, kArea};
const std::vector<const char*> kAll = {kFoldGrad, kFold,     kLocalGrad, kLocal,
                                       kUmbrella, kAreaGrad, kArea};
const char* const kMissing4 = "Four inputs required: vertices, faces, VertexFaces, offset";
const char* const kMissing5 = "Five inputs required: vertices, faces, VertexFaces, visit, offset";
const char* const kMissingAreas =
    "Four inputs required: vertices, faces, VertexFaces, originalAreas";
const Array kTwoRows = single_array({2, 3}, {1, 0, 0, 1, 0, 0});
const Array kOne = single(1);
const Array kArea0 = single_array({1, 1}, {0});

INSTANTIATE_TEST_SUITE_P(
    Checks, FoldErrors,
    testing::Values(
        // A short call is refused where it would first read a missing input, after the
        // documented checks on the inputs it did pass.
        ErrorCase{"NoInputs", kFourInputs, {}, kMissing4},
        ErrorCase{"NoInputsLocal", kFiveInputs, {}, kMissing5},
        ErrorCase{"NoInputsArea", kAreaInputs, {}, kMissingAreas},
        ErrorCase{"ThreeInputs", kFourInputs, {kV, kF, kVF}, kMissing4},
        ErrorCase{"FourInputsLocal", kFiveInputs, {kV, kF, kVF, column({1})}, kMissing5},
        ErrorCase{"ThreeInputsArea", kAreaInputs, {kV, kF, kVF}, kMissingAreas},
        ErrorCase{"ShortCallStillChecksShapesFirst",
                  kFourInputs,
                  {kTwoRows},
                  "Vertices should be 3 dimensional"},
        // Documented checks in order, before any class check.
        ErrorCase{"VerticesTwoRows",
                  kAll,
                  {kTwoRows, int32_array({2, 1}, {1, 2}), kVF, kOne, kOne, kOne},
                  "Vertices should be 3 dimensional"},
        ErrorCase{"FacesTwoRows",
                  kAll,
                  {kV, int32_array({2, 1}, {1, 2}), kVF, kOne, kOne, kOne},
                  "Faces should have three vertices"},
        ErrorCase{"FacesTwoRowsOfAnotherClass",
                  kAll,
                  {kV, mexhost::double_array({2, 1}), kVF, kOne, kOne, kOne},
                  "Faces should have three vertices"},
        ErrorCase{"VertexFacesColumns",
                  kAll,
                  {kV, kF, int32_array({1, 2}, {1, 1}), kOne, kOne, kOne},
                  "Vertices and VertexFaces should be the same number!"},
        ErrorCase{"OriginalAreasAsColumn",
                  kAreaInputs,
                  {kTwoV, kTwoF, kTwoVF, single_array({2, 1}, {0, 0})},
                  "Input original areas vector wrong size!!!"},
        ErrorCase{"OriginalAreasOfAnotherClassWrongSize",
                  kAreaInputs,
                  {kTwoV, kTwoF, kTwoVF, mexhost::double_array({1, 3})},
                  "Input original areas vector wrong size!!!"},
        // Classes, sizes and indices, checked where they are read.
        ErrorCase{"VerticesOfAnotherClass",
                  kFourInputs,
                  {mexhost::double_array({3, 3}), kF, kVF, kOne},
                  "vertices must be a single matrix (got double)"},
        ErrorCase{"FacesOfAnotherClass",
                  kFourInputs,
                  {kV, mexhost::double_array({3, 1}, {1, 2, 3}), kVF, kOne},
                  "faces must be an int32 matrix (got double)"},
        ErrorCase{"VertexFacesOfAnotherClass",
                  {kFoldGrad, kAreaGrad},
                  {kV, kF, mexhost::double_array({1, 3}), kOne},
                  "VertexFaces must be an int32 matrix (got double)"},
        ErrorCase{"OffsetNotNumeric",
                  kFourInputs,
                  {kV, kF, kVF, mexhost::numeric_array(mxCHAR_CLASS, {1, 1}, {97})},
                  "offset must be a numeric scalar (got char)"},
        ErrorCase{"OffsetEmpty",
                  kFiveInputs,
                  {kV, kF, kVF, column({1}), mexhost::double_array({0, 0})},
                  "offset must be a numeric scalar (got an empty double)"},
        ErrorCase{"CornerAboveV",
                  kAll,
                  {kV, faces({1, 2, 4}), kVF},
                  "faces holds 4 at (3, 1), outside 1..3",
                  true},
        ErrorCase{"CornerZero",
                  kAll,
                  {kV, faces({0, 2, 3}), kVF},
                  "faces holds 0 at (1, 1), outside 1..3",
                  true},
        // The value-only full penalties never read VertexFaces beyond its column count.
        ErrorCase{"VertexFacesAboveF",
                  {kFoldGrad, kAreaGrad, kLocalGrad, kLocal, kUmbrella},
                  {kV, kF, int32_array({1, 3}, {1, 2, 1})},
                  "VertexFaces holds 2 at (1, 2), outside 0..1",
                  true},
        // Met face by face: the bad corner of the first face before the bad entry of the
        // second vertex's column.
        ErrorCase{"ErrorsInTheOrderTheyAreMet",
                  {kLocalGrad, kLocal, kUmbrella},
                  {kV, faces({1, 2, 9}), int32_array({1, 3}, {1, 5, 1})},
                  "faces holds 9 at (3, 1), outside 1..3",
                  true},
        ErrorCase{"VisitOfAnotherClass",
                  kFiveInputs,
                  {kV, kF, kVF, mexhost::double_array({1, 1}, {1}), kOne},
                  "visit must be an int32 matrix (got double)"},
        ErrorCase{"VisitZero",
                  kFiveInputs,
                  {kV, kF, kVF, column({1, 0}), kOne},
                  "visit holds 0 at (2, 1), outside 1..3"},
        ErrorCase{"VisitAboveV",
                  kFiveInputs,
                  {kV, kF, kVF, column({4}), kOne},
                  "visit holds 4 at (1, 1), outside 1..3"},
        ErrorCase{"OriginalAreasWithoutRows",
                  kAreaInputs,
                  {kTwoV, kTwoF, kTwoVF, single_array({0, 2})},
                  "originalAreas must be at least 1 x 2 (got 0 x 2)"},
        ErrorCase{"OriginalAreasOfAnotherClass",
                  kAreaInputs,
                  {kTwoV, kTwoF, kTwoVF, mexhost::double_array({1, 2})},
                  "originalAreas must be a single matrix (got double)"},
        // The umbrella variant counts its inputs: after the shape checks with more than six,
        // before reading a missing one with fewer.
        ErrorCase{"UmbrellaNoInputs", {kUmbrella}, {}, "Wrong number of inputs!"},
        ErrorCase{"UmbrellaTwoInputs", {kUmbrella}, {kV, kF}, "Wrong number of inputs!"},
        ErrorCase{"UmbrellaFiveInputs",
                  {kUmbrella},
                  {kV, kF, kVF, kNbors, column({1})},
                  "Wrong number of inputs!"},
        ErrorCase{"UmbrellaSevenInputs",
                  {kUmbrella},
                  {kV, kF, kVF, kNbors, column({1}), kOne, kOne},
                  "Wrong number of inputs!"},
        ErrorCase{"UmbrellaSevenInputsBadShape",
                  {kUmbrella},
                  {kTwoRows, kF, kVF, kNbors, column({1}), kOne, kOne},
                  "Vertices should be 3 dimensional"},
        ErrorCase{"UmbrellaCountsBeforeClasses",
                  {kUmbrella},
                  {mexhost::double_array({3, 3}), kF, kVF, kNbors, column({1}), kOne, kOne},
                  "Wrong number of inputs!"},
        ErrorCase{"NeighbourOfAnotherClass",
                  {kUmbrella},
                  {kV, kF, kVF, mexhost::double_array({2, 3}), column({1}), kOne},
                  "vertexNbors must be an int32 matrix (got double)"},
        ErrorCase{"NeighbourAboveV",
                  {kUmbrella},
                  {kV, kF, kVF, int32_array({2, 3}, {2, 3, 1, 5, 1, 2}), column({1}), kOne},
                  "vertexNbors holds 5 at (2, 2), outside 0..3"},
        ErrorCase{"NeighbourColumnMissing",
                  {kUmbrella},
                  {kV, kF, kVF, int32_array({2, 2}, {2, 3, 1, 3}), column({1}), kOne},
                  "vertexNbors must be at least 2 x 3 (got 2 x 2)"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST(FoldOutputs, OnlyTheRequestedSlotsAreFilledAndComputedRight) {
  const std::vector<Array> four = {kV, kF, kVF, kOne};
  const std::vector<Array> five = {kV, kF, kVF, column({1}), kOne};
  const std::vector<Array> six = {kV, kF, kVF, kNbors, column({1}), kOne};
  const std::vector<Array> area = {kV, kF, kVF, kArea0};
  struct Plugin {
    const char* name;
    const std::vector<Array>& inputs;
    int outputs;
  };
  for (const Plugin& p :
       {Plugin{kFoldGrad, four, 2}, Plugin{kFold, four, 1}, Plugin{kLocalGrad, five, 3},
        Plugin{kLocal, five, 2}, Plugin{kUmbrella, six, 3}, Plugin{kAreaGrad, area, 2},
        Plugin{kArea, area, 1}}) {
    for (int nlhs = 0; nlhs <= 3; ++nlhs) {
      const auto result = succeed(p.name, nlhs, p.inputs);
      const int slots = std::max(nlhs, 1);
      ASSERT_EQ(result.outputs.size(), static_cast<size_t>(slots));
      for (int k = 0; k < slots; ++k) {
        EXPECT_EQ(result.outputs[k].exists(), k < p.outputs) << p.name << " " << nlhs << " " << k;
      }
    }
  }
  // G without L: the involved vertices are still found for the gradient.
  const auto withoutList = succeed(kLocalGrad, 2, five);
  expect_single(withoutList.outputs[1], {3, 3}, kExampleG);
}

// A perturbed icosphere: every `stride`-th vertex pushed across its first neighbour, so that
// the faces around it flip.
struct FoldedMesh {
  tulm_test::Mesh mesh;
  std::vector<int32_t> table;  // K x V faces of vertex
  int32_t K = 0;
};

FoldedMesh folded_icosphere(int subdivisions, int stride) {
  FoldedMesh m;
  m.mesh = tulm_test::icosphere(subdivisions);
  const int32_t V = m.mesh.numVerts, F = m.mesh.numFaces;
  std::vector<std::vector<int32_t>> around(V);
  for (int32_t f = 0; f < F; ++f) {
    for (int j = 0; j < 3; ++j) around[m.mesh.faces[3 * f + j] - 1].push_back(f + 1);
  }
  for (const auto& a : around) m.K = std::max<int32_t>(m.K, static_cast<int32_t>(a.size()));
  m.table.assign(static_cast<size_t>(m.K) * V, 0);
  for (int32_t v = 0; v < V; ++v) std::copy(around[v].begin(), around[v].end(), &m.table[v * m.K]);
  for (int32_t v = 0; v < V; v += stride) {
    const int32_t* corners = &m.mesh.faces[3 * (around[v][0] - 1)];
    const int32_t n = (corners[0] - 1 == v ? corners[1] : corners[0]) - 1;
    for (int i = 0; i < 3; ++i) {
      float& x = m.mesh.vertices[3 * v + i];
      x = 2.5f * m.mesh.vertices[3 * n + i] - 1.5f * x;
    }
  }
  return m;
}

TEST(FoldOracle, PerturbedIcosphereAgreesWithDoubleSumsAndTheLocalVariant) {
  const FoldedMesh m = folded_icosphere(3, 37);
  const int32_t V = m.mesh.numVerts, F = m.mesh.numFaces;
  const Array v = single_array({3, size_t(V)}, m.mesh.vertices);
  const Array f = int32_array({3, size_t(F)}, m.mesh.faces);
  const Array table = int32_array({size_t(m.K), size_t(V)}, m.table);
  const auto full = succeed(kFoldGrad, 2, {v, f, table, single(0.5f)});
  const float P = full.outputs[0].values<float>()[0];
  const std::vector<float> G = full.outputs[1].values<float>();

  // Independently: flipped faces from the double normal, their areas and area gradients.
  double expectedP = 0;
  std::vector<double> expectedG(3 * static_cast<size_t>(V), 0.0);
  std::set<int32_t> corners;
  int flipped = 0;
  for (int32_t i = 0; i < F; ++i) {
    const int32_t c[3] = {m.mesh.faces[3 * i] - 1, m.mesh.faces[3 * i + 1] - 1,
                          m.mesh.faces[3 * i + 2] - 1};
    double p[3][3];
    for (int k = 0; k < 3; ++k) {
      for (int j = 0; j < 3; ++j) p[k][j] = m.mesh.vertices[3 * c[k] + j];
    }
    const double e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const double e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                         e1[0] * e2[1] - e1[1] * e2[0]};
    if (n[0] * p[0][0] + n[1] * p[0][1] + n[2] * p[0][2] <= 0) continue;
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    ++flipped;
    expectedP += len / 2 + 0.5;
    for (int k = 0; k < 3; ++k) {
      corners.insert(c[k] + 1);
      const double* a = p[(k + 1) % 3];
      const double* b = p[(k + 2) % 3];
      const double e[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
      expectedG[3 * c[k] + 0] += 0.5 * (n[1] * e[2] - n[2] * e[1]) / len;
      expectedG[3 * c[k] + 1] += 0.5 * (n[2] * e[0] - n[0] * e[2]) / len;
      expectedG[3 * c[k] + 2] += 0.5 * (n[0] * e[1] - n[1] * e[0]) / len;
    }
  }
  ASSERT_GT(flipped, 10);
  EXPECT_NEAR(P, expectedP, 2e-5 * expectedP);
  for (size_t i = 0; i < G.size(); ++i) EXPECT_NEAR(G[i], expectedG[i], 1e-5) << i;

  // Visiting every vertex finds the same faces in another order: P up to rounding, G to the
  // bit (each column sums the same faces in VertexFaces order), L the corners of flipped faces.
  const auto local = succeed(kLocalGrad, 3, {v, f, table, int32_array({0, 0}), single(0.5f)});
  EXPECT_NEAR(local.outputs[0].values<float>()[0], P, 2e-5 * P);
  EXPECT_EQ(bits(local.outputs[1].values<float>()), bits(G));
  std::vector<int32_t> L = local.outputs[2].values<int32_t>();
  EXPECT_EQ(std::set<int32_t>(L.begin(), L.end()), corners);
  EXPECT_EQ(L.size(), corners.size()) << "each vertex once";

  // Visiting just the involved vertices finds every flipped face again.
  const auto involved = succeed(kLocalGrad, 3, {v, f, table, column(L), single(0.5f)});
  EXPECT_EQ(bits(involved.outputs[1].values<float>()), bits(G));
  std::sort(L.begin(), L.end());
  std::vector<int32_t> again = involved.outputs[2].values<int32_t>();
  std::sort(again.begin(), again.end());
  EXPECT_EQ(again, L);
}

TEST(AreaChangeOracle, OwnAndOppositeAreasOnAPerturbedIcosphere) {
  const FoldedMesh m = folded_icosphere(2, 11);
  const int32_t V = m.mesh.numVerts, F = m.mesh.numFaces;
  const tulm::FoldMesh core{m.mesh.vertices.data(), V, m.mesh.faces.data(), F, m.table.data(), m.K};
  std::vector<float> own(F), opposite(F);
  float expected = 0;
  for (int32_t i = 0; i < F; ++i) {
    own[i] = tulm::signedFaceArea(core, i);
    opposite[i] = -own[i];
    const float d = own[i] - opposite[i];
    expected = d * d + expected;
  }
  const Array v = single_array({3, size_t(V)}, m.mesh.vertices);
  const Array f = int32_array({3, size_t(F)}, m.mesh.faces);
  const Array table = int32_array({size_t(m.K), size_t(V)}, m.table);
  const auto same = succeed(kAreaGrad, 2, {v, f, table, single_array({1, size_t(F)}, own)});
  expect_single(same.outputs[0], {1, 1}, {0});
  expect_single(same.outputs[1], {3, size_t(V)}, std::vector<float>(3 * V, 0));
  const auto flippedSign = succeed(kArea, 1, {v, f, table, single_array({1, size_t(F)}, opposite)});
  expect_single(flippedSign.outputs[0], {1, 1}, {expected});
}

}  // namespace
