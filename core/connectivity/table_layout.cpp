#include "core/connectivity/table_layout.h"

#include <cstring>
#include <vector>

namespace tulm {

void rows_to_columns_in_place(int32_t* table, int32_t numRows, int32_t K) {
  if (numRows <= 1 || K <= 1) return;  // both layouts are the same
  // The table is cut into blocks of B whole rows (B*K entries: small enough to stay in the
  // cache, large enough to move as one tile per column) and a tail of fewer than B rows.
  constexpr int64_t kBlockEntries = 16384;
  const int64_t B = kBlockEntries / K > 0 ? kBlockEntries / K : 1;
  const int64_t numBlocks = numRows / B;
  const int64_t blockRows = numBlocks * B;
  const int64_t tailRows = numRows - blockRows;
  const std::vector<int32_t> tail(table + blockRows * K, table + int64_t{numRows} * K);

  // Within each block, rows to K tiles of B entries, tile k holding column k of the block.
  std::vector<int32_t> block(static_cast<size_t>(B * K));
  for (int64_t b = 0; b < numBlocks; ++b) {
    int32_t* base = table + b * B * K;
    std::memcpy(block.data(), base, block.size() * sizeof(int32_t));
    for (int64_t v = 0; v < B; ++v) {
      for (int64_t k = 0; k < K; ++k) base[k * B + v] = block[v * K + k];
    }
  }

  // Tile k of block b moves from tile position b*K + k to k*numBlocks + b, each cycle of the
  // permutation followed once, one tile held aside.
  const int64_t numTiles = numBlocks * K;
  const size_t tileBytes = static_cast<size_t>(B) * sizeof(int32_t);
  std::vector<char> placed(static_cast<size_t>(numTiles), 0);
  std::vector<int32_t> held(static_cast<size_t>(B));
  const auto tile = [&](int64_t position) { return table + position * B; };
  for (int64_t start = 0; start < numTiles; ++start) {
    if (placed[start]) continue;
    std::memcpy(held.data(), tile(start), tileBytes);
    for (int64_t position = start;;) {
      placed[position] = 1;
      const int64_t source = (position % numBlocks) * K + position / numBlocks;
      if (source == start) {
        std::memcpy(tile(position), held.data(), tileBytes);
        break;
      }
      std::memcpy(tile(position), tile(source), tileBytes);
      position = source;
    }
  }

  // Columns now lie blockRows apart; each moves up to its place numRows apart, the last
  // first, so that none is overwritten before it moves. The tail rows fill the column ends.
  for (int64_t k = K - 1; k > 0; --k) {
    std::memmove(table + k * numRows, table + k * blockRows,
                 static_cast<size_t>(blockRows) * sizeof(int32_t));
  }
  for (int64_t v = 0; v < tailRows; ++v) {
    for (int64_t k = 0; k < K; ++k) table[k * numRows + blockRows + v] = tail[v * K + k];
  }
}

}  // namespace tulm
