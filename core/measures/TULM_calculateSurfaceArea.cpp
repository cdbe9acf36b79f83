#include "core/measures/TULM_calculateSurfaceArea.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "core/interrupt.h"
#include "core/lane_choice.h"
#include "core/measures/TULM_calculateSurfaceArea_lanes.h"
#include "core/mesh_arrays.h"
#include "core/parallel.h"

namespace tulm {
namespace {

// Faces whose areas take about as long as starting a thread.
constexpr int32_t kFaceGrain = 32768;
// Faces whose areas a helper hands over at once: a slot of 4 KiB.
constexpr int32_t kAreasPerBlock = 1024;
// Faces between two polls for Ctrl-C: a millisecond or less. A multiple of kAreasPerBlock.
constexpr int32_t kFacesPerPoll = 1 << 18;

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

// The areas of faces first .. first + count - 1, and the total they make added in face order
// to `total`; areas goes unwritten when null. Ends the call at the first bad corner.
float add_areas(const float* vertices, int32_t numVerts, const int32_t* faces, int32_t numFaces,
                int32_t first, int32_t count, float total, float* areas) {
  const int32_t end = first + count;
  int32_t i = first;
#if defined(TULM_HAVE_SSE2)
  // Only where there are four faces to take and vertices to point into: a mesh without
  // faces may come with any vertex matrix, even 3 x 0 (no data), and on a mesh without
  // vertices every face is bad, which the scalar code below says.
  const int32_t width = chosen_lanes().width;
  if (width >= 4 && count >= 4 && numVerts > 0) {
    const float* x = vertices;
    const float* y = vertices + index_2D_array(0, 1, numVerts);
    const float* z = vertices + index_2D_array(0, 2, numVerts);
    const int32_t* f0 = faces;
    const int32_t* f1 = faces + index_2D_array(0, 1, numFaces);
    const int32_t* f2 = faces + index_2D_array(0, 2, numFaces);
#if defined(TULM_HAVE_AVX2_TARGET)
    if (width >= 8) {
      i = surface_areas_in_eight_lanes(x, y, z, f0, f1, f2, numVerts, first, i, end, &total, areas);
    }
#endif
    i = surface_areas_in_four_lanes(x, y, z, f0, f1, f2, numVerts, first, i, end, &total, areas);
  }
#endif
  for (; i < end; ++i) {
    const float area = triangle_area(vertices, faces, i, numFaces, numVerts);
    total = total + area;
    if (areas != nullptr) areas[i - first] = area;
  }
  return total;
}

// The state of one slot of areas that helpers fill for the calling thread, in block b's turn:
// free for b, being written with b's areas, holding them.
int64_t free_for(int64_t b) { return 3 * b; }
int64_t writing(int64_t b) { return 3 * b + 1; }
int64_t holding(int64_t b) { return 3 * b + 2; }
bool is_writing(int64_t state) { return state % 3 == 1; }

}  // namespace

float TULM_calculateSurfaceArea(const float* vertices, int32_t numVerts, const int32_t* faces,
                                int32_t numFaces) {
  const int threads = threads_for(numFaces, kFaceGrain);
  if (threads <= 1) {
    float total = 0.0f;
    in_polled_blocks(0, numFaces, kFacesPerPoll, [&](int32_t begin, int32_t end) {
      total = add_areas(vertices, numVerts, faces, numFaces, begin, end - begin, total, nullptr);
    });
    return total;
  }

  // Block b's areas go to slot b % slotCount. Helpers fill slots ahead of the calling thread,
  // which adds every block to the total in face order: from its slot when a helper has filled
  // it, else making the areas itself, never waiting. While a helper is writing block b, the
  // calling thread fills the slot of the next block nobody has taken, as a helper would, and
  // makes block b itself only when there is none. It then gives the slot to block
  // b + slotCount, unless a helper is still writing there (for b, or for a block it has
  // passed): that slot goes on once the helper is done.
  const int32_t blocks = numFaces / kAreasPerBlock + (numFaces % kAreasPerBlock != 0);
  const int32_t slotCount = 2 * threads + 2;
  std::vector<float> slots(size_t(slotCount) * kAreasPerBlock);
  std::vector<std::atomic<int64_t>> state(slotCount);
  for (int32_t s = 0; s < slotCount; ++s) state[s].store(free_for(s));
  std::atomic<int32_t> nextBlock{0};  // the next block a helper takes
  std::atomic<int32_t> passed{0};     // the blocks in the total
  const auto first_face = [](int32_t b) { return b * kAreasPerBlock; };
  const auto block_size = [&](int32_t b) {
    return std::min(kAreasPerBlock, numFaces - first_face(b));
  };
  const auto slot_areas = [&](int32_t b) {
    return slots.data() + size_t(b % slotCount) * kAreasPerBlock;
  };

  // The calling thread, at block b, fills the slot of the next block nobody has taken; false
  // when there is no such block with a free slot.
  const auto fill_ahead = [&](int32_t b) {
    int32_t c = nextBlock.load(std::memory_order_relaxed);
    if (c >= blocks || c >= b + slotCount) return false;
    if (!nextBlock.compare_exchange_strong(c, c + 1, std::memory_order_relaxed))
      return true;  // a helper took it: look at block b again
    std::atomic<int64_t>& slot = state[c % slotCount];
    int64_t seen = free_for(c);
    if (!slot.compare_exchange_strong(seen, writing(c), std::memory_order_acq_rel)) return false;
    try {
      add_areas(vertices, numVerts, faces, numFaces, first_face(c), block_size(c), 0.0f,
                slot_areas(c));
    } catch (...) {
      // Block c goes back to the calling thread, which meets the bad corner in face order.
      slot.store(free_for(c), std::memory_order_release);
      return false;
    }
    slot.store(holding(c), std::memory_order_release);
    return true;
  };

  float total = 0.0f;
  const auto lead = [&] {
    for (int32_t b = 0; b < blocks; passed.store(++b, std::memory_order_release)) {
      if (b % (kFacesPerPoll / kAreasPerBlock) == 0) poll_interrupt();
      std::atomic<int64_t>& slot = state[b % slotCount];
      int64_t seen = slot.load(std::memory_order_acquire);
      for (;;) {
        if (seen == holding(b)) {
          const float* areas = slot_areas(b);
          for (int32_t k = 0; k < block_size(b); ++k) total = total + areas[k];
          slot.store(free_for(b + slotCount), std::memory_order_release);
          break;
        }
        if (seen == writing(b) && fill_ahead(b)) {
          seen = slot.load(std::memory_order_acquire);
          continue;
        }
        if (is_writing(seen) ||
            slot.compare_exchange_weak(seen, free_for(b + slotCount), std::memory_order_acq_rel)) {
          total = add_areas(vertices, numVerts, faces, numFaces, first_face(b), block_size(b),
                            total, nullptr);
          break;
        }
      }
    }
  };
  const auto help = [&](const std::atomic<bool>& leadEnded) {
    for (;;) {
      const int32_t b = nextBlock.fetch_add(1, std::memory_order_relaxed);
      if (b >= blocks) return;
      std::atomic<int64_t>& slot = state[b % slotCount];
      int64_t seen = slot.load(std::memory_order_acquire);
      while (seen < free_for(b) && passed.load(std::memory_order_relaxed) <= b &&
             !leadEnded.load(std::memory_order_relaxed)) {
        std::this_thread::yield();
        seen = slot.load(std::memory_order_acquire);
      }
      if (seen != free_for(b) ||
          !slot.compare_exchange_strong(seen, writing(b), std::memory_order_acq_rel)) {
        continue;  // the calling thread has passed block b
      }
      try {
        add_areas(vertices, numVerts, faces, numFaces, first_face(b), block_size(b), 0.0f,
                  slot_areas(b));
      } catch (...) {
        return;  // the calling thread meets the bad corner itself, in face order
      }
      slot.store(holding(b), std::memory_order_release);
    }
  };
  run_beside(threads, lead, help);
  return total;
}

}  // namespace tulm
