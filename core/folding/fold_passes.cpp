#include "core/folding/fold_passes.h"

#include <algorithm>
#include <cstring>

#include "core/parallel.h"
#include "core/portability.h"

#if defined(TULM_HAVE_AVX2_TARGET)
#include <immintrin.h>
#endif

namespace tulm {

namespace {

// Faces evaluated at once: their areas stay in the first level cache. A multiple of 64, so
// that the flip marks of two blocks never share a word of FlippedFaces.
constexpr int32_t kFacesPerBlock = 1024;
// Blocks whose faces take about as long to evaluate as starting a thread (32768 faces).
constexpr int32_t kBlockGrain = 32;

int32_t block_count(int32_t numFaces) { return (numFaces + kFacesPerBlock - 1) / kFacesPerBlock; }

// Evaluates the faces of `block`, marks the flipped ones unless `flipped` is null, and hands
// each flipped face's term (signed area + offset) to add(term), in face order.
template <class Add>
void flip_block(const FoldMesh& mesh, int32_t block, float offset, FlippedFaces* flipped, Add add) {
  float areas[kFacesPerBlock];
  const int32_t first = block * kFacesPerBlock;
  const int32_t count = std::min(mesh.numFaces - first, kFacesPerBlock);
  signed_face_areas(mesh, first, count, areas);
  for (int32_t i = 0; i < count; ++i) {
    if (!isFlipped(areas[i])) continue;
    add(areas[i] + offset);
    if (flipped != nullptr) flipped->mark(first + i);
  }
}

#if defined(TULM_HAVE_AVX2_TARGET)

// A vertex's position as (x, y, z, _): 16 bytes from its x on, or from a padded copy for the
// last vertex, whose fourth float would lie past the end of the array.
struct VertexReader {
  const float* vertices;
  uint32_t last;
  alignas(16) float lastPadded[4];

  VertexReader(const FoldMesh& mesh)
      : vertices(mesh.vertices), last(static_cast<uint32_t>(mesh.numVerts) - 1u) {
    const float* p = vertices + index_2D_array(0, static_cast<int32_t>(last), 3);
    lastPadded[0] = p[0];
    lastPadded[1] = p[1];
    lastPadded[2] = p[2];
    lastPadded[3] = 0.0f;
  }
  // v is a 0-based vertex in 0..V-1.
  __m128 load(uint32_t v) const {
    const float* p = v == last ? lastPadded : vertices + 3 * size_t(v);
    return _mm_loadu_ps(p);
  }
};

struct LanePoints8 {
  __m256 x, y, z;
};

// Points (x, y, z, _) of lanes 0..7 as one register per coordinate.
TULM_TARGET_AVX2 inline LanePoints8 transposed8(const __m128* p) {
  const __m256 r0 = _mm256_set_m128(p[4], p[0]);
  const __m256 r1 = _mm256_set_m128(p[5], p[1]);
  const __m256 r2 = _mm256_set_m128(p[6], p[2]);
  const __m256 r3 = _mm256_set_m128(p[7], p[3]);
  const __m256 t0 = _mm256_unpacklo_ps(r0, r1);  // x0 x1 y0 y1 | x4 x5 y4 y5
  const __m256 t1 = _mm256_unpacklo_ps(r2, r3);  // x2 x3 y2 y3 | x6 x7 y6 y7
  const __m256 t2 = _mm256_unpackhi_ps(r0, r1);  // z0 z1 _ _ | z4 z5 _ _
  const __m256 t3 = _mm256_unpackhi_ps(r2, r3);  // z2 z3 _ _ | z6 z7 _ _
  const __m256 x = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(t0), _mm256_castps_pd(t1)));
  const __m256 y = _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(t0), _mm256_castps_pd(t1)));
  const __m256 z = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(t2), _mm256_castps_pd(t3)));
  return {x, y, z};
}

