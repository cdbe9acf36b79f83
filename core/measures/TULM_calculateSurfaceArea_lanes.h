// The total area's faces four at a time in SSE2's lanes and eight in AVX2's: each lane performs
// triangle_area's operations in its order (TULM_calculateSurfaceArea.cpp), clamp included, so
// every width gives its bits. x, y and z are the columns of the V x 3 vertices, f0, f1 and f2
// those of the faces. Each form takes faces i, i + 1, ... while a whole group of them has its
// corners in 1..V, adds their areas to *total in face order, writes them to
// areas + (face - first) unless areas is null, and returns the first face it did not take: the
// scalar code takes the rest, and so ends the call at the first bad corner.
#ifndef TULM_CORE_MEASURES_TULM_CALCULATESURFACEAREA_LANES_H
#define TULM_CORE_MEASURES_TULM_CALCULATESURFACEAREA_LANES_H

#include <cstdint>

#include "core/portability.h"

namespace tulm {

#if defined(TULM_HAVE_SSE2)
int32_t surface_areas_in_four_lanes(const float* x, const float* y, const float* z,
                                    const int32_t* f0, const int32_t* f1, const int32_t* f2,
                                    int32_t numVerts, int32_t first, int32_t i, int32_t end,
                                    float* total, float* areas);
#endif

#if defined(TULM_HAVE_AVX2_TARGET)
// For a processor with AVX2.
TULM_TARGET_AVX2 int32_t surface_areas_in_eight_lanes(const float* x, const float* y,
                                                      const float* z, const int32_t* f0,
                                                      const int32_t* f1, const int32_t* f2,
                                                      int32_t numVerts, int32_t first, int32_t i,
                                                      int32_t end, float* total, float* areas);
#endif

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_TULM_CALCULATESURFACEAREA_LANES_H
