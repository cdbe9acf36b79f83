// The tulm_kdtree library: the construction and release of every tree, and the registry of
// kept trees. Built as a shared library of its own and never linked into a plug-in.
#include "core/spatial_search/kdtree.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "core/spatial_search/hoare_partition.h"

#if defined(TULM_HAVE_SSE2)
#include <emmintrin.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tulm {
namespace {

const char* const kMemoryMessage = "Error allocating memory for kD-Tree\n";

// Gives the kernel `advice` (madvise) about the whole pages inside [address, address + bytes).
#if defined(__linux__)
void advise_whole_pages(void* address, size_t bytes, int advice) {
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(address) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(address) + bytes) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, advice);
}
#endif

// Asks for the whole pages inside [address, address + bytes), a block about to be written for
// the first time, to be backed by huge pages (Linux's transparent huge pages, in their usual
// "madvise" mode): a fresh 4 KiB page costs a fault on first touch, a notable part of filling
// tens of megabytes, where a huge page takes one fault for 512 of them. A hint only: nothing
// changes where the kernel declines, and other systems go without.
void advise_huge_pages(void* address, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  advise_whole_pages(address, bytes, MADV_HUGEPAGE);
#else
  (void)address;
  (void)bytes;
#endif
}

inline int32_t median_position(int32_t n) { return static_cast<int32_t>(n * 0.5); }

// Where piece k of `pieces` equal pieces of count elements starts.
inline int32_t piece_start(int32_t count, int32_t k, int32_t pieces) {
  return static_cast<int32_t>(int64_t{count} * k / pieces);
}

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
uint64_t ordered_bits(double x) {
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
uint32_t ordered_bits(float x) {
  if (x == 0.0f) x = 0.0f;
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits >> 31 ? ~bits : bits | (uint32_t{1} << 31);
}

// Makes entries[e] by make(e, entries[e]) for e < n, and sorts them by bits(entry), stably, by
// an LSD radix sort over the 11-bit digits of `passes` passes from bit firstShift up, with spare
// as scratch of n entries; a digit that every entry shares takes no pass. Returns the array that
// holds the result, entries or spare, or null, at once, where make returns false. The digits are
// counted as the entries are made, while they are at hand.
template <class T, class Make, class Bits>
T* radix_sort(T* entries, T* spare, size_t n, int firstShift, int passes, Make make, Bits bits) {
  constexpr int kDigitBits = 11;
  constexpr uint64_t kDigitMask = (uint64_t{1} << kDigitBits) - 1;
  std::vector<uint32_t> counts(static_cast<size_t>(passes) << kDigitBits, 0);
  for (size_t e = 0; e < n; ++e) {
    if (!make(e, entries[e])) return nullptr;
    for (int pass = 0; pass < passes; ++pass) {
      ++counts[(static_cast<size_t>(pass) << kDigitBits) +
               ((bits(entries[e]) >> (firstShift + pass * kDigitBits)) & kDigitMask)];
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
    for (size_t e = 0; e < n; ++e) {
      spare[count[(bits(entries[e]) >> shift) & kDigitMask]++] = entries[e];
    }
    std::swap(entries, spare);
  }
  return entries;
}

// An entry of a sorted list: the rank of the row's key along the list's dimension in the high
// word (equal keys, and only they, have equal ranks), the row in the low word.
using Entry = uint64_t;
inline uint32_t rank_of(Entry entry) { return static_cast<uint32_t>(entry >> 32); }
inline int32_t row_of(Entry entry) { return static_cast<int32_t>(entry & 0xffffffffu); }

constexpr int32_t kBlock = 64;

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

// Hoare's partition with the first entry as pivot (hoare_partition's steps), on entries keyed
// by rank, without a branch per comparison.
//
// Why the result is the same: from its state (i, j) after a swap, the loop's next j is the
// highest position in (i, j) whose key is <= pivot and its next i the lowest whose key is
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

// Entries keyed by rank, for the exact quicksort's literal steps.
struct RankedEntries {
  Entry* a;
  uint32_t key(int32_t i) const { return rank_of(a[i]); }
  void swap(int32_t i, int32_t j) { std::swap(a[i], a[j]); }
};

// Per row, a bit: whether the row goes to the right part of the slice being split. Each thread
// has its own, as neighbouring rows share a word.
class Sides {
 public:
  explicit Sides(size_t rows) : bits_(rows / 64 + 1, 0) {}
  void set(int32_t row, uint64_t right) {
    uint64_t& word = bits_[static_cast<uint32_t>(row) >> 6];
    const int shift = row & 63;
    word = (word & ~(uint64_t{1} << shift)) | right << shift;
  }
  uint64_t right(int32_t row) const {
    return bits_[static_cast<uint32_t>(row) >> 6] >> (row & 63) & 1;
  }

 private:
  std::vector<uint64_t> bits_;
};

// Build scratch kept from one build for the next. A large build fills over a hundred megabytes
// of scratch (the icosphere subdivided 8 times, 655,362 points: about 140 MB), fresh pages cost
// a fault and the kernel's zeroing each on first touch, and in a registration loop the same
// build comes again and again: kept, that build took 89 ms on two threads against 94-108 with
// fresh scratch, and a million uniform points 135-138 against 178-201. So a block given back
// stays mapped for the next build, its pages left to the kernel to take back when memory runs
// short (MADV_FREE): until then, writing them again costs nothing. At most kKeptBytes stay;
// where the system cannot free pages lazily, none does.
class KeptScratch {
 public:
  ~KeptScratch() {
    for (const Block& block : blocks_) std::free(block.start);
  }

  // A block of at least `bytes`, uninitialised, and its size: the smallest kept block large
  // enough, else a new one asked to be backed by huge pages; null when there is no memory.
  void* take(size_t bytes, size_t* size) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      auto best = blocks_.end();
      for (auto b = blocks_.begin(); b != blocks_.end(); ++b) {
        if (b->size >= bytes && (best == blocks_.end() || b->size < best->size)) best = b;
      }
      if (best != blocks_.end()) {
        const Block block = *best;
        blocks_.erase(best);
        keptBytes_ -= block.size;
        *size = block.size;
        return block.start;
      }
    }
    void* start = std::malloc(bytes);
    *size = start != nullptr ? bytes : 0;
    if (start != nullptr) advise_huge_pages(start, bytes);
    return start;
  }

  void give_back(void* start, size_t size) {
#if defined(__linux__) && defined(MADV_FREE)
    if (size <= kKeptBytes) {
      advise_whole_pages(start, size, MADV_FREE);
      std::vector<void*> dropped;
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        blocks_.push_back({start, size});
        keptBytes_ += size;
        while (keptBytes_ > kKeptBytes) {
          dropped.push_back(blocks_.front().start);
          keptBytes_ -= blocks_.front().size;
          blocks_.erase(blocks_.begin());
        }
      }
      for (void* block : dropped) std::free(block);
      return;
    }
#endif
    std::free(start);
  }

 private:
  static constexpr size_t kKeptBytes = size_t{256} << 20;
  struct Block {
    void* start;
    size_t size;
  };
  std::mutex mutex_;
  std::vector<Block> blocks_;  // the oldest first
  size_t keptBytes_ = 0;
};

