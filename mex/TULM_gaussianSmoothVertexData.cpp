// smoothed = TULM_gaussianSmoothVertexData(vertices, vertexNbors, data, s): one step of
// Gaussian smoothing of per-vertex data over the neighbour table.
#include "core/measures/TULM_gaussianSmoothVertexData.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
const char* const kMissing =
    "Four inputs required: vertices (single, 3 x V), vertexNbors (int32, K x V), "
    "data (single, D x V), s (numeric scalar)";
const char* const kNeighbourColumns = "Vertices and vertexNbors should have the same size[2]!";
const char* const kVertexRows = "Number of dimensions should be 3!";
const char* const kDataColumns = "data not right size!";
const char* const kOutOfMemory = "Memory allocation error!";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kMissing);
    tulm::require(in.count() >= 4, kMissing);
    tulm::require(mxGetN(in[0]) == mxGetN(in[1]), kNeighbourColumns);
    tulm::require(mxGetM(in[0]) == 3, kVertexRows);
    tulm::require(mxGetN(in[0]) == mxGetN(in[2]), kDataColumns);
    const auto vertices = tulm::single_matrix(in[0], "vertices");
    const auto vertexNbors = tulm::int32_matrix(in[1], "vertexNbors");
    const auto data = tulm::single_matrix(in[2], "data");
    const float s = static_cast<float>(tulm::numeric_scalar(in[3], "s"));
    const int32_t V = vertices.cols, K = vertexNbors.rows, D = data.rows;

    tulm::Outputs outputs(nlhs, plhs);
    float* smoothed = outputs.single_array(0, {D, V});
    tulm::TULM_gaussianSmoothVertexData(vertices.data, V, vertexNbors.data, K, data.data, D, s,
                                        smoothed);
  });
}
