// The neighbour distances four slots at a time in SSE2's lanes and sixteen in AVX-512's: each
// lane performs slot_distance's operations (TULM_computeVertexDistSq2Nbors.cpp) in their order,
// so every width gives the same bits, and an empty slot gets the 0 it holds. Each form takes the
// K slots of every vertex begin .. end - 1 in memory order, across the columns, and leaves to
// neighbour_distances_one_at_a_time the slots its lanes cannot take: those after the last full
// group, and a group with an entry outside 0..V (0..V-1 where the lanes read 16 bytes of a
// point, of which V's has only 12), so that a bad entry ends the call with the scalar code's
// message, at the first one in memory order.
#ifndef TULM_CORE_MEASURES_TULM_COMPUTEVERTEXDISTSQ2NBORS_LANES_H
#define TULM_CORE_MEASURES_TULM_COMPUTEVERTEXDISTSQ2NBORS_LANES_H

#include <cstdint>

#include "core/portability.h"

namespace tulm {

// The slots from row k of column v on, up to row endRow of column endColumn (not included), in
// memory order, one at a time: the scalar code (TULM_computeVertexDistSq2Nbors.cpp).
void neighbour_distances_one_at_a_time(int32_t k, int32_t v, int32_t endRow, int32_t endColumn,
                                       int32_t K, int32_t numVerts, const int32_t* vertexNbors,
                                       const float* vertices, float* distSq);

#if defined(TULM_HAVE_SSE2)
void neighbour_distances_in_four_lanes(int32_t begin, int32_t end, int32_t K, int32_t numVerts,
                                       const int32_t* vertexNbors, const float* vertices,
                                       float* distSq);
#endif

#if defined(TULM_HAVE_AVX512_TARGET)
// For a processor with AVX-512, and K below 2^22: a slot's column comes from a quotient of
// floats, exact below that.
TULM_TARGET_AVX512 void neighbour_distances_in_sixteen_lanes(int32_t begin, int32_t end, int32_t K,
                                                             int32_t numVerts,
                                                             const int32_t* vertexNbors,
                                                             const float* vertices, float* distSq);

// neighbour_distances_in_sixteen_lanes with the neighbours' points gathered, for K >= 2.
TULM_TARGET_AVX512 void neighbour_distances_in_gathered_lanes(int32_t begin, int32_t end, int32_t K,
                                                              int32_t numVerts,
                                                              const int32_t* vertexNbors,
                                                              const float* vertices, float* distSq);
#endif

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_TULM_COMPUTEVERTEXDISTSQ2NBORS_LANES_H
