// The smoothing with Gaussian weights eight vertices at a time in AVX2's lanes and sixteen in
// AVX-512's, vertex first + l in lane l: each lane performs smooth_vertex's operations
// (TULM_gaussianSmoothVertexData.cpp) in their order, its weights through rounded_exp_lanes.h,
// so every width gives the same bits. Each form takes vertices begin .. end - 1 and leaves to
// gaussian_smooth_one_at_a_time the vertices its lanes cannot take: those after the last full
// group, and a group that lists a bad entry or one of the last vertices, whose point or data
// has too few floats after it for the lanes' 16-byte reads, so that a bad entry ends the call
// with the scalar code's message, at the first one in vertex order.
#ifndef TULM_CORE_MEASURES_TULM_GAUSSIANSMOOTHVERTEXDATA_LANES_H
#define TULM_CORE_MEASURES_TULM_GAUSSIANSMOOTHVERTEXDATA_LANES_H

#include <cstdint>

#include "core/portability.h"

namespace tulm {

// Vertices begin .. end - 1 smoothed one at a time: the scalar code
// (TULM_gaussianSmoothVertexData.cpp). acc holds D floats.
void gaussian_smooth_one_at_a_time(int32_t begin, int32_t end, const float* vertices,
                                   int32_t numVerts, const int32_t* vertexNbors, int32_t K,
                                   const float* data, int32_t D, bool gaussian, float c, float* acc,
                                   float* smoothed);

#if defined(TULM_HAVE_AVX2_TARGET)
// For a processor with AVX2.
void gaussian_smooth_in_eight_lanes(const float* vertices, int32_t numVerts,
                                    const int32_t* vertexNbors, int32_t K, const float* data,
                                    int32_t D, float c, int32_t begin, int32_t end,
                                    float* smoothed);
#endif

#if defined(TULM_HAVE_AVX512_TARGET)
// The most slots per column the sixteen lanes take: they find slot j of lane l at j + K l, an
// int32.
constexpr int32_t kMostSlotsInSixteenSmoothingLanes = INT32_MAX / 16;

// For a processor with AVX-512, and K up to kMostSlotsInSixteenSmoothingLanes.
void gaussian_smooth_in_sixteen_lanes(const float* vertices, int32_t numVerts,
                                      const int32_t* vertexNbors, int32_t K, const float* data,
                                      int32_t D, float c, int32_t begin, int32_t end,
                                      float* smoothed);
#endif

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_TULM_GAUSSIANSMOOTHVERTEXDATA_LANES_H
