#include "core/measures/TULM_gaussianSmoothVertexData_lanes.h"

#include <cstdint>
#include <vector>

#include "core/measures/rounded_exp_lanes.h"
#include "core/mesh_arrays.h"
#include "core/point_lanes.h"
#include "core/portability.h"

#if defined(TULM_HAVE_AVX2_TARGET)
#include <immintrin.h>
#endif

namespace tulm {

#if defined(TULM_HAVE_AVX2_TARGET)
namespace {

// Vertices go eight at a time, vertex first + l in lane l: slot j of the eight columns is one
// step of every lane's sums, which then add their terms in list order as the scalar code does.
constexpr int32_t kLanes = 8;

// Whether vertices first .. first + 7 can go in lanes: none of them is the last vertex and no
// entry of their columns is above V - 1, that is, no bad entry (which the scalar code must
// meet in its order) and no neighbour that is the last vertex (whose point and, for three
// rows, data have no float after them for the lanes' 16-byte reads).
TULM_TARGET_AVX2 bool eight_vertices_fit(const int32_t* columns, int32_t K, int32_t first,
                                         int32_t numVerts) {
  if (first + kLanes >= numVerts) return false;
  const int64_t count = int64_t{K} * kLanes;
  const __m256i limit = _mm256_set1_epi32(numVerts - 1);
  __m256i above = _mm256_setzero_si256();
  int64_t k = 0;
  for (; k + 8 <= count; k += 8) {
    const __m256i entries = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + k));
    above = _mm256_or_si256(above, _mm256_cmpgt_epi32(entries, limit));
  }
  return _mm256_testz_si256(above, above) != 0;  // count is a multiple of eight
}

// Three rows of eight (x, y, z, _) records at p, p + 3, ..., p + 21, lane l from the record
// at p + 3l; none may be the last of its array.
TULM_TARGET_AVX2 inline lanes::Points8 eight_records(const float* p) {
  return lanes::transposed8(lanes::two_points(p, p + 12), lanes::two_points(p + 3, p + 15),
                            lanes::two_points(p + 6, p + 18), lanes::two_points(p + 9, p + 21));
}

// Records of three floats, lane l from the one at q[l]; none may be the last of its array.
TULM_TARGET_AVX2 inline lanes::Points8 gathered_records(const float* const* q) {
  return lanes::transposed8(lanes::two_points(q[0], q[4]), lanes::two_points(q[1], q[5]),
                            lanes::two_points(q[2], q[6]), lanes::two_points(q[3], q[7]));
}