KeptScratch& kept_scratch() {
  static KeptScratch kept;
  return kept;
}

// A block of build scratch from kept_scratch, given back when it goes.
class ScratchBlock {
 public:
  ScratchBlock() = default;
  explicit ScratchBlock(size_t bytes) { start_ = kept_scratch().take(bytes, &size_); }
  ~ScratchBlock() {
    if (start_ != nullptr) kept_scratch().give_back(start_, size_);
  }
  ScratchBlock(const ScratchBlock&) = delete;
  ScratchBlock& operator=(const ScratchBlock&) = delete;
  ScratchBlock& operator=(ScratchBlock&& other) noexcept {
    std::swap(start_, other.start_);
    std::swap(size_, other.size_);
    return *this;
  }

  void* get() const { return start_; }
  size_t size() const { return size_; }

 private:
  void* start_ = nullptr;
  size_t size_ = 0;
};

// Scratch that is taken in pieces and given back all at once, from one block of kept scratch:
// a large build fills tens of megabytes of scratch, whose first touch page by page costs more
// than the work that fills it where page faults are dear (in a virtual machine, say). Pieces
// are taken from any thread; a piece that no longer fits, or any piece when the block could
// not be had, comes from the heap.
class Arena {
 public:
  explicit Arena(size_t bytes) : block_(bytes) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  void* allocate(size_t bytes) {
    const size_t rounded = (bytes + kAlignment - 1) & ~(kAlignment - 1);
    const size_t at = used_.fetch_add(rounded);
    const size_t size = block_.size();
    if (rounded <= size && at <= size - rounded) return static_cast<char*>(block_.get()) + at;
    return ::operator new(bytes);
  }

  // The bytes given so far, for reset.
  size_t used() const { return used_; }

  // Takes back every piece given after the first `kept` bytes, to be given again from there;
  // for when none of them is in use.
  void reset(size_t kept = 0) { used_ = kept; }

  void deallocate(void* piece) {
    const char* p = static_cast<const char*>(piece);
    const char* begin = static_cast<const char*>(block_.get());
    if (begin == nullptr || p < begin || p >= begin + block_.size()) ::operator delete(piece);
  }

 private:
  static constexpr size_t kAlignment = 64;
  ScratchBlock block_;
  std::atomic<size_t> used_{0};
};

// The allocator of a vector whose storage comes from an arena, or from the heap when the
// arena is null. Entries that resize adds are left unset, not zeroed: every vector of a slice
// is filled right after it is sized, and zeroing first wrote megabytes twice, on the calling
// thread alone for the slices of the first levels.
template <class T>
struct ArenaAllocator {
  using value_type = T;
  explicit ArenaAllocator(Arena* arena) : arena(arena) {}
  template <class U>
  ArenaAllocator(const ArenaAllocator<U>& other) : arena(other.arena) {}
  T* allocate(size_t count) {
    const size_t bytes = count * sizeof(T);
    return static_cast<T*>(arena != nullptr ? arena->allocate(bytes) : ::operator new(bytes));
  }
  template <class U>
  void construct(U* at) {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
  void deallocate(T* piece, size_t) {
    if (arena != nullptr) {
      arena->deallocate(piece);
    } else {
      ::operator delete(piece);
    }
  }
  template <class U>
  bool operator==(const ArenaAllocator<U>& other) const {
    return arena == other.arena;
  }
  template <class U>
  bool operator!=(const ArenaAllocator<U>& other) const {
    return arena != other.arena;
  }
  Arena* arena;
};

template <class T>
using ArenaVector = std::vector<T, ArenaAllocator<T>>;

// Which of the two buffers of lists holds a slice's list along each dimension: bit d for
// dimension d, bit kLastBufferBit for it and every later dimension, whose lists always change
// buffers together.
using Buffers = uint64_t;
constexpr int32_t kLastBufferBit = 63;

// The construction of build_tree over one block of nodes, filled in pre-order.
//
// The literal construction sorts every slice by quicksort and takes the entry at the median
// position; what a slice's subtrees see is the order that sort leaves. A slice whose keys along
// its dimension are distinct ends sorted whatever order it came in. A slice whose key at the
// median position is held by no other entry of the slice (the median is not tied) has the same
// node and the same two parts, as sets, however the sort orders its equal keys. So, by
// induction from the root, the nodes and parts are decided by the keys alone down to the first
// slice with a tied median, and that slice needs the exact order its quicksort starts from
// (its literal input). That input is the parent's sorted order restricted to the slice: known
// when the parent's keys are distinct (the slice's rows in ascending order along the parent's
// dimension), else made by the parent's own quicksort from the parent's input, and so on up to
// the root, whose input is idx as given. A slice with equal keys keeps its input when it is
// known on entry, so that such a chain always ends; an input made on the way is kept too.
//
// Every slice holds its rows in one list per dimension, sorted along it by rank (sorted once
// for the whole tree by a radix sort). The median of a slice is then the middle of its list
// along the split dimension, a tie is two equal neighbouring ranks, and the parts get their
// lists by splitting each list in order, so no slice is sorted or selected again. A slice's
// lists lie at its positions of two buffers, each list in one of them, and its parts' lists in
// the other one but for the list along the split dimension where the median is not tied: the
// parts of that list are its two halves, left where they lie. Nothing else writes there before
// the parts read them, as every slice writes only its own positions of the buffer its parts
// read from.
//
// Threads: the subtrees of a slice are independent once its lists are split, and the node
// block position of each is known (the left subtree of a slice of n has n/2 nodes), so the
// first levels are built on the calling thread and the subtrees below them are tasks, of which
// a thread that waits for one is left the right part of a large slice; the parts of a quicksort
// are independent once partitioned, so the large exact sorts of the first levels are shared
// too. A tie in a task may ask the slices above it for their order: the exact sorts of slices
// that more than one thread reads go on under one lock. Every step is the same at any thread
// count.
//
// Data holding NaN, on which quicksort is no sort at all, is sorted exactly at every slice.
class FastBuild {
 public:
  // Node k of the pre-order sits at block + k * node_bytes, its coordinates right after it,
  // so that a search touches one place per node and a left child follows its parent.
  static size_t node_bytes(int32_t ndim) { return sizeof(node) + ndim * sizeof(double); }

