#include "core/spatial_search/exact_order.h"

#include <algorithm>
#include <chrono>

namespace tulm {
namespace {

// Empties a slice's vector that a poll leaves half made, so that no thread takes its unset
// entries for made ones: an empty one is made again when asked for.
template <class Vector>
class MadeOrEmpty {
 public:
  explicit MadeOrEmpty(Vector& vector) : vector_(vector) {}
  MadeOrEmpty(const MadeOrEmpty&) = delete;
  MadeOrEmpty& operator=(const MadeOrEmpty&) = delete;
  ~MadeOrEmpty() {
    if (!made_) vector_.clear();
  }
  void made() { made_ = true; }

 private:
  Vector& vector_;
  bool made_ = false;
};

}  // namespace

const Entry* ExactOrders::exact_order(Slice& slice, int32_t lo, int32_t hi) {
  if (slice.sorting.empty()) start_sorting(slice, !threads_.inTasks);
  using Part = std::pair<int32_t, int32_t>;
  std::vector<Part> unsorted;
  std::vector<Part> parts(slice.unsorted.begin(), slice.unsorted.end());
  if (threads_.parallel && !threads_.inTasks) {
    // The large sorts of the first levels: rounds of partitions, the parts of a round on all
    // threads, until no part holds more than a small share of the slice; each then goes on
    // alone, the largest first, so that the threads end together. A first entry as pivot can
    // split a part very unevenly, so the count of parts says little of their balance. Parts
    // are disjoint, so the order they are partitioned in changes nothing.
    const int32_t share = std::max(kShortPart, slice.n / kSharedParts);
    for (int round = 0; round < kShareRounds; ++round) {
      std::vector<Part> large;
      std::vector<Part> next;
      for (const Part& part : parts) {
        (part.second - part.first >= share ? large : next).push_back(part);
      }
      if (large.empty()) break;
      constexpr Part kNone{0, -1};
      std::vector<Part> halves(2 * large.size(), kNone);
      std::vector<char> outside(large.size(), 0);
      threads_.in_parallel(static_cast<int32_t>(large.size()), [&](int32_t begin, int32_t end) {
        for (int32_t k = begin; k < end; ++k) {
          threads_.poll();
          const Part part = large[k];
          if (part.first >= hi || part.second < lo) {
            outside[k] = 1;
          } else if (!settle(slice, part.first, part.second)) {
            const int32_t p = partition_ranked(slice.sorting.data(), part.first, part.second);
            halves[2 * k] = {part.first, p};
            halves[2 * k + 1] = {p + 1, part.second};
          }
        }
      });
      for (size_t k = 0; k < large.size(); ++k) {
        if (outside[k]) unsorted.push_back(large[k]);
        for (size_t h = 2 * k; h < 2 * k + 2; ++h) {
          if (halves[h] != kNone) next.push_back(halves[h]);
        }
      }
      parts.swap(next);
    }
    std::sort(parts.begin(), parts.end(),
              [](const Part& a, const Part& b) { return a.second - a.first > b.second - b.first; });
  }
  std::vector<std::vector<std::pair<int32_t, int32_t>>> left(parts.size());
  threads_.in_parallel(static_cast<int32_t>(parts.size()), [&](int32_t begin, int32_t end) {
    PollMeter meter(kPollBlock, threads_.poll);
    for (int32_t k = begin; k < end; ++k) {
      sort_part(slice, parts[k].first, parts[k].second, lo, hi, left[k]);
      meter.add(parts[k].second - parts[k].first + 1);
    }
  });
  for (const auto& more : left) unsorted.insert(unsorted.end(), more.begin(), more.end());
  slice.unsorted.swap(unsorted);
  return slice.sorting.data();
}

void ExactOrders::partition_while(Slice& slice, const std::atomic<int32_t>& more) {
  start_sorting(slice, false);
  using Part = std::pair<int32_t, int32_t>;
  const auto smaller = [](const Part& a, const Part& b) {
    return a.second - a.first < b.second - b.first;
  };
  std::vector<Part>& parts = slice.unsorted;
  PollMeter meter(kPollBlock, threads_.poll);
  while (more > 0 && parts.front().second - parts.front().first >= kShortPart) {
    meter.add(parts.front().second - parts.front().first + 1);
    std::pop_heap(parts.begin(), parts.end(), smaller);
    const Part part = parts.back();
    const int32_t p = partition_ranked(slice.sorting.data(), part.first, part.second);
    parts.back() = {part.first, p};
    std::push_heap(parts.begin(), parts.end(), smaller);
    parts.emplace_back(p + 1, part.second);
    std::push_heap(parts.begin(), parts.end(), smaller);
  }
}

// The order in which the literal construction hands the slice's rows to its quicksort.
const ArenaVector<int32_t>& ExactOrders::literal_input(Slice& slice) {
  if (slice.input.empty()) {
    // The input is kept on entry when it is known, so the parent's keys are not distinct:
    // its sorted order is made from its own input. A slice above the tasks is theirs to
    // share, and its sort goes on under the lock; the rest of a task's sorts need none.
    std::unique_lock<std::recursive_timed_mutex> lock(mutex_, std::defer_lock);
    if (slice.parent->shared) {
      // The thread that holds the lock may be a worker, whose polls stop it only once the
      // calling thread's have asked the host.
      while (!lock.try_lock_for(std::chrono::milliseconds(kWaitPollMilliseconds))) {
        threads_.poll();
      }
    }
    const int32_t from = slice.begin - slice.parent->begin;
    const Entry* sorted = exact_order(*slice.parent, from, from + slice.n);
    MadeOrEmpty<ArenaVector<int32_t>> input(slice.input);
    slice.input.resize(static_cast<size_t>(slice.n));
    threads_.in_blocks(slice.n, [&](int32_t begin, int32_t end) {
      for (int32_t e = begin; e < end; ++e) slice.input[e] = row_of(sorted[from + e]);
    });
    input.made();
  }
  return slice.input;
}

// Makes the slice's entries along its dimension in the order of its literal input, from
// which its quicksort starts, in pieces on all threads where `share`.
void ExactOrders::start_sorting(Slice& slice, bool share) {
  const ArenaVector<int32_t>& input = literal_input(slice);
  const uint32_t* rank = ranks_ + static_cast<size_t>(slice.dim) * rows_;
  MadeOrEmpty<ArenaVector<Entry>> sortingMade(slice.sorting);
  MadeOrEmpty<ArenaVector<int32_t>> runsMade(slice.runsBefore);
  slice.sorting.resize(input.size());
  Entry* sorting = slice.sorting.data();
  const int32_t* rows = input.data();
  const auto fill = [sorting, rows, rank](int32_t begin, int32_t end) {
    for (int32_t e = begin; e < end; ++e) {
      sorting[e] = Entry{rank[rows[e]]} << 32 | static_cast<uint32_t>(rows[e]);
    }
  };
  if (share) {
    const int32_t pieces = std::max(1, slice.n / kScanPiece);
    threads_.in_parallel(pieces, [this, &fill, pieces, &slice](int32_t begin, int32_t end) {
      for (int32_t k = begin; k < end; ++k) {
        threads_.poll();
        fill(piece_start(slice.n, k, pieces), piece_start(slice.n, k + 1, pieces));
      }
    });
  } else {
    threads_.in_blocks(slice.n, fill);
  }
  if (!slice.ascending.empty()) {
    slice.runsBefore.resize(static_cast<size_t>(slice.n) + 1);
    slice.runsBefore[0] = 0;
    threads_.in_blocks(slice.n, [&slice](int32_t begin, int32_t end) {
      for (int32_t e = begin; e < end; ++e) {
        const bool continues =
            e > 0 && rank_of(slice.ascending[e]) == rank_of(slice.ascending[e - 1]);
        slice.runsBefore[e + 1] = slice.runsBefore[e] + continues;
      }
    });
  }
  slice.unsorted.assign(1, {0, slice.n - 1});
  sortingMade.made();
  runsMade.made();
}

// Takes positions lo..hi from the slice's ascending entries when they hold distinct keys
// that no entry outside them holds: quicksort leaves such a part ascending, whatever steps
// it takes inside it. Returns whether it did.
bool ExactOrders::settle(Slice& slice, int32_t lo, int32_t hi) {
  if (slice.runsBefore.empty()) return false;
  const int32_t last = std::min(hi + 1, slice.n - 1);
  if (slice.runsBefore[last + 1] != slice.runsBefore[lo]) return false;
  std::copy(slice.ascending.begin() + lo, slice.ascending.begin() + hi + 1,
            slice.sorting.begin() + lo);
  return true;
}

// The quicksort of exact_order on positions lo..hi of the slice's sorting entries, exact at
// keepLo..keepHi - 1; the parts outside are left for later, appended to unsorted. Parts
// that settle are not sorted at all.
void ExactOrders::sort_part(Slice& slice, int32_t lo, int32_t hi, int32_t keepLo, int32_t keepHi,
                            std::vector<std::pair<int32_t, int32_t>>& unsorted) {
  while (lo < hi) {
    if (lo >= keepHi || hi < keepLo) {
      unsorted.emplace_back(lo, hi);
      return;
    }
    if (hi - lo >= kPollBlock) threads_.poll();
    if (settle(slice, lo, hi)) return;
    if (hi - lo < kShortPart) {
      // Sorted whole, at once: the masks of partition_ranked do not pay for a few entries.
      RankedEntries entries{slice.sorting.data()};
      hoare_quicksort(entries, lo, hi, lo, hi + 1);
      return;
    }
    const int32_t p = partition_ranked(slice.sorting.data(), lo, hi);
    if (p - lo < hi - p) {
      sort_part(slice, lo, p, keepLo, keepHi, unsorted);
      lo = p + 1;
    } else {
      sort_part(slice, p + 1, hi, keepLo, keepHi, unsorted);
      hi = p;
    }
  }
}

}  // namespace tulm
