#ifndef TULM_CORE_SPATIAL_SEARCH_NEARESTINDEXSEARCH_H
#define TULM_CORE_SPATIAL_SEARCH_NEARESTINDEXSEARCH_H

#include <cstdint>

#include "core/diagnostics.h"
#include "core/spatial_search/kdtree.h"

namespace tulm {

// The row of the nearest reference point of every model row.
//
// Inputs:
//   tree       the tree to search; only read (SearchedTree in nearest_queries.h decides its fate)
//   model      Q x N double, column-major, N = tree.ndim; not read when Q is 0
// Outputs:
//   rows       Q x 1: the 1-based row, in the reference matrix the tree was built from, of the
//              point nearest to model row i
//   distances  Q x 1: the exact Euclidean distance to it; null when not wanted
// Known quirks:
//   Among reference points at the same smallest distance, the last in the tree's pre-order
//   wins: of two equal reference rows it is not always the first. A model row holding NaN has
//   no match: it prints "Null LL\n", its row is 0, and its distance is left as it was (0 in a
//   created output).
void nearestIndexSearch(tree_header& tree, const double* model, int32_t Q, double* rows,
                        double* distances, Diagnostics& diagnostics);

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_NEARESTINDEXSEARCH_H