  FastBuild(const double* data, int32_t stride, int32_t ndim, const int32_t* idx, int32_t n,
            void* block, ParallelRun run)
      : data_(data),
        stride_(stride),
        ndim_(ndim),
        n_(n),
        idx_(idx),
        block_(static_cast<char*>(block)),
        run_(run),
        parallel_(run != nullptr && n >= kParallelLeast),
        topArena_(std::max(top_scratch_bytes(n, parallel_ ? kTaskLevels : 0),
                           root_scratch_bytes(n) + sort_scratch_bytes(n, ndim))) {}

  node* build(int32_t dim) {
    // Whether any key is NaN, and the largest row, by pieces of the rows.
    const int32_t scanPieces = std::max(1, n_ / kScanPiece);
    std::vector<char> nanIn(static_cast<size_t>(scanPieces), 0);
    std::vector<int32_t> largestIn(static_cast<size_t>(scanPieces), 0);
    in_parallel(scanPieces, [&](int32_t begin, int32_t end) {
      for (int32_t k = begin; k < end; ++k) {
        const int32_t first = piece_start(n_, k, scanPieces);
        const int32_t last = piece_start(n_, k + 1, scanPieces);
        bool nan = false;
        for (int32_t d = 0; d < ndim_; ++d) nan |= any_nan(d, first, last);
        int32_t largest = 0;
        for (int32_t e = first; e < last; ++e) largest = std::max(largest, idx_[e]);
        nanIn[k] = nan;
        largestIn[k] = largest;
      }
    });
    const bool nan = std::find(nanIn.begin(), nanIn.end(), 1) != nanIn.end();
    rows_ = static_cast<size_t>(*std::max_element(largestIn.begin(), largestIn.end())) + 1;
    topSlices_.emplace_back(nullptr, 0, n_, dim, &topArena_);
    Slice& root = topSlices_.back();
    // The root's input and entries lie at the start of the arena, before the sorts' scratch,
    // where a thread can fill them while other threads still sort (sort_dimensions).
    root.input.reserve(static_cast<size_t>(n_));
    root.sorting.reserve(static_cast<size_t>(n_));
    const size_t rootBytes = topArena_.used();
    if (nan) {
      build_exactly(std::vector<int32_t>(idx_, idx_ + n_), dim, 0);
    } else {
      const size_t entries = static_cast<size_t>(2) * ndim_ * list_stride();
      listsBlock_ = ScratchBlock(entries * sizeof(Entry));
      ranksBlock_ = ScratchBlock(rows_ * ndim_ * sizeof(uint32_t));
      if (listsBlock_.get() == nullptr || ranksBlock_.get() == nullptr) throw std::bad_alloc();
      lists_ = static_cast<Entry*>(listsBlock_.get());
      ranks_ = static_cast<uint32_t*>(ranksBlock_.get());
      sort_dimensions(root);
      topArena_.reset(rootBytes);
      if (root.input.empty()) root.input.assign(idx_, idx_ + n_);
      Sides sides(rows_);
      build_top(root, 0, 0, parallel_ ? kTaskLevels : 0, sides);
      inTasks_ = true;
      run_tasks();
    }
    const int32_t pieces = std::max(1, n_ / kCopyPiece);
    in_parallel(pieces, [this, pieces](int32_t begin, int32_t end) {
      copy_points(piece_start(n_, begin, pieces), piece_start(n_, end, pieces));
    });
    return node_at(0);
  }

 private:
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

  // The most that the vectors of the slices down to `levels` below the root hold: a slice of
  // n keeps at most n rows and 3n entries, and the slices of a level have at most the n points.
  static size_t top_scratch_bytes(int32_t n, int levels) {
    const size_t slices = (size_t{2} << levels) - 1;
    const size_t perLevel = static_cast<size_t>(n) * (sizeof(int32_t) * 2 + sizeof(Entry) * 2);
    return (levels + 1) * perLevel + slices * 4 * 128;
  }

  // The root's input and entries, which build() places before the sorts' scratch.
  static size_t root_scratch_bytes(int32_t n) {
    return static_cast<size_t>(n) * (sizeof(int32_t) + sizeof(Entry)) + 2 * 128;
  }

  // The scratch of the sorts of as many dimensions at once as threads are likely to run, at
  // most four: more take theirs from the heap.
  static size_t sort_scratch_bytes(int32_t n, int32_t ndim) {
    const size_t sorts = static_cast<size_t>(std::min(ndim, 4));
    return sorts * (2 * static_cast<size_t>(n) * sizeof(BitsAndRow) + 128);
  }

  double key(int32_t dim, int32_t row) const {
    return data_[static_cast<int64_t>(dim) * stride_ + row];
  }

  // Whether any key along dim of rows idx[first..last) is NaN. A function of its own, so that
  // the flag stays in a register: in the scan's loop the compiler kept it in memory, a store
  // that the next key waited for.
  bool any_nan(int32_t dim, int32_t first, int32_t last) const {
    const double* column = data_ + static_cast<int64_t>(dim) * stride_;
    bool nan = false;
    for (int32_t e = first; e < last; ++e) nan |= std::isnan(column[idx_[e]]);
    return nan;
  }

  // By row, the rank of its key along dim.
  uint32_t* rank_of_row(int32_t dim) { return ranks_ + static_cast<size_t>(dim) * rows_; }

  // A list holds n entries and one spare that split_list may write after them.
  size_t list_stride() const { return static_cast<size_t>(n_) + 1; }

