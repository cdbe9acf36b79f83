// The face-finding walk, called directly: exact results on literal fixtures, the restart,
// loop and visit-limit rules, and a randomized comparison with faces known by construction.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/location/TULM_findFaceAux.h"
#include "location_fixtures.h"

namespace {

using tulm_test::LocatedMesh;

struct Located {
  std::vector<int32_t> faces;
  std::vector<int32_t> vertices;
  tulm::FindFacesReport report;
  tulm::CapturedDiagnostics diagnostics;
};

Located locate(const LocatedMesh& m, const std::vector<float>& points,
               const std::vector<int32_t>& seeds) {
  Located out;
  const int32_t N = static_cast<int32_t>(seeds.size());
  out.faces.assign(N, -7);
  out.vertices.assign(N, -7);
  out.report = tulm::TULM_findFaces(points.data(), N, m.mesh.vertices.data(), m.mesh.numVerts,
                                    m.mesh.faces.data(), m.mesh.numFaces, m.vertexNbors.data(),
                                    m.Kn, m.VertexFaces.data(), m.Kf, seeds.data(),
                                    out.faces.data(), out.vertices.data(), out.diagnostics);
  return out;
}

// A mesh given literally, with its tables as given (they need not be consistent).
LocatedMesh literal(std::vector<float> vertices, std::vector<int32_t> faces, int32_t Kn,
                    std::vector<int32_t> vertexNbors, int32_t Kf,
                    std::vector<int32_t> VertexFaces) {
  LocatedMesh m;
  m.mesh.vertices = std::move(vertices);
  m.mesh.faces = std::move(faces);
  m.mesh.numVerts = static_cast<int32_t>(m.mesh.vertices.size() / 3);
  m.mesh.numFaces = static_cast<int32_t>(m.mesh.faces.size() / 3);
  m.Kn = Kn;
  m.vertexNbors = std::move(vertexNbors);
  m.Kf = Kf;
  m.VertexFaces = std::move(VertexFaces);
  return m;
}

struct WalkCase {
  const char* name;
  std::vector<float> point;
  int32_t seed;
  int32_t face;
  int32_t vertex;
  int64_t entries;
};

class OctahedronWalk : public testing::TestWithParam<WalkCase> {};

TEST_P(OctahedronWalk, FindsTheFaceAndNearestCorner) {
  const WalkCase& c = GetParam();
  const auto r = locate(tulm_test::with_tables(tulm_test::octahedron()), c.point, {c.seed});
  EXPECT_EQ(r.faces[0], c.face);
  EXPECT_EQ(r.vertices[0], c.vertex);
  EXPECT_EQ(r.report.entries, c.entries);
  EXPECT_EQ(r.report.restarts, 0);
  EXPECT_EQ(r.diagnostics.printed, "");
}

// Faces (1-based): 1 = (1 3 5) is the +x+y+z octant, 7 = (4 2 6) the -x-y-z octant.
INSTANTIATE_TEST_SUITE_P(
    Cases, OctahedronWalk,
    testing::Values(
        WalkCase{"InSeedFace", {0.5f, 0.3f, 0.2f}, 1, 1, 1, 1},
        WalkCase{"ScaledPointSameFace", {1.5f, 0.9f, 0.6f}, 1, 1, 1, 1},
        // Corners 1 and 3 are equally near: the one listed first in the face wins, even
        // when the walk stands on the other.
        WalkCase{"CornerTieKeepsStoredOrderFromVertex1", {0.4f, 0.4f, 0.2f}, 1, 1, 1, 1},
        WalkCase{"CornerTieKeepsStoredOrderFromVertex3", {0.4f, 0.4f, 0.2f}, 3, 1, 1, 1},
        WalkCase{"FromAnotherCorner", {-0.5f, -0.3f, -0.2f}, 6, 7, 2, 1},
        // Projection follows the whole line through the origin: from vertex 1 the face on
        // the far side of the origin holds the projection; the corner is still the one
        // nearest to the point itself.
        WalkCase{"OppositeFaceOnTheSameLine", {-0.5f, -0.3f, -0.2f}, 1, 1, 5, 1},
        // Just beyond the edge 3-5 that faces 1 and 2 share, on the side of face 2: within
        // the same-side tolerance, so the face tested first holds the point. From vertex 3
        // that is face 1, next to the face the ray crosses; from vertex 2 it is face 2.
        WalkCase{"JustBeyondASharedEdgeFromVertex3", {-1e-5f, 0.5f, 0.5f}, 3, 1, 3, 1},
        WalkCase{"JustBeyondASharedEdgeFromVertex2", {-1e-5f, 0.5f, 0.5f}, 2, 2, 3, 1},
        // Within 1e-5 of the seed: the seed and its first listed face, without a test.
        WalkCase{"ExactSeed", {0.0f, 1.000001f, 0.0f}, 3, 1, 3, 0}),
    [](const testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

TEST(FindFaces, ExactSeedWithNoListedFaceGivesFaceZero) {
  LocatedMesh m = tulm_test::with_tables(tulm_test::octahedron());
  for (int32_t k = 0; k < m.Kf; ++k) m.VertexFaces[k + 2 * m.Kf] = 0;  // vertex 3 lists none
  const auto r = locate(m, {0.0f, 1.000001f, 0.0f}, {3});
  EXPECT_EQ(r.faces[0], 0);
  EXPECT_EQ(r.vertices[0], 3);
}

TEST(FindFaces, NoPointsTouchNothing) {
  const auto r = locate(tulm_test::with_tables(tulm_test::octahedron()), {}, {});
  EXPECT_EQ(r.report.entries, 0);
  EXPECT_EQ(r.diagnostics.printed, "");
}

// One big triangle in the plane z = 1: the seed (-6, 0) is farther than the search radius
// (3.82 for R = 1 and V = 3) from the point, whose projection lies in the seed's face.
TEST(FindFaces, FaceTooFarFromTheSeedRestartsFromItsNearestNeighbour) {
  const LocatedMesh m = tulm_test::with_tables({3, 1, {0, 0, 1, -6, 0, 1, 0, 6, 1}, {2, 1, 3}});
  const auto r = locate(m, {-0.5f, 0.3f, 1.0f}, {2});
  EXPECT_EQ(r.faces[0], 1);
  EXPECT_EQ(r.vertices[0], 1);
  EXPECT_EQ(r.report.restarts, 1);
  EXPECT_EQ(r.report.entries, 2) << "the seed is not entered again after the restart";
}

// With 163842 vertices and R = 1 the search radius is 1/4 and its square 1/16: a neighbour
// exactly 0.25 away is entered and its face accepted; one a float step farther is not, and
// the walk, with nowhere to go, ends at the visit limit.
TEST(FindFaces, SearchRadiusOfTheReferenceMeshIsAQuarterOfR) {
  for (const float x : {0.75f, std::nextafter(0.75f, 1.0f)}) {
    std::vector<float> vertices = {0, 0, 1, x, 0, 1, -1, 1, 1, -1, -1, 1};
    vertices.resize(3 * 163842, 100.0f);
    std::vector<int32_t> nbors(163842, 0), vertexFaces(163842, 0);
    nbors[0] = 2;
    vertexFaces[1] = 1;
    const LocatedMesh m = literal(vertices, {2, 3, 4}, 1, nbors, 1, vertexFaces);
    const auto r = locate(m, {0.5f, 0.0f, 1.0f}, {1});
    if (x == 0.75f) {
      EXPECT_EQ(r.faces[0], 1);
      EXPECT_EQ(r.vertices[0], 2);
      EXPECT_EQ(r.report.entries, 2);
    } else {
      EXPECT_EQ(r.faces[0], 0);
      EXPECT_EQ(r.vertices[0], 1);
      EXPECT_EQ(r.report.failedPoints, 1);
    }
  }
}

// Seed S lists face 1 = (i0, X, i2) without being its corner; the point lies just below X,
// outside the edge i0-X. Seen from S (corners in stored order) the face holds the point, but
// its first corner i0 is too far; seen from X (X first) the edge test fails outright. So the
// restarted walk goes S -> X -> S, and the parents S <-> X form a loop with nowhere to go.
// Backing up around it counts as backing out of the seed; the looser tests end at X.
TEST(FindFaces, RestartedWalkThatLoopsBackToTheSeedEnds) {
  const LocatedMesh m = literal({0.1f, -0.1f, 1, 0, 0, 1, -20, 0, 1, 0, 2, 1}, {3, 2, 4}, 1,
                                {2, 1, 0, 0}, 1, {1, 1, 0, 0});
  const auto r = locate(m, {0.0f, -0.001f, 1.0f}, {1});
  EXPECT_EQ(r.faces[0], 1);
  EXPECT_EQ(r.vertices[0], 2);
  EXPECT_EQ(r.report.failedPoints, 0);
  EXPECT_GE(r.report.restarts, 5) << "found only once every test passes";
  EXPECT_LT(r.report.entries, 100);
}

// A chain of 100000 vertices at one spot, each listing the next; the face holding the point
// is listed only under the vertex entered at `entry`. The seed lists face 2 (a, d, b), which
// does not hold the point.
tulm::FindFacesReport chain_walk(int32_t entry, int32_t& face, int32_t& vertex,
                                 std::string& printed) {
  const int32_t chain = 100000;
  LocatedMesh m;
  m.mesh.numVerts = chain + 3;
  m.mesh.vertices.reserve(3 * (chain + 3));
  for (int32_t v = 0; v < chain; ++v) m.mesh.vertices.insert(m.mesh.vertices.end(), {0, 0, 1});
  m.mesh.vertices.insert(m.mesh.vertices.end(), {1, 0, 1, 0, 1, 1, 5, 5, 1});
  m.mesh.numFaces = 2;
  m.mesh.faces = {entry, chain + 1, chain + 2, chain + 1, chain + 3, chain + 2};
  m.Kn = 1;
  m.vertexNbors.assign(chain + 3, 0);
  for (int32_t v = 0; v + 1 < chain; ++v) m.vertexNbors[v] = v + 2;
  m.Kf = 2;
  m.VertexFaces.assign(2 * (chain + 3), 0);
  m.VertexFaces[0] = 2;
  m.VertexFaces[2 * (entry - 1)] = 1;
  auto r = locate(m, {0.1f, 0.1f, 1.0f}, {1});
  face = r.faces[0];
  vertex = r.vertices[0];
  printed = r.diagnostics.printed;
  return r.report;
}

TEST(FindFaces, FaceFoundAtTheLastAllowedEntryCounts) {
  int32_t face, vertex;
  std::string printed;
  const auto report = chain_walk(99999, face, vertex, printed);
  EXPECT_EQ(face, 1);
  EXPECT_EQ(vertex, 99999);
  EXPECT_EQ(report.failedPoints, 0);
  EXPECT_EQ(printed, "");
}

TEST(FindFaces, FaceFoundAtTheHundredThousandthEntryIsDiscarded) {
  int32_t face, vertex;
  std::string printed;
  const auto report = chain_walk(100000, face, vertex, printed);
  EXPECT_EQ(face, 2) << "the seed's first listed face";
  EXPECT_EQ(vertex, 1);
  EXPECT_EQ(report.failedPoints, 1);
  EXPECT_EQ(printed, "1 number of vertices exceed the max number of trials\n");
}

TEST(FindFaces, PointsWithoutAFaceGetTheFallbackAndOneCountMessage) {
  LocatedMesh m = tulm_test::with_tables(tulm_test::octahedron());
  m.VertexFaces.assign(m.VertexFaces.size(), 0);
  const auto r = locate(m, {0.5f, 0.3f, 0.2f, -0.5f, -0.3f, -0.2f}, {5, 2});
  EXPECT_EQ(r.faces, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(r.vertices, (std::vector<int32_t>{5, 2}));
  EXPECT_EQ(r.report.failedPoints, 2);
  EXPECT_EQ(r.report.entries, 200000);
  EXPECT_EQ(r.diagnostics.printed, "2 number of vertices exceed the max number of trials\n");
}

// Points well inside random faces of an icosphere, moved along their ray, seeded two rings
// away: the face is known by construction and the nearest corner by a double computation.
TEST(FindFaces, RandomPointsMatchTheirFacesByConstruction) {
  const LocatedMesh m = tulm_test::with_tables(tulm_test::icosphere(4));
  const auto& mesh = m.mesh;
  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(0, 1);
  const int32_t N = 2000;
  std::vector<float> points(3 * N);
  std::vector<int32_t> seeds(N), expectedFace(N), expectedVertex(N);
  for (int32_t i = 0; i < N; ++i) {
    const int32_t f = static_cast<int32_t>(random() % mesh.numFaces);
    double w[3];
    double total = 0;
    for (double& x : w) total += (x = 0.15 + unit(random));
    const double scale = 0.8 + 0.4 * unit(random);
    const int32_t* corner = &mesh.faces[3 * f];
    for (int k = 0; k < 3; ++k) {
      double c = 0;
      for (int j = 0; j < 3; ++j) c += w[j] / total * mesh.vertices[3 * (corner[j] - 1) + k];
      points[3 * i + k] = static_cast<float>(scale * c);
    }
    double best = 1e30;
    for (int j = 0; j < 3; ++j) {
      double d = 0;
      for (int k = 0; k < 3; ++k) {
        const double diff = double(points[3 * i + k]) - mesh.vertices[3 * (corner[j] - 1) + k];
        d += diff * diff;
      }
      if (d < best) best = d, expectedVertex[i] = corner[j];
    }
    expectedFace[i] = f + 1;
    int32_t seed = corner[random() % 3];
    for (int ring = 0; ring < 2; ++ring) seed = m.vertexNbors[(seed - 1) * m.Kn + random() % 5];
    seeds[i] = seed;
  }
  const auto r = locate(m, points, seeds);
  EXPECT_EQ(r.faces, expectedFace);
  EXPECT_EQ(r.vertices, expectedVertex);
  EXPECT_EQ(r.report.failedPoints, 0);
  EXPECT_EQ(r.diagnostics.printed, "");
}

}  // namespace
