// The single-precision vector routines, called directly.
#include "core/location/vector_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using tulm::CapturedDiagnostics;

// One rounding per operation, forced through volatile temporaries, so the expectations do not
// depend on how the compiler would contract the expressions under test.
float product(float a, float b) {
  volatile float r = a * b;
  return r;
}
float sum(float a, float b) {
  volatile float r = a + b;
  return r;
}

TEST(VectorGeometry, DocumentedValues) {
  const float x[3] = {1, 0, 0}, y[3] = {0, 1, 0};
  float out[3];
  tulm::crossVectors(x, y, out);
  EXPECT_EQ(out[0], 0.0f);
  EXPECT_EQ(out[1], 0.0f);
  EXPECT_EQ(out[2], 1.0f);
  const float a[3] = {1, 2, 3}, b[3] = {4, 5, 6};
  EXPECT_EQ(tulm::dotVectors(a, b), 32.0f);
  const float origin[3] = {0, 0, 0}, p[3] = {3, 4, 0}, q[3] = {2, 3, 6};
  EXPECT_EQ(tulm::distanceVector(origin, p), 5.0f);
  EXPECT_EQ(tulm::magnitudeVector(q), 7.0f);
}

TEST(VectorGeometry, SumsRunLeftToRightInSingle) {
  // (1 + 1e8) rounds to 1e8 in single, so the left-to-right sum loses the 1.
  const float a[3] = {1, 1e8f, -1e8f}, ones[3] = {1, 1, 1};
  EXPECT_EQ(tulm::dotVectors(a, ones), 0.0f);
}

TEST(VectorGeometry, CrossProductRoundsEachProduct) {
  std::mt19937 random(3);
  std::uniform_real_distribution<float> coordinate(-2, 2);
  for (int trial = 0; trial < 1000; ++trial) {
    float a[3], b[3], out[3];
    for (int k = 0; k < 3; ++k) {
      a[k] = coordinate(random);
      b[k] = coordinate(random);
    }
    tulm::crossVectors(a, b, out);
    EXPECT_EQ(out[0], sum(product(a[1], b[2]), -product(a[2], b[1])));
    EXPECT_EQ(out[1], sum(product(a[2], b[0]), -product(a[0], b[2])));
    EXPECT_EQ(out[2], sum(product(a[0], b[1]), -product(a[1], b[0])));
  }
}

TEST(VectorGeometry, NormalizingZeroGivesNaN) {
  float zero[3] = {0, 0, 0};
  tulm::normalizeVector(zero);
  for (float c : zero) EXPECT_TRUE(std::isnan(c));
}

TEST(VectorGeometry, SameSideTest) {
  const float a[3] = {0, 1, 0}, b[3] = {0, 0, 0}, c[3] = {1, 0, 0};
  const float inside[3] = {0.5f, 0.5f, 0}, beyond[3] = {0.5f, -0.5f, 0};
  const float justBeyond[3] = {1, -1e-5f, 0};
  EXPECT_TRUE(tulm::isOnSameSide(inside, a, b, c, -0.0001f));
  EXPECT_FALSE(tulm::isOnSameSide(beyond, a, b, c, -0.0001f));
  EXPECT_FALSE(tulm::isOnSameSide(justBeyond, a, b, c, 0.0f));
  EXPECT_TRUE(tulm::isOnSameSide(justBeyond, a, b, c, -0.0001f)) << "the tolerance admits it";
  EXPECT_TRUE(tulm::isOnSameSide(beyond, a, b, c, -1.5f));
  // p on b makes the dot product NaN: never on the same side, whatever the tolerance.
  EXPECT_FALSE(tulm::isOnSameSide(b, a, b, c, -100.0f));
}

TEST(VectorGeometry, CentralProjectionOntoFacePlane) {
  const float v0[3] = {1, 0, 0}, v1[3] = {0, 1, 0}, v2[3] = {0, 0, 1};
  CapturedDiagnostics diagnostics;
  for (float scale : {1.0f, 2.0f}) {
    const float p[3] = {scale, scale, scale};
    float out[3];
    tulm::projectPoint(p, v0, v1, v2, out, diagnostics);
    for (float c : out) EXPECT_NEAR(c, 1.0f / 3.0f, 1e-7f);
  }
  const float origin[3] = {0, 0, 0};
  float out[3];
  tulm::projectPoint(origin, v0, v1, v2, out, diagnostics);
  for (float c : out) EXPECT_TRUE(std::isnan(c));
  EXPECT_TRUE(diagnostics.warnings.empty());
}

TEST(VectorGeometry, DegenerateFaceWarnsAndUsesThePlaneAcrossV0) {
  const float v0[3] = {0, 0, 2}, v1[3] = {0, 0, 2}, v2[3] = {1, 0, 2};
  const float p[3] = {1, 1, 4};
  CapturedDiagnostics diagnostics;
  float out[3];
  tulm::projectPoint(p, v0, v1, v2, out, diagnostics);
  ASSERT_EQ(diagnostics.warnings.size(), 1u);
  EXPECT_EQ(diagnostics.warnings[0], "Normal equal to zero! But should be ok.");
  EXPECT_EQ(out[0], 0.5f);
  EXPECT_EQ(out[1], 0.5f);
  EXPECT_EQ(out[2], 2.0f);
}

}  // namespace