// The gradients of faceAreaGradient for corners a, b and w in eight lanes, each lane through the
// operations of area_gradients in their order. The area there, 0.5 * sqrt(double(squared))
// rounded to single, is the single square root halved: a double square root rounded to single
// is the correctly rounded single one, and halving a root of a single is exact.
TULM_TARGET_AVX2 inline void area_gradients8(const LanePoints8& A, const LanePoints8& B,
                                             const LanePoints8& W, __m256& gx, __m256& gy,
                                             __m256& gz) {
  const __m256 d1x = _mm256_sub_ps(B.x, A.x), d1y = _mm256_sub_ps(B.y, A.y),
               d1z = _mm256_sub_ps(B.z, A.z);
  const __m256 d2x = _mm256_sub_ps(W.x, A.x), d2y = _mm256_sub_ps(W.y, A.y),
               d2z = _mm256_sub_ps(W.z, A.z);
  const __m256 mx = _mm256_sub_ps(_mm256_mul_ps(d1y, d2z), _mm256_mul_ps(d1z, d2y));
  const __m256 my = _mm256_sub_ps(_mm256_mul_ps(d1z, d2x), _mm256_mul_ps(d1x, d2z));
  const __m256 mz = _mm256_sub_ps(_mm256_mul_ps(d1x, d2y), _mm256_mul_ps(d1y, d2x));
  const __m256 squared = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(mx, mx), _mm256_mul_ps(my, my)),
                                       _mm256_mul_ps(mz, mz));
  const __m256 area = _mm256_mul_ps(_mm256_sqrt_ps(squared), _mm256_set1_ps(0.5f));
  const __m256 kept = _mm256_cmp_ps(area, _mm256_set1_ps(kFlipThreshold), _CMP_GE_OQ);
  const __m256 k = _mm256_and_ps(kept, _mm256_div_ps(_mm256_set1_ps(0.25f), area));
  // ((Bz - Az) * my + (Ay - By) * mz) * k, ((Az - Bz) * mx + mz * (Bx - Ax)) * k,
  // (mx * (By - Ay) + my * (Ax - Bx)) * k
  gx = _mm256_mul_ps(
      _mm256_add_ps(_mm256_mul_ps(d1z, my), _mm256_mul_ps(_mm256_sub_ps(A.y, B.y), mz)), k);
  gy = _mm256_mul_ps(
      _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(A.z, B.z), mx), _mm256_mul_ps(mz, d1x)), k);
  gz = _mm256_mul_ps(
      _mm256_add_ps(_mm256_mul_ps(mx, d1y), _mm256_mul_ps(my, _mm256_sub_ps(A.x, B.x))), k);
}

// The columns of a chunk go through three passes, so that the faces and vertices that a pass
// reads at random were asked for by the pass before: the rows of VertexFaces (which flipped
// faces each lane adds; their corners asked for), the corners (which vertices; those asked
// for), the gradients. Columns per chunk, in groups of eight lanes, and the most rows of
// VertexFaces the lanes take.
constexpr int32_t kChunkGroups = 8;
constexpr int32_t kLaneRows = 32;

// What the first two passes leave for the gradients: per group and row, the lanes that add a
// term and, per lane, its corners a and b.
struct ColumnChunk {
  uint32_t accepted[kChunkGroups][kLaneRows];
  int32_t rows[kChunkGroups];  // rows read until every lane of the group ended
  uint32_t a[kChunkGroups][kLaneRows][8];
  uint32_t b[kChunkGroups][kLaneRows][8];
};

