#include "core/folding/fold_passes.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "core/folding/fold_model_lanes.h"
#include "core/lane_choice.h"
#include "core/parallel.h"
#include "core/point_lanes.h"
#include "core/portability.h"

namespace tulm {

namespace {

// Flipped faces whose gradients are computed at once, in face order.
constexpr int32_t kFaceGradientBatch = 32;

// Faces evaluated at once: their areas stay in the first level cache. A multiple of 64, so
// that the flip marks of two blocks never share a word of FlippedFaces.
constexpr int32_t kFacesPerBlock = 1024;
// Blocks whose faces take about as long to evaluate as starting a thread (32768 faces).
constexpr int32_t kBlockGrain = 32;

int32_t block_count(int32_t numFaces) { return (numFaces + kFacesPerBlock - 1) / kFacesPerBlock; }

// Bit i set where isFlipped(areas[i]), for i < size <= 64.
inline uint64_t flip_marks(const float* areas, int32_t size) {
  int32_t i = 0;
  uint64_t marks = flip_marks_in_lanes(areas, size, i);
  for (; i < size; ++i) marks |= static_cast<uint64_t>(isFlipped(areas[i])) << i;
  return marks;
}

// Evaluates the faces of `block`, marks the flipped ones unless `flipped` is null, and hands
// each flipped face f and its term (signed area + offset) to add(f, term), in face order.
template <class Add>
void flip_block(const FoldMesh& mesh, int32_t block, float offset, FlippedFaces* flipped, Add add) {
  float areas[kFacesPerBlock];
  const int32_t first = block * kFacesPerBlock;
  const int32_t count = std::min(mesh.numFaces - first, kFacesPerBlock);
  signed_face_areas(mesh, first, count, areas);
  // 64 faces at a time: their flip marks make one word, written once.
  for (int32_t start = 0; start < count; start += 64) {
    const int32_t size = std::min(64, count - start);
    const uint64_t marks = flip_marks(areas + start, size);
    if (marks == 0) continue;
    if (flipped != nullptr) flipped->mark_word(first + start, marks);
    for (uint64_t m = marks; m != 0; m &= m - 1) {
      const int32_t i = start + lowest_bit(m);
      add(first + i, areas[i] + offset);
    }
  }
}

inline uint32_t flipped_bit(const uint64_t* flippedWords, uint32_t f) {
  return static_cast<uint32_t>(flippedWords[f >> 6] >> (f & 63)) & 1u;
}

#if defined(TULM_HAVE_AVX2_TARGET)

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

#endif

// Adds the gradients of flipped faces, handed over in increasing face order, to the columns of
// G of their three corners, each as g + G: the sums that a VertexFaces listing each face at its
// corners in increasing order makes. A flipped face has three different corners (a face with a
// corner twice has a zero normal and is never flipped), so each column takes a face once.
class FaceOrderGradients {
 public:
  FaceOrderGradients(const FoldMesh& mesh, float* G) : mesh_(mesh), G_(G) {}

  // f's corners lie in 1..V: the flip pass has read them.
  void add_face(int32_t f) {
    const int32_t* stored = mesh_.faces + index_2D_array(0, f, 3);
    corners_[size_][0] = stored[0] - 1;
    corners_[size_][1] = stored[1] - 1;
    corners_[size_][2] = stored[2] - 1;
    // The columns lie anywhere in G: asked for now, they arrive before the batch adds to them.
    for (int j = 0; j < 3; ++j) TULM_PREFETCH(G_ + index_2D_array(0, corners_[size_][j], 3));
    if (++size_ == kFaceGradientBatch) flush();
  }

  void finish() { flush(); }

 private:
  void flush() {
    float g[9 * kFaceGradientBatch];
    face_gradients(mesh_, corners_, size_, g, kFaceGradientBatch);
    for (int32_t i = 0; i < size_; ++i) {
      for (int j = 0; j < 3; ++j) {
        float* column = G_ + index_2D_array(0, corners_[i][j], 3);
        const float* gj = g + 3 * j * kFaceGradientBatch + i;
        column[0] = gj[0] + column[0];
        column[1] = gj[kFaceGradientBatch] + column[1];
        column[2] = gj[2 * kFaceGradientBatch] + column[2];
      }
    }
    size_ = 0;
  }

