// smoothed = TULM_gaussianSmoothVertexData(vertices, vertexNbors, data, s): one step of
// Gaussian smoothing of per-vertex data over the neighbour table.
#include "core/measures/TULM_gaussianSmoothVertexData.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
const char* const kUsage =
    "Four inputs required: vertices (single, 3 x V), vertexNbors (int32, K x V), "
    "data (single, D x V), s (numeric scalar)";
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway("Memory allocation error!", [&] {
    tulm::require(nrhs >= 4, kUsage);
    tulm::require(mxGetN(prhs[0]) == mxGetN(prhs[1]),
                  "Vertices and vertexNbors should have the same size[2]!");
    tulm::require(mxGetM(prhs[0]) == 3, "Number of dimensions should be 3!");
    tulm::require(mxGetN(prhs[0]) == mxGetN(prhs[2]), "data not right size!");
    const auto vertices = tulm::single_matrix(prhs[0], "vertices");
    const auto vertexNbors = tulm::int32_matrix(prhs[1], "vertexNbors");
    const auto data = tulm::single_matrix(prhs[2], "data");
    const float s = static_cast<float>(tulm::numeric_scalar(prhs[3], "s"));
    const int32_t V = vertices.cols, K = vertexNbors.rows, D = data.rows;

    tulm::Outputs outputs(nlhs, plhs);
    float* smoothed = outputs.single_array(0, {D, V});
    tulm::TULM_gaussianSmoothVertexData(vertices.data, V, vertexNbors.data, K, data.data, D, s,
                                        smoothed);
  });
}
