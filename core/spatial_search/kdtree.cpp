// The tulm_kdtree library: the construction and release of every tree, and the registry of
// kept trees. Built as a shared library of its own and never linked into a plug-in.
#include "core/spatial_search/kdtree.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace tulm {
namespace {

const char* const kMemoryMessage = "Error allocating memory for kD-Tree\n";

inline double key_of(const double* data, int32_t dim, int32_t stride, int32_t entry) {
  return data[static_cast<int64_t>(dim) * stride + entry];
}

inline int32_t median_position(int32_t n) { return static_cast<int32_t>(n * 0.5); }

void copy_point(const double* data, int32_t stride, int32_t ndim, int32_t row, double* value) {
  for (int32_t k = 0; k < ndim; ++k) value[k] = key_of(data, k, stride, row);
}

using KeyedRow = std::pair<double, int32_t>;

// Hoare's partition with the first entry as pivot, on (key, row) pairs: the steps that
// quicksort takes on the index array, with the keys in contiguous memory.
int32_t hoare_partition(KeyedRow* pairs, int32_t lo, int32_t hi) {
  const double pivot = pairs[lo].first;
  int32_t i = lo - 1;
  int32_t j = hi + 1;
  for (;;) {
    do {
      --j;
    } while (pairs[j].first > pivot);
    do {
      ++i;
    } while (pairs[i].first < pivot);
    if (j <= i) return j;
    std::swap(pairs[i], pairs[j]);
  }
}

// The lower part is sorted before the upper one in the literal construction; the parts are
// disjoint, so sorting the smaller one first, by recursion, gives the same order with a
// stack of logarithmic depth.
void hoare_quicksort(KeyedRow* pairs, int32_t lo, int32_t hi) {
  while (lo < hi) {
    const int32_t p = hoare_partition(pairs, lo, hi);
    if (p - lo < hi - p) {
      hoare_quicksort(pairs, lo, p);
      lo = p + 1;
    } else {
      hoare_quicksort(pairs, p + 1, hi);
      hi = p;
    }
  }
}

// A key as an integer that orders like the double, with -0 and 0 made one (they are equal
// keys). Not for NaN.
uint64_t ordered_bits(double x) {
  if (x == 0.0) x = 0.0;
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits >> 63 ? ~bits : bits | (uint64_t{1} << 63);
}

// Sorts keys ascending by an LSD radix sort over 11-bit digits.
void radix_sort(std::vector<uint64_t>& keys) {
  constexpr int kDigitBits = 11;
  constexpr int kPasses = 6;
  constexpr uint64_t kDigitMask = (1u << kDigitBits) - 1;
  const size_t n = keys.size();
  if (n < 2) return;
  std::vector<uint64_t> spare(n);
  std::vector<uint32_t> counts(static_cast<size_t>(kPasses) << kDigitBits, 0);
  for (const uint64_t key : keys) {
    for (int pass = 0; pass < kPasses; ++pass) {
      ++counts[(static_cast<size_t>(pass) << kDigitBits) +
               ((key >> (pass * kDigitBits)) & kDigitMask)];
    }
  }
  for (int pass = 0; pass < kPasses; ++pass) {
    uint32_t* count = &counts[static_cast<size_t>(pass) << kDigitBits];
    const int shift = pass * kDigitBits;
    if (count[(keys[0] >> shift) & kDigitMask] == n) continue;
    uint32_t start = 0;
    for (uint64_t digit = 0; digit <= kDigitMask; ++digit) {
      const uint32_t c = count[digit];
      count[digit] = start;
      start += c;
    }
    for (const uint64_t key : keys) spare[count[(key >> shift) & kDigitMask]++] = key;
    keys.swap(spare);
  }
}

// The construction of build_tree over one block of nodes, filled in pre-order.
//
// The literal construction sorts every slice by quicksort; what a slice's subtrees see is
// the order that sort leaves. A slice whose split keys are distinct ends up in ascending
// order however it is sorted, so selecting its median is enough, and its two parts are then
// known to be in ascending order along the split dimension without being sorted. A slice
// that holds equal keys (or NaN) is first put back into the order the literal construction
// hands it (a sort on the parent's keys, which were distinct) and then sorted by the exact
// quicksort, which decides the ties.
//
// Equal keys are found once per dimension: rows whose key some other row shares, or NaN,
// are marked, and a slice is checked for a tie among its marked rows only.
class FastBuild {
 public:
  // Node k of the pre-order sits at block + k * node_bytes, its coordinates right after it,
  // so that a search touches one place per node and a left child follows its parent.
  static size_t node_bytes(int32_t ndim) { return sizeof(node) + ndim * sizeof(double); }

