#include "core/spatial_search/packed_tree.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/interrupt.h"
#include "core/spatial_search/packed_tree_lanes.h"

namespace tulm {
namespace {

// Subtrees of at most this many points are scanned whole rather than descended.
constexpr int32_t kBucket = 24;

// More far sides than a tree of 2^31 points can leave waiting at once (one per level above
// the buckets); each keeps its offsets in the scratch, after those being descended.
constexpr int32_t kMostPending = PackedTree::kScratchPerCoordinate - 1;

// Subtrees of at least this many points poll for Ctrl-C as they are packed: a copy of 1e7
// points takes a second or two.
constexpr int32_t kPackPoll = 1 << 14;

// A search polls for Ctrl-C every time it has measured this many more points: in many
// dimensions one query may measure most of the tree, a few milliseconds per such stretch at
// 40 dimensions.
constexpr int64_t kMeasuredPerPoll = 1 << 15;

// The block of a copy: this header, then the arrays that Layout places.
struct CopyHeader {
  int32_t ndim;
  int32_t count;  // 0: the tree cannot be packed, and the block holds nothing more
  int32_t lineCount;
  // 1 while the arrays are being filled: a copy that an interrupt left so is made again.
  int32_t unfinished;
};

// Where each array of a copy of count points in ndim dimensions lies in its block, in bytes;
// the doubles first, so that all are aligned as malloc aligns the block.
struct Layout {
  Layout(int32_t count, int32_t ndim) {
    const size_t n = static_cast<size_t>(count);
    const size_t line = ndim == 1 ? n : 0;
    coordinates = sizeof(CopyHeader);
    lineValues = coordinates + n * static_cast<size_t>(ndim) * sizeof(double);
    rows = lineValues + line * sizeof(double);
    lineLast = rows + n * sizeof(uint32_t);
    bytes = lineLast + line * sizeof(int32_t);
  }
  size_t coordinates;
  size_t lineValues;
  size_t rows;
  size_t lineLast;
  size_t bytes;
};

// Fills a copy's arrays from the tree, checking the shape the search relies on.
class Packing {
 public:
  Packing(char* block, int32_t count, int32_t ndim)
      : layout_(count, ndim),
        count_(count),
        ndim_(ndim),
        bound_(PackedTree::coordinate_bound(ndim)),
        coordinates_(reinterpret_cast<double*>(block + layout_.coordinates)),
        rows_(reinterpret_cast<uint32_t*>(block + layout_.rows)),
        lineValues_(reinterpret_cast<double*>(block + layout_.lineValues)),
        lineLast_(reinterpret_cast<int32_t*>(block + layout_.lineLast)) {}