  // The list along dim of a slice whose lists lie in buffers.
  Entry* list(Buffers buffers, int32_t dim) {
    const uint64_t buffer = buffers >> std::min(dim, kLastBufferBit) & 1;
    return lists_ + (static_cast<size_t>(buffer) * ndim_ + dim) * list_stride();
  }

  // Sorts the rows along every dimension, a dimension per thread, and on a thread that finds
  // no dimension left to sort while others still sort theirs, once the root's is sorted, starts
  // the root's exact sort (start_root_sort); never waiting, whatever order the ranges are run
  // in. The scratch of a sort comes from the arena of the first levels, taken
  // again by the next sort on any thread, and the arena is then emptied for the slices: pages
  // touched once serve both.
  void sort_dimensions(Slice& root) {
    const size_t scratchBytes = 2 * static_cast<size_t>(n_) * sizeof(BitsAndRow);
    std::mutex mutex;
    std::atomic<bool> rootListSorted{false};
    std::atomic<int32_t> sortsLeft{ndim_};
    std::vector<void*> idle;  // scratch that no sort is using
    struct GiveBack {
      Arena& arena;
      std::vector<void*>& idle;
      ~GiveBack() {
        for (void* scratch : idle) arena.deallocate(scratch);
      }
    } giveBack{topArena_, idle};
    const int32_t items = parallel_ ? ndim_ + 1 : ndim_;
    in_parallel(items, [&](int32_t begin, int32_t end) {
      for (int32_t d = begin; d < std::min(end, ndim_); ++d) {
        void* scratch = nullptr;
        {
          std::lock_guard<std::mutex> lock(mutex);
          if (!idle.empty()) {
            scratch = idle.back();
            idle.pop_back();
          }
        }
        if (scratch == nullptr) scratch = topArena_.allocate(scratchBytes);
        struct Idle {
          std::mutex& mutex;
          std::vector<void*>& idle;
          void* scratch;
          ~Idle() {
            std::lock_guard<std::mutex> lock(mutex);
            idle.push_back(scratch);
          }
        } done{mutex, idle, scratch};
        sort_dimension(d, scratch);
        if (d == root.dim) rootListSorted = true;
        --sortsLeft;
      }
      if (end > ndim_ && rootListSorted && sortsLeft > 0) start_root_sort(root, sortsLeft);
    });
  }

  // Whether the key at the median position m of a slice's n > 1 entries, sorted by rank, is
  // held by another entry of the slice.
  static bool median_tied(const Entry* sorted, int32_t n, int32_t m) {
    const uint32_t medianRank = rank_of(sorted[m]);
    return rank_of(sorted[m - 1]) == medianRank ||
           (m + 1 < n && rank_of(sorted[m + 1]) == medianRank);
  }

  // Where split_slice will sort the root whole (its median is tied and its ties are many),
  // partitions the root's entries, the largest part first, for as long as some dimension is
  // still being sorted: work for a thread that would otherwise wait. Partitions are disjoint,
  // so exact_order goes on from the parts left as if it had made them.
  void start_root_sort(Slice& root, const std::atomic<int32_t>& sortsLeft) {
    const Entry* split = list(0, root.dim);
    int32_t ties = 0;
    for (int32_t e = 1; e < n_; ++e) ties += rank_of(split[e]) == rank_of(split[e - 1]);
    if (ties < n_ / 8 || !median_tied(split, n_, median_position(n_))) return;
    root.input.assign(idx_, idx_ + n_);
    start_sorting(root, false);
    using Part = std::pair<int32_t, int32_t>;
    const auto smaller = [](const Part& a, const Part& b) {
      return a.second - a.first < b.second - b.first;
    };
    std::vector<Part>& parts = root.unsorted;
    while (sortsLeft > 0 && parts.front().second - parts.front().first >= kShortPart) {
      std::pop_heap(parts.begin(), parts.end(), smaller);
      const Part part = parts.back();
      const int32_t p = partition_ranked(root.sorting.data(), part.first, part.second);
      parts.back() = {part.first, p};
      std::push_heap(parts.begin(), parts.end(), smaller);
      parts.emplace_back(p + 1, part.second);
      std::push_heap(parts.begin(), parts.end(), smaller);
    }
  }

  // Sorts the rows along dim into its list in buffer 0, as entries, and ranks them; scratch
  // holds 2n BitsAndRow.
  void sort_dimension(int32_t dim, void* scratch) {
    if (sort_floats(dim, static_cast<uint64_t*>(scratch))) return;
    BitsAndRow* unsorted = static_cast<BitsAndRow*>(scratch);
    const BitsAndRow* sorted = radix_sort(
        unsorted, unsorted + n_, static_cast<size_t>(n_), 0, 6,
        [this, dim](size_t e, BitsAndRow& entry) {
          entry = {ordered_bits(key(dim, idx_[e])), idx_[e]};
          return true;
        },
        [](const BitsAndRow& entry) { return entry.bits; });
    Entry* out = list(0, dim);
    uint32_t* rank = rank_of_row(dim);
    uint32_t r = 0;
    for (int32_t e = 0; e < n_; ++e) {
      if (e > 0 && sorted[e].bits != sorted[e - 1].bits) ++r;
      out[e] = Entry{r} << 32 | static_cast<uint32_t>(sorted[e].row);
      rank[sorted[e].row] = r;
    }
  }

  // sort_dimension where every key along dim is a float, as a mesh's single coordinates
  // widened to double are: a float orders and ties like its double, and entries of its 32
  // ordered bits and the row sort in half the passes over half the bytes. Returns false,
  // having done nothing that counts, at the first other key. scratch holds 2n entries.
  bool sort_floats(int32_t dim, uint64_t* scratch) {
    const uint64_t* sorted = radix_sort(
        scratch, scratch + n_, static_cast<size_t>(n_), 32, 3,
        [this, dim](size_t e, uint64_t& entry) {
          const double x = key(dim, idx_[e]);
          // A finite double beyond the floats' range has no float to convert to.
          if (!(std::fabs(x) <= FLT_MAX) && !std::isinf(x)) return false;
          const float single = static_cast<float>(x);
          if (static_cast<double>(single) != x) return false;
          entry = uint64_t{ordered_bits(single)} << 32 | static_cast<uint32_t>(idx_[e]);
          return true;
        },
        [](uint64_t entry) { return entry; });
    if (sorted == nullptr) return false;
    Entry* out = list(0, dim);
    uint32_t* rank = rank_of_row(dim);
    uint32_t r = 0;
    for (int32_t e = 0; e < n_; ++e) {
      if (e > 0 && sorted[e] >> 32 != sorted[e - 1] >> 32) ++r;
      const uint32_t row = static_cast<uint32_t>(sorted[e]);
      out[e] = Entry{r} << 32 | row;
      rank[row] = r;
    }
    return true;
  }

