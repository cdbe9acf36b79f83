// Zero-filled scratch memory from calloc, owned like a std::unique_ptr.
//
// Scratch tables are sized by counts the caller passes (numVerts, numFaces). calloc hands out
// pages that cost nothing until written, so a table whose size follows a large count but whose
// entries are mostly never written stays cheap; a std::vector would write every zero.
#ifndef TULM_CORE_ZEROED_ARRAY_H
#define TULM_CORE_ZEROED_ARRAY_H

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace tulm {

template <class T>
class ZeroedArray {
 public:
  ZeroedArray() = default;
  // Throws std::bad_alloc when the memory is not there.
  explicit ZeroedArray(size_t count)
      : data_(static_cast<T*>(std::calloc(count > 0 ? count : 1, sizeof(T)))), size_(count) {
    if (data_ == nullptr) throw std::bad_alloc();
  }

  T& operator[](size_t k) { return data_.get()[k]; }
  const T& operator[](size_t k) const { return data_.get()[k]; }
  T* data() { return data_.get(); }
  size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };
  std::unique_ptr<T, Free> data_;
  size_t size_ = 0;
};

}  // namespace tulm

#endif  // TULM_CORE_ZEROED_ARRAY_H
