#include "core/spatial_search/nearestIndexSearch.h"

#include <vector>

#include "core/spatial_search/nearest_queries.h"

namespace tulm {

void nearestIndexSearch(tree_header& tree, const double* model, int32_t Q, double* rows,
                        double* distances, Diagnostics& diagnostics) {
  std::vector<double> scratchDistances;
  if (distances == nullptr) {
    scratchDistances.resize(static_cast<size_t>(Q));
    distances = scratchDistances.data();
  }
  run_queries(tree, model, Q, rows, distances, kIndexMode, diagnostics);
  // 0-based rows become 1-based, and a row without match goes from -1 to 0.
  for (int32_t i = 0; i < Q; ++i) rows[i] += 1.0;
}

}  // namespace tulm
