#include "core/folding/flip_gradient_lanes.h"

#include <algorithm>
#include <cstddef>

#include "core/folding/fold_model_lanes.h"
#include "core/folding/gradient_columns.h"
#include "core/lane_choice.h"
#include "core/point_lanes.h"
#include "core/portability.h"

namespace tulm {

#if defined(TULM_HAVE_AVX2_TARGET)

namespace {

// The columns of a chunk go through three passes, so that the faces and vertices that a pass
// reads at random were asked for by the pass before: the rows of VertexFaces (which flipped
// faces each lane adds; their corners asked for), the corners (which vertices; those asked
// for), the gradients. Columns per chunk, in groups of eight lanes, and the most rows of
// VertexFaces the lanes take.
constexpr int32_t kChunkGroups = 8;
constexpr int32_t kLaneRows = 32;
// Chunks between the scan that asks for a chunk's faces and the gradients that use them.
constexpr int32_t kScanAhead = 2;

// What the first two passes leave for the gradients: per group and row, the lanes that add a
// term and, per lane, its corners a and b.
struct ColumnChunk {
  uint32_t accepted[kChunkGroups][kLaneRows];
  int32_t rows[kChunkGroups];              // rows read until every lane of the group ended
  uint32_t a[kChunkGroups][kLaneRows][8];  // the face, until the corners pass
  uint32_t b[kChunkGroups][kLaneRows][8];
};

// Whether all `count` entries at `entries` lie in 1..F, `count` a multiple of 8.
TULM_TARGET_AVX2 inline bool all_faces(const int32_t* entries, int32_t count, uint32_t F) {
  const __m256i shift = _mm256_set1_epi32(INT32_MIN);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i limit = _mm256_set1_epi32(static_cast<int32_t>(F ^ 0x80000000u));
  __m256i inside = _mm256_set1_epi32(-1);
  for (int32_t i = 0; i < count; i += 8) {
    const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries + i));
    const __m256i moved = _mm256_xor_si256(_mm256_sub_epi32(e, one), shift);
    inside = _mm256_and_si256(inside, _mm256_cmpgt_epi32(limit, moved));
  }
  return _mm256_movemask_epi8(inside) == -1;
}

// Bit j set where entry j of the column (K <= 32 faces, each in 1..F) was found flipped. Kept
// out of the AVX2 code, where the compiler would gather the bits in vectors, which is slower.
uint32_t flipped_rows(const int32_t* column, int32_t K, const uint64_t* flippedWords) {
  uint32_t rows = 0;
  for (int32_t j = K - 1; j >= 0; --j) {
    rows = (rows << 1) | flipped_bit(flippedWords, static_cast<uint32_t>(column[j]) - 1u);
  }
  return rows;
}

// First pass over the groups of columns w0, w0 + 8, ...: the flipped faces of each row, whose
// corners it asks for. Returns false when a column holds an entry above F before its end, for
// the scalar code to end the call with its message.
TULM_TARGET_AVX2 inline bool scan_rows(const FoldMesh& mesh, const uint64_t* flippedWords,
                                       bool noneFlipped, int32_t w0, int32_t groups,
                                       ColumnChunk& chunk) {
  const int32_t K = mesh.numRows;
  const uint32_t F = static_cast<uint32_t>(mesh.numFaces);
  for (int32_t g = 0; g < groups; ++g) {
    const int32_t* table = mesh.vertexFaces + index_2D_array(0, w0 + 8 * g, K);
    // Each flipped face kept for the corners pass: a loop that only asked for memory would be
    // taken away by the compiler as one without effect.
    const auto ask_for_faces = [&](int32_t j, uint32_t accepted) {
      for (uint32_t m = accepted; m != 0; m &= m - 1) {
        const int c = lowest_bit(m);
        const uint32_t f = static_cast<uint32_t>(table[index_2D_array(j, c, K)]) - 1u;
        chunk.a[g][j][c] = f;
        TULM_PREFETCH(mesh.faces + 3 * size_t(f));
      }
    };
    if (all_faces(table, 8 * K, F)) {
      // Full columns of faces, the usual table: no lane ends, no entry to check. Each column's
      // flipped rows as bits, then each row's flipped columns.
      if (noneFlipped) {
        for (int32_t j = 0; j < K; ++j) chunk.accepted[g][j] = 0;
        chunk.rows[g] = K;
        continue;
      }
      alignas(32) uint32_t flippedRows[8];
      for (int c = 0; c < 8; ++c)
        flippedRows[c] = flipped_rows(table + index_2D_array(0, c, K), K, flippedWords);
      const __m256i rows = _mm256_load_si256(reinterpret_cast<const __m256i*>(flippedRows));
      for (int32_t j = 0; j < K; ++j) {
        const __m256i atSign = _mm256_sll_epi32(rows, _mm_cvtsi32_si128(31 - j));
        const uint32_t accepted =
            static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(atSign)));
        chunk.accepted[g][j] = accepted;
        ask_for_faces(j, accepted);
      }
      chunk.rows[g] = K;
      continue;
    }
    uint32_t alive = 0xFF;
    int32_t j = 0;
    for (; j < K && alive != 0; ++j) {
      uint32_t accepted = 0;
      for (int c = 0; c < 8; ++c) {
        const int32_t entry = table[index_2D_array(j, c, K)];
        alive &= ~(static_cast<uint32_t>(entry < 1) << c);
        const uint32_t f = static_cast<uint32_t>(entry) - 1u;
        const bool inside = f < F;
        if (((alive >> c) & 1u) == 0) continue;
        if (!inside) return false;
        accepted |= flipped_bit(flippedWords, f) << c;
      }
      chunk.accepted[g][j] = accepted;
      ask_for_faces(j, accepted);
    }
    chunk.rows[g] = j;
  }
  return true;
}

