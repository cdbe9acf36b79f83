// Every routine that shares its work among threads, at one, two and seven threads: the measures,
// the fold penalties, face location and the two tables give the same bits and the same messages,
// and the same message when a worker meets a bad index.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/connectivity/TULM_convertFaces2FacesOfVert.h"
#include "core/connectivity/TULM_convertFaces2VertNbors.h"
#include "core/folding/TULM_computeAreaChangePenaltyGrad.h"
#include "core/folding/TULM_computeFoldPenalty.h"
#include "core/folding/TULM_computeFoldPenaltyGrad.h"
#include "core/location/TULM_findFaceAux.h"
#include "core/measures/TULM_calculateSurfaceArea.h"
#include "core/measures/TULM_computeDiffDataVertex2Nbors.h"
#include "core/measures/TULM_computeMeshFaceAreas.h"
#include "core/measures/TULM_computeVertexDistSq2Nbors.h"
#include "core/measures/TULM_gaussianSmoothVertexData.h"
#include "core/parallel.h"
#include "environment.h"
#include "harness.h"
#include "icosphere.h"

using mexhost::Array;
using mexhost::call;
using mexhost::int32_array;
using mexhost::single_array;
using tulm_test::set_environment;

namespace {

class MeshThreads : public testing::Test {
 protected:
  void TearDown() override {
    tulm::set_thread_count(0);
    ASSERT_EQ(set_environment("TULM_NUM_THREADS", ""), 0);
  }
};

// The icosphere subdivided 7 times, large enough for 7 threads in every routine below, with
// its vertices jittered so that a few percent of the faces flip (the measures take these), its
// faces reversed (every face flipped), its two tables, data on its vertices, and points near its
// vertices to locate. Two faces, one met
// by the first points and one by the last, are made degenerate, so that locating warns early
// and late in the call.
struct Mesh {
  tulm_test::Mesh mesh;
  std::vector<int32_t> rowFaces;     // F x 3
  std::vector<float> jittered;       // 3 x V
  std::vector<float> rowJittered;    // V x 3
  std::vector<int32_t> reversed;     // 3 x F
  std::vector<int32_t> vertexFaces;  // Kf x V
  int32_t Kf = 0;
  std::vector<int32_t> vertexNbors;  // Kn x V
  int32_t Kn = 0;
  std::vector<float> originalAreas;   // F
  std::vector<float> data3;           // 3 x V
  std::vector<float> points;          // 3 x V
  std::vector<int32_t> seeds;         // V
  std::vector<int32_t> locatedFaces;  // 3 x F, with the two degenerate faces
};

template <class Build>
std::vector<int32_t> column_table(const Mesh& m, Build build, int32_t& K) {
  std::vector<int32_t> rowTable;
  build(m.rowFaces.data(), m.mesh.numFaces, m.mesh.numVerts, [&](int32_t k) {
    K = k;
    rowTable.assign(size_t(k) * m.mesh.numVerts, 0);
    return rowTable.data();
  });
  return tulm_test::transposed(rowTable, m.mesh.numVerts, K);
}

const Mesh& big_mesh() {
  static const Mesh big = [] {
    Mesh m;
    m.mesh = tulm_test::icosphere(7);
    const int32_t V = m.mesh.numVerts, F = m.mesh.numFaces;
    m.rowFaces = tulm_test::transposed(m.mesh.faces, 3, F);
    m.vertexFaces = column_table(m, tulm::TULM_convertFaces2FacesOfVert, m.Kf);
    m.vertexNbors = column_table(m, tulm::TULM_convertFaces2VertNbors, m.Kn);
    std::mt19937 random(5);
    std::normal_distribution<float> normal(0.0f, 0.003f);
    m.jittered = m.mesh.vertices;
    for (float& x : m.jittered) x += normal(random);
    m.rowJittered = tulm_test::transposed(m.jittered, 3, V);
    m.reversed = m.mesh.faces;
    for (int32_t f = 0; f < F; ++f) std::swap(m.reversed[3 * f + 1], m.reversed[3 * f + 2]);
    m.originalAreas.resize(F);
    for (float& a : m.originalAreas) a = std::abs(normal(random));
    m.data3.resize(3 * size_t(V));
    for (float& x : m.data3) x = normal(random) * 300.0f;
    // Each vertex turned a little about the z axis, seeded at itself.
    m.points.resize(3 * size_t(V));
    m.seeds.resize(V);
    for (int32_t v = 0; v < V; ++v) {
      const float* p = &m.mesh.vertices[3 * size_t(v)];
      m.points[3 * v] = p[0] * 0.99996f - p[1] * 0.00894f;
      m.points[3 * v + 1] = p[0] * 0.00894f + p[1] * 0.99996f;
      m.points[3 * v + 2] = p[2];
      m.seeds[v] = v + 1;
    }
    m.locatedFaces = m.mesh.faces;
    for (int32_t v : {20, V - 20}) {
      const int32_t f = m.vertexFaces[size_t(m.Kf) * v] - 1;
      m.locatedFaces[3 * f + 2] = m.locatedFaces[3 * f + 1];  // two corners alike: no normal
    }
    return m;
  }();
  return big;
}

tulm::FoldMesh fold_mesh(const Mesh& m, const std::vector<float>& vertices,
                         const std::vector<int32_t>& faces) {
  return {vertices.data(), m.mesh.numVerts,      faces.data(),
          m.mesh.numFaces, m.vertexFaces.data(), m.Kf};
}

// Every output of a call as its bits, and every message.
struct Outcome {
  std::vector<uint32_t> bits;
  std::string messages;

