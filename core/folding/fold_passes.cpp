#include "core/folding/fold_passes.h"

#include <algorithm>
#include <cstring>

#include "core/folding/flip_gradient_lanes.h"
#include "core/folding/fold_model_lanes.h"
#include "core/folding/gradient_columns.h"
#include "core/interrupt.h"
#include "core/parallel.h"

namespace tulm {
namespace {

// Blocks whose faces take about as long to evaluate as starting a thread (32768 faces).
constexpr int32_t kBlockGrain = 32;

// Evaluates the faces of `block`, marks the flipped ones unless `flipped` is null, and hands
// each flipped face f and its term (signed area + offset) to add(f, term), in face order.
template <class Add>
void flip_block(const FoldMesh& mesh, int32_t block, float offset, FlippedFaces* flipped, Add add);

// Adds the gradients of flipped faces, handed over in increasing face order, to the columns of
// G of their three corners, each as g + G: the sums that a VertexFaces listing each face at its
// corners in increasing order makes. A flipped face has three different corners (a face with a
// corner twice has a zero normal and is never flipped), so each column takes a face once.
class FaceOrderGradients {
 public:
  FaceOrderGradients(const FoldMesh& mesh, float* G) : mesh_(mesh), G_(G) {}

  // f's corners lie in 1..V: the flip pass has read them.
  void add_face(int32_t f);
  void finish() { flush(); }

 private:
  // Flipped faces whose gradients are computed at once, in face order.
  static constexpr int32_t kBatch = 32;

  void flush();

  const FoldMesh& mesh_;
  float* G_;
  int32_t corners_[kBatch][3];
  int32_t size_ = 0;
};

}  // namespace

float flip_face_pass(const FoldMesh& mesh, float offset, FlippedFaces* flipped) {
  const int32_t numBlocks = block_count(mesh.numFaces);
  float penalty = 0.0f;
  if (numBlocks < 2 * kBlockGrain || thread_count() == 1) {
    for (int32_t block = 0; block < numBlocks; ++block) {
      if (block % kBlocksPerPoll == 0) poll_interrupt();
      flip_block(mesh, block, offset, flipped,
                 [&](int32_t, float term) { penalty = term + penalty; });
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
      flip_block(mesh, block, offset, flipped,
                 [&](int32_t, float term) { blockTerms[count++] = term; });
      terms[block].assign(blockTerms, blockTerms + count);
    }
  });
  for (const std::vector<float>& block : terms) {
    for (float term : block) penalty = term + penalty;
  }
  return penalty;
}

float flip_face_pass_with_gradients(const FoldMesh& mesh, float offset, float* G) {
  const int32_t numBlocks = block_count(mesh.numFaces);
  FlippedFaces flipped(mesh.numFaces);
  float penalty = 0.0f;
  int64_t flippedCount = 0, listed = -1;
  if (numBlocks < 2 * kBlockGrain || thread_count() == 1) {
    FaceOrderGradients gradients(mesh, G);
    for (int32_t block = 0; block < numBlocks; ++block) {
      if (block % kBlocksPerPoll == 0) poll_interrupt();
      flip_block(mesh, block, offset, &flipped, [&](int32_t f, float term) {
        penalty = term + penalty;
        ++flippedCount;
        gradients.add_face(f);
      });
    }
    gradients.finish();
    if (flippedCount > 0) {
      listed = 0;
      in_polled_blocks(0, mesh.numVerts, kVerticesPerPoll, [&](int32_t begin, int32_t end) {
        const int64_t entries = listed < 0
                                    ? -1
                                    : flipped_entries_at_corners(
                                          mesh, flipped, flippedCount == mesh.numFaces, begin, end);
        listed = entries < 0 ? -1 : listed + entries;
      });
    }
  } else {
    // The flip pass on every thread, then the gradients face by face on one beside the check.
    penalty = flip_face_pass(mesh, offset, &flipped);
    flippedCount = flipped.count();
    if (flippedCount > 0) {
      listed = add_face_order_gradients_beside_checks(mesh, flipped, flippedCount, G);
    }
  }
  if (flippedCount == 0) {
    // Nothing to add: the columns only check their entries.
    add_flip_gradients(mesh, flipped, G);
    return penalty;
  }
  // VertexFaces lists the flipped faces at their corners in increasing order: the face-by-face
  // sums are the columns'.
  if (listed == 3 * flippedCount) return penalty;
  // Any other table: its columns in their order, from the zeros again.
  std::fill(G, G + 3 * static_cast<size_t>(mesh.numVerts), 0.0f);
  add_flip_gradients(mesh, flipped, G);
  return penalty;
}

