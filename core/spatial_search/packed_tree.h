// A copy of a k-d tree made for fast exact nearest searches: its points packed in pre-order,
// searched by branch and bound with buckets (one dimension: sorted distinct values). It
// answers exactly what run_queries' literal descent and radius search answer, for the queries
// it admits (nearest_queries.cpp says why); run_queries takes the literal path for the others.
#ifndef TULM_CORE_SPATIAL_SEARCH_PACKED_TREE_H
#define TULM_CORE_SPATIAL_SEARCH_PACKED_TREE_H

#include <cstdint>
#include <vector>

#include "core/spatial_search/kdtree.h"

namespace tulm {

// A point of the tree by its position in the tree's pre-order, and its calcdistance from the
// query.
struct NearestHit {
  int32_t position;
  double distance;
};

class PackedTree {
 public:
  // The largest coordinate magnitude, for ndim coordinates, at which the fast search gives
  // the literal answer (nearest_queries.cpp).
  static double coordinate_bound(int32_t ndim);

  // Copies the tree. Returns false, leaving the copy empty, when the tree is empty, does not
  // have the shape kdtree.h documents, or holds a coordinate beyond coordinate_bound (NaN and
  // infinities included). Throws std::bad_alloc when memory runs out.
  bool pack(const tree_header& tree);

  bool empty() const { return rows_.empty(); }

  // Whether every coordinate of q lies within coordinate_bound.
  bool admits(const double* q) const;

  // Among the points at the smallest calcdistance from q, the last in pre-order. q must be
  // admitted; offsets is scratch of ndim doubles. hint, a position or -1, is where the search
  // starts to look: the answer does not depend on it, its time does (the answer of a
  // neighbouring query is a good hint).
  NearestHit nearest(const double* q, double* offsets, int32_t hint) const;

  uint32_t row(int32_t position) const { return rows_[position]; }
  const double* point(int32_t position) const {
    return &points_[static_cast<size_t>(position) * ndim_];
  }

 private:
  bool copy_subtree(const node* at, int32_t position, int32_t n, int32_t dim);
  bool line_up(int32_t position, int32_t n);
  NearestHit nearest_on_line(double q) const;

  int32_t ndim_ = 0;
  double bound_ = 0.0;
  // By pre-order position: the point's coordinates and its row in the reference matrix.
  std::vector<double> points_;
  std::vector<uint32_t> rows_;
  // One dimension: the distinct values in ascending order and, for each, the last position
  // in pre-order among the points that hold it (-0 and 0 are one value).
  std::vector<double> lineValues_;
  std::vector<int32_t> lineLast_;
};

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_PACKED_TREE_H
