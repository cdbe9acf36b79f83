#include "core/spatial_search/packed_tree.h"

#include <algorithm>
#include <cmath>

namespace tulm {
namespace {

// Subtrees of at most this many points are scanned whole rather than descended.
constexpr int32_t kBucket = 10;

// The sum of squares that calcdistance takes the root of, in its order and rounding.
inline double squared_sum(const double* q, const double* p, int32_t n) {
  double sum = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    const double d = q[k] - p[k];
    sum += d * d;
  }
  return sum;
}

// A sum above which the rounded square root is certainly above b: s > sum_cut(b) gives
// std::sqrt(s) > b. With h half the gap from b to the next double (h <= b 2^-53 for normal b),
// sqrt(s) rounds to at most b only when s <= (b + h)^2 <= b^2 (1 + 2^-52 + 2^-106); b * b rounds
// to at least b^2 (1 - 2^-53) when b^2 is normal, and the factor 1 + 2^-49 (rounded) lifts that
// above b^2 (1 + 2^-50). Where b^2 is below 2^-1022, the added 2^-1000 alone exceeds (b + h)^2.
// A sum at or below the cut may still round above b: its distance is then compared exactly.
inline double sum_cut(double b) { return b * b * (1 + 0x1p-49) + 0x1p-1000; }

// Branch and bound over the packed pre-order, with the tree's own shape: the subtree of n
// points at position k holds positions k .. k+n-1, its node at k, its left subtree (n/2
// points) from k+1, its right subtree (n - n/2 - 1 points) after that; its split dimension is
// its depth mod ndim.
//
// It finds, over all points, the smallest calcdistance and the last position at which it
// occurs, by never dropping a point that could equal or beat the best so far:
// - A point is measured by its sum s (calcdistance is std::sqrt(s)); it can only equal or
//   beat the best distance b when s <= sum_cut(b), and then its distance is taken and
//   compared exactly: smaller wins, equal wins when its position is later. (An infinite b,
//   before the first point, gives an infinite cut.)
// - A subtree is skipped only when a lower bound of the sums of all its points exceeds
//   sum_cut(b): all of them are then strictly farther than b. The bound: offsets[k] holds,
//   for the points of the subtree, a lower bound of their term (q[k] - p[k])^2 as calcdistance
//   rounds it, and their sums are at least the in-order rounded sum of the offsets (a rounded
//   sum of non-negative terms does not decrease when a term grows). Entering the far side of
//   a node with split value v on dimension s, every point there has p[s] on the far side of
//   v (the left side holds p[s] <= v, the right side p[s] >= v), so |q[s] - p[s]| >= |q[s] - v|
//   exactly, and rounding the difference and squaring keep that order: gap * gap, with
//   gap = q[s] - v rounded, is a lower bound of that term there. No NaN reaches here: the
//   tree and the query were checked to be finite and bounded.
template <int32_t kDims>
class BranchAndBound {
 public:
  BranchAndBound(const double* points, int32_t ndim, const double* q, double* offsets)
      : points_(points), ndim_(kDims > 0 ? kDims : ndim), q_(q), offsets_(offsets) {}

  NearestHit run(int32_t count, int32_t hint) {
    for (int32_t k = 0; k < ndim_; ++k) offsets_[k] = 0.0;
    if (hint >= 0 && hint < count) consider(hint, squared_sum(q_, point(hint), ndim_));
    descend(0, count, 0);
    return {best_, bestDistance_};
  }

 private:
  const double* point(int32_t position) const {
    return points_ + static_cast<size_t>(position) * ndim_;
  }

  void consider(int32_t position, double sum) {
    if (!(sum <= cut_)) return;
    const double distance = std::sqrt(sum);
    if (distance < bestDistance_) {
      bestDistance_ = distance;
      cut_ = sum_cut(distance);
      best_ = position;
    } else if (distance == bestDistance_ && position > best_) {
      best_ = position;
    }
  }

  void descend(int32_t position, int32_t n, int32_t dim) {
    if (n <= kBucket) {
      // Most buckets hold no contender: one test for the whole bucket then.
      double sums[kBucket];
      double least = INFINITY;
      for (int32_t k = 0; k < n; ++k) {
        sums[k] = squared_sum(q_, point(position + k), ndim_);
        least = std::min(least, sums[k]);
      }
      if (least <= cut_) {
        for (int32_t k = 0; k < n; ++k) consider(position + k, sums[k]);
      }
      return;
    }
    const double* at = point(position);
    consider(position, squared_sum(q_, at, ndim_));
    // n > kBucket >= 2: both subtrees hold points.
    const int32_t leftCount = n / 2;
    const int32_t left = position + 1;
    const int32_t right = left + leftCount;
    const int32_t rightCount = n - leftCount - 1;
    const int32_t next = dim + 1 == ndim_ ? 0 : dim + 1;
    const double gap = q_[dim] - at[dim];
    const bool leftIsNear = gap < 0.0;
    if (leftIsNear) {
      descend(left, leftCount, next);
    } else {
      descend(right, rightCount, next);
    }
    const double saved = offsets_[dim];
    offsets_[dim] = gap * gap;
    double bound = 0.0;
    for (int32_t k = 0; k < ndim_; ++k) bound += offsets_[k];
    if (bound <= cut_) {
      if (leftIsNear) {
        descend(right, rightCount, next);
      } else {
        descend(left, leftCount, next);
      }
    }
    offsets_[dim] = saved;
  }

