// [P, G, L] = TULM_computeLocalFoldPenaltyGrad(vertices, faces, VertexFaces, visit, offset): the
// penalty of the flipped faces around the visited vertices, its gradient, and the vertices
// of those faces.
#include "core/folding/TULM_computeLocalFoldPenaltyGrad.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
const char* const kMissing = "Five inputs required: vertices, faces, VertexFaces, visit, offset";
const char* const kVerticesText = "Vertices should be 3 dimensional";
const char* const kFacesText = "Faces should have three vertices";
const char* const kVertexFacesText = "Vertices and VertexFaces should be the same number!";
const char* const kOutOfMemory = "Memory allocation error!";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kMissing);
    // The documented checks read dimensions only, so they come before any class check.
    tulm::require(mxGetM(in[0]) == 3, kVerticesText);
    tulm::require(mxGetM(in[1]) == 3, kFacesText);
    tulm::require(mxGetN(in[2]) == mxGetN(in[0]), kVertexFacesText);
    const auto vertices = tulm::view_unless_empty(tulm::single_matrix, in[0], "vertices");
    const auto faces = tulm::view_unless_empty(tulm::int32_matrix, in[1], "faces");
    const auto vertexFaces = tulm::view_unless_empty(tulm::int32_matrix, in[2], "VertexFaces");
    // Read as its first column; an empty list of any class and shape is null: every vertex.
    const auto visit = tulm::view_unless_empty(tulm::int32_matrix, in[3], "visit");
    // Any numeric class, rounded once to single.
    const float offset = static_cast<float>(tulm::numeric_scalar(in[4], "offset"));
    const tulm::FoldMesh mesh{vertices.data, vertices.cols,    faces.data,
                              faces.cols,    vertexFaces.data, vertexFaces.rows};

    tulm::Outputs outputs(nlhs, plhs);
    float* P = outputs.single_array(0, {1});
    float* G = outputs.has(1) ? outputs.single_array(1, {3, mesh.numVerts}) : nullptr;
    // L (nL x 1) is created once the visit pass knows nL.
    tulm::CreateInvolvedList createList;
    if (outputs.has(2)) {
      createList = [&outputs](int32_t count) { return outputs.int32_array(2, {count}); };
    }
    tulm::TULM_computeLocalFoldPenaltyGrad(mesh, visit.data, visit.rows, offset, P, G, createList);
  });
}