// The rows of vertices first .. first + 7, checked by eight_vertices_fit, Gaussian weights
// only. kRows is D where the sums stay in registers (1 or 3); with 0, the D rows' sums of the
// eight lanes go through `sums` (D x 8 floats).
template <int kRows>
TULM_TARGET_AVX2 void smooth_eight(const float* vertices, const int32_t* columns, int32_t K,
                                   const float* data, int32_t D, float c, int32_t first,
                                   float* sums, float* smoothed) {
  const lanes::Points8 own = eight_records(vertices + 3 * int64_t{first});
  const __m256 scale = _mm256_set1_ps(c);
  const __m256 signBit = _mm256_set1_ps(-0.0f);
  __m256 sum[kRows > 0 ? kRows : 1];
  if constexpr (kRows == 1) sum[0] = _mm256_loadu_ps(data + first);
  if constexpr (kRows == 3) {
    const lanes::Points8 rows = eight_records(data + 3 * int64_t{first});
    sum[0] = rows.x;
    sum[1] = rows.y;
    sum[2] = rows.z;
  }
  if constexpr (kRows == 0) {
    for (int32_t k = 0; k < D; ++k) {
      for (int l = 0; l < kLanes; ++l) sums[kLanes * k + l] = data[(first + l) * int64_t{D} + k];
    }
  }
  __m256 wsum = _mm256_set1_ps(1.0f);
  __m256 listed = _mm256_castsi256_ps(_mm256_set1_epi32(-1));  // lanes whose list goes on
  int32_t slots = 0;
  for (; slots < K; ++slots) {
    // Inserted one by one: a gather is slower here.
    const int32_t* slot = columns + slots;
    const __m256i entries = _mm256_setr_epi32(slot[0], slot[K], slot[2 * K], slot[3 * K],
                                              slot[4 * K], slot[5 * K], slot[6 * K], slot[7 * K]);
    const __m256i listedHere = _mm256_cmpgt_epi32(entries, _mm256_setzero_si256());
    listed = _mm256_and_ps(listed, _mm256_castsi256_ps(listedHere));
    if (_mm256_testz_ps(listed, listed)) break;
    int64_t n[kLanes];  // 0-based; a lane whose list has ended takes its own vertex
    const float* q[kLanes];
    for (int l = 0; l < kLanes; ++l) {
      const int32_t entry = slot[int64_t{l} * K];
      n[l] = entry >= 1 ? int64_t{entry} - 1 : int64_t{first} + l;
      q[l] = vertices + 3 * n[l];
    }
    const lanes::Points8 nbor = gathered_records(q);
    const __m256 dx = _mm256_sub_ps(own.x, nbor.x), dy = _mm256_sub_ps(own.y, nbor.y),
                 dz = _mm256_sub_ps(own.z, nbor.z);
    // The scalar code's sum starts at 0, which adds nothing to a square.
    const __m256 d2 = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(dx, dx), _mm256_mul_ps(dy, dy)),
                                    _mm256_mul_ps(dz, dz));
    const __m256 w = rounded_expf_avx2(_mm256_mul_ps(scale, _mm256_xor_ps(d2, signBit)));
    if constexpr (kRows == 0) {
      for (int32_t k = 0; k < D; ++k) {
        const float* row = data + k;
        const __m256 theirs =
            _mm256_setr_ps(row[n[0] * D], row[n[1] * D], row[n[2] * D], row[n[3] * D],
                           row[n[4] * D], row[n[5] * D], row[n[6] * D], row[n[7] * D]);
        const __m256 before = _mm256_loadu_ps(sums + kLanes * k);
        _mm256_storeu_ps(
            sums + kLanes * k,
            _mm256_blendv_ps(before, _mm256_add_ps(_mm256_mul_ps(w, theirs), before), listed));
      }
    }
    if constexpr (kRows == 1) {
      const __m256 theirs = _mm256_setr_ps(data[n[0]], data[n[1]], data[n[2]], data[n[3]],
                                           data[n[4]], data[n[5]], data[n[6]], data[n[7]]);
      sum[0] = _mm256_blendv_ps(sum[0], _mm256_add_ps(_mm256_mul_ps(w, theirs), sum[0]), listed);
    }
    if constexpr (kRows == 3) {
      for (int l = 0; l < kLanes; ++l) q[l] = data + 3 * n[l];
      const lanes::Points8 theirs = gathered_records(q);
      const __m256 rows[3] = {theirs.x, theirs.y, theirs.z};
      for (int k = 0; k < 3; ++k) {
        sum[k] = _mm256_blendv_ps(sum[k], _mm256_add_ps(_mm256_mul_ps(w, rows[k]), sum[k]), listed);
      }
    }
    wsum = _mm256_blendv_ps(wsum, _mm256_add_ps(wsum, w), listed);
  }
  if constexpr (kRows == 1) _mm256_storeu_ps(smoothed + first, _mm256_div_ps(sum[0], wsum));
  if constexpr (kRows == 3) {
    float out[3][kLanes];
    for (int k = 0; k < 3; ++k) _mm256_storeu_ps(out[k], _mm256_div_ps(sum[k], wsum));
    float* to = smoothed + 3 * int64_t{first};
    for (int l = 0; l < kLanes; ++l) {
      for (int k = 0; k < 3; ++k) to[3 * l + k] = out[k][l];
    }
  }
  if constexpr (kRows == 0) {
    for (int32_t k = 0; k < D; ++k) {
      _mm256_storeu_ps(sums + kLanes * k, _mm256_div_ps(_mm256_loadu_ps(sums + kLanes * k), wsum));
      for (int l = 0; l < kLanes; ++l)
        smoothed[(first + l) * int64_t{D} + k] = sums[kLanes * k + l];
    }
  }
}

#if defined(TULM_HAVE_AVX512_TARGET)
// Sixteen vertices at a time, as the eight of AVX2 go.
constexpr int32_t kWideLanes = 16;
// Slots whose exponents the sixteen lanes make before their weights.
constexpr int32_t kSlotGroup = 8;

