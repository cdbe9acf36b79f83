// TULM_findFaceAux and TULM_findNearestVertex through the stand-in host: the checks in their
// order, the output slots, and what reaches the command window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "location_fixtures.h"

using mexhost::Array;
using mexhost::call;
using mexhost::int32_array;
using mexhost::single_array;

namespace {

const char* const kFindFace = "TULM_findFaceAux";
const char* const kNearest = "TULM_findNearestVertex";

struct Inputs {
  Array points, vertices, faces, vertexNbors, VertexFaces, seeds;
};

// The octahedron with its tables and one point in face 1, seeded at vertex 1.
Inputs octahedron_inputs() {
  const auto m = tulm_test::with_tables(tulm_test::octahedron());
  return {single_array({3, 1}, {0.5f, 0.3f, 0.2f}),
          single_array({3, 6}, m.mesh.vertices),
          int32_array({3, 8}, m.mesh.faces),
          int32_array({size_t(m.Kn), 6}, m.vertexNbors),
          int32_array({size_t(m.Kf), 6}, m.VertexFaces),
          int32_array({1, 1}, {1})};
}

std::vector<Array> find_face_args(const Inputs& in) {
  return {in.points, in.vertices, in.faces, in.vertexNbors, in.VertexFaces, in.seeds};
}

std::vector<Array> nearest_args(const Inputs& in) {
  return {in.points, in.vertices, in.vertexNbors, in.seeds};
}

TEST(FindFaceAux, ReturnsFaceAndCornerAsInt32Rows) {
  const auto result = call(kFindFace, 2, find_face_args(octahedron_inputs()));
  ASSERT_FALSE(result.failed) << result.error;
  EXPECT_EQ(result.outputs[0].class_id(), mxINT32_CLASS);
  EXPECT_EQ(result.outputs[0].dims(), (std::vector<size_t>{1, 1}));
  EXPECT_EQ(result.outputs[0].values<int32_t>(), std::vector<int32_t>{1});
  EXPECT_EQ(result.outputs[1].values<int32_t>(), std::vector<int32_t>{1});
  EXPECT_TRUE(result.inputs_intact);
  EXPECT_TRUE(result.guards_intact);
}

TEST(LocationOutputs, OnlyTheSlotsThatExistAreFilled) {
  const Inputs in = octahedron_inputs();
  for (int nlhs : {0, 1}) {
    for (const char* plugin : {kFindFace, kNearest}) {
      const auto result =
          call(plugin, nlhs, plugin == kFindFace ? find_face_args(in) : nearest_args(in));
      ASSERT_FALSE(result.failed) << result.error;
      ASSERT_EQ(result.outputs.size(), 1u);
      EXPECT_EQ(result.outputs[0].values<int32_t>(), std::vector<int32_t>{1}) << plugin;
      EXPECT_TRUE(result.guards_intact) << plugin;
    }
  }
}

TEST(LocationOutputs, NoPointsGiveEmptyRowsAndNoText) {
  Inputs in = octahedron_inputs();
  in.points = single_array({3, 0});
  in.seeds = int32_array({1, 0});
  const auto faces = call(kFindFace, 2, find_face_args(in));
  ASSERT_FALSE(faces.failed) << faces.error;
  EXPECT_EQ(faces.outputs[0].dims(), (std::vector<size_t>{1, 0}));
  EXPECT_EQ(faces.outputs[1].dims(), (std::vector<size_t>{1, 0}));
  EXPECT_EQ(faces.printed, "");
  const auto nearest = call(kNearest, 2, nearest_args(in));
  ASSERT_FALSE(nearest.failed) << nearest.error;
  EXPECT_EQ(nearest.outputs[0].class_id(), mxINT32_CLASS);
  EXPECT_EQ(nearest.outputs[1].class_id(), mxSINGLE_CLASS);
  EXPECT_EQ(nearest.outputs[1].dims(), (std::vector<size_t>{1, 0}));
}

TEST(FindFaceAux, CountMessageAndWarningsReachTheHost) {
  Inputs in = octahedron_inputs();
  // Face 9 names vertex 1 twice (a zero normal) and is the only face vertex 1 lists; no
  // other vertex lists a face, so the walk ends at the visit limit.
  auto m = tulm_test::with_tables(tulm_test::octahedron());
  m.mesh.faces.insert(m.mesh.faces.end(), {1, 1, 3});
  std::vector<int32_t> vf(m.VertexFaces.size(), 0);
  vf[0] = 9;
  in.faces = int32_array({3, 9}, m.mesh.faces);
  in.VertexFaces = int32_array({size_t(m.Kf), 6}, vf);
  in.points = single_array({3, 1}, {0.5f, 0.3f, 0.2f});
  const auto result = call(kFindFace, 2, find_face_args(in));
  ASSERT_FALSE(result.failed) << result.error;
  EXPECT_EQ(result.printed, "1 number of vertices exceed the max number of trials\n");
  ASSERT_FALSE(result.warnings.empty());
  EXPECT_EQ(result.warnings[0], "Normal equal to zero! But should be ok.");
  EXPECT_EQ(result.outputs[0].values<int32_t>(), std::vector<int32_t>{9});
  EXPECT_EQ(result.outputs[1].values<int32_t>(), std::vector<int32_t>{1});
}

struct ErrorCase {
  const char* name;
  const char* plugin;
  void (*spoil)(Inputs&);
  int nrhs;  // 0: all inputs
  const char* message;
};

class LocationErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(LocationErrors, EndTheCallWithTheMessage) {
  const ErrorCase& c = GetParam();
  Inputs in = octahedron_inputs();
  c.spoil(in);
  std::vector<Array> args = c.plugin == kFindFace ? find_face_args(in) : nearest_args(in);
  if (c.nrhs > 0) args.resize(c.nrhs);
  const auto result = call(c.plugin, 2, args);
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.error, c.message);
}

