// The neighbour scan that both location walks step with.
#ifndef TULM_CORE_LOCATION_NEAREST_NEIGHBOUR_H
#define TULM_CORE_LOCATION_NEAREST_NEIGHBOUR_H

#include <cstdint>

#include "core/errors.h"
#include "core/location/vector_geometry.h"
#include "core/mesh_arrays.h"

namespace tulm {

// Squared distance that stands for "no neighbour": the scans start from it, so a neighbour
// at 100000 or farther is never kept.
constexpr float kNoNeighbour = 100000.0f;

// The neighbour of cur (0-based) nearest to p, in the column of vertexNbors (Kn x V, 1-based
// entries, a list ends before its first entry below 1), leaving out the neighbours for which
// skip(n) holds. Keeps a neighbour only when strictly nearer than the best so far, so ties go
// to the entry listed first. Returns the 0-based neighbour, or -1 when none was kept, and its
// squared distance in best (kNoNeighbour when none). Ends the call on an entry above V.
template <class Skip>
int32_t nearest_listed_neighbour(const float* p, const float* vertices, int32_t V,
                                 const int32_t* vertexNbors, int32_t Kn, int32_t cur, Skip skip,
                                 float& best) {
  best = kNoNeighbour;
  int32_t kept = -1;
  for (int32_t k = 0; k < Kn; ++k) {
    const int32_t entry = vertexNbors[index_2D_array(k, cur, Kn)];
    if (entry < 1) break;
    check_index("vertexNbors", entry, k, cur, 0, V);
    const int32_t n = entry - 1;
    if (skip(n)) continue;
    const float d = squared_distance(p, vertices + 3 * n);
    if (d < best) {
      best = d;
      kept = n;
    }
  }
  return kept;
}

}  // namespace tulm

#endif  // TULM_CORE_LOCATION_NEAREST_NEIGHBOUR_H