// eight_vertices_fit for vertices first .. first + 15.
TULM_TARGET_AVX512 bool sixteen_vertices_fit(const int32_t* columns, int32_t K, int32_t first,
                                             int32_t numVerts, int32_t lastEntry) {
  if (first + kWideLanes >= numVerts) return false;
  const int64_t count = int64_t{K} * kWideLanes;
  const __m512i limit = _mm512_set1_epi32(lastEntry);
  __mmask16 above = 0;
  for (int64_t k = 0; k < count; k += kWideLanes) {
    above |= _mm512_cmpgt_epi32_mask(_mm512_loadu_si512(columns + k), limit);
  }
  return above == 0;
}

// The records of `stride` floats at base + stride * n[l] (whose four first floats lie in the
// array) in lanes l = 0 .. 15.
TULM_TARGET_AVX512 inline lanes::Points16 sixteen_records(const float* base, int32_t stride,
                                                          const int32_t* n) {
  const auto at = [&](int l) { return base + int64_t{stride} * n[l]; };
  return lanes::transposed16(lanes::four_points(at(0), at(4), at(8), at(12)),
                             lanes::four_points(at(1), at(5), at(9), at(13)),
                             lanes::four_points(at(2), at(6), at(10), at(14)),
                             lanes::four_points(at(3), at(7), at(11), at(15)));
}

// Entry `at` (lane l's is l K + j for slot j) of each lane, from the 16 K entries of sixteen
// columns, which the 32 entries of each pair of 16 hold; a gather is slower here.
TULM_TARGET_AVX512 inline __m512i slot_entries(const int32_t* columns, int32_t K, __m512i at) {
  __m512i entries = _mm512_setzero_si512();
  for (int32_t b = 0; b < K; b += 2) {
    const __m512i local = _mm512_sub_epi32(at, _mm512_set1_epi32(16 * b));
    const __mmask16 inside = _mm512_cmplt_epu32_mask(local, _mm512_set1_epi32(32));
    const __m512i low = _mm512_loadu_si512(columns + 16 * b);
    // With K odd, the last pair is one block: no lane reads past it.
    const __m512i high = b + 1 < K ? _mm512_loadu_si512(columns + 16 * (b + 1)) : low;
    entries = _mm512_mask_mov_epi32(entries, inside, _mm512_permutex2var_epi32(low, local, high));
  }
  return entries;
}

