// [P, L] = TULM_computeLocalFoldPenalty(vertices, faces, VertexFaces, visit, offset)
#include <mex.h>

#include "core/folding/local_fold_penalty.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/fold_arguments.h"

namespace {
const char* const kMissing = "Five inputs required: vertices, faces, VertexFaces, visit, offset";
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway("Memory allocation error!", [&] {
    const tulm::Inputs in(nrhs, prhs, kMissing);
    tulm::require_fold_shapes(in);
    const tulm::FoldMesh mesh = tulm::fold_mesh(in);
    const tulm::VisitList visit = tulm::visit_list(in[3]);
    const float offset = tulm::fold_offset(in[4]);

    tulm::Outputs outputs(nlhs, plhs);
    float* P = outputs.single_array(0, {1});
    tulm::TULM_computeLocalFoldPenalty(mesh, visit.data, visit.count, offset, P,
                                       tulm::involved_list(outputs, 1));
  });
}
