// The packed tree's bucket sums (packed_tree.cpp) two points at a time, in SSE2's lanes of
// doubles where the processor has them.
#ifndef TULM_CORE_SPATIAL_SEARCH_PACKED_TREE_LANES_H
#define TULM_CORE_SPATIAL_SEARCH_PACKED_TREE_LANES_H

#include <cstdint>

#include "core/portability.h"

#if defined(TULM_HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace tulm {

// For the points at position + k, k < n, two at a time while two are left: sums[k] = the
// in-order sum of (q[d] - columns[d][position + k])^2 over the kDims coordinates d. Returns how
// many sums it wrote, an even count, 0 without SSE2. Each lane rounds as the scalar operation
// does, and (d0 d0 + d1 d1) + d2 d2 is the scalar sum 0 + d0 d0 + ... as 0 + x is x for the
// non-negative squares, so the sums are the scalar ones, bit for bit.
template <int32_t kDims>
inline int32_t paired_sums(const double* q, const double* const* columns, int32_t position,
                           int32_t n, double* sums) {
  int32_t k = 0;
#if defined(TULM_HAVE_SSE2)
  for (; k + 2 <= n; k += 2) {
    __m128d sum = _mm_setzero_pd();
    for (int32_t d = 0; d < kDims; ++d) {
      const __m128d diff = _mm_sub_pd(_mm_set1_pd(q[d]), _mm_loadu_pd(columns[d] + position + k));
      const __m128d square = _mm_mul_pd(diff, diff);
      sum = d == 0 ? square : _mm_add_pd(sum, square);
    }
    _mm_storeu_pd(sums + k, sum);
  }
#else
  (void)q;
  (void)columns;
  (void)position;
  (void)n;
  (void)sums;
#endif
  return k;
}

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_PACKED_TREE_LANES_H
