// Nearest-neighbour and radius searches over a k-d tree (see kdtree.h).
#ifndef TULM_CORE_SPATIAL_SEARCH_NEAREST_QUERIES_H
#define TULM_CORE_SPATIAL_SEARCH_NEAREST_QUERIES_H

#include <cstdint>
#include <vector>

#include "core/diagnostics.h"
#include "core/spatial_search/kdtree.h"

namespace tulm {

// Output modes of run_queries: 102 writes the 0-based row of the nearest point, any other
// value its coordinates.
constexpr int16_t kPointMode = 101;
constexpr int16_t kIndexMode = 102;

// Absolute slack, in coordinate units, added to the candidate's distance before the radius
// search collects every point that could be nearer.
constexpr double kSearchSlack = 0.001;

// A candidate for the nearest point of q, by descent: left while v > q[s], right while
// q[s] > v; where q[s] equals v (or either is NaN) both sides are descended and the farther
// result dropped (equal distances keep the right side's). Not necessarily the nearest point.
const node* pointLocation(const node* root, const double* q, int32_t n);

// For every row i of the Q x N column-major model: the nearest point of the tree and its
// distance, written to out (index mode: out[i] = 0-based row; point mode: out[i + k*Q] =
// coordinate k) and dist[i].
//
// Ties: among the points at the smallest distance, the last one in the pre-order of the
// radius search wins (for equal points, the one nearer the tree's right). The distance is
// exact; the slack only widens the set that is scanned. A row without any match (a NaN in
// the row) prints "Null LL\n", gets -1 in out and leaves dist[i] as it was.
void run_queries(const node* root, const double* model, int32_t Q, int32_t N, double* out,
                 double* dist, int16_t mode, Diagnostics& diagnostics);

// The points within radius of query (ndim coordinates), in the pre-order of the radius
// search; throws std::bad_alloc when the list cannot grow.
std::vector<const node*> run_range_search(const node* root, const double* query, int32_t ndim,
                                          double radius);

// The results of a radius search as R = matches.size() rows: points (R x ndim, column-major),
// and, where not null, distances (R x 1, recomputed from points and query) and rows (R x 1,
// 1-based rows of the reference matrix).
void write_range_results(const std::vector<const node*>& matches, const double* query, int32_t ndim,
                         double* points, double* distances, double* rows);

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_NEAREST_QUERIES_H
