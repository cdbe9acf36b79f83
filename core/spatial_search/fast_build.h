// The construction behind build_tree: the literal construction's tree (literal_kdtree.h), node
// for node and bit for bit, without sorting every slice again. Part of the tulm_kdtree library.
#ifndef TULM_CORE_SPATIAL_SEARCH_FAST_BUILD_H
#define TULM_CORE_SPATIAL_SEARCH_FAST_BUILD_H

#include <cstddef>
#include <cstdint>

#include "core/spatial_search/kdtree.h"

namespace tulm {

// The bytes of a node and its coordinates. Node k of the pre-order sits at block + k *
// node_bytes, its coordinates right after it, so that a search touches one place per node and a
// left child follows its parent.
inline size_t node_bytes(int32_t ndim) { return sizeof(node) + ndim * sizeof(double); }

// Builds the tree of rows idx[0..n-1] (n >= 1) as build_tree says, into block, which holds
// n * node_bytes(ndim) bytes, and returns its root, at the start of block. Throws
// std::bad_alloc when scratch memory runs out, and what poll throws, on any thread, once every
// thread has left the build; the scratch goes with the exception either way.
node* fast_build(const double* data, int32_t stride, int32_t ndim, const int32_t* idx, int32_t n,
                 int32_t dim, void* block, ParallelRun parallel, StopPoll poll);

// What decides the build's speed, never its tree.
//
// Levels built before the subtrees below them are shared among threads: the root alone, 2
// tasks, which waiting threads split further (build_core). Each level built ahead on all
// threads cost more in its rounds of partitions and its steps on the calling thread than it
// gave: 8 tasks below 3 such levels took a tenth longer on 2 threads.
constexpr int kTaskLevels = 1;
// The least slice whose right part a thread leaves to a waiting one.
constexpr int32_t kForkLeast = 1 << 12;
// Points whose share of a build pays for starting a thread; and the nodes whose coordinates
// one piece of copy_points fills, a poll apart: gathered from anywhere in a large reference,
// they took up to 200 ns a node (1e7 points).
constexpr int32_t kParallelLeast = 1 << 15;
constexpr int32_t kCopyPiece = 1 << 13;
// The rows of one piece of the scans that the first levels share among threads.
constexpr int32_t kScanPiece = 1 << 16;
// The parts of at most this many entries that the exact sort takes in the literal steps.
constexpr int32_t kShortPart = 6;
// The parts of a large exact sort of the first levels that a thread sorts alone hold at most
// 1/kSharedParts of the slice, but where pivots keep splitting unevenly: no more rounds of
// partitions than kShareRounds are shared (the icosphere's vertices take more).
constexpr int32_t kSharedParts = 32;
constexpr int kShareRounds = 12;
// The nodes ahead of the one being filled whose points copy_points asks for.
constexpr int32_t kCopyAhead = 16;
// A slice whose ties (neighbours of equal rank in its list along its dimension) are fewer than
// 1/kFewTies of its entries has few: most parts of its exact sort hold none and are settled at
// once (settle); with more, a slice of the first levels that needs its exact order is sorted
// whole, and the root's sort starts while dimensions are still being ranked.
constexpr int32_t kFewTies = 8;
// The sorts of the ranking (sort_dimensions) whose scratch the first levels' arena holds.
constexpr int32_t kArenaSorts = 4;
// Polls for Ctrl-C: the loops over the entries of a large slice poll every kPollBlock entries
// (a few hundred microseconds of the slowest loop), and every subtree of kPollSubtree points
// or more polls as it starts, so that a subtree built without a poll holds fewer than twice
// as many, a millisecond or two of work. A build of 1e7 uniform points polls some 18,000 times
// in all, at a cost beneath the noise.
constexpr int32_t kPollBlock = 1 << 16;
constexpr int32_t kPollSubtree = 1 << 11;
// How often a thread that waits for the others asks whether to stop: on the calling thread
// the poll asks the host, and the others see the answer only once it has.
constexpr int kWaitPollMilliseconds = 5;

// Runs body(begin, end) on consecutive blocks of at most kPollBlock entries that cover [0,
// count), calling poll between two blocks: the loops of a large slice poll, a small slice's
// never.
template <class Index, class Body>
void in_blocks(Index count, StopPoll poll, Body&& body) {
  const Index block = kPollBlock;
  for (Index begin = 0;; begin += block) {
    const bool last = !(count - begin > block);
    body(begin, last ? count : begin + block);
    if (last) return;
    poll();
  }
}

// How one build shares its work among threads, and how it asks whether to stop.
struct BuildThreads {
  ParallelRun run;
  StopPoll poll;
  bool parallel;         // the tree is large enough for threads to pay
  bool inTasks = false;  // the tasks run: a thread no longer shares its own work

  // Runs body(begin, end) over [0, count) through the caller's parallel loop where parallel,
  // else at once on the calling thread.
  template <class Body>
  void in_parallel(int32_t count, Body body) const {
    if (!parallel) {
      body(0, count);
      return;
    }
    run(
        count,
        [](void* context, int32_t begin, int32_t end) {
          (*static_cast<Body*>(context))(begin, end);
        },
        &body);
  }

  template <class Body>
  void in_blocks(int32_t count, Body&& body) const {
    tulm::in_blocks(count, poll, body);
  }
};

// Where piece k of `pieces` equal pieces of count elements starts.
inline int32_t piece_start(int32_t count, int32_t k, int32_t pieces) {
  return static_cast<int32_t>(int64_t{count} * k / pieces);
}

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_FAST_BUILD_H