  // Copies the subtree of n points whose node is at, to positions position .. position+n-1.
  bool copy_subtree(const node* at, int32_t position, int32_t n, int32_t dim) {
    if (n >= kPackPoll) poll_interrupt();
    if (at == nullptr || at->dim != dim) return false;
    for (int32_t k = 0; k < ndim_; ++k) {
      if (!(std::fabs(at->value[k]) <= bound_)) return false;
      coordinates_[static_cast<size_t>(k) * count_ + position] = at->value[k];
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
  bool line_up(int32_t position, int32_t n) {
    if (n == 0) return true;
    if (n >= kPackPoll) poll_interrupt();
    const int32_t leftCount = n / 2;
    if (!line_up(position + 1, leftCount)) return false;
    const double value = coordinates_[position];
    if (lineCount > 0 && value == lineValues_[lineCount - 1]) {
      lineLast_[lineCount - 1] = std::max(lineLast_[lineCount - 1], position);
    } else if (lineCount > 0 && !(lineValues_[lineCount - 1] < value)) {
      return false;
    } else {
      lineValues_[lineCount] = value;
      lineLast_[lineCount] = position;
      ++lineCount;
    }
    return line_up(position + 1 + leftCount, n - leftCount - 1);
  }

  int32_t lineCount = 0;

 private:
  const Layout layout_;
  const int32_t count_;
  const int32_t ndim_;
  const double bound_;
  double* const coordinates_;
  uint32_t* const rows_;
  double* const lineValues_;
  int32_t* const lineLast_;
};

// The sum of squares that calcdistance takes the root of, in its order and rounding.
inline double squared_sum(const double* q, const double* p, int32_t n) {
  double sum = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    const double d = q[k] - p[k];
    sum += d * d;
  }
  return sum;
}

// A sum above which the rounded square root certainly exceeds that of the sum m: s >
// sum_cut(m) gives std::sqrt(s) > std::sqrt(m). With b = std::sqrt(m) <= sqrt(m) (1 + 2^-53)
// and h half the gap from b to the next double (h <= b 2^-53, b being normal), std::sqrt(s)
// rounds to b only when s <= (b + h)^2 <= m (1 + 2^-53)^4 < m (1 + 2^-50); m * (1 + 2^-49)
// rounds to more than m (1 + 2^-50) when it is normal. Where m is below 2^-1022, the added
// 2^-1000 alone exceeds (b + h)^2. The cut never decreases as m grows.
inline double sum_cut(double m) { return m * (1 + 0x1p-49) + 0x1p-1000; }

// Branch and bound over the packed pre-order, with the tree's own shape: the subtree of n
// points at position k holds positions k .. k+n-1, its node at k, its left subtree (n/2
// points) from k+1, its right subtree (n - n/2 - 1 points) after that; its split dimension is
// its depth mod ndim.
//
// It finds, over all points, the smallest calcdistance and the last position at which it
// occurs, by never dropping a point that could equal the best:
// - A point is measured by its sum s (calcdistance is std::sqrt(s)). The search keeps the
//   least sum m so far and the last position at which it occurs, and drops points and
//   subtrees only above sum_cut(m): their distances exceed std::sqrt(m). Square roots are
//   monotone, so the least sum gives the smallest distance, and a point whose sum equals m has
//   that distance; but a sum above m and at most sum_cut(m) may round to it too. Where no such
//   sum was seen the answer is then complete; where one was (a near tie, which continuous data
//   almost never shows), a second pass visits again every point within the final cut and
//   compares its distance with std::sqrt(m) exactly.
// - The least sum only falls, and the cut with it, so what was dropped stays dropped: a sum
//   that is not kept is above the cut of its time, or equals m, or is seen as a near tie (in
//   particular the former least sum when a new one lies within its cut).
// - A subtree is skipped only when a lower bound of the sums of all its points exceeds the
//   cut. The bound: offsets[k] holds, for the points of the subtree, a lower bound of their
//   term (q[k] - p[k])^2 as calcdistance rounds it, and their sums are at least the in-order
//   rounded sum of the offsets (a rounded sum of non-negative terms does not decrease when a
//   term grows). Entering the far side of a node with split value v on dimension s, every
//   point there has p[s] on the far side of v (the left side holds p[s] <= v, the right side
//   p[s] >= v), so |q[s] - p[s]| >= |q[s] - v| exactly, and rounding the difference and
//   squaring keep that order: gap * gap, with gap = q[s] - v rounded, is a lower bound of
//   that term there. It is the node's own term, and the node lies in its subtree, so the same
//   bound covers the node, which is measured after the near side has lowered the cut.
// No NaN reaches here: the tree and the query were checked to be finite and bounded.
template <int32_t kDims>
class BranchAndBound {
 public:
  // scratch holds kScratchPerCoordinate * ndim doubles.
  BranchAndBound(const double* coordinates, int32_t count, int32_t ndim, const double* q,
                 double* scratch)
      : coordinates_(coordinates), count_(count), ndim_(ndim), q_(q), scratch_(scratch) {
    for (int32_t k = 0; k < kDims; ++k) columns_[k] = coordinates + static_cast<size_t>(k) * count;
  }

  NearestHit run(int32_t hint) {
    if (hint >= 0 && hint < count_) consider(hint, sum_at(hint));
    search();
    const double distance = std::sqrt(least_);
    if (nearTie_) {
      settling_ = true;
      distance_ = distance;
      best_ = -1;
      search();
    }
    return {best_, distance, measured_};
  }

 private:
  // The dimensions as a constant where the class is made for them, so that loops over them
  // unroll.
  int32_t dims() const { return kDims > 0 ? kDims : ndim_; }

  const double* column(int32_t k) const {
    return kDims > 0 ? columns_[k] : coordinates_ + static_cast<size_t>(k) * count_;
  }