// smooth_eight for vertices first .. first + 15, checked by sixteen_vertices_fit; `sums` holds
// D x 16 floats.
template <int kRows>
TULM_TARGET_AVX512 void smooth_sixteen(const float* vertices, const int32_t* columns, int32_t K,
                                       const float* data, int32_t D, float c, int32_t first,
                                       float* sums, float* smoothed) {
  const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m512i ownIndex = _mm512_add_epi32(_mm512_set1_epi32(first), lane);
  __m512i at = _mm512_mullo_epi32(lane, _mm512_set1_epi32(K));  // slot 0 of each column
  alignas(64) int32_t n[kWideLanes];
  _mm512_store_si512(n, ownIndex);
  const lanes::Points16 own = sixteen_records(vertices, 3, n);
  const __m512 scale = _mm512_set1_ps(c);
  const __m512i signBit = _mm512_set1_epi32(INT32_MIN);
  __m512 sum[kRows > 0 ? kRows : 1];
  if constexpr (kRows == 1) sum[0] = _mm512_loadu_ps(data + first);
  if constexpr (kRows == 3) {
    const lanes::Points16 rows = sixteen_records(data, 3, n);
    sum[0] = rows.x;
    sum[1] = rows.y;
    sum[2] = rows.z;
  }
  if constexpr (kRows == 0) {
    for (int32_t k = 0; k < D; ++k) {
      for (int l = 0; l < kWideLanes; ++l) {
        sums[kWideLanes * k + l] = data[(first + l) * int64_t{D} + k];
      }
    }
  }
  __m512 wsum = _mm512_set1_ps(1.0f);
  __mmask16 listed = 0xffff;  // lanes whose list goes on
  for (int32_t group = 0; group < K && listed != 0; group += kSlotGroup) {
    // First the exponents of a group of slots, then their weights and sums: the exponentials
    // of several slots, with no sum between them, overlap in the processor.
    __m512 exponents[kSlotGroup];
    __m512 theirs[kSlotGroup][kRows > 0 ? kRows : 1];
    alignas(64) int32_t nbors[kSlotGroup][kWideLanes];
    __mmask16 listedAt[kSlotGroup];
    int32_t count = 0;
    for (; count < kSlotGroup && group + count < K; ++count) {
      const __m512i entries = slot_entries(columns, K, at);
      at = _mm512_add_epi32(at, _mm512_set1_epi32(1));
      listed = _mm512_mask_cmpgt_epi32_mask(listed, entries, _mm512_setzero_si512());
      if (listed == 0) break;
      listedAt[count] = listed;
      // 0-based; a lane whose list has ended takes its own vertex
      int32_t* n = nbors[count];
      _mm512_store_si512(n, _mm512_mask_sub_epi32(ownIndex, listed, entries, _mm512_set1_epi32(1)));
      const lanes::Points16 there = sixteen_records(vertices, 3, n);
      const __m512 dx = _mm512_sub_ps(own.x, there.x), dy = _mm512_sub_ps(own.y, there.y),
                   dz = _mm512_sub_ps(own.z, there.z);
      // The scalar code's sum starts at 0, which adds nothing to a square.
      const __m512 d2 = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(dx, dx), _mm512_mul_ps(dy, dy)),
                                      _mm512_mul_ps(dz, dz));
      const __m512 minusD2 =
          _mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(d2), signBit));
      exponents[count] = _mm512_mul_ps(scale, minusD2);
      if constexpr (kRows == 1) theirs[count][0] = sixteen_records(data, 1, n).x;
      if constexpr (kRows == 3) {
        const lanes::Points16 rows = sixteen_records(data, 3, n);
        theirs[count][0] = rows.x;
        theirs[count][1] = rows.y;
        theirs[count][2] = rows.z;
      }
    }
    for (int32_t j = 0; j < count; ++j) {
      const __m512 w = rounded_expf_avx512(exponents[j]);
      const __mmask16 on = listedAt[j];
      if constexpr (kRows == 0) {
        for (int32_t k = 0; k < D; ++k) {
          float row[kWideLanes];
          for (int l = 0; l < kWideLanes; ++l) row[l] = data[nbors[j][l] * int64_t{D} + k];
          const __m512 before = _mm512_loadu_ps(sums + kWideLanes * k);
          _mm512_storeu_ps(
              sums + kWideLanes * k,
              _mm512_mask_add_ps(before, on, _mm512_mul_ps(w, _mm512_loadu_ps(row)), before));
        }
      } else {
        for (int k = 0; k < kRows; ++k) {
          sum[k] = _mm512_mask_add_ps(sum[k], on, _mm512_mul_ps(w, theirs[j][k]), sum[k]);
        }
      }
      wsum = _mm512_mask_add_ps(wsum, on, wsum, w);
    }
  }
  if constexpr (kRows == 1) _mm512_storeu_ps(smoothed + first, _mm512_div_ps(sum[0], wsum));
  if constexpr (kRows == 3) {
    float out[3][kWideLanes];
    for (int k = 0; k < 3; ++k) _mm512_storeu_ps(out[k], _mm512_div_ps(sum[k], wsum));
    float* to = smoothed + 3 * int64_t{first};
    for (int l = 0; l < kWideLanes; ++l) {
      for (int k = 0; k < 3; ++k) to[3 * l + k] = out[k][l];
    }
  }
  if constexpr (kRows == 0) {
    for (int32_t k = 0; k < D; ++k) {
      _mm512_storeu_ps(sums + kWideLanes * k,
                       _mm512_div_ps(_mm512_loadu_ps(sums + kWideLanes * k), wsum));
      for (int l = 0; l < kWideLanes; ++l) {
        smoothed[(first + l) * int64_t{D} + k] = sums[kWideLanes * k + l];
      }
    }
  }
}
#endif

// Neighbours lie anywhere in memory: on a mesh whose points and data pass this many bytes (more
// than the caches hold), theirs, asked for this many vertices before they are smoothed, arrive
// in time. On smaller meshes the asking costs more than it saves.
constexpr int64_t kPrefetchFromBytes = int64_t{32} << 20;
constexpr int32_t kPrefetchAhead = 16 * kLanes;

// Asks for the points and data of the neighbours listed in `count` columns.
void prefetch_neighbours(const int32_t* columns, int32_t K, int32_t count, const float* vertices,
                         int32_t numVerts, const float* data, int32_t D) {
  for (int64_t k = 0; k < int64_t{K} * count; ++k) {
    const uint32_t n = static_cast<uint32_t>(columns[k]) - 1u;
    if (n < static_cast<uint32_t>(numVerts)) {
      TULM_PREFETCH(vertices + 3 * int64_t{n});
      TULM_PREFETCH(data + int64_t{D} * n);
    }
  }
}

