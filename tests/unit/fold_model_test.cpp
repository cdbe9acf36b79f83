// The fold model (signed area, flip test, area gradient), called directly.
#include "core/folding/fold_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using tulm::FoldMesh;

uint32_t bits(float value) {
  uint32_t b;
  std::memcpy(&b, &value, sizeof b);
  return b;
}

// One face (corners 1, 2, 3 unless given) over the vertices given column by column.
struct OneFace {
  std::vector<float> vertices;
  std::vector<int32_t> faces{1, 2, 3};

  FoldMesh mesh() const {
    return {vertices.data(), static_cast<int32_t>(vertices.size() / 3),
            faces.data(),    static_cast<int32_t>(faces.size() / 3),
            nullptr,         0};
  }
};

const std::vector<float> kUnitCorners = {1, 0, 0, 0, 1, 0, 0, 0, 1};

TEST(FoldModel, WorkedExampleToTheBit) {
  const OneFace face{kUnitCorners};
  const float area = tulm::signedFaceArea(face.mesh(), 0);
  EXPECT_EQ(bits(area), bits(0.8660253882408142f));
  EXPECT_TRUE(tulm::isFlipped(area));

  // Column w of G for w = each corner: 0.57735026 on the diagonal, -0.28867513 elsewhere.
  for (int32_t w = 0; w < 3; ++w) {
    float g[3];
    tulm::faceAreaGradient(face.mesh(), 0, w, g);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(bits(g[i]), bits(i == w ? 0.57735026f : -0.28867513f)) << "w " << w << " i " << i;
    }
  }

  const OneFace reversed{kUnitCorners, {1, 3, 2}};
  EXPECT_EQ(bits(tulm::signedFaceArea(reversed.mesh(), 0)), bits(-0.8660253882408142f));
  EXPECT_FALSE(tulm::isFlipped(tulm::signedFaceArea(reversed.mesh(), 0)));
}

TEST(FoldModel, FlipTestIsStrictAboveTheSingleNearestTenToTheMinusSeven) {
  EXPECT_EQ(bits(tulm::kFlipThreshold), 0x33D6BF95u);
  EXPECT_FALSE(tulm::isFlipped(tulm::kFlipThreshold));
  EXPECT_TRUE(tulm::isFlipped(std::nextafter(tulm::kFlipThreshold, 1.0f)));
  EXPECT_FALSE(tulm::isFlipped(std::nanf("")));
  EXPECT_FALSE(tulm::isFlipped(-1.0f));

  // A right triangle with legs 2t and 1 at height z = 1 has signed area exactly t.
  const float legs = 2 * tulm::kFlipThreshold;
  const OneFace atThreshold{{0, 0, 1, legs, 0, 1, 0, 1, 1}};
  EXPECT_EQ(tulm::signedFaceArea(atThreshold.mesh(), 0), tulm::kFlipThreshold);
  const OneFace above{{0, 0, 1, std::nextafter(legs, 1.0f), 0, 1, 0, 1, 1}};
  EXPECT_TRUE(tulm::isFlipped(tulm::signedFaceArea(above.mesh(), 0)));
}

TEST(FoldModel, PlaneThroughTheOriginAndInwardNormalsGiveNegativeAreas) {
  // Normal (0, 0, 1), first corner at the origin: d = 0.
  const OneFace throughOrigin{{0, 0, 0, 1, 0, 0, 0, 1, 0}};
  EXPECT_EQ(tulm::signedFaceArea(throughOrigin.mesh(), 0), -0.5f);
  // Normal (0, 0, 1) at height z = -1 points toward the origin.
  const OneFace inward{{0, 0, -1, 1, 0, -1, 0, 1, -1}};
  EXPECT_EQ(tulm::signedFaceArea(inward.mesh(), 0), -0.5f);
  const OneFace degenerate{{1, 1, 1, 1, 1, 1, 2, 2, 2}};
  EXPECT_EQ(tulm::signedFaceArea(degenerate.mesh(), 0), -0.0f);
}

