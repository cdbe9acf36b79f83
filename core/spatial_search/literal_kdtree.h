// The reference definition of the k-d tree's shape: the tree built literally, one node and one
// coordinate array per point, every slice sorted again. Whatever build_tree builds must be this
// tree, node for node and bit for bit; where the two differ, build_tree is wrong.
//
// The construction, for n >= 1 rows of a slice and split dimension dim:
//   1. sort the slice's rows by their coordinate along dim with Hoare's quicksort, the first
//      entry as pivot (hoare_partition.h), from the order the slice was handed over in;
//   2. the node is the row at sorted position m = n/2 (rounded down), split on dim;
//   3. the m rows before it, in their sorted order, build the left subtree and the n - m - 1
//      after it the right one, both splitting on (dim + 1) mod ndim.
// The quicksort is not stable, so among equal coordinates the order a slice is handed over in
// decides which row becomes the node; that order is its parent's sorted order, up to the root,
// which takes the rows as given. Data holding NaN goes through the same steps.
//
// Compiled into the tests and the benchmarks only, never into a plug-in or the tulm_kdtree
// library: it is slow (quadratic where a slice comes sorted, as every slice below the root does
// in one dimension), and it is here to be read and compared with. The radius search of the nearest
// searches' literal procedure is here too, as a list of new cells.
#ifndef TULM_CORE_SPATIAL_SEARCH_LITERAL_KDTREE_H
#define TULM_CORE_SPATIAL_SEARCH_LITERAL_KDTREE_H

#include <cstdint>

#include "core/diagnostics.h"
#include "core/spatial_search/kdtree.h"

namespace tulm {
namespace reference {

// The subtree root of rows idx[0..n-1] (n >= 1) of the stride x ndim column-major matrix
// data, splitting on dimension dim; idx is reordered. Returns null after printing
// "Error allocating memory for kD-Tree\n" when memory runs out, having released what it had
// built. Release with free_tree.
node* build_tree_core(const double* data, int32_t stride, int32_t ndim, int32_t* idx, int32_t n,
                      int32_t dim, Diagnostics& diagnostics);

// Releases a subtree of separately allocated nodes (post-order); null is allowed.
void free_tree(node* root);

// The radius search of for_each_in_range as a list of new cells: value is a malloc copy of
// the point, idx its row, right links to the next cell. The caller releases each cell's value
// and then the cell. Returns null for no match; throws std::bad_alloc, having released the
// cells, when memory runs out.
node* rangeQuery(const node* root, double r, const double* q, int32_t n);

}  // namespace reference
}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_LITERAL_KDTREE_H
