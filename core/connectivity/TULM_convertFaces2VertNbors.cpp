#include "core/connectivity/TULM_convertFaces2VertNbors.h"

#include <algorithm>
#include <vector>

#include "core/connectivity/face_corners.h"
#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {
namespace {

// Rows of neighbours in one block, row v at rowStart[v], with room for twice the vertex's
// face-corner count: each face adds at most two neighbours to each of its corners.
struct NeighborRows {
  std::vector<int64_t> rowStart;
  std::vector<int32_t> fill;
  std::vector<int32_t> entries;
};

// Records the undirected pair (p, q) of 0-based vertices unless row p holds it already.
// Both directions are always entered together, so searching row p is enough.
void AddNeighbors(int32_t p, int32_t q, NeighborRows& rows) {
  if (p == q) return;
  int32_t* rowP = &rows.entries[rows.rowStart[p]];
  for (int32_t k = 0; k < rows.fill[p]; ++k) {
    if (rowP[k] == q + 1) return;
  }
  rowP[rows.fill[p]++] = q + 1;
  rows.entries[rows.rowStart[q] + rows.fill[q]++] = p + 1;
}

}  // namespace

void TULM_convertFaces2VertNbors(const int32_t* faces, int32_t numFaces, int32_t numVerts,
                                 const std::function<int32_t*(int32_t K)>& createTable) {
  const std::vector<int32_t> counts = faceCornerCounts(faces, numFaces, numVerts);
  const int32_t numRows = static_cast<int32_t>(counts.size());

  NeighborRows rows;
  rows.rowStart.resize(counts.size());
  rows.fill.assign(counts.size(), 0);
  int64_t total = 0;
  for (int32_t v = 0; v < numRows; ++v) {
    rows.rowStart[v] = total;
    total += 2 * int64_t{counts[v]};
  }
  rows.entries.resize(static_cast<size_t>(total));

  for (int32_t i = 0; i < numFaces; ++i) {
    const int32_t a = faces[index_2D_array(i, 0, numFaces)] - 1;
    const int32_t b = faces[index_2D_array(i, 1, numFaces)] - 1;
    const int32_t c = faces[index_2D_array(i, 2, numFaces)] - 1;
    AddNeighbors(a, b, rows);
    AddNeighbors(a, c, rows);
    AddNeighbors(b, c, rows);
  }

  const int32_t K = std::max(largestCount(counts), largestCount(rows.fill));
  if (int64_t{numRows} * K > INT32_MAX) {
    throw Error(format("the neighbour table would have %lld entries, more than 2147483647",
                       static_cast<long long>(int64_t{numRows} * K)));
  }
  int32_t* table = createTable(K);
  // Slot by slot, so the output is written in memory order.
  for (int32_t k = 0; k < K; ++k) {
    int32_t* column = table + index_2D_array(0, k, numRows);
    for (int32_t v = 0; v < numRows; ++v) {
      if (k < rows.fill[v]) column[v] = rows.entries[rows.rowStart[v] + k];
    }
  }
}

}  // namespace tulm