  double sum_at(int32_t position) const {
    double sum = 0.0;
    for (int32_t k = 0; k < dims(); ++k) {
      const double d = q_[k] - column(k)[position];
      sum += d * d;
    }
    return sum;
  }

  void consider(int32_t position, double sum) {
    if (!(sum <= cut_)) return;
    if (settling_) {
      if (std::sqrt(sum) == distance_) best_ = std::max(best_, position);
    } else if (sum < least_) {
      nearTie_ = nearTie_ || least_ <= sum_cut(sum);
      least_ = sum;
      cut_ = sum_cut(sum);
      best_ = position;
    } else if (sum == least_) {
      best_ = std::max(best_, position);
    } else {
      nearTie_ = true;
    }
  }

  // The sums of the n <= kBucket points from position on, two at a time where SSE2 has lanes
  // of doubles (packed_tree_lanes.h), one at a time for the rest.
  void bucket_sums(int32_t position, int32_t n, double* sums) const {
    int32_t k = 0;
    if (kDims > 0) k = paired_sums<kDims>(q_, columns_, position, n, sums);
    for (; k < n; ++k) sums[k] = sum_at(position + k);
  }

  // A subtree whose node was passed on the way to its sibling: it is searched later, when the
  // bound of its sums (from its offsets) does not exceed the cut then.
  struct Pending {
    int32_t node;  // the parent, measured when the subtree is searched
    int32_t position;
    int32_t n;
    int32_t dim;
    double bound;
  };

  // The offsets of the subtree being descended, and those of each pending subtree.
  double* offsets() { return scratch_; }
  double* pending_offsets(int32_t k) { return scratch_ + static_cast<size_t>(k + 1) * dims(); }

  // Depth first, near side first; the far sides wait on a stack instead of in recursive calls.
  void search() {
    Pending pending[kMostPending];
    int32_t waiting = 0;
    int32_t position = 0;
    int32_t n = count_;
    int32_t dim = 0;
    for (int32_t k = 0; k < dims(); ++k) offsets()[k] = 0.0;
    for (;;) {
      while (n > kBucket) {
        ++measured_;
        // n > kBucket >= 2: both subtrees hold points.
        const int32_t leftCount = n / 2;
        const int32_t left = position + 1;
        const int32_t right = left + leftCount;
        const int32_t rightCount = n - leftCount - 1;
        const int32_t next = dim + 1 == dims() ? 0 : dim + 1;
        const double gap = q_[dim] - column(dim)[position];
        // The side is chosen by arithmetic: a branch on it would be mispredicted half the time.
        const int32_t leftIsNear = -static_cast<int32_t>(gap < 0.0);
        const int32_t near = right ^ ((right ^ left) & leftIsNear);
        const int32_t nearCount = rightCount ^ ((rightCount ^ leftCount) & leftIsNear);
        double* farOffsets = pending_offsets(waiting);
        double bound = 0.0;
        for (int32_t k = 0; k < dims(); ++k) {
          farOffsets[k] = k == dim ? gap * gap : offsets()[k];
          bound += farOffsets[k];
        }
        pending[waiting++] = {position, left ^ right ^ near, leftCount ^ rightCount ^ nearCount,
                              next, bound};
        position = near;
        n = nearCount;
        dim = next;
      }
      scan(position, n);
      if (measured_ >= pollAt_) {
        pollAt_ = measured_ + kMeasuredPerPoll;
        poll_interrupt();
      }
      do {
        if (waiting == 0) return;
        --waiting;
      } while (!(pending[waiting].bound <= cut_));
      const Pending& far = pending[waiting];
      consider(far.node, sum_at(far.node));
      ++measured_;
      position = far.position;
      n = far.n;
      dim = far.dim;
      const double* farOffsets = pending_offsets(waiting);
      for (int32_t k = 0; k < dims(); ++k) offsets()[k] = farOffsets[k];
    }
  }

  // Most buckets hold no contender: one test for the whole bucket then.
  void scan(int32_t position, int32_t n) {
    measured_ += n;
    double sums[kBucket];
    bucket_sums(position, n, sums);
    double least = sums[0];
    for (int32_t k = 1; k < n; ++k) least = std::min(least, sums[k]);
    if (least <= cut_) {
      for (int32_t k = 0; k < n; ++k) consider(position + k, sums[k]);
    }
  }

