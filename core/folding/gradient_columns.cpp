#include "core/folding/gradient_columns.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "core/folding/column_order_lanes.h"
#include "core/interrupt.h"

namespace tulm {
namespace {

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

}  // namespace

int64_t flipped_entries_at_corners(const FoldMesh& mesh, const FlippedFaces& flipped,
                                   bool everyFace, int32_t begin, int32_t end) {
  if (mesh.numRows > 32) return -1;
  if (begin >= end) return 0;
  int64_t listed = 0;
  if (flipped_entries_in_lanes(mesh, flipped.words(), everyFace, begin, end, listed)) {
    return listed;
  }
  if (everyFace) return flipped_entries_in_columns<true>(mesh, flipped.words(), begin, end);
  return flipped_entries_in_columns<false>(mesh, flipped.words(), begin, end);
}

namespace {

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
// computes them itself, so it never waits; it alone writes G, in face order. The flip pass has
// checked every corner and the memory is taken before: the lead throws only Interrupted, after
// which the help returns.
class PipelinedGradients {
 public:
  PipelinedGradients(const FoldMesh& mesh, const FlippedFaces& flipped)
      : mesh_(mesh), words_(flipped.words()), blocks_(block_count(mesh.numFaces)) {
    for (Slot& slot : slots_) slot.ready.store(-1, std::memory_order_relaxed);
  }

  void lead(float* G) {
    for (int32_t b = 0; b < blocks_; passed_.store(++b, std::memory_order_release)) {
      if (b % kBlocksPerPoll == 0) poll_interrupt();
      Slot& slot = slots_[b % kSlots];
      if (slot.ready.load(std::memory_order_acquire) == b) {
        add_block_gradients(slot.gradients, G);
        continue;
      }
      compute_block_gradients(mesh_, words_, b, own_);
      add_block_gradients(own_, G);
    }
  }

  // Fills slots a little ahead of the lead; returns once the lead has passed every block or
  // ended. A slot is written only after the lead has passed the block it held before.
  void help(const std::atomic<bool>& leadEnded) {
    // A block a little ahead of the lead: one it is about to reach would be computed twice.
    constexpr int32_t kLeadAhead = 2;
    int32_t c = 0;
    for (;;) {
      const int32_t passed = passed_.load(std::memory_order_acquire);
      c = std::max(c, passed + kLeadAhead);
      if (c >= blocks_ || leadEnded.load(std::memory_order_relaxed)) return;
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

  // Checks pieces until none is left, or until the user has pressed Ctrl-C: the lead then
  // throws Interrupted, and nothing reads what was checked.
  void take_all() {
    for (;;) {
      if (interrupt_requested()) return;
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

}  // namespace

int64_t add_face_order_gradients_beside_checks(const FoldMesh& mesh, const FlippedFaces& flipped,
                                               int64_t flippedCount, float* G) {
  const auto gradients = std::make_unique<PipelinedGradients>(mesh, flipped);
  ColumnChecks checks(mesh, flipped, flippedCount == mesh.numFaces);
  const auto lead = [&] {
    gradients->lead(G);
    checks.take_all();
    poll_interrupt();
  };
  // Returns once the lead has passed every block, which it does before its own checks.
  const auto help = [&](const std::atomic<bool>& leadEnded) {
    checks.take_all();
    gradients->help(leadEnded);
  };
  run_beside(2, lead, help);
  return checks.listed();
}

}  // namespace tulm
