#include "core/spatial_search/nearest_queries.h"

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

void run_queries(const node* root, const double* model, int32_t Q, int32_t N, double* out,
                 double* dist, int16_t mode, Diagnostics& diagnostics) {
  std::vector<double> q(static_cast<size_t>(N));
  for (int32_t i = 0; i < Q; ++i) {
    for (int32_t k = 0; k < N; ++k) q[k] = model[i + static_cast<int64_t>(k) * Q];
    const node* candidate = pointLocation(root, q.data(), N);
    const double r = calcdistance(candidate->value, q.data(), N) + kSearchSlack;

    // The walk over the result list keeps a match when dist >= its distance, so the last
    // of the nearest matches in pre-order wins.
    const node* best = nullptr;
    double bestDistance = 0.0;
    for_each_in_range(root, r, q.data(), N, [&](const node* match) {
      const double d = calcdistance(match->value, q.data(), N);
      if (best == nullptr || bestDistance >= d) {
        best = match;
        bestDistance = d;
      }
    });

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

std::vector<const node*> run_range_search(const node* root, const double* query, int32_t ndim,
                                          double radius) {
  std::vector<const node*> matches;
  if (root != nullptr) {
    for_each_in_range(root, radius, query, ndim,
                      [&matches](const node* match) { matches.push_back(match); });
  }
  return matches;
}

void write_range_results(const std::vector<const node*>& matches, const double* query,
                         int32_t ndim, double* points, double* distances, double* rows) {
  const int64_t count = static_cast<int64_t>(matches.size());
  for (int64_t k = 0; k < count; ++k) {
    for (int32_t l = 0; l < ndim; ++l) points[k + l * count] = matches[k]->value[l];
  }
  if (distances != nullptr) {
    for (int64_t k = 0; k < count; ++k) {
      double sum = 0.0;
      for (int32_t l = 0; l < ndim; ++l) {
        const double d = points[k + l * count] - query[l];
        sum += d * d;
      }
      distances[k] = std::sqrt(sum);
    }
  }
  if (rows != nullptr) {
    for (int64_t k = 0; k < count; ++k) rows[k] = static_cast<double>(matches[k]->idx + 1u);
  }
}

}  // namespace tulm
