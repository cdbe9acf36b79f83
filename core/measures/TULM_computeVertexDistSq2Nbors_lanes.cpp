#include "core/measures/TULM_computeVertexDistSq2Nbors_lanes.h"

#include <cassert>
#include <cstdint>

#include "core/mesh_arrays.h"
#include "core/point_lanes.h"
#include "core/portability.h"

namespace tulm {

#if defined(TULM_HAVE_SSE2)
// The slots of vertices begin .. end - 1 in memory order, four at a time across the columns
// while their entries are all in 0..V; an empty slot gets the 0 it holds. From the first four
// with a bad entry on, the scalar code takes over and ends the call there.
void neighbour_distances_in_four_lanes(int32_t begin, int32_t end, int32_t K, int32_t numVerts,
                                       const int32_t* vertexNbors, const float* vertices,
                                       float* distSq) {
  // A point is one load with the float after it, except the last one, which has none after it.
  const float* const lastPoint = vertices + 3 * (numVerts - 1);
  const auto point = [lastPoint](const float* p) {
    return p == lastPoint ? lanes::load_point(p) : lanes::load_point_and_next(p);
  };
  const int32_t last = index_2D_array(0, end, K);
  int32_t j = index_2D_array(0, begin, K);
  int32_t k = 0, v = begin;  // slot j's place
  __m128 own = point(vertices + 3 * v);
  for (; j + 4 <= last; j += 4) {
    const __m128i entries = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertexNbors + j));
    if (lanes::any_outside(entries, 0, numVerts)) break;
    __m128 squares[4];
    for (int lane = 0; lane < 4; ++lane) {
      const int32_t n = vertexNbors[j + lane];
      const float* m = vertices + 3 * (n > 0 ? n - 1 : v);  // an empty slot's lane is dropped
      const __m128 d = _mm_sub_ps(own, point(m));
      squares[lane] = _mm_mul_ps(d, d);
      if (++k == K) {
        k = 0;
        if (++v < end) own = point(vertices + 3 * v);
      }
    }
    const __m128 sums = lanes::sum_xyz(squares[0], squares[1], squares[2], squares[3]);
    const __m128 listed = _mm_castsi128_ps(_mm_cmpgt_epi32(entries, _mm_setzero_si128()));
    _mm_storeu_ps(distSq + j, _mm_and_ps(sums, listed));
  }
  neighbour_distances_one_at_a_time(k, v, 0, end, K, numVerts, vertexNbors, vertices, distSq);
}
#endif

#if defined(TULM_HAVE_AVX512_TARGET)
namespace {

// Row k of column v moved sixteen slots on.
inline void next_sixteen_slots(int32_t K, int32_t& k, int32_t& v) {
  k += 16 % K;
  v += 16 / K;
  if (k >= K) {
    k -= K;
    ++v;
  }
}

// The sixteen slots from row k of column v on, one at a time: the scalar code ends the call at
// the first bad entry among them.
void sixteen_slot_distances(int32_t k, int32_t v, int32_t K, int32_t numVerts,
                            const int32_t* vertexNbors, const float* vertices, float* distSq) {
  int32_t endRow = k, endColumn = v;
  next_sixteen_slots(K, endRow, endColumn);
  neighbour_distances_one_at_a_time(k, v, endRow, endColumn, K, numVerts, vertexNbors, vertices,
                                    distSq);
}

// What the sixteen lanes leave of vertices .. end - 1 from row k of column v on: the rest of
// column v, then the columns after it in four lanes.
void rest_in_lanes(int32_t k, int32_t v, int32_t end, int32_t K, int32_t numVerts,
                   const int32_t* vertexNbors, const float* vertices, float* distSq) {
  if (k > 0) {
    neighbour_distances_one_at_a_time(k, v, 0, v + 1, K, numVerts, vertexNbors, vertices, distSq);
    ++v;
  }
  if (v < end)
    neighbour_distances_in_four_lanes(v, end, K, numVerts, vertexNbors, vertices, distSq);
}

// The squared lengths of the sixteen differences into the slots from distSq on, 0 where no
// neighbour is listed.
TULM_TARGET_AVX512 inline void store_sixteen_distances(__m512 dx, __m512 dy, __m512 dz,
                                                       __mmask16 listed, float* distSq) {
  const __m512 sums = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(dx, dx), _mm512_mul_ps(dy, dy)),
                                    _mm512_mul_ps(dz, dz));
  _mm512_storeu_ps(distSq, _mm512_maskz_mov_ps(listed, sums));
}

