// The measures computed four values at a time in lanes and by their scalar code: the same
// bits on meshes with values that round, cancel, overflow and are not numbers, and the same
// message at a bad index wherever it falls among four. Where the processor has no lanes both
// runs take the scalar code.
#include "core/measures/point_lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/measures/TULM_calculateSurfaceArea.h"
#include "core/measures/TULM_computeMeshFaceAreas.h"
#include "core/measures/TULM_computeVertexDistSq2Nbors.h"
#include "core/measures/TULM_gaussianSmoothVertexData.h"
#include "core/parallel.h"

namespace {

class PointLanes : public testing::Test {
 protected:
  void SetUp() override { tulm::set_thread_count(1); }
  void TearDown() override {
    tulm::set_point_lanes_enabled(true);
    tulm::set_thread_count(0);
  }
};

// A random mesh on V vertices whose coordinates mix ordinary values with ones that overflow
// when squared, vanish when squared, are infinite or NaN, and with repeated points (degenerate
// faces, zero distances); F faces of random corners; a K x V table with empty slots anywhere.
struct HardMesh {
  int32_t V, F, K;
  std::vector<float> columnVertices, rowVertices;  // 3 x V, V x 3
  std::vector<int32_t> columnFaces, rowFaces;      // 3 x F, F x 3
  std::vector<int32_t> nbors;                      // K x V
  std::vector<float> data;                         // 3 x V
};

HardMesh hard_mesh(int32_t V, int32_t F, int32_t K, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::uniform_int_distribution<int> kind(0, 19);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  HardMesh m{V, F, K, {}, {}, {}, {}, {}, {}};
  m.columnVertices.resize(3 * size_t(V));
  for (int32_t v = 0; v < V; ++v) {
    for (int c = 0; c < 3; ++c) {
      float x = unit(random);
      switch (kind(random)) {
        case 0: x *= 3e19f; break;   // squares overflow
        case 1: x *= 1e-30f; break;  // squares vanish
        case 2: x = inf; break;
        case 3: x = -nan; break;
        case 4: x = v > 0 ? m.columnVertices[3 * (v - 1) + c] : x; break;  // repeated
        case 5: x = 1.0f + x * 1e-7f; break;                               // cancels
        default: break;
      }
      m.columnVertices[3 * size_t(v) + c] = x;
    }
  }
  std::uniform_int_distribution<int32_t> vertex(1, V);
  m.columnFaces.resize(3 * size_t(F));
  for (int32_t& corner : m.columnFaces) corner = vertex(random);
  m.nbors.resize(size_t(K) * V);
  for (int32_t& n : m.nbors) n = kind(random) < 3 ? 0 : vertex(random);
  m.data.resize(3 * size_t(V));
  for (float& x : m.data) x = unit(random);
  m.rowVertices.resize(m.columnVertices.size());
  m.rowFaces.resize(m.columnFaces.size());
  for (int32_t v = 0; v < V; ++v) {
    for (int c = 0; c < 3; ++c) m.rowVertices[v + c * size_t(V)] = m.columnVertices[3 * v + c];
  }
  for (int32_t i = 0; i < F; ++i) {
    for (int c = 0; c < 3; ++c) m.rowFaces[i + c * size_t(F)] = m.columnFaces[3 * i + c];
  }
  return m;
}

struct Measure {
  const char* name;
  std::function<std::vector<float>(const HardMesh&)> run;
};

const Measure kMeasures[] = {
    {"face areas",
     [](const HardMesh& m) {
       std::vector<float> areas(m.F);
       tulm::TULM_computeMeshFaceAreas(m.F, m.columnFaces.data(), m.columnVertices.data(), m.V,
                                       areas.data());
       return areas;
     }},
    {"total area",
     [](const HardMesh& m) {
       return std::vector<float>{
           tulm::TULM_calculateSurfaceArea(m.rowVertices.data(), m.V, m.rowFaces.data(), m.F)};
     }},
    {"squared distances",
     [](const HardMesh& m) {
       std::vector<float> distSq(size_t(m.K) * m.V);
       tulm::TULM_computeVertexDistSq2Nbors(m.K, m.V, m.nbors.data(), m.columnVertices.data(),
                                            distSq.data());
       return distSq;
     }},
};

std::vector<uint32_t> bits(const std::vector<float>& values) {
  std::vector<uint32_t> out(values.size());
  if (!values.empty()) std::memcpy(out.data(), values.data(), values.size() * sizeof(float));
  return out;
}

std::vector<float> run_both_ways(const Measure& measure, const HardMesh& m,
                                 std::vector<float>* scalar) {
  tulm::set_point_lanes_enabled(false);
  *scalar = measure.run(m);
  tulm::set_point_lanes_enabled(true);
  return measure.run(m);
}

TEST_F(PointLanes, GiveTheScalarBitsOnHardValues) {
  // Sizes around multiples of four, and K below, at and above four.
  const struct {
    int32_t V, F, K;
  } sizes[] = {{1, 1, 1}, {5, 3, 3}, {9, 7, 4}, {33, 66, 6}, {100, 201, 7}, {1000, 2003, 9}};
  for (const auto& size : sizes) {
    for (unsigned seed : {1u, 2u, 3u}) {
      const HardMesh m = hard_mesh(size.V, size.F, size.K, seed);
      for (const Measure& measure : kMeasures) {
        std::vector<float> scalar;
        const std::vector<float> inLanes = run_both_ways(measure, m, &scalar);
        EXPECT_EQ(bits(inLanes), bits(scalar))
            << measure.name << ", V = " << size.V << ", F = " << size.F << ", K = " << size.K
            << ", seed " << seed;
      }
    }
  }
}

// The message of a call with one bad entry, with lanes or without.
std::string message(const std::function<void()>& call) {
  try {
    call();
  } catch (const tulm::Error& error) {
    return error.what();
  }
  return "no error";
}

TEST_F(PointLanes, BadIndexAnywhereAmongFourEndsTheCallAsTheScalarCodeDoes) {
  const HardMesh good = hard_mesh(50, 41, 5, 7);
  for (int32_t at = 30; at < 41; ++at) {  // every place among four, and the faces after them
    for (int32_t bad : {0, -3, 51}) {
      HardMesh m = good;
      m.columnFaces[3 * at + at % 3] = bad;
      m.rowFaces[at + (at % 3) * size_t(m.F)] = bad;
      m.nbors[at + 4] = bad == 0 ? -1 : bad;  // 0 is an empty slot there
      std::vector<float> out(size_t(m.K) * m.V);
      const std::function<void()> calls[] = {
          [&] {
            tulm::TULM_computeMeshFaceAreas(m.F, m.columnFaces.data(), m.columnVertices.data(), m.V,
                                            out.data());
          },
          [&] {
            tulm::TULM_calculateSurfaceArea(m.rowVertices.data(), m.V, m.rowFaces.data(), m.F);
          },
          [&] {
            tulm::TULM_computeVertexDistSq2Nbors(m.K, m.V, m.nbors.data(), m.columnVertices.data(),
                                                 out.data());
          },
      };
      for (const auto& call : calls) {
        tulm::set_point_lanes_enabled(false);
        const std::string scalar = message(call);
        tulm::set_point_lanes_enabled(true);
        EXPECT_EQ(message(call), scalar) << "bad entry " << bad << " at " << at;
        EXPECT_NE(scalar, "no error");
      }
    }
  }
}

}  // namespace