  void add(const void* data, size_t bytes) {
    const size_t at = bits.size();
    bits.resize(at + bytes / 4);
    std::memcpy(bits.data() + at, data, bytes);
  }
  bool operator==(const Outcome& other) const {
    return bits == other.bits && messages == other.messages;
  }
};

Outcome fold_gradient(const Mesh& m, const std::vector<float>& vertices,
                      const std::vector<int32_t>& faces) {
  Outcome out;
  float P = 0.0f;
  std::vector<float> G(3 * size_t(m.mesh.numVerts));
  tulm::TULM_computeFoldPenaltyGrad(fold_mesh(m, vertices, faces), 0.01f, &P, G.data());
  out.add(&P, sizeof P);
  out.add(G.data(), G.size() * sizeof(float));
  return out;
}

Outcome floats(const std::vector<float>& values) {
  Outcome out;
  out.add(values.data(), values.size() * sizeof(float));
  return out;
}

Outcome smoothed(const Mesh& m, int32_t D) {
  std::vector<float> out(D * size_t(m.mesh.numVerts));
  tulm::TULM_gaussianSmoothVertexData(m.jittered.data(), m.mesh.numVerts, m.vertexNbors.data(),
                                      m.Kn, m.data3.data(), D, 1e-4f, out.data());
  return floats(out);
}

template <class Build>
Outcome table(const Mesh& m, Build build) {
  Outcome out;
  std::vector<int32_t> K;
  std::vector<int32_t> table;
  build(m.rowFaces.data(), m.mesh.numFaces, m.mesh.numVerts, [&](int32_t k) {
    K.push_back(k);
    table.assign(size_t(k) * m.mesh.numVerts, 0);
    return table.data();
  });
  out.add(K.data(), K.size() * sizeof(int32_t));
  out.add(table.data(), table.size() * sizeof(int32_t));
  return out;
}

struct Routine {
  const char* name;
  std::function<Outcome(const Mesh&)> run;
};

const Routine kRoutines[] = {
    {"TULM_calculateSurfaceArea",
     [](const Mesh& m) {
       return floats({tulm::TULM_calculateSurfaceArea(m.rowJittered.data(), m.mesh.numVerts,
                                                      m.rowFaces.data(), m.mesh.numFaces)});
     }},
    {"TULM_computeMeshFaceAreas",
     [](const Mesh& m) {
       std::vector<float> areas(m.mesh.numFaces);
       tulm::TULM_computeMeshFaceAreas(m.mesh.numFaces, m.mesh.faces.data(), m.jittered.data(),
                                       m.mesh.numVerts, areas.data());
       return floats(areas);
     }},
    {"TULM_computeVertexDistSq2Nbors",
     [](const Mesh& m) {
       std::vector<float> distSq(size_t(m.Kn) * m.mesh.numVerts);
       tulm::TULM_computeVertexDistSq2Nbors(m.Kn, m.mesh.numVerts, m.vertexNbors.data(),
                                            m.jittered.data(), distSq.data());
       return floats(distSq);
     }},
    {"TULM_computeDiffDataVertex2Nbors",
     [](const Mesh& m) {
       std::vector<float> diffs(3 * size_t(m.Kn) * m.mesh.numVerts);
       tulm::TULM_computeDiffDataVertex2Nbors(m.Kn, m.mesh.numVerts, 3, m.vertexNbors.data(),
                                              m.data3.data(), diffs.data());
       return floats(diffs);
     }},
    {"TULM_gaussianSmoothVertexData D=1", [](const Mesh& m) { return smoothed(m, 1); }},
    {"TULM_gaussianSmoothVertexData D=3", [](const Mesh& m) { return smoothed(m, 3); }},
    {"TULM_computeFoldPenalty",
     [](const Mesh& m) {
       Outcome out;
       float P = 0.0f;
       tulm::TULM_computeFoldPenalty(fold_mesh(m, m.jittered, m.mesh.faces), 0.01f, &P);
       out.add(&P, sizeof P);
       return out;
     }},
    {"TULM_computeFoldPenaltyGrad, a few flipped",
     [](const Mesh& m) { return fold_gradient(m, m.jittered, m.mesh.faces); }},
    {"TULM_computeFoldPenaltyGrad, all flipped",
     [](const Mesh& m) { return fold_gradient(m, m.mesh.vertices, m.reversed); }},
    {"TULM_computeAreaChangePenaltyGrad",
     [](const Mesh& m) {
       Outcome out;
       float P = 0.0f;
       std::vector<float> G(3 * size_t(m.mesh.numVerts));
       tulm::TULM_computeAreaChangePenaltyGrad(fold_mesh(m, m.jittered, m.mesh.faces),
                                               m.originalAreas.data(), &P, G.data());
       out.add(&P, sizeof P);
       out.add(G.data(), G.size() * sizeof(float));
       return out;
     }},
    {"TULM_findFaces",
     [](const Mesh& m) {
       Outcome out;
       const int32_t V = m.mesh.numVerts;
       std::vector<int32_t> faces(V), vertices(V);
       tulm::CapturedDiagnostics diagnostics;
       tulm::TULM_findFaces(m.points.data(), V, m.mesh.vertices.data(), V, m.locatedFaces.data(),
                            m.mesh.numFaces, m.vertexNbors.data(), m.Kn, m.vertexFaces.data(), m.Kf,
                            m.seeds.data(), faces.data(), vertices.data(), diagnostics);
       out.add(faces.data(), faces.size() * sizeof(int32_t));
       out.add(vertices.data(), vertices.size() * sizeof(int32_t));
       out.messages = diagnostics.printed;
       for (const std::string& warning : diagnostics.warnings) out.messages += "|" + warning;
       return out;
     }},
    {"TULM_convertFaces2VertNbors",
     [](const Mesh& m) { return table(m, tulm::TULM_convertFaces2VertNbors); }},
    {"TULM_convertFaces2FacesOfVert",
     [](const Mesh& m) { return table(m, tulm::TULM_convertFaces2FacesOfVert); }},
};

TEST_F(MeshThreads, SameBitsAndMessagesAtOneTwoAndSevenThreads) {
  const Mesh& m = big_mesh();
  for (const Routine& routine : kRoutines) {
    tulm::set_thread_count(1);
    const Outcome single = routine.run(m);
    for (int threads : {2, 7}) {
      tulm::set_thread_count(threads);
      EXPECT_TRUE(routine.run(m) == single) << routine.name << " at " << threads << " threads";
    }
  }
}

// Vertex 1 is named 225 times in the first half of the faces and 112 times in the second:
// fewer than 256 in either half, more than 255 in all. Threads that count the halves apart must
// see that the sum no longer fits a one-byte count.
TEST_F(MeshThreads, CornerCountsThatPassOneByteOnlyTogetherKeepEveryFace) {
  const int32_t F = 90000, V = 3000;
  std::vector<int32_t> rowFaces(3 * size_t(F));
  for (int32_t i = 0; i < F; ++i) {
    const bool busy = (i < F / 2 && i % 200 == 0) || (i >= F / 2 && i % 400 == 0);
    for (int32_t j = 0; j < 3; ++j) {
      rowFaces[i + j * size_t(F)] = busy && j == 0 ? 1 : 2 + (3 * i + j) % (V - 1);
    }
  }
  std::vector<int32_t> busyFaces;
  for (int32_t i = 0; i < F; ++i) {
    if (rowFaces[i] == 1) busyFaces.push_back(i + 1);
  }
  ASSERT_EQ(busyFaces.size(), 337u);
  for (int threads : {1, 2, 7}) {
    tulm::set_thread_count(threads);
    int32_t K = 0;
    std::vector<int32_t> table;
    tulm::TULM_convertFaces2FacesOfVert(rowFaces.data(), F, V, [&](int32_t k) {
      K = k;
      table.assign(size_t(k) * V, 0);
      return table.data();
    });
    ASSERT_EQ(K, 337) << threads << " threads";
    std::vector<int32_t> row;
    for (int32_t k = 0; k < K; ++k) row.push_back(table[size_t(k) * V]);
    EXPECT_EQ(row, busyFaces) << threads << " threads";
  }
}

TEST_F(MeshThreads, TheMeshExercisesWhatItShould) {
  const Mesh& m = big_mesh();
  tulm::set_thread_count(1);
  const int32_t V = m.mesh.numVerts;
  std::vector<int32_t> faces(V), vertices(V);
  tulm::CapturedDiagnostics diagnostics;
  tulm::TULM_findFaces(m.points.data(), V, m.mesh.vertices.data(), V, m.locatedFaces.data(),
                       m.mesh.numFaces, m.vertexNbors.data(), m.Kn, m.vertexFaces.data(), m.Kf,
                       m.seeds.data(), faces.data(), vertices.data(), diagnostics);
  EXPECT_GE(diagnostics.warnings.size(), 2u) << "warnings early in the points and late";
  for (const std::string& warning : diagnostics.warnings) {
    EXPECT_EQ(warning, "Normal equal to zero! But should be ok.");
  }
  float P = 0.0f;
  std::vector<float> G(3 * size_t(m.mesh.numVerts));
  tulm::TULM_computeFoldPenaltyGrad(fold_mesh(m, m.jittered, m.mesh.faces), 0.01f, &P, G.data());
  EXPECT_GT(P, 0.0f) << "some faces flipped";
}

// A plug-in call on the big mesh with one bad entry three quarters in and one at the end.
struct BadIndexCase {
  const char* plugin;
  int outputs;
  bool warns;  // warnings come before the message
  std::function<std::vector<Array>(const Mesh&)> inputs;
  std::function<std::string(const Mesh&)> message;
};

Array column_vertices(const Mesh& m, const std::vector<float>& vertices) {
  return single_array({3, size_t(m.mesh.numVerts)}, vertices);
}
Array column_faces(const Mesh& m, const std::vector<int32_t>& faces) {
  return int32_array({3, size_t(m.mesh.numFaces)}, faces);
}
Array vertex_faces(const Mesh& m, const std::vector<int32_t>& table) {
  return int32_array({size_t(m.Kf), size_t(m.mesh.numVerts)}, table);
}

Array with_bad_neighbours(const Mesh& m) {
  std::vector<int32_t> nbors = m.vertexNbors;
  const int32_t V = m.mesh.numVerts;
  nbors[size_t(m.Kn) * (V / 4 * 3)] = V + 5;
  nbors[size_t(m.Kn) * (V - 1)] = V + 6;
  return int32_array({size_t(m.Kn), size_t(V)}, nbors);
}
std::string bad_neighbour_message(const Mesh& m) {
  const int32_t V = m.mesh.numVerts;
  return "vertexNbors holds " + std::to_string(V + 5) + " at (1, " + std::to_string(V / 4 * 3 + 1) +
         "), outside 0.." + std::to_string(V);
}

std::vector<int32_t> with_bad_corners(const Mesh& m) {
  std::vector<int32_t> faces = m.mesh.faces;
  const int32_t F = m.mesh.numFaces;
  faces[3 * size_t(F / 4 * 3) + 1] = m.mesh.numVerts + 3;
  faces[3 * size_t(F - 1)] = 0;
  return faces;
}
std::string bad_corner_message(const Mesh& m) {
  return "faces holds " + std::to_string(m.mesh.numVerts + 3) + " at (2, " +
         std::to_string(m.mesh.numFaces / 4 * 3 + 1) + "), outside 1.." +
         std::to_string(m.mesh.numVerts);
}

std::vector<int32_t> with_bad_faces_of_vertex(const Mesh& m) {
  std::vector<int32_t> table = m.vertexFaces;
  const int32_t V = m.mesh.numVerts;
  table[size_t(m.Kf) * (V / 4 * 3) + 1] = m.mesh.numFaces + 2;
  table[size_t(m.Kf) * (V - 1)] = m.mesh.numFaces + 9;
  return table;
}
std::string bad_faces_of_vertex_message(const Mesh& m) {
  return "VertexFaces holds " + std::to_string(m.mesh.numFaces + 2) + " at (2, " +
         std::to_string(m.mesh.numVerts / 4 * 3 + 1) + "), outside 0.." +
         std::to_string(m.mesh.numFaces);
}

std::vector<Array> with_bad_corners_in_two_columns(const Mesh& m) {
  const int32_t F = m.mesh.numFaces;
  std::vector<int32_t> rowFaces = m.rowFaces;
  rowFaces[10 + 2 * size_t(F)] = m.mesh.numVerts + 5;
  rowFaces[F / 4 * 3] = -1;
  return {int32_array({size_t(F), 3}, rowFaces), mexhost::int32_scalar(m.mesh.numVerts)};
}
std::string bad_first_column_message(const Mesh& m) {
  return "faces holds -1 at (" + std::to_string(m.mesh.numFaces / 4 * 3 + 1) + ", 1), outside 1.." +
         std::to_string(m.mesh.numVerts);
}

const BadIndexCase kBadIndexCases[] = {
    {"TULM_calculateSurfaceArea", 1, false,
     [](const Mesh& m) {
       const int32_t F = m.mesh.numFaces;
       std::vector<int32_t> faces = m.rowFaces;
       faces[F / 4 * 3] = 0;
       faces[F - 1] = -1;
       return std::vector<Array>{single_array({size_t(m.mesh.numVerts), 3}, m.rowJittered),
                                 int32_array({size_t(F), 3}, faces)};
     },
     [](const Mesh& m) {
       return "faces holds 0 at (" + std::to_string(m.mesh.numFaces / 4 * 3 + 1) +
              ", 1), outside 1.." + std::to_string(m.mesh.numVerts);
     }},
    {"TULM_computeMeshFaceAreas", 1, false,
     [](const Mesh& m) {
       const int32_t F = m.mesh.numFaces;
       std::vector<int32_t> faces = m.mesh.faces;
       faces[3 * (F / 4 * 3) + 2] = m.mesh.numVerts + 1;
       faces[3 * (F - 1)] = 0;
       return std::vector<Array>{mexhost::int32_scalar(F), column_faces(m, faces),
                                 column_vertices(m, m.jittered)};
     },
     [](const Mesh& m) {
       return "faces holds " + std::to_string(m.mesh.numVerts + 1) + " at (3, " +
              std::to_string(m.mesh.numFaces / 4 * 3 + 1) + "), outside 1.." +
              std::to_string(m.mesh.numVerts);
     }},
    {"TULM_computeVertexDistSq2Nbors", 1, false,
     [](const Mesh& m) {
       return std::vector<Array>{mexhost::int32_scalar(m.Kn),
                                 mexhost::int32_scalar(m.mesh.numVerts), with_bad_neighbours(m),
                                 column_vertices(m, m.jittered)};
     },
     bad_neighbour_message},
    {"TULM_computeDiffDataVertex2Nbors", 1, false,
     [](const Mesh& m) {
       return std::vector<Array>{mexhost::int32_scalar(m.Kn),
                                 mexhost::int32_scalar(m.mesh.numVerts), mexhost::int32_scalar(3),
                                 with_bad_neighbours(m), column_vertices(m, m.data3)};
     },
     bad_neighbour_message},
    {"TULM_gaussianSmoothVertexData", 1, false,
     [](const Mesh& m) {
       return std::vector<Array>{column_vertices(m, m.jittered), with_bad_neighbours(m),
                                 column_vertices(m, m.data3), mexhost::double_scalar(1e-4)};
     },
     bad_neighbour_message},
    {"TULM_computeFoldPenalty", 1, false,
     [](const Mesh& m) {
       return std::vector<Array>{column_vertices(m, m.jittered),
                                 column_faces(m, with_bad_corners(m)),
                                 vertex_faces(m, m.vertexFaces), mexhost::double_scalar(0.01)};
     },
     bad_corner_message},
    {"TULM_computeFoldPenaltyGrad", 2, false,
     [](const Mesh& m) {
       return std::vector<Array>{column_vertices(m, m.jittered),
                                 column_faces(m, with_bad_corners(m)),
                                 vertex_faces(m, m.vertexFaces), mexhost::double_scalar(0.01)};
     },
     bad_corner_message},
    {"TULM_computeFoldPenaltyGrad", 2, false,
     [](const Mesh& m) {
       return std::vector<Array>{column_vertices(m, m.mesh.vertices), column_faces(m, m.reversed),
                                 vertex_faces(m, with_bad_faces_of_vertex(m)),
                                 mexhost::double_scalar(0.01)};
     },
     bad_faces_of_vertex_message},
    {"TULM_findFaceAux", 2, true,
     [](const Mesh& m) {
       const int32_t V = m.mesh.numVerts;
       std::vector<int32_t> seeds = m.seeds;
       seeds[V / 4 * 3] = V + 4;
       seeds[V - 1] = 0;
       return std::vector<Array>{
           column_vertices(m, m.points),    column_vertices(m, m.mesh.vertices),
           column_faces(m, m.locatedFaces), int32_array({size_t(m.Kn), size_t(V)}, m.vertexNbors),
           vertex_faces(m, m.vertexFaces),  int32_array({1, size_t(V)}, seeds)};
     },
     [](const Mesh& m) {
       return "seedVertices holds " + std::to_string(m.mesh.numVerts + 4) + " at (1, " +
              std::to_string(m.mesh.numVerts / 4 * 3 + 1) + "), outside 1.." +
              std::to_string(m.mesh.numVerts);
     }},
    {"TULM_convertFaces2VertNbors", 1, false,
     [](const Mesh& m) {
       std::vector<int32_t> rowFaces = m.rowFaces;
       rowFaces[m.mesh.numFaces / 4 * 3] = -1;
       rowFaces[m.mesh.numFaces - 1] = m.mesh.numVerts + 1;
       return std::vector<Array>{int32_array({size_t(m.mesh.numFaces), 3}, rowFaces),
                                 mexhost::int32_scalar(m.mesh.numVerts)};
     },
     [](const Mesh& m) {
       return "faces holds -1 at (" + std::to_string(m.mesh.numFaces / 4 * 3 + 1) +
              ", 1), outside 1.." + std::to_string(m.mesh.numVerts);
     }},
    {"TULM_convertFaces2FacesOfVert", 1, false,
     [](const Mesh& m) {
       std::vector<int32_t> rowFaces = m.rowFaces;
       rowFaces[m.mesh.numFaces / 4 * 3] = -1;
       rowFaces[m.mesh.numFaces - 1] = m.mesh.numVerts + 1;
       return std::vector<Array>{int32_array({size_t(m.mesh.numFaces), 3}, rowFaces),
                                 mexhost::int32_scalar(m.mesh.numVerts)};
     },
     [](const Mesh& m) {
       return "faces holds -1 at (" + std::to_string(m.mesh.numFaces / 4 * 3 + 1) +
              ", 1), outside 1.." + std::to_string(m.mesh.numVerts);
     }},
    // One thread meets the third column's bad corner, early in the faces, before another
    // meets the first column's, late in them; one thread reading the columns in turn meets the
    // first column's first.
    {"TULM_convertFaces2FacesOfVert", 1, false, with_bad_corners_in_two_columns,
     bad_first_column_message},
    {"TULM_convertFaces2VertNbors", 1, false, with_bad_corners_in_two_columns,
     bad_first_column_message},
};

TEST_F(MeshThreads, BadIndexFoundByAWorkerEndsTheCallWithTheSingleThreadedMessage) {
  const Mesh& m = big_mesh();
  for (const BadIndexCase& c : kBadIndexCases) {
    const std::vector<Array> inputs = c.inputs(m);
    std::vector<std::string> warnings;
    for (const char* threads : {"1", "2", "7"}) {
      ASSERT_EQ(set_environment("TULM_NUM_THREADS", threads), 0);
      const auto result = call(c.plugin, c.outputs, inputs);
      EXPECT_TRUE(result.failed) << c.plugin << " at " << threads << " threads";
      EXPECT_EQ(result.error, c.message(m)) << c.plugin << " at " << threads << " threads";
      if (threads[0] == '1') {
        warnings = result.warnings;
        EXPECT_EQ(warnings.empty(), !c.warns) << c.plugin;
      }
      EXPECT_EQ(result.warnings, warnings) << c.plugin << " at " << threads << " threads";
    }
  }
}

}  // namespace
