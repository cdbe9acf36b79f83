#include "core/measures/TULM_calculateSurfaceArea.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "core/errors.h"
#include "core/mesh_arrays.h"
#include "core/parallel.h"

namespace tulm {
namespace {

// Faces whose areas take about as long as starting a thread.
constexpr int32_t kFaceGrain = 32768;
// Areas made at once before they are added to the total: a buffer that stays in the first
// level cache, on the stack of the thread that makes them. A thread's range is one block, so
// that the next thread's areas are ready when the total reaches them.
constexpr int32_t kAreasPerBlock = 1024;

// Corner j of face i, 0-based, checked against the vertex count.
int32_t corner(const int32_t* faces, int32_t i, int32_t j, int32_t numFaces, int32_t numVerts) {
  const int32_t value = faces[index_2D_array(i, j, numFaces)];
  check_index("faces", value, i, j, 1, numVerts);
  return value - 1;
}

// Area of face i. Lagrange's identity can cancel to slightly below 0 on a nearly degenerate
// face; that counts as 0 so that the total never turns NaN.
float triangle_area(const float* vertices, const int32_t* faces, int32_t i, int32_t numFaces,
                    int32_t numVerts) {
  const int32_t p0 = corner(faces, i, 0, numFaces, numVerts);
  const int32_t p1 = corner(faces, i, 1, numFaces, numVerts);
  const int32_t p2 = corner(faces, i, 2, numFaces, numVerts);
  const float* x = vertices;
  const float* y = vertices + index_2D_array(0, 1, numVerts);
  const float* z = vertices + index_2D_array(0, 2, numVerts);

  const float ux = x[p1] - x[p0], uy = y[p1] - y[p0], uz = z[p1] - z[p0];
  const float wx = x[p2] - x[p0], wy = y[p2] - y[p0], wz = z[p2] - z[p0];
  const float dot = (ux * wx + uy * wy) + uz * wz;
  const float uu = (ux * ux + uy * uy) + uz * uz;
  const float ww = (wx * wx + wy * wy) + wz * wz;
  float d = uu * ww - dot * dot;
  if (d < 0.0f) d = 0.0f;
  return static_cast<float>(0.5 * std::sqrt(static_cast<double>(d)));
}

// The total in face order, whichever thread makes which areas: a block's areas are added only
// once every face before the block is in the total, by the thread that made them.
class OrderedTotal {
 public:
  // Waits until the faces before `first` are in the total; false when a block before it has
  // thrown, so that it never will be.
  bool wait_for(int32_t first) const {
    while (added_.load(std::memory_order_acquire) != first) {
      if (abandoned_.load(std::memory_order_relaxed)) return false;
      std::this_thread::yield();
    }
    return true;
  }
  // Adds the areas of faces first .. first + count - 1 in order; wait_for(first) returned true.
  void add(const float* areas, int32_t first, int32_t count) {
    float sum = total_;
    for (int32_t k = 0; k < count; ++k) sum = sum + areas[k];
    total_ = sum;
    added_.store(first + count, std::memory_order_release);
  }
  void abandon() { abandoned_.store(true, std::memory_order_relaxed); }
  float total() const { return total_; }

 private:
  std::atomic<int32_t> added_{0};
  std::atomic<bool> abandoned_{false};
  float total_ = 0.0f;
};

}  // namespace

float TULM_calculateSurfaceArea(const float* vertices, int32_t numVerts, const int32_t* faces,
                                int32_t numFaces) {
  OrderedTotal total;
  parallel_for(numFaces, kFaceGrain, kAreasPerBlock, [&](int32_t begin, int32_t end) {
    float areas[kAreasPerBlock];
    for (int32_t first = begin; first < end; first += kAreasPerBlock) {
      const int32_t count = std::min(end - first, kAreasPerBlock);
      try {
        for (int32_t k = 0; k < count; ++k) {
          areas[k] = triangle_area(vertices, faces, first + k, numFaces, numVerts);
        }
      } catch (...) {
        total.abandon();
        throw;
      }
      if (!total.wait_for(first)) return;
      total.add(areas, first, count);
    }
  });
  return total.total();
}

}  // namespace tulm