  const FoldMesh& mesh_;
  float* G_;
  int32_t corners_[kFaceGradientBatch][3];
  int32_t size_ = 0;
};

// The gradients of the flipped faces of one block of faces, in face order: coordinate k of the
// gradient of the i-th flipped face at its corner j (0-based, in corners[i][j]) in
// g[(3 * j + k) * kFacesPerBlock + i].
struct BlockGradients {
  int32_t count = 0;
  int32_t corners[kFacesPerBlock][3];
  float g[9 * kFacesPerBlock];
};

// Computes the BlockGradients of block `block`, whose flipped faces are marked in `words`.
void compute_block_gradients(const FoldMesh& mesh, const uint64_t* words, int32_t block,
                             BlockGradients& out) {
  const int32_t first = block * kFacesPerBlock;
  const int32_t count = std::min(mesh.numFaces - first, kFacesPerBlock);
  int32_t n = 0;
  for (int32_t start = 0; start < count; start += 64) {
    for (uint64_t m = words[(first + start) >> 6]; m != 0; m &= m - 1) {
      // The flip pass has read the corners of every flipped face: they lie in 1..V.
      const int32_t* stored = mesh.faces + index_2D_array(0, first + start + lowest_bit(m), 3);
      out.corners[n][0] = stored[0] - 1;
      out.corners[n][1] = stored[1] - 1;
      out.corners[n][2] = stored[2] - 1;
      ++n;
    }
  }
  out.count = n;
  face_gradients(mesh, out.corners, n, out.g, kFacesPerBlock);
}

// Adds each face's gradients of `block` to the columns of G of its three corners, as g + G, face
// after face.
void add_block_gradients(const BlockGradients& block, float* G) {
  // The columns lie anywhere in G: asked for this many faces before they are added to.
  constexpr int32_t kAhead = 16;
  const auto ask_for_columns = [&](int32_t i) {
    for (int j = 0; j < 3; ++j) TULM_PREFETCH(G + index_2D_array(0, block.corners[i][j], 3));
  };
  for (int32_t i = 0; i < std::min(kAhead, block.count); ++i) ask_for_columns(i);
  for (int32_t i = 0; i < block.count; ++i) {
    if (i + kAhead < block.count) ask_for_columns(i + kAhead);
    for (int j = 0; j < 3; ++j) {
      float* column = G + index_2D_array(0, block.corners[i][j], 3);
      const float* g = block.g + 3 * j * kFacesPerBlock + i;
      column[0] = g[0] + column[0];
      column[1] = g[kFacesPerBlock] + column[1];
      column[2] = g[2 * kFacesPerBlock] + column[2];
    }
  }
}

// The gradients of the flipped faces marked in `flipped` added to G face by face by one thread
// (lead), while another (help) may compute the gradients of the blocks ahead of it into a few
// slots. The lead takes a block's gradients from its slot where they are ready and otherwise
// computes them itself, so it never waits; it alone writes G, in face order. Neither throws: the
// flip pass has checked every corner, and the memory is taken before.
class PipelinedGradients {
 public:
  PipelinedGradients(const FoldMesh& mesh, const FlippedFaces& flipped)
      : mesh_(mesh), words_(flipped.words()), blocks_(block_count(mesh.numFaces)) {
    for (Slot& slot : slots_) slot.ready.store(-1, std::memory_order_relaxed);
  }

  void lead(float* G) {
    for (int32_t b = 0; b < blocks_; passed_.store(++b, std::memory_order_release)) {
      Slot& slot = slots_[b % kSlots];
      if (slot.ready.load(std::memory_order_acquire) == b) {
        add_block_gradients(slot.gradients, G);
        continue;
      }
      compute_block_gradients(mesh_, words_, b, own_);
      add_block_gradients(own_, G);
    }
  }

  // Fills slots a little ahead of the lead; returns once the lead has passed every block. A
  // slot is written only after the lead has passed the block it held before.
  void help() {
    // A block a little ahead of the lead: one it is about to reach would be computed twice.
    constexpr int32_t kLeadAhead = 2;
    int32_t c = 0;
    for (;;) {
      const int32_t passed = passed_.load(std::memory_order_acquire);
      c = std::max(c, passed + kLeadAhead);
      if (c >= blocks_) return;
      if (c >= passed + kSlots) {
        // The slot still holds a block that the lead has not passed.
        std::this_thread::yield();
        continue;
      }
      Slot& slot = slots_[c % kSlots];
      compute_block_gradients(mesh_, words_, c, slot.gradients);
      slot.ready.store(c, std::memory_order_release);
      ++c;
    }
  }

 private:
  static constexpr int32_t kSlots = 4;
  struct Slot {
    std::atomic<int32_t> ready;  // the block whose gradients the slot holds, or -1
    BlockGradients gradients;
  };

  const FoldMesh& mesh_;
  const uint64_t* words_;
  int32_t blocks_;
  std::atomic<int32_t> passed_{0};  // the blocks whose gradients the lead has added
  Slot slots_[kSlots];
  BlockGradients own_;  // the blocks the lead computes itself
};

// flipped_entries_at_corners of the whole table in pieces of columns that threads take in turn:
// while one thread adds the gradients, the other checks; the first done takes pieces too.
class ColumnChecks {
 public:
  ColumnChecks(const FoldMesh& mesh, const FlippedFaces& flipped, bool everyFace)
      : mesh_(mesh), flipped_(flipped), everyFace_(everyFace) {}

