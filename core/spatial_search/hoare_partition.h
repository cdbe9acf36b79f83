// Hoare's partition with the first entry as pivot: the one step of the quicksort whose order
// decides the k-d tree's shape. The literal construction (literal_kdtree.cpp) and the fast
// build (fast_build.cpp) both take it from here, so that the two cannot drift apart.
#ifndef TULM_CORE_SPATIAL_SEARCH_HOARE_PARTITION_H
#define TULM_CORE_SPATIAL_SEARCH_HOARE_PARTITION_H

#include <cstdint>

namespace tulm {

// Partitions positions lo..hi (lo < hi) of any entries that give key(i) and swap(i, j), and
// returns p: without NaN, every key at lo..p is <= every key at p + 1..hi. A NaN key takes
// the same steps as any other, every comparison with it being false, and those steps are what
// gives data holding NaN its tree.
template <class Entries>
int32_t hoare_partition(Entries& entries, int32_t lo, int32_t hi) {
  const auto pivot = entries.key(lo);
  int32_t i = lo - 1;
  int32_t j = hi + 1;
  for (;;) {
    do {
      --j;
    } while (entries.key(j) > pivot);
    do {
      ++i;
    } while (entries.key(i) < pivot);
    if (j <= i) return j;
    entries.swap(i, j);
  }
}

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_HOARE_PARTITION_H