// First pass over the groups of columns w0, w0 + 8, ...: the flipped faces of each row, whose
// corners it asks for. Returns false when a column holds an entry above F before its end, for
// the scalar code to end the call with its message.
inline bool scan_rows(const FoldMesh& mesh, const uint64_t* flippedWords, int32_t w0,
                      int32_t groups, ColumnChunk& chunk) {
  const int32_t K = mesh.numRows;
  const uint32_t F = static_cast<uint32_t>(mesh.numFaces);
  for (int32_t g = 0; g < groups; ++g) {
    const int32_t* table = mesh.vertexFaces + index_2D_array(0, w0 + 8 * g, K);
    uint32_t alive = 0xFF;
    int32_t j = 0;
    for (; j < K && alive != 0; ++j) {
      uint32_t accepted = 0;
      for (int c = 0; c < 8; ++c) {
        const int32_t entry = table[index_2D_array(j, c, K)];
        alive &= ~(static_cast<uint32_t>(entry < 1) << c);
        const uint32_t f = static_cast<uint32_t>(entry) - 1u;
        const bool inside = f < F;
        if (((alive >> c) & 1u) != 0 && !inside) return false;
        const uint32_t face = inside ? f : 0u;
        const uint32_t bit = static_cast<uint32_t>(flippedWords[face >> 6] >> (face & 63)) & 1u;
        accepted |= (bit & static_cast<uint32_t>(inside) & (alive >> c)) << c;
        chunk.a[g][j][c] = face;  // the face, until the corners pass
      }
      chunk.accepted[g][j] = accepted;
      for (uint32_t m = accepted; m != 0; m &= m - 1) {
        TULM_PREFETCH(mesh.faces + 3 * size_t(chunk.a[g][j][__builtin_ctz(m)]));
      }
    }
    chunk.rows[g] = j;
  }
  return true;
}
// Second pass: the corners a and b of each lane's face, whose positions it asks for. Lanes
// that add nothing take the corners of face 0 (a face: F >= 1 where a face was flipped; its
// corners were checked by the flip pass).
inline void find_corners(const FoldMesh& mesh, int32_t w0, int32_t groups, ColumnChunk& chunk) {
  for (int32_t g = 0; g < groups; ++g) {
    for (int32_t j = 0; j < chunk.rows[g]; ++j) {
      const uint32_t accepted = chunk.accepted[g][j];
      if (accepted == 0) continue;
      for (int c = 0; c < 8; ++c) {
        const uint32_t f = (accepted >> c) & 1u ? chunk.a[g][j][c] : 0u;
        const int32_t* corners = mesh.faces + 3 * size_t(f);
        int32_t a, b;
        other_corners(corners[0] - 1, corners[1] - 1, corners[2] - 1, w0 + 8 * g + c, a, b);
        chunk.a[g][j][c] = static_cast<uint32_t>(a);
        chunk.b[g][j][c] = static_cast<uint32_t>(b);
        TULM_PREFETCH(mesh.vertices + 3 * size_t(a));
        TULM_PREFETCH(mesh.vertices + 3 * size_t(b));
      }
    }
  }
}

// Last pass: each group's eight columns in lanes, a row's terms added together, each lane to
// its own sums, so that every column adds its terms in list order.
TULM_TARGET_AVX2 void add_gradients8(const VertexReader& reader, int32_t w0, int32_t groups,
                                     const ColumnChunk& chunk, float* G) {
  const __m256i laneBits = _mm256_set_epi32(128, 64, 32, 16, 8, 4, 2, 1);
  for (int32_t g = 0; g < groups; ++g) {
    const int32_t first = w0 + 8 * g;
    bool added = false;
    __m128 own[8];
    alignas(32) float sums[3][8];
    __m256 sx = _mm256_setzero_ps(), sy = _mm256_setzero_ps(), sz = _mm256_setzero_ps();
    LanePoints8 W{};
    for (int32_t j = 0; j < chunk.rows[g]; ++j) {
      const uint32_t accepted = chunk.accepted[g][j];
      if (accepted == 0) continue;
      if (!added) {
        added = true;
        for (int c = 0; c < 8; ++c) {
          own[c] = reader.load(static_cast<uint32_t>(first + c));
          const float* column = G + index_2D_array(0, first + c, 3);
          sums[0][c] = column[0];
          sums[1][c] = column[1];
          sums[2][c] = column[2];
        }
        W = transposed8(own);
        sx = _mm256_load_ps(sums[0]);
        sy = _mm256_load_ps(sums[1]);
        sz = _mm256_load_ps(sums[2]);
      }
      __m128 a[8], b[8];
      for (int c = 0; c < 8; ++c) {
        a[c] = reader.load(chunk.a[g][j][c]);
        b[c] = reader.load(chunk.b[g][j][c]);
      }
      __m256 gx, gy, gz;
      area_gradients8(transposed8(a), transposed8(b), W, gx, gy, gz);
      const __m256 take = _mm256_castsi256_ps(_mm256_cmpeq_epi32(
          _mm256_and_si256(_mm256_set1_epi32(static_cast<int32_t>(accepted)), laneBits), laneBits));
      sx = _mm256_blendv_ps(sx, _mm256_add_ps(gx, sx), take);
      sy = _mm256_blendv_ps(sy, _mm256_add_ps(gy, sy), take);
      sz = _mm256_blendv_ps(sz, _mm256_add_ps(gz, sz), take);
    }
    if (!added) continue;
    _mm256_store_ps(sums[0], sx);
    _mm256_store_ps(sums[1], sy);
    _mm256_store_ps(sums[2], sz);
    for (int c = 0; c < 8; ++c) {
      float* column = G + index_2D_array(0, first + c, 3);
      column[0] = sums[0][c];
      column[1] = sums[1][c];
      column[2] = sums[2][c];
    }
  }
}

