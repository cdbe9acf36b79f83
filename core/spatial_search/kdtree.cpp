#include "core/spatial_search/kdtree.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "core/errors.h"

namespace tulm {
namespace {

const char* const kMemoryMessage = "Error allocating memory for kD-Tree\n";

// partition swaps through this module-level int; construction is therefore not reentrant.
int32_t swap_tmp_int;

inline double key_of(const double* data, int32_t dim, int32_t stride, int32_t entry) {
  return data[static_cast<int64_t>(dim) * stride + entry];
}

inline int32_t median_position(int32_t n) { return static_cast<int32_t>(n * 0.5); }

void copy_point(const double* data, int32_t stride, int32_t ndim, int32_t row, double* value) {
  for (int32_t k = 0; k < ndim; ++k) value[k] = key_of(data, k, stride, row);
}

bool strictly_increasing(const int32_t* slice, int32_t n, const double* data, int32_t dim,
                         int32_t stride) {
  for (int32_t e = 1; e < n; ++e) {
    if (!(key_of(data, dim, stride, slice[e - 1]) < key_of(data, dim, stride, slice[e]))) {
      return false;
    }
  }
  return true;
}

// Whether the keys of every row in idx[0..n-1] along dim are distinct and not NaN. Then any
// correct sort or selection of a slice gives what the first-pivot quicksort gives: the one
// ascending order. The keys are compared as integers that order like the doubles (-0 and 0
// made one), sorted by an LSD radix sort over 11-bit digits.
bool keys_distinct(const double* data, int32_t stride, const int32_t* idx, int32_t n, int32_t dim) {
  constexpr int kDigitBits = 11;
  constexpr int kPasses = 6;
  constexpr uint64_t kDigitMask = (1u << kDigitBits) - 1;
  std::vector<uint64_t> keys(static_cast<size_t>(n));
  std::vector<uint64_t> spare(static_cast<size_t>(n));
  std::vector<uint32_t> counts(static_cast<size_t>(kPasses) << kDigitBits, 0);
  for (int32_t e = 0; e < n; ++e) {
    double x = key_of(data, dim, stride, idx[e]);
    if (x != x) return false;
    if (x == 0.0) x = 0.0;
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    keys[e] = bits >> 63 ? ~bits : bits | (uint64_t{1} << 63);
    for (int pass = 0; pass < kPasses; ++pass) {
      ++counts[(static_cast<size_t>(pass) << kDigitBits) +
               ((keys[e] >> (pass * kDigitBits)) & kDigitMask)];
    }
  }
  for (int pass = 0; pass < kPasses; ++pass) {
    uint32_t* count = &counts[static_cast<size_t>(pass) << kDigitBits];
    const int shift = pass * kDigitBits;
    if (count[(keys[0] >> shift) & kDigitMask] == static_cast<uint32_t>(n)) continue;
    uint32_t start = 0;
    for (uint64_t digit = 0; digit <= kDigitMask; ++digit) {
      const uint32_t c = count[digit];
      count[digit] = start;
      start += c;
    }
    for (int32_t e = 0; e < n; ++e) spare[count[(keys[e] >> shift) & kDigitMask]++] = keys[e];
    keys.swap(spare);
  }
  return std::adjacent_find(keys.begin(), keys.end()) == keys.end();
}

// The construction of build_tree over one block of nodes, filled in pre-order.
//
// The literal construction sorts every slice by quicksort; what a slice's subtrees see is
// the order that sort leaves. A slice whose split keys are distinct ends up in ascending
// order however it is sorted, so selecting its median is enough, and its two parts are then
// known to be in ascending order along the parent's split dimension without being sorted.
// A slice that may hold equal keys is first put back into that order (a sort on the
// parent's distinct keys) and then sorted by the exact quicksort, which decides the ties.
class FastBuild {
 public:
  // Node k of the pre-order sits at block + k * record_bytes, its coordinates right after it,
  // so that a search touches one place per node and a left child follows its parent.
  static size_t record_bytes(int32_t ndim) { return sizeof(node) + ndim * sizeof(double); }

