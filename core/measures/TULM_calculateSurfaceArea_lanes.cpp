#include "core/measures/TULM_calculateSurfaceArea_lanes.h"

#include <cstdint>

#include "core/point_lanes.h"
#include "core/portability.h"

namespace tulm {

#if defined(TULM_HAVE_SSE2)
int32_t surface_areas_in_four_lanes(const float* x, const float* y, const float* z,
                                    const int32_t* f0, const int32_t* f1, const int32_t* f2,
                                    int32_t numVerts, int32_t first, int32_t i, int32_t end,
                                    float* total, float* areas) {
  float sum = *total;
  for (; i + 4 <= end; i += 4) {
    const auto outside = [i, numVerts](const int32_t* f) {
      return lanes::outside(_mm_loadu_si128(reinterpret_cast<const __m128i*>(f + i)), 1, numVerts);
    };
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(outside(f0), outside(f1)), outside(f2))))
      break;  // the scalar code ends the call at the bad corner
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
    sum = sum + four[0];
    sum = sum + four[1];
    sum = sum + four[2];
    sum = sum + four[3];
  }
  *total = sum;
  return i;
}
#endif

#if defined(TULM_HAVE_AVX2_TARGET)
TULM_TARGET_AVX2 int32_t surface_areas_in_eight_lanes(const float* x, const float* y,
                                                      const float* z, const int32_t* f0,
                                                      const int32_t* f1, const int32_t* f2,
                                                      int32_t numVerts, int32_t first, int32_t i,
                                                      int32_t end, float* total, float* areas) {
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
    // The four lanes' clamp and root, eight at a time.
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

}  // namespace tulm
