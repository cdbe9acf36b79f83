#include "core/spatial_search/nearest_queries.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>
#include <utility>
#include <vector>

namespace tulm {

const node* pointLocation(const node* root, const double* q, int32_t n) {
  const node* at = root;
  while (at->left != nullptr || at->right != nullptr) {
    const int32_t s = at->dim;
    const double v = at->value[s];
    const node* next;
    if (v > q[s]) {
      next = at->left;
    } else if (q[s] > v) {
      next = at->right;
    } else {
      const node* a = at->left != nullptr ? pointLocation(at->left, q, n) : at;
      const node* b = at->right != nullptr ? pointLocation(at->right, q, n) : at;
      return calcdistance(b->value, q, n) > calcdistance(a->value, q, n) ? a : b;
    }
    if (next == nullptr) return at;
    at = next;
  }
  return at;
}

namespace {

// Absolute slack, in coordinate units, added to the candidate's distance before the radius
// search collects every point that could be nearer.
constexpr double kSearchSlack = 0.001;

// x's low 21 bits spread to every third bit.
uint64_t spread_bits(uint64_t x) {
  x &= 0x1fffff;
  x = (x | x << 32) & 0x1f00000000ffffull;
  x = (x | x << 16) & 0x1f0000ff0000ffull;
  x = (x | x << 8) & 0x100f00f00f00f00full;
  x = (x | x << 4) & 0x10c30c30c30c30c3ull;
  x = (x | x << 2) & 0x1249249249249249ull;
  return x;
}

// The model rows along a Morton curve of their first three coordinates, so that consecutive
// queries walk the same nodes while those are still in cache. Empty when the order is not
// worth making or there is no memory for it; each row's answer is the same in any order.
std::vector<int32_t> cache_friendly_order(const double* model, int32_t Q, int32_t N) {
  constexpr int32_t kWorthSorting = 1024;
  std::vector<int32_t> order;
  if (Q < kWorthSorting) return order;
  try {
    std::vector<std::pair<uint64_t, int32_t>> keyed(static_cast<size_t>(Q));
    for (int32_t i = 0; i < Q; ++i) keyed[i] = {0, i};
    for (int32_t k = 0; k < N && k < 3; ++k) {
      const double* column = model + static_cast<int64_t>(k) * Q;
      double lo = INFINITY;
      double hi = -INFINITY;
      for (int32_t i = 0; i < Q; ++i) {
        if (std::isfinite(column[i])) {
          lo = std::min(lo, column[i]);
          hi = std::max(hi, column[i]);
        }
      }
      const double scale = hi > lo ? 2097151.0 / (hi - lo) : 0.0;
      for (int32_t i = 0; i < Q; ++i) {
        const double cell = std::isfinite(column[i]) ? (column[i] - lo) * scale : 0.0;
        keyed[i].first |= spread_bits(static_cast<uint64_t>(cell)) << k;
      }
    }
    std::sort(keyed.begin(), keyed.end());
    order.resize(static_cast<size_t>(Q));
    for (int32_t i = 0; i < Q; ++i) order[i] = keyed[i].second;
  } catch (const std::bad_alloc&) {
    order.clear();
  }
  return order;
}

}  // namespace

void run_queries(const node* root, const double* model, int32_t Q, int32_t N, double* out,
                 double* dist, int16_t mode, Diagnostics& diagnostics) {
  const std::vector<int32_t> order = cache_friendly_order(model, Q, N);
  std::vector<double> q(static_cast<size_t>(N));
  for (int32_t n = 0; n < Q; ++n) {
    const int32_t i = order.empty() ? n : order[n];
    for (int32_t k = 0; k < N; ++k) q[k] = model[i + static_cast<int64_t>(k) * Q];
    const node* candidate = pointLocation(root, q.data(), N);
    const double r = calcdistance(candidate->value, q.data(), N) + kSearchSlack;

    // Walking the result list keeps a match when dist >= its distance, so the last of the
    // nearest matches in pre-order wins. (Distances from q or to q are the same bits.)
    const node* best = nullptr;
    double bestDistance = 0.0;
    for_each_in_range(root, r, q.data(), N, [&](const node* match, double d) {
      if (best == nullptr || bestDistance >= d) {
        best = match;
        bestDistance = d;
      }
    });

    // Every row without a match prints the same line, so the order of rows is not seen.
    if (best == nullptr) {
      if (mode == kIndexMode) {
        out[i] = -1;
      } else {
        for (int32_t k = 0; k < N; ++k) out[i + static_cast<int64_t>(k) * Q] = -1;
      }
      diagnostics.print("Null LL\n");
      continue;
    }
    dist[i] = bestDistance;
    if (mode == kIndexMode) {
      out[i] = static_cast<double>(best->idx);
    } else {
      for (int32_t k = 0; k < N; ++k) out[i + static_cast<int64_t>(k) * Q] = best->value[k];
    }
  }
}

SearchedTree::~SearchedTree() {
  if (built_) release_tree(tree_);
}

bool SearchedTree::build(const double* reference, int32_t M, int32_t N, Diagnostics& diagnostics) {
  std::vector<int32_t> idx(static_cast<size_t>(M));
  std::iota(idx.begin(), idx.end(), 0);
  tree_ = build_tree(reference, M, N, idx.data(), M, 0, diagnostics);
  built_ = tree_ != nullptr;
  return built_;
}

void SearchedTree::use_kept(tree_header* kept) { tree_ = kept; }

void SearchedTree::finish(bool handleReturned) {
  if (!handleReturned) {
    release_tree(tree_);
    tree_ = nullptr;
  } else if (built_ && !keep_tree(tree_)) {
    throw std::bad_alloc();
  }
  built_ = false;
}

}  // namespace tulm