  // Checks pieces until none is left.
  void take_all() {
    for (;;) {
      const int32_t piece = next_.fetch_add(1, std::memory_order_relaxed);
      if (piece >= kPieces) return;
      const int64_t begin = int64_t{mesh_.numVerts} * piece / kPieces;
      const int64_t end = int64_t{mesh_.numVerts} * (piece + 1) / kPieces;
      listed_[piece] = flipped_entries_at_corners(
          mesh_, flipped_, everyFace_, static_cast<int32_t>(begin), static_cast<int32_t>(end));
    }
  }

  // After every piece was taken and checked.
  int64_t listed() const {
    int64_t total = 0;
    for (int64_t count : listed_) {
      if (count < 0) return -1;
      total += count;
    }
    return total;
  }

 private:
  static constexpr int32_t kPieces = 16;
  const FoldMesh& mesh_;
  const FlippedFaces& flipped_;
  bool everyFace_;
  std::atomic<int32_t> next_{0};
  int64_t listed_[kPieces] = {};
};

// Columns whose flipped entries are found before their faces are read: the faces lie anywhere
// in the face matrix, and are asked for in the meantime.
constexpr int32_t kScanColumns = 16;

// The scan of one column: bit j of rows set where entry j is flipped (every entry, everyFace),
// up to the column's end. False for an entry above F before it.
inline bool flipped_rows_of(const int32_t* column, int32_t K, uint32_t F, const uint64_t* words,
                            bool everyFace, uint32_t& rows) {
  rows = 0;
  for (int32_t j = 0; j < K; ++j) {
    const uint32_t f = static_cast<uint32_t>(column[j]) - 1u;
    // An entry below 1 ends the column; 0 and the negative entries wrap to F and above.
    if (f >= F) {
      if (column[j] < 1) return true;
      return false;
    }
    rows |= (everyFace ? 1u : flipped_bit(words, f)) << j;
  }
  return true;
}

inline void ask_for_faces(const int32_t* faces, const int32_t* column, uint32_t rows) {
  for (uint32_t m = rows; m != 0; m &= m - 1) {
    TULM_PREFETCH(faces + 3 * (size_t(column[lowest_bit(m)]) - 1));
  }
}

// The second step of a scan: whether the flipped entries of the columns w0..w0+count-1, rows
// flippedRows[c] of column w0 + c, name faces with that corner, in increasing order. Adds them
// to listed.
inline bool flipped_entries_right(const FoldMesh& mesh, int32_t w0, int32_t count,
                                  const uint32_t* flippedRows, int64_t& listed) {
  const int32_t K = mesh.numRows;
  uint32_t right = 1;
  for (int32_t c = 0; c < count; ++c) {
    const int32_t* column = mesh.vertexFaces + index_2D_array(0, w0 + c, K);
    const int32_t corner = w0 + c + 1;
    int32_t previous = 0;
    for (uint32_t m = flippedRows[c]; m != 0; m &= m - 1) {
      const int32_t entry = column[lowest_bit(m)];
      const int32_t* corners = mesh.faces + 3 * (size_t(entry) - 1);
      const uint32_t atCorner =
          (corners[0] == corner) | (corners[1] == corner) | (corners[2] == corner);
      right &= atCorner & static_cast<uint32_t>(entry > previous);
      previous = entry;
      ++listed;
    }
  }
  return right != 0;
}

// flipped_entries_at_corners column by column; kEveryFace: every face is flipped. For K <= 32: a
// column's flipped rows as bits.
template <bool kEveryFace>
int64_t flipped_entries_in_columns(const FoldMesh& mesh, const uint64_t* words, int32_t begin,
                                   int32_t end) {
  const int32_t K = mesh.numRows;
  const uint32_t F = static_cast<uint32_t>(mesh.numFaces);
  int64_t listed = 0;
  for (int32_t w0 = begin; w0 < end; w0 += kScanColumns) {
    const int32_t count = std::min(kScanColumns, end - w0);
    uint32_t flippedRows[kScanColumns];
    for (int32_t c = 0; c < count; ++c) {
      const int32_t* column = mesh.vertexFaces + index_2D_array(0, w0 + c, K);
      if (!flipped_rows_of(column, K, F, words, kEveryFace, flippedRows[c])) return -1;
      ask_for_faces(mesh.faces, column, flippedRows[c]);
    }
    if (!flipped_entries_right(mesh, w0, count, flippedRows, listed)) return -1;
  }
  return listed;
}

#if defined(TULM_HAVE_AVX2_TARGET)

// A scan of VertexFaces as one stream of K * V entries, in vectors that take no notice of where
// columns begin: what it keeps from one entry to the next, and the check of the entries one by
// one. It finds what flipped_entries_at_corners finds.
class FlatScan {
 public:
  FlatScan(const FoldMesh& mesh, const uint64_t* words) : mesh_(mesh), words_(words) {}

  // Whether entry `at` of the stream lies in a column that has not ended before it.
  bool live(size_t at) const { return at >= liveFrom_; }

