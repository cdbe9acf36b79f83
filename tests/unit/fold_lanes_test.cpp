// The fold penalties with and without their lanes (several faces or gradient columns at once in
// vector registers): the same bits, and the same message for a bad index at every lane.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/connectivity/TULM_convertFaces2FacesOfVert.h"
#include "core/folding/TULM_computeAreaChangePenaltyGrad.h"
#include "core/folding/TULM_computeFoldPenalty.h"
#include "core/folding/TULM_computeFoldPenaltyGrad.h"
#include "core/folding/fold_model.h"
#include "core/folding/fold_passes.h"
#include "core/folding/gradient_columns.h"
#include "core/lane_choice.h"
#include "core/parallel.h"
#include "icosphere.h"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#define TULM_TEST_GUARD_PAGES 1
#endif

namespace {

// A mesh in column form with its faces-of-vertex table.
struct Mesh {
  std::vector<float> vertices;  // 3 x V
  std::vector<int32_t> faces;   // 3 x F
  std::vector<int32_t> table;   // K x V
  int32_t K = 0;
  const float* verticesCopy = nullptr;  // read in place of vertices where set

  int32_t V() const { return static_cast<int32_t>(vertices.size() / 3); }
  int32_t F() const { return static_cast<int32_t>(faces.size() / 3); }
  tulm::FoldMesh fold_mesh() const {
    const float* points = verticesCopy != nullptr ? verticesCopy : vertices.data();
    return {points, V(), faces.data(), F(), table.data(), K};
  }
};

// The icosphere subdivided `subdivisions` times (3: 642 vertices, not a multiple of eight), its
// vertices moved at random by `noise` (0.05 flips about a fifth of the faces at 3).
Mesh jittered_sphere(int subdivisions = 3, float noise = 0.05f) {
  const tulm_test::Mesh sphere = tulm_test::icosphere(subdivisions);
  Mesh m;
  m.vertices = sphere.vertices;
  m.faces = sphere.faces;
  const std::vector<int32_t> rowFaces = tulm_test::transposed(m.faces, 3, m.F());
  std::vector<int32_t> rowTable;
  tulm::TULM_convertFaces2FacesOfVert(rowFaces.data(), m.F(), m.V(), [&](int32_t k) {
    m.K = k;
    rowTable.assign(size_t(k) * m.V(), 0);
    return rowTable.data();
  });
  m.table = tulm_test::transposed(rowTable, m.V(), m.K);
  std::mt19937 random(3);
  std::normal_distribution<float> normal(0.0f, noise);
  for (float& x : m.vertices) x += normal(random);
  return m;
}

// Every output bit of a call, or its message.
struct Outcome {
  std::vector<uint32_t> bits;
  std::string message;

