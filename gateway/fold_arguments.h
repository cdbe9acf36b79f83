// The inputs every fold penalty starts with: vertices (3 x V single), faces (3 x F int32) and
// VertexFaces (K x V int32), all in column form.
#ifndef TULM_GATEWAY_FOLD_ARGUMENTS_H
#define TULM_GATEWAY_FOLD_ARGUMENTS_H

#include <mex.h>

#include <cstdint>

#include "core/folding/fold_model.h"
#include "core/folding/local_fold_penalty.h"
#include "gateway/arguments.h"

namespace tulm {

// The documented shape checks of every fold penalty, in their order. They read dimensions
// only, so they come before any class check.
inline void require_fold_shapes(const Inputs& in) {
  require(mxGetM(in[0]) == 3, "Vertices should be 3 dimensional");
  require(mxGetM(in[1]) == 3, "Faces should have three vertices");
  require(mxGetN(in[2]) == mxGetN(in[0]), "Vertices and VertexFaces should be the same number!");
}

// A view of an input that is read only where it has elements: an empty array of any class
// (users write [] for "none") is an empty view of its shape; any other array must have the
// class that `view` checks.
template <class T>
MatrixArg<T> view_unless_empty(MatrixArg<T> (*view)(const mxArray*, const char*),
                               const mxArray* array, const char* name) {
  const size_t rows = mxGetM(array);
  const size_t cols = mxGetN(array);
  if (mxIsEmpty(array) && rows <= INT32_MAX && cols <= INT32_MAX) {
    return {nullptr, static_cast<int32_t>(rows), static_cast<int32_t>(cols)};
  }
  return view(array, name);
}

// Class-checked views of the three mesh inputs. The value-only penalties use VertexFaces for
// its column count alone (readsVertexFaces false): its class and contents are then free.
inline FoldMesh fold_mesh(const Inputs& in, bool readsVertexFaces = true) {
  const auto vertices = view_unless_empty(single_matrix, in[0], "vertices");
  const auto faces = view_unless_empty(int32_matrix, in[1], "faces");
  const auto vertexFaces = readsVertexFaces ? view_unless_empty(int32_matrix, in[2], "VertexFaces")
                                            : MatrixArg<int32_t>{nullptr, 0, 0};
  return {vertices.data, vertices.cols, faces.data, faces.cols, vertexFaces.data, vertexFaces.rows};
}

// The per-face offset lambda: any numeric class, read as a double, rounded once to single.
inline float fold_offset(const mxArray* array) {
  return static_cast<float>(numeric_scalar(array, "offset"));
}

// The visit list: int32, its first column read as count = row count entries. An empty list
// of any class and shape (a 1 x 0 list has one row but no entry) has count 0, which means
// "visit every vertex".
struct VisitList {
  const int32_t* data;
  int32_t count;
};

inline VisitList visit_list(const mxArray* array) {
  const auto visit = view_unless_empty(int32_matrix, array, "visit");
  return {visit.data, visit.data == nullptr ? 0 : visit.rows};
}

// Creates the involved-vertex list L (nL x 1 int32) in `slot` once nL is known; nothing when
// the caller did not ask for that slot.
inline CreateInvolvedList involved_list(Outputs& outputs, int slot) {
  if (!outputs.has(slot)) return {};
  return [&outputs, slot](int32_t count) { return outputs.int32_array(slot, {count}); };
}

}  // namespace tulm

#endif  // TULM_GATEWAY_FOLD_ARGUMENTS_H