// The x, y or z (component 0, 1, 2) of the sixteen points whose 48 floats are a, b, c, lane k from
// point k.
TULM_TARGET_AVX512 inline __m512 component16(__m512 a, __m512 b, __m512 c, int component) {
  alignas(64) int32_t fromAB[16], fromTC[16];
  for (int k = 0; k < 16; ++k) {
    const int32_t at = 3 * k + component;  // in a, b, c taken as one array
    fromAB[k] = at < 32 ? at : 0;
    fromTC[k] = at < 32 ? k : 16 + at - 32;
  }
  const __m512 t = _mm512_permutex2var_ps(a, _mm512_load_si512(fromAB), b);
  return _mm512_permutex2var_ps(t, _mm512_load_si512(fromTC), c);
}

}  // namespace

// neighbour_distances_in_four_lanes sixteen slots at a time, while the vertices owning them and the
// 16-byte reads of their points stay inside the vertices; sixteen slots with an entry outside
// 0..V-1 (V's read would pass the end) go through the scalar code, which ends the call at a bad
// one. Slot l of sixteen is neighbour k + l of vertex v, in column v + (k + l) / K: lane l takes
// that vertex's point from the sixteen from v on, the neighbour's from the offsets made sixteen at
// a time.
TULM_TARGET_AVX512 void neighbour_distances_in_sixteen_lanes(int32_t begin, int32_t end, int32_t K,
                                                             int32_t numVerts,
                                                             const int32_t* vertexNbors,
                                                             const float* vertices, float* distSq) {
  const int32_t last = index_2D_array(0, end, K);
  int32_t j = index_2D_array(0, begin, K);
  int32_t k = 0, v = begin;  // slot j's place
  const __m512i laneIndex = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m512 rows = _mm512_set1_ps(static_cast<float>(K));
  alignas(64) int32_t offsets[16];  // 3 * (neighbour - 1), or 3 * v in an empty slot
  for (; j + 16 <= last && v + 16 <= numVerts; j += 16) {
    const __m512i entries = _mm512_loadu_si512(vertexNbors + j);
    if (lanes::outside16(entries, 0, numVerts - 1) != 0) {
      sixteen_slot_distances(k, v, K, numVerts, vertexNbors, vertices, distSq);
    } else {
      const __mmask16 listed = _mm512_cmpgt_epi32_mask(entries, _mm512_setzero_si512());
      const __m512i offset = _mm512_mask_sub_epi32(
          _mm512_set1_epi32(3 * v), listed,
          _mm512_add_epi32(_mm512_add_epi32(entries, entries), entries), _mm512_set1_epi32(3));
      _mm512_store_si512(offsets, offset);
      __m512 quarters[4];  // slots l, l + 4, l + 8, l + 12
      for (int l = 0; l < 4; ++l) {
        const int32_t* o = offsets + l;
        quarters[l] =
            lanes::four_points(vertices + o[0], vertices + o[4], vertices + o[8], vertices + o[12]);
      }
      const lanes::Points16 m =
          lanes::transposed16(quarters[0], quarters[1], quarters[2], quarters[3]);
      // (k + l) / K exactly, for k + l + K below 2^24: a correctly rounded quotient of such
      // integers never reaches the next integer up.
      const __m512i column = _mm512_cvttps_epi32(_mm512_div_ps(
          _mm512_cvtepi32_ps(_mm512_add_epi32(_mm512_set1_epi32(k), laneIndex)), rows));
      const float* own = vertices + 3 * v;
      const __m512 a = _mm512_loadu_ps(own), b = _mm512_loadu_ps(own + 16),
                   c = _mm512_loadu_ps(own + 32);
      const __m512 dx = _mm512_sub_ps(_mm512_permutexvar_ps(column, component16(a, b, c, 0)), m.x);
      const __m512 dy = _mm512_sub_ps(_mm512_permutexvar_ps(column, component16(a, b, c, 1)), m.y);
      const __m512 dz = _mm512_sub_ps(_mm512_permutexvar_ps(column, component16(a, b, c, 2)), m.z);
      store_sixteen_distances(dx, dy, dz, listed, distSq + j);
    }
    next_sixteen_slots(K, k, v);
  }
  rest_in_lanes(k, v, end, K, numVerts, vertexNbors, vertices, distSq);
}