  FastBuild(const double* data, int32_t stride, int32_t ndim, void* block)
      : data_(data), stride_(stride), ndim_(ndim), block_(static_cast<char*>(block)) {}

  node* build(int32_t* idx, int32_t n, int32_t dim) {
    distinct_.resize(static_cast<size_t>(ndim_));
    for (int32_t d = 0; d < ndim_; ++d) distinct_[d] = keys_distinct(data_, stride_, idx, n, d);
    pairs_.resize(static_cast<size_t>(n));
    return build_core(idx, n, dim, kExactOrder);
  }

 private:
  static constexpr int32_t kExactOrder = -1;

  // ascending_by: kExactOrder when slice holds the literal construction's order, else the
  // dimension (with distinct keys) along which that order is ascending.
  node* build_core(int32_t* slice, int32_t n, int32_t dim, int32_t ascending_by) {
    node* at = reinterpret_cast<node*>(block_ + used_ * record_bytes(ndim_));
    at->value = reinterpret_cast<double*>(at + 1);
    ++used_;
    const int32_t m = n > 1 ? median_position(n) : 0;
    int32_t children_order = kExactOrder;
    if (n > 1 && !strictly_increasing(slice, n, data_, dim, stride_)) {
      if (distinct_[dim]) {
        select(slice, n, m, dim);
      } else {
        if (ascending_by != kExactOrder) sort_ascending(slice, n, ascending_by);
        quicksort(slice, 0, n - 1, data_, dim, stride_);
      }
    }
    if (n > 1 && distinct_[dim]) children_order = dim;
    copy_point(data_, stride_, ndim_, slice[m], at->value);
    at->idx = static_cast<uint32_t>(slice[m]);
    at->dim = dim;
    at->left = nullptr;
    at->right = nullptr;
    if (n > 1) {
      const int32_t next = (dim + 1) % ndim_;
      at->left = build_core(slice, m, next, children_order);
      if (n - m != 1) at->right = build_core(slice + m + 1, n - m - 1, next, children_order);
    }
    return at;
  }

  void gather(const int32_t* slice, int32_t n, int32_t dim) {
    for (int32_t e = 0; e < n; ++e) pairs_[e] = {key_of(data_, dim, stride_, slice[e]), slice[e]};
  }

  void scatter(int32_t* slice, int32_t n) const {
    for (int32_t e = 0; e < n; ++e) slice[e] = pairs_[e].second;
  }

  struct ByKey {
    bool operator()(const std::pair<double, int32_t>& a,
                    const std::pair<double, int32_t>& b) const {
      return a.first < b.first;
    }
  };

  void select(int32_t* slice, int32_t n, int32_t m, int32_t dim) {
    gather(slice, n, dim);
    std::nth_element(pairs_.begin(), pairs_.begin() + m, pairs_.begin() + n, ByKey());
    scatter(slice, n);
  }

  void sort_ascending(int32_t* slice, int32_t n, int32_t dim) {
    gather(slice, n, dim);
    std::sort(pairs_.begin(), pairs_.begin() + n, ByKey());
    scatter(slice, n);
  }

