// Areas, neighbour distances, data differences and Gaussian smoothing, through the stand-in
// host, against independent single-precision evaluations written here in the documented order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "core/measures/rounded_exp.h"
#include "harness.h"
#include "icosphere.h"

using mexhost::Array;
using mexhost::call;
using mexhost::int32_array;
using mexhost::int32_scalar;
using mexhost::single_array;

namespace {

const char* const kSurface = "TULM_calculateSurfaceArea";
const char* const kFaceAreas = "TULM_computeMeshFaceAreas";
const char* const kDistSq = "TULM_computeVertexDistSq2Nbors";
const char* const kDiff = "TULM_computeDiffDataVertex2Nbors";
const char* const kSmooth = "TULM_gaussianSmoothVertexData";

std::vector<uint32_t> bits(const std::vector<float>& values) {
  std::vector<uint32_t> out(values.size());
  if (!values.empty()) std::memcpy(out.data(), values.data(), values.size() * sizeof(float));
  return out;
}

// ---- independent evaluations --------------------------------------------------------------

// Lagrange-identity area of a face with corners a, b, c, each step in single.
float lagrange_area(const float* a, const float* b, const float* c) {
  float u[3], w[3];
  for (int k = 0; k < 3; ++k) {
    u[k] = b[k] - a[k];
    w[k] = c[k] - a[k];
  }
  const float dot = (u[0] * w[0] + u[1] * w[1]) + u[2] * w[2];
  const float uu = (u[0] * u[0] + u[1] * u[1]) + u[2] * u[2];
  const float ww = (w[0] * w[0] + w[1] * w[1]) + w[2] * w[2];
  const float d = uu * ww - dot * dot;
  return static_cast<float>(0.5 * std::sqrt(static_cast<double>(d < 0.0f ? 0.0f : d)));
}

// Cross-product area of the same face.
float cross_area(const float* a, const float* b, const float* c) {
  float u[3], w[3];
  for (int k = 0; k < 3; ++k) {
    u[k] = b[k] - a[k];
    w[k] = c[k] - a[k];
  }
  const float cx = u[1] * w[2] - u[2] * w[1];
  const float cy = u[2] * w[0] - w[2] * u[0];
  const float cz = u[0] * w[1] - u[1] * w[0];
  return static_cast<float>(0.5 * std::sqrt(static_cast<double>((cx * cx + cy * cy) + cz * cz)));
}

// ---- fixtures -----------------------------------------------------------------------------

// A mesh in column form, as most deliverables take it.
struct Fixture {
  std::vector<float> vertices;  // 3 x V
  std::vector<int32_t> faces;   // 3 x F, 1-based
  size_t num_verts() const { return vertices.size() / 3; }
  size_t num_faces() const { return faces.size() / 3; }
  Array column_vertices() const { return single_array({3, num_verts()}, vertices); }
  Array column_faces() const { return int32_array({3, num_faces()}, faces); }
  Array row_vertices() const {
    return single_array({num_verts(), 3}, tulm_test::transposed(vertices, 3, num_verts()));
  }
  Array row_faces() const {
    return int32_array({num_faces(), 3}, tulm_test::transposed(faces, 3, num_faces()));
  }
};

const Fixture kTetrahedron = {{0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1},
                              {1, 3, 2, 1, 2, 4, 1, 4, 3, 2, 3, 4}};

const Fixture kOctahedron = {{0, 0, 1, 1, 0, 0, 0, 1, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1}, {}};
// Column form K x V (K = 4): 1: 2 3 4 5; 2: 1 3 5 6; 3: 1 2 4 6; 4: 1 3 5 6; 5: 1 2 4 6; 6: 2 3
// 4 5.
const std::vector<int32_t> kOctahedronNbors = {2, 3, 4, 5, 1, 3, 5, 6, 1, 2, 4, 6,
                                               1, 3, 5, 6, 1, 2, 4, 6, 2, 3, 4, 5};

// The unit icosphere with every vertex moved a little, and its K x V neighbour table.
struct NoisySphere {
  tulm_test::Mesh mesh;
  std::vector<int32_t> nbors;
  int32_t K = 0;
};

NoisySphere noisy_sphere(int subdivisions, unsigned seed) {
  NoisySphere sphere;
  sphere.mesh = tulm_test::icosphere(subdivisions);
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> jitter(-0.02f, 0.02f);
  for (float& x : sphere.mesh.vertices) x += jitter(random);
  const int32_t V = sphere.mesh.numVerts, F = sphere.mesh.numFaces;
  const auto table =
      call("TULM_convertFaces2VertNbors", 1,
           {int32_array({size_t(F), 3}, tulm_test::transposed(sphere.mesh.faces, 3, F)),
            int32_scalar(V)});
  const std::vector<int32_t> rowForm = table.outputs.at(0).values<int32_t>();
  sphere.K = static_cast<int32_t>(rowForm.size() / V);
  sphere.nbors = tulm_test::transposed(rowForm, V, sphere.K);
  return sphere;
}

// ---- areas --------------------------------------------------------------------------------

struct AreaCase {
  const char* name;
  Fixture mesh;
  std::vector<float> faceAreas;  // expected, exact
  float total;                   // expected, exact
};

class Areas : public testing::TestWithParam<AreaCase> {};

TEST_P(Areas, BothDeliverablesGiveTheWorkedValues) {
  const AreaCase& c = GetParam();
  const auto perFace = call(
      kFaceAreas, 1,
      {int32_scalar(int32_t(c.mesh.num_faces())), c.mesh.column_faces(), c.mesh.column_vertices()});
  ASSERT_FALSE(perFace.failed) << perFace.error;
  EXPECT_EQ(perFace.outputs[0].class_id(), mxSINGLE_CLASS);
  EXPECT_EQ(perFace.outputs[0].dims(), (std::vector<size_t>{c.mesh.num_faces(), 1}));
  EXPECT_EQ(bits(perFace.outputs[0].values<float>()), bits(c.faceAreas));

  const auto total = call(kSurface, 1, {c.mesh.row_vertices(), c.mesh.row_faces()});
  ASSERT_FALSE(total.failed) << total.error;
  EXPECT_EQ(total.outputs[0].class_id(), mxSINGLE_CLASS);
  EXPECT_EQ(total.outputs[0].dims(), (std::vector<size_t>{1, 1}));
  EXPECT_EQ(bits(total.outputs[0].values<float>()), bits({c.total}));
  EXPECT_TRUE(perFace.inputs_intact && total.inputs_intact);
}

const float kHalfSqrt3 = static_cast<float>(0.5 * std::sqrt(3.0));

INSTANTIATE_TEST_SUITE_P(
    Examples, Areas,
    testing::Values(
        AreaCase{"RightTriangle", {{0, 0, 0, 1, 0, 0, 0, 1, 0}, {1, 2, 3}}, {0.5f}, 0.5f},
        AreaCase{"UnitSquare",
                 {{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, {1, 2, 3, 1, 3, 4}},
                 {0.5f, 0.5f},
                 1.0f},
        AreaCase{"Tetrahedron",
                 kTetrahedron,
                 {0.5f, 0.5f, 0.5f, kHalfSqrt3},
                 ((0.5f + 0.5f) + 0.5f) + kHalfSqrt3},
        AreaCase{"OneCornerThreeTimes", {{1, 2, 3}, {1, 1, 1}}, {0.0f}, 0.0f},
        AreaCase{"CollinearCorners", {{0, 0, 0, 1, 1, 1, 2, 2, 2}, {1, 2, 3}}, {0.0f}, 0.0f},
        AreaCase{"NoFaces", {{0, 0, 0}, {}}, {}, 0.0f}),
    [](const testing::TestParamInfo<AreaCase>& info) { return std::string(info.param.name); });

TEST(SurfaceArea, NearlyCollinearFaceWhoseSquaredAreaRoundsBelowZeroCountsZero) {
  const Fixture sliver = {{0, 0, 0, 0.1f, 0.1f, 0.1f, 0.7f, 0.7f, 0.7f}, {1, 2, 3}};
  // The fixture is meaningful only if uu*ww - dot*dot really rounds below zero.
  const float u = 0.1f, w = 0.7f;
  const float dot = (u * w + u * w) + u * w, uu = (u * u + u * u) + u * u;
  const float ww = (w * w + w * w) + w * w;
  ASSERT_LT(uu * ww - dot * dot, 0.0f);

  const auto total = call(kSurface, 1, {sliver.row_vertices(), sliver.row_faces()});
  ASSERT_FALSE(total.failed) << total.error;
  EXPECT_EQ(bits(total.outputs[0].values<float>()), bits({0.0f}));
}

TEST(SurfaceArea, NoisySphereMatchesSingleSumsOfBothFormulasBitForBit) {
  const NoisySphere sphere = noisy_sphere(3, 11);
  const tulm_test::Mesh& m = sphere.mesh;
  std::vector<float> expectedFaces(m.numFaces);
  float expectedTotal = 0.0f;
  for (int32_t i = 0; i < m.numFaces; ++i) {
    const float* p[3];
    for (int j = 0; j < 3; ++j) p[j] = &m.vertices[3 * (m.faces[3 * i + j] - 1)];
    expectedFaces[i] = cross_area(p[0], p[1], p[2]);
    expectedTotal = expectedTotal + lagrange_area(p[0], p[1], p[2]);
  }
  const Fixture fixture{m.vertices, m.faces};
  const auto perFace = call(
      kFaceAreas, 1, {int32_scalar(m.numFaces), fixture.column_faces(), fixture.column_vertices()});
  ASSERT_FALSE(perFace.failed) << perFace.error;
  EXPECT_EQ(bits(perFace.outputs[0].values<float>()), bits(expectedFaces));
  const auto total = call(kSurface, 0, {fixture.row_vertices(), fixture.row_faces()});
  ASSERT_FALSE(total.failed) << total.error;
  EXPECT_EQ(bits(total.outputs[0].values<float>()), bits({expectedTotal}));
  EXPECT_NEAR(expectedTotal, 4 * std::acos(-1.0), 0.2);  // the unit sphere
}

TEST(FaceAreas, ReadsOnlyTheFirstNumFacesColumns) {
  const Fixture square = {{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, {1, 2, 3, 1, 3, 99}};
  const auto result =
      call(kFaceAreas, 1, {int32_scalar(1), square.column_faces(), square.column_vertices()});
  ASSERT_FALSE(result.failed) << result.error;
  EXPECT_EQ(result.outputs[0].values<float>(), std::vector<float>{0.5f});
}

// ---- neighbour distances and data differences ----------------------------------------------

TEST(DistSq, WorkedExamples) {
  const auto pair = call(kDistSq, 1,
                         {int32_scalar(1), int32_scalar(2), int32_array({1, 2}, {2, 1}),
                          single_array({3, 2}, {0, 0, 0, 1, 2, 2})});
  ASSERT_FALSE(pair.failed) << pair.error;
  EXPECT_EQ(pair.outputs[0].dims(), (std::vector<size_t>{1, 2}));
  EXPECT_EQ(pair.outputs[0].values<float>(), (std::vector<float>{9, 9}));

  const auto octahedron =
      call(kDistSq, 1,
           {int32_scalar(4), int32_scalar(6), int32_array({4, 6}, kOctahedronNbors),
            kOctahedron.column_vertices()});
  ASSERT_FALSE(octahedron.failed) << octahedron.error;
  EXPECT_EQ(octahedron.outputs[0].values<float>(), std::vector<float>(24, 2.0f));
}

TEST(DistSq, EmptySlotsGiveZeroAndTheSlotsAfterThemAreStillFilled) {
  // K = 5; vertex 1 has a gap in the middle, every fifth slot is empty.
  const std::vector<int32_t> nbors = {2, 0, 4, 5, 0, 1, 3, 5, 6, 0, 1, 2, 4, 6, 0,
                                      1, 3, 5, 6, 0, 1, 2, 4, 6, 0, 2, 3, 4, 5, 0};
  const auto result = call(kDistSq, 1,
                           {int32_scalar(5), int32_scalar(6), int32_array({5, 6}, nbors),
                            kOctahedron.column_vertices()});
  ASSERT_FALSE(result.failed) << result.error;
  const std::vector<float> d = result.outputs[0].values<float>();
  EXPECT_EQ(std::vector<float>(d.begin(), d.begin() + 5), (std::vector<float>{2, 0, 2, 2, 0}));
  for (int v = 0; v < 6; ++v) EXPECT_EQ(d[4 + 5 * v], 0.0f) << "vertex " << v + 1;
}

TEST(DistSq, NoisySphereMatchesTheDocumentedSumBitForBit) {
  const NoisySphere sphere = noisy_sphere(2, 5);
  const int32_t K = sphere.K, V = sphere.mesh.numVerts;
  const std::vector<float>& x = sphere.mesh.vertices;
  std::vector<float> expected(size_t(K) * V, 0.0f);
  for (int32_t v = 0; v < V; ++v) {
    for (int32_t k = 0; k < K; ++k) {
      const int32_t n = sphere.nbors[k + v * K];
      if (n == 0) continue;
      float delta[3];
      for (int c = 0; c < 3; ++c) delta[c] = x[3 * v + c] - x[3 * (n - 1) + c];
      expected[k + v * K] = (delta[0] * delta[0] + delta[1] * delta[1]) + delta[2] * delta[2];
    }
  }
  const auto result =
      call(kDistSq, 1,
           {int32_scalar(K), int32_scalar(V), int32_array({size_t(K), size_t(V)}, sphere.nbors),
            single_array({3, size_t(V)}, x)});
  ASSERT_FALSE(result.failed) << result.error;
  EXPECT_EQ(bits(result.outputs[0].values<float>()), bits(expected));
}

TEST(DiffData, WorkedExampleInMemoryOrder) {
  const auto result =
      call(kDiff, 1,
           {int32_scalar(2), int32_scalar(2), int32_scalar(2), int32_array({2, 2}, {2, 0, 1, 0}),
            single_array({2, 2}, {1, 10, 4, 30})});
  ASSERT_FALSE(result.failed) << result.error;
  EXPECT_EQ(result.outputs[0].dims(), (std::vector<size_t>{2, 2, 2}));
  EXPECT_EQ(result.outputs[0].values<float>(), (std::vector<float>{-3, -20, 0, 0, 3, 20, 0, 0}));
}

TEST(DiffData, GapInTheMiddleOfAColumnIsSkippedAndReadOn) {
  const auto result = call(
      kDiff, 1,
      {int32_scalar(3), int32_scalar(3), int32_scalar(1),
       int32_array({3, 3}, {2, 0, 3, 0, 0, 1, 0, 0, 0}), single_array({1, 3}, {1.5f, 4, 0.25f})});
  ASSERT_FALSE(result.failed) << result.error;
  EXPECT_EQ(result.outputs[0].values<float>(),
            (std::vector<float>{1.5f - 4, 0, 1.5f - 0.25f, 0, 0, 4 - 1.5f, 0, 0, 0}));
}

// One and three values per vertex have loops of their own; five take the general one.
TEST(DiffData, NoisySphereMatchesTheSlotBySlotDifferences) {
  const NoisySphere sphere = noisy_sphere(2, 13);
  const int32_t K = sphere.K, V = sphere.mesh.numVerts;
  for (const int32_t D : {1, 3, 5}) {
    std::mt19937 random(29);
    std::normal_distribution<float> noise;
    std::vector<float> data(size_t(D) * V);
    for (float& value : data) value = noise(random);
    std::vector<float> expected(size_t(D) * K * V, 0.0f);
    for (int32_t v = 0; v < V; ++v) {
      for (int32_t k = 0; k < K; ++k) {
        const int32_t n = sphere.nbors[k + v * K];
        for (int32_t d = 0; n != 0 && d < D; ++d) {
          expected[d + D * (k + K * v)] = data[d + D * v] - data[d + D * (n - 1)];
        }
      }
    }
    const auto result = call(kDiff, 1,
                             {int32_scalar(K), int32_scalar(V), int32_scalar(D),
                              int32_array({size_t(K), size_t(V)}, sphere.nbors),
                              single_array({size_t(D), size_t(V)}, data)});
    ASSERT_FALSE(result.failed) << result.error;
    EXPECT_EQ(result.outputs[0].dims(), (std::vector<size_t>{size_t(D), size_t(K), size_t(V)}));
    EXPECT_EQ(bits(result.outputs[0].values<float>()), bits(expected)) << "D = " << D;
  }
}

struct ShapeCase {
  const char* name;
  const char* plugin;
  std::vector<Array> inputs;
  std::vector<size_t> dims;
};

class EmptyResults : public testing::TestWithParam<ShapeCase> {};

TEST_P(EmptyResults, HaveTheMatchingShape) {
  const ShapeCase& c = GetParam();
  const auto result = call(c.plugin, 1, c.inputs);
  ASSERT_FALSE(result.failed) << result.error;
  EXPECT_EQ(result.outputs[0].dims(), c.dims);
  EXPECT_EQ(result.outputs[0].numel(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, EmptyResults,
    testing::Values(
        ShapeCase{"NoData",
                  kDiff,
                  {int32_scalar(4), int32_scalar(6), int32_scalar(0),
                   int32_array({4, 6}, kOctahedronNbors), single_array({0, 6})},
                  {0, 4, 6}},
        ShapeCase{"NoSlots",
                  kDiff,
                  {int32_scalar(0), int32_scalar(6), int32_scalar(2), int32_array({0, 6}),
                   single_array({2, 6})},
                  {2, 0, 6}},
        ShapeCase{"NoSlotsDistances",
                  kDistSq,
                  {int32_scalar(0), int32_scalar(6), int32_array({0, 0}), single_array({0, 0})},
                  {0, 6}},
        ShapeCase{"NoVertices",
                  kDistSq,
                  {int32_scalar(4), int32_scalar(0), int32_array({0, 0}), single_array({0, 0})},
                  {4, 0}},
        ShapeCase{"NoFaces",
                  kFaceAreas,
                  {int32_scalar(0), int32_array({0, 0}), single_array({0, 0})},
                  {0, 1}},
        ShapeCase{"NoSmoothingData",
                  kSmooth,
                  {single_array({3, 2}), int32_array({1, 2}, {2, 1}), single_array({0, 2}),
                   mexhost::double_scalar(1)},
                  {0, 2}}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return std::string(info.param.name); });

// ---- smoothing ----------------------------------------------------------------------------

// One smoothing step written from the formula, in the documented order.
std::vector<float> reference_smooth(const std::vector<float>& x, const std::vector<int32_t>& nbors,
                                    int32_t K, const std::vector<float>& data, int32_t D, float s) {
  const int32_t V = static_cast<int32_t>(x.size() / 3);
  std::vector<float> out(data.size());
  const float c = 0.5f / s;
  for (int32_t i = 0; i < V; ++i) {
    std::vector<float> acc(data.begin() + i * D, data.begin() + (i + 1) * D);
    float wsum = 1.0f;
    for (int32_t j = 0; j < K && nbors[j + i * K] >= 1; ++j) {
      const int32_t n = nbors[j + i * K] - 1;
      float d2 = 0.0f;
      for (int c3 = 0; c3 < 3; ++c3) {
        const float delta = x[3 * i + c3] - x[3 * n + c3];
        d2 = d2 + delta * delta;
      }
      const float w = s > 0.0f ? tulm::rounded_expf(c * (-d2)) : 1.0f;
      for (int32_t k = 0; k < D; ++k) acc[k] = w * data[k + n * D] + acc[k];
      wsum = wsum + w;
    }
    for (int32_t k = 0; k < D; ++k) out[k + i * D] = acc[k] / wsum;
  }
  return out;
}

const std::vector<float> kTwoPoints = {0, 0, 0, 1, 0, 0};

std::vector<float> smooth(const std::vector<float>& x, std::vector<size_t> nborDims,
                          const std::vector<int32_t>& nbors, std::vector<size_t> dataDims,
                          const std::vector<float>& data, const Array& s) {
  const auto result = call(kSmooth, 1,
                           {single_array({3, x.size() / 3}, x), int32_array(nborDims, nbors),
                            single_array(dataDims, data), s});
  EXPECT_FALSE(result.failed) << result.error;
  if (result.failed) return {};
  EXPECT_EQ(result.outputs[0].dims(), dataDims);
  return result.outputs[0].values<float>();
}

TEST(Smoothing, TwoMutualNeighboursAtUnitDistance) {
  const std::vector<float> out =
      smooth(kTwoPoints, {1, 2}, {2, 1}, {1, 2}, {0, 1}, mexhost::double_scalar(1));
  const float w = tulm::rounded_expf(0.5f * -1.0f);
  EXPECT_EQ(bits(out), bits({(w * 1 + 0.0f) / (1 + w), (w * 0 + 1.0f) / (1 + w)}));
  EXPECT_NEAR(out[0], 0.377541, 1e-6);
  EXPECT_NEAR(out[1], 0.622459, 1e-6);
}

TEST(Smoothing, ZeroNegativeOrNaNScaleGivesThePlainMean) {
  for (double s : {0.0, -2.0, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(smooth(kTwoPoints, {1, 2}, {2, 1}, {1, 2}, {0, 1}, mexhost::double_scalar(s)),
              (std::vector<float>{0.5f, 0.5f}))
        << "s = " << s;
  }
}

TEST(Smoothing, ScaleOfAnyNumericClassIsReadAsSingle) {
  const Array s = mexhost::numeric_array(mxINT8_CLASS, {1, 1}, {1});
  EXPECT_EQ(bits(smooth(kTwoPoints, {1, 2}, {2, 1}, {1, 2}, {0, 1}, s)),
            bits(smooth(kTwoPoints, {1, 2}, {2, 1}, {1, 2}, {0, 1}, mexhost::single_scalar(1))));
}

TEST(Smoothing, ListEndsAtTheFirstEntryBelowOne) {
  // Vertex 1 lists nobody (its later slot is ignored), vertex 2 lists 1 then stops at -1.
  const std::vector<float> out =
      smooth(kTwoPoints, {2, 2}, {0, 2, 1, -1}, {1, 2}, {0, 1}, mexhost::double_scalar(0));
  EXPECT_EQ(out, (std::vector<float>{0.0f, 0.5f}));
}

TEST(Smoothing, NoSlotsLeavesTheDataAsItIs) {
  EXPECT_EQ(smooth(kTwoPoints, {0, 2}, {}, {1, 2}, {3, 4}, mexhost::double_scalar(1)),
            (std::vector<float>{3, 4}));
}

TEST(Smoothing, NeighbourListedTwiceCountsTwice) {
  const std::vector<float> out =
      smooth(kTwoPoints, {2, 2}, {2, 2, 1, 0}, {1, 2}, {0, 3}, mexhost::double_scalar(-1));
  EXPECT_EQ(out, (std::vector<float>{2.0f, 1.5f}));
}

TEST(Smoothing, NoisySphereMatchesTheFormulaBitForBitForOneAndSeveralRows) {
  const NoisySphere sphere = noisy_sphere(3, 3);
  const int32_t V = sphere.mesh.numVerts;
  std::mt19937 random(17);
  std::normal_distribution<float> noise;
  for (int32_t D : {1, 3}) {
    std::vector<float> data(size_t(D) * V);
    for (float& value : data) value = noise(random);
    for (float s : {0.005f, 0.0f}) {
      const auto out = smooth(sphere.mesh.vertices, {size_t(sphere.K), size_t(V)}, sphere.nbors,
                              {size_t(D), size_t(V)}, data, mexhost::single_scalar(s));
      EXPECT_EQ(bits(out),
                bits(reference_smooth(sphere.mesh.vertices, sphere.nbors, sphere.K, data, D, s)))
          << "D = " << D << ", s = " << s;
    }
  }
}

// Vertex 1's second weight, e^(-2^-25), lies just above a midpoint between floats and takes
// the exponential's exact path; the vertex's sums must count its first neighbour once.
TEST(Smoothing, WeightFromTheExactPathAfterAnotherMatchesTheFormula) {
  float fast;
  ASSERT_TRUE(tulm::try_rounded_expf(-0x1p-27f, &fast));
  ASSERT_FALSE(tulm::try_rounded_expf(-0x1p-25f, &fast));
  // Distances 0.5 and 1 from vertex 1; s = 2^24 makes the exponents -2^-27 and -2^-25.
  const std::vector<float> x = {0, 0, 0, 0.5f, 0, 0, 1, 0, 0};
  const std::vector<int32_t> nbors = {2, 3, 1, 0, 1, 0};
  const float s = 0x1p24f;
  for (int32_t D : {1, 3}) {
    std::vector<float> data(3 * size_t(D));
    for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<float>((k + 1) * (k + 1));
    EXPECT_EQ(bits(smooth(x, {2, 3}, nbors, {size_t(D), 3}, data, mexhost::single_scalar(s))),
              bits(reference_smooth(x, nbors, 2, data, D, s)))
        << "D = " << D;
  }
}

TEST(Smoothing, EveryRowGetsTheSameWeights) {
  const NoisySphere sphere = noisy_sphere(2, 9);
  const int32_t V = sphere.mesh.numVerts;
  std::vector<float> row(V), twoRows(2 * size_t(V));
  for (int32_t v = 0; v < V; ++v) {
    row[v] = static_cast<float>(v % 7);
    twoRows[2 * v] = 1.0f;
    twoRows[2 * v + 1] = row[v];
  }
  const auto one = smooth(sphere.mesh.vertices, {size_t(sphere.K), size_t(V)}, sphere.nbors,
                          {1, size_t(V)}, row, mexhost::double_scalar(0.01));
  const auto two = smooth(sphere.mesh.vertices, {size_t(sphere.K), size_t(V)}, sphere.nbors,
                          {2, size_t(V)}, twoRows, mexhost::double_scalar(0.01));
  for (int32_t v = 0; v < V; ++v) {
    EXPECT_EQ(bits({two[2 * v + 1]}), bits({one[v]}));
    EXPECT_NEAR(two[2 * v], 1.0f, 1e-6f) << "a constant field stays constant";
  }
}

// ---- errors -------------------------------------------------------------------------------

struct ErrorCase {
  const char* name;
  const char* plugin;
  int nlhs;
  std::vector<Array> inputs;
  const char* message;
};

class MeasureErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(MeasureErrors, EndTheCallWithTheMessage) {
  const ErrorCase& c = GetParam();
  const auto result = call(c.plugin, c.nlhs, c.inputs);
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.error, c.message);
  EXPECT_TRUE(result.guards_intact);
}

const char* const kSurfaceUsage =
    "Two inputs required. Face matrix and number of vertices, both assumed to be of type int32";
const char* const kFaceAreasUsage =
    "3 inputs required: numFaces (int 32), faces (int 32 *), vertices (float *)";
const char* const kDistSqUsage =
    "4 inputs required: maxNeighbors (int 32), numVerts (int 32), vertexNbors (int 32 *), "
    "vertices (float *)";
const char* const kDiffUsage =
    "5 inputs required: maxNeighbors (int 32), numVerts (int 32), numData (int 32), "
    "vertexNbors (int 32 *), data (float *)";
const char* const kSmoothUsage =
    "Four inputs required: vertices (single, 3 x V), vertexNbors (int32, K x V), "
    "data (single, D x V), s (numeric scalar)";

Array octa_nbors() { return int32_array({4, 6}, kOctahedronNbors); }
Array octa_vertices() { return kOctahedron.column_vertices(); }
Array one(int32_t value) { return int32_scalar(value); }

INSTANTIATE_TEST_SUITE_P(
    Areas, MeasureErrors,
    testing::Values(
        ErrorCase{"SurfaceCountFirst", kSurface, 2, {kTetrahedron.row_vertices()}, kSurfaceUsage},
        ErrorCase{"SurfaceTwoOutputs",
                  kSurface,
                  2,
                  {kTetrahedron.row_vertices(), kTetrahedron.row_faces()},
                  "Too many output arguments"},
        ErrorCase{"SurfaceVerticesClass",
                  kSurface,
                  1,
                  {mexhost::double_array({4, 3}), kTetrahedron.row_faces()},
                  "vertices must be a single matrix (got double)"},
        ErrorCase{"SurfaceFacesClass",
                  kSurface,
                  1,
                  {kTetrahedron.row_vertices(), mexhost::double_array({4, 3})},
                  "faces must be an int32 matrix (got double)"},
        ErrorCase{"SurfaceColumnFormVertices",
                  kSurface,
                  1,
                  {single_array({3, 2}), int32_array({1, 3}, {1, 2, 1})},
                  "vertices must be at least 3 x 3 (got 3 x 2)"},
        ErrorCase{"SurfaceTwoCornerFaces",
                  kSurface,
                  1,
                  {kTetrahedron.row_vertices(), int32_array({2, 2}, {1, 2, 3, 4})},
                  "faces must be at least 2 x 3 (got 2 x 2)"},
        ErrorCase{"SurfaceCornerAboveV",
                  kSurface,
                  1,
                  {kTetrahedron.row_vertices(), int32_array({2, 3}, {1, 1, 2, 2, 3, 5})},
                  "faces holds 5 at (2, 3), outside 1..4"},
        ErrorCase{"FaceAreasCountFirst", kFaceAreas, 2, {one(1), one(1)}, kFaceAreasUsage},
        ErrorCase{"FaceAreasTwoOutputs",
                  kFaceAreas,
                  2,
                  {one(4), kTetrahedron.column_faces(), kTetrahedron.column_vertices()},
                  "Too many output arguments"},
        ErrorCase{"FaceAreasNumFacesClass",
                  kFaceAreas,
                  1,
                  {mexhost::double_scalar(4), kTetrahedron.column_faces(),
                   kTetrahedron.column_vertices()},
                  "numFaces must be an int32 scalar (got double)"},
        ErrorCase{"FaceAreasNegativeNumFaces",
                  kFaceAreas,
                  1,
                  {one(-1), kTetrahedron.column_faces(), kTetrahedron.column_vertices()},
                  "numFaces must not be negative (got -1)"},
        ErrorCase{"FaceAreasMoreFacesThanGiven",
                  kFaceAreas,
                  1,
                  {one(5), kTetrahedron.column_faces(), kTetrahedron.column_vertices()},
                  "faces must be at least 3 x 5 (got 3 x 4)"},
        ErrorCase{"FaceAreasRowFormVertices",
                  kFaceAreas,
                  1,
                  {one(4), kTetrahedron.column_faces(), kTetrahedron.row_vertices()},
                  "vertices must have 3 rows (got 4 x 3)"},
        ErrorCase{"FaceAreasCornerZero",
                  kFaceAreas,
                  1,
                  {one(2), int32_array({3, 2}, {1, 2, 3, 1, 0, 2}), kTetrahedron.column_vertices()},
                  "faces holds 0 at (2, 2), outside 1..4"},
        ErrorCase{"FaceAreasEmptyVertices",
                  kFaceAreas,
                  1,
                  {one(1), int32_array({3, 1}, {1, 1, 1}), single_array({0, 5})},
                  "faces holds 1 at (1, 1), outside 1..0"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Neighbours, MeasureErrors,
    testing::Values(
        ErrorCase{"DistSqCountFirst", kDistSq, 2, {one(4), one(6), octa_nbors()}, kDistSqUsage},
        ErrorCase{"DistSqTwoOutputs",
                  kDistSq,
                  2,
                  {one(4), one(6), octa_nbors(), octa_vertices()},
                  "Too many output arguments"},
        ErrorCase{"DistSqNegativeK",
                  kDistSq,
                  1,
                  {one(-4), one(6), octa_nbors(), octa_vertices()},
                  "maxNeighbors must not be negative (got -4)"},
        ErrorCase{"DistSqNegativeV",
                  kDistSq,
                  1,
                  {one(4), one(-6), octa_nbors(), octa_vertices()},
                  "numVerts must not be negative (got -6)"},
        ErrorCase{"DistSqTableClass",
                  kDistSq,
                  1,
                  {one(4), one(6), mexhost::double_array({4, 6}), octa_vertices()},
                  "vertexNbors must be an int32 matrix (got double)"},
        ErrorCase{"DistSqTableSmallerThanKByV",
                  kDistSq,
                  1,
                  {one(4), one(7), octa_nbors(), single_array({3, 7})},
                  "vertexNbors must be at least 4 x 7 (got 4 x 6)"},
        ErrorCase{"DistSqRowFormVertices",
                  kDistSq,
                  1,
                  {one(4), one(6), octa_nbors(), single_array({6, 3})},
                  "vertices must be at least 3 x 6 (got 6 x 3)"},
        ErrorCase{"DistSqEntryAboveV",
                  kDistSq,
                  1,
                  {one(4), one(5), octa_nbors(), octa_vertices()},
                  "vertexNbors holds 6 at (4, 2), outside 0..5"},
        ErrorCase{"DistSqNegativeEntry",
                  kDistSq,
                  1,
                  {one(1), one(2), int32_array({1, 2}, {2, -1}), single_array({3, 2})},
                  "vertexNbors holds -1 at (1, 2), outside 0..2"},
        ErrorCase{"DistSqProductBeyond32Bits",
                  kDistSq,
                  1,
                  {one(65536), one(65536), octa_nbors(), octa_vertices()},
                  "the squared distances would have 4294967296 entries, more than 2147483647"},
        ErrorCase{"DiffCountFirst", kDiff, 2, {one(4), one(6), one(1), octa_nbors()}, kDiffUsage},
        ErrorCase{"DiffTwoOutputs",
                  kDiff,
                  2,
                  {one(4), one(6), one(1), octa_nbors(), single_array({1, 6})},
                  "Too many output arguments"},
        ErrorCase{"DiffNegativeD",
                  kDiff,
                  1,
                  {one(4), one(6), one(-1), octa_nbors(), single_array({1, 6})},
                  "numData must not be negative (got -1)"},
        ErrorCase{"DiffDataClass",
                  kDiff,
                  1,
                  {one(4), one(6), one(1), octa_nbors(), mexhost::double_array({1, 6})},
                  "data must be a single matrix (got double)"},
        ErrorCase{"DiffDataSmallerThanDByV",
                  kDiff,
                  1,
                  {one(4), one(6), one(2), octa_nbors(), single_array({1, 6})},
                  "data must be at least 2 x 6 (got 1 x 6)"},
        ErrorCase{"DiffEntryAboveV",
                  kDiff,
                  1,
                  {one(1), one(2), one(1), int32_array({1, 2}, {3, 1}), single_array({1, 2})},
                  "vertexNbors holds 3 at (1, 1), outside 0..2"},
        ErrorCase{"DiffProductBeyond32Bits",
                  kDiff,
                  1,
                  {one(4), one(6000000), one(100), octa_nbors(), single_array({1, 6})},
                  "the data differences would have 2400000000 entries, more than 2147483647"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Smoothing, MeasureErrors,
                         testing::Values(
                             // Refused before any missing input is read.
                             ErrorCase{"NoInputs", kSmooth, 1, {}, kSmoothUsage},
                             ErrorCase{"ThreeInputs",
                                       kSmooth,
                                       1,
                                       {single_array({3, 2}, kTwoPoints),
                                        int32_array({1, 2}, {2, 1}), single_array({1, 2})},
                                       kSmoothUsage},
                             // The documented shape checks, in their order.
                             ErrorCase{"ColumnsOfTableFirst",
                                       kSmooth,
                                       1,
                                       {single_array({4, 2}), int32_array({1, 3}),
                                        single_array({1, 5}), mexhost::double_scalar(1)},
                                       "Vertices and vertexNbors should have the same size[2]!"},
                             ErrorCase{"ThreeRowsSecond",
                                       kSmooth,
                                       1,
                                       {single_array({4, 2}), int32_array({1, 2}),
                                        single_array({1, 5}), mexhost::double_scalar(1)},
                                       "Number of dimensions should be 3!"},
                             ErrorCase{"DataColumnsThird",
                                       kSmooth,
                                       1,
                                       {single_array({3, 2}), int32_array({1, 2}),
                                        single_array({1, 5}), mexhost::double_scalar(1)},
                                       "data not right size!"},
                             ErrorCase{"VerticesClass",
                                       kSmooth,
                                       1,
                                       {mexhost::double_array({3, 2}), int32_array({1, 2}),
                                        single_array({1, 2}), mexhost::double_scalar(1)},
                                       "vertices must be a single matrix (got double)"},
                             ErrorCase{"TableClass",
                                       kSmooth,
                                       1,
                                       {single_array({3, 2}), mexhost::double_array({1, 2}),
                                        single_array({1, 2}), mexhost::double_scalar(1)},
                                       "vertexNbors must be an int32 matrix (got double)"},
                             ErrorCase{"DataClass",
                                       kSmooth,
                                       1,
                                       {single_array({3, 2}), int32_array({1, 2}),
                                        mexhost::double_array({1, 2}), mexhost::double_scalar(1)},
                                       "data must be a single matrix (got double)"},
                             ErrorCase{"EmptyScale",
                                       kSmooth,
                                       1,
                                       {single_array({3, 2}), int32_array({1, 2}),
                                        single_array({1, 2}), mexhost::double_array({0, 0})},
                                       "s must be a numeric scalar (got an empty double)"},
                             ErrorCase{"EntryAboveV",
                                       kSmooth,
                                       1,
                                       {single_array({3, 2}), int32_array({2, 2}, {2, 0, 1, 3}),
                                        single_array({1, 2}), mexhost::double_scalar(1)},
                                       "vertexNbors holds 3 at (2, 2), outside 0..2"}),
                         [](const testing::TestParamInfo<ErrorCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
