#include "core/spatial_search/nearestPointSearch.h"

#include <vector>

#include "core/spatial_search/nearest_queries.h"

namespace tulm {

void nearestPointSearch(tree_header& tree, const double* model, int32_t Q, double* points,
                        double* distances, Diagnostics& diagnostics) {
  std::vector<double> scratchDistances;
  if (distances == nullptr) {
    scratchDistances.resize(static_cast<size_t>(Q));
    distances = scratchDistances.data();
  }
  run_queries(tree, model, Q, points, distances, kPointMode, diagnostics);
}

}  // namespace tulm
