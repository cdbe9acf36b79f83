// The k-d tree shared by nearestPointSearch, nearestIndexSearch and radiusPointSearch: its
// records and searches, and the tulm_kdtree library (kdtree.cpp) in which every tree is built,
// kept and released.
//
// Ownership: a tree copies every coordinate it needs and never refers to the reference
// matrix after construction. A tree built by one plug-in is searched and released by another,
// and a kept tree outlives the call that built it. So trees are allocated and released only
// inside the tulm_kdtree library, a shared library beside the plug-ins that is loaded once per
// process (on Linux it is also never unloaded, so kept trees survive `clear` of all three
// plug-ins): one heap and one registry of kept trees serve every plug-in, which only reads
// trees, but for what the nearest searches keep with a tree in blocks of this library
// (tree_header). Nothing here is thread-safe or reentrant.
//
// Shape: a subtree built from n points has as its root the point at sorted position n/2
// (rounded down) along its split dimension; the m = n/2 points before it build the left
// subtree, the n - m - 1 after it the right one. The sort is Hoare's quicksort with the
// first entry as pivot and is not stable: the order it gives to equal keys decides which of
// several equal points becomes a node, hence the tree's shape and every tie-break of the
// searches. Points whose split coordinate equals the node's may lie on either side. The
// literal construction in literal_kdtree.h is the reference definition of this shape.
#ifndef TULM_CORE_SPATIAL_SEARCH_KDTREE_H
#define TULM_CORE_SPATIAL_SEARCH_KDTREE_H

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/diagnostics.h"
#include "core/parallel.h"
#include "core/portability.h"

// The functions of the tulm_kdtree library; everything else in it stays private to it.
#if defined(TULM_KDTREE_BUILD)
#define TULM_KDTREE_API TULM_SHARED_EXPORT
#else
#define TULM_KDTREE_API TULM_SHARED_IMPORT
#endif

