// The measures computed several values at a time in lanes (four, eight where the processor has
// AVX2, sixteen where it has AVX-512) and by their scalar code: the same bits on meshes with
// values that round, cancel, overflow and are not numbers, and the same message at a bad index
// wherever it falls among the lanes. Where the processor has no lanes every run takes the scalar
// code.
#include "core/point_lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/lane_choice.h"
#include "core/measures/TULM_calculateSurfaceArea.h"
#include "core/measures/TULM_computeMeshFaceAreas.h"
#include "core/measures/TULM_computeVertexDistSq2Nbors.h"
#include "core/measures/TULM_gaussianSmoothVertexData.h"
#include "core/measures/rounded_exp.h"
#include "core/measures/rounded_exp_lanes.h"
#include "core/parallel.h"

namespace {

class PointLanes : public testing::Test {
 protected:
  void SetUp() override { tulm::set_thread_count(1); }
  void TearDown() override {
    tulm::set_lanes(tulm::processor_lanes());
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

// With `finite`, the values that would overflow, vanish, be infinite or NaN are ordinary ones of
// other magnitudes instead, so that the sums stay finite and any change of their order shows.
HardMesh hard_mesh(int32_t V, int32_t F, int32_t K, unsigned seed, bool finite = false) {
  constexpr int kOtherMagnitude = 20;  // no kind of value: kinds are 0..19
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
      const int k = kind(random);
      const float magnitudes[] = {1e3f, 1e-3f, 37.0f, 0.01f};
      switch (finite && k < 4 ? kOtherMagnitude : k) {
        case 0: x *= 3e19f; break;   // squares overflow
        case 1: x *= 1e-30f; break;  // squares vanish
        case 2: x = inf; break;
        case 3: x = -nan; break;
        case 4: x = v > 0 ? m.columnVertices[3 * (v - 1) + c] : x; break;  // repeated
        case 5: x = 1.0f + x * 1e-7f; break;                               // cancels
        case kOtherMagnitude: x *= magnitudes[k & 3]; break;
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

// The smoothing of the first D rows of the data at each scale, one after another.
std::vector<float> smooth(const HardMesh& m, int32_t D, std::initializer_list<float> scales) {
  std::vector<float> out;
  for (float s : scales) {
    std::vector<float> rows(size_t(D) * m.V), smoothed(size_t(D) * m.V);
    for (int32_t v = 0; v < m.V; ++v) {
      for (int32_t d = 0; d < D; ++d) rows[d + size_t(D) * v] = m.data[d + 3 * size_t(v)];
    }
    tulm::TULM_gaussianSmoothVertexData(m.columnVertices.data(), m.V, m.nbors.data(), m.K,
                                        rows.data(), D, s, smoothed.data());
    out.insert(out.end(), smoothed.begin(), smoothed.end());
  }
  return out;
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
    // Scales whose weights are mostly 1, spread, mostly 0 and all 0 (below e^-104).
    {"smoothing D=1",
     [](const HardMesh& m) {
       return smooth(m, 1, {0.3f, 1e-3f, 1e-5f});
     }},
    {"smoothing D=3",
     [](const HardMesh& m) {
       return smooth(m, 3, {0.3f, 1e-2f, 1e-30f});
     }},
    // Two rows take the lanes' code for any count of rows.
    {"smoothing D=2",
     [](const HardMesh& m) {
       return smooth(m, 2, {1e-2f, 1e-4f});
     }},
};

std::vector<uint32_t> bits(const std::vector<float>& values) {
  std::vector<uint32_t> out(values.size());
  if (!values.empty()) std::memcpy(out.data(), values.data(), values.size() * sizeof(float));
  return out;
}

// The ways of computing that a test compares with the scalar code: four lanes, eight (where the
// processor has AVX2, else again four) and the widest it has (sixteen where it has AVX-512 and
// the routine takes them, else again eight), with scattered points loaded and, where the routine
// can, gathered, whichever the processor takes by default.
struct LaneWay {
  const char* name;
  tulm::LaneChoice lanes;
};
const LaneWay kLaneWays[] = {{"four lanes", {4, false}},
                             {"eight lanes", {8, false}},
                             {"widest lanes loading", {16, false}},
                             {"widest lanes gathering", {16, true}}};

// The scalar code where way is null.
void take_lanes(const LaneWay* way) {
  tulm::set_lanes(way != nullptr ? way->lanes : tulm::LaneChoice{1, false});
}

TEST_F(PointLanes, GiveTheScalarBitsOnHardValues) {
  // Sizes around multiples of four, and K below, at and above four; K = 2, the least that the
  // gathering lanes take, and 15 and 16, where they stop looking up their own points' offsets.
  const struct {
    int32_t V, F, K;
  } sizes[] = {{1, 1, 1},       {5, 3, 3},   {9, 7, 4},    {33, 66, 6},  {100, 201, 7},
               {1000, 2003, 9}, {50, 20, 2}, {70, 33, 15}, {70, 33, 16}, {300, 50, 1100}};
  for (const auto& size : sizes) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
      const bool finite = seed == 4;
      const HardMesh m = hard_mesh(size.V, size.F, size.K, seed, finite);
      for (const Measure& measure : kMeasures) {
        take_lanes(nullptr);
        const std::vector<float> scalar = measure.run(m);
        for (const LaneWay& way : kLaneWays) {
          take_lanes(&way);
          EXPECT_EQ(bits(measure.run(m)), bits(scalar))
              << measure.name << " in " << way.name << ", V = " << size.V << ", F = " << size.F
              << ", K = " << size.K << ", seed " << seed << (finite ? ", finite" : "");
        }
      }
    }
  }
}

// The lanes, and the fold gradient's scalar code, halve a single root where the scalar code of
// the areas halves a double root and rounds it to a single: the same bits for every float
// (checked over all of them once), here on a sample of random bit patterns and on the values at
// the edges.
TEST_F(PointLanes, SingleRootHalvedIsTheDoubleRootHalvedAndRounded) {
  std::vector<uint32_t> patterns = {0x00000000u, 0x80000000u, 0x00000001u, 0x00000003u, 0x007fffffu,
                                    0x00800000u, 0x3f800000u, 0x3f800001u, 0x7f7fffffu, 0x7f800000u,
                                    0xff800000u, 0x7fc00000u, 0xffc00000u, 0xffc00001u, 0x7f800001u,
                                    0xbf800000u, 0x80000001u};
  std::mt19937 random(11);
  for (int k = 0; k < (1 << 18); ++k) patterns.push_back(random());
  for (size_t k = 0; k + 4 <= patterns.size(); k += 4) {
    float s[4];
    std::memcpy(s, &patterns[k], sizeof s);
#if defined(TULM_HAVE_SSE2)
    float inLanes[4];
    _mm_storeu_ps(inLanes, tulm::lanes::half_root(_mm_loadu_ps(s)));
#endif
    for (int lane = 0; lane < 4; ++lane) {
      const float viaDouble = static_cast<float>(0.5 * std::sqrt(static_cast<double>(s[lane])));
      EXPECT_EQ(bits({std::sqrt(s[lane]) * 0.5f}), bits({viaDouble}))
          << std::hex << patterns[k + lane];
#if defined(TULM_HAVE_SSE2)
      EXPECT_EQ(bits({inLanes[lane]}), bits({viaDouble})) << std::hex << patterns[k + lane];
#endif
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
    for (int32_t bad : {0, -3, 51, INT32_MIN, INT32_MAX}) {
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
        take_lanes(nullptr);
        const std::string scalar = message(call);
        EXPECT_NE(scalar, "no error");
        for (const LaneWay& way : kLaneWays) {
          take_lanes(&way);
          EXPECT_EQ(message(call), scalar) << way.name << ", bad entry " << bad << " at " << at;
        }
      }
    }
  }
}

// What a measure gives: its bits, or the message that ended the call.
std::string outcome(const Measure& measure, const HardMesh& m) {
  try {
    std::string text;
    for (uint32_t b : bits(measure.run(m))) text += std::to_string(b) + " ";
    return text;
  } catch (const tulm::Error& error) {
    return std::string("error: ") + error.what();
  }
}

// Sixteen faces or slots go together where the processor has AVX-512: an entry at each of their
// places, in each row of the faces, is met as the scalar code meets it, whether it ends the call,
// is the last vertex (whose point the lanes read whole only when a float follows it) or, in the
// table, an empty slot.
TEST_F(PointLanes, EntryAtEveryPlaceAmongSixteenIsMetAsTheScalarCodeMeetsIt) {
  const HardMesh good = hard_mesh(60, 40, 3, 8, true);
  for (int32_t place = 0; place < 16; ++place) {
    for (int32_t row = 0; row < 3; ++row) {
      for (int32_t value : {0, -1, 60, 61, INT32_MIN, INT32_MAX}) {
        HardMesh m = good;
        const int32_t face = 16 + place;
        m.columnFaces[3 * face + row] = value;
        m.rowFaces[face + row * size_t(m.F)] = value;
        m.nbors[16 * (row + 1) + place] = value;
        for (int k = 0; k < 3; ++k) {  // the three measures that have sixteen lanes
          take_lanes(nullptr);
          const std::string scalar = outcome(kMeasures[k], m);
          for (const LaneWay& way : kLaneWays) {
            take_lanes(&way);
            EXPECT_EQ(outcome(kMeasures[k], m), scalar)
                << kMeasures[k].name << " in " << way.name << ", entry " << value << " at place "
                << place << ", row " << row;
          }
        }
      }
    }
  }
}

// The smoothing reads a column up to its first entry below 1: a bad entry ends the call only
// there, in vertex order, with many vertices before it made together.
TEST_F(PointLanes, BadNeighbourOfTheSmoothingEndsTheCallAsTheScalarCodeDoes) {
  HardMesh m = hard_mesh(2000, 1, 6, 9);
  for (int32_t& n : m.nbors) n = n == 0 ? 1 : n;
  std::vector<float> out(3 * size_t(m.V));
  std::vector<int32_t> places = {0, 5, 6, 1500 * 6 + 3, 2000 * 6 - 1};
  for (int32_t lane = 0; lane < 8; ++lane) places.push_back((1000 + lane) * 6 + lane % 6);
  for (int32_t at : places) {
    for (int32_t bad : {2001, 0, INT32_MAX}) {
      std::vector<int32_t> nbors = m.nbors;
      nbors[at] = bad;
      nbors[at + 6 < 2000 * 6 ? at + 6 : 0] = 2002;  // a later bad entry, or an earlier one
      const auto call = [&] {
        tulm::TULM_gaussianSmoothVertexData(m.columnVertices.data(), m.V, nbors.data(), m.K,
                                            m.data.data(), 3, 1e-3f, out.data());
      };
      take_lanes(nullptr);
      const std::string scalar = message(call);
      EXPECT_NE(scalar, "no error");
      for (const LaneWay& way : kLaneWays) {
        take_lanes(&way);
        EXPECT_EQ(message(call), scalar) << way.name << ", entry " << bad << " at " << at;
      }
    }
  }
}

// Whatever follows the end of a list is never read, in any lane of eight vertices smoothed
// together: vertices (1000..1007), or bad entries and the last vertex (1008..1015).
TEST_F(PointLanes, SmoothingIgnoresWhatFollowsTheEndOfAListInEveryLane) {
  HardMesh m = hard_mesh(2000, 1, 6, 5, true);
  for (int32_t v = 1000; v < 1016; ++v) {
    int32_t* column = m.nbors.data() + v * 6;
    const int32_t end = v % 6;
    column[end] = v % 2 == 0 ? 0 : INT32_MIN;
    for (int32_t j = end + 1; j < 6; ++j) {
      column[j] = v < 1008 ? 1 + (v + j) % 1999 : j % 2 == 0 ? INT32_MAX : 2000;
    }
  }
  for (const int32_t D : {1, 2, 3}) {
    take_lanes(nullptr);
    const std::vector<float> scalar = smooth(m, D, {1e-2f, 0.3f});
    for (const LaneWay& way : kLaneWays) {
      take_lanes(&way);
      EXPECT_EQ(bits(smooth(m, D, {1e-2f, 0.3f})), bits(scalar)) << way.name << ", D = " << D;
    }
  }
}

#if defined(TULM_HAVE_AVX512_TARGET)
// Whether the sixteen lanes hand e^x on to rounded_expf, their approximation being too close to
// a midpoint between floats.
TULM_TARGET_AVX512 bool sixteen_lanes_decline(float x) {
  const __m512d y = tulm::detail::approximate_exp_avx512(_mm512_set1_pd(x));
  return (tulm::detail::rounds_as_exp_avx512(y) & 1) == 0;
}
#endif

// Weights whose exponentials the lanes or the scalar code hand on to the exact path, among
// ordinary ones, in every lane: pairs of vertices at distances whose squares, negated (s = 1/2
// makes the factor 1), are such inputs.
TEST_F(PointLanes, SmoothingWeightsFromTheExactPathGiveTheScalarBits) {
  std::vector<float> gaps;
  float gap = 0.7f;
  for (int k = 0; gaps.size() < 40 && k < (1 << 22); ++k, gap = std::nextafter(gap, 2.0f)) {
    const float x = -(gap * gap);
    float w;
    bool declined = !tulm::try_rounded_expf(x, &w);
#if defined(TULM_HAVE_AVX512_TARGET)
    if (TULM_PROCESSOR_HAS_AVX512()) declined = declined || sixteen_lanes_decline(x);
#endif
    if (declined) gaps.push_back(gap);
  }
  ASSERT_EQ(gaps.size(), 40u);
  // Vertex 2p at the origin and 2p + 1 at (gap, 0, 0), listing each other, the gaps taken in
  // turn with ordinary ones between them.
  HardMesh m = hard_mesh(4 * 40 + 20, 1, 2, 13, true);
  for (int32_t p = 0; 2 * p + 1 < m.V; ++p) {
    const float g = p % 2 == 0 ? gaps[(p / 2) % gaps.size()] : 0.5f + 0.01f * p;
    const float points[2][3] = {{0.0f, 0.0f, 0.0f}, {g, 0.0f, 0.0f}};
    for (int v = 0; v < 2; ++v) {
      for (int c = 0; c < 3; ++c) m.columnVertices[3 * (2 * p + v) + c] = points[v][c];
      m.nbors[2 * (2 * p + v)] = 2 * p + 2 - v;  // the other, 1-based
      m.nbors[2 * (2 * p + v) + 1] = p % 3 == 0 ? 0 : 2 * p + 2 - v;
    }
  }
  for (const int32_t D : {1, 2, 3}) {
    take_lanes(nullptr);
    const std::vector<float> scalar = smooth(m, D, {0.5f});
    for (const LaneWay& way : kLaneWays) {
      take_lanes(&way);
      EXPECT_EQ(bits(smooth(m, D, {0.5f})), bits(scalar)) << way.name << ", D = " << D;
    }
  }
}

}  // namespace
