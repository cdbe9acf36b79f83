#include "core/connectivity/TULM_convertFaces2VertNbors.h"

#include <cstring>
#include <vector>

#include "core/connectivity/face_corners.h"
#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {
namespace {

// The neighbours of every vertex that a face names, one row each in one block: the row's fill
// count, then its entries. A row has room for twice the vertex's face-corner count, since each
// face adds at most two neighbours to each of its corners.
//
// On a mesh whose vertices all have about the same number of faces, every row gets the same
// width, so a vertex's count and entries share a cache line and rows are found by arithmetic.
// Otherwise (a few very busy vertices, or most vertices named by no face) each named vertex
// gets a row of its own width, placed in the order the faces first name it, so the work
// follows the faces rather than numVerts.
class NeighborRows {
 public:
  NeighborRows(const int32_t* faces, int32_t numFaces, const FaceCornerCounts& counts)
      : numVerts_(static_cast<int64_t>(counts.count.size())),
        width_(1 + 2 * int64_t{counts.largest}) {
    const int64_t packed = numVerts_ + 6 * int64_t{numFaces};
    if (width_ * numVerts_ <= 2 * packed) {
      block_ = ZeroedArray<int32_t>(static_cast<size_t>(width_ * numVerts_));
      return;
    }
    rowStart_ = ZeroedArray<int64_t>(static_cast<size_t>(numVerts_));
    block_ = ZeroedArray<int32_t>(static_cast<size_t>(packed));
    int64_t next = 0;
    for (int32_t i = 0; i < 3 * numFaces; ++i) {
      const int32_t v = faces[i] - 1;
      if (rowStart_[v] != 0) continue;
      rowStart_[v] = next + 1;  // 0 marks a vertex without a row
      next += 1 + 2 * int64_t{counts.count[v]};
      named_.push_back(v);
    }
  }

  bool uniform() const { return rowStart_.size() == 0; }
  int32_t* row(int32_t v) { return &block_[uniform() ? v * width_ : rowStart_[v] - 1]; }
  // The vertices that have a row when the rows are not uniform.
  const std::vector<int32_t>& named() const { return named_; }

 private:
  int64_t numVerts_;
  int64_t width_;
  ZeroedArray<int32_t> block_;
  ZeroedArray<int64_t> rowStart_;
  std::vector<int32_t> named_;
};

// Records the undirected pair (p, q) of 0-based vertices unless row p holds it already; both
// directions are always entered together, so searching row p is enough. Returns the larger
// of the two rows' new lengths, 0 when nothing was added.
int32_t AddNeighbors(int32_t p, int32_t q, NeighborRows& rows) {
  if (p == q) return 0;
  int32_t* rowP = rows.row(p);
  for (int32_t k = 1; k <= rowP[0]; ++k) {
    if (rowP[k] == q + 1) return 0;
  }
  rowP[++rowP[0]] = q + 1;
  int32_t* rowQ = rows.row(q);
  rowQ[++rowQ[0]] = p + 1;
  return rowP[0] > rowQ[0] ? rowP[0] : rowQ[0];
}

// Enters the undirected pair (p, q) of 0-based vertices into a table of K slots per row held
// row by row, unless row p holds it already (both directions are entered together, so
// searching row p is enough). A row's entries come first, zeros after, so the search also
// finds where the entry goes. Returns false, entering nothing, when one of the rows is full.
bool add_neighbour_pair(int32_t p, int32_t q, int32_t K, int32_t* table) {
  if (p == q) return true;
  int32_t* rowP = table + int64_t{p} * K;
  int32_t fillP = 0;
  for (; fillP < K && rowP[fillP] != 0; ++fillP) {
    if (rowP[fillP] == q + 1) return true;
  }
  int32_t* rowQ = table + int64_t{q} * K;
  int32_t fillQ = 0;
  while (fillQ < K && rowQ[fillQ] != 0) ++fillQ;
  if (fillP == K || fillQ == K) return false;
  rowP[fillP] = q + 1;
  rowQ[fillQ] = p + 1;
  return true;
}

// Builds the table in its zero-filled output, K being the largest face-corner count, which
// is every closed mesh's largest degree: row by row, where a vertex's neighbours share a cache
// line, then rearranged into the output's column-major layout. Returns false when a vertex has
// more neighbours than K, leaving the table half built.
bool fill_table_in_place(const int32_t* faces, int32_t numFaces, int32_t numRows, int32_t K,
                         int32_t* table) {
  for (int32_t i = 0; i < numFaces; ++i) {
    const int32_t a = faces[index_2D_array(i, 0, numFaces)] - 1;
    const int32_t b = faces[index_2D_array(i, 1, numFaces)] - 1;
    const int32_t c = faces[index_2D_array(i, 2, numFaces)] - 1;
    if (!add_neighbour_pair(a, b, K, table) || !add_neighbour_pair(a, c, K, table) ||
        !add_neighbour_pair(b, c, K, table)) {
      return false;
    }
  }
  rows_to_columns_in_place(table, numRows, K);
  return true;
}

}  // namespace

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

void TULM_convertFaces2VertNbors(const int32_t* faces, int32_t numFaces, int32_t numVerts,
                                 const std::function<int32_t*(int32_t K)>& createTable) {
  const int32_t numRows = numVerts > 0 ? numVerts : 0;
  // The output is the only large memory the usual call touches; the rows below are the way
  // for meshes with a vertex whose neighbours outnumber the largest corner count.
  const CornerCounts<uint8_t> narrow = face_corner_counts<uint8_t>(faces, numFaces, numVerts);
  const int32_t largest = narrow.wrapped
                              ? face_corner_counts<int32_t>(faces, numFaces, numVerts).largest
                              : narrow.largest;
  if (int64_t{numRows} * largest <= INT32_MAX &&
      fill_table_in_place(faces, numFaces, numRows, largest, createTable(largest))) {
    return;
  }
  const FaceCornerCounts counts = face_corner_counts<int32_t>(faces, numFaces, numVerts);
  NeighborRows rows(faces, numFaces, counts);

  int32_t K = counts.largest;
  for (int32_t i = 0; i < numFaces; ++i) {
    const int32_t a = faces[index_2D_array(i, 0, numFaces)] - 1;
    const int32_t b = faces[index_2D_array(i, 1, numFaces)] - 1;
    const int32_t c = faces[index_2D_array(i, 2, numFaces)] - 1;
    for (int32_t filled :
         {AddNeighbors(a, b, rows), AddNeighbors(a, c, rows), AddNeighbors(b, c, rows)}) {
      if (filled > K) K = filled;
    }
  }

  if (int64_t{numRows} * K > INT32_MAX) {
    throw Error(format("the neighbour table would have %lld entries, more than 2147483647",
                       static_cast<long long>(int64_t{numRows} * K)));
  }
  int32_t* table = createTable(K);
  const auto writeRow = [&](int32_t v) {
    const int32_t* row = rows.row(v);
    for (int32_t k = 0; k < row[0]; ++k) table[index_2D_array(v, k, numRows)] = row[k + 1];
  };
  // Vertex by vertex where rows are uniform: K sequential output streams.
  if (rows.uniform()) {
    for (int32_t v = 0; v < numRows; ++v) writeRow(v);
  } else {
    for (int32_t v : rows.named()) writeRow(v);
  }
}

}  // namespace tulm