  const double* const points_;
  const int32_t ndim_;
  const double* const q_;
  double* const offsets_;
  int32_t best_ = -1;
  double bestDistance_ = INFINITY;
  double cut_ = INFINITY;
};

}  // namespace

double PackedTree::coordinate_bound(int32_t ndim) {
  return 1e12 / ((ndim + 8) * std::sqrt(static_cast<double>(ndim)));
}

bool PackedTree::pack(const tree_header& tree) {
  *this = PackedTree();
  if (tree.root == nullptr || tree.count < 1 || tree.ndim < 1) return false;
  ndim_ = tree.ndim;
  bound_ = coordinate_bound(ndim_);
  points_.resize(static_cast<size_t>(tree.count) * ndim_);
  rows_.resize(static_cast<size_t>(tree.count));
  bool packed = copy_subtree(tree.root, 0, tree.count, 0);
  if (packed && ndim_ == 1) packed = line_up(0, tree.count);
  if (!packed) *this = PackedTree();
  return packed;
}

// Copies the subtree of n points whose node is at, to positions position .. position+n-1,
// checking the shape that the search relies on.
bool PackedTree::copy_subtree(const node* at, int32_t position, int32_t n, int32_t dim) {
  if (at == nullptr || at->dim != dim) return false;
  double* value = &points_[static_cast<size_t>(position) * ndim_];
  for (int32_t k = 0; k < ndim_; ++k) {
    if (!(std::fabs(at->value[k]) <= bound_)) return false;
    value[k] = at->value[k];
  }
  rows_[position] = at->idx;
  const int32_t leftCount = n / 2;
  const int32_t rightCount = n - leftCount - 1;
  const int32_t next = dim + 1 == ndim_ ? 0 : dim + 1;
  if (leftCount == 0 ? at->left != nullptr
                     : !copy_subtree(at->left, position + 1, leftCount, next)) {
    return false;
  }
  return rightCount == 0 ? at->right == nullptr
                         : copy_subtree(at->right, position + 1 + leftCount, rightCount, next);
}

// Lists the distinct values of a one-dimensional subtree in ascending order: in order (left
// subtree, node, right subtree), which the split rule makes non-decreasing.
bool PackedTree::line_up(int32_t position, int32_t n) {
  if (n == 0) return true;
  const int32_t leftCount = n / 2;
  if (!line_up(position + 1, leftCount)) return false;
  const double value = points_[position];
  if (!lineValues_.empty() && value == lineValues_.back()) {
    lineLast_.back() = std::max(lineLast_.back(), position);
  } else if (!lineValues_.empty() && !(lineValues_.back() < value)) {
    return false;
  } else {
    lineValues_.push_back(value);
    lineLast_.push_back(position);
  }
  return line_up(position + 1 + leftCount, n - leftCount - 1);
}

bool PackedTree::admits(const double* q) const {
  for (int32_t k = 0; k < ndim_; ++k) {
    if (!(std::fabs(q[k]) <= bound_)) return false;
  }
  return true;
}

NearestHit PackedTree::nearest(const double* q, double* offsets, int32_t hint) const {
  const int32_t count = static_cast<int32_t>(rows_.size());
  switch (ndim_) {
    case 1: return nearest_on_line(q[0]);
    case 2: return BranchAndBound<2>(points_.data(), 2, q, offsets).run(count, hint);
    case 3: return BranchAndBound<3>(points_.data(), 3, q, offsets).run(count, hint);
    default: return BranchAndBound<0>(points_.data(), ndim_, q, offsets).run(count, hint);
  }
}

// calcdistance(q, v) is non-increasing in v up to q and non-decreasing from q on (the rounded
// difference, its square and its square root all keep the order of |q - v|). So the smallest
// distance is that of the last value below q or of the first value not below it, and the
// values at that distance are a run on each side, next to those two: walking outwards while
// the distance stays equal finds them all.
NearestHit PackedTree::nearest_on_line(double q) const {
  const size_t size = lineValues_.size();
  const size_t above =
      std::lower_bound(lineValues_.begin(), lineValues_.end(), q) - lineValues_.begin();
  const auto distance = [&](size_t k) { return std::sqrt(squared_sum(&q, &lineValues_[k], 1)); };
  double best = INFINITY;
  if (above > 0) best = distance(above - 1);
  if (above < size) best = std::min(best, distance(above));
  int32_t last = -1;
  for (size_t k = above; k > 0 && distance(k - 1) == best; --k) {
    last = std::max(last, lineLast_[k - 1]);
  }
  for (size_t k = above; k < size && distance(k) == best; ++k) {
    last = std::max(last, lineLast_[k]);
  }
  return {last, best};
}

}  // namespace tulm
