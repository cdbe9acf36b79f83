#ifndef TULM_CORE_SPATIAL_SEARCH_NEARESTPOINTSEARCH_H
#define TULM_CORE_SPATIAL_SEARCH_NEARESTPOINTSEARCH_H

#include <cstdint>

#include "core/diagnostics.h"
#include "core/spatial_search/kdtree.h"

namespace tulm {

// The nearest reference point of every model row.
//
// Inputs:
//   tree       the tree to search; only read (SearchedTree in nearest_queries.h decides its fate)
//   model      Q x N double, column-major, N = tree.ndim; not read when Q is 0
// Outputs:
//   points     Q x N: the coordinates of the reference point nearest to model row i
//   distances  Q x 1: the exact Euclidean distance to it; null when not wanted
// Known quirks:
//   Among reference points at the same smallest distance, the last in the tree's pre-order
//   wins. A model row holding NaN has no match: it prints "Null LL\n", gets -1 in every
//   column of points, and its distance is left as it was (0 in a created output).
void nearestPointSearch(tree_header& tree, const double* model, int32_t Q, double* points,
                        double* distances, Diagnostics& diagnostics);

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_NEARESTPOINTSEARCH_H