  // The node's coordinates are copied by copy_points, after the whole tree is built.
  void write_node(size_t position, int32_t row, int32_t dim) {
    node* at = reinterpret_cast<node*>(block_ + position * node_bytes(ndim_));
    at->value = reinterpret_cast<double*>(at + 1);
    at->idx = static_cast<uint32_t>(row);
    at->dim = dim;
    at->left = nullptr;
    at->right = nullptr;
  }

  // Fills every node's coordinates, in pre-order: a point's coordinates lie far apart in
  // memory and far from the previous node's, and a loop with nothing else to do keeps many of
  // these reads in flight at once.
  void copy_points(int32_t begin, int32_t end) {
    constexpr int32_t kAhead = 16;
    for (int32_t p = begin; p < end; ++p) {
      if (p + kAhead < end) {
        const int32_t ahead = static_cast<int32_t>(node_at(p + kAhead)->idx);
        for (int32_t k = 0; k < ndim_; ++k) {
          TULM_PREFETCH(&data_[static_cast<int64_t>(k) * stride_ + ahead]);
        }
      }
      node* at = node_at(p);
      for (int32_t k = 0; k < ndim_; ++k) at->value[k] = key(k, static_cast<int32_t>(at->idx));
    }
  }

  // Runs body(begin, end) over [0, count) through the caller's parallel loop when the tree is
  // large enough for threads to pay, else at once on the calling thread.
  template <class Body>
  void in_parallel(int32_t count, Body body) {
    if (!parallel_) {
      body(0, count);
      return;
    }
    run_(
        count,
        [](void* context, int32_t begin, int32_t end) {
          (*static_cast<Body*>(context))(begin, end);
        },
        &body);
  }

  node* node_at(size_t position) {
    return reinterpret_cast<node*>(block_ + position * node_bytes(ndim_));
  }

  // The slice's lists lie in buffers at slice.begin. Splits them for its parts, writes the
  // node and returns where the parts' lists lie.
  Buffers split_slice(Slice& slice, Buffers buffers, size_t position, Sides& sides) {
    const int32_t n = slice.n;
    const int32_t first = slice.begin;
    const Entry* split = list(buffers, slice.dim) + first;
    if (n == 1) {
      write_node(position, row_of(split[0]), slice.dim);
      return buffers;
    }
    const int32_t m = median_position(n);
    int32_t ties = 0;
    for (int32_t e = 1; e < n; ++e) ties += rank_of(split[e]) == rank_of(split[e - 1]);
    slice.distinct = ties == 0;
    // Where ties are few, many parts of the exact sort hold none and are settled at once.
    if (!slice.distinct && ties < n / 8) slice.ascending.assign(split, split + n);
    if (!slice.distinct && slice.input.empty() && slice.parent != nullptr &&
        slice.parent->distinct) {
      // Kept for the ties further down: the parent's sorted order is ascending.
      const Entry* ascending = list(buffers, slice.parent->dim) + first;
      slice.input.resize(static_cast<size_t>(n));
      for (int32_t e = 0; e < n; ++e) slice.input[e] = row_of(ascending[e]);
    }
    const bool medianTied = median_tied(split, n, m);
    int32_t nodeRow;
    // The slice's entries sorted along its dimension, the left part's before the node and the
    // right part's after it, where known: the parts' lists along it are then copied.
    const Entry* ordered = split;
    if (medianTied) {
      // The node and the parts as the exact sort gives them; the parts' own literal inputs are
      // made only when a tie further down asks for them. But where ties are many in a slice of
      // the first levels, its parts are bound to ask for the rest of its order: sorted whole at
      // once, it is sorted on all threads from its first partitions on.
      const bool whole = parallel_ && !inTasks_ && slice.ascending.empty();
      const Entry* sorted = exact_order(slice, whole ? 0 : m, whole ? n : m + 1);
      ordered = whole ? sorted : nullptr;
      nodeRow = row_of(sorted[m]);
      for (int32_t e = 0; e < m; ++e) sides.set(row_of(sorted[e]), 0);
      for (int32_t e = m + 1; e < n; ++e) sides.set(row_of(sorted[e]), 1);
    } else {
      nodeRow = row_of(split[m]);
      for (int32_t e = 0; e < m; ++e) sides.set(row_of(split[e]), 0);
      for (int32_t e = m + 1; e < n; ++e) sides.set(row_of(split[e]), 1);
    }
    // The parts' lists lie in the other buffer but, where the median is not tied, along the
    // split dimension: the parts of that list are then its two halves, where they are. Where it
    // is tied and the slice was sorted whole, they are the halves of the exact order, whose
    // equal keys come in another order than the list's: a list's order matters only among
    // distinct keys (the node and sides where the median is not tied, an ascending order where
    // the keys are distinct or their ties settle nothing).
    const bool keepSplitList = !medianTied && slice.dim < kLastBufferBit;
    const Buffers stay = keepSplitList ? Buffers{1} << slice.dim : 0;
    const Buffers parts = buffers ^ ~stay;
    const auto split_lists = [&](int32_t begin, int32_t end) {
      for (int32_t d = begin; d < end; ++d) {
        if (d == slice.dim && keepSplitList) continue;
        Entry* to = list(parts, d) + first;
        if (d == slice.dim && ordered != nullptr) {
          std::copy(ordered, ordered + m, to);
          std::copy(ordered + m + 1, ordered + n, to + m + 1);
        } else {
          split_list(list(buffers, d) + first, n, m, nodeRow, sides, to);
        }
      }
    };
    if (inTasks_) {
      split_lists(0, ndim_);
    } else {
      in_parallel(ndim_, split_lists);
    }
    write_node(position, nodeRow, slice.dim);
    node* at = node_at(position);
    at->left = node_at(position + 1);
    if (n - m != 1) at->right = node_at(position + 1 + m);
    return parts;
  }

