// The face areas four faces at a time in SSE2's lanes, eight in AVX2's, sixteen in AVX-512's:
// each lane performs face_area's operations (TULM_computeMeshFaceAreas.cpp) in their order, so
// every width gives the same bits. Each form takes faces begin .. end - 1 and leaves to
// mesh_face_areas_one_at_a_time the faces its lanes cannot take: those after the last full
// group, and a group with a corner outside 1..V-1 (V's point has no float after it for the
// lanes' 16-byte reads), so that a bad corner ends the call with the scalar code's message, at
// the first one in face order.
#ifndef TULM_CORE_MEASURES_TULM_COMPUTEMESHFACEAREAS_LANES_H
#define TULM_CORE_MEASURES_TULM_COMPUTEMESHFACEAREAS_LANES_H

#include <cstdint>

#include "core/portability.h"

namespace tulm {

// The areas of faces begin .. end - 1 one at a time: the scalar code
// (TULM_computeMeshFaceAreas.cpp).
void mesh_face_areas_one_at_a_time(int32_t begin, int32_t end, const int32_t* faces,
                                   const float* vertices, int32_t numVerts, float* areas);

#if defined(TULM_HAVE_SSE2)
void mesh_face_areas_in_four_lanes(int32_t begin, int32_t end, const int32_t* faces,
                                   const float* vertices, int32_t numVerts, float* areas);
#endif

#if defined(TULM_HAVE_AVX2_TARGET)
// For a processor with AVX2.
TULM_TARGET_AVX2 void mesh_face_areas_in_eight_lanes(int32_t begin, int32_t end,
                                                     const int32_t* faces, const float* vertices,
                                                     int32_t numVerts, float* areas);
#endif

#if defined(TULM_HAVE_AVX512_TARGET)
// For a processor with AVX-512.
TULM_TARGET_AVX512 void mesh_face_areas_in_sixteen_lanes(int32_t begin, int32_t end,
                                                         const int32_t* faces,
                                                         const float* vertices, int32_t numVerts,
                                                         float* areas);
#endif

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_TULM_COMPUTEMESHFACEAREAS_LANES_H