// Second pass: the corners a and b of each lane's face (in a until then), whose positions it
// asks for. Lanes
// that add nothing take their own column's vertex, a vertex to read.
inline void find_corners(const FoldMesh& mesh, int32_t w0, int32_t groups, ColumnChunk& chunk) {
  for (int32_t g = 0; g < groups; ++g) {
    for (int32_t j = 0; j < chunk.rows[g]; ++j) {
      const uint32_t accepted = chunk.accepted[g][j];
      if (accepted == 0) continue;
      for (uint32_t m = ~accepted & 0xFFu; m != 0; m &= m - 1) {
        const int c = lowest_bit(m);
        chunk.a[g][j][c] = static_cast<uint32_t>(w0 + 8 * g + c);
        chunk.b[g][j][c] = static_cast<uint32_t>(w0 + 8 * g + c);
      }
      for (uint32_t m = accepted; m != 0; m &= m - 1) {
        const int c = lowest_bit(m);
        const int32_t* corners = mesh.faces + 3 * size_t(chunk.a[g][j][c]);
        const int32_t v0 = corners[0] - 1, v1 = corners[1] - 1, v2 = corners[2] - 1;
        const int32_t w = w0 + 8 * g + c;
        // other_corners without branches, which the position of w in a face would mispredict.
        const bool first = v0 == w;
        const int32_t a = first ? v1 : (v1 == w ? v0 : v1);
        const int32_t b = first ? v2 : (v2 == w ? v0 : v2);
        chunk.a[g][j][c] = static_cast<uint32_t>(a);
        chunk.b[g][j][c] = static_cast<uint32_t>(b);
        TULM_PREFETCH(mesh.vertices + 3 * size_t(a));
        TULM_PREFETCH(mesh.vertices + 3 * size_t(b));
      }
    }
  }
}

// Rows with at most this many terms add them one by one, in the scalar code's arithmetic.
constexpr int kFewLanes = 2;

