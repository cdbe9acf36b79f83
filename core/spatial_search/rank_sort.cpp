#include "core/spatial_search/rank_sort.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

#include "core/portability.h"
#include "core/spatial_search/rank_lanes.h"

namespace tulm {
namespace {

// The entries of one mask (of ranks_at_least and ranks_at_most_backward): a mask's bits.
constexpr int32_t kBlock = 64;

// rank_rows where every key is a float, as a mesh's single coordinates widened to double are:
// a float orders and ties like its double, and entries of its 32 ordered bits and the row sort
// in half the passes over half the bytes. Returns false, having done nothing that counts, at
// the first other key. scratch holds 2n entries.
bool rank_floats(const double* column, const int32_t* idx, int32_t n, uint64_t* scratch, Entry* out,
                 uint32_t* rank, StopPoll poll) {
  const uint64_t* sorted = radix_sort(
      scratch, scratch + n, static_cast<size_t>(n), 32, 3,
      [column, idx](size_t e, uint64_t& entry) {
        const double x = column[idx[e]];
        // A finite double beyond the floats' range has no float to convert to.
        if (!(std::fabs(x) <= FLT_MAX) && !std::isinf(x)) return false;
        const float single = static_cast<float>(x);
        if (static_cast<double>(single) != x) return false;
        entry = uint64_t{ordered_bits(single)} << 32 | static_cast<uint32_t>(idx[e]);
        return true;
      },
      [](uint64_t entry) { return entry; }, poll);
  if (sorted == nullptr) return false;
  uint32_t r = 0;
  in_blocks(n, poll, [&](int32_t begin, int32_t end) {
    for (int32_t e = begin; e < end; ++e) {
      if (e > 0 && sorted[e] >> 32 != sorted[e - 1] >> 32) ++r;
      const uint32_t row = static_cast<uint32_t>(sorted[e]);
      out[e] = Entry{r} << 32 | row;
      rank[row] = r;
    }
  });
  return true;
}

}  // namespace

void rank_rows(const double* column, const int32_t* idx, int32_t n, void* scratch, Entry* out,
               uint32_t* rank, StopPoll poll) {
  if (rank_floats(column, idx, n, static_cast<uint64_t*>(scratch), out, rank, poll)) return;
  BitsAndRow* unsorted = static_cast<BitsAndRow*>(scratch);
  const BitsAndRow* sorted = radix_sort(
      unsorted, unsorted + n, static_cast<size_t>(n), 0, 6,
      [column, idx](size_t e, BitsAndRow& entry) {
        entry = {ordered_bits(column[idx[e]]), idx[e]};
        return true;
      },
      [](const BitsAndRow& entry) { return entry.bits; }, poll);
  uint32_t r = 0;
  in_blocks(n, poll, [&](int32_t begin, int32_t end) {
    for (int32_t e = begin; e < end; ++e) {
      if (e > 0 && sorted[e].bits != sorted[e - 1].bits) ++r;
      out[e] = Entry{r} << 32 | static_cast<uint32_t>(sorted[e].row);
      rank[sorted[e].row] = r;
    }
  });
}

// Why partition_ranked's result is hoare_partition's: from its state (i, j) after a swap, the
// loop's next j is the highest position in (i, j) whose key is <= pivot and its next i the lowest
// whose key is
// >= pivot, as neither scan passes a swapped entry (a[i] <= pivot, a[j] >= pivot), and
// positions strictly between i and j still hold their first entries; it swaps them when
// i < j and else returns that j, which is i itself when no key in (i, j) is <= pivot. So the
// swaps pair the k-th position from the left whose first key is >= pivot with the k-th from
// the right whose first key is <= pivot, for as long as the first lies below the second: the
// positions can be found block by block, in bit masks, and the swaps made in that order. While
// whole blocks are taken from both ends, a left block lies below every right block, so each
// pair is swapped; the last positions, between the last pair, have each pair tested.
int32_t partition_ranked(Entry* a, int32_t lo, int32_t hi) {
  const uint32_t pivot = rank_of(a[lo]);
  int32_t i = lo - 1;  // the loop's state: the last pair swapped
  int32_t j = hi + 1;
  // Whole blocks from both ends while the positions not yet scanned, [left, right], hold
  // one; the pairs of a block from each end are swapped until one of them runs out.
  int32_t left = lo;
  int32_t right = hi;
  uint64_t lefts = 0;
  uint64_t rights = 0;
  int32_t leftBase = 0;
  int32_t rightBase = 0;
  for (;;) {
    if (lefts == 0) {
      if (right - left + 1 < kBlock) break;
      leftBase = left;
      lefts = ranks_at_least(a + left, pivot, kBlock);
      left += kBlock;
    }
    if (rights == 0) {
      if (right - left + 1 < kBlock) break;
      rightBase = right;
      rights = ranks_at_most_backward(a + right, pivot, kBlock);
      right -= kBlock;
    }
    while (lefts != 0 && rights != 0) {
      i = leftBase + lowest_bit(lefts);
      j = rightBase - lowest_bit(rights);
      std::swap(a[i], a[j]);
      lefts &= lefts - 1;
      rights &= rights - 1;
    }
  }
  // The rest of the loop from (i, j), in masks of at most a block from each end of (i, j), each
  // pair tested. A mask taken from one end may reach positions the other end has swapped, but
  // the steps read it only below the next position from the right (for the left mask) or above
  // the last swap (for the right one), which still hold their first entries.
  const int32_t first = i + 1;
  const int32_t last = j - 1;
  int32_t forward = first;  // where the next mask from the left starts
  int32_t backward = last;  // and the next from the right
  lefts = 0;
  rights = 0;
  for (;;) {
    while (lefts == 0 && forward <= last) {
      const int32_t count = std::min(kBlock, last - forward + 1);
      lefts = ranks_at_least(a + forward, pivot, count);
      leftBase = forward;
      forward += count;
    }
    while (rights == 0 && backward >= first) {
      const int32_t count = std::min(kBlock, backward - first + 1);
      rights = ranks_at_most_backward(a + backward, pivot, count);
      rightBase = backward;
      backward -= count;
    }
    // No key <= pivot left in (i, j): the scan from the right stops at i.
    if (rights == 0) return i;
    const int32_t y = rightBase - lowest_bit(rights);
    if (lefts == 0) return y > i ? y : i;
    const int32_t x = leftBase + lowest_bit(lefts);
    if (x >= y) return y > i ? y : i;
    std::swap(a[x], a[y]);
    i = x;
    lefts &= lefts - 1;
    rights &= rights - 1;
  }
}

}  // namespace tulm
