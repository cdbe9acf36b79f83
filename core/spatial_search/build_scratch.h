// The scratch memory of the k-d tree's construction (fast_build.cpp): blocks kept from one
// build for the next (build_scratch.cpp says why), and arenas that hand out pieces of a block
// to the vectors of the slices. Part of the tulm_kdtree library.
#ifndef TULM_CORE_SPATIAL_SEARCH_BUILD_SCRATCH_H
#define TULM_CORE_SPATIAL_SEARCH_BUILD_SCRATCH_H

#include <atomic>
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace tulm {

// Asks for the whole pages inside [address, address + bytes), a block about to be written for
// the first time, to be backed by huge pages (Linux's transparent huge pages, in their usual
// "madvise" mode): a fresh 4 KiB page costs a fault on first touch, a notable part of filling
// tens of megabytes, where a huge page takes one fault for 512 of them. A hint only: nothing
// changes where the kernel declines, and other systems go without.
void advise_huge_pages(void* address, size_t bytes);

// A block of build scratch, taken from the scratch that earlier builds gave back where one is
// large enough, given back for the next build when it goes; its contents are uninitialised.
// get() is null when there is no memory.
class ScratchBlock {
 public:
  ScratchBlock() = default;
  explicit ScratchBlock(size_t bytes);
  ~ScratchBlock();
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

}  // namespace tulm

#endif  // TULM_CORE_SPATIAL_SEARCH_BUILD_SCRATCH_H