  void add(const float* values, size_t count) {
    const size_t at = bits.size();
    bits.resize(at + count);
    std::memcpy(bits.data() + at, values, count * sizeof(float));
  }
  bool operator==(const Outcome& other) const {
    return bits == other.bits && message == other.message;
  }
};

using Routine = std::function<void(const Mesh&, Outcome&)>;

void fold_gradient(const Mesh& m, Outcome& out) {
  float P = 0.0f;
  std::vector<float> G(3 * size_t(m.V()));
  tulm::TULM_computeFoldPenaltyGrad(m.fold_mesh(), 0.01f, &P, G.data());
  out.add(&P, 1);
  out.add(G.data(), G.size());
}

void fold_penalty(const Mesh& m, Outcome& out) {
  float P = 0.0f;
  tulm::TULM_computeFoldPenalty(m.fold_mesh(), -0.25f, &P);
  out.add(&P, 1);
}

void area_change_gradient(const Mesh& m, Outcome& out) {
  std::vector<float> original(m.F());
  for (int32_t f = 0; f < m.F(); ++f) original[f] = 0.001f * float(f % 7);
  float P = 0.0f;
  std::vector<float> G(3 * size_t(m.V()));
  tulm::TULM_computeAreaChangePenaltyGrad(m.fold_mesh(), original.data(), &P, G.data());
  out.add(&P, 1);
  out.add(G.data(), G.size());
}

const Routine kRoutines[] = {fold_gradient, fold_penalty, area_change_gradient};

using tulm::LaneChoice;
constexpr LaneChoice kScalar{1, false}, kFour{4, false}, kEight{8, false}, kWidest{16, false};

Outcome run(const Routine& routine, const Mesh& m, LaneChoice lanes) {
  tulm::set_lanes(lanes);
  Outcome out;
  try {
    routine(m, out);
  } catch (const tulm::Error& error) {
    out.bits.clear();
    out.message = error.what();
  }
  tulm::set_lanes(tulm::processor_lanes());
  return out;
}

class FoldLaneWidths : public testing::Test {
 protected:
  void SetUp() override { tulm::set_thread_count(1); }
  void TearDown() override {
    tulm::set_lanes(tulm::processor_lanes());
    tulm::set_thread_count(0);
  }
};

// Every width of lanes: four everywhere, eight and the widest where the processor has more.
const LaneChoice kLanes[] = {kFour, kEight, kWidest};

void expect_same_with_and_without_lanes(const Mesh& m, const std::string& what) {
  for (size_t r = 0; r < std::size(kRoutines); ++r) {
    const Outcome scalar = run(kRoutines[r], m, kScalar);
    for (LaneChoice lanes : kLanes) {
      EXPECT_TRUE(run(kRoutines[r], m, lanes) == scalar)
          << what << ", routine " << r << ", lanes " << lanes.width;
    }
  }
}

// Meshes whose values or tables reach every branch of the lanes: flipped and unflipped faces in
// one group, faces below the gradient's area floor, overflowing and vanishing products (also in
// the normals of flipped faces, whose corners share their gradient's scale where the bits do), NaN,
// infinities and signed zeros, tables with gaps, repeats, strangers and long columns.
TEST_F(FoldLaneWidths, SameBitsAsTheScalarCode) {
  const Mesh base = jittered_sphere();
  struct Case {
    const char* name;
    std::function<void(Mesh&)> change;
  };
  const Case cases[] = {
      {"jittered", [](Mesh&) {}},
      {"every face reversed",
       [](Mesh& m) {
         for (int32_t f = 0; f < m.F(); ++f) std::swap(m.faces[3 * f + 1], m.faces[3 * f + 2]);
       }},
      {"the last vertex, read apart by the lanes, at every position of a group of faces",
       [](Mesh& m) {
         for (int32_t p = 0; p < 24; ++p) m.faces[3 * (40 + 8 * p) + p] = m.V();
       }},
      {"scaled by 2^-70: areas below the floor",
       [](Mesh& m) {
         for (float& x : m.vertices) x = std::ldexp(x, -70);
       }},
      {"scaled by 2^-40: areas about the floor",
       [](Mesh& m) {
         for (float& x : m.vertices) x = std::ldexp(x, -40);
       }},
      {"scaled by 2^62: squares overflow",
       [](Mesh& m) {
         for (float& x : m.vertices) x = std::ldexp(x, 62);
       }},
      {"every face reversed, scaled by 2^64 and 2^68: flipped faces whose normals overflow",
       [](Mesh& m) {
         for (int32_t f = 0; f < m.F(); ++f) std::swap(m.faces[3 * f + 1], m.faces[3 * f + 2]);
         for (int32_t v = 0; v < m.V(); ++v) {
           for (int k = 0; k < 3; ++k) {
             float& x = m.vertices[3 * v + k];
             x = std::ldexp(x, v % 3 == 0 ? 64 : 68);
           }
         }
       }},
      {"NaN, infinities, signed zeros and repeated points",
       [](Mesh& m) {
         const float inf = std::numeric_limits<float>::infinity();
         const float special[] = {std::nanf(""), -std::nanf(""), inf, -inf, 0.0f, -0.0f};
         for (int32_t v = 5; v < m.V(); v += 37) {
           m.vertices[3 * v + v % 3] = special[(v / 37) % 6];
         }
         for (int32_t v = 11; v < m.V(); v += 53) {
           for (int k = 0; k < 3; ++k) m.vertices[3 * v + k] = m.vertices[3 * (v - 1) + k];
         }
       }},
      {"columns with gaps, repeats, strangers and negative entries",
       [](Mesh& m) {
         for (int32_t v = 0; v < m.V(); v += 3) {
           int32_t* column = &m.table[size_t(m.K) * v];
           switch (v % 4) {
             case 0: column[1] = 0; break;                    // the rest is not read
             case 1: column[2] = column[0]; break;            // a face twice
             case 2: column[0] = 1 + (v * 7) % m.F(); break;  // not a face of v
             default: column[m.K - 1] = -5; break;
           }
         }
       }},
      {"a column longer than the lanes take",
       [](Mesh& m) {
         const int32_t K = 40;
         std::vector<int32_t> table(size_t(K) * m.V(), 0);
         for (int32_t v = 0; v < m.V(); ++v) {
           for (int32_t j = 0; j < K; ++j)
             table[size_t(K) * v + j] = m.table[size_t(m.K) * v + j % m.K];
         }
         m.table = table;
         m.K = K;
       }},
  };
  for (const Case& c : cases) {
    Mesh m = base;
    c.change(m);
    expect_same_with_and_without_lanes(m, c.name);
  }
}

// A bad corner at each of the twenty-four positions of a group of eight faces (and so of two
// groups of four) ends the call as the scalar code does, before a second bad corner further on.
TEST_F(FoldLaneWidths, BadCornerAtEveryLaneGivesTheScalarMessage) {
  const Mesh base = jittered_sphere();
  for (int32_t value : {0, -1, base.V() + 1, std::numeric_limits<int32_t>::min()}) {
    for (int32_t position = 0; position < 24; ++position) {
      Mesh m = base;
      m.faces[3 * 40 + position] = value;
      m.faces[3 * 200 + 1] = base.V() + 7;
      for (const Routine& routine : kRoutines) {
        const Outcome scalar = run(routine, m, kScalar);
        EXPECT_FALSE(scalar.message.empty());
        for (LaneChoice lanes : kLanes) {
          EXPECT_TRUE(run(routine, m, lanes) == scalar)
              << "corner " << value << " at " << position << ", lanes " << lanes.width;
        }
      }
    }
  }
}

// Faces on a mesh without vertices: no corner is in 1..V, which the lanes' range check must
// see although V - 1 wraps there, or they would read through a null vertex array.
TEST_F(FoldLaneWidths, FacesWithoutVerticesGiveTheScalarMessage) {
  Mesh m = jittered_sphere();
  std::vector<float>().swap(m.vertices);
  m.table.clear();
  m.K = 0;
  for (const Routine& routine : kRoutines) {
    const Outcome scalar = run(routine, m, kScalar);
    EXPECT_FALSE(scalar.message.empty());
    for (LaneChoice lanes : kLanes) {
      EXPECT_TRUE(run(routine, m, lanes) == scalar) << "lanes " << lanes.width;
    }
  }
}

// An entry above F in each of the eight lanes of a group of columns, in the first row and the
// last, ends the call as the scalar code does; after the end of its column it is not read.
TEST_F(FoldLaneWidths, BadVertexFacesEntryAtEveryLaneGivesTheScalarMessage) {
  Mesh base = jittered_sphere();
  for (int32_t f = 0; f < base.F(); ++f) std::swap(base.faces[3 * f + 1], base.faces[3 * f + 2]);
  for (int32_t lane = 0; lane < 8; ++lane) {
    for (int32_t row : {0, base.K - 1}) {
      for (bool ended : {false, true}) {
        Mesh m = base;
        const int32_t v = 64 + lane;
        m.table[size_t(m.K) * v + row] = m.F() + 1 + lane;
        m.table[size_t(m.K) * 300 + 2] = m.F() + 50;
        if (ended && row > 0) m.table[size_t(m.K) * v] = 0;
        const Outcome scalar = run(fold_gradient, m, kScalar);
        EXPECT_FALSE(scalar.message.empty());
        for (LaneChoice lanes : kLanes) {
          EXPECT_TRUE(run(fold_gradient, m, lanes) == scalar)
              << "lane " << lane << " row " << row << (ended ? " after the end" : "") << ", lanes "
              << lanes.width;
        }
      }
    }
  }
}

// The gradient as its definition reads: each column of VertexFaces, in list order up to its
// first entry below 1, adds faceAreaGradient of every flipped face it lists.
std::vector<float> gradient_by_columns(const Mesh& m) {
  const tulm::FoldMesh mesh = m.fold_mesh();
  std::vector<float> G(3 * size_t(m.V()), 0.0f);
  for (int32_t w = 0; w < m.V(); ++w) {
    for (int32_t j = 0; j < m.K; ++j) {
      const int32_t entry = m.table[size_t(m.K) * w + j];
      if (entry < 1) break;
      if (!tulm::isFlipped(tulm::signedFaceArea(mesh, entry - 1))) continue;
      float g[3];
      tulm::faceAreaGradient(mesh, entry - 1, w, g);
      for (int k = 0; k < 3; ++k) G[3 * w + k] = g[k] + G[3 * w + k];
    }
  }
  return G;
}

// The gradient is added face by face where the table lists each flipped face at its corners in
// increasing order, and column by column otherwise: tables that differ from that in one flipped
// entry only (so that their counts of flipped entries still agree) take the columns' sums all
// the same. At one thread the flip pass adds the gradients; at two, a pass after it, beside the
// check of the table.
TEST_F(FoldLaneWidths, GradientAddsEachColumnInListOrder) {
  // Enough faces for two threads; a few faces flipped, or every one.
  Mesh few = jittered_sphere(6, 0.006f);
  Mesh every = jittered_sphere(6, 1e-6f);
  for (int32_t f = 0; f < every.F(); ++f) {
    std::swap(every.faces[3 * f + 1], every.faces[3 * f + 2]);
  }
  const auto flipped = [](const Mesh& m, int32_t entry) {
    return entry > 0 && tulm::isFlipped(tulm::signedFaceArea(m.fold_mesh(), entry - 1));
  };
  for (int32_t f = 1; f <= every.F(); ++f) ASSERT_TRUE(flipped(every, f)) << f;
  // The first column with `count` flipped entries in a row, and the row of its first.
  const auto flipped_run = [&](const Mesh& m, int32_t count, int32_t& row) {
    for (int32_t v = 0; v < m.V(); ++v) {
      const int32_t* column = &m.table[size_t(m.K) * v];
      for (int32_t j = 0; j + count <= m.K; ++j) {
        int32_t n = 0;
        while (n < count && flipped(m, column[j + n])) ++n;
        if (n == count) {
          row = j;
          return v;
        }
      }
    }
    ADD_FAILURE() << "no column with " << count << " flipped entries in a row";
    return 0;
  };
  const auto two_flipped = [&](const Mesh& m, int32_t& row) { return flipped_run(m, 2, row); };
  struct Case {
    const char* name;
    std::function<void(Mesh&)> change;
  };
  const Case cases[] = {
      {"the faces-of-vertex table", [](Mesh&) {}},
      {"the second and third of three flipped faces of a column swapped",
       [&](Mesh& m) {
         // Two terms after a zero give the same sum in either order; three need not.
         int32_t j = 0;
         int32_t* column = &m.table[size_t(m.K) * flipped_run(m, 3, j)];
         std::swap(column[j + 1], column[j + 2]);
       }},
      {"a flipped face listed twice in its column, in place of another",
       [&](Mesh& m) {
         int32_t j = 0;
         int32_t* column = &m.table[size_t(m.K) * two_flipped(m, j)];
         column[j + 1] = column[j];
       }},
      {"a flipped face listed at a vertex not its corner, in place of one that is",
       [&](Mesh& m) {
         int32_t j = 0;
         const int32_t v = two_flipped(m, j);
         int32_t* column = &m.table[size_t(m.K) * v];
         // The column's last flipped entry becomes the last flipped face away from v, so that
         // its flipped faces still increase.
         int32_t last = j + 1;
         for (int32_t r = last; r < m.K && column[r] > 0; ++r) {
           if (flipped(m, column[r])) last = r;
         }
         for (int32_t f = m.F(); f > column[last]; --f) {
           const int32_t* c = &m.faces[3 * (f - 1)];
           if (flipped(m, f) && c[0] != v + 1 && c[1] != v + 1 && c[2] != v + 1) {
             column[last] = f;
             return;
           }
         }
         ADD_FAILURE() << "no flipped face above the column's";
       }},
      {"a column that ends before its flipped faces",
       [&](Mesh& m) {
         int32_t j = 0;
         m.table[size_t(m.K) * two_flipped(m, j) + j] = 0;
       }},
  };
  for (const Mesh* base : {&few, &every}) {
    for (const Case& c : cases) {
      Mesh m = *base;
      c.change(m);
      Outcome expected;
      float P = 0.0f;
      tulm::TULM_computeFoldPenaltyGrad(m.fold_mesh(), 0.01f, &P, nullptr);
      expected.add(&P, 1);
      const std::vector<float> G = gradient_by_columns(m);
      expected.add(G.data(), G.size());
      const char* which = base == &few ? "a few flipped, " : "all flipped, ";
      for (int threads : {1, 2}) {
        tulm::set_thread_count(threads);
        for (LaneChoice lanes : {kScalar, kFour, kEight, kWidest}) {
          EXPECT_TRUE(run(fold_gradient, m, lanes) == expected)
              << which << c.name << ", " << threads << " threads, lanes " << lanes.width;
        }
      }
    }
  }
}

// The table with K rows: each column's faces, then zeros.
Mesh with_rows(const Mesh& m, int32_t K) {
  Mesh padded = m;
  padded.K = K;
  padded.table.assign(size_t(K) * m.V(), 0);
  for (int32_t v = 0; v < m.V(); ++v) {
    for (int32_t j = 0; j < std::min(K, m.K); ++j) {
      padded.table[size_t(K) * v + j] = m.table[size_t(m.K) * v + j];
    }
  }
  return padded;
}

// What the check of the table behind the face-by-face gradient finds with the given lanes: the
// number of flipped entries, or -1 (fold_passes.h). everyFace: every face is flipped. The check
// of the whole table must be what the checks of the columns before `split`, of column split alone
// and of the columns after it make together.
int64_t flipped_entries(const Mesh& m, LaneChoice lanes, bool everyFace, int32_t split = 0) {
  tulm::set_lanes(lanes);
  tulm::FlippedFaces flipped(m.F());
  tulm::flip_face_pass(m.fold_mesh(), 0.01f, &flipped);
  const auto check = [&](int32_t begin, int32_t end) {
    return tulm::flipped_entries_at_corners(m.fold_mesh(), flipped, everyFace, begin, end);
  };
  const int64_t count = check(0, m.V());
  int64_t parts = 0;
  for (const int64_t part : {check(0, split), check(split, split + 1), check(split + 1, m.V())}) {
    parts = part < 0 || parts < 0 ? -1 : parts + part;
  }
  EXPECT_EQ(parts, count) << "the columns before " << split << ", at it and after it";
  tulm::set_lanes(tulm::processor_lanes());
  return count;
}

// The table is checked as one stream of entries, in vectors, blocks and batches of blocks that
// take no notice of where columns begin. An entry that ends its column (0, -1), one above F, a
// flipped face that is not the column's vertex's (any, or one of the vertex before or after, which
// a column miscounted by one would take), and a pair of entries out of order, each at every
// position of 64 entries across the boundary of two batches (every lane of two vectors of 16 or
// 8, in each column row), across a boundary of blocks that a column crosses with flipped faces
// after it (an end before the boundary ends them), across the boundary before the entries after
// the last batch, and at the last 64 entries, give the scalar code's bits or message; those give
// the definition's gradient.
// The check finds what the scalar code's finds, and takes the unchanged tables. Columns of 6 rows,
// and of 9 and 17 whose last rows are empty (a change there lies after the column's end), with a
// few faces flipped and with all.
TEST_F(FoldLaneWidths, TableEntryAtEveryPositionOfTheStream) {
  const Mesh jittered = jittered_sphere();
  Mesh reversed = jittered_sphere(3, 1e-6f);  // every face flipped, once reversed
  for (int32_t f = 0; f < reversed.F(); ++f) {
    std::swap(reversed.faces[3 * f + 1], reversed.faces[3 * f + 2]);
  }
  const auto flipped = [](const Mesh& m, int32_t entry) {
    return entry > 0 && tulm::isFlipped(tulm::signedFaceArea(m.fold_mesh(), entry - 1));
  };
  for (int32_t f = 1; f <= reversed.F(); ++f) ASSERT_TRUE(flipped(reversed, f)) << f;
  const auto has_corner = [](const Mesh& m, int32_t f, int32_t v) {
    const int32_t* c = &m.faces[3 * (f - 1)];
    return c[0] == v + 1 || c[1] == v + 1 || c[2] == v + 1;
  };
  // A flipped face, from `from` on, without vertex w as a corner and with vertex `with` unless
  // that is -1; 0 where there is none.
  const auto stranger = [&](const Mesh& m, int32_t w, int32_t with, int32_t from) {
    for (int32_t t = 0; t < m.F(); ++t) {
      const int32_t f = 1 + (from + t) % m.F();
      if (flipped(m, f) && !has_corner(m, f, w) && (with < 0 || has_corner(m, f, with))) return f;
    }
    return 0;
  };
  const char* const kChanges[] = {"0",
                                  "-1",
                                  "F + 1",
                                  "a flipped stranger",
                                  "a flipped face of the vertex before",
                                  "a flipped face of the vertex after",
                                  "a decreasing pair"};
  constexpr size_t kBatch = 512;  // the entries whose flip marks the widest lanes take at once
  for (const Mesh* base : {&jittered, static_cast<const Mesh*>(&reversed)}) {
    const bool every = base == &reversed;
    int64_t flippedFaces = 0;
    for (int32_t f = 1; f <= base->F(); ++f) flippedFaces += flipped(*base, f);
    for (int32_t K : {6, 9, 17}) {
      const Mesh rows = with_rows(*base, K);
      for (LaneChoice lanes : {kScalar, kFour, kEight, kWidest}) {
        EXPECT_EQ(flipped_entries(rows, lanes, every), 3 * flippedFaces)
            << "K " << K << ", lanes " << lanes.width;
      }
      const size_t total = rows.table.size();
      const size_t lastBatch = total / kBatch * kBatch;
      // A boundary of blocks of 64 entries that a column crosses with a flipped face after it.
      size_t crossed = 0;
      for (size_t b = 64; b < lastBatch && crossed == 0; b += 64) {
        for (size_t i = b; i % K != 0; ++i) {
          if (flipped(rows, rows.table[i])) crossed = b;
        }
      }
      ASSERT_NE(crossed, 0u) << "K " << K;
      for (size_t first : {2 * kBatch - 32, crossed - 32, lastBatch - 32, total - 64}) {
        for (size_t at = first; at < first + 64; ++at) {
          const int32_t w = static_cast<int32_t>(at / K);
          for (int change = 0; change < 7; ++change) {
            Mesh m = rows;
            int32_t& entry = m.table[at];
            switch (change) {
              case 0: entry = 0; break;
              case 1: entry = -1; break;
              case 2: entry = m.F() + 1; break;
              case 3: entry = stranger(m, w, -1, static_cast<int32_t>(at)); break;
              case 4: entry = w > 0 ? stranger(m, w, w - 1, 0) : 0; break;
              case 5: entry = w + 1 < m.V() ? stranger(m, w, w + 1, 0) : 0; break;
              default:
                if ((at + 1) % K == 0) continue;
                std::swap(entry, m.table[at + 1]);
                break;
            }
            if (change >= 3 && change <= 5 && entry == 0) continue;
            const Outcome scalar = run(fold_gradient, m, kScalar);
            const std::string where =
                std::string(base == &jittered ? "a few flipped" : "all flipped") + ", K " +
                std::to_string(K) + ", entry " + std::to_string(at) + ": " + kChanges[change];
            if (scalar.message.empty()) {
              Outcome expected;
              float P = 0.0f;
              tulm::TULM_computeFoldPenaltyGrad(m.fold_mesh(), 0.01f, &P, nullptr);
              expected.add(&P, 1);
              const std::vector<float> G = gradient_by_columns(m);
              expected.add(G.data(), G.size());
              EXPECT_TRUE(scalar == expected) << where;
            }
            const int64_t found = flipped_entries(m, kScalar, every, w);
            for (LaneChoice lanes : kLanes) {
              EXPECT_TRUE(run(fold_gradient, m, lanes) == scalar)
                  << where << ", lanes " << lanes.width;
              EXPECT_EQ(flipped_entries(m, lanes, every, w), found)
                  << where << ", lanes " << lanes.width;
            }
          }
        }
      }
    }
  }
}

#if defined(TULM_TEST_GUARD_PAGES)
// A copy of some floats that ends where a page begins that cannot be read, so that a read past
// the last float ends the program.
class FloatsBeforeGuardPage {
 public:
  explicit FloatsBeforeGuardPage(const std::vector<float>& values) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t bytes = values.size() * sizeof(float);
    const size_t readable = (bytes + page - 1) / page * page;
    size_ = readable + page;
    void* base = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return;
    base_ = static_cast<char*>(base);
    if (mprotect(base_ + readable, page, PROT_NONE) != 0) return;
    data_ = reinterpret_cast<float*>(base_ + readable - bytes);
    std::memcpy(data_, values.data(), bytes);
  }
  ~FloatsBeforeGuardPage() {
    if (base_ != nullptr) munmap(base_, size_);
  }
  FloatsBeforeGuardPage(const FloatsBeforeGuardPage&) = delete;
  FloatsBeforeGuardPage& operator=(const FloatsBeforeGuardPage&) = delete;