#endif

}  // namespace

bool add_flip_gradients_in_lanes(const FoldMesh& mesh, const FlippedFaces& flipped, int32_t begin,
                                 int32_t end, float* G) {
#if defined(TULM_HAVE_AVX2_TARGET)
  if (!fold_lanes_enabled() || !TULM_PROCESSOR_HAS_AVX2() || mesh.numVerts < 1 ||
      mesh.numRows > kLaneRows) {
    return false;
  }
  const auto scalar_columns = [&](int32_t first, int32_t count) {
    const auto accept = [&flipped](int32_t f) { return flipped.has(f); };
    ColumnGradients<decltype(accept), AddGradient> gradients(mesh, G, accept, AddGradient{});
    gradients.add_columns(count, [first](int32_t t) { return first + t; });
  };
  const VertexReader reader(mesh);
  const int32_t groups = (end - begin) / 8;
  const int32_t chunks = (groups + kChunkGroups - 1) / kChunkGroups;
  const auto first_column = [&](int32_t t) { return begin + 8 * kChunkGroups * t; };
  const auto groups_of = [&](int32_t t) {
    return std::min(kChunkGroups, groups - kChunkGroups * t);
  };
  // Chunk t is scanned two steps before its gradients are added and has its corners found one
  // step before, in a ring of three.
  ColumnChunk ring[3];
  bool scanned[3] = {false, false, false};
  for (int32_t t = -2; t < chunks; ++t) {
    const int32_t next = t + 2;
    if (next < chunks) {
      scanned[next % 3] =
          scan_rows(mesh, flipped.words(), first_column(next), groups_of(next), ring[next % 3]);
      // A bad entry: the scalar code ends the call at the first one, in this chunk.
      if (!scanned[next % 3]) scalar_columns(first_column(next), 8 * groups_of(next));
    }
    if (t + 1 >= 0 && t + 1 < chunks && scanned[(t + 1) % 3]) {
      find_corners(mesh, first_column(t + 1), groups_of(t + 1), ring[(t + 1) % 3]);
    }
    if (t >= 0 && scanned[t % 3])
      add_gradients8(reader, first_column(t), groups_of(t), ring[t % 3], G);
  }
  scalar_columns(begin + 8 * groups, end - begin - 8 * groups);
  return true;
#else
  (void)mesh, (void)flipped, (void)begin, (void)end, (void)G;
  return false;
#endif
}

