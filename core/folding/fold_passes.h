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
#include "core/parallel.h"
#include "core/portability.h"

namespace tulm {

// The faces found flipped, one bit each. The gradient passes test a face for every
// VertexFaces entry they read; F bits stay in cache where F cached areas would not.
class FlippedFaces {
 public:
  explicit FlippedFaces(int32_t numFaces) : words_((static_cast<size_t>(numFaces) + 63) / 64) {}

  // Threads may mark faces at once when no two of them mark faces of one word (64 faces).
  void mark(int32_t f) { words_[f >> 6] |= uint64_t{1} << (f & 63); }
  // Marks the faces f + i for the bits i of marks; f is a multiple of 64.
  void mark_word(int32_t f, uint64_t marks) { words_[f >> 6] |= marks; }
  bool has(int32_t f) const { return (words_[f >> 6] >> (f & 63)) & 1u; }
  const uint64_t* words() const { return words_.data(); }
  bool none() const {
    for (uint64_t word : words_) {
      if (word != 0) return false;
    }
    return true;
  }
  // The faces marked.
  int64_t count() const {
    int64_t marked = 0;
    for (uint64_t word : words_) marked += count_bits(word);
    return marked;
  }

 private:
  std::vector<uint64_t> words_;
};

// Evaluates every face and returns the penalty: the sum of (signed area + offset) over the
// flipped faces, accumulated in single in face order. Marks the flipped faces in `flipped`
// unless it is null. Large meshes are shared among threads, the sum still taken in face order;
// a bad corner ends the call with the message of the first one in face order.
float flip_face_pass(const FoldMesh& mesh, float offset, FlippedFaces* flipped);

// flip_face_pass, with the gradient of the penalty added to G (3 x V, zero-filled) as
// add_flip_gradients adds it: column v takes the area gradients of the flipped faces that column
// v of VertexFaces lists, each as g + G in list order. Each flipped face adds its three corners'
// gradients as the flip pass finds it, face by face (one thread), or right after the flip pass
// while another thread checks the table and then computes the gradients of the faces ahead
// (several); then, unless one scan finds that VertexFaces lists exactly the flipped faces at
// their corners, in increasing order in each column (the order in which they were added), G goes
// back to zeros and the columns add their faces.
float flip_face_pass_with_gradients(const FoldMesh& mesh, float offset, float* G);

// The number of flipped entries in the columns begin..end-1 of VertexFaces (the faces marked in
// `flipped`; every face where everyFace), when every entry before a column's end (its first entry
// below 1) lies in 1..F, every flipped face a column lists has that column's vertex as a corner,
// and each column lists its flipped faces in increasing order; -1 otherwise, also where an entry
// lies above F, which the gradient columns then report. Each column is judged alone, so the
// results of ranges that cover the table add up to that of the whole, unless one is -1. When they
// are 3 per flipped face over the whole table, the columns list the (face, corner) pairs of the
// flipped faces each once (no column lists a face twice), and the gradients added face by face are
// those the columns add, in their order. -1 for K above 32.
int64_t flipped_entries_at_corners(const FoldMesh& mesh, const FlippedFaces& flipped,
                                   bool everyFace, int32_t begin, int32_t end);

// Evaluates every face into areas[0..F-1] (on several threads for large meshes) and returns the
// area change penalty: the sum of (areas[f] - originalAreas[f])^2, accumulated in single in
// face order.
float area_change_face_pass(const FoldMesh& mesh, const float* originalAreas, float* areas);

// Adds area gradients to columns of G (3 x V): for each column w given, the gradient g of each
// face f that column w of VertexFaces lists and that accept(f) holds for, in list order, as
// term(f, g, sum), which sets each sum[k] to its term plus sum[k] (sum being the column).
// Gradients are evaluated in batches; the terms of one column that follow each other are
// summed in registers and the column is stored once, so a sum never waits on the store of the
// last. Call finish() after the last column.
template <class Accept, class Term>
class ColumnGradients {
 public:
  ColumnGradients(const FoldMesh& mesh, float* G, Accept accept, Term term)
      : mesh_(mesh), G_(G), accept_(accept), term_(term) {}

  void add_column(int32_t w) {
    const float* pw = vertex_position(mesh_, w);
    for_each_face_of_vertex(mesh_, w, [&](int32_t f) {
      if (!accept_(f)) return;
      int32_t v0, v1, v2, a, b;
      corners_of_face(mesh_, f, v0, v1, v2);
      other_corners(v0, v1, v2, w, a, b);
      corners_.set(size_, vertex_position(mesh_, a), vertex_position(mesh_, b), pw);
      faces_[size_] = f;
      columns_[size_] = w;
      if (++size_ == kGradientBatch) flush();
    });
  }

