#include "core/folding/column_order_lanes.h"

#include <algorithm>
#include <cstddef>

#include "core/folding/gradient_columns.h"
#include "core/lane_choice.h"
#include "core/point_lanes.h"
#include "core/portability.h"

namespace tulm {
namespace {

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

bool flipped_entries_in_lanes(const FoldMesh& mesh, const uint64_t* flippedWords, bool everyFace,
                              int32_t begin, int32_t end, int64_t& listed) {
#if defined(TULM_HAVE_AVX2_TARGET)
  const int32_t width = chosen_lanes().width;
  if (width < 8 || mesh.numRows < 1 || mesh.numFaces <= 0) return false;
  if (everyFace && mesh.numFaces <= INT32_MAX / 3) {
    listed = every_entry_at_corners8(mesh, flippedWords, begin, end);
    return true;
  }
#if defined(TULM_HAVE_AVX512_TARGET)
  if (width >= 16) {
    listed = flipped_entries_in_sixteen_lanes(mesh, flippedWords, begin, end);
    return true;
  }
#endif
  listed = flipped_entries_in_eight_lanes(mesh, flippedWords, begin, end);
  return true;
#else
  (void)mesh, (void)flippedWords, (void)everyFace, (void)begin, (void)end, (void)listed;
  return false;
#endif
}

}  // namespace tulm
