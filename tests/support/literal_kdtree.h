// The k-d tree built literally, one node and one coordinate array per point with every slice
// sorted again by first-pivot quicksort, its release and its dump, and the radius search as a
// list of new cells. The toolbox builds the same trees faster (build_tree); the tests hold the
// two side by side and the benchmark times the literal one.
#ifndef TULM_TESTS_SUPPORT_LITERAL_KDTREE_H
#define TULM_TESTS_SUPPORT_LITERAL_KDTREE_H

#include <cstdint>

#include "core/diagnostics.h"
#include "core/spatial_search/kdtree.h"

namespace tulm_test {

// The subtree root of rows idx[0..n-1] (n >= 1) of the stride x ndim column-major matrix
// data, splitting on dimension dim; idx is reordered. Returns null after printing
// "Error allocating memory for kD-Tree\n" when memory runs out, having released what it had
// built. Release with free_tree.
tulm::node* build_tree_core(const double* data, int32_t stride, int32_t ndim, int32_t* idx,
                            int32_t n, int32_t dim, tulm::Diagnostics& diagnostics);

// Releases a subtree of separately allocated nodes (post-order); null is allowed.
void free_tree(tulm::node* root);

// Dumps a subtree in pre-order, one "Node: ..." line per node with "Going left/right" and
// "Left/Right is (null)" lines between them.
void display_tree(const tulm::node* root, int32_t ndim, tulm::Diagnostics& diagnostics);

// The radius search of for_each_in_range as a list of new cells: value is a malloc copy of
// the point, idx its row, right links to the next cell. The caller releases each cell's value
// and then the cell. Returns null for no match; throws std::bad_alloc, having released the
// cells, when memory runs out.
tulm::node* rangeQuery(const tulm::node* root, double r, const double* q, int32_t n);

}  // namespace tulm_test

#endif  // TULM_TESTS_SUPPORT_LITERAL_KDTREE_H