  FastBuild(const double* data, int32_t stride, int32_t ndim, void* block)
      : data_(data), stride_(stride), ndim_(ndim), block_(static_cast<char*>(block)) {}

  node* build(int32_t* idx, int32_t n, int32_t dim) {
    marked_.resize(static_cast<size_t>(ndim_));
    for (int32_t d = 0; d < ndim_; ++d) mark_shared_keys(idx, n, d);
    pairs_.resize(static_cast<size_t>(n));
    return build_core(idx, n, dim, kExactOrder);
  }

 private:
  static constexpr int32_t kExactOrder = -1;

  double key(int32_t dim, int32_t row) const { return key_of(data_, dim, stride_, row); }

  void mark_shared_keys(const int32_t* idx, int32_t n, int32_t dim) {
    std::vector<uint64_t> keys;
    keys.reserve(static_cast<size_t>(n));
    bool nan = false;
    for (int32_t e = 0; e < n; ++e) {
      const double x = key(dim, idx[e]);
      if (x != x) {
        nan = true;
      } else {
        keys.push_back(ordered_bits(x));
      }
    }
    radix_sort(keys);
    std::vector<uint64_t> shared;
    for (size_t e = 1; e < keys.size(); ++e) {
      if (keys[e] == keys[e - 1] && (shared.empty() || shared.back() != keys[e])) {
        shared.push_back(keys[e]);
      }
    }
    if (shared.empty() && !nan) return;
    marked_[dim].assign(static_cast<size_t>(stride_), 0);
    for (int32_t e = 0; e < n; ++e) {
      const double x = key(dim, idx[e]);
      marked_[dim][idx[e]] =
          x != x || std::binary_search(shared.begin(), shared.end(), ordered_bits(x));
    }
  }

  // The slice's keys along dim are distinct and not NaN.
  bool distinct(const int32_t* slice, int32_t n, int32_t dim) {
    if (marked_[dim].empty()) return true;
    marked_keys_.clear();
    for (int32_t e = 0; e < n; ++e) {
      if (!marked_[dim][slice[e]]) continue;
      const double x = key(dim, slice[e]);
      if (x != x) return false;
      marked_keys_.push_back(x);
    }
    std::sort(marked_keys_.begin(), marked_keys_.end());
    return std::adjacent_find(marked_keys_.begin(), marked_keys_.end()) == marked_keys_.end();
  }

  bool increasing(const int32_t* slice, int32_t n, int32_t dim) const {
    for (int32_t e = 1; e < n; ++e) {
      if (!(key(dim, slice[e - 1]) < key(dim, slice[e]))) return false;
    }
    return true;
  }

  // ascending_by: kExactOrder when slice holds the literal construction's order, else the
  // dimension along which that order is ascending (with distinct keys).
  node* build_core(int32_t* slice, int32_t n, int32_t dim, int32_t ascending_by) {
    node* at = reinterpret_cast<node*>(block_ + used_ * node_bytes(ndim_));
    at->value = reinterpret_cast<double*>(at + 1);
    ++used_;
    const int32_t m = n > 1 ? median_position(n) : 0;
    bool selected = true;
    if (n > 1 && !increasing(slice, n, dim)) {
      selected = distinct(slice, n, dim);
      if (selected) {
        reorder(slice, n, dim, m);
      } else {
        if (ascending_by != kExactOrder) reorder(slice, n, ascending_by, -1);
        exact_sort(slice, n, dim);
      }
    }
    copy_point(data_, stride_, ndim_, slice[m], at->value);
    at->idx = static_cast<uint32_t>(slice[m]);
    at->dim = dim;
    at->left = nullptr;
    at->right = nullptr;
    if (n > 1) {
      const int32_t children_order = selected ? dim : kExactOrder;
      const int32_t next = (dim + 1) % ndim_;
      at->left = build_core(slice, m, next, children_order);
      if (n - m != 1) at->right = build_core(slice + m + 1, n - m - 1, next, children_order);
    }
    return at;
  }

