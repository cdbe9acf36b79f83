// The inputs every fold penalty starts with: vertices (3 x V single), faces (3 x F int32) and
// VertexFaces (K x V int32), all in column form.
#ifndef TULM_GATEWAY_FOLD_ARGUMENTS_H
#define TULM_GATEWAY_FOLD_ARGUMENTS_H

#include <mex.h>

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

// Class-checked views of the three mesh inputs.
inline FoldMesh fold_mesh(const Inputs& in) {
  const auto vertices = single_matrix(in[0], "vertices");
  const auto faces = int32_matrix(in[1], "faces");
  const auto vertexFaces = int32_matrix(in[2], "VertexFaces");
  return {vertices.data, vertices.cols, faces.data, faces.cols, vertexFaces.data, vertexFaces.rows};
}

// The per-face offset lambda: any numeric class, read as a double, rounded once to single.
inline float fold_offset(const mxArray* array) {
  return static_cast<float>(numeric_scalar(array, "offset"));
}

// The number of visit-list entries to read: the row count, or 0 ("visit every vertex") when
// the list has no elements, whatever its shape. A 1 x 0 list has one row but no entry.
inline int32_t visit_count(const MatrixArg<int32_t>& visit) {
  return visit.data == nullptr ? 0 : visit.rows;
}

// Creates the involved-vertex list L (nL x 1 int32) in `slot` once nL is known; nothing when
// the caller did not ask for that slot.
inline CreateInvolvedList involved_list(Outputs& outputs, int slot) {
  if (!outputs.has(slot)) return {};
  return [&outputs, slot](int32_t count) { return outputs.int32_array(slot, {count}); };
}

}  // namespace tulm

#endif  // TULM_GATEWAY_FOLD_ARGUMENTS_H
