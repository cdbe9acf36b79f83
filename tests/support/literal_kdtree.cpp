#include "literal_kdtree.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "core/errors.h"

namespace tulm_test {
namespace {

using tulm::node;

const char* const kMemoryMessage = "Error allocating memory for kD-Tree\n";

// partition swaps through this module-level int; construction is therefore not reentrant.
int32_t swap_tmp_int;

double key_of(const double* data, int32_t dim, int32_t stride, int32_t entry) {
  return data[static_cast<int64_t>(dim) * stride + entry];
}

// Hoare's partition of idx[lo..hi] with the first entry as pivot.
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

// Sorts idx[lo..hi] ascending by key. The smaller part is sorted by recursion and the larger
// by the loop, which bounds the stack; the parts are disjoint, so the order they are taken in
// changes nothing.
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

}  // namespace

node* build_tree_core(const double* data, int32_t stride, int32_t ndim, int32_t* idx, int32_t n,
                      int32_t dim, tulm::Diagnostics& diagnostics) {
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
    m = static_cast<int32_t>(n * 0.5);
  }
  for (int32_t k = 0; k < ndim; ++k) value[k] = key_of(data, k, stride, idx[m]);
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

void display_tree(const node* root, int32_t ndim, tulm::Diagnostics& diagnostics) {
  diagnostics.print(tulm::format("Node: (dim = %d) (idx= %u) (value = ", root->dim, root->idx));
  for (int32_t k = 0; k < ndim; ++k) diagnostics.print(tulm::format("%f\t", root->value[k]));
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
    tulm::for_each_in_range(root, r, q, n, [&](const node* match, double) {
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

}  // namespace tulm_test
