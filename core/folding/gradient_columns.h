// The gradient columns of the fold penalties. A column w of G takes the area gradients of the
// faces that column w of VertexFaces lists, in list order: ColumnGradients adds them so, which
// defines the bits of every G. The flip pass may instead add each flipped face's gradients to its
// three corners' columns as it finds the face, which gives the same sums where VertexFaces lists
// every flipped face at its corners in increasing order, as the faces-of-vertex table does:
// flipped_entries_at_corners checks that in one scan, and add_face_order_gradients_beside_checks
// adds the gradients face by face on one thread while another scans.
#ifndef TULM_CORE_FOLDING_GRADIENT_COLUMNS_H
#define TULM_CORE_FOLDING_GRADIENT_COLUMNS_H

#include <cstdint>

#include "core/folding/fold_model.h"
#include "core/folding/fold_passes.h"
#include "core/parallel.h"
#include "core/portability.h"

namespace tulm {

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

// The flipped faces' columns: ColumnGradients of the faces marked in `flipped`, each as g + G.
inline auto flip_column_gradients(const FoldMesh& mesh, const FlippedFaces& flipped, float* G) {
  const auto accept = [&flipped](int32_t f) { return flipped.has(f); };
  return ColumnGradients<decltype(accept), AddGradient>(mesh, G, accept, AddGradient{});
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

// Bit f & 63 of word f >> 6: whether face f was found flipped (FlippedFaces::words).
inline uint32_t flipped_bit(const uint64_t* flippedWords, uint32_t f) {
  return static_cast<uint32_t>(flippedWords[f >> 6] >> (f & 63)) & 1u;
}

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

// Adds the gradients of the flipped faces marked in `flipped` (flippedCount of them, at least one)
// to the columns of G of their three corners, each as g + G, face after face on the calling
// thread, while a second thread checks the columns and then computes the gradients of the faces
// ahead of it. Returns flipped_entries_at_corners of the whole table. Where every face is flipped,
// the adds into G alone take about as long as the check and the gradients together.
int64_t add_face_order_gradients_beside_checks(const FoldMesh& mesh, const FlippedFaces& flipped,
                                               int64_t flippedCount, float* G);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_GRADIENT_COLUMNS_H
