#include "core/spatial_search/literal_kdtree.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

#include "core/spatial_search/hoare_partition.h"

namespace tulm {
namespace reference {
namespace {

const char* const kMemoryMessage = "Error allocating memory for kD-Tree\n";

// The rows of a slice keyed by their coordinate along one dimension, for hoare_partition.
struct SliceRows {
  const double* column;  // the coordinates along the dimension, by row
  int32_t* idx;
  double key(int32_t i) const { return column[idx[i]]; }
  void swap(int32_t i, int32_t j) { std::swap(idx[i], idx[j]); }
};

// Sorts positions lo..hi ascending by key. The smaller part is sorted by recursion and the
// larger by the loop, which bounds the stack; the parts are disjoint, so the order they are
// taken in changes nothing.
void quicksort(SliceRows& rows, int32_t lo, int32_t hi) {
  while (lo < hi) {
    const int32_t p = hoare_partition(rows, lo, hi);
    if (p - lo < hi - p) {
      quicksort(rows, lo, p);
      lo = p + 1;
    } else {
      quicksort(rows, p + 1, hi);
      hi = p;
    }
  }
}

}  // namespace

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
    SliceRows rows{data + static_cast<int64_t>(dim) * stride, idx};
    quicksort(rows, 0, n - 1);
    m = static_cast<int32_t>(n * 0.5);
  }
  for (int32_t k = 0; k < ndim; ++k) value[k] = data[static_cast<int64_t>(k) * stride + idx[m]];
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

void free_tree(node* root) {
  if (root == nullptr) return;
  free_tree(root->left);
  free_tree(root->right);
  std::free(root->value);
  std::free(root);
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

}  // namespace reference
}  // namespace tulm