  // A flipped entry of column w (0-based): counted; wrong unless it lies above the flipped entry
  // of the same column before it and its face has w as a corner. The face lies anywhere in the
  // face matrix: it is asked for now and read kWaiting flipped entries later.
  void check_flipped(int32_t entry, int32_t w) {
    right_ &= (w != lastColumn_) | (entry > lastEntry_);
    lastColumn_ = w;
    lastEntry_ = entry;
    ++listed_;
    const uint32_t slot = waiting_++ % kWaiting;
    if (waiting_ > kWaiting) check_corner(waitingEntries_[slot], waitingColumns_[slot]);
    waitingEntries_[slot] = entry;
    waitingColumns_[slot] = w;
    TULM_PREFETCH(mesh_.faces + 3 * (size_t(entry) - 1));
  }

  // The entries at..at+count-1 of the stream, entry at + k in column columns[k], as the column
  // code reads them: each column up to its first entry below 1. False at an entry above F before
  // that.
  bool check_entries(size_t at, int32_t count, const int32_t* columns) {
    const uint32_t F = static_cast<uint32_t>(mesh_.numFaces);
    for (int32_t k = 0; k < count; ++k) {
      if (at + k < liveFrom_) continue;
      const int32_t entry = mesh_.vertexFaces[at + k];
      if (entry < 1) {
        liveFrom_ = (size_t(columns[k]) + 1) * size_t(mesh_.numRows);
        continue;
      }
      const uint32_t f = static_cast<uint32_t>(entry) - 1u;
      if (f >= F) return false;
      if (flipped_bit(words_, f)) check_flipped(entry, columns[k]);
    }
    return true;
  }

  // The `count` blocks of 64 entries from `at` on, the entries of block b in columns
  // columns[64 * b + k]. Where the bit b of outsideBlocks is clear, block b holds faces only, and
  // the bits of flippedLanes[b] are its flipped entries; unless it starts in a column that has
  // ended, only those are checked. Other blocks are checked entry by entry. False at an entry above
  // F before its column's end.
  bool check_blocks(size_t at, int32_t count, const uint64_t* flippedLanes, uint32_t outsideBlocks,
                    const int32_t* columns) {
    for (int32_t b = 0; b < count; ++b) {
      const size_t first = at + 64 * size_t(b);
      const int32_t* blockColumns = columns + 64 * b;
      if (((outsideBlocks >> b) & 1u) != 0 || !live(first)) {
        if (!check_entries(first, 64, blockColumns)) return false;
        continue;
      }
      for (uint64_t m = flippedLanes[b]; m != 0; m &= m - 1) {
        const int k = lowest_bit(m);
        check_flipped(mesh_.vertexFaces[first + k], blockColumns[k]);
      }
    }
    return true;
  }

  // `count` flipped entries checked together and right, the last of them `entry` in column w.
  void add_checked(int32_t count, int32_t entry, int32_t w) {
    listed_ += count;
    lastColumn_ = w;
    lastEntry_ = entry;
  }

  bool right() const { return right_ != 0; }

  // The flipped entries, or -1 where one was wrong.
  int64_t listed() {
    for (uint32_t i = 0; i < std::min(waiting_, kWaiting); ++i) {
      check_corner(waitingEntries_[i], waitingColumns_[i]);
    }
    waiting_ = 0;
    return right_ != 0 ? listed_ : -1;
  }

 private:
  static constexpr uint32_t kWaiting = 32;

  void check_corner(int32_t entry, int32_t w) {
    const int32_t* corners = mesh_.faces + 3 * (size_t(entry) - 1);
    const int32_t corner = w + 1;
    right_ &= (corners[0] == corner) | (corners[1] == corner) | (corners[2] == corner);
  }

  const FoldMesh& mesh_;
  const uint64_t* words_;
  size_t liveFrom_ = 0;  // the entries before it lie after their column's end
  int32_t lastColumn_ = -1;
  int32_t lastEntry_ = 0;
  uint32_t right_ = 1;
  int64_t listed_ = 0;
  uint32_t waiting_ = 0;  // flipped entries whose corners were asked for
  int32_t waitingEntries_[kWaiting];
  int32_t waitingColumns_[kWaiting];
};

// Blocks of 64 entries whose flip marks the flat scans gather before they check any: the
// checks' branches, which follow the flipped entries, then never wait on a gather.
constexpr int32_t kScanBlocks = 8;
constexpr int32_t kScanBatch = 64 * kScanBlocks;

// The column and row of each of eight consecutive entries of the stream, lane k for entry at + k.
struct EntryPlaces8 {
  __m256i column, row;
  __m256i columnStep, rowStep, numRows;