  // A slice of two or three entries with distinct keys: the node and its leaves at once.
  bool build_small(const Slice& slice, Buffers buffers, size_t position) {
    const Entry* split = list(buffers, slice.dim) + slice.begin;
    for (int32_t e = 1; e < slice.n; ++e) {
      if (rank_of(split[e]) == rank_of(split[e - 1])) return false;
    }
    const int32_t next = (slice.dim + 1) % ndim_;
    write_node(position, row_of(split[1]), slice.dim);
    write_node(position + 1, row_of(split[0]), next);
    node_at(position)->left = node_at(position + 1);
    if (slice.n == 3) {
      write_node(position + 2, row_of(split[2]), next);
      node_at(position)->right = node_at(position + 2);
    }
    return true;
  }

  // Builds the subtrees of the tasks, on all threads: each range of the loop takes tasks until
  // none is left or running. A thread that finds none waits: the first thread to split a large
  // slice then leaves the right part to it (build_core), so that the threads end together
  // however unequal the tasks turn out. The slices of a task keep their vectors in an arena
  // that is emptied when the task ends and taken again by the next task to start, on any
  // thread: pages touched once serve many tasks.
  void run_tasks() {
    int32_t largest = 0;
    for (const Task& task : tasks_) largest = std::max(largest, task.slice->n);
    // A path from a task's root holds at most twice its rows, each in at most 24 bytes of
    // vectors; where ties ask for more, the rest comes from the heap.
    arenaBytes_ = 48 * static_cast<size_t>(largest) + 4096;
    queued_.assign(tasks_.begin(), tasks_.end());
    in_parallel(static_cast<int32_t>(tasks_.size()), [this](int32_t, int32_t) {
      Sides sides(rows_);
      std::unique_lock<std::mutex> lock(taskMutex_);
      for (;;) {
        if (!queued_.empty()) {
          run_queued(lock, sides);
        } else if (running_ > 0) {
          wait_for_task(lock);
        } else {
          return;
        }
      }
    });
  }

  // A right part that a thread left to another (build_core).
  struct Fork {
    bool done = false;  // under taskMutex_
  };

  // Takes the first queued task and builds it, with taskMutex_ held by lock on entry and exit
  // but not in between; once a task has thrown, the others are dropped unbuilt.
  void run_queued(std::unique_lock<std::mutex>& lock, Sides& sides) {
    const Task task = queued_.front();
    queued_.pop_front();
    ++running_;
    std::unique_ptr<Arena> arena;
    if (!idleArenas_.empty()) {
      arena = std::move(idleArenas_.back());
      idleArenas_.pop_back();
    }
    const bool failed = failed_;
    lock.unlock();
    struct End {
      FastBuild& build;
      std::unique_lock<std::mutex>& lock;
      const Task& task;
      std::unique_ptr<Arena>& arena;
      ~End() {
        if (!lock.owns_lock()) lock.lock();
        if (std::uncaught_exceptions() > 0) build.failed_ = true;
        if (arena != nullptr) {
          arena->reset();
          build.idleArenas_.push_back(std::move(arena));
        }
        if (task.fork != nullptr) task.fork->done = true;
        --build.running_;
        build.taskChange_.notify_all();
      }
    } end{*this, lock, task, arena};
    if (failed) return;
    if (arena == nullptr) arena.reset(new Arena(arenaBytes_));
    build_core(*task.slice, task.buffers, task.position, sides, arena.get());
  }

  void wait_for_task(std::unique_lock<std::mutex>& lock) {
    ++waiting_;
    taskChange_.wait(lock);
    --waiting_;
  }

  // Waits for the fork to end, building queued tasks meanwhile. On the way out of a throw it
  // only waits: a fork still queued is dropped, one that runs is waited for, as it reads the
  // slices of the waiting thread.
  void join(const Fork& fork, Sides& sides) {
    std::unique_lock<std::mutex> lock(taskMutex_);
    while (!fork.done) {
      if (!queued_.empty()) {
        run_queued(lock, sides);
      } else {
        wait_for_task(lock);
      }
    }
  }

  // The subtree of the slice, on the calling thread; the vectors of the slices below it come
  // from arena. Where a thread waits for a task and the slice is large, its right part is
  // queued for it, and the slice is shared from then on.
  void build_core(Slice& slice, Buffers buffers, size_t position, Sides& sides, Arena* arena) {
    if ((slice.n == 2 || slice.n == 3) && build_small(slice, buffers, position)) return;
    const Buffers parts = split_slice(slice, buffers, position, sides);
    if (slice.n == 1) return;
    const int32_t m = median_position(slice.n);
    const int32_t next = (slice.dim + 1) % ndim_;
    Slice left(&slice, slice.begin, m, next, arena);
    if (slice.n - m != 1 && slice.n >= kForkLeast && waiting_ > 0) {
      Slice right(&slice, slice.begin + m + 1, slice.n - m - 1, next, arena);
      Fork fork;
      {
        std::lock_guard<std::mutex> lock(taskMutex_);
        slice.shared = true;
        queued_.push_front({&right, parts, position + 1 + m, &fork});
      }
      taskChange_.notify_one();
      struct Join {
        FastBuild& build;
        Fork& fork;
        ~Join() {
          if (std::uncaught_exceptions() > 0) build.abandon(fork);
        }
      } joinOnThrow{*this, fork};
      build_core(left, parts, position + 1, sides, arena);
      join(fork, sides);
      return;
    }
    build_core(left, parts, position + 1, sides, arena);
    if (slice.n - m != 1) {
      Slice right(&slice, slice.begin + m + 1, slice.n - m - 1, next, arena);
      build_core(right, parts, position + 1 + m, sides, arena);
    }
  }

  // After a throw: the fork is dropped if still queued, else waited for.
  void abandon(Fork& fork) {
    std::unique_lock<std::mutex> lock(taskMutex_);
    failed_ = true;
    for (auto at = queued_.begin(); at != queued_.end(); ++at) {
      if (at->fork == &fork) {
        queued_.erase(at);
        fork.done = true;
        break;
      }
    }
    taskChange_.wait(lock, [&fork] { return fork.done; });
  }