void keep(Inputs&) {}

INSTANTIATE_TEST_SUITE_P(
    Checks, LocationErrors,
    testing::Values(
        ErrorCase{"FindFaceTooFewInputs", kFindFace, keep, 5,
                  "Six inputs required: points, vertices, faces, vertexNbors, VertexFaces, "
                  "seedVertices (got 5)"},
        ErrorCase{"NearestTooFewInputs", kNearest, keep, 1,
                  "Four inputs required: points, vertices, vertexNbors, seedVertices (got 1)"},
        // The documented checks, in order: the point rows first, whatever else is wrong.
        ErrorCase{"FindFacePointRows", kFindFace,
                  [](Inputs& in) {
                    in.points = single_array({4, 1});
                    in.vertexNbors = int32_array({4, 5});
                  },
                  0, "Point should be three dimensional!"},
        ErrorCase{"NearestPointRows", kNearest,
                  [](Inputs& in) {
                    in.points = single_array({2, 1});
                  },
                  0, "Point should be three dimensional!"},
        ErrorCase{"FindFaceNeighbourColumns", kFindFace,
                  [](Inputs& in) {
                    in.vertexNbors = int32_array({4, 5});
                  },
                  0, "Inconsistent number of vertices!"},
        ErrorCase{"FindFaceFacesOfVertexColumns", kFindFace,
                  [](Inputs& in) {
                    in.VertexFaces = int32_array({4, 7});
                  },
                  0, "Inconsistent number of vertices!"},
        ErrorCase{"NearestNeighbourColumns", kNearest,
                  [](Inputs& in) {
                    in.vertexNbors = int32_array({4, 5});
                  },
                  0, "Inconsistent number of vertices!"},
        ErrorCase{"FindFaceSeedCount", kFindFace,
                  [](Inputs& in) {
                    in.seeds = int32_array({1, 2}, {1, 1});
                  },
                  0, "Numof points and number of seedVertices should be the same!"},
        ErrorCase{"NearestSeedCount", kNearest,
                  [](Inputs& in) {
                    in.seeds = int32_array({1, 2}, {1, 1});
                  },
                  0, "Number of poitns should be the same as # of seedVertices!"},
        // Then the safety checks.
        ErrorCase{"PointsOfAnotherClass", kFindFace,
                  [](Inputs& in) {
                    in.points = mexhost::double_array({3, 1});
                  },
                  0, "points must be a single matrix (got double)"},
        ErrorCase{"FacesOfAnotherClass", kFindFace,
                  [](Inputs& in) {
                    in.faces = mexhost::double_array({3, 8});
                  },
                  0, "faces must be an int32 matrix (got double)"},
        ErrorCase{"SeedsOfAnotherClass", kNearest,
                  [](Inputs& in) {
                    in.seeds = mexhost::double_array({1, 1}, {1});
                  },
                  0, "seedVertices must be an int32 matrix (got double)"},
        ErrorCase{"VertexRows", kNearest,
                  [](Inputs& in) {
                    in.vertices = single_array({4, 6});
                  },
                  0, "vertices must have 3 rows (got 4 x 6)"},
        ErrorCase{"FaceRows", kFindFace,
                  [](Inputs& in) {
                    in.faces = int32_array({2, 8});
                  },
                  0, "faces must have 3 rows (got 2 x 8)"},
        ErrorCase{"SeedsWithoutRows", kFindFace,
                  [](Inputs& in) {
                    in.seeds = int32_array({0, 1});
                  },
                  0, "seedVertices must be at least 1 x 1 (got 0 x 1)"},
        ErrorCase{"NearestWithoutVertices", kNearest,
                  [](Inputs& in) {
                    in.vertices = single_array({3, 0});
                    in.vertexNbors = int32_array({4, 0});
                  },
                  0, "vertices must be at least 3 x 1 (got 3 x 0)"},
        // Indices, where they are read.
        ErrorCase{"FindFaceSeedZero", kFindFace,
                  [](Inputs& in) {
                    in.seeds = int32_array({1, 1}, {0});
                  },
                  0, "seedVertices holds 0 at (1, 1), outside 1..6"},
        ErrorCase{"NearestSeedAboveV", kNearest,
                  [](Inputs& in) {
                    in.seeds = int32_array({1, 1}, {7});
                  },
                  0, "seedVertices holds 7 at (1, 1), outside 1..6"},
        ErrorCase{"FaceCorner", kFindFace,
                  [](Inputs& in) {
                    auto faces = tulm_test::octahedron().faces;
                    faces[1] = 9;
                    in.faces = int32_array({3, 8}, faces);
                  },
                  0, "faces holds 9 at (2, 1), outside 1..6"},
        ErrorCase{"FacesOfVertexNegative", kFindFace,
                  [](Inputs& in) {
                    in.VertexFaces = int32_array({1, 6}, {-2, 1, 1, 1, 1, 1});
                  },
                  0, "VertexFaces holds -2 at (1, 1), outside 0..8"},
        ErrorCase{"FindFaceNeighbourAboveV", kFindFace,
                  [](Inputs& in) {
                    in.VertexFaces = int32_array({1, 6});  // no faces: the walk goes on
                    in.vertexNbors = int32_array({1, 6}, {7, 1, 1, 1, 1, 1});
                  },
                  0, "vertexNbors holds 7 at (1, 1), outside 0..6"},
        ErrorCase{"NearestNeighbourAboveV", kNearest,
                  [](Inputs& in) {
                    in.vertexNbors = int32_array({2, 6}, {3, 12});
                  },
                  0, "vertexNbors holds 12 at (2, 1), outside 0..6"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

// A rotated icosphere through both plug-ins, as the demo runs it: good seeds need no random
// restart, so the clock never decides a result.
TEST(LocationPipeline, RotatedIcosphereThroughBothPlugins) {
  const auto m = tulm_test::with_tables(tulm_test::icosphere(3));
  const double axis[3] = {0.0, 0.6, 0.8};
  const int32_t V = m.mesh.numVerts;
  const std::vector<float> moved = tulm_test::rotated(m.mesh.vertices, axis, 0.03);
  std::vector<int32_t> seeds(V);
  for (int32_t v = 0; v < V; ++v) seeds[v] = v + 1;
  const Array points = single_array({3, size_t(V)}, moved);
  const Array vertices = single_array({3, size_t(V)}, m.mesh.vertices);
  const Array nbors = int32_array({size_t(m.Kn), size_t(V)}, m.vertexNbors);
  const auto nearest =
      call(kNearest, 2, {points, vertices, nbors, int32_array({1, size_t(V)}, seeds)});
  ASSERT_FALSE(nearest.failed) << nearest.error;
  EXPECT_EQ(nearest.printed, "");
  const auto found =
      call(kFindFace, 2,
           {points, vertices, int32_array({3, size_t(m.mesh.numFaces)}, m.mesh.faces), nbors,
            int32_array({size_t(m.Kf), size_t(V)}, m.VertexFaces), nearest.outputs[0]});
  ASSERT_FALSE(found.failed) << found.error;
  EXPECT_EQ(found.printed, "");
  const std::vector<int32_t> faces = found.outputs[0].values<int32_t>();
  const std::vector<int32_t> corners = found.outputs[1].values<int32_t>();
  const std::vector<int32_t> near = nearest.outputs[0].values<int32_t>();
  for (int32_t i = 0; i < V; ++i) {
    const int32_t* f = &m.mesh.faces[3 * (faces[i] - 1)];
    EXPECT_TRUE(f[0] == corners[i] || f[1] == corners[i] || f[2] == corners[i]) << i;
    EXPECT_EQ(corners[i], near[i]) << "the nearest corner is the nearest vertex, point " << i;
  }
}

}  // namespace
