// What nearestPointSearch and nearestIndexSearch share: the descent to a candidate, the
// queries of a whole model matrix, and the tree one call searches and what becomes of it.
#ifndef TULM_CORE_SPATIAL_SEARCH_NEAREST_QUERIES_H
#define TULM_CORE_SPATIAL_SEARCH_NEAREST_QUERIES_H

#include <cstdint>

#include "core/diagnostics.h"
#include "core/spatial_search/kdtree.h"

namespace tulm {

// Output modes of run_queries: 102 writes the 0-based row of the nearest point, any other
// value its coordinates.
constexpr int16_t kPointMode = 101;
constexpr int16_t kIndexMode = 102;

// A candidate for the nearest point of q, by descent: left while v > q[s], right while
// q[s] > v; where q[s] equals v (or either is NaN) both sides are descended and the farther
// result dropped (equal distances keep the right side's). Not necessarily the nearest point.
const node* pointLocation(const node* root, const double* q, int32_t n);

// For every row i of the Q x N column-major model (N = tree.ndim): the nearest point of the
// tree and its distance, written to out (index mode: out[i] = 0-based row; point mode:
// out[i + k*Q] = coordinate k) and dist[i].
//
// The answer is the one of the literal search: a descent (pointLocation) to a candidate, then
// the radius search (for_each_in_range) of every point within the candidate's distance plus a
// slack of 0.001 coordinate units, keeping the last of its nearest matches in pre-order. Where
// the tree and the row are finite and of moderate size (PackedTree::coordinate_bound) that is
// the last in pre-order among all points at the smallest calcdistance (for equal points, the
// one nearer the tree's right), and a branch-and-bound search over a packed copy of the tree
// finds it; every other row takes the literal search itself. A row without any match (a NaN
// in the row) gets -1 in out and leaves dist[i] as it was; after all rows, the calling thread
// prints "Null LL\n" once for each such row.
//
// The packed copy is made, and kept with the tree (tree_header::searchCopy), at the call that
// brings the rows the tree has been asked about, over all calls, to one per 64 of its points:
// a kept tree that many calls search with few rows each gets it too. Before that, and where
// memory for it runs out, every row takes the literal search; the answers are the same.
//
// Large calls share their rows among threads (parallel_for); the results are the same at any
// thread count. Throws std::bad_alloc only when the scratch of more than 16 coordinates per row
// cannot be had, and Interrupted when the user presses Ctrl-C: the queries poll every
// millisecond or so of work (a single query, in many dimensions, may take more), and so does
// the making of the packed copy. An interrupted call leaves out and dist partly written.
void run_queries(tree_header& tree, const double* model, int32_t Q, double* out, double* dist,
                 int16_t mode, Diagnostics& diagnostics);

// The tree that one nearestPointSearch or nearestIndexSearch call searches: built in the call
// from its reference matrix, or the kept tree its handle names.
//
// A call that completes ends with finish: the tree outlives the call when the call returns its
// handle, and is released otherwise, also a kept tree, whose handle is then dead. A call that
// ends in an error releases a tree it built (no handle to it exists yet) and leaves a kept
// tree alive.
class SearchedTree {
 public:
  SearchedTree() = default;
  SearchedTree(const SearchedTree&) = delete;
  SearchedTree& operator=(const SearchedTree&) = delete;
  ~SearchedTree();

  // Builds the tree of the M x N column-major reference matrix (M, N >= 1): rows 0..M-1,
  // first split on dimension 0. Returns false when memory ran out, after the build printed
  // its message. Throws std::bad_alloc when the index array cannot be made.
  bool build(const double* reference, int32_t M, int32_t N, Diagnostics& diagnostics);
  // Searches a kept tree (find_kept_tree).
  void use_kept(tree_header* kept);

  tree_header* get() const { return tree_; }

  // Keeps the tree when handleReturned (throws std::bad_alloc, leaving a built tree to the
  // destructor, when the registry cannot grow), releases it otherwise.
  void finish(bool handleReturned);

 private:
  tree_header* tree_ = nullptr;
  bool built_ = false;
};

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_NEAREST_QUERIES_H