  // The first levels of the tree, on the calling thread; the subtrees below them are left as
  // tasks. Their slices stay in topSlices_, where the tasks' ties may ask them for their order.
  void build_top(Slice& slice, Buffers buffers, size_t position, int levels, Sides& sides) {
    if (levels == 0 || slice.n < 2) {
      tasks_.push_back({&slice, buffers, position, nullptr});
      return;
    }
    slice.shared = true;
    const Buffers parts = split_slice(slice, buffers, position, sides);
    const int32_t m = median_position(slice.n);
    const int32_t next = (slice.dim + 1) % ndim_;
    topSlices_.emplace_back(&slice, slice.begin, m, next, &topArena_);
    build_top(topSlices_.back(), parts, position + 1, levels - 1, sides);
    if (slice.n - m != 1) {
      topSlices_.emplace_back(&slice, slice.begin + m + 1, slice.n - m - 1, next, &topArena_);
      build_top(topSlices_.back(), parts, position + 1 + m, levels - 1, sides);
    }
  }

  // Copies the n entries of from but the node's into to, in their order: the left side's to
  // to[0..m - 1], the right side's to to[m + 1..n - 1].
  //
  // Without a branch, which the random sides would mispredict half the time: every entry is
  // written at the next place of both sides and only its own side's place moves on, so the
  // other side's next entry, if any, overwrites it. Once a side is full, its next place is
  // to[m] for the left side, the node's place, and to[n] for the right one: the node's place of
  // an ancestor, whose parts never read it, or the spare entry after the list. Nothing else
  // writes either while the slice is split: another slice whose parts end there is above or
  // below this one, split before or after it on the same thread.
  static void split_list(const Entry* from, int32_t n, int32_t m, int32_t nodeRow,
                         const Sides& sides, Entry* to) {
    Entry* left = to;
    Entry* right = to + m + 1;
    for (int32_t e = 0; e < n; ++e) {
      const Entry entry = from[e];
      const int32_t row = row_of(entry);
      if (row == nodeRow) continue;
      const uint64_t isRight = sides.right(row);
      *left = entry;
      *right = entry;
      left += isRight ^ 1;
      right += isRight;
    }
  }

  // The order in which the literal construction hands the slice's rows to its quicksort.
  const ArenaVector<int32_t>& literal_input(Slice& slice) {
    if (slice.input.empty()) {
      // The input is kept on entry when it is known, so the parent's keys are not distinct:
      // its sorted order is made from its own input. A slice above the tasks is theirs to
      // share, and its sort goes on under the lock; the rest of a task's sorts need none.
      std::unique_lock<std::recursive_mutex> lock(exactMutex_, std::defer_lock);
      if (slice.parent->shared) lock.lock();
      const int32_t from = slice.begin - slice.parent->begin;
      const Entry* sorted = exact_order(*slice.parent, from, from + slice.n);
      slice.input.resize(static_cast<size_t>(slice.n));
      for (int32_t e = 0; e < slice.n; ++e) slice.input[e] = row_of(sorted[from + e]);
    }
    return slice.input;
  }

  // Makes the slice's entries along its dimension in the order of its literal input, from
  // which its quicksort starts, in pieces on all threads where `share`.
  void start_sorting(Slice& slice, bool share) {
    const ArenaVector<int32_t>& input = literal_input(slice);
    const uint32_t* rank = rank_of_row(slice.dim);
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
      in_parallel(pieces, [&fill, pieces, &slice](int32_t begin, int32_t end) {
        fill(piece_start(slice.n, begin, pieces), piece_start(slice.n, end, pieces));
      });
    } else {
      fill(0, slice.n);
    }
    slice.unsorted.assign(1, {0, slice.n - 1});
    if (!slice.ascending.empty()) {
      slice.runsBefore.resize(static_cast<size_t>(slice.n) + 1);
      slice.runsBefore[0] = 0;
      for (int32_t e = 0; e < slice.n; ++e) {
        const bool continues =
            e > 0 && rank_of(slice.ascending[e]) == rank_of(slice.ascending[e - 1]);
        slice.runsBefore[e + 1] = slice.runsBefore[e] + continues;
      }
    }
  }

