#include "core/connectivity/TULM_convertFaces2VertNbors.h"

#include <algorithm>
#include <vector>

#include "core/connectivity/face_corners.h"
#include "core/errors.h"
#include "core/interrupt.h"
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
  NeighborRows(const int32_t* faces, int32_t numFaces, CornerCounts<int64_t>& counts)
      : numVerts_(static_cast<int64_t>(counts.upTo.back().size())),
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
      next += 1 + 2 * counts.full()[v];
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

// Enters the undirected pair (p, q) of 0-based vertices straight into the column-major table,
// fill[v] being the entries of row v so far, unless p == q or the pair is there already. Both
// directions are always entered together, so searching row p is enough. Returns false when a
// row that the pair would enter is full.
template <class Count>
bool add_neighbour_pair(int32_t p, int32_t q, int32_t numRows, int32_t K, int32_t* table,
                        Count* fill) {
  if (p == q) return true;
  for (int32_t k = 0; k < fill[p]; ++k) {
    if (table[index_2D_array(p, k, numRows)] == q + 1) return true;
  }
  if (fill[p] == K || fill[q] == K) return false;
  table[index_2D_array(p, fill[p]++, numRows)] = q + 1;
  table[index_2D_array(q, fill[q]++, numRows)] = p + 1;
  return true;
}

// Enters the pairs of faces begin..end-1; false when a row is full. (The arrays come as
// arguments: the one-byte fill counts could alias anything a lambda captures, and every store
// would reload it.)
template <class Count>
bool fill_rows(const int32_t* faces, int32_t numFaces, int32_t begin, int32_t end, int32_t numRows,
               int32_t K, int32_t* table, Count* fill) {
  for (int32_t i = begin; i < end; ++i) {
    const int32_t a = faces[index_2D_array(i, 0, numFaces)] - 1;
    const int32_t b = faces[index_2D_array(i, 1, numFaces)] - 1;
    const int32_t c = faces[index_2D_array(i, 2, numFaces)] - 1;
    if (!add_neighbour_pair(a, b, numRows, K, table, fill) ||
        !add_neighbour_pair(a, c, numRows, K, table, fill) ||
        !add_neighbour_pair(b, c, numRows, K, table, fill)) {
      return false;
    }
  }
  return true;
}

// Builds the table straight into its output, K being the largest face-corner count, which is
// every closed mesh's largest degree; the first count array turns into the rows' fill. Returns
// false when V*K does not fit or a vertex has more neighbours than K, the table then unmade or
// half built.
//
// The rows fill on the calling thread alone. Rows shared among threads by vertex ranges cost
// more than they save: a pair whose vertices two threads own is searched by both, and on the
// usual numberings of a subdivided mesh (a coarser level's vertices first, midpoints after)
// about half the pairs are such, so each of two threads did nearly the work of one thread for
// the whole table, and mispredicted which rows it owns besides.
template <class Count>
bool build_in_output(const int32_t* faces, int32_t numFaces, CornerCounts<Count>& counts,
                     const std::function<int32_t*(int32_t K)>& createTable) {
  const int32_t numRows = static_cast<int32_t>(counts.upTo.back().size());
  const int32_t K = counts.largest;
  if (int64_t{numRows} * K > INT32_MAX) return false;
  int32_t* table = createTable(K);
  Count* fill = counts.upTo[0].data();
  if (counts.dense) {
    std::fill(fill, fill + numRows, Count{0});
  } else {
    for (int64_t i = 0; i < 3 * int64_t{numFaces}; ++i) fill[faces[i] - 1] = 0;
  }
  bool filled = true;
  in_polled_blocks(0, numFaces, kFacesPerPoll, [&](int32_t begin, int32_t end) {
    filled = filled && fill_rows(faces, numFaces, begin, end, numRows, K, table, fill);
  });
  return filled;
}

}  // namespace

void TULM_convertFaces2VertNbors(const int32_t* faces, int32_t numFaces, int32_t numVerts,
                                 const std::function<int32_t*(int32_t K)>& createTable) {
  // The output is the only large memory the usual call touches; the rows below are the way
  // for meshes with a vertex whose neighbours outnumber the largest corner count.
  CornerCounts<uint8_t> narrow = face_corner_counts<uint8_t>(faces, numFaces, numVerts);
  if (!narrow.wrapped) {
    if (build_in_output(faces, numFaces, narrow, createTable)) return;
  } else {
    narrow = CornerCounts<uint8_t>();
    CornerCounts<int64_t> wide = face_corner_counts<int64_t>(faces, numFaces, numVerts);
    if (build_in_output(faces, numFaces, wide, createTable)) return;
  }
  CornerCounts<int64_t> counts = face_corner_counts<int64_t>(faces, numFaces, numVerts);
  const int32_t numRows = static_cast<int32_t>(counts.upTo.back().size());
  NeighborRows rows(faces, numFaces, counts);

  int32_t K = counts.largest;
  in_polled_blocks(0, numFaces, kFacesPerPoll, [&](int32_t begin, int32_t end) {
    for (int32_t i = begin; i < end; ++i) {
      const int32_t a = faces[index_2D_array(i, 0, numFaces)] - 1;
      const int32_t b = faces[index_2D_array(i, 1, numFaces)] - 1;
      const int32_t c = faces[index_2D_array(i, 2, numFaces)] - 1;
      for (int32_t filled :
           {AddNeighbors(a, b, rows), AddNeighbors(a, c, rows), AddNeighbors(b, c, rows)}) {
        if (filled > K) K = filled;
      }
    }
  });

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
    in_polled_blocks(0, numRows, kFacesPerPoll, [&](int32_t begin, int32_t end) {
      for (int32_t v = begin; v < end; ++v) writeRow(v);
    });
  } else {
    for (int32_t v : rows.named()) writeRow(v);
  }
}

}  // namespace tulm