  const double* const coordinates_;
  const double* columns_[kDims > 0 ? kDims : 1];
  const int32_t count_;
  const int32_t ndim_;
  const double* const q_;
  double* const scratch_;
  int32_t best_ = -1;
  double least_ = INFINITY;
  double cut_ = INFINITY;
  bool nearTie_ = false;
  bool settling_ = false;
  double distance_ = 0.0;
  int64_t measured_ = 1;  // the hint's
  int64_t pollAt_ = kMeasuredPerPoll;
};

}  // namespace

double PackedTree::coordinate_bound(int32_t ndim) {
  return 1e12 / ((ndim + 8) * std::sqrt(static_cast<double>(ndim)));
}

PackedTree PackedTree::of(tree_header& tree) {
  if (tree.searchCopy == nullptr || static_cast<const CopyHeader*>(tree.searchCopy)->unfinished) {
    const bool packable = tree.root != nullptr && tree.count >= 1 && tree.ndim >= 1;
    const Layout layout(packable ? tree.count : 0, packable ? tree.ndim : 0);
    char* block = static_cast<char*>(allocate_search_copy(&tree, layout.bytes));
    if (block == nullptr) return PackedTree();
    *reinterpret_cast<CopyHeader*>(block) = CopyHeader{tree.ndim, 0, 0, 1};
    CopyHeader header{tree.ndim, 0, 0, 0};
    if (packable) {
      Packing packing(block, tree.count, tree.ndim);
      bool packed = packing.copy_subtree(tree.root, 0, tree.count, 0);
      if (packed && tree.ndim == 1) packed = packing.line_up(0, tree.count);
      if (packed) header = CopyHeader{tree.ndim, tree.count, packing.lineCount, 0};
    }
    if (header.count == 0 && layout.bytes > sizeof(CopyHeader)) {
      // Only the mark is kept.
      block = static_cast<char*>(allocate_search_copy(&tree, sizeof(CopyHeader)));
      if (block == nullptr) return PackedTree();
    }
    *reinterpret_cast<CopyHeader*>(block) = header;
  }
  return PackedTree(tree.searchCopy);
}

PackedTree::PackedTree(const void* block) {
  const char* bytes = static_cast<const char*>(block);
  const CopyHeader& header = *reinterpret_cast<const CopyHeader*>(bytes);
  if (header.count == 0) return;
  const Layout layout(header.count, header.ndim);
  ndim_ = header.ndim;
  count_ = header.count;
  lineCount_ = header.lineCount;
  bound_ = coordinate_bound(ndim_);
  coordinates_ = reinterpret_cast<const double*>(bytes + layout.coordinates);
  rows_ = reinterpret_cast<const uint32_t*>(bytes + layout.rows);
  lineValues_ = reinterpret_cast<const double*>(bytes + layout.lineValues);
  lineLast_ = reinterpret_cast<const int32_t*>(bytes + layout.lineLast);
}

bool PackedTree::admits(const double* q) const {
  for (int32_t k = 0; k < ndim_; ++k) {
    if (!(std::fabs(q[k]) <= bound_)) return false;
  }
  return true;
}

NearestHit PackedTree::nearest(const double* q, double* scratch, int32_t hint) const {
  switch (ndim_) {
    case 1: return nearest_on_line(q[0]);
    case 2: return BranchAndBound<2>(coordinates_, count_, 2, q, scratch).run(hint);
    case 3: return BranchAndBound<3>(coordinates_, count_, 3, q, scratch).run(hint);
    default: return BranchAndBound<0>(coordinates_, count_, ndim_, q, scratch).run(hint);
  }
}

// calcdistance(q, v) is non-increasing in v up to q and non-decreasing from q on (the rounded
// difference, its square and its square root all keep the order of |q - v|). So the smallest
// distance is that of the last value below q or of the first value not below it, and the
// values at that distance are a run on each side, next to those two: walking outwards while
// the distance stays equal finds them all.
NearestHit PackedTree::nearest_on_line(double q) const {
  const size_t size = static_cast<size_t>(lineCount_);
  const size_t above = std::lower_bound(lineValues_, lineValues_ + size, q) - lineValues_;
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
  // Values at the smallest distance are rarely more than one on each side: two distances
  // measure the search well enough.
  return {last, best, 2};
}

}  // namespace tulm
