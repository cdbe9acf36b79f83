// The sorts of the k-d tree's fast construction (fast_build.cpp): the literal construction's
// quicksort, whole or in part, on any entries; the radix sort that ranks every dimension's keys
// once for the whole tree; and the lists of entries keyed by those ranks, with the partition
// that takes the quicksort's steps on them in bit masks. Part of the tulm_kdtree library.
#ifndef TULM_CORE_SPATIAL_SEARCH_RANK_SORT_H
#define TULM_CORE_SPATIAL_SEARCH_RANK_SORT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "core/spatial_search/fast_build.h"
#include "core/spatial_search/hoare_partition.h"

namespace tulm {

// The literal construction's quicksort of positions lo..hi, but only the parts that overlap
// positions keepLo..keepHi - 1 are sorted; the others are appended to `unsorted`, if given, as
// (lo, hi). After a partition each part holds exactly the entries that end in its positions,
// and the order a part ends in is decided by the steps inside it alone, so the entries at
// keepLo..keepHi - 1 end as the full sort leaves them, and sorting an unsorted part later
// gives the rest. The parts are disjoint, so sorting the smaller one first, by recursion,
// changes nothing and bounds the stack.
template <class Entries>
void hoare_quicksort(Entries& entries, int32_t lo, int32_t hi, int32_t keepLo, int32_t keepHi,
                     std::vector<std::pair<int32_t, int32_t>>* unsorted = nullptr) {
  while (lo < hi) {
    if (lo >= keepHi || hi < keepLo) {
      if (unsorted != nullptr) unsorted->emplace_back(lo, hi);
      return;
    }
    const int32_t p = hoare_partition(entries, lo, hi);
    if (p - lo < hi - p) {
      hoare_quicksort(entries, lo, p, keepLo, keepHi, unsorted);
      lo = p + 1;
    } else {
      hoare_quicksort(entries, p + 1, hi, keepLo, keepHi, unsorted);
      hi = p;
    }
  }
}

using KeyedRow = std::pair<double, int32_t>;

// (key, row) pairs, for the exact quicksort with the keys in contiguous memory.
struct PairEntries {
  KeyedRow* pairs;
  double key(int32_t i) const { return pairs[i].first; }
  void swap(int32_t i, int32_t j) { std::swap(pairs[i], pairs[j]); }
};

// A key as an integer that orders like the double, with -0 and 0 made one (they are equal
// keys). Not for NaN.
inline uint64_t ordered_bits(double x) {
  if (x == 0.0) x = 0.0;
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits >> 63 ? ~bits : bits | (uint64_t{1} << 63);
}

struct BitsAndRow {
  uint64_t bits;
  int32_t row;
};

// A float key as an integer that orders like it, with -0 and 0 made one. Not for NaN.
inline uint32_t ordered_bits(float x) {
  if (x == 0.0f) x = 0.0f;
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits >> 31 ? ~bits : bits | (uint32_t{1} << 31);
}

// Makes entries[e] by make(e, entries[e]) for e < n, and sorts them by bits(entry), stably, by
// an LSD radix sort over the 11-bit digits of `passes` passes from bit firstShift up, with spare
// as scratch of n entries; a digit that every entry shares takes no pass. Returns the array that
// holds the result, entries or spare, or null, at once, where make returns false. The digits are
// counted as the entries are made, while they are at hand. Polls between blocks of entries.
template <class T, class Make, class Bits>
T* radix_sort(T* entries, T* spare, size_t n, int firstShift, int passes, Make make, Bits bits,
              StopPoll poll) {
  constexpr int kDigitBits = 11;
  constexpr uint64_t kDigitMask = (uint64_t{1} << kDigitBits) - 1;
  std::vector<uint32_t> counts(static_cast<size_t>(passes) << kDigitBits, 0);
  for (size_t begin = 0; begin < n; begin += kPollBlock) {
    if (begin > 0) poll();
    const size_t end = std::min<size_t>(n, begin + kPollBlock);
    for (size_t e = begin; e < end; ++e) {
      if (!make(e, entries[e])) return nullptr;
      for (int pass = 0; pass < passes; ++pass) {
        ++counts[(static_cast<size_t>(pass) << kDigitBits) +
                 ((bits(entries[e]) >> (firstShift + pass * kDigitBits)) & kDigitMask)];
      }
    }
  }
  for (int pass = 0; pass < passes; ++pass) {
    uint32_t* count = &counts[static_cast<size_t>(pass) << kDigitBits];
    const int shift = firstShift + pass * kDigitBits;
    if (count[(bits(entries[0]) >> shift) & kDigitMask] == n) continue;
    uint32_t start = 0;
    for (uint64_t digit = 0; digit <= kDigitMask; ++digit) {
      const uint32_t c = count[digit];
      count[digit] = start;
      start += c;
    }
    in_blocks(n, poll, [&](size_t begin, size_t end) {
      for (size_t e = begin; e < end; ++e) {
        spare[count[(bits(entries[e]) >> shift) & kDigitMask]++] = entries[e];
      }
    });
    std::swap(entries, spare);
  }
  return entries;
}

// An entry of a sorted list: the rank of the row's key along the list's dimension in the high
// word (equal keys, and only they, have equal ranks), the row in the low word.
using Entry = uint64_t;
inline uint32_t rank_of(Entry entry) { return static_cast<uint32_t>(entry >> 32); }
inline int32_t row_of(Entry entry) { return static_cast<int32_t>(entry & 0xffffffffu); }

// Sorts rows idx[0..n-1] by their keys column[row], none of them NaN, into the entries
// out[0..n-1], and writes each row's rank to rank[row]; scratch holds 2n BitsAndRow. Polls
// between blocks of entries.
void rank_rows(const double* column, const int32_t* idx, int32_t n, void* scratch, Entry* out,
               uint32_t* rank, StopPoll poll);

// Entries keyed by rank, for the exact quicksort's literal steps.
struct RankedEntries {
  Entry* a;
  uint32_t key(int32_t i) const { return rank_of(a[i]); }
  void swap(int32_t i, int32_t j) { std::swap(a[i], a[j]); }
};

// Hoare's partition with the first entry as pivot (hoare_partition's steps), on entries keyed
// by rank, without a branch per comparison: it makes the same swaps and returns the same
// position (rank_sort.cpp says why).
int32_t partition_ranked(Entry* a, int32_t lo, int32_t hi);

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_RANK_SORT_H
