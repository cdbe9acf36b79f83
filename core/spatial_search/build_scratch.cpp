#include "core/spatial_search/build_scratch.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tulm {
namespace {

// Gives the kernel `advice` (madvise) about the whole pages inside [address, address + bytes).
#if defined(__linux__)
void advise_whole_pages(void* address, size_t bytes, int advice) {
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(address) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(address) + bytes) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, advice);
}
#endif

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

}  // namespace

void advise_huge_pages(void* address, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  advise_whole_pages(address, bytes, MADV_HUGEPAGE);
#else
  (void)address;
  (void)bytes;
#endif
}

ScratchBlock::ScratchBlock(size_t bytes) { start_ = kept_scratch().take(bytes, &size_); }

ScratchBlock::~ScratchBlock() {
  if (start_ != nullptr) kept_scratch().give_back(start_, size_);
}

}  // namespace tulm
