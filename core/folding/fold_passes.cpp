#include "core/folding/fold_passes.h"

#include <cstring>

namespace tulm {

float flip_face_pass(const FoldMesh& mesh, float offset, FlippedFaces* flipped) {
  constexpr int32_t kChunk = 1024;
  float areas[kChunk];
  float penalty = 0.0f;
  for (int32_t first = 0; first < mesh.numFaces; first += kChunk) {
    const int32_t count = mesh.numFaces - first < kChunk ? mesh.numFaces - first : kChunk;
    signed_face_areas(mesh, first, count, areas);
    for (int32_t i = 0; i < count; ++i) {
      if (!isFlipped(areas[i])) continue;
      penalty = (areas[i] + offset) + penalty;
      if (flipped != nullptr) flipped->mark(first + i);
    }
  }
  return penalty;
}

float area_change_face_pass(const FoldMesh& mesh, const float* originalAreas, float* areas) {
  signed_face_areas(mesh, 0, mesh.numFaces, areas);
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
