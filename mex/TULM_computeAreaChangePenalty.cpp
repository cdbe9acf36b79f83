// P = TULM_computeAreaChangePenalty(vertices, faces, VertexFaces, originalAreas): the squared
// change of the signed face areas.
#include "core/folding/TULM_computeAreaChangePenalty.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
const char* const kMissing = "Four inputs required: vertices, faces, VertexFaces, originalAreas";
const char* const kVerticesText = "Vertices should be 3 dimensional";
const char* const kFacesText = "Faces should have three vertices";
const char* const kVertexFacesText = "Vertices and VertexFaces should be the same number!";
const char* const kOriginalAreasText = "Input original areas vector wrong size!!!";
const char* const kOutOfMemory = "Memory allocation error!";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kMissing);
    // The documented checks read dimensions only, so they come before any class check.
    tulm::require(mxGetM(in[0]) == 3, kVerticesText);
    tulm::require(mxGetM(in[1]) == 3, kFacesText);
    tulm::require(mxGetN(in[2]) == mxGetN(in[0]), kVertexFacesText);
    tulm::require(mxGetN(in[3]) == mxGetN(in[1]), kOriginalAreasText);
    const auto vertices = tulm::view_unless_empty(tulm::single_matrix, in[0], "vertices");
    const auto faces = tulm::view_unless_empty(tulm::int32_matrix, in[1], "faces");
    const auto originalAreas = tulm::view_unless_empty(tulm::single_matrix, in[3], "originalAreas");
    if (faces.cols > 0) tulm::require_at_least(originalAreas, 1, faces.cols, "originalAreas");
    // VertexFaces serves only for its column count: its class and contents are free.
    const tulm::FoldMesh mesh{vertices.data, vertices.cols, faces.data, faces.cols, nullptr, 0};

    tulm::Outputs outputs(nlhs, plhs);
    float* P = outputs.single_array(0, {1});
    tulm::TULM_computeAreaChangePenalty(mesh, originalAreas.data, P);
  });
}
