#ifndef TULM_CORE_SPATIAL_SEARCH_RADIUSPOINTSEARCH_H
#define TULM_CORE_SPATIAL_SEARCH_RADIUSPOINTSEARCH_H

#include <cstdint>
#include <functional>
#include <vector>

#include "core/spatial_search/kdtree.h"

namespace tulm {

// Storage for the R matches of one radius search; distances and rows are null when not
// wanted.
struct RangeOutputs {
  double* points;     // R x ndim, column-major
  double* distances;  // R x 1
  double* rows;       // R x 1
};

// Every reference point of a tree within a distance of one query point.
//
// Inputs:
//   tree           the tree to search; only read, never released
//   query          tree.ndim coordinates
//   radius         the distance limit, inclusive; NaN matches nothing
//   createOutputs  called once with R; returns the storage for the R matches
// Outputs:
//   points     the matches in the pre-order of the radius search (each node, then its left
//              subtree, then its right subtree), not sorted by distance or row
//   distances  each match's distance from query, computed again from the copied point
//              (the same bits the search tested)
//   rows       each match's 1-based row in the reference matrix the tree was built from
// Throws std::bad_alloc when the matches cannot be collected, and Interrupted when the user
// presses Ctrl-C (the search and the writing of the outputs poll, interrupt.h).
void radiusPointSearch(const tree_header& tree, const double* query, double radius,
                       const std::function<RangeOutputs(int32_t R)>& createOutputs);

// The points of the subtree (null allowed) within radius of query (ndim coordinates), in the
// pre-order of the radius search.
std::vector<const node*> run_range_search(const node* root, const double* query, int32_t ndim,
                                          double radius);

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_RADIUSPOINTSEARCH_H