  TULM_TARGET_AVX2 explicit EntryPlaces8(int32_t K, int32_t firstColumn) {
    alignas(32) int32_t columns[8], rows[8];
    for (int k = 0; k < 8; ++k) {
      columns[k] = firstColumn + k / K;
      rows[k] = k % K;
    }
    column = _mm256_load_si256(reinterpret_cast<const __m256i*>(columns));
    row = _mm256_load_si256(reinterpret_cast<const __m256i*>(rows));
    columnStep = _mm256_set1_epi32(8 / K);
    rowStep = _mm256_set1_epi32(8 % K);
    numRows = _mm256_set1_epi32(K);
  }
  // To the eight entries after.
  TULM_TARGET_AVX2 void step() {
    row = _mm256_add_epi32(row, rowStep);
    column = _mm256_add_epi32(column, columnStep);
    const __m256i wrapped = _mm256_cmpgt_epi32(numRows, row);  // all ones where not wrapped
    row = _mm256_sub_epi32(row, _mm256_andnot_si256(wrapped, numRows));
    column = _mm256_sub_epi32(column, _mm256_andnot_si256(wrapped, _mm256_set1_epi32(-1)));
  }
  TULM_TARGET_AVX2 void store_column(int32_t* to) const {
    _mm256_store_si256(reinterpret_cast<__m256i*>(to), column);
  }
};

// The last entries of a flat scan, fewer than a batch, one by one.
template <class Places>
bool check_last_entries(FlatScan& scan, Places& places, int32_t lanes, size_t at, size_t total) {
  alignas(64) int32_t columns[kScanBatch];
  for (int32_t k = 0; at + k < total; k += lanes) {
    places.store_column(columns + k);
    places.step();
  }
  return scan.check_entries(at, static_cast<int32_t>(total - at), columns);
}

// flipped_entries_at_corners as a flat scan in AVX2's eight lanes, with the flip marks of the
// entries gathered as 32-bit words (bit f & 31 of word f >> 5). A block of 64 entries that holds
// an entry outside 1..F, or starts in a column that has ended, is checked entry by entry; in any
// other, all 64 entries are faces before their column's end, and only the flipped ones are
// checked.
TULM_TARGET_AVX2 int64_t flipped_entries_in_eight_lanes(const FoldMesh& mesh, const uint64_t* words,
                                                        int32_t begin, int32_t end) {
  const int32_t* const table = mesh.vertexFaces;
  const size_t total = size_t(mesh.numRows) * size_t(end);
  const int* const words32 = reinterpret_cast<const int*>(words);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i lastFace = _mm256_set1_epi32(mesh.numFaces - 1);
  const __m256i low5 = _mm256_set1_epi32(31);
  FlatScan scan(mesh, words);
  EntryPlaces8 places(mesh.numRows, begin);
  alignas(32) int32_t columns[kScanBatch];
  size_t at = size_t(mesh.numRows) * size_t(begin);
  for (; at + kScanBatch <= total; at += kScanBatch) {
    uint64_t flippedLanes[kScanBlocks];
    uint32_t outsideBlocks = 0;
    for (int32_t b = 0; b < kScanBlocks; ++b) {
      uint64_t bits = 0;
      __m256i outside = _mm256_setzero_si256();
      for (int32_t v = 0; v < 8; ++v) {
        const int32_t k = 64 * b + 8 * v;
        const __m256i entries =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + at + k));
        outside = _mm256_or_si256(outside, lanes::outside(entries, 1, mesh.numFaces));
        // Into 0..F-1, so that every lane reads a word of the marks; a lane outside is not taken.
        const __m256i f = _mm256_min_epu32(_mm256_sub_epi32(entries, one), lastFace);
        const __m256i word = _mm256_i32gather_epi32(words32, _mm256_srli_epi32(f, 5), 4);
        const __m256i bit =
            _mm256_and_si256(_mm256_srlv_epi32(word, _mm256_and_si256(f, low5)), one);
        const uint64_t marks = static_cast<uint32_t>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(bit, one))));
        bits |= marks << (8 * v);
        places.store_column(columns + k);
        places.step();
      }
      flippedLanes[b] = bits;
      outsideBlocks |= static_cast<uint32_t>(!_mm256_testz_si256(outside, outside)) << b;
    }
    if (!scan.check_blocks(at, kScanBlocks, flippedLanes, outsideBlocks, columns)) return -1;
    if (!scan.right()) return -1;
  }
  if (!check_last_entries(scan, places, 8, at, total)) return -1;
  return scan.listed();
}