  const float* data() const { return data_; }  // null where the pages could not be set up

 private:
  char* base_ = nullptr;
  size_t size_ = 0;
  float* data_ = nullptr;
};

// The lanes read a vertex as 16 bytes only where more floats follow it: with the vertices ending
// at a page that cannot be read, every routine at every width gives the scalar code's bits, with
// the last vertex at every position of a group of faces, most of them flipped (the gradients'
// lanes).
TEST_F(FoldLaneWidths, NoLaneReadsPastTheLastVertex) {
  Mesh m = jittered_sphere();
  for (int32_t f = 0; f < m.F(); ++f) std::swap(m.faces[3 * f + 1], m.faces[3 * f + 2]);
  for (int32_t p = 0; p < 24; ++p) m.faces[3 * (40 + 8 * p) + p] = m.V();
  for (const Routine& routine : kRoutines) {
    const Outcome scalar = run(routine, m, kScalar);
    const FloatsBeforeGuardPage guarded(m.vertices);
    ASSERT_NE(guarded.data(), nullptr);
    Mesh g = m;
    g.verticesCopy = guarded.data();
    for (LaneChoice lanes : kLanes) {
      EXPECT_TRUE(run(routine, g, lanes) == scalar) << "lanes " << lanes.width;
    }
  }
}
#endif

}  // namespace
