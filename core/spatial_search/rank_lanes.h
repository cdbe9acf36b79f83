// The rank comparisons of partition_ranked (rank_sort.cpp): the ranks of a block of entries
// against the pivot's, as a bit mask, four entries at a time in SSE2's lanes where the
// processor has them and one at a time otherwise. Part of the tulm_kdtree library.
#ifndef TULM_CORE_SPATIAL_SEARCH_RANK_LANES_H
#define TULM_CORE_SPATIAL_SEARCH_RANK_LANES_H

#include <cstdint>

#include "core/portability.h"
#include "core/spatial_search/rank_sort.h"

#if defined(TULM_HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace tulm {

#if defined(TULM_HAVE_SSE2)
// The ranks of a[0..3] in lanes 0..3: the high words of the entries. Ranks are below 2^31,
// so the signed comparisons of SSE2 order them.
inline __m128i four_ranks(const Entry* a) {
  const __m128 low = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)));
  const __m128 high = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2)));
  return _mm_castps_si128(_mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)));
}
#endif

// Bit t set where the rank of a[t], t < count <= 64, is >= pivot; four entries at a time in
// SSE2 where the processor has it.
inline uint64_t ranks_at_least(const Entry* a, uint32_t pivot, int32_t count) {
  uint64_t bits = 0;
  int32_t t = 0;
#if defined(TULM_HAVE_SSE2)
  const __m128i p = _mm_set1_epi32(static_cast<int32_t>(pivot));
  for (; t + 4 <= count; t += 4) {
    const int below = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(four_ranks(a + t), p)));
    bits |= static_cast<uint64_t>(~below & 15) << t;
  }
#endif
  for (; t < count; ++t) bits |= uint64_t{rank_of(a[t]) >= pivot} << t;
  return bits;
}

// Bit t set where the rank of last[-t], t < count <= 64, is <= pivot.
inline uint64_t ranks_at_most_backward(const Entry* last, uint32_t pivot, int32_t count) {
  uint64_t bits = 0;
  int32_t t = 0;
#if defined(TULM_HAVE_SSE2)
  const __m128i p = _mm_set1_epi32(static_cast<int32_t>(pivot));
  for (; t + 4 <= count; t += 4) {
    const __m128i reversed = _mm_shuffle_epi32(four_ranks(last - t - 3), _MM_SHUFFLE(0, 1, 2, 3));
    const int above = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(reversed, p)));
    bits |= static_cast<uint64_t>(~above & 15) << t;
  }
#endif
  for (; t < count; ++t) bits |= uint64_t{rank_of(*(last - t)) <= pivot} << t;
  return bits;
}

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_RANK_LANES_H