// flipped_entries_in_eight_lanes where every face is flipped and 3 * F fits an int32: every entry
// is checked, eight in lanes with the corners of their faces gathered. Gathering eight at a time
// is faster than sixteen on the processors we measured, AVX-512 or not.
TULM_TARGET_AVX2 int64_t every_entry_at_corners8(const FoldMesh& mesh, const uint64_t* words,
                                                 int32_t begin, int32_t end) {
  constexpr int32_t kBlock = 32;
  const int32_t* const table = mesh.vertexFaces;
  const size_t total = size_t(mesh.numRows) * size_t(end);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i three = _mm256_set1_epi32(3);
  const __m256i zero = _mm256_setzero_si256();
  FlatScan scan(mesh, words);
  EntryPlaces8 places(mesh.numRows, begin);
  alignas(32) int32_t columns[kBlock];
  __m256i previous = zero;  // the eight entries before
  size_t at = size_t(mesh.numRows) * size_t(begin);
  for (; at + kBlock <= total; at += kBlock) {
    __m256i entries[4];
    __m256i outside = zero;
    for (int32_t v = 0; v < 4; ++v) {
      entries[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + at + 8 * v));
      outside = _mm256_or_si256(outside, lanes::outside(entries[v], 1, mesh.numFaces));
    }
    if (!_mm256_testz_si256(outside, outside) || !scan.live(at)) {
      for (int32_t v = 0; v < 4; ++v) {
        places.store_column(columns + 8 * v);
        places.step();
      }
      if (!scan.check_entries(at, kBlock, columns)) return -1;
      previous = entries[3];
      continue;
    }
    for (int32_t v = 0; v < 4; ++v) {
      const __m256i first = _mm256_mullo_epi32(_mm256_sub_epi32(entries[v], one), three);
      const __m256i c0 = _mm256_i32gather_epi32(mesh.faces, first, 4);
      const __m256i c1 = _mm256_i32gather_epi32(mesh.faces + 1, first, 4);
      const __m256i c2 = _mm256_i32gather_epi32(mesh.faces + 2, first, 4);
      const __m256i corner = _mm256_add_epi32(places.column, one);
      const __m256i atCorner = _mm256_or_si256(
          _mm256_or_si256(_mm256_cmpeq_epi32(c0, corner), _mm256_cmpeq_epi32(c1, corner)),
          _mm256_cmpeq_epi32(c2, corner));
      // Lane k's entry above lane k - 1's, lane 0's above the last of the vector before, unless
      // the lane starts its column.
      const __m256i last =
          _mm256_permutevar8x32_epi32(v > 0 ? entries[v - 1] : previous, _mm256_set1_epi32(7));
      const __m256i before = _mm256_blend_epi32(
          _mm256_permutevar8x32_epi32(entries[v], _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6)), last,
          1);
      const __m256i increasing = _mm256_or_si256(_mm256_cmpgt_epi32(entries[v], before),
                                                 _mm256_cmpeq_epi32(places.row, zero));
      if (_mm256_movemask_epi8(_mm256_and_si256(atCorner, increasing)) != -1) return -1;
      if (v == 3) {
        scan.add_checked(kBlock, table[at + kBlock - 1], _mm256_extract_epi32(places.column, 7));
      }
      places.step();
    }
    previous = entries[3];
  }
  if (!check_last_entries(scan, places, 8, at, total)) return -1;
  return scan.listed();
}

#endif

#if defined(TULM_HAVE_AVX512_TARGET)

// EntryPlaces8 for sixteen entries.
struct EntryPlaces16 {
  __m512i column, row;
  __m512i columnStep, rowStep, numRows;

  TULM_TARGET_AVX512 explicit EntryPlaces16(int32_t K, int32_t firstColumn) {
    alignas(64) int32_t columns[16], rows[16];
    for (int k = 0; k < 16; ++k) {
      columns[k] = firstColumn + k / K;
      rows[k] = k % K;
    }
    column = _mm512_load_si512(columns);
    row = _mm512_load_si512(rows);
    columnStep = _mm512_set1_epi32(16 / K);
    rowStep = _mm512_set1_epi32(16 % K);
    numRows = _mm512_set1_epi32(K);
  }
  // To the sixteen entries after.
  TULM_TARGET_AVX512 void step() {
    row = _mm512_add_epi32(row, rowStep);
    column = _mm512_add_epi32(column, columnStep);
    const __mmask16 wrapped = _mm512_cmpge_epi32_mask(row, numRows);
    row = _mm512_mask_sub_epi32(row, wrapped, row, numRows);
    column = _mm512_mask_add_epi32(column, wrapped, column, _mm512_set1_epi32(1));
  }
  TULM_TARGET_AVX512 void store_column(int32_t* to) const { _mm512_store_si512(to, column); }
};

