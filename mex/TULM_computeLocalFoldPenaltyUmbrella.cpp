// [P, U, L] = TULM_computeLocalFoldPenaltyUmbrella(vertices, faces, VertexFaces, vertexNbors,
// visit, offset)
#include <mex.h>

#include "core/folding/local_fold_penalty.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/fold_arguments.h"

namespace {
const char* const kMissing = "Wrong number of inputs!";
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway("Memory allocation error!", [&] {
    // A short call is refused with the count message before it reads a missing input.
    const tulm::Inputs in(nrhs, prhs, kMissing);
    tulm::require_fold_shapes(in);
    tulm::require(nrhs == 6, kMissing);
    const tulm::FoldMesh mesh = tulm::fold_mesh(in);
    const auto vertexNbors = tulm::view_unless_empty(tulm::int32_matrix, in[3], "vertexNbors");
    const tulm::VisitList visit = tulm::visit_list(in[4]);
    const float offset = tulm::fold_offset(in[5]);

    tulm::Outputs outputs(nlhs, plhs);
    float* P = outputs.single_array(0, {1});
    float* U = outputs.has(1) ? outputs.single_array(1, {3, mesh.numVerts}) : nullptr;
    tulm::TULM_computeLocalFoldPenaltyUmbrella(mesh, vertexNbors.data, vertexNbors.rows,
                                               vertexNbors.cols, visit.data, visit.count, offset, P,
                                               U, tulm::involved_list(outputs, 2));
  });
}
