#include "core/spatial_search/radiusPointSearch.h"

#include <cmath>

namespace tulm {

void radiusPointSearch(const tree_header& tree, const double* query, double radius,
                       const std::function<RangeOutputs(int32_t R)>& createOutputs) {
  const int32_t ndim = tree.ndim;
  const std::vector<const node*> matches = run_range_search(tree.root, query, ndim, radius);
  const int64_t count = static_cast<int64_t>(matches.size());
  const RangeOutputs out = createOutputs(static_cast<int32_t>(count));
  for (int64_t k = 0; k < count; ++k) {
    for (int32_t l = 0; l < ndim; ++l) out.points[k + l * count] = matches[k]->value[l];
  }
  if (out.distances != nullptr) {
    for (int64_t k = 0; k < count; ++k) {
      double sum = 0.0;
      for (int32_t l = 0; l < ndim; ++l) {
        const double d = out.points[k + l * count] - query[l];
        sum += d * d;
      }
      out.distances[k] = std::sqrt(sum);
    }
  }
  if (out.rows != nullptr) {
    for (int64_t k = 0; k < count; ++k) out.rows[k] = static_cast<double>(matches[k]->idx + 1u);
  }
}

std::vector<const node*> run_range_search(const node* root, const double* query, int32_t ndim,
                                          double radius) {
  std::vector<const node*> matches;
  if (root != nullptr) {
    for_each_in_range(root, radius, query, ndim,
                      [&matches](const node* match, double) { matches.push_back(match); });
  }
  return matches;
}

}  // namespace tulm