  const double* data_;
  int32_t stride_;
  int32_t ndim_;
  char* block_;
  size_t used_ = 0;
  std::vector<char> distinct_;
  std::vector<std::pair<double, int32_t>> pairs_;
};

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

}  // namespace

int32_t partition(int32_t* idx, int32_t lo, int32_t hi, const double* data, int32_t dim,
                  int32_t stride) {
  const double pivot = key_of(data, dim, stride, idx[lo]);
  int32_t i = lo - 1;
  int32_t j = hi + 1;
  for (;;) {
    do {
      --j;
    } while (key_of(data, dim, stride, idx[j]) > pivot);
    do {
      ++i;
    } while (key_of(data, dim, stride, idx[i]) < pivot);
    if (j <= i) return j;
    swap_tmp_int = idx[i];
    idx[i] = idx[j];
    idx[j] = swap_tmp_int;
  }
}

void quicksort(int32_t* idx, int32_t lo, int32_t hi, const double* data, int32_t dim,
               int32_t stride) {
  while (lo < hi) {
    const int32_t p = partition(idx, lo, hi, data, dim, stride);
    if (p - lo < hi - p) {
      quicksort(idx, lo, p, data, dim, stride);
      lo = p + 1;
    } else {
      quicksort(idx, p + 1, hi, data, dim, stride);
      hi = p;
    }
  }
}

node* build_tree_core(const double* data, int32_t stride, int32_t ndim, int32_t* idx, int32_t n,
                      int32_t dim, Diagnostics& diagnostics) {
  node* at = static_cast<node*>(std::malloc(sizeof(node)));
  double* value =
      at != nullptr ? static_cast<double*>(std::malloc(ndim * sizeof(double))) : nullptr;
  if (value == nullptr) {
    std::free(at);
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  int32_t m = 0;
  if (n > 1) {
    quicksort(idx, 0, n - 1, data, dim, stride);
    m = median_position(n);
  }
  copy_point(data, stride, ndim, idx[m], value);
  *at = node{value, dim, static_cast<uint32_t>(idx[m]), nullptr, nullptr};
  if (n == 1) return at;

  const int32_t next = (dim + 1) % ndim;
  at->left = build_tree_core(data, stride, ndim, idx, m, next, diagnostics);
  bool built = at->left != nullptr;
  if (built && n - m != 1) {
    at->right = build_tree_core(data, stride, ndim, idx + m + 1, n - m - 1, next, diagnostics);
    built = at->right != nullptr;
  }
  if (!built) {
    free_tree(at);
    return nullptr;
  }
  return at;
}

tree_header* build_tree(const double* data, int32_t stride, int32_t ndim, int32_t* idx, int32_t n,
                        int32_t dim, Diagnostics& diagnostics) {
  std::unique_ptr<tree_header, FreeDeleter> tree(
      static_cast<tree_header*>(std::malloc(sizeof(tree_header))));
  if (tree == nullptr) {
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  *tree = tree_header{nullptr, ndim, nullptr};
  if (n < 1) return tree.release();

  const size_t count = static_cast<size_t>(n);
  std::unique_ptr<void, FreeDeleter> block(std::malloc(count * FastBuild::record_bytes(ndim)));
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
  tree->block = block.release();
  return tree.release();
}

void free_tree(node* root) {
  if (root == nullptr) return;
  free_tree(root->left);
  free_tree(root->right);
  std::free(root->value);
  std::free(root);
}

void release_tree(tree_header* tree) {
  if (tree == nullptr) return;
  if (tree->block != nullptr) {
    std::free(tree->block);
  } else {
    free_tree(tree->root);
  }
  std::free(tree);
}

void display_tree(const node* root, int32_t ndim, Diagnostics& diagnostics) {
  diagnostics.print(format("Node: (dim = %d) (idx= %u) (value = ", root->dim, root->idx));
  for (int32_t k = 0; k < ndim; ++k) diagnostics.print(format("%f\t", root->value[k]));
  diagnostics.print(")\n");
  if (root->left != nullptr) {
    diagnostics.print("Going left\n");
    display_tree(root->left, ndim, diagnostics);
  } else {
    diagnostics.print("Left is (null)\n");
  }
  if (root->right != nullptr) {
    diagnostics.print("Going right\n");
    display_tree(root->right, ndim, diagnostics);
  } else {
    diagnostics.print("Right is (null)\n");
  }
}

node* rangeQuery(const node* root, double r, const double* q, int32_t n) {
  node* first = nullptr;
  node** tail = &first;
  try {
    for_each_in_range(root, r, q, n, [&](const node* match, double) {
      node* cell = static_cast<node*>(std::malloc(sizeof(node)));
      double* value =
          cell != nullptr ? static_cast<double*>(std::malloc(n * sizeof(double))) : nullptr;
      if (value == nullptr) {
        std::free(cell);
        throw std::bad_alloc();
      }
      std::copy(match->value, match->value + n, value);
      *cell = node{value, match->dim, match->idx, nullptr, nullptr};
      *tail = cell;
      tail = &cell->right;
    });
  } catch (const std::bad_alloc&) {
    while (first != nullptr) {
      node* next = first->right;
      std::free(first->value);
      std::free(first);
      first = next;
    }
    throw;
  }
  return first;
}

}  // namespace tulm