// Last pass: each group's eight columns in lanes, a row's terms added together, each lane to
// its own sums, so that every column adds its terms in list order.
TULM_TARGET_AVX2 void add_gradients8(const FoldMesh& mesh, const VertexReader& reader, int32_t w0,
                                     int32_t groups, const ColumnChunk& chunk, float* G) {
  const __m256i laneBits = _mm256_set_epi32(128, 64, 32, 16, 8, 4, 2, 1);
  for (int32_t g = 0; g < groups; ++g) {
    const int32_t first = w0 + 8 * g;
    bool added = false;
    alignas(32) float sums[3][8];
    lanes::Points8 W{};
    bool haveW = false;
    for (int32_t j = 0; j < chunk.rows[g]; ++j) {
      const uint32_t accepted = chunk.accepted[g][j];
      if (accepted == 0) continue;
      if (!added) {
        added = true;
        for (int c = 0; c < 8; ++c) {
          const float* column = G + index_2D_array(0, first + c, 3);
          sums[0][c] = column[0];
          sums[1][c] = column[1];
          sums[2][c] = column[2];
        }
      }
      if (count_bits(accepted) <= kFewLanes) {
        for (uint32_t m = accepted; m != 0; m &= m - 1) {
          const int c = lowest_bit(m);
          float gradient[3];
          area_gradient(vertex_position(mesh, static_cast<int32_t>(chunk.a[g][j][c])),
                        vertex_position(mesh, static_cast<int32_t>(chunk.b[g][j][c])),
                        vertex_position(mesh, first + c), gradient);
          sums[0][c] = gradient[0] + sums[0][c];
          sums[1][c] = gradient[1] + sums[1][c];
          sums[2][c] = gradient[2] + sums[2][c];
        }
        continue;
      }
      if (!haveW) {
        haveW = true;
        __m128 own[8];
        for (int c = 0; c < 8; ++c) own[c] = reader.load(static_cast<uint32_t>(first + c));
        W = lanes::transposed8(own);
      }
      __m128 a[8], b[8];
      for (int c = 0; c < 8; ++c) {
        a[c] = reader.load(chunk.a[g][j][c]);
        b[c] = reader.load(chunk.b[g][j][c]);
      }
      __m256 gx, gy, gz;
      area_gradients8(lanes::transposed8(a), lanes::transposed8(b), W, gx, gy, gz);
      const __m256 take = _mm256_castsi256_ps(_mm256_cmpeq_epi32(
          _mm256_and_si256(_mm256_set1_epi32(static_cast<int32_t>(accepted)), laneBits), laneBits));
      const __m256 sx = _mm256_load_ps(sums[0]), sy = _mm256_load_ps(sums[1]),
                   sz = _mm256_load_ps(sums[2]);
      _mm256_store_ps(sums[0], _mm256_blendv_ps(sx, _mm256_add_ps(gx, sx), take));
      _mm256_store_ps(sums[1], _mm256_blendv_ps(sy, _mm256_add_ps(gy, sy), take));
      _mm256_store_ps(sums[2], _mm256_blendv_ps(sz, _mm256_add_ps(gz, sz), take));
    }
    if (!added) continue;
    for (int c = 0; c < 8; ++c) {
      float* column = G + index_2D_array(0, first + c, 3);
      column[0] = sums[0][c];
      column[1] = sums[1][c];
      column[2] = sums[2][c];
    }
  }
}

}  // namespace

#endif

bool add_flip_gradients_in_lanes(const FoldMesh& mesh, const FlippedFaces& flipped, int32_t begin,
                                 int32_t end, float* G) {
#if defined(TULM_HAVE_AVX2_TARGET)
  if (chosen_lanes().width < 8 || mesh.numVerts < 1 || mesh.numFaces < 1 ||
      mesh.numRows > kLaneRows) {
    return false;
  }
  const auto scalar_columns = [&](int32_t first, int32_t count) {
    auto gradients = flip_column_gradients(mesh, flipped, G);
    gradients.add_columns(count, [first](int32_t t) { return first + t; });
  };
  const VertexReader reader(mesh);
  const bool noneFlipped = flipped.none();
  const int32_t groups = (end - begin) / 8;
  const int32_t chunks = (groups + kChunkGroups - 1) / kChunkGroups;
  const auto first_column = [&](int32_t t) { return begin + 8 * kChunkGroups * t; };
  const auto groups_of = [&](int32_t t) {
    return std::min(kChunkGroups, groups - kChunkGroups * t);
  };
  // Chunk t is scanned kScanAhead steps before its gradients are added and has its corners
  // found one step before, in a ring of kScanAhead + 1.
  ColumnChunk ring[kScanAhead + 1];
  bool scanned[kScanAhead + 1] = {};
  for (int32_t t = -kScanAhead; t < chunks; ++t) {
    const int32_t next = t + kScanAhead;
    if (next < chunks) {
      bool& ok = scanned[next % (kScanAhead + 1)];
      ok = scan_rows(mesh, flipped.words(), noneFlipped, first_column(next), groups_of(next),
                     ring[next % (kScanAhead + 1)]);
      // A bad entry: the scalar code ends the call at the first one, in this chunk.
      if (!ok) scalar_columns(first_column(next), 8 * groups_of(next));
    }
    const int32_t cornered = t + 1;
    if (cornered >= 0 && cornered < chunks && scanned[cornered % (kScanAhead + 1)]) {
      find_corners(mesh, first_column(cornered), groups_of(cornered),
                   ring[cornered % (kScanAhead + 1)]);
    }
    if (t >= 0 && scanned[t % (kScanAhead + 1)]) {
      add_gradients8(mesh, reader, first_column(t), groups_of(t), ring[t % (kScanAhead + 1)], G);
    }
  }
  scalar_columns(begin + 8 * groups, end - begin - 8 * groups);
  return true;
#else
  (void)mesh, (void)flipped, (void)begin, (void)end, (void)G;
  return false;
#endif
}

}  // namespace tulm
