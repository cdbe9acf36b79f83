#include "core/measures/TULM_calculateSurfaceArea.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "core/lane_choice.h"
#include "core/mesh_arrays.h"
#include "core/parallel.h"
#include "core/point_lanes.h"

namespace tulm {
namespace {

// Faces whose areas take about as long as starting a thread.
constexpr int32_t kFaceGrain = 32768;
// Faces whose areas a helper hands over at once: a slot of 4 KiB.
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

#if defined(TULM_HAVE_AVX2_TARGET)
// add_areas' lanes eight faces at a time, from face i on while the corners of eight are all in
// 1..V; returns the first face not taken. x, y, z are the vertices' columns, f0, f1, f2 the
// faces'.
TULM_TARGET_AVX2 int32_t add_areas_in_wide_lanes(const float* x, const float* y, const float* z,
                                                 const int32_t* f0, const int32_t* f1,
                                                 const int32_t* f2, int32_t numVerts, int32_t first,
                                                 int32_t i, int32_t end, float* total,
                                                 float* areas) {
  for (; i + 8 <= end; i += 8) {
    const int32_t *a = f0 + i, *b = f1 + i, *c = f2 + i;
    const __m256i bad = _mm256_or_si256(
        _mm256_or_si256(
            lanes::outside(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)), 1, numVerts),
            lanes::outside(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)), 1, numVerts)),
        lanes::outside(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c)), 1, numVerts));
    if (_mm256_movemask_epi8(bad) != 0) break;  // the narrower code meets the bad corner
#define TULM_GATHER(v, f)                                                                      \
  _mm256_setr_ps(v[f[0] - 1], v[f[1] - 1], v[f[2] - 1], v[f[3] - 1], v[f[4] - 1], v[f[5] - 1], \
                 v[f[6] - 1], v[f[7] - 1])
    const __m256 x0 = TULM_GATHER(x, a), y0 = TULM_GATHER(y, a), z0 = TULM_GATHER(z, a);
    const __m256 ux = _mm256_sub_ps(TULM_GATHER(x, b), x0),
                 uy = _mm256_sub_ps(TULM_GATHER(y, b), y0),
                 uz = _mm256_sub_ps(TULM_GATHER(z, b), z0);
    const __m256 wx = _mm256_sub_ps(TULM_GATHER(x, c), x0),
                 wy = _mm256_sub_ps(TULM_GATHER(y, c), y0),
                 wz = _mm256_sub_ps(TULM_GATHER(z, c), z0);
#undef TULM_GATHER
    const __m256 dot = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(ux, wx), _mm256_mul_ps(uy, wy)),
                                     _mm256_mul_ps(uz, wz));
    const __m256 uu = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(ux, ux), _mm256_mul_ps(uy, uy)),
                                    _mm256_mul_ps(uz, uz));
    const __m256 ww = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(wx, wx), _mm256_mul_ps(wy, wy)),
                                    _mm256_mul_ps(wz, wz));
    // The four lanes' clamp and root (add_areas), eight at a time.
    const __m256 d = _mm256_max_ps(_mm256_setzero_ps(),
                                   _mm256_sub_ps(_mm256_mul_ps(uu, ww), _mm256_mul_ps(dot, dot)));
    const __m256 area = _mm256_mul_ps(_mm256_set1_ps(0.5f), _mm256_sqrt_ps(d));
    if (areas != nullptr) _mm256_storeu_ps(areas + (i - first), area);
    float eight[8];
    _mm256_storeu_ps(eight, area);
    float sum = *total;
    for (int k = 0; k < 8; ++k) sum = sum + eight[k];
    *total = sum;
  }
  return i;
}
#endif

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
    if (width >= 8)
      i = add_areas_in_wide_lanes(x, y, z, f0, f1, f2, numVerts, first, i, end, &total, areas);
#endif
    for (; i + 4 <= end; i += 4) {
      const auto outside = [i, numVerts](const int32_t* f) {
        return lanes::outside(_mm_loadu_si128(reinterpret_cast<const __m128i*>(f + i)), 1,
                              numVerts);
      };
      if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(outside(f0), outside(f1)), outside(f2))))
        break;  // the scalar code below ends the call at the bad corner
      const auto gather = [i](const float* c, const int32_t* f) {
        return _mm_setr_ps(c[f[i] - 1], c[f[i + 1] - 1], c[f[i + 2] - 1], c[f[i + 3] - 1]);
      };
      const __m128 x0 = gather(x, f0), y0 = gather(y, f0), z0 = gather(z, f0);
      const __m128 ux = _mm_sub_ps(gather(x, f1), x0), uy = _mm_sub_ps(gather(y, f1), y0),
                   uz = _mm_sub_ps(gather(z, f1), z0);
      const __m128 wx = _mm_sub_ps(gather(x, f2), x0), wy = _mm_sub_ps(gather(y, f2), y0),
                   wz = _mm_sub_ps(gather(z, f2), z0);
      const __m128 dot =
          _mm_add_ps(_mm_add_ps(_mm_mul_ps(ux, wx), _mm_mul_ps(uy, wy)), _mm_mul_ps(uz, wz));
      const __m128 uu =
          _mm_add_ps(_mm_add_ps(_mm_mul_ps(ux, ux), _mm_mul_ps(uy, uy)), _mm_mul_ps(uz, uz));
      const __m128 ww =
          _mm_add_ps(_mm_add_ps(_mm_mul_ps(wx, wx), _mm_mul_ps(wy, wy)), _mm_mul_ps(wz, wz));
      // max(0, d) is d for d >= 0, -0 and NaN, and 0 below: the scalar code's clamp.
      const __m128 d =
          _mm_max_ps(_mm_setzero_ps(), _mm_sub_ps(_mm_mul_ps(uu, ww), _mm_mul_ps(dot, dot)));
      const __m128 area = lanes::half_root(d);
      if (areas != nullptr) _mm_storeu_ps(areas + (i - first), area);
      float four[4];
      _mm_storeu_ps(four, area);
      total = total + four[0];
      total = total + four[1];
      total = total + four[2];
      total = total + four[3];
    }
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
  if (threads <= 1)
    return add_areas(vertices, numVerts, faces, numFaces, 0, numFaces, 0.0f, nullptr);

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
