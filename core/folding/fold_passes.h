// The passes that the fold penalties share: the flip pass and the area change pass over
// every face, the visit pass over the faces around a list of vertices, and the gradient
// columns that follow them.
//
// The visit pass keeps the signed area of every face it evaluates in an area cache of F
// singles (zero-filled by the caller); the flip and visit passes mark the flipped faces, so the
// gradient passes that follow never evaluate a face's flip state again. Areas and gradients are
// evaluated in batches (fold_model.h) but accumulated in the order a face-by-face pass would use,
// so every sum is bit for bit the same.
#ifndef TULM_CORE_FOLDING_FOLD_PASSES_H
#define TULM_CORE_FOLDING_FOLD_PASSES_H

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "core/folding/fold_model.h"

namespace tulm {

// The faces found flipped, one bit each. The gradient passes test a face for every
// VertexFaces entry they read; F bits stay in cache where F cached areas would not.
class FlippedFaces {
 public:
  explicit FlippedFaces(int32_t numFaces) : words_((static_cast<size_t>(numFaces) + 63) / 64) {}

  void mark(int32_t f) { words_[f >> 6] |= uint64_t{1} << (f & 63); }
  bool has(int32_t f) const { return (words_[f >> 6] >> (f & 63)) & 1u; }

 private:
  std::vector<uint64_t> words_;
};

// Evaluates every face in order and returns the penalty: the sum of (signed area + offset)
// over the flipped faces, accumulated in single. Marks the flipped faces in `flipped` unless
// it is null.
float flip_face_pass(const FoldMesh& mesh, float offset, FlippedFaces* flipped);

// Evaluates every face in order into areas[0..F-1] and returns the area change penalty: the
// sum of (areas[f] - originalAreas[f])^2, accumulated in single in face order.
float area_change_face_pass(const FoldMesh& mesh, const float* originalAreas, float* areas);

// Evaluates the area gradients of (face, corner) pairs in batches and hands each to
// sink(pair, g) in the order the pairs were added. Call flush() after the last pair.
template <class Sink>
class GradientBatch {
 public:
  GradientBatch(const FoldMesh& mesh, Sink sink) : mesh_(mesh), sink_(sink) {}

  void add(int32_t face, int32_t corner) {
    pairs_[size_++] = {face, corner};
    if (size_ == kSize) flush();
  }

  void flush() {
    face_area_gradients(mesh_, pairs_, size_, gradients_);
    for (int32_t i = 0; i < size_; ++i) sink_(pairs_[i], gradients_[i]);
    size_ = 0;
  }

 private:
  static constexpr int32_t kSize = 64;
  const FoldMesh& mesh_;
  Sink sink_;
  FaceCorner pairs_[kSize];
  float gradients_[kSize][3];
  int32_t size_ = 0;
};

// Adds to column w of G (3 x V) the area gradients of the faces that column w of VertexFaces
// lists and that were found flipped, each as g + G in list order. A face listed twice adds
// twice; a face never evaluated adds nothing.
class FlipGradients {
 public:
  FlipGradients(const FoldMesh& mesh, const FlippedFaces& flipped, float* G)
      : mesh_(mesh), flipped_(flipped), batch_(mesh, Accumulate{G}) {}

  void add_column(int32_t w) {
    for_each_face_of_vertex(mesh_, w, [&](int32_t f) {
      if (flipped_.has(f)) batch_.add(f, w);
    });
  }
  // Call once after the last column.
  void finish() { batch_.flush(); }

 private:
  struct Accumulate {
    float* G;
    void operator()(const FaceCorner& pair, const float* g) const {
      float* column = G + index_2D_array(0, pair.corner, 3);
      column[0] = g[0] + column[0];
      column[1] = g[1] + column[1];
      column[2] = g[2] + column[2];
    }
  };

  const FoldMesh& mesh_;
  const FlippedFaces& flipped_;
  GradientBatch<Accumulate> batch_;
};

// The corners of flipped faces, each at most once, in order of discovery (1-based).
class InvolvedVertices {
 public:
  explicit InvolvedVertices(int32_t numVerts) : marked_(numVerts, 0) { list_.reserve(64); }

  void add(int32_t v) {
    if (marked_[v]) return;
    marked_[v] = 1;
    list_.push_back(v + 1);
  }
  std::vector<int32_t> take_list() { return std::move(list_); }

 private:
  std::vector<char> marked_;
  std::vector<int32_t> list_;
};

// The visit pass: for each visited vertex (visit[0..numVisits-1], 1-based, checked against
// 1..V; every vertex in order when visit is null), evaluates the faces around it that were
// not evaluated before (cached area exactly 0), caches their signed areas, and returns the sum
// of (signed area + offset) over the flipped ones in order of discovery. Flipped faces are
// marked in `flipped` and their corners v0, v1, v2 added to `involved`, each unless null.
float visit_pass(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits, float offset,
                 float* areas, FlippedFaces* flipped, InvolvedVertices* involved);

// Called once with the number of involved vertices nL; returns storage for nL int32 (null
// when nL is 0). An empty function means the list is not wanted.
using CreateInvolvedList = std::function<int32_t*(int32_t count)>;

// The visit pass into *P, then the involved-vertex list L through createList. Returns the
// involved vertices (1-based), which are only collected when L or a column per involved
// vertex (wantColumns) is wanted.
std::vector<int32_t> visit_and_list(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                    float offset, float* areas, FlippedFaces* flipped, float* P,
                                    bool wantColumns, const CreateInvolvedList& createList);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_FOLD_PASSES_H
