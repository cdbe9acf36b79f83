// The construction of build_tree over one block of nodes, filled in pre-order: the tree of the
// literal construction (literal_kdtree.h), without sorting every slice again.
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
// Ctrl-C: every thread polls (the caller's StopPoll) between blocks of the loops over a large
// slice, at each subtree of a few thousand points and more, and every few milliseconds while it
// waits, for a worker's poll sees an interrupt only once the calling thread's has asked the
// host. A poll that throws ends its task; the tasks not begun are dropped, the others end at
// their next poll, and the exception leaves once every thread has. What an interrupted exact
// sort leaves is still a set of parts that the other threads may read (exact_order.h).
//
// Data holding NaN, on which quicksort is no sort at all, is sorted exactly at every slice.
#include "core/spatial_search/fast_build.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "core/portability.h"
#include "core/spatial_search/build_scratch.h"
#include "core/spatial_search/exact_order.h"
#include "core/spatial_search/rank_sort.h"

namespace tulm {
namespace {

// The node's position in a slice of n entries, computed as the literal construction computes it.
inline int32_t median_position(int32_t n) { return static_cast<int32_t>(n * 0.5); }

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

// Which of the two buffers of lists holds a slice's list along each dimension: bit d for
// dimension d, bit kLastBufferBit for it and every later dimension, whose lists always change
// buffers together.
using Buffers = uint64_t;
constexpr int32_t kLastBufferBit = 63;

// The build of one tree: its slices, its tasks and its scratch.
class FastBuild {
 public:
  FastBuild(const double* data, int32_t stride, int32_t ndim, const int32_t* idx, int32_t n,
            void* block, ParallelRun run, StopPoll poll)
      : data_(data),
        stride_(stride),
        ndim_(ndim),
        n_(n),
        idx_(idx),
        block_(static_cast<char*>(block)),
        threads_{run, poll, run != nullptr && n >= kParallelLeast},
        orders_(threads_),
        topArena_(std::max(top_scratch_bytes(n, threads_.parallel ? kTaskLevels : 0),
                           root_scratch_bytes(n) + sort_scratch_bytes(n, ndim))) {}