// neighbour_distances_in_sixteen_lanes with the neighbours' points gathered (lanes::gathered16),
// which reads nothing after a point, so an entry V goes in lanes too. Lane l's own point is one of
// the 32 floats from vertex v's on, 3 * ((k + l) / K) after them, within 3 * 8 + 2 for K >= 2:
// the offsets of row k are looked up for K below 16 and made with one comparison from 16 on,
// where no slot lies past column v + 1.
TULM_TARGET_AVX512 void neighbour_distances_in_gathered_lanes(int32_t begin, int32_t end, int32_t K,
                                                              int32_t numVerts,
                                                              const int32_t* vertexNbors,
                                                              const float* vertices,
                                                              float* distSq) {
  assert(K >= 2 && "the own points of sixteen slots lie within 32 floats");
  alignas(64) int32_t ownOffsets[16][16];  // [k][l] for K below 16
  for (int32_t k = 0; k < K && k < 16; ++k) {
    for (int32_t l = 0, column = 0, row = k; l < 16; ++l) {
      ownOffsets[k][l] = 3 * column;
      if (++row == K) {
        row = 0;
        ++column;
      }
    }
  }
  const int32_t last = index_2D_array(0, end, K);
  int32_t j = index_2D_array(0, begin, K);
  int32_t k = 0, v = begin;  // slot j's place
  const __m512i laneIndex = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m512i three = _mm512_set1_epi32(3), one = _mm512_set1_epi32(1);
  // v + 11 <= V: the 32 floats from vertex v's point on lie inside the vertices.
  for (; j + 16 <= last && v + 11 <= numVerts; j += 16) {
    const __m512i entries = _mm512_loadu_si512(vertexNbors + j);
    if (lanes::outside16(entries, 0, numVerts) != 0) {
      sixteen_slot_distances(k, v, K, numVerts, vertexNbors, vertices, distSq);
    } else {
      const __mmask16 listed = _mm512_cmpgt_epi32_mask(entries, _mm512_setzero_si512());
      const __m512i offset = _mm512_mask_sub_epi32(
          _mm512_set1_epi32(3 * v), listed,
          _mm512_add_epi32(_mm512_add_epi32(entries, entries), entries), three);
      const lanes::Points16 m = lanes::gathered16(vertices, offset);
      const __m512i ownX =
          K < 16 ? _mm512_load_si512(ownOffsets[k])
                 : _mm512_maskz_mov_epi32(
                       _mm512_cmpge_epi32_mask(laneIndex, _mm512_set1_epi32(K - k)), three);
      const __m512i ownY = _mm512_add_epi32(ownX, one), ownZ = _mm512_add_epi32(ownY, one);
      const float* own = vertices + 3 * v;
      const __m512 a = _mm512_loadu_ps(own), b = _mm512_loadu_ps(own + 16);
      const __m512 dx = _mm512_sub_ps(_mm512_permutex2var_ps(a, ownX, b), m.x);
      const __m512 dy = _mm512_sub_ps(_mm512_permutex2var_ps(a, ownY, b), m.y);
      const __m512 dz = _mm512_sub_ps(_mm512_permutex2var_ps(a, ownZ, b), m.z);
      store_sixteen_distances(dx, dy, dz, listed, distSq + j);
    }
    next_sixteen_slots(K, k, v);
  }
  rest_in_lanes(k, v, end, K, numVerts, vertexNbors, vertices, distSq);
}
#endif

}  // namespace tulm