// Vertices begin .. end - 1, Gaussian weights only, kWidth at a time (8 with AVX2, 16 with
// AVX-512) where the lanes' fit check says so; the scalar code takes the others, and so ends
// the call at the first bad entry.
template <int kRows, int kWidth>
void smooth_in_lanes(const float* vertices, int32_t numVerts, const int32_t* vertexNbors, int32_t K,
                     const float* data, int32_t D, float c, int32_t begin, int32_t end, float* sums,
                     float* acc, float* smoothed) {
  const bool prefetch = int64_t{numVerts} * (3 + int64_t{D}) * 4 > kPrefetchFromBytes;
  int32_t i = begin;
  for (; end - i >= kWidth; i += kWidth) {
    const int32_t* columns = vertexNbors + index_2D_array(0, i, K);
    if (prefetch && end - i >= kPrefetchAhead + kWidth) {
      prefetch_neighbours(columns + int64_t{K} * kPrefetchAhead, K, kWidth, vertices, numVerts,
                          data, D);
    }
#if defined(TULM_HAVE_AVX512_TARGET)
    if constexpr (kWidth == kWideLanes) {
      // With one row, the data of a neighbour is read with the three floats after it.
      const int32_t lastEntry = kRows == 1 ? numVerts - 3 : numVerts - 1;
      if (sixteen_vertices_fit(columns, K, i, numVerts, lastEntry)) {
        smooth_sixteen<kRows>(vertices, columns, K, data, D, c, i, sums, smoothed);
        continue;
      }
    }
#endif
    if constexpr (kWidth == kLanes) {
      if (eight_vertices_fit(columns, K, i, numVerts)) {
        smooth_eight<kRows>(vertices, columns, K, data, D, c, i, sums, smoothed);
        continue;
      }
    }
    gaussian_smooth_one_at_a_time(i, i + kWidth, vertices, numVerts, vertexNbors, K, data, D, true,
                                  c, acc, smoothed);
  }
  gaussian_smooth_one_at_a_time(i, end, vertices, numVerts, vertexNbors, K, data, D, true, c, acc,
                                smoothed);
}

// Vertices begin .. end - 1 in lanes of kWidth.
template <int kWidth>
void smooth_range_in_lanes(const float* vertices, int32_t numVerts, const int32_t* vertexNbors,
                           int32_t K, const float* data, int32_t D, float c, int32_t begin,
                           int32_t end, float* smoothed) {
  std::vector<float> acc(D > 0 ? D : 0);
  std::vector<float> sums(D == 1 || D == 3 ? 0 : size_t(kWidth) * size_t(D));
  const auto run = [&](auto smooth) {
    smooth(vertices, numVerts, vertexNbors, K, data, D, c, begin, end, sums.data(), acc.data(),
           smoothed);
  };
  if (D == 1)
    run(smooth_in_lanes<1, kWidth>);
  else if (D == 3)
    run(smooth_in_lanes<3, kWidth>);
  else
    run(smooth_in_lanes<0, kWidth>);
}

}  // namespace

void gaussian_smooth_in_eight_lanes(const float* vertices, int32_t numVerts,
                                    const int32_t* vertexNbors, int32_t K, const float* data,
                                    int32_t D, float c, int32_t begin, int32_t end,
                                    float* smoothed) {
  smooth_range_in_lanes<kLanes>(vertices, numVerts, vertexNbors, K, data, D, c, begin, end,
                                smoothed);
}

#if defined(TULM_HAVE_AVX512_TARGET)
void gaussian_smooth_in_sixteen_lanes(const float* vertices, int32_t numVerts,
                                      const int32_t* vertexNbors, int32_t K, const float* data,
                                      int32_t D, float c, int32_t begin, int32_t end,
                                      float* smoothed) {
  static_assert(kMostSlotsInSixteenSmoothingLanes <= INT32_MAX / kWideLanes,
                "slot j of lane l lies at j + K l, an int32");
  smooth_range_in_lanes<kWideLanes>(vertices, numVerts, vertexNbors, K, data, D, c, begin, end,
                                    smoothed);
}
#endif
#endif

}  // namespace tulm