TEST(FoldModel, GradientVanishesBelowTheAreaFloor) {
  // Legs 1e-3 and 1e-4: area 5e-8, below the floor; legs 1e-3 and 3e-4: above it.
  const OneFace tiny{{0, 0, 1, 1e-3f, 0, 1, 0, 1e-4f, 1}};
  const OneFace small{{0, 0, 1, 1e-3f, 0, 1, 0, 3e-4f, 1}};
  float g[3];
  tulm::faceAreaGradient(tiny.mesh(), 0, 0, g);
  EXPECT_EQ(std::vector<float>(g, g + 3), std::vector<float>(3, 0.0f));
  tulm::faceAreaGradient(small.mesh(), 0, 0, g);
  EXPECT_NE(g[0], 0.0f);
}

TEST(FoldModel, FacesOfAVertexStopAtTheFirstEntryBelowOneAndCheckTheRest) {
  const std::vector<int32_t> table = {2, 1, 0, 5, 1, 5, -1, 7};  // K = 4, V = 2
  const FoldMesh mesh{nullptr, 2, nullptr, 2, table.data(), 4};
  std::vector<int32_t> seen;
  tulm::for_each_face_of_vertex(mesh, 0, [&](int32_t f) { seen.push_back(f); });
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 0}));
  try {
    tulm::for_each_face_of_vertex(mesh, 1, [](int32_t) {});
    FAIL() << "an entry above F must end the call";
  } catch (const tulm::Error& error) {
    EXPECT_STREQ(error.what(), "VertexFaces holds 5 at (2, 2), outside 0..2");
  }
}

TEST(FoldModel, CornersAreCheckedWhereTheyAreRead) {
  const OneFace face{kUnitCorners, {1, 4, 3}};
  try {
    tulm::signedFaceArea(face.mesh(), 0);
    FAIL() << "corner 4 of 3 vertices must end the call";
  } catch (const tulm::Error& error) {
    EXPECT_STREQ(error.what(), "faces holds 4 at (2, 1), outside 1..3");
  }
}

// The gradient of the unsigned area |n| / 2 in double, from the textbook formula
// 0.5 * unit normal x (P_b - P_a) with the corners in cyclic order w, a, b.
std::vector<double> area_gradient(const std::vector<double>& pw, const std::vector<double>& pa,
                                  const std::vector<double>& pb) {
  const double e1[3] = {pa[0] - pw[0], pa[1] - pw[1], pa[2] - pw[2]};
  const double e2[3] = {pb[0] - pw[0], pb[1] - pw[1], pb[2] - pw[2]};
  const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                       e1[0] * e2[1] - e1[1] * e2[0]};
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  const double e[3] = {pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]};
  return {0.5 * (n[1] * e[2] - n[2] * e[1]) / len, 0.5 * (n[2] * e[0] - n[0] * e[2]) / len,
          0.5 * (n[0] * e[1] - n[1] * e[0]) / len};
}

TEST(FoldModel, GradientOfEveryCornerMatchesTheDoubleAreaGradient) {
  std::mt19937 random(11);
  std::uniform_real_distribution<float> coordinate(-1.0f, 1.0f);
  for (int trial = 0; trial < 200; ++trial) {
    OneFace face{std::vector<float>(9)};
    for (float& x : face.vertices) x = coordinate(random);
    std::vector<std::vector<double>> p(3);
    for (int c = 0; c < 3; ++c) p[c].assign(&face.vertices[3 * c], &face.vertices[3 * c + 3]);
    for (int32_t w = 0; w < 3; ++w) {
      float g[3];
      tulm::faceAreaGradient(face.mesh(), 0, w, g);
      const auto expected = area_gradient(p[w], p[(w + 1) % 3], p[(w + 2) % 3]);
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(g[i], expected[i], 1e-4) << trial << " " << w;
    }
  }
}

}  // namespace