float area_change_face_pass(const FoldMesh& mesh, const float* originalAreas, float* areas) {
  parallel_for(block_count(mesh.numFaces), kBlockGrain, [&](int32_t begin, int32_t end) {
    const int32_t first = begin * kFacesPerBlock;
    const int32_t last = std::min(mesh.numFaces, end * kFacesPerBlock);
    signed_face_areas(mesh, first, last - first, areas + first);
  });
  float penalty = 0.0f;
  in_polled_blocks(0, mesh.numFaces, kFacesPerPoll, [&](int32_t begin, int32_t end) {
    for (int32_t f = begin; f < end; ++f) {
      const float d = areas[f] - originalAreas[f];
      penalty = d * d + penalty;
    }
  });
  return penalty;
}

void add_area_change_gradients(const FoldMesh& mesh, const float* originalAreas, const float* areas,
                               float* G) {
  // Every listed face counts, with the factor -2 (s - o) whatever the sign of s.
  const auto add = [&](int32_t f, const float* g, float* sum) {
    const float u = (areas[f] - originalAreas[f]) * -2.0f;
    sum[0] = g[0] * u + sum[0];
    sum[1] = g[1] * u + sum[1];
    sum[2] = g[2] * u + sum[2];
  };
  add_every_column(
      mesh, [](int32_t) { return true; }, add, G);
}

void add_flip_gradients(const FoldMesh& mesh, const FlippedFaces& flipped, float* G) {
  parallel_for(mesh.numVerts, kColumnGrain, [&](int32_t begin, int32_t end) {
    if (add_flip_gradients_in_lanes(mesh, flipped, begin, end, G)) return;
    auto gradients = flip_column_gradients(mesh, flipped, G);
    gradients.add_columns(end - begin, [begin](int32_t t) { return begin + t; });
  });
}

void add_flip_gradients(const FoldMesh& mesh, const FlippedFaces& flipped,
                        const std::vector<int32_t>& vertices, float* G) {
  auto gradients = flip_column_gradients(mesh, flipped, G);
  in_polled_blocks(
      0, static_cast<int32_t>(vertices.size()), kVerticesPerPoll, [&](int32_t begin, int32_t end) {
        gradients.add_columns(end - begin,
                              [&vertices, begin](int32_t t) { return vertices[begin + t] - 1; });
      });
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
    if (t % kVerticesPerPoll == 0) poll_interrupt();
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

namespace {

// Bit i set where isFlipped(areas[i]), for i < size <= 64.
inline uint64_t flip_marks(const float* areas, int32_t size) {
  int32_t i = 0;
  uint64_t marks = flip_marks_in_lanes(areas, size, i);
  for (; i < size; ++i) marks |= static_cast<uint64_t>(isFlipped(areas[i])) << i;
  return marks;
}

template <class Add>
void flip_block(const FoldMesh& mesh, int32_t block, float offset, FlippedFaces* flipped, Add add) {
  float areas[kFacesPerBlock];
  const int32_t first = block * kFacesPerBlock;
  const int32_t count = std::min(mesh.numFaces - first, kFacesPerBlock);
  signed_face_areas(mesh, first, count, areas);
  // 64 faces at a time: their flip marks make one word, written once.
  for (int32_t start = 0; start < count; start += 64) {
    const int32_t size = std::min(64, count - start);
    const uint64_t marks = flip_marks(areas + start, size);
    if (marks == 0) continue;
    if (flipped != nullptr) flipped->mark_word(first + start, marks);
    for (uint64_t m = marks; m != 0; m &= m - 1) {
      const int32_t i = start + lowest_bit(m);
      add(first + i, areas[i] + offset);
    }
  }
}

inline void FaceOrderGradients::add_face(int32_t f) {
  const int32_t* stored = mesh_.faces + index_2D_array(0, f, 3);
  corners_[size_][0] = stored[0] - 1;
  corners_[size_][1] = stored[1] - 1;
  corners_[size_][2] = stored[2] - 1;
  // The columns lie anywhere in G: asked for now, they arrive before the batch adds to them.
  for (int j = 0; j < 3; ++j) TULM_PREFETCH(G_ + index_2D_array(0, corners_[size_][j], 3));
  if (++size_ == kBatch) flush();
}

inline void FaceOrderGradients::flush() {
  float g[9 * kBatch];
  face_gradients(mesh_, corners_, size_, g, kBatch);
  for (int32_t i = 0; i < size_; ++i) {
    for (int j = 0; j < 3; ++j) {
      float* column = G_ + index_2D_array(0, corners_[i][j], 3);
      const float* gj = g + 3 * j * kBatch + i;
      column[0] = gj[0] + column[0];
      column[1] = gj[kBatch] + column[1];
      column[2] = gj[2 * kBatch] + column[2];
    }
  }
  size_ = 0;
}

}  // namespace

}  // namespace tulm
