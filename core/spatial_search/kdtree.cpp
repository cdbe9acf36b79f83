// The tulm_kdtree library: every tree is built, kept and released here, so that the plug-ins
// share one heap and one registry of kept trees. Built as a shared library of its own and never
// linked into a plug-in.
//
// build_tree gives the tree that the literal construction defines (literal_kdtree.h: every
// slice sorted by Hoare's quicksort with the first entry as pivot, its node at sorted position
// n/2), as the tests check node for node. It builds it without sorting every slice again, all
// nodes in one allocation (fast_build.h), from scratch memory kept from one build to the next
// (build_scratch.h).
#include "core/spatial_search/kdtree.h"

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#include "core/spatial_search/build_scratch.h"
#include "core/spatial_search/fast_build.h"

namespace tulm {
namespace {

const char* const kMemoryMessage = "Error allocating memory for kD-Tree\n";

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

}  // namespace

tree_header* build_tree(const double* data, int32_t stride, int32_t ndim, int32_t* idx, int32_t n,
                        int32_t dim, Diagnostics& diagnostics, ParallelRun parallel,
                        StopPoll poll) {
  std::unique_ptr<tree_header, FreeDeleter> tree(
      static_cast<tree_header*>(std::malloc(sizeof(tree_header))));
  if (tree == nullptr) {
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  *tree = tree_header{nullptr, ndim, n > 0 ? n : 0, 0, nullptr};
  if (n < 1) return tree.release();

  const size_t count = static_cast<size_t>(n);
  std::unique_ptr<void, FreeDeleter> block(std::malloc(count * node_bytes(ndim)));
  if (block == nullptr) {
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  advise_huge_pages(block.get(), count * node_bytes(ndim));
  if (poll == nullptr) poll = [] {};
  // An interrupt passes through to the caller; the header and the block go with it.
  try {
    tree->root = fast_build(data, stride, ndim, idx, n, dim, block.get(), parallel, poll);
  } catch (const std::bad_alloc&) {
    diagnostics.print(kMemoryMessage);
    return nullptr;
  }
  assert(tree->root == block.get() && "release_tree frees the whole tree through its root");
  block.release();
  return tree.release();
}

namespace {

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

size_t kept_tree_count() { return keptCount; }

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