namespace tulm {

struct node {
  double* value;  // the node's own copy of its point's ndim coordinates
  int32_t dim;    // split dimension, 0 at the root, (parent's + 1) mod ndim below
  uint32_t idx;   // 0-based row of the point in the reference matrix
  node* left;
  node* right;
};

struct tree_header {
  // The first node of the one allocation that holds the whole tree: the nodes in pre-order,
  // each followed by its coordinates.
  node* root;
  int32_t ndim;
  // The number of nodes, 0 when root is null; what a search needs to know the tree's shape
  // from its root alone.
  int32_t count;
  // What the nearest searches keep with the tree between calls (nearest_queries.cpp): the
  // model rows it has been asked about, and the copy of it that they search
  // (packed_tree.h), null until one of them makes it through allocate_search_copy. The copy
  // goes with the tree.
  int64_t queries = 0;
  void* searchCopy = nullptr;
};

// How build_tree shares its work among threads: calls body(context, begin, end) on ranges
// that together cover [0, n) once each, on threads of the caller's choosing, and returns when
// all are done, rethrowing on the calling thread what a range threw.
using ParallelRun = void (*)(int32_t n, void (*body)(void* context, int32_t begin, int32_t end),
                             void* context);

// parallel_for of the module that calls build_tree, with that module's thread settings
// (set_thread_count, TULM_NUM_THREADS, the host's limit): the library of trees has no settings
// of its own, so the default argument below, evaluated where build_tree is called, brings the
// caller's. Never called inside the library.
inline void run_in_parallel(int32_t n, void (*body)(void* context, int32_t begin, int32_t end),
                            void* context) {
  parallel_for(n, 1, [body, context](int32_t begin, int32_t end) { body(context, begin, end); });
}

// How build_tree asks whether the user pressed Ctrl-C: returns when not, throws when so (the
// caller's Interrupted, interrupt.h). Called on every thread of the build, at least every few
// milliseconds of each one's work; the throw goes through the library, which releases all
// it took and lets it reach build_tree's caller.
using StopPoll = void (*)();

// Builds the tree of rows idx[0..n-1] of the stride x ndim column-major matrix data
// (coordinate d of row p at data[p + d*stride]), splitting first on dimension dim. The
// gateways pass stride = n = M, idx = 0..M-1 and dim = 0; idx is only read. Returns null,
// after printing "Error allocating memory for kD-Tree\n", when memory runs out; nothing is left
// allocated then. stride * ndim must fit an int32. The tree is not kept.
//
// All nodes share one allocation, and the tree is the literal construction's without sorting
// every slice again (fast_build.cpp says how). A large tree is built on several threads through
// `parallel` (null: on the calling thread alone); the tree is the same at any thread count.
//
// The build stops when `poll` throws (null: it never stops), and the exception leaves
// build_tree after everything the build took is released. The default argument, like
// `parallel`'s, is poll_interrupt of the module that calls build_tree, which reads the stop
// flag that module's gateway set up: the library keeps no interrupt state of its own.
TULM_KDTREE_API tree_header* build_tree(const double* data, int32_t stride, int32_t ndim,
                                        int32_t* idx, int32_t n, int32_t dim,
                                        Diagnostics& diagnostics,
                                        ParallelRun parallel = run_in_parallel,
                                        StopPoll poll = poll_interrupt);

// Enters a tree in the registry of kept trees, the only trees whose handles the plug-ins
// accept; the tree then outlives the call. Returns false, keeping nothing, when the registry
// cannot grow.
TULM_KDTREE_API bool keep_tree(tree_header* tree);

// The kept tree whose address is `address`, or null when there is none. The value is only
// compared with the addresses of kept trees, never used as one, so any value is safe.
TULM_KDTREE_API tree_header* find_kept_tree(int64_t address);

// How many trees are kept: what the tests count around a call that may keep one.
TULM_KDTREE_API size_t kept_tree_count();

// Replaces the tree's search copy, if it has one, by a new block of `bytes` bytes, which the
// tree owns from then on and release_tree frees with it. Returns the block, or null when
// memory runs out (the tree then has no copy).
TULM_KDTREE_API void* allocate_search_copy(tree_header* tree, size_t bytes);

// Releases a tree made by build_tree, kept or not, with its search copy; a kept tree leaves the
// registry, so its handle is refused afterwards. Null is allowed.
TULM_KDTREE_API void release_tree(tree_header* tree);

// Euclidean distance in double: the square root of the in-order sum of squared differences.
inline double calcdistance(const double* a, const double* b, int32_t n) {
  double sum = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    const double d = a[k] - b[k];
    sum += d * d;
  }
  return std::sqrt(sum);
}

// Every point of the subtree within distance r of q (inclusive), in pre-order: the node's
// own match, then its left subtree's, then its right subtree's. The node matches when
// q[s] >= v - r, v + r >= q[s] and r >= calcdistance(q, value, n), tested in this order
// (s = split dimension, v = value[s]); the left child is entered when v >= q[s] - r, the
// right child when r + q[s] >= v. Any NaN makes a test fail. visit(match, distance) gets
// the distance that was tested. enter() is called at every node reached, before its tests: a
// search's measure of its work.
template <class Visit, class Enter>
void for_each_in_range(const node* root, double r, const double* q, int32_t n, Visit&& visit,
                       Enter&& enter) {
  for (const node* at = root; at != nullptr; at = at->right) {
    enter();
    const int32_t s = at->dim;
    const double v = at->value[s];
    if (q[s] >= v - r && v + r >= q[s]) {
      const double d = calcdistance(q, at->value, n);
      if (r >= d) visit(at, d);
    }
    if (at->left != nullptr && v >= q[s] - r) for_each_in_range(at->left, r, q, n, visit, enter);
    if (!(r + q[s] >= v)) return;
  }
}

template <class Visit>
void for_each_in_range(const node* root, double r, const double* q, int32_t n, Visit&& visit) {
  for_each_in_range(root, r, q, n, visit, [] {});
}

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_KDTREE_H