  node* build(int32_t dim) {
    // Whether any key is NaN, and the largest row, by pieces of the rows.
    const int32_t scanPieces = std::max(1, n_ / kScanPiece);
    std::vector<char> nanIn(static_cast<size_t>(scanPieces), 0);
    std::vector<int32_t> largestIn(static_cast<size_t>(scanPieces), 0);
    threads_.in_parallel(scanPieces, [&](int32_t begin, int32_t end) {
      for (int32_t k = begin; k < end; ++k) {
        threads_.poll();
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
      orders_.rank_by(ranks_, rows_);
      sort_dimensions(root);
      topArena_.reset(rootBytes);
      if (root.input.empty()) {
        root.input.resize(static_cast<size_t>(n_));
        threads_.in_blocks(n_, [&](int32_t begin, int32_t end) {
          std::copy(idx_ + begin, idx_ + end, root.input.begin() + begin);
        });
      }
      Sides sides(rows_);
      build_top(root, 0, 0, threads_.parallel ? kTaskLevels : 0, sides);
      threads_.inTasks = true;
      run_tasks();
    }
    const int32_t pieces = std::max(1, n_ / kCopyPiece);
    threads_.in_parallel(pieces, [this, pieces](int32_t begin, int32_t end) {
      for (int32_t k = begin; k < end; ++k) {
        threads_.poll();
        copy_points(piece_start(n_, k, pieces), piece_start(n_, k + 1, pieces));
      }
    });
    return node_at(0);
  }

 private:
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
  // most kArenaSorts: more take theirs from the heap.
  static size_t sort_scratch_bytes(int32_t n, int32_t ndim) {
    const size_t sorts = static_cast<size_t>(std::min(ndim, kArenaSorts));
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
    const int32_t items = threads_.parallel ? ndim_ + 1 : ndim_;
    threads_.in_parallel(items, [&](int32_t begin, int32_t end) {
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
        rank_rows(data_ + static_cast<int64_t>(d) * stride_, idx_, n_, scratch, list(0, d),
                  rank_of_row(d), threads_.poll);
        if (d == root.dim) rootListSorted = true;
        --sortsLeft;
      }
      if (end > ndim_ && rootListSorted && sortsLeft > 0) start_root_sort(root, sortsLeft);
    });
  }

  // The neighbours of equal rank among n entries sorted by rank.
  int32_t count_ties(const Entry* sorted, int32_t n) const {
    int32_t ties = 0;
    threads_.in_blocks(n, [&](int32_t begin, int32_t end) {
      for (int32_t e = std::max(begin, 1); e < end; ++e) {
        ties += rank_of(sorted[e]) == rank_of(sorted[e - 1]);
      }
    });
    return ties;
  }

  // Whether the key at the median position m of a slice's n > 1 entries, sorted by rank, is
  // held by another entry of the slice.
  static bool median_tied(const Entry* sorted, int32_t n, int32_t m) {
    const uint32_t medianRank = rank_of(sorted[m]);
    return rank_of(sorted[m - 1]) == medianRank ||
           (m + 1 < n && rank_of(sorted[m + 1]) == medianRank);
  }

  // Where split_slice will sort the root whole (its median is tied and its ties are many),
  // starts that sort for as long as some dimension is still being sorted: work for a thread
  // that would otherwise wait.
  void start_root_sort(Slice& root, const std::atomic<int32_t>& sortsLeft) {
    const Entry* split = list(0, root.dim);
    const int32_t ties = count_ties(split, n_);
    if (ties < n_ / kFewTies || !median_tied(split, n_, median_position(n_))) return;
    root.input.assign(idx_, idx_ + n_);
    orders_.partition_while(root, sortsLeft);
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
    for (int32_t p = begin; p < end; ++p) {
      if (p + kCopyAhead < end) {
        const int32_t ahead = static_cast<int32_t>(node_at(p + kCopyAhead)->idx);
        for (int32_t k = 0; k < ndim_; ++k) {
          TULM_PREFETCH(&data_[static_cast<int64_t>(k) * stride_ + ahead]);
        }
      }
      node* at = node_at(p);
      for (int32_t k = 0; k < ndim_; ++k) at->value[k] = key(k, static_cast<int32_t>(at->idx));
    }
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
    const int32_t ties = count_ties(split, n);
    slice.distinct = ties == 0;
    // Where ties are few, many parts of the exact sort hold none and are settled at once.
    if (!slice.distinct && ties < n / kFewTies) slice.ascending.assign(split, split + n);
    if (!slice.distinct && slice.input.empty() && slice.parent != nullptr &&
        slice.parent->distinct) {
      // Kept for the ties further down: the parent's sorted order is ascending.
      const Entry* ascending = list(buffers, slice.parent->dim) + first;
      slice.input.resize(static_cast<size_t>(n));
      for (int32_t e = 0; e < n; ++e) slice.input[e] = row_of(ascending[e]);
    }
    const bool medianTied = median_tied(split, n, m);
    // The slice's entries sorted along its dimension, the left part's before the node and the
    // right part's after it, where known: the parts' lists along it are then copied.
    const Entry* ordered = split;
    // Entries in an order that puts the node at m, the left part's before it and the right
    // part's after it.
    const Entry* bySide = split;
    if (medianTied) {
      // The node and the parts as the exact sort gives them; the parts' own literal inputs are
      // made only when a tie further down asks for them. But where ties are many in a slice of
      // the first levels, its parts are bound to ask for the rest of its order: sorted whole at
      // once, it is sorted on all threads from its first partitions on.
      const bool whole = threads_.parallel && !threads_.inTasks && slice.ascending.empty();
      const Entry* sorted = orders_.exact_order(slice, whole ? 0 : m, whole ? n : m + 1);
      ordered = whole ? sorted : nullptr;
      bySide = sorted;
    }
    const int32_t nodeRow = row_of(bySide[m]);
    threads_.in_blocks(m, [&](int32_t begin, int32_t end) {
      for (int32_t e = begin; e < end; ++e) sides.set(row_of(bySide[e]), 0);
    });
    threads_.in_blocks(n - m - 1, [&](int32_t begin, int32_t end) {
      for (int32_t e = m + 1 + begin; e < m + 1 + end; ++e) sides.set(row_of(bySide[e]), 1);
    });
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
          // The node's entry too, on the node's place, which neither part reads.
          threads_.in_blocks(n, [&](int32_t begin, int32_t end) {
            std::copy(ordered + begin, ordered + end, to + begin);
          });
        } else {
          split_list(list(buffers, d) + first, n, m, nodeRow, sides, to, threads_);
        }
      }
    };
    if (threads_.inTasks) {
      split_lists(0, ndim_);
    } else {
      threads_.in_parallel(ndim_, split_lists);
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
    threads_.in_parallel(static_cast<int32_t>(tasks_.size()), [this](int32_t, int32_t) {
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

  // Waits for a change of the tasks, polling every few milliseconds: the calling thread may be
  // the one that waits, and the others' polls see an interrupt only once it has asked.
  void wait_for_task(std::unique_lock<std::mutex>& lock) {
    ++waiting_;
    taskChange_.wait_for(lock, std::chrono::milliseconds(kWaitPollMilliseconds));
    --waiting_;
    threads_.poll();
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
    if (slice.n >= kPollSubtree) threads_.poll();
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
                         const Sides& sides, Entry* to, const BuildThreads& threads) {
    Entry* left = to;
    Entry* right = to + m + 1;
    threads.in_blocks(n, [&](int32_t begin, int32_t end) {
      for (int32_t e = begin; e < end; ++e) {
        const Entry entry = from[e];
        const int32_t row = row_of(entry);
        if (row == nodeRow) continue;
        const uint64_t isRight = sides.right(row);
        *left = entry;
        *right = entry;
        left += isRight ^ 1;
        right += isRight;
      }
    });
  }

  // The literal construction itself, into the block: for data with NaN.
  node* build_exactly(const std::vector<int32_t>& input, int32_t dim, size_t position) {
    const int32_t n = static_cast<int32_t>(input.size());
    if (n >= kPollSubtree) threads_.poll();
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

  const double* data_;
  int32_t stride_;
  int32_t ndim_;
  int32_t n_;
  const int32_t* idx_;
  char* block_;
  BuildThreads threads_;
  // The exact orders of the slices whose tied medians ask for them.
  ExactOrders orders_;
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
  // Two buffers of ndim lists of n entries each.
  ScratchBlock listsBlock_;
  Entry* lists_ = nullptr;
  size_t rows_ = 0;  // 1 + the largest row
  ScratchBlock ranksBlock_;
  uint32_t* ranks_ = nullptr;
};

}  // namespace

node* fast_build(const double* data, int32_t stride, int32_t ndim, const int32_t* idx, int32_t n,
                 int32_t dim, void* block, ParallelRun parallel, StopPoll poll) {
  return FastBuild(data, stride, ndim, idx, n, block, parallel, poll).build(dim);
}

}  // namespace tulm
