#include "core/connectivity/TULM_convertFaces2VertNbors.h"

#include <algorithm>
#include <vector>

#include "core/connectivity/face_corners.h"
#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {
namespace {

// The neighbours of every vertex, one row each in one block: the row's fill count, then its
// entries. A row has room for twice the vertex's face-corner count, since each face adds at
// most two neighbours to each of its corners. On regular meshes every row gets the same
// width, so a vertex's count and entries share a cache line and the fill pass touches one
// line per vertex; a mesh with a few very busy vertices gets rows of their own widths instead.
struct NeighborRows {
  std::vector<int32_t> block;
  std::vector<int64_t> rowStart;  // empty when every row has the same width
  int64_t width = 0;

  int32_t* row(int32_t v) { return &block[rowStart.empty() ? v * width : rowStart[v]]; }
};

NeighborRows makeRows(const std::vector<int32_t>& counts) {
  NeighborRows rows;
  const int64_t numRows = static_cast<int64_t>(counts.size());
  int64_t packed = 0;
  for (int32_t count : counts) packed += 1 + 2 * int64_t{count};
  rows.width = 1 + 2 * int64_t{largestCount(counts)};
  if (rows.width * numRows <= 2 * packed) {
    rows.block.assign(static_cast<size_t>(rows.width * numRows), 0);
  } else {
    rows.rowStart.resize(counts.size());
    int64_t start = 0;
    for (int64_t v = 0; v < numRows; ++v) {
      rows.rowStart[v] = start;
      start += 1 + 2 * int64_t{counts[v]};
    }
    rows.block.assign(static_cast<size_t>(packed), 0);
  }
  return rows;
}

// Records the undirected pair (p, q) of 0-based vertices unless row p holds it already.
// Both directions are always entered together, so searching row p is enough.
void AddNeighbors(int32_t p, int32_t q, NeighborRows& rows) {
  if (p == q) return;
  int32_t* rowP = rows.row(p);
  for (int32_t k = 1; k <= rowP[0]; ++k) {
    if (rowP[k] == q + 1) return;
  }
  rowP[++rowP[0]] = q + 1;
  int32_t* rowQ = rows.row(q);
  rowQ[++rowQ[0]] = p + 1;
}

}  // namespace

void TULM_convertFaces2VertNbors(const int32_t* faces, int32_t numFaces, int32_t numVerts,
                                 const std::function<int32_t*(int32_t K)>& createTable) {
  const std::vector<int32_t> counts = faceCornerCounts(faces, numFaces, numVerts);
  const int32_t numRows = static_cast<int32_t>(counts.size());
  NeighborRows rows = makeRows(counts);

  for (int32_t i = 0; i < numFaces; ++i) {
    const int32_t a = faces[index_2D_array(i, 0, numFaces)] - 1;
    const int32_t b = faces[index_2D_array(i, 1, numFaces)] - 1;
    const int32_t c = faces[index_2D_array(i, 2, numFaces)] - 1;
    AddNeighbors(a, b, rows);
    AddNeighbors(a, c, rows);
    AddNeighbors(b, c, rows);
  }

  int32_t K = largestCount(counts);
  for (int32_t v = 0; v < numRows; ++v) K = std::max(K, rows.row(v)[0]);
  if (int64_t{numRows} * K > INT32_MAX) {
    throw Error(format("the neighbour table would have %lld entries, more than 2147483647",
                       static_cast<long long>(int64_t{numRows} * K)));
  }
  int32_t* table = createTable(K);
  // Row by row: K sequential output streams, one pass over the scratch rows.
  for (int32_t v = 0; v < numRows; ++v) {
    const int32_t* row = rows.row(v);
    for (int32_t k = 0; k < row[0]; ++k) table[index_2D_array(v, k, numRows)] = row[k + 1];
  }
}

}  // namespace tulm