  // Asks for the faces that add_column(w) will read: the faces of one vertex lie anywhere in
  // the face matrix. Called a few columns ahead, the reads arrive in the meantime. Entries out
  // of range are left to add_column.
  void prefetch_column(int32_t w) const {
    for (int32_t j = 0; j < mesh_.numRows; ++j) {
      const int32_t entry = mesh_.vertexFaces[index_2D_array(j, w, mesh_.numRows)];
      if (entry < 1 || entry > mesh_.numFaces) return;
      if (accept_(entry - 1)) TULM_PREFETCH(mesh_.faces + index_2D_array(0, entry - 1, 3));
    }
  }

  // add_column of columnAt(0), ..., columnAt(count - 1), then finish().
  template <class ColumnAt>
  void add_columns(int32_t count, ColumnAt columnAt) {
    constexpr int32_t kAhead = 4;
    for (int32_t t = 0; t < count && t < kAhead; ++t) prefetch_column(columnAt(t));
    for (int32_t t = 0; t < count; ++t) {
      if (t + kAhead < count) prefetch_column(columnAt(t + kAhead));
      add_column(columnAt(t));
    }
    finish();
  }

  void finish() { flush(); }

 private:
  void flush() {
    float g[3][kGradientBatch];
    area_gradients(corners_, size_, g[0], g[1], g[2]);
    for (int32_t i = 0; i < size_;) {
      const int32_t w = columns_[i];
      float* column = G_ + index_2D_array(0, w, 3);
      float sum[3] = {column[0], column[1], column[2]};
      for (; i < size_ && columns_[i] == w; ++i) {
        const float term[3] = {g[0][i], g[1][i], g[2][i]};
        term_(faces_[i], term, sum);
      }
      column[0] = sum[0];
      column[1] = sum[1];
      column[2] = sum[2];
    }
    size_ = 0;
  }

  const FoldMesh& mesh_;
  float* G_;
  Accept accept_;
  Term term_;
  GradientCorners corners_;
  int32_t faces_[kGradientBatch];
  int32_t columns_[kGradientBatch];
  int32_t size_ = 0;
};

// g + sum, the term of the fold penalties' gradients.
struct AddGradient {
  void operator()(int32_t /*face*/, const float* g, float* sum) const {
    sum[0] = g[0] + sum[0];
    sum[1] = g[1] + sum[1];
    sum[2] = g[2] + sum[2];
  }
};

// Adds to each column w given of G (3 x V) the area gradients of the faces that column w of
// VertexFaces lists and that were found flipped, each as g + G in list order. A face listed
// twice adds twice; a face never evaluated adds nothing.
template <class ColumnAt>
void add_flip_gradients(const FoldMesh& mesh, const FlippedFaces& flipped, int32_t count,
                        ColumnAt columnAt, float* G) {
  const auto accept = [&flipped](int32_t f) { return flipped.has(f); };
  ColumnGradients<decltype(accept), AddGradient> gradients(mesh, G, accept, AddGradient{});
  gradients.add_columns(count, columnAt);
}

// Vertices whose gradient columns take about as long as starting a thread.
constexpr int32_t kColumnGrain = 16384;

// ColumnGradients over every column of G, in vertex ranges shared among threads for large
// meshes. A bad VertexFaces entry ends the call with the message of the first one in column
// order.
template <class Accept, class Term>
void add_every_column(const FoldMesh& mesh, Accept accept, Term term, float* G) {
  parallel_for(mesh.numVerts, kColumnGrain, [&](int32_t begin, int32_t end) {
    ColumnGradients<Accept, Term> gradients(mesh, G, accept, term);
    gradients.add_columns(end - begin, [begin](int32_t t) { return begin + t; });
  });
}

// add_flip_gradients of the columns begin..end-1, eight columns at a time in AVX2 lanes where
// chosen_lanes() has eight; returns false, having added nothing, where it does not take them.
bool add_flip_gradients_in_lanes(const FoldMesh& mesh, const FlippedFaces& flipped, int32_t begin,
                                 int32_t end, float* G);

// add_flip_gradients of every column, in vertex ranges shared among threads for large meshes.
inline void add_flip_gradients(const FoldMesh& mesh, const FlippedFaces& flipped, float* G) {
  const auto accept = [&flipped](int32_t f) { return flipped.has(f); };
  parallel_for(mesh.numVerts, kColumnGrain, [&](int32_t begin, int32_t end) {
    if (add_flip_gradients_in_lanes(mesh, flipped, begin, end, G)) return;
    ColumnGradients<decltype(accept), AddGradient> gradients(mesh, G, accept, AddGradient{});
    gradients.add_columns(end - begin, [begin](int32_t t) { return begin + t; });
  });
}

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
