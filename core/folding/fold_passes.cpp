#include "core/folding/fold_passes.h"

#include <algorithm>
#include <cstring>

#include "core/parallel.h"

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

}  // namespace

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