// flipped_entries_in_eight_lanes in AVX-512's sixteen.
TULM_TARGET_AVX512 int64_t flipped_entries_in_sixteen_lanes(const FoldMesh& mesh,
                                                            const uint64_t* words, int32_t begin,
                                                            int32_t end) {
  const int32_t* const table = mesh.vertexFaces;
  const size_t total = size_t(mesh.numRows) * size_t(end);
  const int* const words32 = reinterpret_cast<const int*>(words);
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i lastFace = _mm512_set1_epi32(mesh.numFaces - 1);
  const __m512i low5 = _mm512_set1_epi32(31);
  FlatScan scan(mesh, words);
  EntryPlaces16 places(mesh.numRows, begin);
  alignas(64) int32_t columns[kScanBatch];
  size_t at = size_t(mesh.numRows) * size_t(begin);
  for (; at + kScanBatch <= total; at += kScanBatch) {
    uint64_t flippedLanes[kScanBlocks];
    uint32_t outsideBlocks = 0;
    for (int32_t b = 0; b < kScanBlocks; ++b) {
      uint64_t bits = 0;
      __mmask16 outside = 0;
      for (int32_t v = 0; v < 4; ++v) {
        const int32_t k = 64 * b + 16 * v;
        const __m512i entries = _mm512_loadu_si512(table + at + k);
        outside |= lanes::outside16(entries, 1, mesh.numFaces);
        const __m512i f = _mm512_min_epu32(_mm512_sub_epi32(entries, one), lastFace);
        const __m512i word = _mm512_i32gather_epi32(_mm512_srli_epi32(f, 5), words32, 4);
        const __mmask16 marks =
            _mm512_test_epi32_mask(_mm512_srlv_epi32(word, _mm512_and_si512(f, low5)), one);
        bits |= uint64_t{marks} << (16 * v);
        places.store_column(columns + k);
        places.step();
      }
      flippedLanes[b] = bits;
      outsideBlocks |= static_cast<uint32_t>(outside != 0) << b;
    }
    if (!scan.check_blocks(at, kScanBlocks, flippedLanes, outsideBlocks, columns)) return -1;
    if (!scan.right()) return -1;
  }
  if (!check_last_entries(scan, places, 16, at, total)) return -1;
  return scan.listed();
}

#endif

}  // namespace

int64_t flipped_entries_at_corners(const FoldMesh& mesh, const FlippedFaces& flipped,
                                   bool everyFace, int32_t begin, int32_t end) {
  if (mesh.numRows > 32) return -1;
  if (begin >= end) return 0;
#if defined(TULM_HAVE_AVX2_TARGET)
  const int32_t width = chosen_lanes().width;
  if (width >= 8 && mesh.numRows >= 1 && mesh.numFaces > 0) {
    if (everyFace && mesh.numFaces <= INT32_MAX / 3) {
      return every_entry_at_corners8(mesh, flipped.words(), begin, end);
    }
#if defined(TULM_HAVE_AVX512_TARGET)
    if (width >= 16) {
      return flipped_entries_in_sixteen_lanes(mesh, flipped.words(), begin, end);
    }
#endif
    return flipped_entries_in_eight_lanes(mesh, flipped.words(), begin, end);
  }
#endif
  if (everyFace) return flipped_entries_in_columns<true>(mesh, flipped.words(), begin, end);
  return flipped_entries_in_columns<false>(mesh, flipped.words(), begin, end);
}