float flip_face_pass(const FoldMesh& mesh, float offset, FlippedFaces* flipped) {
  const int32_t numBlocks = block_count(mesh.numFaces);
  float penalty = 0.0f;
  if (numBlocks < 2 * kBlockGrain || thread_count() == 1) {
    for (int32_t block = 0; block < numBlocks; ++block) {
      flip_block(mesh, block, offset, flipped, [&](float term) { penalty = term + penalty; });
    }
    return penalty;
  }
  // Each block keeps its terms, so that no thread waits on another; the calling thread then
  // adds them in face order. They are as many as the flipped faces, in small pieces that the
  // allocator takes from memory it has in use.
  std::vector<std::vector<float>> terms(numBlocks);
  parallel_for(numBlocks, kBlockGrain, [&](int32_t begin, int32_t end) {
    float blockTerms[kFacesPerBlock];
    for (int32_t block = begin; block < end; ++block) {
      int32_t count = 0;
      flip_block(mesh, block, offset, flipped, [&](float term) { blockTerms[count++] = term; });
      terms[block].assign(blockTerms, blockTerms + count);
    }
  });
  for (const std::vector<float>& block : terms) {
    for (float term : block) penalty = term + penalty;
  }
  return penalty;
}

float area_change_face_pass(const FoldMesh& mesh, const float* originalAreas, float* areas) {
  parallel_for(block_count(mesh.numFaces), kBlockGrain, [&](int32_t begin, int32_t end) {
    const int32_t first = begin * kFacesPerBlock;
    const int32_t last = std::min(mesh.numFaces, end * kFacesPerBlock);
    signed_face_areas(mesh, first, last - first, areas + first);
  });
  float penalty = 0.0f;
  for (int32_t f = 0; f < mesh.numFaces; ++f) {
    const float d = areas[f] - originalAreas[f];
    penalty = d * d + penalty;
  }
  return penalty;
}

float visit_pass(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits, float offset,
                 float* areas, FlippedFaces* flipped, InvolvedVertices* involved) {
  // New faces are evaluated in batches (see signed_face_areas), in the order they are met. A face
  // waiting in the batch holds a non-zero mark so that it is not queued twice; a face whose
  // area comes out exactly 0 may be queued again later, as it would be evaluated again.
  constexpr int32_t kBatch = 64;
  const float kQueued = 1.0f;
  int32_t queue[kBatch] = {};
  float queuedAreas[kBatch];
  int32_t size = 0;
  float penalty = 0.0f;
  const auto flush = [&] {
    signed_face_areas_of(mesh, queue, size, queuedAreas);
    for (int32_t i = 0; i < size; ++i) {
      const int32_t f = queue[i];
      const float s = queuedAreas[i];
      areas[f] = s;
      if (!isFlipped(s)) continue;
      penalty = (s + offset) + penalty;
      if (flipped != nullptr) flipped->mark(f);
      if (involved == nullptr) continue;
      for (int32_t j = 0; j < 3; ++j) involved->add(mesh.faces[index_2D_array(j, f, 3)] - 1);
    }
    size = 0;
  };

  const int32_t count = visit != nullptr ? numVisits : mesh.numVerts;
  for (int32_t t = 0; t < count; ++t) {
    int32_t v = t;
    if (visit != nullptr) {
      check_index("visit", visit[t], t, 0, 1, mesh.numVerts);
      v = visit[t] - 1;
    }
    for_each_face_of_vertex(mesh, v, [&](int32_t f) {
      // The cache doubles as the evaluated flag: a NaN area is not 0 and stays evaluated.
      if (areas[f] != 0.0f) return;
      check_face_corners(mesh, f);  // where a face-by-face pass would, so errors keep their order
      areas[f] = kQueued;
      queue[size++] = f;
      if (size == kBatch) flush();
    });
  }
  flush();
  return penalty;
}

std::vector<int32_t> visit_and_list(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                    float offset, float* areas, FlippedFaces* flipped, float* P,
                                    bool wantColumns, const CreateInvolvedList& createList) {
  if (!createList && !wantColumns) {
    *P = visit_pass(mesh, visit, numVisits, offset, areas, flipped, nullptr);
    return {};
  }
  InvolvedVertices involved(mesh.numVerts);
  *P = visit_pass(mesh, visit, numVisits, offset, areas, flipped, &involved);
  std::vector<int32_t> list = involved.take_list();
  if (createList) {
    int32_t* L = createList(static_cast<int32_t>(list.size()));
    if (!list.empty()) std::memcpy(L, list.data(), list.size() * sizeof(int32_t));
  }
  return list;
}

}  // namespace tulm