  // The slice's entries along its dimension in the order its quicksort leaves them, exact at
  // positions lo..hi - 1. The sort goes on from where an earlier call left it.
  const Entry* exact_order(Slice& slice, int32_t lo, int32_t hi) {
    if (slice.sorting.empty()) start_sorting(slice, !inTasks_);
    using Part = std::pair<int32_t, int32_t>;
    std::vector<Part> unsorted;
    std::vector<Part> parts(slice.unsorted.begin(), slice.unsorted.end());
    if (parallel_ && !inTasks_) {
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
        in_parallel(static_cast<int32_t>(large.size()), [&](int32_t begin, int32_t end) {
          for (int32_t k = begin; k < end; ++k) {
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
      std::sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) {
        return a.second - a.first > b.second - b.first;
      });
    }
    std::vector<std::vector<std::pair<int32_t, int32_t>>> left(parts.size());
    in_parallel(static_cast<int32_t>(parts.size()), [&](int32_t begin, int32_t end) {
      for (int32_t k = begin; k < end; ++k) {
        sort_part(slice, parts[k].first, parts[k].second, lo, hi, left[k]);
      }
    });
    for (const auto& more : left) unsorted.insert(unsorted.end(), more.begin(), more.end());
    slice.unsorted.swap(unsorted);
    return slice.sorting.data();
  }

  // Takes positions lo..hi from the slice's ascending entries when they hold distinct keys
  // that no entry outside them holds: quicksort leaves such a part ascending, whatever steps
  // it takes inside it. Returns whether it did.
  bool settle(Slice& slice, int32_t lo, int32_t hi) {
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
  void sort_part(Slice& slice, int32_t lo, int32_t hi, int32_t keepLo, int32_t keepHi,
                 std::vector<std::pair<int32_t, int32_t>>& unsorted) {
    while (lo < hi) {
      if (lo >= keepHi || hi < keepLo) {
        unsorted.emplace_back(lo, hi);
        return;
      }
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

  // The literal construction itself, into the block: for data with NaN.
  node* build_exactly(const std::vector<int32_t>& input, int32_t dim, size_t position) {
    const int32_t n = static_cast<int32_t>(input.size());
    std::vector<KeyedRow> pairs(input.size());
    for (int32_t e = 0; e < n; ++e) pairs[e] = {key(dim, input[e]), input[e]};
    PairEntries entries{pairs.data()};
    hoare_quicksort(entries, 0, n - 1, 0, n);
    const int32_t m = n > 1 ? median_position(n) : 0;
    write_node(position, pairs[m].second, dim);
    node* at = node_at(position);
    if (n > 1) {
      const int32_t next = (dim + 1) % ndim_;
      std::vector<int32_t> part(static_cast<size_t>(m));
      for (int32_t e = 0; e < m; ++e) part[e] = pairs[e].second;
      at->left = build_exactly(part, next, position + 1);
      if (n - m != 1) {
        part.resize(static_cast<size_t>(n - m - 1));
        for (int32_t e = m + 1; e < n; ++e) part[e - m - 1] = pairs[e].second;
        at->right = build_exactly(part, next, position + 1 + m);
      }
    }
    return at;
  }

  struct Task {
    Slice* slice;
    Buffers buffers;
    size_t position;
    Fork* fork;  // where a thread left the task to another, else null
  };

  // Levels built before the subtrees below them are shared among threads: the root alone, 2
  // tasks, which waiting threads split further (build_core). Each level built ahead on all
  // threads cost more in its rounds of partitions and its steps on the calling thread than it
  // gave: 8 tasks below 3 such levels took a tenth longer on 2 threads.
  static constexpr int kTaskLevels = 1;
  // The least slice whose right part a thread leaves to a waiting one.
  static constexpr int32_t kForkLeast = 1 << 12;
  // Points whose share of a build pays for starting a thread; and the nodes whose coordinates
  // one piece of copy_points fills.
  static constexpr int32_t kParallelLeast = 1 << 15;
  static constexpr int32_t kCopyPiece = 1 << 16;
  // The rows of one piece of the scans that the first levels share among threads.
  static constexpr int32_t kScanPiece = 1 << 16;
  // The parts of at most this many entries that the exact sort takes in the literal steps.
  static constexpr int32_t kShortPart = 6;
  // The parts of a large exact sort of the first levels that a thread sorts alone hold at most
  // 1/kSharedParts of the slice, but where pivots keep splitting unevenly: no more rounds of
  // partitions than kShareRounds are shared (the icosphere's vertices take more).
  static constexpr int32_t kSharedParts = 32;
  static constexpr int kShareRounds = 12;

  const double* data_;
  int32_t stride_;
  int32_t ndim_;
  int32_t n_;
  const int32_t* idx_;
  char* block_;
  ParallelRun run_;
  bool parallel_;
  bool inTasks_ = false;  // the tasks run: a thread no longer shares its own work
  // Where the slices of the first levels keep their vectors; made before them, gone after.
  Arena topArena_;
  // The slices of the first levels, which outlive the tasks below them.
  std::deque<Slice> topSlices_;
  std::vector<Task> tasks_;
  // The tasks not begun yet, first the parts that threads left to others; how many have begun
  // and not ended; whether one threw; the arenas that no task uses; all under taskMutex_.
  std::mutex taskMutex_;
  std::condition_variable taskChange_;
  std::deque<Task> queued_;
  int32_t running_ = 0;
  bool failed_ = false;
  std::vector<std::unique_ptr<Arena>> idleArenas_;
  size_t arenaBytes_ = 0;
  // The threads that wait for a task.
  std::atomic<int32_t> waiting_{0};
  // Held while the exact quicksort of a shared slice goes on.
  std::recursive_mutex exactMutex_;
  // Two buffers of ndim lists of n entries each.
  ScratchBlock listsBlock_;
  Entry* lists_ = nullptr;
  size_t rows_ = 0;  // 1 + the largest row
  ScratchBlock ranksBlock_;
  uint32_t* ranks_ = nullptr;
};

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

// The registry of kept trees: plain static data of this library, of which a process has one
// copy, so all plug-ins see the same trees. It has no destructor: kept trees stay reachable
// to leak checkers until the process ends.
tree_header** keptTrees = nullptr;
size_t keptCount = 0;
size_t keptCapacity = 0;

// The position of tree among the kept trees, or keptCount.
size_t kept_position(const tree_header* tree) {
  size_t k = 0;
  while (k < keptCount && keptTrees[k] != tree) ++k;
  return k;
}

}  // namespace

tree_header* build_tree(const double* data, int32_t stride, int32_t ndim, int32_t* idx, int32_t n,
                        int32_t dim, Diagnostics& diagnostics, ParallelRun parallel) {
  std::unique_ptr<tree_header, FreeDeleter> tree(
      static_cast<tree_header*>(std::malloc(sizeof(tree_header))));
  if (tree == nullptr) {
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  *tree = tree_header{nullptr, ndim, n > 0 ? n : 0, 0, nullptr};
  if (n < 1) return tree.release();

  const size_t count = static_cast<size_t>(n);
  std::unique_ptr<void, FreeDeleter> block(std::malloc(count * FastBuild::node_bytes(ndim)));
  if (block == nullptr) {
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  advise_huge_pages(block.get(), count * FastBuild::node_bytes(ndim));
  try {
    tree->root = FastBuild(data, stride, ndim, idx, n, block.get(), parallel).build(dim);
  } catch (const std::bad_alloc&) {
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  assert(tree->root == block.get() && "release_tree frees the whole tree through its root");
  block.release();
  return tree.release();
}

bool keep_tree(tree_header* tree) {
  if (kept_position(tree) < keptCount) return true;
  if (keptCount == keptCapacity) {
    const size_t capacity = keptCapacity == 0 ? 16 : 2 * keptCapacity;
    void* grown = std::realloc(keptTrees, capacity * sizeof(tree_header*));
    if (grown == nullptr) return false;
    keptTrees = static_cast<tree_header**>(grown);
    keptCapacity = capacity;
  }
  keptTrees[keptCount++] = tree;
  return true;
}

tree_header* find_kept_tree(int64_t address) {
  for (size_t k = 0; k < keptCount; ++k) {
    if (static_cast<int64_t>(reinterpret_cast<intptr_t>(keptTrees[k])) == address) {
      return keptTrees[k];
    }
  }
  return nullptr;
}

void release_tree(tree_header* tree) {
  if (tree == nullptr) return;
  const size_t position = kept_position(tree);
  if (position < keptCount) keptTrees[position] = keptTrees[--keptCount];
  std::free(tree->searchCopy);
  std::free(tree->root);
  std::free(tree);
}

void* allocate_search_copy(tree_header* tree, size_t bytes) {
  std::free(tree->searchCopy);
  tree->searchCopy = std::malloc(bytes);
  return tree->searchCopy;
}

}  // namespace tulm
