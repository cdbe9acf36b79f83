// The seeded nearest-vertex search, called directly with scripted draws, so that no verdict
// depends on the clock.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "core/location/TULM_findNearestVertex.h"
#include "location_fixtures.h"

namespace {

// Draws replayed in a cycle; counts the re-seeds.
struct Script {
  std::vector<int> draws;
  size_t next = 0;
  int reseeds = 0;
  tulm::RandomSource source() {
    return {[this] { ++reseeds; }, [this] { return draws.at(next++ % draws.size()); }};
  }
};

struct Found {
  std::vector<int32_t> vertices;
  std::vector<float> distances;
  tulm::NearestVertexReport report;
  std::string printed;
};

Found search(const std::vector<float>& mesh, int32_t Kn, const std::vector<int32_t>& nbors,
             const std::vector<float>& points, const std::vector<int32_t>& seeds, Script& script) {
  Found out;
  const int32_t N = static_cast<int32_t>(seeds.size());
  out.vertices.assign(N, -7);
  out.distances.assign(N, -7);
  tulm::CapturedDiagnostics diagnostics;
  out.report = tulm::TULM_findNearestVertex(
      points.data(), N, mesh.data(), static_cast<int32_t>(mesh.size() / 3), nbors.data(), Kn,
      seeds.data(), out.vertices.data(), out.distances.data(), script.source(), diagnostics);
  out.printed = diagnostics.printed;
  return out;
}

const std::vector<float> kOctahedron = tulm_test::octahedron().vertices;

struct DescentCase {
  const char* name;
  std::vector<float> vertices;
  int32_t Kn;
  std::vector<int32_t> nbors;
  std::vector<float> point;
  int32_t seed;
  int32_t vertex;
};

class Descent : public testing::TestWithParam<DescentCase> {};

TEST_P(Descent, EndsAtTheExpectedVertexWithoutDraws) {
  const DescentCase& c = GetParam();
  Script script{{0}};
  const auto r = search(c.vertices, c.Kn, c.nbors, c.point, {c.seed}, script);
  EXPECT_EQ(r.vertices[0], c.vertex);
  EXPECT_EQ(script.next, 0u);
  EXPECT_EQ(script.reseeds, 1) << "the generator is re-seeded even when nothing is drawn";
  EXPECT_EQ(r.printed, "");
}

// Vertex 1 sets the radius; vertices 2..4 on a line, vertex 2 listing 3 and 4.
INSTANTIATE_TEST_SUITE_P(
    Cases, Descent,
    testing::Values(
        // 3 and 4 are equally near the point: the one listed first is taken.
        DescentCase{"NeighbourTieKeepsFirstListed",
                    {1, 0, 0, 0, 0, 0, 0.5f, 0.5f, 0, 0.5f, -0.5f, 0},
                    2,
                    {0, 0, 3, 4, 0, 0, 0, 0},
                    {1, 0, 0},
                    2,
                    3},
        DescentCase{"NeighbourTieOtherOrder",
                    {1, 0, 0, 0, 0, 0, 0.5f, 0.5f, 0, 0.5f, -0.5f, 0},
                    2,
                    {0, 0, 4, 3, 0, 0, 0, 0},
                    {1, 0, 0},
                    2,
                    4},
        // A neighbour exactly as far as the current vertex does not move the descent.
        DescentCase{"EqualDistanceStays",
                    {1, 0, 0, 0.5f, 0, 0, -0.5f, 0, 0},
                    1,
                    {0, 3, 2},
                    {0, 0, 0},
                    2,
                    2},
        DescentCase{"DescendsAcrossTheOctahedron",
                    kOctahedron,
                    4,
                    {3, 4, 5, 6, 3, 4, 5, 6, 1, 2, 5, 6, 1, 2, 5, 6, 1, 2, 3, 4, 1, 2, 3, 4},
                    {0.1f, -0.2f, -0.9f},
                    2,
                    6}),
    [](const testing::TestParamInfo<DescentCase>& info) { return std::string(info.param.name); });

TEST(NearestVertex, SeedBelowOneContinuesFromThePreviousResult) {
  Script script{{0}};
  // No neighbour table: every start vertex is its own answer (all are within the threshold).
  const auto r = search(kOctahedron, 0, {}, std::vector<float>(12, 0.0f), {0, 5, 0, -3}, script);
  EXPECT_EQ(r.vertices, (std::vector<int32_t>{1, 5, 5, 5}));
  EXPECT_EQ(r.distances, (std::vector<float>{1, 1, 1, 1}));
  EXPECT_EQ(script.reseeds, 4);
}

struct RestartCase {
  const char* name;
  int trapDraws;  // draws that land on the trap before the good vertex
  const char* printed;
};

class RandomRestarts : public testing::TestWithParam<RestartCase> {};

// Vertex 2 is a trap (no neighbours, beyond the threshold), as are vertices 4..200; vertex 3
// lies on the point.
TEST_P(RandomRestarts, PrintOnlyFromTheHundredthRestart) {
  const RestartCase& c = GetParam();
  Script script;
  script.draws.assign(c.trapDraws, 1);
  script.draws.push_back(2);
  std::vector<float> vertices = {1, 0, 0, 5, 0, 0, 0, 0, 0};
  for (int copy = 0; copy < 197; ++copy) vertices.insert(vertices.end(), {5, 0, 0});
  const auto r = search(vertices, 0, {}, {0, 0, 0}, {2}, script);
  EXPECT_EQ(r.vertices[0], 3);
  EXPECT_EQ(r.distances[0], 0.0f);
  EXPECT_EQ(r.report.randomRestarts, c.trapDraws + 1);
  EXPECT_EQ(r.printed, c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RandomRestarts,
    testing::Values(RestartCase{"NinetyNine", 98, ""},
                    RestartCase{"OneHundred", 99,
                                "RANDOM: vertex 1 (matlab index), rand_count: 100\n"}),
    [](const testing::TestParamInfo<RestartCase>& info) { return std::string(info.param.name); });

TEST(NearestVertex, GivesUpWithTheBestVertexReachedByADescentMove) {
  // 1 -> 2 -> 3 along x; the point at x = 10 is beyond the threshold everywhere.
  Script script{{0}};
  const std::vector<float> vertices = {1, 0, 0, 2, 0, 0, 3, 0, 0};
  const auto r = search(vertices, 2, {2, 0, 1, 3, 2, 0}, {10, 0, 0}, {1}, script);
  EXPECT_EQ(r.vertices[0], 3);
  EXPECT_EQ(r.distances[0], 7.0f);
  EXPECT_EQ(script.next, 3u) << "V restarts";
  EXPECT_EQ(r.printed,
            "Problem vertex (matlab index): 1, rand_count: 4, bestSeed: 2, best_distance: "
            "7.000000\n");
}

// A point that never makes a descent move gives up with vertex 0, and a point continuing from
// that result starts at vertex 1. Without a neighbour table nothing moves; beyond squared
// distance 100000 no neighbour is ever kept, and the descent stays put instead of moving to
// a vertex left over from an earlier step.
TEST(NearestVertex, GiveUpWithoutAMoveAndWhatFollowsIt) {
  const std::vector<int32_t> octahedronNbors = {3, 4, 5, 6, 3, 4, 5, 6, 1, 2, 5, 6,
                                                1, 2, 5, 6, 1, 2, 3, 4, 1, 2, 3, 4};
  for (float x : {10.0f, 1000.0f}) {
    Script script{{0, 1, 2, 3, 4, 5}};
    const int32_t Kn = x == 10.0f ? 0 : 4;
    const auto r = search(kOctahedron, Kn, Kn ? octahedronNbors : std::vector<int32_t>{},
                          {x, 0, 0, 0, 0, 0}, {2, 0}, script);
    EXPECT_EQ(r.vertices, (std::vector<int32_t>{0, 1})) << x;
    EXPECT_EQ(r.distances, (std::vector<float>{316.22775f, 1.0f})) << x;
    EXPECT_EQ(r.printed,
              "Problem vertex (matlab index): 1, rand_count: 7, bestSeed: -1, best_distance: "
              "316.227766\n")
        << x;
  }
}

// With V = 163842 and R = 27 the threshold is 729 * 0.010000000707805157: a squared distance
// of 7.29000044 (the float just above 729 * 0.01) is accepted, the next float is not.
TEST(NearestVertex, ThresholdUsesTheSinglePrecisionFactor) {
  const float d = 0x1.59999ap+1f;  // d * d rounds to 7.2900004386901855
  for (int step = 0; step < 2; ++step) {
    std::vector<float> vertices(3 * 163842, 27.0f);
    vertices[0] = 27, vertices[1] = 0, vertices[2] = 0;
    float seedX = d;
    if (step == 1) {
      while (seedX * seedX <= 7.2900004386901855f) seedX = std::nextafter(seedX, 10.0f);
    }
    vertices[3] = seedX, vertices[4] = 0, vertices[5] = 0;
    vertices[6] = 0, vertices[7] = 0, vertices[8] = 0;
    Script script{{2}};
    const auto r = search(vertices, 0, {}, {0, 0, 0}, {2}, script);
    EXPECT_EQ(r.vertices[0], step == 0 ? 2 : 3) << "step " << step;
  }
}

// On an icosphere, points near every vertex seeded at that vertex's index after a small
// rotation: the accepted vertex is within the threshold, a local minimum, and the nearest
// vertex found by brute force.
TEST(NearestVertex, RotatedIcosphereMatchesBruteForce) {
  const auto m = tulm_test::with_tables(tulm_test::icosphere(3));
  const double axis[3] = {0.6, 0.0, 0.8};
  const std::vector<float> points = tulm_test::rotated(m.mesh.vertices, axis, 0.04);
  const int32_t V = m.mesh.numVerts;
  std::vector<int32_t> seeds(V);
  for (int32_t v = 0; v < V; ++v) seeds[v] = v + 1;
  Script script{{0}};
  const auto r = search(m.mesh.vertices, m.Kn, m.vertexNbors, points, seeds, script);
  EXPECT_EQ(script.reseeds, V);
  EXPECT_EQ(script.next, 0u);
  const double threshold = 1.0 * (std::sqrt(163842.0 / V) * 0.010000000707805157);
  const auto squared = [&](int32_t i, int32_t v) {
    const float* p = &points[3 * i];
    const float* q = &m.mesh.vertices[3 * (v - 1)];
    const float dx = p[0] - q[0], dy = p[1] - q[1], dz = p[2] - q[2];
    return (dx * dx + dy * dy) + dz * dz;
  };
  for (int32_t i = 0; i < V; ++i) {
    const int32_t found = r.vertices[i];
    int32_t nearest = 1;
    for (int32_t v = 2; v <= V; ++v) {
      if (squared(i, v) < squared(i, nearest)) nearest = v;
    }
    ASSERT_EQ(found, nearest) << "point " << i + 1;
    EXPECT_LT(double(squared(i, found)), threshold);
    EXPECT_EQ(r.distances[i], std::sqrt(squared(i, found)));
  }
}

}  // namespace

namespace {

// The clock-seeded source skips srand only when it would not change the generator: the draws
// equal those of srand(time(NULL)) before every draw. Retried across a change of second, so
// the clock never decides the verdict.
TEST(RuntimeRandomSource, DrawsAsIfSeededAtEveryPoint) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::time_t before = std::time(nullptr);
    tulm::RandomSource source = tulm::runtime_random_source();
    source.reseed();
    source.reseed();  // same second, nothing drawn: the state stays
    const int first = source.draw();
    const int second = source.draw();
    source.reseed();  // drawn since: seeded again
    const int again = source.draw();
    if (std::time(nullptr) != before) continue;
    std::srand(static_cast<unsigned>(before));
    const int expected = std::rand();
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, std::rand());
    EXPECT_EQ(again, expected);
    return;
  }
  FAIL() << "the clock changed second during every attempt";
}

}  // namespace