bool add_flip_gradients_in_lanes(const FoldMesh& mesh, const FlippedFaces& flipped, int32_t begin,
                                 int32_t end, float* G) {
#if defined(TULM_HAVE_AVX2_TARGET)
  if (chosen_lanes().width < 8 || mesh.numVerts < 1 || mesh.numFaces < 1 ||
      mesh.numRows > kLaneRows) {
    return false;
  }
  const auto scalar_columns = [&](int32_t first, int32_t count) {
    const auto accept = [&flipped](int32_t f) { return flipped.has(f); };
    ColumnGradients<decltype(accept), AddGradient> gradients(mesh, G, accept, AddGradient{});
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

float flip_face_pass(const FoldMesh& mesh, float offset, FlippedFaces* flipped) {
  const int32_t numBlocks = block_count(mesh.numFaces);
  float penalty = 0.0f;
  if (numBlocks < 2 * kBlockGrain || thread_count() == 1) {
    for (int32_t block = 0; block < numBlocks; ++block) {
      flip_block(mesh, block, offset, flipped,
                 [&](int32_t, float term) { penalty = term + penalty; });
    }
    return penalty;
  }
  // Each block keeps its terms, so that no thread waits on another; the calling thread then
  // adds them in face order. They are as many as the flipped faces, in small pieces that the
  // allocator takes from memory it has in use.
  std::vector<std::vector<float>> terms(numBlocks);
  parallel_for(numBlocks, kBlockGrain, [&](int32_t begin, int32_t end) {
    float blockTerms[kFacesPerBlock];
    for (int32_t block = begin; block < end; ++block) {
      int32_t count = 0;
      flip_block(mesh, block, offset, flipped,
                 [&](int32_t, float term) { blockTerms[count++] = term; });
      terms[block].assign(blockTerms, blockTerms + count);
    }
  });
  for (const std::vector<float>& block : terms) {
    for (float term : block) penalty = term + penalty;
  }
  return penalty;
}

float flip_face_pass_with_gradients(const FoldMesh& mesh, float offset, float* G) {
  const int32_t numBlocks = block_count(mesh.numFaces);
  FlippedFaces flipped(mesh.numFaces);
  float penalty = 0.0f;
  int64_t flippedCount = 0, listed = -1;
  if (numBlocks >= 2 * kBlockGrain && thread_count() > 1) {
    // The flip pass on every thread; then the gradients face by face on one while another checks
    // the columns and then computes the gradients of the faces ahead of it. Where every face is
    // flipped, the adds into G alone take about as long as the check and the gradients together.
    penalty = flip_face_pass(mesh, offset, &flipped);
    flippedCount = flipped.count();
    if (flippedCount == 0) {
      add_flip_gradients(mesh, flipped, G);
      return penalty;
    }
    const auto gradients = std::make_unique<PipelinedGradients>(mesh, flipped);
    ColumnChecks checks(mesh, flipped, flippedCount == mesh.numFaces);
    const auto lead = [&] {
      gradients->lead(G);
      checks.take_all();
    };
    // Returns once the lead has passed every block, which it does before its own checks.
    const auto help = [&](const std::atomic<bool>&) {
      checks.take_all();
      gradients->help();
    };
    run_beside(2, lead, help);
    listed = checks.listed();
  } else {
    FaceOrderGradients gradients(mesh, G);
    for (int32_t block = 0; block < numBlocks; ++block) {
      flip_block(mesh, block, offset, &flipped, [&](int32_t f, float term) {
        penalty = term + penalty;
        ++flippedCount;
        gradients.add_face(f);
      });
    }
    gradients.finish();
    // Nothing to add: the columns only check their entries.
    if (flippedCount == 0) {
      add_flip_gradients(mesh, flipped, G);
      return penalty;
    }
    listed =
        flipped_entries_at_corners(mesh, flipped, flippedCount == mesh.numFaces, 0, mesh.numVerts);
  }
  if (listed == 3 * flippedCount) return penalty;
  // Any other table: its columns in their order, from the zeros again.
  std::fill(G, G + 3 * static_cast<size_t>(mesh.numVerts), 0.0f);
  add_flip_gradients(mesh, flipped, G);
  return penalty;
}

float area_change_face_pass(const FoldMesh& mesh, const float* originalAreas, float* areas) {
  parallel_for(block_count(mesh.numFaces), kBlockGrain, [&](int32_t begin, int32_t end) {
    const int32_t first = begin * kFacesPerBlock;
    const int32_t last = std::min(mesh.numFaces, end * kFacesPerBlock);
    signed_face_areas(mesh, first, last - first, areas + first);
  });
  float penalty = 0.0f;
  for (int32_t f = 0; f < mesh.numFaces; ++f) {
    const float d = areas[f] - originalAreas[f];
    penalty = d * d + penalty;
  }
  return penalty;
}

float visit_pass(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits, float offset,
                 float* areas, FlippedFaces* flipped, InvolvedVertices* involved) {
  // New faces are evaluated in batches (see signed_face_areas), in the order they are met. A face
  // waiting in the batch holds a non-zero mark so that it is not queued twice; a face whose
  // area comes out exactly 0 may be queued again later, as it would be evaluated again.
  constexpr int32_t kBatch = 64;
  const float kQueued = 1.0f;
  int32_t queue[kBatch] = {};
  float queuedAreas[kBatch];
  int32_t size = 0;
  float penalty = 0.0f;
  const auto flush = [&] {
    signed_face_areas_of(mesh, queue, size, queuedAreas);
    for (int32_t i = 0; i < size; ++i) {
      const int32_t f = queue[i];
      const float s = queuedAreas[i];
      areas[f] = s;
      if (!isFlipped(s)) continue;
      penalty = (s + offset) + penalty;
      if (flipped != nullptr) flipped->mark(f);
      if (involved == nullptr) continue;
      for (int32_t j = 0; j < 3; ++j) involved->add(mesh.faces[index_2D_array(j, f, 3)] - 1);
    }
    size = 0;
  };

  const int32_t count = visit != nullptr ? numVisits : mesh.numVerts;
  for (int32_t t = 0; t < count; ++t) {
    int32_t v = t;
    if (visit != nullptr) {
      check_index("visit", visit[t], t, 0, 1, mesh.numVerts);
      v = visit[t] - 1;
    }
    for_each_face_of_vertex(mesh, v, [&](int32_t f) {
      // The cache doubles as the evaluated flag: a NaN area is not 0 and stays evaluated.
      if (areas[f] != 0.0f) return;
      check_face_corners(mesh, f);  // where a face-by-face pass would, so errors keep their order
      areas[f] = kQueued;
      queue[size++] = f;
      if (size == kBatch) flush();
    });
  }
  flush();
  return penalty;
}

std::vector<int32_t> visit_and_list(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                    float offset, float* areas, FlippedFaces* flipped, float* P,
                                    bool wantColumns, const CreateInvolvedList& createList) {
  if (!createList && !wantColumns) {
    *P = visit_pass(mesh, visit, numVisits, offset, areas, flipped, nullptr);
    return {};
  }
  InvolvedVertices involved(mesh.numVerts);
  *P = visit_pass(mesh, visit, numVisits, offset, areas, flipped, &involved);
  std::vector<int32_t> list = involved.take_list();
  if (createList) {
    int32_t* L = createList(static_cast<int32_t>(list.size()));
    if (!list.empty()) std::memcpy(L, list.data(), list.size() * sizeof(int32_t));
  }
  return list;
}

}  // namespace tulm
