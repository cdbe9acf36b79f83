// A copy of a k-d tree made for fast exact nearest searches: its points packed in pre-order,
// searched by branch and bound with buckets (one dimension: sorted distinct values). It
// answers exactly what run_queries' literal descent and radius search answer, for the queries
// it admits (nearest_queries.cpp says why); run_queries takes the literal path for the others.
//
// The copy is one block kept with its tree (tree_header::searchCopy), allocated and freed by
// the tulm_kdtree library (allocate_search_copy, release_tree): a tree is packed once, by
// whichever plug-in first wants the copy, and its copy goes with it whichever plug-in releases
// it. A PackedTree is a view of that block.
#ifndef TULM_CORE_SPATIAL_SEARCH_PACKED_TREE_H
#define TULM_CORE_SPATIAL_SEARCH_PACKED_TREE_H

#include <cstdint>

#include "core/spatial_search/kdtree.h"

namespace tulm {

// A point of the tree by its position in the tree's pre-order, and its calcdistance from the
// query; and the measure of the search's work: the points it measured or descended past, each
// some work on every coordinate.
struct NearestHit {
  int32_t position;
  double distance;
  int64_t measured;
};

class PackedTree {
 public:
  // The largest coordinate magnitude, for ndim coordinates, at which the fast search gives
  // the literal answer (nearest_queries.cpp).
  static double coordinate_bound(int32_t ndim);

  // The view of the tree's copy, which is made first when the tree has none, or has one that
  // an interrupt left unfinished (the packing polls, interrupt.h). Empty when the
  // tree is empty, does not have the shape kdtree.h documents, or holds a coordinate beyond
  // coordinate_bound (NaN and infinities included): its copy then records just that, so that
  // the tree is not packed again. Empty too, leaving the tree without a copy, when memory runs
  // out.
  static PackedTree of(tree_header& tree);

  PackedTree() = default;

  bool empty() const { return count_ == 0; }

  // Whether every coordinate of q lies within coordinate_bound.
  bool admits(const double* q) const;

  // The doubles of scratch that nearest needs per coordinate.
  static constexpr int32_t kScratchPerCoordinate = 33;

  // Among the points at the smallest calcdistance from q, the last in pre-order. q must be
  // admitted. hint, a position or -1, is where the search starts to look: the answer does not
  // depend on it, its time does (the answer of a neighbouring query is a good hint).
  NearestHit nearest(const double* q, double* scratch, int32_t hint) const;

  uint32_t row(int32_t position) const { return rows_[position]; }
  double coordinate(int32_t position, int32_t k) const {
    return coordinates_[static_cast<size_t>(k) * count_ + position];
  }

 private:
  explicit PackedTree(const void* block);

  NearestHit nearest_on_line(double q) const;

  int32_t ndim_ = 0;
  int32_t count_ = 0;
  int32_t lineCount_ = 0;
  double bound_ = 0.0;
  // By pre-order position: coordinate k of the point at position p at coordinates_[k * count_ +
  // p] (a bucket's points are contiguous along each coordinate), and its row in the reference
  // matrix.
  const double* coordinates_ = nullptr;
  const uint32_t* rows_ = nullptr;
  // One dimension: the lineCount_ distinct values in ascending order and, for each, the last
  // position in pre-order among the points that hold it (-0 and 0 are one value).
  const double* lineValues_ = nullptr;
  const int32_t* lineLast_ = nullptr;
};

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_PACKED_TREE_H
