// The exact orders of the fast build's slices (fast_build.cpp): where a slice's median is tied,
// its node and parts depend on the order in which the literal construction's quicksort leaves
// its equal keys, and that order is made here, from the slice's literal input, as far as it is
// asked for. Part of the tulm_kdtree library.
#ifndef TULM_CORE_SPATIAL_SEARCH_EXACT_ORDER_H
#define TULM_CORE_SPATIAL_SEARCH_EXACT_ORDER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "core/spatial_search/build_scratch.h"
#include "core/spatial_search/fast_build.h"
#include "core/spatial_search/rank_sort.h"

namespace tulm {

// A slice on the way from the root to the slice being built.
struct Slice {
  // The slice's vectors come from arena, or from the heap where it is null.
  Slice(Slice* parent, int32_t begin, int32_t n, int32_t dim, Arena* arena)
      : parent(parent),
        begin(begin),
        n(n),
        dim(dim),
        input(ArenaAllocator<int32_t>(arena)),
        ascending(ArenaAllocator<Entry>(arena)),
        runsBefore(ArenaAllocator<int32_t>(arena)),
        sorting(ArenaAllocator<Entry>(arena)) {}
  Slice* parent;
  int32_t begin;  // the position of its lists in their buffer
  int32_t n;
  int32_t dim;
  bool distinct = false;  // its keys along dim are distinct
  bool shared = false;    // its parts lie in more than one task
  // Its rows in the order the literal construction hands them to its quicksort, where kept.
  ArenaVector<int32_t> input;
  // Where its keys are not distinct but few are equal: its entries along dim in ascending
  // order, equal keys in any order, and by position, how many entries before it have the
  // key of the entry before them (that is, continue a run of equal keys).
  ArenaVector<Entry> ascending;
  ArenaVector<int32_t> runsBefore;
  // Once asked for, its input as entries along dim on the way through that quicksort: sorted
  // but for the parts listed in unsorted, (first, last) positions each.
  ArenaVector<Entry> sorting;
  std::vector<std::pair<int32_t, int32_t>> unsorted;
};

// The exact sorts of the slices of one build, each going on from where the last call left it.
class ExactOrders {
 public:
  explicit ExactOrders(const BuildThreads& threads) : threads_(threads) {}

  // The ranks of every row's keys: along dimension d, rank[d * rows + row]. Set before any
  // order is asked for.
  void rank_by(const uint32_t* ranks, size_t rows) {
    ranks_ = ranks;
    rows_ = rows;
  }

  // The slice's entries along its dimension in the order its quicksort leaves them, exact at
  // positions lo..hi - 1. The sort goes on from where an earlier call left it.
  const Entry* exact_order(Slice& slice, int32_t lo, int32_t hi);

  // Starts the exact sort of a slice whose literal input is known: partitions its entries, the
  // largest part first, for as long as `more` is above 0 (and a part is long enough to pay).
  // Partitions are disjoint, so exact_order goes on from the parts left as if it had made them.
  //
  // Both poll; a sort that a poll ends leaves every part a permutation of its entries and the
  // slice's sorting either whole or empty, so that the threads still at work read only entries
  // of the slice until their own polls end them.
  void partition_while(Slice& slice, const std::atomic<int32_t>& more);

 private:
  const ArenaVector<int32_t>& literal_input(Slice& slice);
  void start_sorting(Slice& slice, bool share);
  bool settle(Slice& slice, int32_t lo, int32_t hi);
  void sort_part(Slice& slice, int32_t lo, int32_t hi, int32_t keepLo, int32_t keepHi,
                 std::vector<std::pair<int32_t, int32_t>>& unsorted);

  const BuildThreads& threads_;
  const uint32_t* ranks_ = nullptr;
  size_t rows_ = 0;
  // Held while the exact quicksort of a shared slice goes on; timed, so that a thread that
  // waits for it goes on polling.
  std::recursive_timed_mutex mutex_;
};

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_EXACT_ORDER_H
