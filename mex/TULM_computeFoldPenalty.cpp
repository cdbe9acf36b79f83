// P = TULM_computeFoldPenalty(vertices, faces, VertexFaces, offset)
#include <mex.h>

#include "core/folding/fold_penalty.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/fold_arguments.h"

namespace {
const char* const kMissing = "Four inputs required: vertices, faces, VertexFaces, offset";
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway("Memory allocation error!", [&] {
    const tulm::Inputs in(nrhs, prhs, kMissing);
    tulm::require_fold_shapes(in);
    const tulm::FoldMesh mesh = tulm::fold_mesh(in, /*readsVertexFaces=*/false);
    const float offset = tulm::fold_offset(in[3]);

    tulm::Outputs outputs(nlhs, plhs);
    float* P = outputs.single_array(0, {1});
    tulm::TULM_computeFoldPenalty(mesh, offset, P);
  });
}
