// P = TULM_computeAreaChangePenalty(vertices, faces, VertexFaces, originalAreas)
#include <mex.h>

#include "core/folding/area_change_penalty.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/fold_arguments.h"

namespace {
const char* const kMissing = "Four inputs required: vertices, faces, VertexFaces, originalAreas";
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway("Memory allocation error!", [&] {
    const tulm::Inputs in(nrhs, prhs, kMissing);
    tulm::require_fold_shapes(in);
    tulm::require(mxGetN(in[3]) == mxGetN(in[1]), "Input original areas vector wrong size!!!");
    const tulm::FoldMesh mesh = tulm::fold_mesh(in, /*readsVertexFaces=*/false);
    const auto originalAreas = tulm::view_unless_empty(tulm::single_matrix, in[3], "originalAreas");
    if (mesh.numFaces > 0) tulm::require_at_least(originalAreas, 1, mesh.numFaces, "originalAreas");

    tulm::Outputs outputs(nlhs, plhs);
    float* P = outputs.single_array(0, {1});
    tulm::TULM_computeAreaChangePenalty(mesh, originalAreas.data, P);
  });
}