  struct ByKey {
    bool operator()(const KeyedRow& a, const KeyedRow& b) const { return a.first < b.first; }
  };

  void gather(const int32_t* slice, int32_t n, int32_t dim) {
    for (int32_t e = 0; e < n; ++e) pairs_[e] = {key(dim, slice[e]), slice[e]};
  }

  void scatter(int32_t* slice, int32_t n) const {
    for (int32_t e = 0; e < n; ++e) slice[e] = pairs_[e].second;
  }

  // Orders a slice of distinct keys along dim: the median at position m, smaller keys before
  // it and larger after, or, for m = -1, fully ascending.
  void reorder(int32_t* slice, int32_t n, int32_t dim, int32_t m) {
    gather(slice, n, dim);
    if (m >= 0) {
      std::nth_element(pairs_.begin(), pairs_.begin() + m, pairs_.begin() + n, ByKey());
    } else {
      std::sort(pairs_.begin(), pairs_.begin() + n, ByKey());
    }
    scatter(slice, n);
  }

  // What quicksort does to the slice, on the pairs.
  void exact_sort(int32_t* slice, int32_t n, int32_t dim) {
    gather(slice, n, dim);
    hoare_quicksort(pairs_.data(), 0, n - 1);
    scatter(slice, n);
  }

  const double* data_;
  int32_t stride_;
  int32_t ndim_;
  char* block_;
  size_t used_ = 0;
  // Per dimension, by row: whether the row's key is shared or NaN; empty when no key is.
  std::vector<std::vector<char>> marked_;
  std::vector<double> marked_keys_;
  std::vector<KeyedRow> pairs_;
};

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

// The registry of kept trees: plain static data of this library, of which a process has one
// copy, so all plug-ins see the same trees. It has no destructor: kept trees stay reachable
// to leak checkers until the process ends.
tree_header** keptTrees = nullptr;
size_t keptCount = 0;
size_t keptCapacity = 0;

// The position of tree among the kept trees, or keptCount.
size_t kept_position(const tree_header* tree) {
  size_t k = 0;
  while (k < keptCount && keptTrees[k] != tree) ++k;
  return k;
}

}  // namespace

tree_header* build_tree(const double* data, int32_t stride, int32_t ndim, int32_t* idx, int32_t n,
                        int32_t dim, Diagnostics& diagnostics) {
  std::unique_ptr<tree_header, FreeDeleter> tree(
      static_cast<tree_header*>(std::malloc(sizeof(tree_header))));
  if (tree == nullptr) {
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  *tree = tree_header{nullptr, ndim, n > 0 ? n : 0};
  if (n < 1) return tree.release();

  const size_t count = static_cast<size_t>(n);
  std::unique_ptr<void, FreeDeleter> block(std::malloc(count * FastBuild::node_bytes(ndim)));
  if (block == nullptr) {
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  try {
    tree->root = FastBuild(data, stride, ndim, block.get()).build(idx, n, dim);
  } catch (const std::bad_alloc&) {
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  assert(tree->root == block.get() && "release_tree frees the whole tree through its root");
  block.release();
  return tree.release();
}

bool keep_tree(tree_header* tree) {
  if (kept_position(tree) < keptCount) return true;
  if (keptCount == keptCapacity) {
    const size_t capacity = keptCapacity == 0 ? 16 : 2 * keptCapacity;
    void* grown = std::realloc(keptTrees, capacity * sizeof(tree_header*));
    if (grown == nullptr) return false;
    keptTrees = static_cast<tree_header**>(grown);
    keptCapacity = capacity;
  }
  keptTrees[keptCount++] = tree;
  return true;
}

tree_header* find_kept_tree(int64_t address) {
  for (size_t k = 0; k < keptCount; ++k) {
    if (static_cast<int64_t>(reinterpret_cast<intptr_t>(keptTrees[k])) == address) {
      return keptTrees[k];
    }
  }
  return nullptr;
}

void release_tree(tree_header* tree) {
  if (tree == nullptr) return;
  const size_t position = kept_position(tree);
  if (position < keptCount) keptTrees[position] = keptTrees[--keptCount];
  std::free(tree->root);
  std::free(tree);
}

}  // namespace tulm
