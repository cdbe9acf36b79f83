// The k-d tree shared by nearestPointSearch, nearestIndexSearch and radiusPointSearch.
//
// Ownership: a tree copies every coordinate it needs and never refers to the reference
// matrix after construction. Tree memory comes from malloc and goes back through free,
// because a tree built by one plug-in is searched and released by another one loaded into
// the same process; release_tree is the one way to release a tree made by build_tree.
// Nothing here is thread-safe or reentrant (partition swaps through a module-level int).
//
// Shape: a subtree built from n points has as its root the point at sorted position n/2
// (rounded down) along its split dimension; the m = n/2 points before it build the left
// subtree, the n - m - 1 after it the right one. The sort is Hoare's quicksort with the
// first entry as pivot and is not stable: the order it gives to equal keys decides which of
// several equal points becomes a node, hence the tree's shape and every tie-break of the
// searches. Points whose split coordinate equals the node's may lie on either side.
#ifndef TULM_CORE_SPATIAL_SEARCH_KDTREE_H
#define TULM_CORE_SPATIAL_SEARCH_KDTREE_H

#include <cmath>
#include <cstdint>

#include "core/diagnostics.h"

namespace tulm {

struct node {
  double* value;  // the node's own copy of its point's ndim coordinates
  int32_t dim;    // split dimension, 0 at the root, (parent's + 1) mod ndim below
  uint32_t idx;   // 0-based row of the point in the reference matrix
  node* left;
  node* right;
};

struct tree_header {
  node* root;
  int32_t ndim;
  // Trees from build_tree keep every node and coordinate in this one block (the root is its
  // first node); null for a tree of separately allocated nodes (build_tree_core).
  void* block;
};

// Builds the tree of rows idx[0..n-1] of the stride x ndim column-major matrix data
// (coordinate d of row p at data[p + d*stride]), splitting first on dimension dim. The
// gateways pass stride = n = M, idx = 0..M-1 and dim = 0; idx is scratch and is reordered.
// Returns null, after printing "Error allocating memory for kD-Tree\n", when memory runs out;
// nothing is left allocated then. stride * ndim must fit an int32.
//
// All nodes share one allocation and keys are selected rather than fully sorted wherever a
// slice has no equal keys, which gives the identical tree (the sorted order is then unique);
// slices that hold equal keys or NaN are sorted by the exact first-pivot quicksort, from the
// exact order the literal construction would hand them.
tree_header* build_tree(const double* data, int32_t stride, int32_t ndim, int32_t* idx, int32_t n,
                        int32_t dim, Diagnostics& diagnostics);

// The literal construction: one node and one coordinate array per point, every slice sorted
// again by quicksort. Returns the subtree root of idx[0..n-1] (n >= 1), or null after
// printing the memory message, having released what it had built. Release with free_tree.
node* build_tree_core(const double* data, int32_t stride, int32_t ndim, int32_t* idx, int32_t n,
                      int32_t dim, Diagnostics& diagnostics);

// Sorts idx[lo..hi] ascending by key data[dim*stride + idx[e]] with first-pivot Hoare
// partitions. The smaller part is sorted by recursion and the larger by the loop, which
// bounds the stack; the parts are disjoint, so the order they are taken in changes nothing.
void quicksort(int32_t* idx, int32_t lo, int32_t hi, const double* data, int32_t dim,
               int32_t stride);
int32_t partition(int32_t* idx, int32_t lo, int32_t hi, const double* data, int32_t dim,
                  int32_t stride);

// Releases a subtree of separately allocated nodes (post-order); null is allowed.
void free_tree(node* root);
// Releases any tree with its header; null is allowed.
void release_tree(tree_header* tree);

// Dumps a subtree in pre-order, one "Node: ..." line per node with "Going left/right" and
// "Left/Right is (null)" lines between them.
void display_tree(const node* root, int32_t ndim, Diagnostics& diagnostics);

// Euclidean distance in double: the square root of the in-order sum of squared differences.
inline double calcdistance(const double* a, const double* b, int32_t n) {
  double sum = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    const double d = a[k] - b[k];
    sum += d * d;
  }
  return std::sqrt(sum);
}

// Every point of the subtree within distance r of q (inclusive), in pre-order: the node's
// own match, then its left subtree's, then its right subtree's. The node matches when
// q[s] >= v - r, v + r >= q[s] and r >= calcdistance(q, value, n), tested in this order
// (s = split dimension, v = value[s]); the left child is entered when v >= q[s] - r, the
// right child when r + q[s] >= v. Any NaN makes a test fail. visit(match, distance) gets
// the distance that was tested.
template <class Visit>
void for_each_in_range(const node* root, double r, const double* q, int32_t n, Visit&& visit) {
  for (const node* at = root; at != nullptr; at = at->right) {
    const int32_t s = at->dim;
    const double v = at->value[s];
    if (q[s] >= v - r && v + r >= q[s]) {
      const double d = calcdistance(q, at->value, n);
      if (r >= d) visit(at, d);
    }
    if (at->left != nullptr && v >= q[s] - r) for_each_in_range(at->left, r, q, n, visit);
    if (!(r + q[s] >= v)) return;
  }
}

// The same search as a list of new cells: value is a malloc copy of the point, idx its row,
// right links to the next cell. The caller releases each cell's value and then the cell.
// Returns null for no match; throws std::bad_alloc, having released the cells, when memory
// runs out.
node* rangeQuery(const node* root, double r, const double* q, int32_t n);

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_KDTREE_H
